// The URDF the connected robot serves: its own calibrated description, named by its serial number.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "robot/robot_access.hpp"

namespace korvo::vyr_impl {

// Downloads the robot's URDF (operation 5, "<serial number>.urdf"). Nothing when the robot
// refuses or does not answer. Throws as RobotLink::Robot() once the Robot is destroyed.
std::optional<std::vector<std::uint8_t>> DownloadServerUrdf(const RobotLink& link);

}  // namespace korvo::vyr_impl
