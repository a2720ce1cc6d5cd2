// The simulated robot's work coordinates (operations 50 to 54): named poses [x, y, z, qw, qx, qy,
// qz] in the world frame, stored as the 32-bit floats they arrived as (the quaternion as sent, not
// normalized), listed in the order they were added. Pure logic without any network and without a
// lock: the owner serializes every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

class WorkCoords {
 public:
  // Requests beyond these sizes are refused: no robot is configured with more.
  static constexpr std::size_t kMaxNameBytes = 256;
  static constexpr std::size_t kMaxEntries = 256;

  // A fresh robot knows one work coordinate, "WorkTable" = [0.6, 0, 0.1, 1, 0, 0, 0].
  WorkCoords();

  static bool Handles(std::uint16_t op_code) { return op_code >= 50 && op_code <= 54; }
  // Answers one of the operations 50 to 54 into `reply` (whose op_code the caller sets); `idle`
  // tells whether the robot is in IDLE, which every change needs. Returns false when the robot
  // refuses it; a refused request changes nothing.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request, zenoh_msgs::vyr_msg::RPCReply& reply,
              bool idle);

  // Test control: stores `values` under `name` as they are (any length), adding or replacing.
  void SetValues(const std::string& name, std::vector<float> values);

  const std::vector<std::pair<std::string, std::vector<float>>>& entries() const {
    return entries_;
  }

 private:
  using Request = zenoh_msgs::vyr_msg::RPCRequest;

  std::vector<float>* Find(const std::string& name);
  // The name of a request's `string_container` = [name], when it is one a robot would take.
  static const std::string* Name(const Request& request);
  // A request's pose: exactly seven finite values.
  static bool ValidPose(const Request& request);

  std::vector<std::pair<std::string, std::vector<float>>> entries_;
};

}  // namespace korvo::sim
