// Controller settings and digital outputs: group classes, mode sets, the order of the checks and
// their messages, and what the simulated robot receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using test::Eventually;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Above(double v) { return std::nextafter(v, kInf); }
double Below(double v) { return std::nextafter(v, -kInf); }

const std::vector<Mode> kAllModes = {
    Mode::IDLE,
    Mode::RT_JOINT_TORQUE,
    Mode::RT_JOINT_IMPEDANCE,
    Mode::NRT_JOINT_IMPEDANCE,
    Mode::RT_JOINT_POSITION,
    Mode::NRT_JOINT_POSITION,
    Mode::NRT_PLAN_EXECUTION,
    Mode::NRT_PRIMITIVE_EXECUTION,
    Mode::RT_CARTESIAN_MOTION_FORCE,
    Mode::NRT_CARTESIAN_MOTION_FORCE,
    Mode::NRT_SUPER_PRIMITIVE,
};
const std::vector<Mode> kJointImpedance = {Mode::RT_JOINT_IMPEDANCE, Mode::NRT_JOINT_IMPEDANCE};
const std::vector<Mode> kCartesian = {Mode::RT_CARTESIAN_MOTION_FORCE,
                                      Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE};

using test::Accepted;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;

std::string Prefix(const std::string& operation) {
  return "[korvo::vyr::Robot::" + operation + "]";
}
std::string NotInMode(const std::string& operation) {
  return Prefix(operation) + " Robot is not in an applicable control mode";
}
std::string OutsideRange(const std::string& operation, const std::string& argument) {
  return Prefix(operation) + " Input parameter [" + argument +
         "] contains value outside the valid range";
}
std::string SizeMismatch(const std::string& operation, const std::string& argument) {
  return Prefix(operation) + " Size of input vector [" + argument +
         "] does not match joint group DoF";
}
std::string NotSingleArm(const std::string& operation, const std::string& group) {
  return Prefix(operation) + " The specified joint group [" + group +
         "] is not an existing single-arm joint group in the connected robot";
}
std::string NotSingleArmOrExtAxis(const std::string& operation, const std::string& group) {
  return Prefix(operation) + " The specified joint group [" + group +
         "] is not an existing single-arm or external axis joint group in the connected robot";
}

std::vector<double> Values(std::size_t n, double v) { return std::vector<double>(n, v); }
// `values` with `v` at `index`.
template <typename Sequence>
Sequence With(Sequence values, std::size_t index, double v) {
  values[index] = v;
  return values;
}

std::size_t Dof(const Robot& robot, JointGroup group) {
  const auto dof = robot.info().DoF;
  const auto it = dof.find(group);
  return it == dof.end() ? 7 : it->second;
}

// Positions halfway between the joint limits of `group` (zeros for a group without limits).
std::vector<double> MidPositions(const Robot& robot, JointGroup group) {
  const auto info = robot.info();
  if (info.q_min.count(group) == 0) return Values(Dof(robot, group), 0.0);
  std::vector<double> q;
  for (std::size_t i = 0; i < info.q_min.at(group).size(); ++i) {
    q.push_back((info.q_min.at(group)[i] + info.q_max.at(group)[i]) / 2);
  }
  return q;
}

class SettingsTest : public test::SimulatorSuite {
 protected:
  // A ready Olvar-L with `ext_axes` external axes, of its own for every test, in `mode`.
  Robot& Start(Mode mode, unsigned ext_axes = 1) {
    host_ = &Host(ProductModel::Olvar_L, ext_axes);
    host_->robot().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    EXPECT_TRUE(Eventually([&] { return robot_->operational(); }));
    Switch(mode);
    return *robot_;
  }
  void Switch(Mode mode) {
    robot_->SwitchMode(mode);
    EXPECT_TRUE(Eventually([&] { return robot_->mode() == mode; }));
    host_->ClearRecords();
  }
  void TearDown() override {
    robot_.reset();
    SimulatorSuite::TearDown();
  }

  // Runs `call`, which must end as `expected`, and checks that the robot received one request
  // when it was accepted and none otherwise.
  void Expect(const std::function<void()>& call, const Outcome& expected) {
    host_->ClearRecords();
    EXPECT_EQ(OutcomeOf(call), expected);
    EXPECT_EQ(host_->vyr_requests().size(), expected == Accepted() ? 1u : 0u);
  }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
};

