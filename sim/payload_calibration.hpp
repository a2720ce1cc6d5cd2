// The simulated robot's payload calibration: which plans calibrate, how long they take, what
// a calibration with the tool mounted identifies, and the last completed result (operation 37).
// Pure logic without any network and without a lock: the owner runs the plans and serializes
// every call.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "msgs/vyr_msg.hpp"
#include "sim/tools.hpp"

namespace korvo::sim {

class PayloadCalibration {
 public:
  static constexpr const char* kWithToolPlan = "PLAN-ToolDynCaliWithTool-VYR";
  static constexpr const char* kNoToolPlan = "PLAN-ToolDynCaliNoTool-VYR";

  // Whether `plan` calibrates with the tool mounted (true) or without (false); nothing for a plan
  // that does not calibrate.
  static std::optional<bool> ToolMounted(const std::string& plan);

  std::chrono::nanoseconds duration() const { return duration_; }
  // How long a calibration plan runs. std::invalid_argument for a negative or non-finite time.
  void SetDuration(double seconds);
  // What a calibration with the tool mounted identifies. std::invalid_argument for a non-finite
  // value or a negative mass.
  void SetPayload(double mass, const std::array<double, 3>& CoM,
                  const std::array<double, 6>& inertia);

  // Stores the result of a calibration that ran to its end: the payload with the tool mounted,
  // all zeros without; tcp_location stays zero.
  void Complete(bool tool_mounted);
  const std::optional<ToolParams>& result() const { return result_; }

  // Answers operation 37 into `reply`; refused before any calibration completed.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request,
              zenoh_msgs::vyr_msg::RPCReply& reply) const;

 private:
  std::chrono::nanoseconds duration_ = std::chrono::seconds(3);
  ToolParams payload_{1.2, {0.0, 0.0, 0.05}, {0.002, 0.002, 0.001, 0.0, 0.0, 0.0}, {}};
  std::optional<ToolParams> result_;
};

}  // namespace korvo::sim
