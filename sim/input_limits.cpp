#include "sim/input_limits.hpp"

#include <algorithm>

namespace korvo::sim {
namespace {

using L = InputLimits;

template <typename T>
std::size_t VectorBytes(const std::vector<T>& v) {
  return sizeof(v) + v.size() * sizeof(T);
}

std::size_t VectorBytes(const std::vector<bool>& v) { return sizeof(v) + v.size() / 8 + 1; }

std::size_t VectorBytes(const std::vector<std::string>& v) {
  std::size_t bytes = sizeof(v);
  for (const auto& s : v) bytes += sizeof(s) + s.size();
  return bytes;
}

std::size_t VectorBytes(const std::vector<std::vector<float>>& v) {
  std::size_t bytes = sizeof(v);
  for (const auto& row : v) bytes += VectorBytes(row);
  return bytes;
}

bool TextsWithinLimits(const std::vector<std::string>& texts) {
  if (texts.size() > L::kMaxValues) return false;
  std::size_t total = 0;
  for (const auto& t : texts) {
    if (t.size() > L::kMaxTextBytes) return false;
    total += t.size();
  }
  return total <= L::kMaxTextsBytes;
}

bool RowsWithinLimits(const std::vector<std::vector<float>>& rows) {
  if (rows.size() > L::kMaxValues) return false;
  std::size_t total = 0;
  for (const auto& row : rows) {
    if (row.size() > L::kMaxRowValues) return false;
    total += row.size();
  }
  return total <= L::kMaxValues;
}

bool JointCommandWithinLimits(const zenoh_msgs::vyr_msg::JointCommand& c) {
  return c.tau_d.size() <= L::kMaxJointValues && c.q_d.size() <= L::kMaxJointValues &&
         c.dq_d.size() <= L::kMaxJointValues && c.ddq_d.size() <= L::kMaxJointValues &&
         c.dq_max.size() <= L::kMaxJointValues && c.ddq_max.size() <= L::kMaxJointValues;
}

}  // namespace

bool WithinLimits(const zenoh_msgs::vyr_msg::RPCRequest& r) {
  return r.joint_groups.size() <= L::kMaxGroups && r.bool_container.size() <= L::kMaxValues &&
         r.int_container.size() <= L::kMaxValues && r.float_container.size() <= L::kMaxValues &&
         TextsWithinLimits(r.string_container) && r.byte_container.size() <= L::kMaxBytes &&
         RowsWithinLimits(r.float2d_container) && r.tool.name.size() <= L::kMaxTextBytes;
}

bool WithinLimits(const zenoh_msgs::qel_msg::RPCRequest& r) {
  return r.joint_groups.size() <= L::kMaxGroups;
}

bool WithinLimits(const zenoh_msgs::vyr_msg::MotionCommands& c) {
  if (c.joint_groups.size() > L::kMaxGroups || c.joint_commands.size() > L::kMaxGroups ||
      c.cartesian_commands.size() > L::kMaxGroups || c.waypoint_commands.size() > L::kMaxGroups) {
    return false;
  }
  return std::all_of(c.joint_commands.begin(), c.joint_commands.end(), JointCommandWithinLimits) &&
         std::all_of(c.waypoint_commands.begin(), c.waypoint_commands.end(),
                     [](const auto& list) { return list.size() <= L::kMaxWaypoints; });
}

std::size_t HeldBytes(const zenoh_msgs::vyr_msg::RPCRequest& r) {
  return sizeof(r) + VectorBytes(r.joint_groups) + VectorBytes(r.bool_container) +
         VectorBytes(r.int_container) + VectorBytes(r.float_container) +
         VectorBytes(r.string_container) + VectorBytes(r.byte_container) +
         VectorBytes(r.float2d_container) + r.tool.name.size();
}

std::size_t HeldBytes(const zenoh_msgs::qel_msg::RPCRequest& r) {
  return sizeof(r) + VectorBytes(r.joint_groups);
}

std::size_t HeldBytes(const zenoh_msgs::vyr_msg::MotionCommands& c) {
  std::size_t bytes = sizeof(c) + VectorBytes(c.joint_groups) + VectorBytes(c.cartesian_commands);
  for (const auto& j : c.joint_commands) {
    bytes += sizeof(j) + VectorBytes(j.tau_d) + VectorBytes(j.q_d) + VectorBytes(j.dq_d) +
             VectorBytes(j.ddq_d) + VectorBytes(j.dq_max) + VectorBytes(j.ddq_max);
  }
  for (const auto& list : c.waypoint_commands) bytes += VectorBytes(list);
  return bytes;
}

}  // namespace korvo::sim