// ---- every operation: group class, mode set, refused requests ---------------------------------

enum class GroupClass { kNone, kSingleArm, kSingleArmOrExtAxis };

struct Operation {
  const char* name;
  std::uint16_t op_code;
  GroupClass groups;
  std::vector<Mode> modes;
  // Valid arguments for `group`, sized for its DoF.
  std::function<void(Robot&, JointGroup)> call;
};

const std::vector<Operation> kGroupOperations = {
    {"SetJointImpedance", 71, GroupClass::kSingleArmOrExtAxis, kJointImpedance,
     [](Robot& r, JointGroup g) { r.SetJointImpedance(g, Values(Dof(r, g), 100.0)); }},
    {"SetMaxContactTorque", 76, GroupClass::kSingleArmOrExtAxis, kJointImpedance,
     [](Robot& r, JointGroup g) { r.SetMaxContactTorque(g, Values(Dof(r, g), 1.0)); }},
    {"SetJointInertiaScale", 75, GroupClass::kSingleArmOrExtAxis, kJointImpedance,
     [](Robot& r, JointGroup g) { r.SetJointInertiaScale(g, Values(Dof(r, g), 0.9)); }},
    {"SetCartesianImpedance", 70, GroupClass::kSingleArm, kCartesian,
     [](Robot& r, JointGroup g) {
       r.SetCartesianImpedance(g, {100, 100, 100, 10, 10, 10});
     }},
    {"SetMaxContactWrench", 72, GroupClass::kSingleArm, kCartesian,
     [](Robot& r, JointGroup g) {
       r.SetMaxContactWrench(g, {10, 10, 10, 1, 1, 1});
     }},
    {"SetNullSpacePosture", 73, GroupClass::kSingleArmOrExtAxis, kCartesian,
     [](Robot& r, JointGroup g) { r.SetNullSpacePosture(g, MidPositions(r, g)); }},
    {"SetNullSpaceObjectives", 74, GroupClass::kSingleArm, kCartesian,
     [](Robot& r, JointGroup g) { r.SetNullSpaceObjectives(g); }},
    {"SetForceControlAxis", 80, GroupClass::kSingleArm, kCartesian,
     [](Robot& r, JointGroup g) {
       r.SetForceControlAxis(g, {false, false, true, false, false, false});
     }},
    {"SetForceControlFrame", 81, GroupClass::kSingleArm, kCartesian,
     [](Robot& r, JointGroup g) { r.SetForceControlFrame(g, CoordType::TCP); }},
    {"SetPassiveForceControl",
     82,
     GroupClass::kSingleArm,
     {Mode::IDLE},
     [](Robot& r, JointGroup g) { r.SetPassiveForceControl(g, true); }},
};

const Operation kDigitalOutputs = {"SetDigitalOutputs", 9, GroupClass::kNone, kAllModes,
                                   [](Robot& r, JointGroup) {
                                     r.SetDigitalOutputs({{3, true}});
                                   }};

std::vector<Operation> AllOperations() {
  auto all = kGroupOperations;
  all.push_back(kDigitalOutputs);
  return all;
}

class OperationTest : public SettingsTest, public ::testing::WithParamInterface<Operation> {
 protected:
  std::string ModeMessage() const {
    const std::string name = GetParam().name;
    return name == "SetPassiveForceControl" ? Prefix(name) + " Robot is not in IDLE mode"
                                            : NotInMode(name);
  }
};

std::string OperationName(const ::testing::TestParamInfo<Operation>& info) {
  return info.param.name;
}

TEST_P(OperationTest, IsAcceptedInItsModesOnly) {
  const Operation& op = GetParam();
  Robot& robot = Start(Mode::IDLE);
  for (const Mode mode : kAllModes) {
    SCOPED_TRACE(static_cast<int>(mode));
    Switch(mode);
    const bool applicable = std::find(op.modes.begin(), op.modes.end(), mode) != op.modes.end();
    Expect([&] { op.call(robot, JointGroup::ARM_1); },
           applicable ? Accepted() : Logic(ModeMessage()));
  }
}

// The operations with a joint group.
class GroupClassTest : public OperationTest {};

