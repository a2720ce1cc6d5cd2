// The sizes korvo-sim accepts from the network before it handles anything: far beyond what any
// client of a real robot sends, far below what would exhaust memory or time. And what a received
// message costs to keep, for the byte-bounded read-back records.
#pragma once

#include <cstddef>

#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

struct InputLimits {
  static constexpr std::size_t kMaxGroups = 32;                    // joint groups in one message
  static constexpr std::size_t kMaxValues = 1 << 16;               // entries of one container
  static constexpr std::size_t kMaxTextBytes = 1 << 16;            // one text
  static constexpr std::size_t kMaxTextsBytes = 1 << 20;           // all texts of one request
  static constexpr std::size_t kMaxRowValues = 1 << 10;            // one row of a 2-D container
  static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;  // a byte container (a file)
  static constexpr std::size_t kMaxJointValues = 64;               // one joint command's vector
  static constexpr std::size_t kMaxWaypoints = 4096;               // one group's waypoint list
};

bool WithinLimits(const zenoh_msgs::vyr_msg::RPCRequest& request);
bool WithinLimits(const zenoh_msgs::qel_msg::RPCRequest& request);
bool WithinLimits(const zenoh_msgs::vyr_msg::MotionCommands& commands);

// About what a message held in memory costs, in bytes (its containers' contents and their
// headers).
std::size_t HeldBytes(const zenoh_msgs::vyr_msg::RPCRequest& request);
std::size_t HeldBytes(const zenoh_msgs::qel_msg::RPCRequest& request);
std::size_t HeldBytes(const zenoh_msgs::vyr_msg::MotionCommands& commands);

}  // namespace korvo::sim
