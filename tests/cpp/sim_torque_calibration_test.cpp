// The simulated robot's torque-sensor calibration as pure logic: the calibration primitive holding
// the arm still and busy for its scaled wait, operation 110 saving only what completed in the
// current mode, and the controls that interrupt primitives or stall motion.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "case_name.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"
#include "sim/torque_calibration.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::Mode;
namespace vyr_msg = zenoh_msgs::vyr_msg;

constexpr std::uint16_t kArm1 = 3, kArm2 = 4;
const std::string kCalibrate = "caliJointStaticTorqueChannelOffset(waitTime = 5)";
// MoveJ far from the home posture: 7 arm joints in degrees, then 6 external axes.
const std::string kMoveFar = "MoveJ(target = 60 -40 30 -60 20 40 10 0 0 0 0 0 0 )";

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::int32_t> ints = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.int_container = std::move(ints);
  return r;
}

vyr_msg::RPCRequest SwitchMode(Mode mode) { return Request(8, {static_cast<std::int32_t>(mode)}); }

vyr_msg::RPCRequest Primitives(std::vector<std::uint16_t> groups, std::vector<std::string> texts) {
  vyr_msg::RPCRequest r;
  r.op_code = 21;
  r.bool_container.assign(groups.size(), true);
  r.int_container.assign(groups.size(), 0);
  r.joint_groups = std::move(groups);
  r.string_container = std::move(texts);
  return r;
}

vyr_msg::RPCRequest Save() { return Request(110); }

// The primitive states the robot reports for `group` ("primitiveName", "reachedTarget", ...).
std::map<std::string, std::string> States(SimRobot& robot, std::uint16_t group) {
  zenoh_msgs::qel_msg::RPCRequest request;
  request.op_code = 3;
  const auto texts = robot.HandleQel(request).string_container;
  std::map<std::string, std::string> states;
  bool ours = false;
  for (const auto& text : texts) {
    const auto eq = text.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string key = text.substr(0, eq), value = text.substr(eq + 3);
    if (key == "jointGroup") {
      ours = value == std::to_string(group);
    } else if (ours) {
      states[key] = value;
    }
  }
  return states;
}

// Moves the robot's time `seconds` ahead of now: one big step, which moves no joint.
void Later(SimRobot& robot, double seconds) {
  robot.Step(SimRobot::Clock::now() + std::chrono::duration_cast<SimRobot::Clock::duration>(
                                          std::chrono::duration<double>(seconds)));
}

// Runs the control loop for `seconds` in 1 ms cycles from now.
void RunCycles(SimRobot& robot, double seconds) {
  const auto start = SimRobot::Clock::now();
  for (long i = 0; i <= std::lround(seconds * 1000); ++i) {
    robot.Step(start + std::chrono::milliseconds(i));
  }
}

double Distance(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

constexpr double kHour = 3600.0;

void Calibrate(SimRobot& robot, std::uint16_t arm = kArm1) {
  ASSERT_TRUE(robot.HandleVyr(Primitives({arm}, {kCalibrate})).success);
}

// Runs a calibration to its end.
void Complete(SimRobot& robot) {
  Calibrate(robot);
  Later(robot, kHour + 1.0);
  ASSERT_EQ(States(robot, kArm1)["reachedTarget"], "1");
}

// Recovers from a stop and executes primitives again.
void BackToPrimitives(SimRobot& robot) {
  ASSERT_TRUE(robot.HandleVyr(Request(2)).success);  // clear the fault
  robot.PressEstop(false);
  robot.MakeReady();
  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION)).success);
}

// A ready two-arm robot executing primitives, whose calibrations last an hour of simulated time
// (waitTime 5 s scaled by 720).
class TorqueCalibrationTest : public ::testing::Test {
 protected:
  TorqueCalibrationTest() {
    robot_.MakeReady();
    robot_.SetTorqueCalibrationTimeScale(720.0);
    EXPECT_TRUE(robot_.HandleVyr(SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION)).success);
  }

  SimRobot robot_{"SN-torque-calibration", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0)};
};

TEST_F(TorqueCalibrationTest, BusyForTheScaledWaitThenReachedAndSaved) {
  SimRobot& robot = robot_;
  Calibrate(robot);
  Later(robot, 1.0);
  EXPECT_TRUE(robot.busy());
  EXPECT_EQ(States(robot, kArm1)["primitiveName"], std::string(TorqueCalibration::kPrimitive));
  EXPECT_EQ(States(robot, kArm1)["reachedTarget"], "0");
  EXPECT_FALSE(robot.HandleVyr(Save()).success);  // not finished

  Later(robot, kHour + 1.0);
  EXPECT_FALSE(robot.busy());
  EXPECT_EQ(States(robot, kArm1)["reachedTarget"], "1");
  const auto saved = robot.HandleVyr(Save());
  EXPECT_TRUE(saved.success);
  EXPECT_EQ(saved.op_code, 110);
  EXPECT_EQ(robot.torque_calibrations_saved(), 1u);
  EXPECT_TRUE(robot.HandleVyr(Save()).success);  // every save is counted
  EXPECT_EQ(robot.torque_calibrations_saved(), 2u);
}