TEST_P(GroupClassTest, AcceptsItsGroupClassOnlyAndChecksTheGroupBeforeTheMode) {
  const Operation& op = GetParam();
  Robot& robot = Start(op.modes.front());
  const bool wide = op.groups == GroupClass::kSingleArmOrExtAxis;
  const std::pair<JointGroup, std::string> groups[] = {
      {JointGroup::ALL, "ALL"},           {JointGroup::ARMS, "ARMS"},
      {JointGroup::ARM_1, "ARM_1"},       {JointGroup::ARM_2, "ARM_2"},
      {JointGroup::EXT_AXIS, "EXT_AXIS"}, {static_cast<JointGroup>(1), "UNKNOWN"},
      {JointGroup::UNKNOWN, "UNKNOWN"}};
  // First in a mode of the operation, then in one that is not: a wrong group is reported first.
  for (const Mode mode : {op.modes.front(), Mode::NRT_PLAN_EXECUTION}) {
    Switch(mode);
    for (const auto& [group, name] : groups) {
      SCOPED_TRACE(name + " in mode " + std::to_string(static_cast<int>(mode)));
      const bool member = group == JointGroup::ARM_1 || (wide && group == JointGroup::EXT_AXIS);
      Outcome expected = wide ? Invalid(NotSingleArmOrExtAxis(op.name, name))
                              : Invalid(NotSingleArm(op.name, name));
      if (member) expected = mode == op.modes.front() ? Accepted() : Logic(ModeMessage());
      Expect([&] { op.call(robot, group); }, expected);
      if (expected == Accepted()) {
        EXPECT_EQ(host_->robot().settings().count({op.op_code, static_cast<std::uint16_t>(group)}),
                  1u);
      }
    }
  }
}

TEST_P(OperationTest, RefusedRequestFailsToDeliver) {
  const Operation& op = GetParam();
  Robot& robot = Start(op.modes.front());
  host_->SetReplyRule(sim::Server::kVyr, op.op_code, {sim::ReplyAction::kRefuse, {}, -1});
  EXPECT_EQ(OutcomeOf([&] { op.call(robot, JointGroup::ARM_1); }),
            Runtime(Prefix(op.name) + " Failed to deliver the request"));
}

INSTANTIATE_TEST_SUITE_P(All, OperationTest, ::testing::ValuesIn(AllOperations()), OperationName);
INSTANTIATE_TEST_SUITE_P(All, GroupClassTest, ::testing::ValuesIn(kGroupOperations), OperationName);

// ---- bounds: each accepted at its value, rejected just beyond it and for NaN -------------------

struct RangeCase {
  const char* name;
  Mode mode;
  std::function<double(const RobotInfo&)> min;
  std::function<double(const RobotInfo&)> max;  // empty: no upper bound
  // Valid arguments but for `v`, placed at the last joint or axis, whose limits differ from the
  // first one's.
  std::function<void(Robot&, double v)> call;
  std::string message;
};

class RangeTest : public SettingsTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, BoundsAreAcceptedAndValuesJustBeyondOrNaNRejected) {
  const RangeCase& c = GetParam();
  Robot& robot = Start(c.mode);
  const RobotInfo info = robot.info();
  const auto check = [&](double v, const Outcome& expected) {
    SCOPED_TRACE(v);
    Expect([&] { c.call(robot, v); }, expected);
  };
  const double min = c.min(info);
  check(min, Accepted());
  check(Below(min), Invalid(c.message));
  if (c.max) {
    const double max = c.max(info);
    check(max, Accepted());
    check(Above(max), Invalid(c.message));
  }
  check(kNaN, Invalid(c.message));
}

const auto kZero = [](const RobotInfo&) { return 0.0; };
std::function<double(const RobotInfo&)> Constant(double v) {
  return [v](const RobotInfo&) { return v; };
}

constexpr auto kArm = JointGroup::ARM_1;

