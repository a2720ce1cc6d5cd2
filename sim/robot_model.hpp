// The simulated robots: the kinematic tree, joint groups, limits and URDF of each product model.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "sim/kinematics.hpp"

namespace korvo::sim {

// One movable joint as the robot reports it: position range, velocity, acceleration and effort
// limits (rad, rad/s, rad/s^2, Nm; m, m/s, m/s^2, N for prismatic joints) and the home position.
struct JointSpec {
  std::string name;
  double q_min, q_max, dq_max, ddq_max, tau_max, home;
  bool prismatic = false;
};

class RobotModel {
 public:
  vyr::ProductModel product() const { return product_; }
  const std::string& product_name() const { return product_name_; }  // "Olvar-L", ...
  unsigned ext_axes() const { return ext_axes_; }

  // The movable joints in full-DoF order: base, torso, arm 1, arm 2, external axes.
  const std::vector<JointSpec>& joints() const { return joints_; }
  unsigned full_dof() const { return static_cast<unsigned>(joints_.size()); }

  // Start ID and DoF of every joint group the robot has: ALL always, ARMS only with two arms,
  // ARM_1, ARM_2 with two arms, EXT_AXIS only with external axes.
  const std::map<vyr::JointGroup, std::pair<int, unsigned>>& groups() const { return groups_; }

  // ARM_1, and ARM_2 with two arms.
  const std::vector<vyr::JointGroup>& arms() const { return arms_; }

  // The robot's URDF text, the same on every call for the same product and external axes.
  const std::string& urdf() const { return urdf_; }

  // Links (with their meshes and inertias) and joints the URDF is written from.
  const KinematicTree& tree() const { return tree_; }

  // Flange pose [x, y, z, qw, qx, qy, qz] of `arm` (ARM_1 or ARM_2) in the world frame for the
  // full-DoF positions `q`, with a unit quaternion and qw >= 0. std::invalid_argument for another
  // group, an arm the robot does not have, or fewer than full_dof() positions.
  std::array<double, 7> FlangePose(vyr::JointGroup arm, std::span<const double> q) const;

  // Jacobian of `arm` with respect to its own joints (6 x its DoF) at the full-DoF positions `q`:
  // the linear velocity of the point `point` (in flange axes, from the flange origin) over the
  // flange's angular velocity, in world axes. std::invalid_argument as for FlangePose.
  Eigen::Matrix<double, 6, Eigen::Dynamic> ArmJacobian(
      vyr::JointGroup arm, std::span<const double> q,
      const Eigen::Vector3d& point = Eigen::Vector3d::Zero()) const;

 private:
  friend RobotModel MakeRobotModel(vyr::ProductModel product, unsigned ext_axes);
  RobotModel() = default;
  // The flange chain of `arm`, once `q` is known to hold every position; throws as FlangePose.
  const KinematicChain& ArmChain(vyr::JointGroup arm, std::span<const double> q) const;

  vyr::ProductModel product_ = vyr::ProductModel::UNKNOWN;
  std::string product_name_;
  unsigned ext_axes_ = 0;
  KinematicTree tree_;
  std::vector<JointSpec> joints_;
  std::map<vyr::JointGroup, std::pair<int, unsigned>> groups_;
  std::vector<vyr::JointGroup> arms_;
  std::vector<KinematicChain> flange_chains_;  // one per entry of arms_
  std::string urdf_;
};

// The robot of `product` with `ext_axes` external axes. std::invalid_argument for UNKNOWN (or a
// value that names no product) and for more than kMaxExtAxes external axes.
RobotModel MakeRobotModel(vyr::ProductModel product, unsigned ext_axes);

// The product model whose name is exactly `name` ("Olvar-L" gives Olvar_L); UNKNOWN is no product.
std::optional<vyr::ProductModel> ProductModelFromName(std::string_view name);

}  // namespace korvo::sim
