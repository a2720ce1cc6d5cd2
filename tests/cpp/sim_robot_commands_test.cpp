// Real-time streaming and non-real-time motion commands: their checks, and what the simulated
// robot receives.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "korvo/vyr/name_tables.hpp"
#include "korvo/vyr/robot.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
namespace vyr_msg = zenoh_msgs::vyr_msg;

std::vector<double> Values(std::size_t n, double v) { return std::vector<double>(n, v); }

class CommandsTest : public test::SimulatorSuite {
 protected:
  // A ready two-arm robot with one external axis, of its own for every test, in `mode`.
  Robot& Start(Mode mode) {
    host_ = &Host(ProductModel::Olvar_LL, 1);
    host_->robot().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    EXPECT_TRUE(Eventually([&] { return robot_->operational(); }));
    robot_->SwitchMode(mode);
    EXPECT_TRUE(Eventually([&] { return robot_->mode() == mode; }));
    host_->ClearRecords();
    return *robot_;
  }
  void TearDown() override {
    robot_.reset();
    SimulatorSuite::TearDown();
  }

  // The commands the robot received, once it has `n` of them.
  std::vector<sim::CommandRecord> Received(std::size_t n) {
    EXPECT_TRUE(Eventually([&] { return host_->commands().size() >= n; }));
    return host_->commands();
  }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
};

// ---- checks, one table per operation family ---------------------------------------------------

struct CheckCase {
  const char* name;
  Mode mode;
  std::function<void(Robot&)> call;
  std::string message;  // empty: accepted
};

class CommandChecks : public CommandsTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CommandChecks, RejectWithTheirMessageAndPublishNothing) {
  Robot& robot = Start(GetParam().mode);
  if (GetParam().message.empty()) {
    GetParam().call(robot);
    EXPECT_EQ(Received(1).size(), 1u);
    return;
  }
  try {
    GetParam().call(robot);
    FAIL() << "accepted";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), GetParam().message);
  }
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(host_->commands().empty());
}

RtJointTorqueCmd Torque(double friction = 100.0, std::size_t n = 7) {
  return RtJointTorqueCmd(Values(n, 0.5), true, true, friction);
}
RtJointPositionCmd Position(std::size_t q, std::size_t dq, std::size_t ddq) {
  return RtJointPositionCmd(Values(q, 0.1), Values(dq, 0.0), Values(ddq, 0.0));
}
NrtJointPositionCmd Target(double dq_max, double ddq_max = 1.0) {
  return NrtJointPositionCmd(Values(7, 0.1), Values(7, 0.0), Values(7, dq_max), Values(7, ddq_max));
}
NrtCartesianCmd Pose(double max_angular_acc = 5.0) {
  NrtCartesianCmd c({0.4, 0.0, 0.3, 0.0, 1.0, 0.0, 0.0});
  c.max_angular_acc = max_angular_acc;
  return c;
}

const std::string kTorque = "[korvo::vyr::Robot::StreamJointTorque]";
const std::string kPosition = "[korvo::vyr::Robot::StreamJointPosition]";
const std::string kCartesian = "[korvo::vyr::Robot::StreamCartesianMotionForce]";
const std::string kSendJoint = "[korvo::vyr::Robot::SendJointPosition]";
const std::string kSendCartesian = "[korvo::vyr::Robot::SendCartesianMotionForce]";
const std::string kWaypoints = "[korvo::vyr::Robot::SendCartesianMotionForceMultiWaypoint]";
const std::string kLimits =
    " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, max_angular_acc] must "
    "be greater than 0";