INSTANTIATE_TEST_SUITE_P(
    All, RangeTest,
    ::testing::Values(
        RangeCase{"JointStiffness", Mode::NRT_JOINT_IMPEDANCE, kZero,
                  [](const RobotInfo& i) { return i.K_q_nom.at(kArm)[6]; },
                  [](Robot& r, double v) {
                    r.SetJointImpedance(kArm, With(r.info().K_q_nom.at(kArm), 6, v));
                  },
                  OutsideRange("SetJointImpedance", "K_q")},
        RangeCase{"JointDamping", Mode::RT_JOINT_IMPEDANCE, Constant(0.3), Constant(0.8),
                  [](Robot& r, double v) {
                    r.SetJointImpedance(kArm, Values(7, 100.0), With(Values(7, 0.5), 6, v));
                  },
                  OutsideRange("SetJointImpedance", "Z_q")},
        RangeCase{
            "MaxContactTorque", Mode::NRT_JOINT_IMPEDANCE, kZero,
            [](const RobotInfo& i) { return i.tau_max.at(kArm)[6]; },
            [](Robot& r, double v) { r.SetMaxContactTorque(kArm, With(Values(7, 1.0), 6, v)); },
            OutsideRange("SetMaxContactTorque", "max_torques")},
        RangeCase{
            "InertiaScale", Mode::RT_JOINT_IMPEDANCE, Constant(0.75), Constant(1.0),
            [](Robot& r, double v) { r.SetJointInertiaScale(kArm, With(Values(7, 0.9), 6, v)); },
            OutsideRange("SetJointInertiaScale", "inertia_scales")},
        RangeCase{"CartesianStiffness", Mode::NRT_CARTESIAN_MOTION_FORCE, kZero,
                  [](const RobotInfo& i) { return i.K_x_nom.at(kArm)[5]; },
                  [](Robot& r, double v) {
                    r.SetCartesianImpedance(kArm, With(r.info().K_x_nom.at(kArm), 5, v));
                  },
                  OutsideRange("SetCartesianImpedance", "K_x")},
        RangeCase{"CartesianDamping", Mode::RT_CARTESIAN_MOTION_FORCE, Constant(0.3), Constant(0.8),
                  [](Robot& r, double v) {
                    r.SetCartesianImpedance(kArm, {1, 1, 1, 1, 1, 1}, {0.5, 0.5, 0.5, 0.5, 0.5, v});
                  },
                  OutsideRange("SetCartesianImpedance", "Z_x")},
        RangeCase{"MaxContactWrench",
                  Mode::NRT_SUPER_PRIMITIVE,
                  kZero,
                  {},
                  [](Robot& r, double v) {
                    r.SetMaxContactWrench(kArm, {1, 1, 1, 1, 1, v});
                  },
                  "[korvo::vyr::Robot::SetMaxContactWrench] Input parameter [max_wrench] contains "
                  "negative value"},
        RangeCase{"NullSpacePosture", Mode::NRT_CARTESIAN_MOTION_FORCE,
                  [](const RobotInfo& i) { return i.q_min.at(kArm)[6]; },
                  [](const RobotInfo& i) { return i.q_max.at(kArm)[6]; },
                  [](Robot& r, double v) {
                    r.SetNullSpacePosture(kArm, With(MidPositions(r, kArm), 6, v));
                  },
                  OutsideRange("SetNullSpacePosture", "ref_positions")},
        RangeCase{"LinearManipulability", Mode::NRT_SUPER_PRIMITIVE, kZero, Constant(1.0),
                  [](Robot& r, double v) { r.SetNullSpaceObjectives(kArm, v, 0.5, 0.5); },
                  "[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                  "[linear_manipulability] is outside the valid range"},
        RangeCase{"AngularManipulability", Mode::NRT_SUPER_PRIMITIVE, kZero, Constant(1.0),
                  [](Robot& r, double v) { r.SetNullSpaceObjectives(kArm, 0.5, v, 0.5); },
                  "[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                  "[angular_manipulability] is outside the valid range"},
        RangeCase{"RefPositionsTracking", Mode::RT_CARTESIAN_MOTION_FORCE, Constant(0.1),
                  Constant(1.0),
                  [](Robot& r, double v) { r.SetNullSpaceObjectives(kArm, 0.5, 0.5, v); },
                  "[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                  "[ref_positions_tracking] is outside the valid range"},
        RangeCase{
            "ForceControlVelocity", Mode::NRT_CARTESIAN_MOTION_FORCE, Constant(0.005),
            Constant(2.0),
            [](Robot& r, double v) {
              r.SetForceControlAxis(kArm, {true, true, true, false, false, false}, {1.0, 1.0, v});
            },
            OutsideRange("SetForceControlAxis", "max_linear_vel")}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the order of the checks, and edges of single operations ----------------------------------

struct CheckCase {
  const char* name;
  Mode mode;
  unsigned ext_axes;
  std::function<void(Robot&)> call;
  Outcome expected;
};

class CheckTest : public SettingsTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, EndsAsExpected) {
  Robot& robot = Start(GetParam().mode, GetParam().ext_axes);
  Expect([&] { GetParam().call(robot); }, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    JointSettings, CheckTest,
    ::testing::Values(
        CheckCase{"SizeIsCheckedAfterTheMode", Mode::IDLE, 1,
                  [](Robot& r) { r.SetJointImpedance(kArm, Values(6, 100.0)); },
                  Logic(NotInMode("SetJointImpedance"))},
        CheckCase{"StiffnessSizeBeforeDampingSize", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetJointImpedance(kArm, Values(6, 100.0), Values(6, 0.5)); },
                  Invalid(SizeMismatch("SetJointImpedance", "K_q"))},
        CheckCase{"DampingSize", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetJointImpedance(kArm, Values(7, 100.0), Values(8, 0.5)); },
                  Invalid(SizeMismatch("SetJointImpedance", "Z_q"))},
        CheckCase{"SizesBeforeRanges", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetJointImpedance(kArm, Values(7, -1.0), Values(6, 0.5)); },
                  Invalid(SizeMismatch("SetJointImpedance", "Z_q"))},
        CheckCase{"StiffnessBeforeDampingOfTheSameJoint", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) {
                    r.SetJointImpedance(kArm, With(Values(7, 100.0), 2, -1.0),
                                        With(Values(7, 0.5), 2, 0.9));
                  },
                  Invalid(OutsideRange("SetJointImpedance", "K_q"))},
        CheckCase{"DampingOfAnEarlierJointBeforeStiffness", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) {
                    r.SetJointImpedance(kArm, With(Values(7, 100.0), 2, -1.0),
                                        With(Values(7, 0.5), 1, 0.9));
                  },
                  Invalid(OutsideRange("SetJointImpedance", "Z_q"))},
        CheckCase{"ExternalAxisHasUnboundedStiffness", Mode::RT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetJointImpedance(JointGroup::EXT_AXIS, {1e9}); }, Accepted()},
        CheckCase{"NoExternalAxisOnARobotWithoutOne", Mode::RT_JOINT_IMPEDANCE, 0,
                  [](Robot& r) { r.SetJointImpedance(JointGroup::EXT_AXIS, {100.0}); },
                  Invalid(NotSingleArmOrExtAxis("SetJointImpedance", "EXT_AXIS"))},
        CheckCase{"ExternalAxisSize", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetMaxContactTorque(JointGroup::EXT_AXIS, Values(7, 1.0)); },
                  Invalid(SizeMismatch("SetMaxContactTorque", "max_torques"))},
        CheckCase{"InertiaScaleSize", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetJointInertiaScale(kArm, Values(8, 1.0)); },
                  Invalid(SizeMismatch("SetJointInertiaScale", "inertia_scales"))}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CartesianSettings, CheckTest,
    ::testing::Values(
        CheckCase{
            "StiffnessBeforeDampingOfTheSameAxis", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
            [](Robot& r) {
              r.SetCartesianImpedance(kArm, {1, 1, 1, -1, 1, 1}, {0.5, 0.5, 0.5, 0.1, 0.5, 0.5});
            },
            Invalid(OutsideRange("SetCartesianImpedance", "K_x"))},
        CheckCase{
            "DampingOfAnEarlierAxisBeforeStiffness", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
            [](Robot& r) {
              r.SetCartesianImpedance(kArm, {1, 1, 1, -1, 1, 1}, {0.5, 0.5, 0.9, 0.5, 0.5, 0.5});
            },
            Invalid(OutsideRange("SetCartesianImpedance", "Z_x"))},
        CheckCase{"CartesianImpedanceIsNotForTheExternalAxis", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) {
                    r.SetCartesianImpedance(JointGroup::EXT_AXIS, {1, 1, 1, 1, 1, 1});
                  },
                  Invalid(NotSingleArm("SetCartesianImpedance", "EXT_AXIS"))},
        CheckCase{"NullSpacePostureSize", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetNullSpacePosture(kArm, Values(6, 0.0)); },
                  Invalid(SizeMismatch("SetNullSpacePosture", "ref_positions"))},
        CheckCase{"NullSpacePostureOfTheExternalAxis", Mode::NRT_SUPER_PRIMITIVE, 1,
                  [](Robot& r) {
                    const auto info = r.info();
                    r.SetNullSpacePosture(JointGroup::EXT_AXIS,
                                          {Above(info.q_max.at(JointGroup::EXT_AXIS)[0])});
                  },
                  Invalid(OutsideRange("SetNullSpacePosture", "ref_positions"))},
        CheckCase{"LinearWeightIsTestedFirst", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetNullSpaceObjectives(kArm, -1.0, -1.0, 0.0); },
                  Invalid("[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                          "[linear_manipulability] is outside the valid range")},
        CheckCase{"AngularWeightBeforeTracking", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetNullSpaceObjectives(kArm, 1.0, 2.0, 0.0); },
                  Invalid("[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                          "[angular_manipulability] is outside the valid range")},
        CheckCase{"TrackingBelowItsMinimum", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetNullSpaceObjectives(kArm, 0.5, 0.5, 0.05); },
                  Invalid("[korvo::vyr::Robot::SetNullSpaceObjectives] Input parameter "
                          "[ref_positions_tracking] is outside the valid range")},
        CheckCase{"InvalidRootIsCheckedAfterTheMode", Mode::NRT_JOINT_IMPEDANCE, 1,
                  [](Robot& r) { r.SetForceControlFrame(kArm, static_cast<CoordType>(2)); },
                  Logic(NotInMode("SetForceControlFrame"))},
        CheckCase{"InvalidRoot", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetForceControlFrame(kArm, static_cast<CoordType>(2)); },
                  Invalid("[korvo::vyr::Robot::SetForceControlFrame] Input parameter "
                          "[root_coord] is invalid")},
        CheckCase{"PassiveForceControlOutsideIdle", Mode::NRT_CARTESIAN_MOTION_FORCE, 1,
                  [](Robot& r) { r.SetPassiveForceControl(kArm, false); },
                  Logic("[korvo::vyr::Robot::SetPassiveForceControl] Robot is not in IDLE mode")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    DigitalOutputs, CheckTest,
    ::testing::Values(CheckCase{"LastPort", Mode::NRT_PLAN_EXECUTION, 1,
                                [](Robot& r) {
                                  r.SetDigitalOutputs({{19, true}});
                                },
                                Accepted()},
                      CheckCase{"PortTwentyRejected", Mode::IDLE, 1,
                                [](Robot& r) {
                                  r.SetDigitalOutputs({{0, true}, {20, false}});
                                },
                                Invalid("[korvo::vyr::Robot::SetDigitalOutputs] Input map "
                                        "contains port index outside the valid range")}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- what the robot receives -----------------------------------------------------------------

struct RequestCase {
  const char* name;
  Mode mode;
  std::function<void(Robot&)> call;
  std::uint16_t op_code;
  std::vector<std::uint16_t> groups;
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<std::string> strings;
};

class RequestTest : public SettingsTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, CarriesTheNarrowedArguments) {
  const RequestCase& c = GetParam();
  Robot& robot = Start(c.mode);
  c.call(robot);
  const auto requests = host_->vyr_requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0].request;
  EXPECT_EQ(r.op_code, c.op_code);
  EXPECT_EQ(r.joint_groups, c.groups);
  EXPECT_EQ(r.int_container, c.ints);
  EXPECT_EQ(r.float_container, c.floats);
  EXPECT_EQ(r.string_container, c.strings);
  EXPECT_TRUE(r.bool_container.empty());
}

