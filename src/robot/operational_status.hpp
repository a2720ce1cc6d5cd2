// Why the robot is or is not ready to operate, from the safety and system state codes.
#pragma once

#include <cstdint>

#include "korvo/vyr/enums.hpp"

namespace korvo::vyr_impl {

// The safety state decides first; NORMAL and CAT_2_STOP defer to the system state.
vyr::OperationalStatus OperationalStatusOf(std::int16_t safety_state, std::uint16_t system_state,
                                           bool estop_released);

}  // namespace korvo::vyr_impl
