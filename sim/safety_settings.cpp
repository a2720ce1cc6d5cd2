#include "sim/safety_settings.hpp"

#include <cmath>
#include <vector>

#include "interfaces/safety_defaults.hpp"

namespace korvo::sim {
namespace {

using vyr::JointGroup;

// Limits arrive narrowed to 32-bit floats: a client sending exactly a default bound sends that
// bound narrowed, so the bounds are narrowed too before they are compared.
bool Within(float value, double low, double high) {
  return std::isfinite(value) && value >= static_cast<float>(low) &&
         value <= static_cast<float>(high);
}

// Whether the request carries nothing in the containers none of the operations 100 to 103 use.
bool NoOtherContainers(const zenoh_msgs::vyr_msg::RPCRequest& r) {
  return r.bool_container.empty() && r.string_container.empty() && r.byte_container.empty() &&
         r.float2d_container.empty();
}

}  // namespace

SafetySettings::SafetySettings(const RobotModel& model) {
  for (const JointGroup arm : model.arms()) arms_[arm] = model.groups().at(arm).second;
  if (auto defaults = vyr_impl::DefaultSafetyLimits(model.product())) {
    defaults_ = std::move(*defaults);
  }
}

std::optional<std::pair<JointGroup, unsigned>> SafetySettings::Arm(const Request& request) const {
  if (request.joint_groups.size() != 1) return std::nullopt;
  const auto g = static_cast<JointGroup>(request.joint_groups[0]);
  const auto arm = arms_.find(g);
  if (arm == arms_.end()) return std::nullopt;
  const unsigned n = arm->second;
  for (const auto* limits : {&defaults_.q_min, &defaults_.q_max, &defaults_.dq_max_normal}) {
    const auto it = limits->find(g);
    if (it == limits->end() || it->second.size() < n) return std::nullopt;
  }
  return std::pair{g, n};
}

bool SafetySettings::Handle(const Request& request, bool idle) {
  if (!idle || !NoOtherContainers(request)) return false;
  switch (request.op_code) {
    case 100:
      return SetPositionLimits(request);
    case 101:
    case 102:
      return SetVelocityLimits(request);
    case 103:
      return SetRegulator(request);
    default:
      return false;
  }
}

bool SafetySettings::SetPositionLimits(const Request& request) {
  const auto arm = Arm(request);
  if (!arm || !request.int_container.empty()) return false;
  const auto [g, n] = *arm;
  const auto& v = request.float_container;  // n minimums, then n maximums
  if (v.size() != 2 * n) return false;
  const auto& low = defaults_.q_min.at(g);
  const auto& high = defaults_.q_max.at(g);
  for (unsigned j = 0; j < n; ++j) {
    const float min = v[j], max = v[n + j];
    if (!Within(min, low[j], high[j]) || !Within(max, low[j], high[j]) || min > max) return false;
  }
  pending_.q_min[g] = std::vector<double>(v.begin(), v.begin() + n);
  pending_.q_max[g] = std::vector<double>(v.begin() + n, v.end());
  return true;
}

bool SafetySettings::SetVelocityLimits(const Request& request) {
  const auto arm = Arm(request);
  if (!arm || !request.int_container.empty()) return false;
  const auto [g, n] = *arm;
  const auto& v = request.float_container;
  if (v.size() != n) return false;
  // Reduced-state limits may be raised up to the normal-state defaults.
  const auto& high = defaults_.dq_max_normal.at(g);
  for (unsigned j = 0; j < n; ++j) {
    if (!Within(v[j], vyr_impl::kMinSafetyVelocityLimit, high[j])) return false;
  }
  auto& pending = request.op_code == 101 ? pending_.dq_max_normal : pending_.dq_max_reduced;
  pending[g] = std::vector<double>(v.begin(), v.end());
  return true;
}

bool SafetySettings::SetRegulator(const Request& request) {
  const auto& ints = request.int_container;
  const auto& floats = request.float_container;
  if (!request.joint_groups.empty() || ints.size() != 1 || floats.size() != 1) return false;
  if (ints[0] <= 0 || !std::isfinite(floats[0]) || floats[0] <= 0.0f) return false;
  regulator_ = TorqueRegulator{floats[0], static_cast<std::uint32_t>(ints[0])};
  return true;
}

}  // namespace korvo::sim
