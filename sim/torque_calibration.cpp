#include "sim/torque_calibration.hpp"

#include <cmath>
#include <stdexcept>

#include "sim/primitive_text.hpp"

namespace korvo::sim {

std::optional<double> TorqueCalibration::WaitTime(std::string_view arguments) {
  const auto text = PrimitiveArgument(arguments, "waitTime");
  if (!text) return std::nullopt;
  const auto numbers = FiniteNumbers(*text);
  if (numbers.size() != 1 || numbers[0] <= 0.0 || numbers[0] > kMaxWaitTime) return std::nullopt;
  return numbers[0];
}

std::chrono::nanoseconds TorqueCalibration::Duration(double wait_time) const {
  // Both factors are bounded: at most 6e5 s, well within the nanosecond range.
  return std::chrono::nanoseconds(std::llround(wait_time * time_scale_ * 1e9));
}

void TorqueCalibration::SetTimeScale(double scale) {
  if (!std::isfinite(scale) || scale < 0.0 || scale > kMaxTimeScale) {
    throw std::invalid_argument("A torque calibration time scale lies between 0 and 1000");
  }
  time_scale_ = scale;
}

bool TorqueCalibration::Save(const zenoh_msgs::vyr_msg::RPCRequest& r, bool ready) {
  const bool empty = r.joint_groups.empty() && r.bool_container.empty() &&
                     r.int_container.empty() && r.float_container.empty() &&
                     r.string_container.empty() && r.byte_container.empty() &&
                     r.float2d_container.empty();
  if (!empty || !ready || !completed_) return false;
  ++saved_;
  return true;
}

}  // namespace korvo::sim
