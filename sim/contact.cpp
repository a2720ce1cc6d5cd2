#include "sim/contact.hpp"

#include <algorithm>

namespace korvo::sim {

std::optional<Eigen::Vector3d> ContactForce(const ContactPlane& plane,
                                            const Eigen::Vector3d& position,
                                            const Eigen::Vector3d& velocity) {
  const double depth = (plane.point - position).dot(plane.normal);
  if (depth <= 0.0) return std::nullopt;
  const double push =
      std::max(0.0, plane.stiffness * depth - plane.damping * velocity.dot(plane.normal));
  return Eigen::Vector3d(push * plane.normal);
}

std::optional<Eigen::Vector3d> ContactForce(const ContactBox& box, const Eigen::Vector3d& position,
                                            const Eigen::Vector3d& velocity) {
  const Eigen::Vector3d offset = position - box.center;
  const Eigen::Vector3d depths = box.half_extents - offset.cwiseAbs();
  if ((depths.array() <= 0.0).any()) return std::nullopt;
  Eigen::Index axis = 0;
  depths.minCoeff(&axis);
  ContactPlane face;
  face.normal = Eigen::Vector3d::Unit(axis) * (offset[axis] < 0.0 ? -1.0 : 1.0);
  face.point = box.center + face.normal * box.half_extents[axis];
  face.stiffness = box.stiffness;
  face.damping = box.damping;
  return ContactForce(face, position, velocity);
}

Eigen::Matrix<double, 6, 1> WrenchAt(const Eigen::Vector3d& origin, const Eigen::Vector3d& position,
                                     const Eigen::Vector3d& force) {
  Eigen::Matrix<double, 6, 1> wrench;
  wrench.head<3>() = force;
  wrench.tail<3>() = (position - origin).cross(force);
  return wrench;
}

}  // namespace korvo::sim
