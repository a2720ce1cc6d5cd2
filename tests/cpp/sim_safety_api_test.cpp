// Safety against the simulated robot: the password, the default and current limits, the safety
// inputs, the checks of the setters in their order with their messages, the requests the robot
// receives, and new limits that the robot reports after a reboot.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "case_name.hpp"
#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/safety.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using test::Accepted;
using test::Eventually;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;

constexpr char kPassword[] = "KVsafe";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint16_t kArm1 = static_cast<std::uint16_t>(JointGroup::ARM_1);

double F(double v) { return static_cast<float>(v); }
double Rad(double degrees) { return degrees / 180.0 * 3.141592653589793; }

// The product's defaults of one arm, in rad and rad/s.
const std::vector<double> kMinPositions = {Rad(-362.5), Rad(-122.5), Rad(-362.5), Rad(-122.5),
                                           Rad(-362.5), Rad(-122.5), Rad(-362.5)};
const std::vector<double> kMaxPositions = {Rad(362.5), Rad(122.5), Rad(362.5), Rad(122.5),
                                           Rad(362.5), Rad(122.5), Rad(362.5)};
const std::vector<double> kNormalVelocities = {Rad(130), Rad(130), Rad(130), Rad(130),
                                               Rad(355), Rad(355), Rad(355)};
const std::vector<double> kReducedVelocities = {Rad(78),  Rad(78),  Rad(78), Rad(78),
                                                Rad(213), Rad(213), Rad(213)};

std::vector<float> Floats(const std::vector<double>& values) {
  return {values.begin(), values.end()};
}

// `values` with entry `i` replaced by `value`.
std::vector<double> With(std::vector<double> values, std::size_t i, double value) {
  values.at(i) = value;
  return values;
}

