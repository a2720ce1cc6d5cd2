#include "robot/robot_access.hpp"

#include <stdexcept>

#include "robot/robot_impl.hpp"

namespace korvo::vyr_impl {

RobotLink RobotAccess::Link(const vyr::Robot& robot, const std::string& class_name) {
  const std::string prefix = "[korvo::vyr::" + class_name + "] ";
  if (!robot.pimpl_) throw std::runtime_error(prefix + "pimpl of Robot instance is empty");
  RobotLink link{robot.pimpl_->client, robot.pimpl_->alive(), class_name};
  if (!link.client) throw std::runtime_error(prefix + "Failed to access Robot instance");
  return link;
}

vyr::Robot::Impl& RobotLink::Robot() const {
  // Interfaces are used from one thread at a time, like the Robot itself: the Robot is not
  // destroyed while this reference is in use.
  const auto impl = robot.lock();
  if (!impl) {
    throw std::runtime_error("[korvo::vyr::" + class_name + "] Failed to access Robot instance");
  }
  return *impl;
}

}  // namespace korvo::vyr_impl
