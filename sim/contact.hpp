// Simple environment contacts for the simulator: a plane or an axis-aligned box of given
// stiffness and damping that a point of the robot (its TCP) touches, and the wrench they exert.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <optional>

namespace korvo::sim {

// A half-space: everything below the plane through `point` with outward `normal` (unit) is solid.
struct ContactPlane {
  Eigen::Vector3d point = Eigen::Vector3d::Zero();
  Eigen::Vector3d normal = Eigen::Vector3d::UnitZ();
  double stiffness = 1e4;  // N/m
  double damping = 100.0;  // N s/m
};

// A solid box with faces along the world axes, centred at `center` with half sizes
// `half_extents` (m, each > 0).
struct ContactBox {
  Eigen::Vector3d center = Eigen::Vector3d::Zero();
  Eigen::Vector3d half_extents = Eigen::Vector3d::Constant(0.1);
  double stiffness = 1e4;  // N/m
  double damping = 100.0;  // N s/m
};

// The force [N, world axes] the plane exerts on a point at `position` moving at `velocity`:
// a spring-damper along the normal while the point is inside, never pulling. None outside.
std::optional<Eigen::Vector3d> ContactForce(const ContactPlane& plane,
                                            const Eigen::Vector3d& position,
                                            const Eigen::Vector3d& velocity);

// The force the box exerts on a point inside it: the same spring-damper along the normal of the
// face the point is least deep behind. None outside.
std::optional<Eigen::Vector3d> ContactForce(const ContactBox& box, const Eigen::Vector3d& position,
                                            const Eigen::Vector3d& velocity);

// That force as a wrench (force then torque, world axes) at `origin`, applied at `position`.
Eigen::Matrix<double, 6, 1> WrenchAt(const Eigen::Vector3d& origin, const Eigen::Vector3d& position,
                                     const Eigen::Vector3d& force);

}  // namespace korvo::sim
