// The Robot class against korvo-sim: construction, status queries and mode switching.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

#include "korvo/vyr/name_tables.hpp"
#include "korvo/vyr/robot.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using test::Eventually;

// The operation codes of the VYR requests a robot received, in order.
std::vector<int> OpCodes(const sim::RobotHost& host) {
  std::vector<int> codes;
  for (const auto& r : host.vyr_requests()) codes.push_back(r.request.op_code);
  return codes;
}

class RobotApiTest : public test::SimulatorSuite {};

struct ModelCase {
  ProductModel model;
  unsigned ext_axes;
};

class RobotConstruction : public RobotApiTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(RobotConstruction, LearnsTheRobotsLayoutLimitsAndStiffness) {
  auto& host = Host(GetParam().model, GetParam().ext_axes);
  Robot robot(serial_, false);
  const RobotInfo info = robot.info();
  EXPECT_EQ(info.serial_num, serial_);
  EXPECT_EQ(info.product_model, GetParam().model);
  EXPECT_FALSE(info.software_ver.empty());

  const auto& model = host.robot().model();
  ASSERT_EQ(info.DoF.size(), model.groups().size());
  for (const auto& [g, layout] : model.groups()) {
    EXPECT_EQ(info.DoF.at(g), static_cast<int>(layout.second));
    EXPECT_EQ(info.all_groups.at(g), kJointGroupNames.at(g));
    for (unsigned j = 0; j < layout.second; ++j) {
      const auto& joint = model.joints()[layout.first + j];
      EXPECT_FLOAT_EQ(info.q_min.at(g)[j], joint.q_min);
      EXPECT_FLOAT_EQ(info.q_max.at(g)[j], joint.q_max);
      EXPECT_FLOAT_EQ(info.tau_max.at(g)[j], joint.tau_max);
    }
  }
  const bool two_arms = GetParam().model != ProductModel::Olvar_L;
  EXPECT_EQ(info.single_arm_groups.size(), two_arms ? 2u : 1u);
  EXPECT_EQ(info.K_x_nom.size(), two_arms ? 2u : 1u);
  EXPECT_EQ(info.K_x_nom.at(JointGroup::ARM_1)[0], 15000.0);
  EXPECT_EQ(info.K_x_nom.at(JointGroup::ARM_1)[5], 2000.0);
  EXPECT_EQ(info.K_q_nom.at(JointGroup::ARM_1),
            (std::vector<double>{8500, 8500, 8500, 8500, 2000, 2000, 2000}));
  if (GetParam().ext_axes > 0) {
    const auto& ext = info.K_q_nom.at(JointGroup::EXT_AXIS);
    ASSERT_EQ(ext.size(), GetParam().ext_axes);
    for (const double k : ext) EXPECT_EQ(k, std::numeric_limits<double>::infinity());
  } else {
    EXPECT_EQ(info.K_q_nom.count(JointGroup::EXT_AXIS), 0u);
  }
  EXPECT_TRUE(robot.connected());
  EXPECT_FALSE(robot.lite());
  EXPECT_EQ(robot.mode(), Mode::IDLE);
}

INSTANTIATE_TEST_SUITE_P(Models, RobotConstruction,
                         ::testing::Values(ModelCase{ProductModel::Olvar_L, 0},
                                           ModelCase{ProductModel::Olvar_L, 2},
                                           ModelCase{ProductModel::Olvar_LL, 0},
                                           ModelCase{ProductModel::TAVU_Core, 1},
                                           ModelCase{ProductModel::TAVU_Plus, 0},
                                           ModelCase{ProductModel::TAVU_Ultra, 6}));

TEST_F(RobotApiTest, RefusesAnIncompatibleServerVersion) {
  auto& host = Host();
  host.robot().SetServerVersions("v2.1", "v2.10");
  try {
    Robot robot(serial_, false);
    FAIL() << "constructed";
  } catch (const std::logic_error& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "[korvo::vyr::Robot] Version of this client is incompatible with robot [" + serial_ + "]");
  }
}

