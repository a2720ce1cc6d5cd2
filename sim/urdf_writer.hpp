// Writes a kinematic tree as URDF text.
#pragma once

#include <string>
#include <string_view>

#include "sim/kinematics.hpp"

namespace korvo::sim {

// URDF of `tree` under the robot name `robot_name`. Links and joints are written depth-first from
// the root, each joint right before its child link, so a parser that walks the document meets the
// joints in the tree's depth-first order. Numbers are written in their shortest exact form, so the
// text is the same on every call and reads back to the very values of the tree.
std::string WriteUrdf(std::string_view robot_name, const KinematicTree& tree);

}  // namespace korvo::sim
