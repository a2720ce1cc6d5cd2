#include "robot/robot_access.hpp"

#include <stdexcept>

#include "robot/robot_impl.hpp"

namespace korvo::vyr_impl {

RobotLink RobotAccess::Link(const vyr::Robot& robot, const std::string& class_name) {
  const std::string prefix = "[korvo::vyr::" + class_name + "] ";
  if (!robot.pimpl_) throw std::runtime_error(prefix + "pimpl of Robot instance is empty");
  RobotLink link{robot.pimpl_->client, &robot, robot.pimpl_.get()};
  if (!link.client) throw std::runtime_error(prefix + "Failed to access Robot instance");
  return link;
}

}  // namespace korvo::vyr_impl
