// The simulated robot's safety settings as pure logic: the operations 100 to 103 answered from
// built requests (and what they refuse), new limits held pending until a reboot, operation 6
// reporting the limits applied and the velocity limits of the safety state, and the safety input
// ports of the basic stream.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "case_name.hpp"
#include "interfaces/safety_defaults.hpp"
#include "sim/robot_model.hpp"
#include "sim/safety_settings.hpp"
#include "sim/sim_robot.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::JointGroup;
using vyr::Mode;
namespace vyr_msg = zenoh_msgs::vyr_msg;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::uint16_t kArm1 = 3, kArm2 = 4;
constexpr double kPi = 3.141592653589793;

double Radians(double degrees) { return degrees / 180.0 * kPi; }

// What a client sends for a double limit.
float Narrow(double v) { return static_cast<float>(v); }
float Below(double v) { return std::nextafter(Narrow(v), -kInf); }
float Above(double v) { return std::nextafter(Narrow(v), kInf); }

std::vector<float> Narrow(const std::vector<double>& v) { return {v.begin(), v.end()}; }
std::vector<double> Widen(const std::vector<float>& v) { return {v.begin(), v.end()}; }

std::vector<float> Concat(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

vyr_msg::RPCRequest Limits(std::uint16_t op_code, std::vector<std::uint16_t> groups,
                           std::vector<float> floats) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.joint_groups = std::move(groups);
  r.float_container = std::move(floats);
  return r;
}

vyr_msg::RPCRequest Regulator(std::vector<float> limiting_factor,
                              std::vector<std::int32_t> error_threshold) {
  vyr_msg::RPCRequest r;
  r.op_code = 103;
  r.float_container = std::move(limiting_factor);
  r.int_container = std::move(error_threshold);
  return r;
}

vyr_msg::RPCRequest SwitchMode(Mode mode) {
  vyr_msg::RPCRequest r;
  r.op_code = 8;
  r.int_container = {static_cast<std::int32_t>(mode)};
  return r;
}

// The defaults of one arm of every product model (both arms carry the same).
const vyr::SafetyLimits kDefaults = *vyr_impl::DefaultSafetyLimits(vyr::ProductModel::Olvar_LL);
const std::vector<double>& kQMin = kDefaults.q_min.at(JointGroup::ARM_1);
const std::vector<double>& kQMax = kDefaults.q_max.at(JointGroup::ARM_1);
const std::vector<double>& kDqNormal = kDefaults.dq_max_normal.at(JointGroup::ARM_1);

// Valid limits of a 7-joint arm: half the default ranges, and velocities between the lowest
// limit and the normal-state defaults.
std::vector<float> HalfMin() {
  std::vector<float> v;
  for (const double x : kQMin) v.push_back(Narrow(x / 2));
  return v;
}
std::vector<float> HalfMax() {
  std::vector<float> v;
  for (const double x : kQMax) v.push_back(Narrow(x / 2));
  return v;
}
std::vector<float> Velocities() { return std::vector<float>(7, 1.5f); }

// One row of operation 6's reply for `group`: q_max, q_min, dq_max and tau_max of its joints.
struct ReportedLimits {
  std::vector<float> q_max, q_min, dq_max, tau_max;
};

ReportedLimits Reported(SimRobot& robot, std::uint16_t group) {
  vyr_msg::RPCRequest r;
  r.op_code = 6;
  r.joint_groups = {group};
  const auto reply = robot.HandleVyr(r);
  EXPECT_TRUE(reply.success);
  if (reply.float2d_container.size() != 1 || reply.float2d_container[0].size() % 4 != 0) {
    ADD_FAILURE() << "malformed joint limits";
    return {};
  }
  const auto& row = reply.float2d_container[0];
  const auto n = static_cast<std::ptrdiff_t>(row.size() / 4);
  const auto part = [&](std::ptrdiff_t i) {
    return std::vector<float>(row.begin() + i * n, row.begin() + (i + 1) * n);
  };
  return {part(0), part(1), part(2), part(3)};
}

// The model's limits of one arm, narrowed as operation 6 reports them.
std::vector<float> ModelLimits(const SimRobot& robot, JointGroup arm, double JointSpec::*field,
                               double scale = 1.0) {
  const auto [start, n] = robot.model().groups().at(arm);
  std::vector<float> v;
  for (unsigned j = 0; j < n; ++j) {
    v.push_back(Narrow(robot.model().joints()[start + j].*field * scale));
  }
  return v;
}