TEST_F(TorqueCalibrationTest, TheArmHoldsStillWhileCalibrating) {
  SimRobot& robot = robot_;
  const auto home = robot.q();
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1}, {kMoveFar})).success);
  RunCycles(robot, 0.2);
  ASSERT_GT(Distance(robot.q(), home), 0.01);  // on its way
  Calibrate(robot);                            // replaces the MoveJ
  RunCycles(robot, 2.0);
  const auto settled = robot.q();
  RunCycles(robot, 1.0);
  EXPECT_EQ(robot.q(), settled);
  EXPECT_LT(Distance(settled, home), 0.5);  // stopped long before the MoveJ target
  EXPECT_TRUE(robot.busy());
}

TEST_F(TorqueCalibrationTest, AZeroTimeScaleEndsAtTheNextCycle) {
  robot_.SetTorqueCalibrationTimeScale(0.0);
  Calibrate(robot_, kArm2);
  Later(robot_, 0.0);
  EXPECT_FALSE(robot_.busy());
  EXPECT_EQ(States(robot_, kArm2)["reachedTarget"], "1");
  EXPECT_TRUE(robot_.HandleVyr(Save()).success);
}

struct SaveCase {
  const char* name;
  std::function<void(SimRobot&)> before;
  std::function<void(vyr_msg::RPCRequest&)> change = [](vyr_msg::RPCRequest&) {};
};

