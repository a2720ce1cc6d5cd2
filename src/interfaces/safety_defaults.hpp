// The default joint safety limits of the Korvo product models, shared by the client's Safety
// interface and the simulated robot, which validates new limits against the same table.
#pragma once

#include <optional>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr_impl {

// Margins the robot adds to its configured limits before it trips: 2.5 degrees on positions,
// 10 degrees per second on velocities.
inline constexpr double kSafetyPositionMargin = 0.0436332;
inline constexpr double kSafetyVelocityMargin = 0.174533;
// No joint velocity limit may be set below 50 degrees per second.
inline constexpr double kMinSafetyVelocityLimit = 0.872665;

// The default limits of each single arm of `model` (ARM_1, and ARM_2 with the same values on the
// dual-arm models), in rad and rad/s; nothing for a model without defaults.
std::optional<vyr::SafetyLimits> DefaultSafetyLimits(vyr::ProductModel model);

}  // namespace korvo::vyr_impl
