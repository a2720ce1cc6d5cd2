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

void RequireIdle(const RobotLink& link, const std::string& prefix) {
  if (link.Robot().mode() != vyr::Mode::IDLE) {
    throw std::logic_error(prefix + "Robot is not in IDLE mode");
  }
}

void RequireSingleArm(const std::map<vyr::JointGroup, std::string>& single_arm_groups,
                      vyr::JointGroup group, const std::string& prefix) {
  if (single_arm_groups.count(group) == 0) {
    throw std::invalid_argument(
        prefix + "The specified joint group [" + vyr::Robot::Impl::GroupName(group) +
        "] is not an existing single-arm joint group in the connected robot");
  }
}

}  // namespace korvo::vyr_impl