TEST_F(RobotApiTest, RefusesAZeroJointLimit) {
  auto& host = Host();
  std::vector<double> q_min, q_max, dq_max, tau_max;
  for (const auto& j : host.robot().model().joints()) {
    q_min.push_back(j.q_min);
    q_max.push_back(j.q_max);
    dq_max.push_back(j.dq_max);
    tau_max.push_back(j.tau_max);
  }
  tau_max[3] = 0.0;
  host.robot().SetJointLimits(q_min, q_max, dq_max, tau_max);
  try {
    Robot robot(serial_, false);
    FAIL() << "constructed";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(),
                 "[korvo::vyr::Robot] One or more robot joint limits received from server are "
                 "invalid");
  }
}

TEST_F(RobotApiTest, LiteInstanceAsksTheRobotForItsMode) {
  auto& host = Host();
  Robot normal(serial_, false);
  Robot lite(serial_, false, true);
  EXPECT_TRUE(lite.lite());
  EXPECT_FALSE(lite.connected());
  host.ClearRecords();
  EXPECT_EQ(lite.mode(), Mode::IDLE);
  EXPECT_EQ(OpCodes(host), std::vector<int>{7});
  EXPECT_TRUE(lite.states().empty());
  try {
    lite.ServoOn();
    FAIL() << "servo on without a connection";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[korvo::vyr::Robot::ServoOn] Robot is not connected");
  }
}

struct StatusCase {
  std::int16_t safety;
  std::uint16_t system;
  OperationalStatus status;
  bool operational, fault, reduced, recovery;
};

class RobotStatus : public RobotApiTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(RobotStatus, FollowsTheSimulatorsStates) {
  auto& host = Host();
  Robot robot(serial_, false);
  host.robot().SetSafetyState(GetParam().safety);
  host.robot().SetSystemState(GetParam().system);
  ASSERT_TRUE(Eventually([&] { return robot.operational_status() == GetParam().status; }))
      << kOpStatusNames.at(robot.operational_status());
  EXPECT_EQ(robot.operational(), GetParam().operational);
  EXPECT_EQ(robot.fault(), GetParam().fault);
  EXPECT_EQ(robot.reduced(), GetParam().reduced);
  EXPECT_EQ(robot.recovery(), GetParam().recovery);
}

INSTANTIATE_TEST_SUITE_P(
    States, RobotStatus,
    ::testing::Values(
        StatusCase{12, 4, OperationalStatus::READY, true, false, false, false},
        StatusCase{10, 4, OperationalStatus::IN_REDUCED_STATE, true, false, true, false},
        StatusCase{9, 4, OperationalStatus::IN_RECOVERY_STATE, false, false, false, true},
        StatusCase{136, 14, OperationalStatus::MINOR_FAULT, false, true, false, false},
        StatusCase{72, 4, OperationalStatus::NOT_SERVO_ON, false, false, false, false},
        StatusCase{12, 17, OperationalStatus::UNKNOWN, false, false, false, false},
        StatusCase{12, 2, OperationalStatus::IN_MANUAL_MODE, false, false, false, false}));

TEST_F(RobotApiTest, DigitalInputsAndEnablingDeviceFollowTheRobot) {
  auto& host = Host();
  Robot robot(serial_, false);
  EXPECT_FALSE(robot.enabling_device_on());
  std::array<bool, kIOPorts> inputs{};
  inputs[0] = inputs[17] = true;
  host.robot().SetDigitalInputs(inputs);
  host.robot().SetEnablingDevice(true);
  EXPECT_TRUE(Eventually([&] { return robot.digital_inputs() == inputs; }));
  EXPECT_TRUE(Eventually([&] { return robot.enabling_device_on(); }));
}

TEST_F(RobotApiTest, StatesAndStoppedFollowTheJoints) {
  auto& host = Host(ProductModel::Olvar_LL);
  Robot robot(serial_, false);
  std::map<JointGroup, RobotStates> states;
  ASSERT_TRUE(Eventually([&] {
    states = robot.states();
    return !states.empty();
  }));
  EXPECT_EQ(states.size(), 4u);
  EXPECT_EQ(states.at(JointGroup::ARM_2).q.size(), 7u);
  EXPECT_NEAR(states.at(JointGroup::ARM_2).q[0], host.robot().q()[7], 1e-6);
  EXPECT_TRUE(robot.all_stopped());
  EXPECT_EQ(robot.stopped().size(), 4u);
  EXPECT_EQ(robot.actions().size(), 4u);
  EXPECT_TRUE(robot.estop_released());
  host.robot().PressEstop(true);
  EXPECT_TRUE(Eventually([&] { return !robot.estop_released(); }));
  EXPECT_EQ(robot.operational_status(), OperationalStatus::ESTOP_NOT_RELEASED);
  EXPECT_TRUE(Eventually([&] { return !robot.event_log().empty(); }));
  EXPECT_EQ(robot.event_log().back().level, RobotEvent::CRITICAL);
}