class SafetyTest : public test::SimulatorSuite {
 protected:
  // A ready robot in IDLE with a Safety of its own.
  void Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    Connect();
  }
  void Connect() {
    sim().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
    safety_ = std::make_unique<Safety>(*robot_, kPassword);
    host_->ClearRecords();
  }
  void TearDown() override {
    safety_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  std::vector<zenoh_msgs::vyr_msg::RPCRequest> Requests(std::uint16_t op_code) const {
    return test::VyrRequestsOf(*host_, op_code);
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Safety> safety_;
};

// ---- construction -------------------------------------------------------------------------------

TEST_F(SafetyTest, OnlyTheExactPasswordAuthorizesAndNothingIsSent) {
  Start();
  const std::vector<std::string> wrongs = {"",       "KVsaf",  "KVsafe ",
                                           "kvsafe", "KVsafE", std::string("KVsafe\0", 7)};
  for (const std::string& wrong : wrongs) {
    EXPECT_EQ(OutcomeOf([&] { Safety(*robot_, wrong); }),
              Invalid("[korvo::vyr::Safety] The provided password is incorrect"))
        << '"' << wrong << '"';
  }
  EXPECT_NO_THROW(Safety(*robot_, kPassword));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

// ---- limits and inputs --------------------------------------------------------------------------

TEST_F(SafetyTest, DefaultLimitsCoverEachArmOfTheModel) {
  Start(ProductModel::Olvar_LL);
  const auto limits = safety_->default_limits();
  for (const auto* map :
       {&limits.q_min, &limits.q_max, &limits.dq_max_normal, &limits.dq_max_reduced}) {
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ(map->at(JointGroup::ARM_1), map->at(JointGroup::ARM_2));
  }
  EXPECT_EQ(limits.q_min.at(JointGroup::ARM_1), kMinPositions);
  EXPECT_EQ(limits.q_max.at(JointGroup::ARM_1), kMaxPositions);
  EXPECT_EQ(limits.dq_max_normal.at(JointGroup::ARM_1), kNormalVelocities);
  EXPECT_EQ(limits.dq_max_reduced.at(JointGroup::ARM_1), kReducedVelocities);

  Safety single(*robot_, kPassword);
  robot_.reset();
  host_ = &Host(ProductModel::Olvar_L);
  Connect();
  const auto one_arm = safety_->default_limits();
  EXPECT_EQ(one_arm.q_min.size(), 1u);
  EXPECT_EQ(one_arm.dq_max_reduced.count(JointGroup::ARM_1), 1u);
}

TEST_F(SafetyTest, CurrentLimitsWidenTheReportedOnesAndFollowTheSafetyState) {
  host_ = &Host(ProductModel::Olvar_L);
  const unsigned n = sim().model().full_dof();
  std::vector<double> q_min(n, -2.0), q_max(n, 2.0), dq_max(n, 1.5), tau_max(n, 50.0);
  q_max[0] = 6.2832;
  dq_max[0] = 2.5;
  sim().SetJointLimits(q_min, q_max, dq_max, tau_max);
  Connect();

  auto limits = safety_->current_limits();
  ASSERT_EQ(limits.q_max.size(), 1u);
  // The robot reports 32-bit values.
  EXPECT_NEAR(limits.q_max.at(JointGroup::ARM_1)[0], 6.3268332, 1e-6);
  EXPECT_NEAR(limits.q_max.at(JointGroup::ARM_1)[1], 2.0436332, 1e-6);
  EXPECT_NEAR(limits.q_min.at(JointGroup::ARM_1)[1], -2.0436332, 1e-6);
  EXPECT_NEAR(limits.dq_max_normal.at(JointGroup::ARM_1)[0], 2.674533, 1e-6);
  EXPECT_EQ(limits.dq_max_normal.at(JointGroup::ARM_1).size(), 7u);
  EXPECT_TRUE(limits.dq_max_reduced.at(JointGroup::ARM_1).empty());

  sim().SetSafetyState(10);  // REDUCED
  ASSERT_TRUE(Eventually([&] { return robot_->reduced(); }));
  limits = safety_->current_limits();
  EXPECT_TRUE(limits.dq_max_normal.at(JointGroup::ARM_1).empty());
  // Still the velocities reported at connection time, now as those of the reduced state.
  EXPECT_NEAR(limits.dq_max_reduced.at(JointGroup::ARM_1)[0], 2.674533, 1e-6);
  EXPECT_NEAR(limits.dq_max_reduced.at(JointGroup::ARM_1)[6], 1.674533, 1e-6);
}

TEST_F(SafetyTest, SafetyInputsReadTheLatestStream) {
  Start();
  const std::array<bool, 8> inputs = {true, false, false, true, true, false, true, false};
  sim().SetSafetyInputs(inputs);
  EXPECT_TRUE(Eventually([&] { return safety_->safety_inputs() == inputs; }));
  sim().SetSafetyInputs({});
  EXPECT_TRUE(Eventually([&] { return safety_->safety_inputs() == std::array<bool, 8>{}; }));
}

// ---- the setters' checks ------------------------------------------------------------------------

struct SetterCase {
  const char* name;
  std::function<void(Safety&)> call;
  Outcome outcome;
};

using test::PrintTo;

std::string Message(const char* operation, const std::string& text) {
  return std::string("[korvo::vyr::Safety::") + operation + "] " + text;
}

const std::string kPositionRange =
    "Input parameter [min_positions] contains value outside the "
    "valid range";
const std::string kVelocityRange =
    "Input parameter [max_velocities] contains value outside the "
    "valid range";

std::vector<SetterCase> SetterCases() {
  const auto positions = [](std::vector<double> min, std::vector<double> max) {
    return [=](Safety& s) { s.SetJointPositionLimits(JointGroup::ARM_1, min, max); };
  };
  const auto normal = [](std::vector<double> v) {
    return [=](Safety& s) { s.SetJointVelocityNormalLimits(JointGroup::ARM_1, v); };
  };
  const auto reduced = [](std::vector<double> v) {
    return [=](Safety& s) { s.SetJointVelocityReducedLimits(JointGroup::ARM_1, v); };
  };
  const auto regulator = [](double factor, std::uint32_t threshold) {
    return [=](Safety& s) { s.SetJointOutputTorqueRegulator(factor, threshold); };
  };
  const auto not_single_arm = [](const char* op, const char* group) {
    return Invalid(Message(op, std::string("The specified joint group [") + group +
                                   "] is not an existing single-arm joint group in the connected "
                                   "robot"));
  };
  const auto pos = "SetJointPositionLimits";
  const auto vel = "SetJointVelocityNormalLimits";
  const auto red = "SetJointVelocityReducedLimits";
  const auto reg = "SetJointOutputTorqueRegulator";
  const std::vector<double> floor(7, 0.872665);
  return {
      {"PositionsAtTheDefaults", positions(kMinPositions, kMaxPositions), Accepted()},
      {"PositionsOfAnotherArm",
       [=](Safety& s) {
         s.SetJointPositionLimits(JointGroup::ARM_2, kMinPositions, kMaxPositions);
       },
       not_single_arm(pos, "ARM_2")},
      {"PositionsOfAGroupWithoutName",
       [=](Safety& s) {
         s.SetJointPositionLimits(static_cast<JointGroup>(99), kMinPositions, kMaxPositions);
       },
       not_single_arm(pos, "UNKNOWN")},
      {"VelocitiesOfAllJoints",
       [=](Safety& s) { s.SetJointVelocityNormalLimits(JointGroup::ALL, floor); },
       not_single_arm(vel, "ALL")},
      {"ShortMinimums", positions(std::vector<double>(6, 0.0), kMaxPositions),
       Invalid(
           Message(pos, "Size of input vector [min_positions] does not match joint group DoF"))},
      {"LongMaximumsOnly", positions(kMinPositions, std::vector<double>(8, 0.0)),
       Invalid(
           Message(pos, "Size of input vector [max_positions] does not match joint group DoF"))},
      {"MinimumBelowTheDefault",
       positions(With(kMinPositions, 0, Rad(-362.5) - 1e-9), kMaxPositions),
       Invalid(Message(pos, kPositionRange))},
      {"MinimumNaN", positions(With(kMinPositions, 3, kNaN), kMaxPositions),
       Invalid(Message(pos, kPositionRange))},
      {"OutOfRangeMinimumBeforeMaximum",
       positions(With(kMinPositions, 1, -4.0), With(kMaxPositions, 1, 4.0)),
       Invalid(Message(pos, kPositionRange))},
      {"MaximumAboveTheDefault", positions(kMinPositions, With(kMaxPositions, 6, Rad(363))),
       Invalid(Message(pos,
                       "Input parameter [max_positions] contains value outside the valid "
                       "range"))},
      {"MaximumInfinite", positions(kMinPositions, With(kMaxPositions, 2, kInf)),
       Invalid(Message(pos,
                       "Input parameter [max_positions] contains value outside the valid "
                       "range"))},
      {"MinimumAboveItsMaximum",
       positions(With(kMinPositions, 2, 0.5), With(kMaxPositions, 2, 0.4)),
       Invalid(Message(pos, kPositionRange))},
      {"EmptyRangeOfOneValue", positions(With(kMinPositions, 2, 0.5), With(kMaxPositions, 2, 0.5)),
       Accepted()},
      {"VelocitiesAtTheFloor", normal(floor), Accepted()},
      {"VelocityBelowTheFloor", normal(With(floor, 0, 0.87)),
       Invalid(Message(vel, kVelocityRange))},
      {"VelocityAboveTheDefault", normal(With(kNormalVelocities, 4, Rad(356))),
       Invalid(Message(vel, kVelocityRange))},
      {"VelocityNaN", normal(With(floor, 6, kNaN)), Invalid(Message(vel, kVelocityRange))},
      {"VelocitiesOfTheWrongSize", normal(std::vector<double>(7 + 1, 1.0)),
       Invalid(
           Message(vel, "Size of input vector [max_velocities] does not match joint group DoF"))},
      {"ReducedUpToTheNormalDefaults", reduced(kNormalVelocities), Accepted()},
      {"ReducedAboveTheNormalDefault", reduced(With(kNormalVelocities, 0, Rad(131))),
       Invalid(Message(red, kVelocityRange))},
      {"ReducedOfTheWrongSize", reduced({}),
       Invalid(
           Message(red, "Size of input vector [max_velocities] does not match joint group DoF"))},
      {"RegulatorDefaults", regulator(1.3, 50), Accepted()},
      {"RegulatorFactorZero", regulator(0.0, 10),
       Invalid(Message(reg, "Input parameter [limiting_factor] is not positive"))},
      {"RegulatorFactorNegative", regulator(-1.0, 10),
       Invalid(Message(reg, "Input parameter [limiting_factor] is not positive"))},
      {"RegulatorFactorNaN", regulator(kNaN, 10),
       Invalid(Message(reg, "Input parameter [limiting_factor] is not positive"))},
      {"RegulatorFactorInfinite", regulator(kInf, 10),
       Invalid(Message(reg, "Input parameter [limiting_factor] is not positive"))},
      {"RegulatorThresholdZero", regulator(1.0, 0),
       Invalid(Message(reg, "Input parameter [error_threshold] is not positive"))},
      {"RegulatorThresholdAtTheSignedMaximum", regulator(1.0, 2147483647u), Accepted()},
      {"RegulatorThresholdBeyondTheSignedRange", regulator(1.0, 2147483648u),
       Invalid(Message(reg, "Input parameter [error_threshold] exceeds 2147483647"))},
      {"RegulatorThresholdAtTheUnsignedMaximum", regulator(1.0, 4294967295u),
       Invalid(Message(reg, "Input parameter [error_threshold] exceeds 2147483647"))},
  };
}

class SafetySetterTest : public SafetyTest, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(SafetySetterTest, ChecksBeforeSendingAndTheRobotAccepts) {
  Start();
  const auto& c = GetParam();
  EXPECT_EQ(OutcomeOf([&] { c.call(*safety_); }), c.outcome);
  // Refused calls send nothing; accepted ones one request that the robot accepted.
  std::size_t sent = 0;
  for (const std::uint16_t op : {100, 101, 102, 103}) sent += Requests(op).size();
  EXPECT_EQ(sent, c.outcome == Accepted() ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SafetySetterTest, ::testing::ValuesIn(SetterCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SafetyTest, OutsideIdleTheModeIsCheckedAfterTheGroupAndBeforeTheValues) {
  Start();
  robot_->SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);
  host_->ClearRecords();
  const auto idle = [](const char* op) { return Logic(Message(op, "Robot is not in IDLE mode")); };
  const std::vector<double> none;
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointPositionLimits(JointGroup::ARM_1, none, none); }),
            idle("SetJointPositionLimits"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointVelocityNormalLimits(JointGroup::ARM_1, none); }),
            idle("SetJointVelocityNormalLimits"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointVelocityReducedLimits(JointGroup::ARM_1, none); }),
            idle("SetJointVelocityReducedLimits"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointOutputTorqueRegulator(0.0, 0); }),
            idle("SetJointOutputTorqueRegulator"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointVelocityReducedLimits(JointGroup::ARM_2, none); }),
            Invalid(Message("SetJointVelocityReducedLimits",
                            "The specified joint group [ARM_2] is not an existing single-arm "
                            "joint group in the connected robot")));
  for (const std::uint16_t op : {100, 101, 102, 103}) EXPECT_TRUE(Requests(op).empty()) << op;
}