class RefusedSave : public TorqueCalibrationTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(RefusedSave, SavesNothing) {
  GetParam().before(robot_);
  auto request = Save();
  GetParam().change(request);
  EXPECT_FALSE(robot_.HandleVyr(request).success);
  EXPECT_EQ(robot_.torque_calibrations_saved(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSave,
    ::testing::Values(
        SaveCase{"NothingCalibrated", [](SimRobot&) {}},
        SaveCase{"StillCalibrating",
                 [](SimRobot& r) {
                   Calibrate(r);
                   Later(r, 1.0);
                 }},
        SaveCase{"FaultWhileCalibrating",
                 [](SimRobot& r) {
                   Calibrate(r);
                   r.RaiseFault(false);
                   BackToPrimitives(r);
                   Later(r, kHour + 1.0);
                 }},
        SaveCase{"EstopWhileCalibrating",
                 [](SimRobot& r) {
                   Calibrate(r);
                   r.PressEstop(true);
                   BackToPrimitives(r);
                   Later(r, kHour + 1.0);
                 }},
        SaveCase{"ModeSwitchedWhileCalibrating",
                 [](SimRobot& r) {
                   Calibrate(r);
                   ASSERT_TRUE(r.HandleVyr(SwitchMode(Mode::IDLE)).success);
                   BackToPrimitives(r);
                   Later(r, kHour + 1.0);
                 }},
        SaveCase{"AnotherPrimitiveReplacedIt",
                 [](SimRobot& r) {
                   Calibrate(r);
                   ASSERT_TRUE(r.HandleVyr(Primitives({kArm1}, {"ZeroFTSensor()"})).success);
                   Later(r, kHour + 1.0);
                 }},
        SaveCase{"InIdleAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   ASSERT_TRUE(r.HandleVyr(SwitchMode(Mode::IDLE)).success);
                 }},
        SaveCase{"ModeSwitchedAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   ASSERT_TRUE(r.HandleVyr(SwitchMode(Mode::IDLE)).success);
                   BackToPrimitives(r);
                 }},
        SaveCase{"FaultAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   r.RaiseFault(false);
                 }},
        SaveCase{"FaultClearedAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   r.RaiseFault(false);
                   BackToPrimitives(r);
                 }},
        SaveCase{"EstopAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   r.PressEstop(true);
                 }},
        SaveCase{"SafetyStopAfterCompleting",
                 [](SimRobot& r) {
                   Complete(r);
                   r.SetSafetyState(safety::kCat2Stop);
                 }},
        SaveCase{"WithAGroup", Complete, [](vyr_msg::RPCRequest& r) { r.joint_groups = {kArm1}; }},
        SaveCase{"WithAnInt", Complete, [](vyr_msg::RPCRequest& r) { r.int_container = {1}; }},
        SaveCase{"WithAString", Complete,
                 [](vyr_msg::RPCRequest& r) { r.string_container = {"ARM_1"}; }},
        SaveCase{"WithAFloat", Complete,
                 [](vyr_msg::RPCRequest& r) { r.float_container = {1.0f}; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TorqueCalibrationTest, RefusesCalibrationTextsARobotWouldNotTake) {
  for (const std::string text :
       {"caliJointStaticTorqueChannelOffset()", "caliJointStaticTorqueChannelOffset(waitTime = 0)",
        "caliJointStaticTorqueChannelOffset(waitTime = 601)",
        "caliJointStaticTorqueChannelOffset(waitTime = nan)"}) {
    EXPECT_FALSE(robot_.HandleVyr(Primitives({kArm1}, {text})).success) << text;
  }
  EXPECT_FALSE(robot_.busy());
  EXPECT_TRUE(States(robot_, kArm1).empty());
}

// ---- interruptions ------------------------------------------------------------------------------

struct InterruptCase {
  const char* name;
  std::function<void(SimRobot&)> interrupt;
};

class InterruptedPrimitives : public TorqueCalibrationTest,
                              public ::testing::WithParamInterface<InterruptCase> {};

// A stalled MoveJ on one arm and a calibration on the other, both cut short.
TEST_P(InterruptedPrimitives, AreAbortedUnreachedAndNoLongerBusy) {
  SimRobot& robot = robot_;
  robot.StallMotion(true);
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1, kArm2}, {kMoveFar, kCalibrate})).success);
  RunCycles(robot, 0.1);
  ASSERT_TRUE(robot.busy());
  GetParam().interrupt(robot);
  Later(robot, 0.0);
  EXPECT_EQ(robot.mode(), Mode::IDLE);
  EXPECT_FALSE(robot.busy());
  robot.StallMotion(false);
  Later(robot, kHour + 1.0);
  EXPECT_FALSE(robot.busy());
  for (const auto arm : {kArm1, kArm2}) {
    EXPECT_EQ(States(robot, arm)["reachedTarget"], "0") << arm;  // still listed
  }
  EXPECT_EQ(States(robot, kArm2)["primitiveName"], std::string(TorqueCalibration::kPrimitive));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterruptedPrimitives,
    ::testing::Values(
        InterruptCase{"Fault", [](SimRobot& r) { r.RaiseFault(false); }},
        InterruptCase{"CriticalFault", [](SimRobot& r) { r.RaiseFault(true); }},
        InterruptCase{"Estop", [](SimRobot& r) { r.PressEstop(true); }},
        InterruptCase{"SafetyStop", [](SimRobot& r) { r.SetSafetyState(safety::kCat1Stop); }},
        InterruptCase{
            "SwitchToIdle",
            [](SimRobot& r) { ASSERT_TRUE(r.HandleVyr(SwitchMode(Mode::IDLE)).success); }},
        InterruptCase{"BrakesEngaged",
                      [](SimRobot& r) { ASSERT_TRUE(r.HandleVyr(Request(10, {1})).success); }},
        InterruptCase{"Reboot", [](SimRobot& r) { r.Reboot(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TorqueCalibrationTest, AStalledMoveNeverReachesItsTargetUntilReleased) {
  SimRobot& robot = robot_;
  robot.StallMotion(true);
  const auto before = robot.q();
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1}, {kMoveFar})).success);
  RunCycles(robot, 1.0);
  EXPECT_EQ(robot.q(), before);
  EXPECT_TRUE(robot.busy());
  EXPECT_EQ(States(robot, kArm1)["reachedTarget"], "0");

  robot.StallMotion(false);
  const auto start = SimRobot::Clock::now();
  for (int i = 1; i <= 60000 && robot.busy(); ++i) robot.Step(start + std::chrono::milliseconds(i));
  EXPECT_FALSE(robot.busy());
  EXPECT_EQ(States(robot, kArm1)["reachedTarget"], "1");
  const auto [first, n] = robot.model().groups().at(vyr::JointGroup::ARM_1);
  EXPECT_NEAR(robot.q()[first], 60.0 / 180.0 * 3.141592653589793, 1e-4);
}

struct ArmedCase {
  const char* name;
  Interruption kind;
  std::int16_t safety_state;
  bool estop_released;
};

class ArmedInterruption : public TorqueCalibrationTest,
                          public ::testing::WithParamInterface<ArmedCase> {};

