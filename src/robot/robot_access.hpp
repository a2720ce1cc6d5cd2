// How an auxiliary interface (Gripper, Device, Tool, WorkCoord, FileIO, Safety, Maintenance,
// Model) attaches to the Robot it is built from.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "client/vyr_client.hpp"
#include "korvo/vyr/robot.hpp"

namespace korvo::vyr_impl {

// What every auxiliary interface's Impl holds: a share of the robot's client, which keeps the
// services alive as long as the interface exists, and the robot itself for its own operations.
// The robot is not owned: a user may destroy the Robot handle first, so it is reached through
// Robot(), which checks that it still exists.
struct RobotLink {
  std::shared_ptr<VYRClient> client;
  std::weak_ptr<vyr::Robot::Impl> robot;
  std::string class_name;

  // The robot's implementation. Throws std::runtime_error
  // "[korvo::vyr::<class_name>] Failed to access Robot instance" once the Robot is destroyed.
  vyr::Robot::Impl& Robot() const;
};

// The checks the auxiliary interfaces share; `prefix` is "[korvo::vyr::<Class>::<Operation>] ".
// Throws std::logic_error prefix + "Robot is not in IDLE mode" unless the robot is in IDLE.
void RequireIdle(const RobotLink& link, const std::string& prefix);
// Throws std::invalid_argument prefix + "The specified joint group [<name>] is not an existing
// single-arm joint group in the connected robot" unless `group` is one of `single_arm_groups`.
void RequireSingleArm(const std::map<vyr::JointGroup, std::string>& single_arm_groups,
                      vyr::JointGroup group, const std::string& prefix);

struct RobotAccess {
  // Attaches interface `class_name` (e.g. "Gripper") to `robot`. Throws std::runtime_error
  // "[korvo::vyr::<class_name>] pimpl of Robot instance is empty" when the robot has no
  // implementation and "[korvo::vyr::<class_name>] Failed to access Robot instance" when its
  // client reference is empty.
  static RobotLink Link(const vyr::Robot& robot, const std::string& class_name);
};

}  // namespace korvo::vyr_impl