TEST_F(SafetyTest, AnArmTheDefaultsDoNotCoverIsRefusedBeforeItsValuesAreRead) {
  // A robot reporting an arm of 8 joints (its external axis counted in).
  host_ = &Host(ProductModel::Olvar_L, 1);
  sim().ReportGroupDoF(JointGroup::ARM_1, 8);
  Connect();
  ASSERT_EQ(robot_->info().DoF.at(JointGroup::ARM_1), 8);
  const std::vector<double> eight(8, 1.0);
  const auto uncovered = [](const char* op) {
    return Logic(Message(op,
                         "The default safety limits do not cover the 8 joints of joint group "
                         "[ARM_1]"));
  };
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointPositionLimits(JointGroup::ARM_1, eight, eight); }),
            uncovered("SetJointPositionLimits"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointVelocityNormalLimits(JointGroup::ARM_1, eight); }),
            uncovered("SetJointVelocityNormalLimits"));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointVelocityReducedLimits(JointGroup::ARM_1, eight); }),
            uncovered("SetJointVelocityReducedLimits"));
  // The sizes are still checked against the reported DoF first.
  EXPECT_EQ(OutcomeOf([&] {
              safety_->SetJointVelocityReducedLimits(JointGroup::ARM_1, kNormalVelocities);
            }),
            Invalid(Message("SetJointVelocityReducedLimits",
                            "Size of input vector [max_velocities] does not match joint group "
                            "DoF")));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

