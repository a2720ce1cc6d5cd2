// Cuts the robot's full-DoF stream data into per-joint-group records: each group's values start
// at its start ID and are DoF long. Every failure is logged at error level and gives an empty map.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "korvo/vyr/data.hpp"
#include "msgs/qel_msg.hpp"

namespace korvo::vyr_impl {

using GroupNames = std::map<vyr::JointGroup, std::string>;
using StartIds = std::map<vyr::JointGroup, std::int32_t>;
using GroupDoF = std::map<vyr::JointGroup, int>;
using ContactVectors = std::map<vyr::JointGroup, std::vector<std::array<double, 3>>>;

std::map<vyr::JointGroup, vyr::RobotStates> SegmentStates(
    const zenoh_msgs::qel_msg::AllBasicStreamData& data, const GroupNames& all_groups,
    const StartIds& start_ids, const GroupDoF& dof);

// The extra stream has no timestamp: the basic stream's is given.
std::map<vyr::JointGroup, vyr::RobotActions> SegmentActions(
    const zenoh_msgs::qel_msg::AllExtraStreamData& data,
    std::pair<std::int32_t, std::int32_t> stamp, const GroupNames& all_groups,
    const StartIds& start_ids, const GroupDoF& dof);

// `positions` false: the multi-contact forces; true: the positions.
ContactVectors SegmentContacts(const zenoh_msgs::qel_msg::AllBasicStreamData& data, bool positions,
                               const GroupNames& all_groups, const StartIds& start_ids,
                               const GroupDoF& dof);

// (R·force, R·moment) of a local wrench, R the rotation of the pose's quaternion (w, x, y, z),
// normalised when its norm is positive.
std::array<double, 6> RotateWrench(const std::array<double, 7>& pose,
                                   const std::array<double, 6>& local);

}  // namespace korvo::vyr_impl
