#include "sim/payload_calibration.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace korvo::sim {

std::optional<bool> PayloadCalibration::ToolMounted(const std::string& plan) {
  if (plan == kWithToolPlan) return true;
  if (plan == kNoToolPlan) return false;
  return std::nullopt;
}

void PayloadCalibration::SetDuration(double seconds) {
  // A day bounds the conversion to nanoseconds; no test waits that long.
  if (!std::isfinite(seconds) || seconds < 0.0 || seconds > 86400.0) {
    throw std::invalid_argument("A calibration lasts between 0 and 86400 seconds");
  }
  duration_ = std::chrono::nanoseconds(std::llround(seconds * 1e9));
}

void PayloadCalibration::SetPayload(double mass, const std::array<double, 3>& CoM,
                                    const std::array<double, 6>& inertia) {
  const auto finite = [](const auto& v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
  };
  if (!std::isfinite(mass) || mass < 0.0 || !finite(CoM) || !finite(inertia)) {
    throw std::invalid_argument("A payload needs finite values and a mass that is not negative");
  }
  payload_ = ToolParams{mass, CoM, inertia, {}};
}

void PayloadCalibration::Complete(bool tool_mounted) {
  result_ = tool_mounted ? payload_ : ToolParams{};
}

bool PayloadCalibration::Handle(const zenoh_msgs::vyr_msg::RPCRequest&,
                                zenoh_msgs::vyr_msg::RPCReply& reply) const {
  if (!result_) return false;
  reply.tool.name.clear();
  reply.tool.mass = static_cast<float>(result_->mass);
  for (std::size_t i = 0; i < 3; ++i) reply.tool.CoM[i] = static_cast<float>(result_->CoM[i]);
  for (std::size_t i = 0; i < 6; ++i) {
    reply.tool.inertia[i] = static_cast<float>(result_->inertia[i]);
  }
  reply.tool.tcp_location = {};
  return true;
}

}  // namespace korvo::sim