// ---- requests and their effect ------------------------------------------------------------------

TEST_F(SafetyTest, RequestsCarryTheGroupAndTheValuesNarrowedToFloats) {
  Start(ProductModel::Olvar_LL);
  const auto min = With(kMinPositions, 1, -1.1);
  const auto max = With(kMaxPositions, 1, 1.2);
  safety_->SetJointPositionLimits(JointGroup::ARM_2, min, max);
  const auto normal = With(kNormalVelocities, 0, 1.5);
  safety_->SetJointVelocityNormalLimits(JointGroup::ARM_1, normal);
  const std::vector<double> reduced(7, 1.0);
  safety_->SetJointVelocityReducedLimits(JointGroup::ARM_2, reduced);
  safety_->SetJointOutputTorqueRegulator(1.3, 50);

  const auto positions = Requests(100);
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].joint_groups,
            std::vector<std::uint16_t>{static_cast<std::uint16_t>(JointGroup::ARM_2)});
  auto both = Floats(min);
  const auto upper = Floats(max);
  both.insert(both.end(), upper.begin(), upper.end());
  EXPECT_EQ(positions[0].float_container, both);
  EXPECT_TRUE(positions[0].int_container.empty());
  const auto velocities = Requests(101);
  ASSERT_EQ(velocities.size(), 1u);
  EXPECT_EQ(velocities[0].joint_groups, std::vector<std::uint16_t>{kArm1});
  EXPECT_EQ(velocities[0].float_container, Floats(normal));
  ASSERT_EQ(Requests(102).size(), 1u);
  EXPECT_EQ(Requests(102)[0].float_container, Floats(reduced));
  const auto regulator = Requests(103);
  ASSERT_EQ(regulator.size(), 1u);
  EXPECT_TRUE(regulator[0].joint_groups.empty());
  EXPECT_EQ(regulator[0].int_container, std::vector<std::int32_t>{50});
  EXPECT_EQ(regulator[0].float_container, std::vector<float>{1.3f});
}