TEST_F(RobotApiTest, ServoOnNeedsTheEstopReleasedAndMakesTheRobotReady) {
  auto& host = Host();
  Robot robot(serial_, false);
  host.robot().PressEstop(true);
  ASSERT_TRUE(Eventually([&] { return !robot.estop_released(); }));
  try {
    robot.ServoOn();
    FAIL() << "servo on with the E-stop pressed";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[korvo::vyr::Robot::ServoOn] E-stop is not released");
  }
  host.robot().PressEstop(false);
  ASSERT_TRUE(Eventually([&] { return robot.estop_released(); }));
  robot.ServoOn();
  EXPECT_TRUE(Eventually([&] { return robot.operational(); }));
}

TEST_F(RobotApiTest, SwitchModeGoesThroughIdleAndStopSendsNothingInIdle) {
  auto& host = Host();
  Robot robot(serial_, false);
  EXPECT_THROW(robot.SwitchMode(Mode::UNKNOWN), std::invalid_argument);
  EXPECT_THROW(robot.SwitchMode(static_cast<Mode>(12)), std::invalid_argument);
  try {
    robot.SwitchMode(Mode::NRT_JOINT_POSITION);
    FAIL() << "switched while not operational";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(),
                 "[korvo::vyr::Robot::SwitchMode] Robot is not operational: Not servo on");
  }
  host.robot().MakeReady();
  ASSERT_TRUE(Eventually([&] { return robot.operational(); }));
  host.ClearRecords();

  robot.Stop();
  EXPECT_TRUE(OpCodes(host).empty());

  robot.SwitchMode(Mode::RT_JOINT_TORQUE);
  ASSERT_EQ(host.vyr_requests().size(), 1u);
  EXPECT_EQ(host.vyr_requests()[0].request.int_container, std::vector<std::int32_t>{2});
  ASSERT_TRUE(Eventually([&] { return robot.mode() == Mode::RT_JOINT_TORQUE; }));

  host.ClearRecords();
  robot.SwitchMode(Mode::NRT_JOINT_POSITION);
  const auto requests = host.vyr_requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].request.int_container, std::vector<std::int32_t>{1});
  EXPECT_EQ(requests[1].request.int_container, std::vector<std::int32_t>{6});
  EXPECT_TRUE(Eventually([&] { return robot.mode() == Mode::NRT_JOINT_POSITION; }));
}

TEST_F(RobotApiTest, ClearFaultReportsWhetherTheFaultCleared) {
  auto& host = Host();
  Robot robot(serial_, false);
  EXPECT_FALSE(robot.ClearFault(0));
  EXPECT_EQ(OpCodes(host).back(), 2);

  host.robot().RaiseFault(false);
  ASSERT_TRUE(Eventually([&] { return robot.fault(); }));
  EXPECT_TRUE(robot.ClearFault(3));
  EXPECT_FALSE(robot.fault());

  host.robot().RaiseFault(false, /*clearable=*/false);
  ASSERT_TRUE(Eventually([&] { return robot.fault(); }));
  EXPECT_FALSE(robot.ClearFault(1));
}

TEST_F(RobotApiTest, BrakeSendsItsRequestAndReportsRefusals) {
  auto& host = Host();
  Robot robot(serial_, false);
  robot.Brake(true);
  EXPECT_EQ(host.vyr_requests().back().request.op_code, 10);
  EXPECT_EQ(host.vyr_requests().back().request.int_container, std::vector<std::int32_t>{1});
  host.SetReplyRule(sim::Server::kVyr, 10, {sim::ReplyAction::kRefuse, {}, 1});
  try {
    robot.Brake(false);
    FAIL() << "refused request reported as done";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "[korvo::vyr::Robot::Brake] Failed to release the robot brakes");
  }
}

}  // namespace
}  // namespace korvo::vyr
