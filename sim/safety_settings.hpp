// The simulated robot's safety settings (operations 100 to 103): new joint position and velocity
// limits of a single arm, held pending until the robot reboots, and the joint output torque
// regulator, effective at once. New limits are checked against the product model's default
// limits, the table the client library checks them against too. Pure logic without any network
// and without a lock: the owner serializes every call and applies the pending limits.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/robot_model.hpp"

namespace korvo::sim {

// The joint output torque regulator: how strongly output torque is limited, and after how many
// cycles of error it trips.
struct TorqueRegulator {
  double limiting_factor = 1.3;
  std::uint32_t error_threshold = 50;

  bool operator==(const TorqueRegulator&) const = default;
};

class SafetySettings {
 public:
  // The settings of `model`'s single arms, checked against its product's default limits (a
  // product without defaults refuses every new limit).
  explicit SafetySettings(const RobotModel& model);

  static bool Handles(std::uint16_t op_code) { return op_code >= 100 && op_code <= 103; }
  // Answers one of the operations 100 to 103; `idle` tells whether the robot is in IDLE, which
  // every change needs. Returns false when the robot refuses it; a refused request changes
  // nothing. Limits arrive as 32-bit floats and are compared with the defaults narrowed alike.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request, bool idle);

  // Limits accepted since the last reboot, per single arm; a group without an entry has none
  // pending.
  const vyr::SafetyLimits& pending() const { return pending_; }
  // Hands the pending limits over to be applied and forgets them.
  vyr::SafetyLimits TakePending() { return std::exchange(pending_, {}); }

  const TorqueRegulator& regulator() const { return regulator_; }

 private:
  using Request = zenoh_msgs::vyr_msg::RPCRequest;

  // The single arm a request names (joint_groups = [arm]) and its DoF, when the robot has it and
  // the defaults cover every one of its joints.
  std::optional<std::pair<vyr::JointGroup, unsigned>> Arm(const Request& request) const;

  bool SetPositionLimits(const Request& request);
  bool SetVelocityLimits(const Request& request);
  bool SetRegulator(const Request& request);

  std::map<vyr::JointGroup, unsigned> arms_;  // single arm -> DoF
  vyr::SafetyLimits defaults_;
  vyr::SafetyLimits pending_;
  TorqueRegulator regulator_;
};

}  // namespace korvo::sim