TEST_F(SafetyTest, NewLimitsShowAfterTheRobotRebootsAndTheRegulatorAtOnce) {
  Start();
  const auto min = With(kMinPositions, 0, -1.0);
  const auto max = With(kMaxPositions, 0, 1.0);
  safety_->SetJointPositionLimits(JointGroup::ARM_1, min, max);
  safety_->SetJointVelocityNormalLimits(JointGroup::ARM_1, std::vector<double>(7, 1.25));
  safety_->SetJointOutputTorqueRegulator(1.1, 20);
  const auto regulator = sim().torque_regulator();
  EXPECT_EQ(regulator.limiting_factor, 1.1f);
  EXPECT_EQ(regulator.error_threshold, 20u);

  // Pending until the robot reboots; a new connection then reads them.
  auto current = Safety(*robot_, kPassword).current_limits();
  EXPECT_NE(current.q_min.at(JointGroup::ARM_1)[0], -1.0 - 0.0436332);
  sim().Reboot();
  safety_.reset();
  robot_.reset();
  Connect();
  current = safety_->current_limits();
  EXPECT_NEAR(current.q_min.at(JointGroup::ARM_1)[0], -1.0436332, 1e-6);
  EXPECT_NEAR(current.q_max.at(JointGroup::ARM_1)[0], 1.0436332, 1e-6);
  EXPECT_NEAR(current.q_max.at(JointGroup::ARM_1)[1], F(kMaxPositions[1]) + 0.0436332, 1e-6);
  for (const double v : current.dq_max_normal.at(JointGroup::ARM_1)) {
    EXPECT_NEAR(v, 1.25 + 0.174533, 1e-6);
  }
}

TEST_F(SafetyTest, ARefusedRequestIsAFailureToDeliver) {
  Start();
  for (const std::uint16_t op : {100, 101, 102, 103}) {
    host_->SetReplyRule(sim::Server::kVyr, op, {sim::ReplyAction::kRefuse});
  }
  EXPECT_EQ(OutcomeOf([&] {
              safety_->SetJointPositionLimits(JointGroup::ARM_1, kMinPositions, kMaxPositions);
            }),
            Runtime(Message("SetJointPositionLimits", "Failed to deliver the request")));
  EXPECT_EQ(OutcomeOf([&] {
              safety_->SetJointVelocityNormalLimits(JointGroup::ARM_1, kNormalVelocities);
            }),
            Runtime(Message("SetJointVelocityNormalLimits", "Failed to deliver the request")));
  EXPECT_EQ(OutcomeOf([&] {
              safety_->SetJointVelocityReducedLimits(JointGroup::ARM_1, kNormalVelocities);
            }),
            Runtime(Message("SetJointVelocityReducedLimits", "Failed to deliver the request")));
  EXPECT_EQ(OutcomeOf([&] { safety_->SetJointOutputTorqueRegulator(1.3, 50); }),
            Runtime(Message("SetJointOutputTorqueRegulator", "Failed to deliver the request")));
}

}  // namespace
}  // namespace korvo::vyr
