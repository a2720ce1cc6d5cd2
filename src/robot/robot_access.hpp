// How an auxiliary interface (Gripper, Device, Tool, WorkCoord, FileIO, Safety, Maintenance,
// Model) attaches to the Robot it is built from.
#pragma once

#include <memory>
#include <string>

#include "client/vyr_client.hpp"
#include "korvo/vyr/robot.hpp"

namespace korvo::vyr_impl {

// What every auxiliary interface's Impl holds: a share of the robot's client, which keeps the
// services alive as long as the interface exists, and the robot itself for its own operations.
struct RobotLink {
  std::shared_ptr<VYRClient> client;
  const vyr::Robot* robot = nullptr;
  vyr::Robot::Impl* robot_impl = nullptr;
};

struct RobotAccess {
  // Attaches interface `class_name` (e.g. "Gripper") to `robot`. Throws std::runtime_error
  // "[korvo::vyr::<class_name>] pimpl of Robot instance is empty" when the robot has no
  // implementation and "[korvo::vyr::<class_name>] Failed to access Robot instance" when its
  // client reference is empty.
  static RobotLink Link(const vyr::Robot& robot, const std::string& class_name);
};

}  // namespace korvo::vyr_impl
