#include "robot/operational_status.hpp"

#include <gtest/gtest.h>

namespace korvo::vyr_impl {
namespace {

using S = vyr::OperationalStatus;

struct StatusCase {
  std::int16_t safety;
  std::uint16_t system;
  bool estop_released;
  S expected;
};

class OperationalStatusTable : public ::testing::TestWithParam<StatusCase> {};

TEST_P(OperationalStatusTable, SafetyStateFirstThenSystemState) {
  EXPECT_EQ(OperationalStatusOf(GetParam().safety, GetParam().system, GetParam().estop_released),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(SafetyStates, OperationalStatusTable,
                         ::testing::Values(StatusCase{0, 4, true, S::BOOTING},
                                           StatusCase{9, 4, true, S::IN_RECOVERY_STATE},
                                           StatusCase{10, 2, true, S::IN_REDUCED_STATE},
                                           StatusCase{24, 4, true, S::RELEASING_BRAKE},
                                           StatusCase{40, 4, true, S::CRITICAL_FAULT},
                                           StatusCase{72, 4, true, S::NOT_SERVO_ON},
                                           StatusCase{72, 4, false, S::ESTOP_NOT_RELEASED},
                                           StatusCase{8, 4, true, S::UNKNOWN},
                                           StatusCase{14, 4, true, S::UNKNOWN},
                                           StatusCase{-1, 4, true, S::UNKNOWN}));

INSTANTIATE_TEST_SUITE_P(
    SystemStates, OperationalStatusTable,
    ::testing::Values(
        StatusCase{12, 2, true, S::IN_MANUAL_MODE}, StatusCase{12, 6, true, S::IN_MANUAL_MODE},
        StatusCase{12, 9, true, S::IN_MANUAL_MODE}, StatusCase{136, 11, true, S::IN_MANUAL_MODE},
        StatusCase{12, 3, true, S::IN_AUTO_MODE}, StatusCase{12, 7, true, S::IN_AUTO_MODE},
        StatusCase{136, 10, true, S::IN_AUTO_MODE}, StatusCase{12, 12, true, S::IN_AUTO_MODE},
        StatusCase{12, 4, true, S::READY}, StatusCase{12, 5, false, S::READY},
        StatusCase{12, 13, true, S::MINOR_FAULT}, StatusCase{136, 14, true, S::MINOR_FAULT},
        StatusCase{136, 15, true, S::MINOR_FAULT}, StatusCase{12, 0, true, S::UNKNOWN},
        StatusCase{12, 1, true, S::UNKNOWN}, StatusCase{12, 8, true, S::UNKNOWN},
        StatusCase{12, 17, true, S::UNKNOWN}, StatusCase{12, 99, true, S::UNKNOWN}));

}  // namespace
}  // namespace korvo::vyr_impl
