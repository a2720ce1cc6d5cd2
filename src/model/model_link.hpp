// What the model's operations outside its Pinocchio translation unit reach of its state: the link
// to the robot. Keeps the slow-to-compile unit to the rigid-body queries.
#pragma once

#include "korvo/vyr/model.hpp"
#include "robot/robot_access.hpp"

namespace korvo::vyr_impl {

const RobotLink& LinkOf(const vyr::Model::Impl& impl);

}  // namespace korvo::vyr_impl