INSTANTIATE_TEST_SUITE_P(
    Stream, CommandChecks,
    ::testing::Values(
        CheckCase{"TorqueFrictionHundred", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARM_1, Torque(100.0)}});
                  },
                  ""},
        CheckCase{"TorqueFrictionAbove", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARM_1, Torque(100.5)}});
                  },
                  kTorque + " Input parameter [friction_comp_scale] is outside the valid range"},
        CheckCase{"TorqueFrictionNegative", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARM_1, Torque(-0.1)}});
                  },
                  kTorque + " Input parameter [friction_comp_scale] is outside the valid range"},
        CheckCase{"TorqueSize", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARM_1, Torque(1, 6)}});
                  },
                  kTorque + " Size of input vector [tau_d] does not match joint group DoF"},
        CheckCase{"TorqueArmsGroup", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARMS, Torque()}});
                  },
                  kTorque + " The specified joint group [ARMS] is not an existing single-arm or "
                            "external axis joint group in the connected robot"},
        CheckCase{"TorqueExternalAxis", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::EXT_AXIS, Torque(1, 1)}});
                  },
                  ""},
        CheckCase{"TorqueLaterEntryFails", Mode::RT_JOINT_TORQUE,
                  [](Robot& r) {
                    r.StreamJointTorque(
                        {{JointGroup::ARM_1, Torque()}, {JointGroup::ARM_2, Torque(1, 3)}});
                  },
                  kTorque + " Size of input vector [tau_d] does not match joint group DoF"},
        CheckCase{"TorqueWrongMode", Mode::RT_JOINT_POSITION,
                  [](Robot& r) {
                    r.StreamJointTorque({{JointGroup::ARM_1, Torque()}});
                  },
                  kTorque + " Robot is not in an applicable control mode"},
        CheckCase{"PositionShortDq", Mode::RT_JOINT_POSITION,
                  [](Robot& r) {
                    r.StreamJointPosition({{JointGroup::ARM_1, Position(7, 6, 7)}});
                  },
                  kPosition + " Size of input vector [dq_d] does not match joint group DoF"},
        CheckCase{"PositionShortQ", Mode::RT_JOINT_IMPEDANCE,
                  [](Robot& r) {
                    r.StreamJointPosition({{JointGroup::ARM_1, Position(6, 6, 6)}});
                  },
                  kPosition + " Size of input vector [q_d] does not match joint group DoF"},
        CheckCase{"PositionShortDdq", Mode::RT_JOINT_IMPEDANCE,
                  [](Robot& r) {
                    r.StreamJointPosition({{JointGroup::ARM_1, Position(7, 7, 8)}});
                  },
                  kPosition + " Size of input vector [ddq_d] does not match joint group DoF"},
        CheckCase{"CartesianNotAnArm", Mode::RT_CARTESIAN_MOTION_FORCE,
                  [](Robot& r) {
                    r.StreamCartesianMotionForce({{JointGroup::EXT_AXIS, RtCartesianCmd()}});
                  },
                  kCartesian + " The specified joint group [EXT_AXIS] is not an existing "
                               "single-arm joint group in the connected robot"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Send, CommandChecks,
    ::testing::Values(
        CheckCase{"JointTinyLimitAccepted", Mode::NRT_JOINT_POSITION,
                  [](Robot& r) {
                    r.SendJointPosition({{JointGroup::ARM_1, Target(1e-15)}});
                  },
                  ""},
        CheckCase{"JointZeroLimit", Mode::NRT_JOINT_POSITION,
                  [](Robot& r) {
                    r.SendJointPosition({{JointGroup::ARM_1, Target(0.0)}});
                  },
                  kSendJoint + " Input parameters [dq_max] and [ddq_max] must be greater than 0"},
        CheckCase{"JointNegativeAcceleration", Mode::NRT_JOINT_IMPEDANCE,
                  [](Robot& r) {
                    r.SendJointPosition({{JointGroup::ARM_2, Target(1.0, -1.0)}});
                  },
                  kSendJoint + " Input parameters [dq_max] and [ddq_max] must be greater than 0"},
        CheckCase{"JointShortDqMax", Mode::NRT_JOINT_POSITION,
                  [](Robot& r) {
                    auto t = Target(1.0);
                    t.dq_max.pop_back();
                    r.SendJointPosition({{JointGroup::ARM_1, t}});
                  },
                  kSendJoint + " Size of input vector [dq_max] does not match joint group DoF"},
        CheckCase{"JointInPlanMode", Mode::NRT_PLAN_EXECUTION,
                  [](Robot& r) {
                    r.SendJointPosition({{JointGroup::ARM_1, Target(1.0)}});
                  },
                  kSendJoint + " Robot is not in an applicable control mode"},
        CheckCase{"CartesianInSuperPrimitive", Mode::NRT_SUPER_PRIMITIVE,
                  [](Robot& r) {
                    r.SendCartesianMotionForce({{JointGroup::ARM_2, Pose()}});
                  },
                  ""},
        CheckCase{"CartesianZeroLimit", Mode::NRT_CARTESIAN_MOTION_FORCE,
                  [](Robot& r) {
                    r.SendCartesianMotionForce({{JointGroup::ARM_1, Pose(0.0)}});
                  },
                  kSendCartesian + kLimits},
        CheckCase{"WaypointsInCartesianMode", Mode::NRT_CARTESIAN_MOTION_FORCE,
                  [](Robot& r) {
                    r.SendCartesianMotionForceMultiWaypoint(
                        {{JointGroup::ARM_1, NrtCartesianMultiWaypointCmd({Pose()})}});
                  },
                  kWaypoints + " Robot is not in an applicable control mode"},
        CheckCase{"WaypointsEmpty", Mode::NRT_SUPER_PRIMITIVE,
                  [](Robot& r) {
                    r.SendCartesianMotionForceMultiWaypoint(
                        {{JointGroup::ARM_1, NrtCartesianMultiWaypointCmd()}});
                  },
                  kWaypoints + " Input parameter [waypoints] cannot be empty"},
        CheckCase{"WaypointsSecondInvalid", Mode::NRT_SUPER_PRIMITIVE,
                  [](Robot& r) {
                    r.SendCartesianMotionForceMultiWaypoint(
                        {{JointGroup::ARM_1, NrtCartesianMultiWaypointCmd({Pose(), Pose(0.0)})}});
                  },
                  kWaypoints + kLimits}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- what the robot receives ------------------------------------------------------------------

TEST_F(CommandsTest, StampsCountFromOneAfterEachModeSwitch) {
  Robot& robot = Start(Mode::RT_JOINT_TORQUE);
  for (int i = 0; i < 3; ++i) robot.StreamJointTorque({{JointGroup::ARM_1, Torque()}});
  auto received = Received(3);
  ASSERT_EQ(received.size(), 3u);
  for (std::uint64_t i = 0; i < 3; ++i) EXPECT_EQ(received[i].request.stamp, i + 1);

  robot.SwitchMode(Mode::RT_JOINT_POSITION);
  ASSERT_TRUE(Eventually([&] { return robot.mode() == Mode::RT_JOINT_POSITION; }));
  host_->ClearRecords();
  robot.StreamJointPosition({{JointGroup::ARM_2, Position(7, 7, 7)}});
  received = Received(1);
  EXPECT_EQ(received[0].request.stamp, 1u);
  // The switch cleared the torque commands of the previous mode.
  ASSERT_EQ(received[0].request.joint_commands.size(), 1u);
  EXPECT_EQ(received[0].request.joint_groups, std::vector<std::uint16_t>{4});
}

TEST_F(CommandsTest, TorqueCommandsAreNarrowedAndFlagsNegated) {
  Robot& robot = Start(Mode::RT_JOINT_TORQUE);
  RtJointTorqueCmd cmd({0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7}, false, true, 42.5);
  robot.StreamJointTorque({{JointGroup::ARM_2, Torque()}, {JointGroup::ARM_1, cmd}});
  const auto m = Received(1).front().request;
  EXPECT_EQ(m.joint_groups, (std::vector<std::uint16_t>{3, 4}));  // ascending group order
  const auto& c = m.joint_commands.at(0);
  EXPECT_EQ(c.tau_d, (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f}));
  EXPECT_EQ(c.friction_comp_scale, 42.5f);
  EXPECT_TRUE(c.disable_gravity_comp);
  EXPECT_FALSE(c.disable_soft_limits);
  EXPECT_TRUE(c.q_d.empty());
  EXPECT_FALSE(m.joint_commands.at(1).disable_gravity_comp);
}

TEST_F(CommandsTest, PositionStreamingSendsZeroTorques) {
  Robot& robot = Start(Mode::RT_JOINT_POSITION);
  robot.StreamJointPosition({{JointGroup::ARM_1, Position(7, 7, 7)}});
  const auto c = Received(1).front().request.joint_commands.at(0);
  EXPECT_EQ(c.tau_d, std::vector<float>(7, 0.0f));
  EXPECT_EQ(c.q_d, std::vector<float>(7, 0.1f));
  EXPECT_EQ(c.friction_comp_scale, 0.0f);
}

TEST_F(CommandsTest, EmptyJointMapsPublishAndEmptyCartesianMapsAreIgnored) {
  Robot& robot = Start(Mode::NRT_JOINT_POSITION);
  robot.SendJointPosition({});
  const auto m = Received(1).front().request;
  EXPECT_TRUE(m.joint_groups.empty());
  EXPECT_EQ(m.stamp, 1u);

  robot.SwitchMode(Mode::NRT_SUPER_PRIMITIVE);
  ASSERT_TRUE(Eventually([&] { return robot.mode() == Mode::NRT_SUPER_PRIMITIVE; }));
  host_->ClearRecords();
  robot.SendCartesianMotionForce({});
  robot.SendCartesianMotionForceMultiWaypoint({});
  robot.SendCartesianMotionForce({{JointGroup::ARM_1, Pose()}});
  const auto after = Received(1);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].request.stamp, 1u);  // the ignored calls did not count
}