// ---- refused requests ---------------------------------------------------------------------------

struct RefusedCase {
  const char* name;
  std::function<vyr_msg::RPCRequest()> request;
  Mode mode = Mode::IDLE;
};

// A two-arm robot, ready, in the case's mode.
class RefusedSafetyRequest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSafetyRequest, RepliesFailureAndChangesNothing) {
  SimRobot robot("SN-safety-refused", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  robot.MakeReady();
  ASSERT_TRUE(robot.HandleVyr(SwitchMode(GetParam().mode)).success);
  const auto request = GetParam().request();
  const auto reply = robot.HandleVyr(request);
  EXPECT_FALSE(reply.success);
  EXPECT_EQ(reply.op_code, request.op_code);
  const auto pending = robot.pending_safety_limits();
  EXPECT_TRUE(pending.q_min.empty() && pending.q_max.empty() && pending.dq_max_normal.empty() &&
              pending.dq_max_reduced.empty());
  EXPECT_EQ(robot.torque_regulator(), TorqueRegulator{});
}

// A valid request with one change.
template <typename Change>
std::function<vyr_msg::RPCRequest()> Changed(vyr_msg::RPCRequest request, Change change) {
  return [request, change]() mutable {
    change(request);
    return request;
  };
}

const vyr_msg::RPCRequest kPositions = Limits(100, {kArm1}, Concat(HalfMin(), HalfMax()));
const vyr_msg::RPCRequest kNormal = Limits(101, {kArm2}, Velocities());
const vyr_msg::RPCRequest kReduced = Limits(102, {kArm1}, Velocities());
const vyr_msg::RPCRequest kRegulator = Regulator({2.0f}, {10});

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSafetyRequest,
    ::testing::Values(
        // Positions.
        RefusedCase{"PositionsOutsideIdle", [] { return kPositions; },
                    Mode::NRT_PRIMITIVE_EXECUTION},
        RefusedCase{"PositionsWithoutGroup",
                    Changed(kPositions, [](auto& r) { r.joint_groups.clear(); })},
        RefusedCase{"PositionsForTwoGroups", Changed(kPositions,
                                                     [](auto& r) {
                                                       r.joint_groups = {kArm1, kArm2};
                                                     })},
        RefusedCase{"PositionsForAll", Changed(kPositions, [](auto& r) { r.joint_groups = {0}; })},
        RefusedCase{"PositionsForArms", Changed(kPositions, [](auto& r) { r.joint_groups = {2}; })},
        RefusedCase{"PositionsForUnknownGroup",
                    Changed(kPositions, [](auto& r) { r.joint_groups = {99}; })},
        RefusedCase{"PositionsOneShort",
                    Changed(kPositions, [](auto& r) { r.float_container.pop_back(); })},
        RefusedCase{"PositionsOneTooMany",
                    Changed(kPositions, [](auto& r) { r.float_container.push_back(0.0f); })},
        RefusedCase{"PositionsMinimumsOnly",
                    Changed(kPositions, [](auto& r) { r.float_container.resize(7); })},
        RefusedCase{"PositionNaN",
                    Changed(kPositions, [](auto& r) { r.float_container[3] = kNaN; })},
        RefusedCase{"PositionInfinite",
                    Changed(kPositions, [](auto& r) { r.float_container[10] = kInf; })},
        RefusedCase{"MinimumBelowDefault",
                    Changed(kPositions, [](auto& r) { r.float_container[0] = Below(kQMin[0]); })},
        RefusedCase{"MinimumAboveDefaultMaximum", Changed(kPositions,
                                                          [](auto& r) {
                                                            r.float_container[1] = Above(kQMax[1]);
                                                            r.float_container[8] = Above(kQMax[1]);
                                                          })},
        RefusedCase{"MaximumAboveDefault",
                    Changed(kPositions, [](auto& r) { r.float_container[13] = Above(kQMax[6]); })},
        RefusedCase{"MaximumBelowDefaultMinimum", Changed(kPositions,
                                                          [](auto& r) {
                                                            r.float_container[2] = Narrow(kQMin[2]);
                                                            r.float_container[9] = Below(kQMin[2]);
                                                          })},
        RefusedCase{"MinimumAboveMaximum", Changed(kPositions,
                                                   [](auto& r) {
                                                     r.float_container[4] = 0.2f;
                                                     r.float_container[11] = 0.1f;
                                                   })},
        RefusedCase{"PositionsWithInts",
                    Changed(kPositions, [](auto& r) { r.int_container = {1}; })},
        RefusedCase{"PositionsWithStrings",
                    Changed(kPositions, [](auto& r) { r.string_container = {"ARM_1"}; })},
        RefusedCase{"PositionsWithFloat2d",
                    Changed(kPositions, [](auto& r) { r.float2d_container = {{1.0f}}; })},
        // Velocities.
        RefusedCase{"NormalOutsideIdle", [] { return kNormal; }, Mode::NRT_JOINT_POSITION},
        RefusedCase{"ReducedOutsideIdle", [] { return kReduced; }, Mode::NRT_PLAN_EXECUTION},
        RefusedCase{"NormalForExternalAxes",
                    Changed(kNormal, [](auto& r) { r.joint_groups = {5}; })},
        RefusedCase{"ReducedWithoutGroup",
                    Changed(kReduced, [](auto& r) { r.joint_groups.clear(); })},
        RefusedCase{"NormalOneShort",
                    Changed(kNormal, [](auto& r) { r.float_container.pop_back(); })},
        RefusedCase{"ReducedOneTooMany",
                    Changed(kReduced, [](auto& r) { r.float_container.push_back(1.5f); })},
        RefusedCase{"NormalBelowLowest",
                    Changed(kNormal, [](auto& r) { r.float_container[0] = 0.87f; })},
        RefusedCase{"ReducedJustBelowLowest", Changed(kReduced,
                                                      [](auto& r) {
                                                        r.float_container[6] = Below(
                                                            vyr_impl::kMinSafetyVelocityLimit);
                                                      })},
        RefusedCase{"NormalAboveDefault",
                    Changed(kNormal, [](auto& r) { r.float_container[4] = Above(kDqNormal[4]); })},
        RefusedCase{"ReducedAboveNormalDefault",
                    Changed(kReduced, [](auto& r) { r.float_container[0] = Above(kDqNormal[0]); })},
        RefusedCase{"NormalNaN", Changed(kNormal, [](auto& r) { r.float_container[2] = kNaN; })},
        RefusedCase{"ReducedInfinite",
                    Changed(kReduced, [](auto& r) { r.float_container[2] = kInf; })},
        RefusedCase{"ReducedNegative",
                    Changed(kReduced, [](auto& r) { r.float_container[5] = -1.5f; })},
        RefusedCase{"NormalWithBools",
                    Changed(kNormal, [](auto& r) { r.bool_container = {true}; })},
        RefusedCase{"ReducedWithBytes", Changed(kReduced, [](auto& r) { r.byte_container = {1}; })},
        // The torque regulator.
        RefusedCase{"RegulatorOutsideIdle", [] { return kRegulator; },
                    Mode::NRT_PRIMITIVE_EXECUTION},
        RefusedCase{"RegulatorZeroThreshold", [] { return Regulator({2.0f}, {0}); }},
        RefusedCase{"RegulatorNegativeThreshold", [] { return Regulator({2.0f}, {-5}); }},
        RefusedCase{"RegulatorZeroFactor", [] { return Regulator({0.0f}, {10}); }},
        RefusedCase{"RegulatorNegativeFactor", [] { return Regulator({-1.0f}, {10}); }},
        RefusedCase{"RegulatorNaNFactor", [] { return Regulator({kNaN}, {10}); }},
        RefusedCase{"RegulatorInfiniteFactor", [] { return Regulator({kInf}, {10}); }},
        RefusedCase{"RegulatorWithoutThreshold", [] { return Regulator({2.0f}, {}); }},
        RefusedCase{"RegulatorWithoutFactor", [] { return Regulator({}, {10}); }},
        RefusedCase{"RegulatorTwoFactors", [] { return Regulator({2.0f, 1.0f}, {10}); }},
        RefusedCase{"RegulatorTwoThresholds", [] { return Regulator({2.0f}, {10, 20}); }},
        RefusedCase{"RegulatorForAGroup",
                    Changed(kRegulator, [](auto& r) { r.joint_groups = {kArm1}; })},
        RefusedCase{"RegulatorWithStrings",
                    Changed(kRegulator, [](auto& r) { r.string_container = {""}; })}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SafetySettings, ASingleArmRobotRefusesTheSecondArm) {
  SimRobot robot("SN-safety-one-arm", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_FALSE(robot.HandleVyr(Limits(100, {kArm2}, Concat(HalfMin(), HalfMax()))).success);
  EXPECT_FALSE(robot.HandleVyr(Limits(101, {kArm2}, Velocities())).success);
  EXPECT_TRUE(robot.HandleVyr(Limits(101, {kArm1}, Velocities())).success);
}

// ---- accepted requests --------------------------------------------------------------------------

TEST(SafetySettings, AcceptsLimitsExactlyAtTheNarrowedDefaults) {
  SimRobot robot("SN-safety-bounds", MakeRobotModel(vyr::ProductModel::TAVU_Core, 0));
  // The full default range, on the second arm.
  const auto low = Narrow(kQMin), high = Narrow(kQMax);
  ASSERT_EQ(low[0], Narrow(Radians(-362.5)));
  ASSERT_TRUE(robot.HandleVyr(Limits(100, {kArm2}, Concat(low, high))).success);
  // The lowest velocity limit everywhere; the normal-state defaults also in the reduced state,
  // above its own defaults.
  const std::vector<float> lowest(7, Narrow(vyr_impl::kMinSafetyVelocityLimit));
  ASSERT_TRUE(robot.HandleVyr(Limits(101, {kArm1}, lowest)).success);
  ASSERT_EQ(Narrow(kDqNormal)[0], Narrow(Radians(130)));
  ASSERT_TRUE(robot.HandleVyr(Limits(102, {kArm1}, Narrow(kDqNormal))).success);

  const auto pending = robot.pending_safety_limits();
  using Map = std::map<JointGroup, std::vector<double>>;
  EXPECT_EQ(pending.q_min, (Map{{JointGroup::ARM_2, Widen(low)}}));
  EXPECT_EQ(pending.q_max, (Map{{JointGroup::ARM_2, Widen(high)}}));
  EXPECT_EQ(pending.dq_max_normal, (Map{{JointGroup::ARM_1, Widen(lowest)}}));
  EXPECT_EQ(pending.dq_max_reduced, (Map{{JointGroup::ARM_1, Widen(Narrow(kDqNormal))}}));
}

TEST(SafetySettings, AcceptsAMinimumEqualToItsMaximum) {
  SimRobot robot("SN-safety-equal", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  const std::vector<float> zeros(7, 0.0f);
  ASSERT_TRUE(robot.HandleVyr(Limits(100, {kArm1}, Concat(zeros, zeros))).success);
  EXPECT_EQ(robot.pending_safety_limits().q_min.at(JointGroup::ARM_1), std::vector<double>(7));
}

TEST(SafetySettings, ALaterRequestReplacesTheGroupsPendingLimits) {
  SimRobot robot("SN-safety-replace", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  ASSERT_TRUE(robot.HandleVyr(Limits(101, {kArm1}, Velocities())).success);
  const std::vector<float> faster(7, 2.0f);
  ASSERT_TRUE(robot.HandleVyr(Limits(101, {kArm1}, faster)).success);
  EXPECT_EQ(robot.pending_safety_limits().dq_max_normal,
            (std::map<JointGroup, std::vector<double>>{{JointGroup::ARM_1, Widen(faster)}}));
}

TEST(SafetySettings, TheTorqueRegulatorTakesEffectAtOnce) {
  SimRobot robot("SN-safety-regulator", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_EQ(robot.torque_regulator(), (TorqueRegulator{1.3, 50}));
  const auto reply = robot.HandleVyr(Regulator({2.7f}, {120}));
  ASSERT_TRUE(reply.success);
  EXPECT_EQ(reply.op_code, 103);
  EXPECT_EQ(robot.torque_regulator(), (TorqueRegulator{2.7f, 120}));
  // Nothing waits for a reboot.
  EXPECT_TRUE(robot.pending_safety_limits().q_min.empty());
  robot.Reboot();
  EXPECT_EQ(robot.torque_regulator(), (TorqueRegulator{2.7f, 120}));
}

// ---- pending limits and the reboot -----------------------------------------------------------

TEST(SafetySettings, NewLimitsArePendingUntilARebootAppliesThem) {
  SimRobot robot("SN-safety-reboot", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  robot.MakeReady();
  const auto before = Reported(robot, kArm1);
  const auto arm2_before = Reported(robot, kArm2);
  const std::vector<float> normal(7, 1.25f), reduced(7, 0.9f);
  ASSERT_TRUE(robot.HandleVyr(Limits(100, {kArm1}, Concat(HalfMin(), HalfMax()))).success);
  ASSERT_TRUE(robot.HandleVyr(Limits(101, {kArm1}, normal)).success);
  ASSERT_TRUE(robot.HandleVyr(Limits(102, {kArm1}, reduced)).success);
  EXPECT_EQ(Reported(robot, kArm1).q_min, before.q_min);
  EXPECT_EQ(Reported(robot, kArm1).dq_max, before.dq_max);

  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION)).success);
  robot.Reboot();
  EXPECT_EQ(robot.mode(), Mode::IDLE);
  const auto pending = robot.pending_safety_limits();
  EXPECT_TRUE(pending.q_min.empty() && pending.q_max.empty() && pending.dq_max_normal.empty() &&
              pending.dq_max_reduced.empty());

  const auto after = Reported(robot, kArm1);
  EXPECT_EQ(after.q_min, HalfMin());
  EXPECT_EQ(after.q_max, HalfMax());
  EXPECT_EQ(after.dq_max, normal);
  EXPECT_EQ(after.tau_max, before.tau_max);
  robot.SetSafetyState(safety::kReduced);
  EXPECT_EQ(Reported(robot, kArm1).dq_max, reduced);
  // The other arm keeps its limits.
  robot.SetSafetyState(safety::kNormal);
  const auto arm2_after = Reported(robot, kArm2);
  EXPECT_EQ(arm2_after.q_min, arm2_before.q_min);
  EXPECT_EQ(arm2_after.q_max, arm2_before.q_max);
  EXPECT_EQ(arm2_after.dq_max, arm2_before.dq_max);

  // A second reboot with nothing pending changes nothing.
  robot.Reboot();
  EXPECT_EQ(Reported(robot, kArm1).q_min, HalfMin());
}

TEST(SafetySettings, OperationSixReportsTheVelocityLimitsOfTheSafetyState) {
  SimRobot robot("SN-safety-reduced", MakeRobotModel(vyr::ProductModel::TAVU_Plus, 0));
  robot.MakeReady();
  const auto normal = ModelLimits(robot, JointGroup::ARM_2, &JointSpec::dq_max);
  EXPECT_EQ(Reported(robot, kArm2).dq_max, normal);
  robot.SetSafetyState(safety::kReduced);
  const auto reported = Reported(robot, kArm2);
  EXPECT_EQ(reported.dq_max, ModelLimits(robot, JointGroup::ARM_2, &JointSpec::dq_max, 0.6));
  EXPECT_EQ(reported.q_max, ModelLimits(robot, JointGroup::ARM_2, &JointSpec::q_max));
  // Every joint has a reduced-state limit, not only the arms'.
  const auto model_joints = robot.model().joints();
  const auto reduced = robot.reduced_velocity_limits();
  ASSERT_EQ(reduced.size(), model_joints.size());
  for (std::size_t j = 0; j < reduced.size(); ++j) {
    EXPECT_DOUBLE_EQ(reduced[j], 0.6 * model_joints[j].dq_max) << "joint " << j;
  }
  robot.SetSafetyState(safety::kCat2Stop);
  EXPECT_EQ(Reported(robot, kArm2).dq_max, normal);
}

TEST(SafetySettings, SetJointLimitsCarriesTheReducedVelocitiesAlong) {
  SimRobot robot("SN-safety-set-limits", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  const auto n = robot.model().full_dof();
  robot.SetJointLimits(std::vector<double>(n, -1.0), std::vector<double>(n, 1.0),
                       std::vector<double>(n, 2.5), std::vector<double>(n, 50.0));
  EXPECT_EQ(robot.reduced_velocity_limits(), std::vector<double>(n, 0.6 * 2.5));
}

// ---- safety inputs ------------------------------------------------------------------------------

TEST(SafetySettings, TheBasicStreamCarriesTheSafetyInputs) {
  SimRobot robot("SN-safety-inputs", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_EQ(robot.BasicStreamData().safety_inputs,
            (std::array<bool, 8>{true, true, true, true, true, true, true, true}));
  const std::array<bool, 8> inputs{true, false, true, true, false, false, true, false};
  robot.SetSafetyInputs(inputs);
  EXPECT_EQ(robot.BasicStreamData().safety_inputs, inputs);
}

}  // namespace
}  // namespace korvo::sim
