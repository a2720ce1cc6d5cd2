#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "korvo/vyr/vyr.hpp"

namespace korvo::vyr {
namespace {

template <typename Enum>
constexpr std::int32_t V(Enum e) {
  return static_cast<std::int32_t>(e);
}

// ---- Enumerations -------------------------------------------------------------------------------

static_assert(std::is_same_v<std::underlying_type_t<Mode>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<JointGroup>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<ProductModel>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<OperationalStatus>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CoordType>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<SyncMotionMode>, std::int32_t>);
// Scoped everywhere except the event level, which must convert to an integer by itself.
static_assert(!std::is_convertible_v<Mode, int>);
static_assert(!std::is_convertible_v<JointGroup, int>);
static_assert(std::is_convertible_v<RobotEvent::Level, int>);

struct EnumValue {
  const char* name;
  std::int32_t actual;
  std::int32_t expected;
};

void PrintTo(const EnumValue& v, std::ostream* os) { *os << v.name; }

class EnumValues : public ::testing::TestWithParam<EnumValue> {};

TEST_P(EnumValues, HaveTheFixedNumber) { EXPECT_EQ(GetParam().actual, GetParam().expected); }

#define KORVO_ENUM_CASE(e, value) \
  EnumValue { #e, V(e), value }

INSTANTIATE_TEST_SUITE_P(Mode, EnumValues,
                         ::testing::Values(KORVO_ENUM_CASE(Mode::UNKNOWN, 0),
                                           KORVO_ENUM_CASE(Mode::IDLE, 1),
                                           KORVO_ENUM_CASE(Mode::RT_JOINT_TORQUE, 2),
                                           KORVO_ENUM_CASE(Mode::RT_JOINT_IMPEDANCE, 3),
                                           KORVO_ENUM_CASE(Mode::NRT_JOINT_IMPEDANCE, 4),
                                           KORVO_ENUM_CASE(Mode::RT_JOINT_POSITION, 5),
                                           KORVO_ENUM_CASE(Mode::NRT_JOINT_POSITION, 6),
                                           KORVO_ENUM_CASE(Mode::NRT_PLAN_EXECUTION, 7),
                                           KORVO_ENUM_CASE(Mode::NRT_PRIMITIVE_EXECUTION, 8),
                                           KORVO_ENUM_CASE(Mode::RT_CARTESIAN_MOTION_FORCE, 9),
                                           KORVO_ENUM_CASE(Mode::NRT_CARTESIAN_MOTION_FORCE, 10),
                                           KORVO_ENUM_CASE(Mode::NRT_SUPER_PRIMITIVE, 11)));

INSTANTIATE_TEST_SUITE_P(
    JointGroup, EnumValues,
    ::testing::Values(KORVO_ENUM_CASE(JointGroup::UNKNOWN, -1), KORVO_ENUM_CASE(JointGroup::ALL, 0),
                      KORVO_ENUM_CASE(JointGroup::ARMS, 2), KORVO_ENUM_CASE(JointGroup::ARM_1, 3),
                      KORVO_ENUM_CASE(JointGroup::ARM_2, 4),
                      KORVO_ENUM_CASE(JointGroup::EXT_AXIS, 5),
                      KORVO_ENUM_CASE(JointGroup::FIRST, 0), KORVO_ENUM_CASE(JointGroup::LAST, 5)));

INSTANTIATE_TEST_SUITE_P(ProductModel, EnumValues,
                         ::testing::Values(KORVO_ENUM_CASE(ProductModel::UNKNOWN, 0),
                                           KORVO_ENUM_CASE(ProductModel::Olvar_L, 1),
                                           KORVO_ENUM_CASE(ProductModel::Olvar_LL, 2),
                                           KORVO_ENUM_CASE(ProductModel::TAVU_Core, 3),
                                           KORVO_ENUM_CASE(ProductModel::TAVU_Plus, 4),
                                           KORVO_ENUM_CASE(ProductModel::TAVU_Ultra, 5)));

INSTANTIATE_TEST_SUITE_P(OperationalStatus, EnumValues,
                         ::testing::Values(KORVO_ENUM_CASE(OperationalStatus::UNKNOWN, 0),
                                           KORVO_ENUM_CASE(OperationalStatus::READY, 1),
                                           KORVO_ENUM_CASE(OperationalStatus::BOOTING, 2),
                                           KORVO_ENUM_CASE(OperationalStatus::ESTOP_NOT_RELEASED,
                                                           3),
                                           KORVO_ENUM_CASE(OperationalStatus::NOT_SERVO_ON, 4),
                                           KORVO_ENUM_CASE(OperationalStatus::RELEASING_BRAKE, 5),
                                           KORVO_ENUM_CASE(OperationalStatus::MINOR_FAULT, 6),
                                           KORVO_ENUM_CASE(OperationalStatus::CRITICAL_FAULT, 7),
                                           KORVO_ENUM_CASE(OperationalStatus::IN_REDUCED_STATE, 8),
                                           KORVO_ENUM_CASE(OperationalStatus::IN_RECOVERY_STATE, 9),
                                           KORVO_ENUM_CASE(OperationalStatus::IN_MANUAL_MODE, 10),
                                           KORVO_ENUM_CASE(OperationalStatus::IN_AUTO_MODE, 11)));

INSTANTIATE_TEST_SUITE_P(SmallEnums, EnumValues,
                         ::testing::Values(KORVO_ENUM_CASE(CoordType::WORLD, 0),
                                           KORVO_ENUM_CASE(CoordType::TCP, 1),
                                           KORVO_ENUM_CASE(SyncMotionMode::DISABLE, 0),
                                           KORVO_ENUM_CASE(SyncMotionMode::ARM1_TCP, 1),
                                           KORVO_ENUM_CASE(SyncMotionMode::ARM2_TCP, 2),
                                           KORVO_ENUM_CASE(SyncMotionMode::POSITIONER, 3),
                                           KORVO_ENUM_CASE(RobotEvent::UNKNOWN, 0),
                                           KORVO_ENUM_CASE(RobotEvent::INFO, 1),
                                           KORVO_ENUM_CASE(RobotEvent::WARNING, 2),
                                           KORVO_ENUM_CASE(RobotEvent::ERROR, 3),
                                           KORVO_ENUM_CASE(RobotEvent::CRITICAL, 4)));

#undef KORVO_ENUM_CASE

TEST(Constants, FixTheArrayLengths) {
  EXPECT_EQ(kCartDoF, 6u);
  EXPECT_EQ(kSerialJointDoF, 7u);
  EXPECT_EQ(kPoseSize, 7u);
  EXPECT_EQ(kIOPorts, 20u);
  EXPECT_EQ(kMaxExtAxes, 6u);
  EXPECT_EQ(kSafetyIOPorts, 8u);
  static_assert(std::is_same_v<decltype(kCartDoF), const std::size_t>);
}

// ---- Name tables --------------------------------------------------------------------------------

template <typename Enum>
std::vector<std::pair<std::int32_t, std::string>> Entries(const std::map<Enum, std::string>& t) {
  std::vector<std::pair<std::int32_t, std::string>> out;
  for (const auto& [key, text] : t) out.emplace_back(V(key), text);
  return out;
}

using Entry = std::pair<std::int32_t, std::string>;

TEST(NameTables, JointGroupsIterateFromUnknownToExternalAxisWithoutAliases) {
  EXPECT_EQ(
      Entries(kJointGroupNames),
      (std::vector<Entry>{
          {-1, "UNKNOWN"}, {0, "ALL"}, {2, "ARMS"}, {3, "ARM_1"}, {4, "ARM_2"}, {5, "EXT_AXIS"}}));
  EXPECT_EQ(kJointGroupNames.at(JointGroup::FIRST), "ALL");
  EXPECT_EQ(kJointGroupNames.at(JointGroup::LAST), "EXT_AXIS");
}

TEST(NameTables, ProductModelsUseHyphens) {
  EXPECT_EQ(Entries(kProductModelNames), (std::vector<Entry>{{0, "UNKNOWN"},
                                                             {1, "Olvar-L"},
                                                             {2, "Olvar-LL"},
                                                             {3, "TAVU-Core"},
                                                             {4, "TAVU-Plus"},
                                                             {5, "TAVU-Ultra"}}));
}

TEST(NameTables, OperationalStatusTextsAreTheShortForms) {
  EXPECT_EQ(Entries(kOpStatusNames), (std::vector<Entry>{{0, "Unknown status"},
                                                         {1, "Ready"},
                                                         {2, "System booting"},
                                                         {3, "E-Stop not released"},
                                                         {4, "Not servo on"},
                                                         {5, "Releasing brakes"},
                                                         {6, "Minor fault occurred"},
                                                         {7, "Critical fault occurred"},
                                                         {8, "In reduced state"},
                                                         {9, "In recovery state"},
                                                         {10, "In Manual mode"},
                                                         {11, "In regular Auto mode"}}));
}

TEST(NameTables, ModesAreNamedAfterTheirEnumerators) {
  EXPECT_EQ(Entries(kModeNames), (std::vector<Entry>{{0, "UNKNOWN"},
                                                     {1, "IDLE"},
                                                     {2, "RT_JOINT_TORQUE"},
                                                     {3, "RT_JOINT_IMPEDANCE"},
                                                     {4, "NRT_JOINT_IMPEDANCE"},
                                                     {5, "RT_JOINT_POSITION"},
                                                     {6, "NRT_JOINT_POSITION"},
                                                     {7, "NRT_PLAN_EXECUTION"},
                                                     {8, "NRT_PRIMITIVE_EXECUTION"},
                                                     {9, "RT_CARTESIAN_MOTION_FORCE"},
                                                     {10, "NRT_CARTESIAN_MOTION_FORCE"},
                                                     {11, "NRT_SUPER_PRIMITIVE"}}));
}

TEST(NameTables, LookupOfAMissingKeyThrowsOutOfRange) {
  EXPECT_THROW(kModeNames.at(static_cast<Mode>(12)), std::out_of_range);
  EXPECT_THROW(kJointGroupNames.at(static_cast<JointGroup>(1)), std::out_of_range);
}

// ---- Record defaults ----------------------------------------------------------------------------

template <std::size_t N>
bool AllZero(const std::array<double, N>& a) {
  for (double v : a) {
    if (v != 0.0) return false;
  }
  return true;
}

TEST(RecordDefaults, TorqueCommandCompensatesEverything) {
  const RtJointTorqueCmd cmd;
  EXPECT_TRUE(cmd.tau_d.empty());
  EXPECT_TRUE(cmd.enable_gravity_comp);
  EXPECT_TRUE(cmd.enable_soft_limits);
  EXPECT_EQ(cmd.friction_comp_scale, 100.0);
}

TEST(RecordDefaults, NrtCartesianCommandHasMotionLimitsAndZeroPose) {
  const NrtCartesianCmd cmd;
  EXPECT_TRUE(AllZero(cmd.pose_d));  // the quaternion too
  EXPECT_TRUE(AllZero(cmd.wrench_d));
  EXPECT_TRUE(AllZero(cmd.twist_d));
  EXPECT_EQ(cmd.max_linear_vel, 0.5);
  EXPECT_EQ(cmd.max_angular_vel, 1.0);
  EXPECT_EQ(cmd.max_linear_acc, 2.0);
  EXPECT_EQ(cmd.max_angular_acc, 5.0);
}

TEST(RecordDefaults, PrimitiveArgsControlTheExternalAxis) {
  const PrimitiveArgs args;
  EXPECT_TRUE(args.pt_name.empty());
  EXPECT_TRUE(args.input_params.empty());
  EXPECT_TRUE(args.external_axis_control);
  EXPECT_EQ(args.sync_motion_mode, SyncMotionMode::DISABLE);
}

TEST(RecordDefaults, OtherRecordsStartZeroFalseAndEmpty) {
  const RobotEvent event;
  EXPECT_EQ(event.level, RobotEvent::UNKNOWN);
  EXPECT_EQ(event.id, 0);
  EXPECT_EQ(event.timestamp.time_since_epoch().count(), 0);

  const RobotInfo info;
  EXPECT_EQ(info.product_model, ProductModel::UNKNOWN);
  EXPECT_TRUE(info.all_groups.empty());
  EXPECT_TRUE(info.K_x_nom.empty());

  const RobotStates states;
  EXPECT_EQ(states.timestamp, (std::pair<std::int32_t, std::int32_t>{0, 0}));
  EXPECT_TRUE(states.q.empty());
  EXPECT_TRUE(AllZero(states.tcp_pose));
  EXPECT_TRUE(AllZero(states.raw_ft_sensor));

  const PlanInfo plan;
  EXPECT_EQ(plan.velocity_scale, 0.0);
  EXPECT_FALSE(plan.waiting_for_step);

  const Coord coord;
  EXPECT_EQ(coord.ref_frame, (std::array<std::string, 2>{"", ""}));
  EXPECT_TRUE(AllZero(coord.ref_q_m));

  const GripperStates gripper;
  EXPECT_EQ(gripper.width, 0.0);
  EXPECT_FALSE(gripper.is_moving);

  const IKResult ik;
  EXPECT_FALSE(ik.success);
  EXPECT_TRUE(ik.solved_q.empty());

  const ToolParams tool;
  EXPECT_EQ(tool.mass, 0.0);
  EXPECT_TRUE(AllZero(tool.tcp_location));
}

TEST(RecordDefaults, RecordsWithoutCustomConstructorAreAggregates) {
  const GripperStates s{.width = 0.05, .force = -3.0, .is_moving = true};
  EXPECT_EQ(s.width, 0.05);
  EXPECT_EQ(s.force, -3.0);
  EXPECT_TRUE(s.is_moving);
  const IKParams p{.seed_q = {0.1, 0.2}};
  EXPECT_EQ(p.seed_q.size(), 2u);
  EXPECT_FALSE(p.free_orientation);
}

// ---- Custom constructors ------------------------------------------------------------------------

TEST(Constructors, TrailingArgumentsTakeTheirDefaults) {
  const JPos jpos({1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(jpos.q_m[6], 7.0);
  EXPECT_TRUE(AllZero(jpos.q_e));

  const Coord coord({1, 2, 3}, {4, 5, 6}, {"WORK", "table"});
  EXPECT_EQ(coord.ref_frame[1], "table");
  EXPECT_TRUE(AllZero(coord.ref_q_m));
  EXPECT_TRUE(AllZero(coord.ref_q_e));

  const RtJointTorqueCmd torque({1.0, 2.0});
  EXPECT_EQ(torque.tau_d, (std::vector<double>{1.0, 2.0}));
  EXPECT_TRUE(torque.enable_gravity_comp);
  EXPECT_TRUE(torque.enable_soft_limits);
  EXPECT_EQ(torque.friction_comp_scale, 100.0);

  const RtCartesianCmd rt({0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(rt.pose_d[3], 1.0);
  EXPECT_TRUE(AllZero(rt.wrench_d));
  EXPECT_TRUE(AllZero(rt.acc_d));

  const NrtCartesianCmd nrt({0, 0, 0, 1, 0, 0, 0}, {1, 0, 0, 0, 0, 0});
  EXPECT_EQ(nrt.wrench_d[0], 1.0);
  EXPECT_EQ(nrt.max_linear_vel, 0.5);
  EXPECT_EQ(nrt.max_angular_acc, 5.0);
}

TEST(Constructors, ArgumentsLandInTheirFieldsInOrder) {
  const Coord coord({1, 2, 3}, {4, 5, 6}, {"WORLD", "WORLD_ORIGIN"}, {1, 1, 1, 1, 1, 1, 2},
                    {9, 0, 0, 0, 0, 3});
  EXPECT_EQ(coord.position, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(coord.orientation, (std::array<double, 3>{4, 5, 6}));
  EXPECT_EQ(coord.ref_frame, (std::array<std::string, 2>{"WORLD", "WORLD_ORIGIN"}));
  EXPECT_EQ(coord.ref_q_m[6], 2.0);
  EXPECT_EQ(coord.ref_q_e[0], 9.0);
  EXPECT_EQ(coord.ref_q_e[5], 3.0);

  const PrimitiveArgs args("MoveJ", {{"vel", 0.5}});
  EXPECT_EQ(args.pt_name, "MoveJ");
  EXPECT_EQ(std::get<double>(args.input_params.at("vel")), 0.5);
  EXPECT_TRUE(args.external_axis_control);

  const RtJointTorqueCmd torque({1.0}, false, false, 20.0);
  EXPECT_FALSE(torque.enable_gravity_comp);
  EXPECT_FALSE(torque.enable_soft_limits);
  EXPECT_EQ(torque.friction_comp_scale, 20.0);

  const RtJointPositionCmd rt_pos({1}, {2}, {3});
  EXPECT_EQ(rt_pos.q_d[0], 1.0);
  EXPECT_EQ(rt_pos.dq_d[0], 2.0);
  EXPECT_EQ(rt_pos.ddq_d[0], 3.0);

  const NrtJointPositionCmd nrt_pos({1}, {2}, {3}, {4});
  EXPECT_EQ(nrt_pos.q_d[0], 1.0);
  EXPECT_EQ(nrt_pos.dq_d[0], 2.0);
  EXPECT_EQ(nrt_pos.dq_max[0], 3.0);
  EXPECT_EQ(nrt_pos.ddq_max[0], 4.0);

  const RtCartesianCmd rt({1, 0, 0, 1, 0, 0, 0}, {2, 0, 0, 0, 0, 0}, {3, 0, 0, 0, 0, 0},
                          {4, 0, 0, 0, 0, 0});
  EXPECT_EQ(rt.pose_d[0], 1.0);
  EXPECT_EQ(rt.wrench_d[0], 2.0);
  EXPECT_EQ(rt.twist_d[0], 3.0);
  EXPECT_EQ(rt.acc_d[0], 4.0);

  const NrtCartesianCmd nrt({1, 0, 0, 1, 0, 0, 0}, {2, 0, 0, 0, 0, 0}, {3, 0, 0, 0, 0, 0}, 0.1, 0.2,
                            0.3, 0.4);
  EXPECT_EQ(nrt.twist_d[0], 3.0);
  EXPECT_EQ(nrt.max_linear_vel, 0.1);
  EXPECT_EQ(nrt.max_angular_vel, 0.2);
  EXPECT_EQ(nrt.max_linear_acc, 0.3);
  EXPECT_EQ(nrt.max_angular_acc, 0.4);

  const NrtCartesianMultiWaypointCmd multi({nrt, NrtCartesianCmd()});
  ASSERT_EQ(multi.waypoints.size(), 2u);
  EXPECT_EQ(multi.waypoints[0].max_linear_acc, 0.3);
  EXPECT_EQ(multi.waypoints[1].max_linear_acc, 2.0);
}

// ---- Text forms ---------------------------------------------------------------------------------

struct TextCase {
  const char* name;
  std::string actual;
  std::string expected;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class TextForms : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextForms, PrintEveryValueWithTwoDecimals) {
  EXPECT_EQ(GetParam().actual, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, TextForms,
    ::testing::Values(
        TextCase{"DefaultJPos", JPos().str(),
                 "0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00"},
        TextCase{"JPosFixedPointWithSigns",
                 JPos({-40, 1.25, 2.5, 90, 0.333, 1e-7, 123456.789}, {1, 0, 0, 0, 0, -2}).str(),
                 "-40.00 1.25 2.50 90.00 0.33 0.00 123456.79 1.00 0.00 0.00 0.00 0.00 -2.00"},
        TextCase{"CoordWithEmptyFrameLeavesThreeBlanks", Coord().str(),
                 "0.00 0.00 0.00 0.00 0.00 0.00   0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 "
                 "0.00 0.00 0.00 0.00"},
        TextCase{"CoordPrintsFrameStringsAsTheyAre",
                 Coord({0.5, -0.25, 1}, {180, 0, 90}, {"WORK", "my table"}, {1, 2, 3, 4, 5, 6, 7},
                       {0.1, 0, 0, 0, 0, 0})
                     .str(),
                 "0.50 -0.25 1.00 180.00 0.00 90.00 WORK my table 1.00 2.00 3.00 4.00 5.00 6.00 "
                 "7.00 0.10 0.00 0.00 0.00 0.00 0.00"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- ParamValue ---------------------------------------------------------------------------------

TEST(ParamValue, DefaultHoldsIntZero) {
  const ParamValue value;
  EXPECT_EQ(value.index(), 0u);
  EXPECT_EQ(std::get<int>(value), 0);
}

TEST(ParamValue, AlternativesHaveTheirFixedIndex) {
  static_assert(std::variant_size_v<ParamValue> == 10);
  static_assert(std::is_same_v<std::variant_alternative_t<0, ParamValue>, int>);
  EXPECT_EQ(ParamValue(1).index(), 0u);
  EXPECT_EQ(ParamValue(1.5).index(), 1u);
  EXPECT_EQ(ParamValue(std::string("a")).index(), 2u);
  EXPECT_EQ(ParamValue(JPos()).index(), 3u);
  EXPECT_EQ(ParamValue(Coord()).index(), 4u);
  EXPECT_EQ(ParamValue(std::vector<int>{1, 2}).index(), 5u);
  EXPECT_EQ(ParamValue(std::vector<double>{1, 2}).index(), 6u);
  EXPECT_EQ(ParamValue(std::vector<std::string>{"a"}).index(), 7u);
  EXPECT_EQ(ParamValue(std::vector<JPos>{JPos()}).index(), 8u);
  EXPECT_EQ(ParamValue(std::vector<Coord>{Coord()}).index(), 9u);
}

TEST(ParamValue, IntAndDoubleVectorsWithEqualNumbersStayDistinct) {
  const ParamValue ints = std::vector<int>{1, 2, 3};
  const ParamValue doubles = std::vector<double>{1, 2, 3};
  EXPECT_NE(ints.index(), doubles.index());
}

}  // namespace
}  // namespace korvo::vyr