TEST_P(ArmedInterruption, FiresOnceWhenTheNextNamedPrimitiveHasRunItsTime) {
  SimRobot& robot = robot_;
  robot.StallMotion(true);
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1}, {kMoveFar})).success);
  // Only a MoveJ started after arming counts, and no other primitive.
  robot.InterruptNextPrimitive("MoveJ", kHour, GetParam().kind);
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm2}, {"Home()"})).success);
  Later(robot, 2 * kHour);
  ASSERT_EQ(robot.mode(), Mode::NRT_PRIMITIVE_EXECUTION);

  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1}, {kMoveFar})).success);
  Later(robot, 1.0);
  EXPECT_EQ(robot.mode(), Mode::NRT_PRIMITIVE_EXECUTION);
  Later(robot, kHour + 1.0);
  EXPECT_EQ(robot.mode(), Mode::IDLE);
  EXPECT_EQ(robot.safety_state(), GetParam().safety_state);
  EXPECT_EQ(robot.BasicStreamData().estop_released, GetParam().estop_released);
  EXPECT_FALSE(robot.busy());
  EXPECT_EQ(States(robot, kArm1)["reachedTarget"], "0");

  BackToPrimitives(robot);
  ASSERT_TRUE(robot.HandleVyr(Primitives({kArm1}, {kMoveFar})).success);
  Later(robot, 2 * kHour);
  EXPECT_EQ(robot.mode(), Mode::NRT_PRIMITIVE_EXECUTION);  // disarmed
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArmedInterruption,
    ::testing::Values(ArmedCase{"Fault", Interruption::kFault, safety::kCat2Stop, true},
                      ArmedCase{"Estop", Interruption::kEstop, safety::kCat1Stop, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TorqueCalibrationTest, AnInterruptedCalibrationCannotBeSaved) {
  robot_.InterruptNextPrimitive(std::string(TorqueCalibration::kPrimitive), kHour / 2,
                                Interruption::kFault);
  Calibrate(robot_);
  Later(robot_, kHour / 2 + 1.0);
  EXPECT_EQ(robot_.mode(), Mode::IDLE);
  BackToPrimitives(robot_);
  Later(robot_, kHour + 1.0);
  EXPECT_FALSE(robot_.HandleVyr(Save()).success);
}

// ---- control arguments --------------------------------------------------------------------------

struct ControlCase {
  const char* name;
  std::function<void(SimRobot&)> control;
};

class RefusedControl : public ::testing::TestWithParam<ControlCase> {};

TEST_P(RefusedControl, ThrowsInvalidArgument) {
  SimRobot robot("SN-torque-controls", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_THROW(GetParam().control(robot), std::invalid_argument);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedControl,
    ::testing::Values(
        ControlCase{"NegativeScale", [](SimRobot& r) { r.SetTorqueCalibrationTimeScale(-0.1); }},
        ControlCase{"NaNScale", [](SimRobot& r) { r.SetTorqueCalibrationTimeScale(kNaN); }},
        ControlCase{"InfiniteScale", [](SimRobot& r) { r.SetTorqueCalibrationTimeScale(kInf); }},
        ControlCase{"HugeScale", [](SimRobot& r) { r.SetTorqueCalibrationTimeScale(1e6); }},
        ControlCase{
            "NegativeDelay",
            [](SimRobot& r) { r.InterruptNextPrimitive("MoveJ", -1.0, Interruption::kFault); }},
        ControlCase{
            "NaNDelay",
            [](SimRobot& r) { r.InterruptNextPrimitive("MoveJ", kNaN, Interruption::kEstop); }},
        ControlCase{
            "InfiniteDelay",
            [](SimRobot& r) { r.InterruptNextPrimitive("MoveJ", kInf, Interruption::kFault); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the wait time ------------------------------------------------------------------------------

struct WaitCase {
  const char* name;
  const char* arguments;
  std::optional<double> wait_time;
};

class WaitTime : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitTime, IsFiniteAboveZeroAndAtMostTenMinutes) {
  EXPECT_EQ(TorqueCalibration::WaitTime(GetParam().arguments), GetParam().wait_time);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitTime,
    ::testing::Values(WaitCase{"Integer", "waitTime = 5", 5.0},
                      WaitCase{"Decimal", "waitTime = 2.5", 2.5},
                      WaitCase{"Exponent", "waitTime = 1e-3", 1e-3},
                      WaitCase{"AtTheBound", "waitTime = 600", 600.0},
                      WaitCase{"AmongOthers", "a = 1, waitTime = 7, b = x y", 7.0},
                      WaitCase{"Missing", "", std::nullopt},
                      WaitCase{"OtherName", "waittime = 5", std::nullopt},
                      WaitCase{"Zero", "waitTime = 0", std::nullopt},
                      WaitCase{"Negative", "waitTime = -1", std::nullopt},
                      WaitCase{"AboveTheBound", "waitTime = 600.001", std::nullopt},
                      WaitCase{"NaN", "waitTime = nan", std::nullopt},
                      WaitCase{"Infinite", "waitTime = inf", std::nullopt},
                      WaitCase{"Text", "waitTime = soon", std::nullopt},
                      WaitCase{"TwoNumbers", "waitTime = 5 6", std::nullopt},
                      WaitCase{"Trailing", "waitTime = 5s", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::sim
