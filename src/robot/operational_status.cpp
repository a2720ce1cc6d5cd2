#include "robot/operational_status.hpp"

namespace korvo::vyr_impl {

using vyr::OperationalStatus;

OperationalStatus OperationalStatusOf(std::int16_t safety_state, std::uint16_t system_state,
                                      bool estop_released) {
  switch (safety_state) {
    case 0:
      return OperationalStatus::BOOTING;
    case 9:
      return OperationalStatus::IN_RECOVERY_STATE;
    case 10:
      return OperationalStatus::IN_REDUCED_STATE;
    case 24:
      return OperationalStatus::RELEASING_BRAKE;
    case 40:
      return OperationalStatus::CRITICAL_FAULT;
    case 72:
      return estop_released ? OperationalStatus::NOT_SERVO_ON
                            : OperationalStatus::ESTOP_NOT_RELEASED;
    case 12:
    case 136:
      break;
    default:
      return OperationalStatus::UNKNOWN;
  }
  switch (system_state) {
    case 2:
    case 6:
    case 9:
    case 11:
      return OperationalStatus::IN_MANUAL_MODE;
    case 3:
    case 7:
    case 10:
    case 12:
      return OperationalStatus::IN_AUTO_MODE;
    case 4:
    case 5:
      return OperationalStatus::READY;
    case 13:
    case 14:
    case 15:
      return OperationalStatus::MINOR_FAULT;
    default:
      return OperationalStatus::UNKNOWN;
  }
}

}  // namespace korvo::vyr_impl
