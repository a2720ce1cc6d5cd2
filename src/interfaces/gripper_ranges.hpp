// The valid ranges of a gripper: read from its device parameters, checked and kept off their ends
// by a small margin when commanding it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/device.hpp"

namespace korvo::vyr_impl {

// Distance kept from the ends of a range when commanding a gripper, in the commanded unit.
inline constexpr double kGripperMargin = 1e-4;

// The ranges of gripper `name` from its parameters "maxWidth", "minWidth", "maxForce",
// "minForce", "maxVel" and "minVel". Nothing when a key is missing or holds anything but a finite
// double.
std::optional<vyr::GripperParams> ParseGripperParams(
    const std::string& name, const std::map<std::string, vyr::DeviceParamValue>& params);

// lo <= v <= hi; NaN is never inside.
bool WithinRange(double v, double lo, double hi);

// A value inside [lo, hi] moved at least kGripperMargin away from both ends; the midpoint when the
// range is too narrow for both margins.
double ClampIntoMargin(double v, double lo, double hi);

}  // namespace korvo::vyr_impl
