#include "interfaces/gripper_ranges.hpp"

#include <cmath>
#include <utility>

namespace korvo::vyr_impl {

std::optional<vyr::GripperParams> ParseGripperParams(
    const std::string& name, const std::map<std::string, vyr::DeviceParamValue>& params) {
  vyr::GripperParams out;
  out.name = name;
  const std::pair<const char*, double vyr::GripperParams::*> fields[] = {
      {"maxWidth", &vyr::GripperParams::max_width}, {"minWidth", &vyr::GripperParams::min_width},
      {"maxForce", &vyr::GripperParams::max_force}, {"minForce", &vyr::GripperParams::min_force},
      {"maxVel", &vyr::GripperParams::max_vel},     {"minVel", &vyr::GripperParams::min_vel},
  };
  for (const auto& [key, field] : fields) {
    const auto it = params.find(key);
    if (it == params.end()) return std::nullopt;
    const auto* value = std::get_if<double>(&it->second);
    if (value == nullptr || !std::isfinite(*value)) return std::nullopt;
    out.*field = *value;
  }
  return out;
}

bool WithinRange(double v, double lo, double hi) { return v >= lo && v <= hi; }

double ClampIntoMargin(double v, double lo, double hi) {
  if (hi - lo < 2 * kGripperMargin) return lo + (hi - lo) / 2;
  if (v > hi - kGripperMargin) return hi - kGripperMargin;
  if (v < lo + kGripperMargin) return lo + kGripperMargin;
  return v;
}

}  // namespace korvo::vyr_impl