const std::vector<double> kSeven = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
const std::vector<float> kSevenF = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f};

std::vector<float> Concat(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Port 0 high, port 19 low, the eighteen between unchanged.
std::vector<std::int32_t> FirstAndLastPort() {
  std::vector<std::int32_t> ports(20, -1);
  ports[0] = 1;
  ports[19] = 0;
  return ports;
}

INSTANTIATE_TEST_SUITE_P(All, RequestTest,
                         ::testing::Values(
                             RequestCase{
                                 "JointImpedanceWithDefaultDamping",
                                 Mode::NRT_JOINT_IMPEDANCE,
                                 [](Robot& r) {
                                   r.SetJointImpedance(
                                       kArm, {100.1, 200.2, 300.3, 400.4, 500.5, 600.6, 700.7});
                                 },
                                 71,
                                 {3},
                                 {},
                                 Concat({100.1f, 200.2f, 300.3f, 400.4f, 500.5f, 600.6f, 700.7f},
                                        std::vector<float>(7, 0.7f)),
                                 {}},
                             RequestCase{"JointImpedanceWithDamping",
                                         Mode::RT_JOINT_IMPEDANCE,
                                         [](Robot& r) {
                                           r.SetJointImpedance(
                                               kArm, Values(7, 1.1),
                                               {0.31, 0.32, 0.33, 0.34, 0.35, 0.36, 0.37});
                                         },
                                         71,
                                         {3},
                                         {},
                                         Concat(std::vector<float>(7, 1.1f),
                                                {0.31f, 0.32f, 0.33f, 0.34f, 0.35f, 0.36f, 0.37f}),
                                         {}},
                             RequestCase{"ExternalAxisJointImpedance",
                                         Mode::NRT_JOINT_IMPEDANCE,
                                         [](Robot& r) {
                                           r.SetJointImpedance(JointGroup::EXT_AXIS, {1234.5});
                                         },
                                         71,
                                         {5},
                                         {},
                                         {1234.5f, 0.7f},
                                         {}},
                             RequestCase{"MaxContactTorque",
                                         Mode::NRT_JOINT_IMPEDANCE,
                                         [](Robot& r) { r.SetMaxContactTorque(kArm, kSeven); },
                                         76,
                                         {3},
                                         {},
                                         kSevenF,
                                         {}},
                             RequestCase{"JointInertiaScale",
                                         Mode::NRT_JOINT_IMPEDANCE,
                                         [](Robot& r) {
                                           r.SetJointInertiaScale(
                                               kArm, {0.8, 0.85, 0.9, 0.95, 0.99, 1.0, 0.77});
                                         },
                                         75,
                                         {3},
                                         {},
                                         {0.8f, 0.85f, 0.9f, 0.95f, 0.99f, 1.0f, 0.77f},
                                         {}},
                             RequestCase{
                                 "CartesianImpedanceWithDefaultDamping",
                                 Mode::NRT_CARTESIAN_MOTION_FORCE,
                                 [](Robot& r) {
                                   r.SetCartesianImpedance(kArm, {1.1, 2.2, 3.3, 4.4, 5.5, 6.6});
                                 },
                                 70,
                                 {3},
                                 {},
                                 Concat({1.1f, 2.2f, 3.3f, 4.4f, 5.5f, 6.6f},
                                        std::vector<float>(6, 0.7f)),
                                 {}},
                             RequestCase{
                                 "MaxContactWrench",
                                 Mode::NRT_SUPER_PRIMITIVE,
                                 [](Robot& r) {
                                   r.SetMaxContactWrench(kArm, {0.0, 0.1, 0.2, 0.3, 0.4, 0.5});
                                 },
                                 72,
                                 {3},
                                 {},
                                 {0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f},
                                 {}},
                             RequestCase{"NullSpacePosture",
                                         Mode::RT_CARTESIAN_MOTION_FORCE,
                                         [](Robot& r) { r.SetNullSpacePosture(kArm, kSeven); },
                                         73,
                                         {3},
                                         {},
                                         kSevenF,
                                         {}},
                             RequestCase{"NullSpaceObjectivesDefaults",
                                         Mode::NRT_CARTESIAN_MOTION_FORCE,
                                         [](Robot& r) { r.SetNullSpaceObjectives(kArm); },
                                         74,
                                         {3},
                                         {},
                                         {0.0f, 0.0f, 0.5f},
                                         {}},
                             RequestCase{
                                 "NullSpaceObjectives",
                                 Mode::NRT_CARTESIAN_MOTION_FORCE,
                                 [](Robot& r) { r.SetNullSpaceObjectives(kArm, 0.3, 0.7, 0.9); },
                                 74,
                                 {3},
                                 {},
                                 {0.3f, 0.7f, 0.9f},
                                 {}},
                             RequestCase{"ForceControlAxis",
                                         Mode::NRT_CARTESIAN_MOTION_FORCE,
                                         [](Robot& r) {
                                           r.SetForceControlAxis(
                                               kArm, {true, false, true, false, false, true},
                                               {0.1, 0.2, 0.3});
                                         },
                                         80,
                                         {3},
                                         {1, 0, 1, 0, 0, 1},
                                         {0.1f, 0.2f, 0.3f},
                                         {}},
                             RequestCase{
                                 "ForceControlFrameIdentityInTheWorld",
                                 Mode::NRT_SUPER_PRIMITIVE,
                                 [](Robot& r) { r.SetForceControlFrame(kArm, CoordType::WORLD); },
                                 81,
                                 {3},
                                 {},
                                 {0, 0, 0, 1, 0, 0, 0},
                                 {"WORLD"}},
                             RequestCase{"ForceControlFrameAtTheTcp",
                                         Mode::NRT_SUPER_PRIMITIVE,
                                         [](Robot& r) {
                                           r.SetForceControlFrame(
                                               kArm, CoordType::TCP,
                                               {0.1, 0.2, 0.3, 0.0, 1.0, 0.0, 0.0});
                                         },
                                         81,
                                         {3},
                                         {},
                                         {0.1f, 0.2f, 0.3f, 0.0f, 1.0f, 0.0f, 0.0f},
                                         {"TCP"}},
                             RequestCase{"PassiveForceControlOn",
                                         Mode::IDLE,
                                         [](Robot& r) { r.SetPassiveForceControl(kArm, true); },
                                         82,
                                         {3},
                                         {1},
                                         {},
                                         {}},
                             RequestCase{"PassiveForceControlOff",
                                         Mode::IDLE,
                                         [](Robot& r) { r.SetPassiveForceControl(kArm, false); },
                                         82,
                                         {3},
                                         {0},
                                         {},
                                         {}},
                             RequestCase{"DigitalOutputsFirstAndLastPort",
                                         Mode::IDLE,
                                         [](Robot& r) {
                                           r.SetDigitalOutputs({{19, false}, {0, true}});
                                         },
                                         9,
                                         {},
                                         FirstAndLastPort(),
                                         {},
                                         {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, DigitalOutputsKeepThePortsNotNamed) {
  Robot& robot = Start(Mode::IDLE);
  robot.SetDigitalOutputs({{5, true}, {7, true}});
  robot.SetDigitalOutputs({{0, true}, {7, false}});
  std::array<bool, kIOPorts> expected{};
  expected[0] = expected[5] = true;
  EXPECT_EQ(host_->robot().digital_outputs(), expected);
  // The robot reports its outputs back through the stream data.
  EXPECT_TRUE(Eventually([&] { return robot.digital_outputs() == expected; }));
}

TEST_F(SettingsTest, LiteInstanceAsksTheRobotForItsMode) {
  Start(Mode::IDLE);
  Robot lite(serial_, false, true);
  host_->ClearRecords();
  lite.SetPassiveForceControl(kArm, true);
  auto requests = host_->vyr_requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].request.op_code, 7);
  EXPECT_EQ(requests[1].request.op_code, 82);

  // A mode the robot does not report is no applicable mode.
  host_->SetReplyRule(sim::Server::kVyr, 7, {sim::ReplyAction::kRefuse, {}, -1});
  host_->ClearRecords();
  EXPECT_EQ(OutcomeOf([&] { lite.SetPassiveForceControl(kArm, true); }),
            Logic("[korvo::vyr::Robot::SetPassiveForceControl] Robot is not in IDLE mode"));
  EXPECT_EQ(OutcomeOf([&] { lite.SetJointInertiaScale(kArm, Values(7, 1.0)); }),
            Logic(NotInMode("SetJointInertiaScale")));
  requests = host_->vyr_requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) EXPECT_EQ(r.request.op_code, 7);
}

}  // namespace
}  // namespace korvo::vyr