TEST_F(CommandsTest, DiscreteCartesianCommandsCarryTheirLimitsAndZeroAcceleration) {
  Robot& robot = Start(Mode::NRT_SUPER_PRIMITIVE);
  NrtCartesianCmd cmd = Pose();
  cmd.max_linear_vel = 0.25;
  robot.SendCartesianMotionForce({{JointGroup::ARM_1, cmd}});
  // Later fills of another kind keep the earlier list: both travel together.
  robot.SendCartesianMotionForceMultiWaypoint(
      {{JointGroup::ARM_2, NrtCartesianMultiWaypointCmd({Pose(), Pose()})}});
  const auto received = Received(2);
  const auto& first = received[0].request.cartesian_commands.at(0);
  EXPECT_EQ(first.acc_d, (std::array<float, 6>{}));
  EXPECT_EQ(first.max_linear_vel, 0.25f);
  EXPECT_EQ(first.max_angular_acc, 5.0f);
  EXPECT_EQ(first.pose_d[4], 1.0f);
  const auto& second = received[1].request;
  EXPECT_EQ(second.stamp, 2u);
  EXPECT_EQ(second.joint_groups, std::vector<std::uint16_t>{4});
  EXPECT_EQ(second.cartesian_commands.size(), 1u);
  ASSERT_EQ(second.waypoint_commands.size(), 1u);
  EXPECT_EQ(second.waypoint_commands[0].size(), 2u);
}

TEST_F(CommandsTest, StreamedPositionsMoveTheSimulatedJoints) {
  Robot& robot = Start(Mode::RT_JOINT_POSITION);
  auto q = robot.states().at(JointGroup::ARM_1).q;
  for (auto& v : q) v += 0.05;
  for (int i = 0; i < 50; ++i) {
    robot.StreamJointPosition(
        {{JointGroup::ARM_1, RtJointPositionCmd(q, Values(7, 0.0), Values(7, 0.0))}});
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(Eventually(
      [&] { return std::abs(robot.states().at(JointGroup::ARM_1).q[3] - q[3]) < 1e-5; }));
}

TEST_F(CommandsTest, NotOperationalOrLiteInstancesPublishNothing) {
  Robot& robot = Start(Mode::RT_JOINT_TORQUE);
  Robot lite(serial_, false, true);
  try {
    lite.StreamJointTorque({{JointGroup::ARM_1, Torque()}});
    FAIL() << "a lite instance streamed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "[korvo::vyr::Robot::StreamJointTorque] Robot is not operational: System booting");
  }
  host_->robot().SetSystemState(3);
  ASSERT_TRUE(Eventually([&] { return !robot.operational(); }));
  try {
    robot.SendJointPosition({});
    FAIL() << "sent while in regular auto mode";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "[korvo::vyr::Robot::SendJointPosition] Robot is not operational: In regular Auto "
                 "mode");
  }
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(host_->commands().empty());
}

TEST_F(CommandsTest, TimelinessLimitAcceptsZeroToHundred) {
  Robot& robot = Start(Mode::IDLE);
  robot.SetTimelinessFailureLimit(0.0);
  robot.SetTimelinessFailureLimit(100.0);
  robot.SetTimelinessFailureLimit();
  for (const double bad : {100.01, -0.01}) {
    try {
      robot.SetTimelinessFailureLimit(bad);
      FAIL() << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(),
                   "[korvo::vyr::Robot::SetTimelinessFailureLimit] Input parameter [percentage] "
                   "is outside the valid range");
    }
  }
}

}  // namespace
}  // namespace korvo::vyr
