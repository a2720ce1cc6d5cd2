// The simulated robot's tools, work coordinates and payload calibration as pure logic: the
// operations 30 to 37 and 50 to 54 answered from built requests (and what they refuse), the TCP
// composed from the active tool, and calibration plans that store a result only when they finish.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "case_name.hpp"
#include "sim/payload_calibration.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"
#include "sim/tools.hpp"
#include "sim/work_coords.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::JointGroup;
using vyr::Mode;
namespace vyr_msg = zenoh_msgs::vyr_msg;
using Pose = std::array<double, 7>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kHalfSqrt2 = 0.70710678118654752;
constexpr std::uint16_t kArm1 = 3, kArm2 = 4;

void ExpectPoseNear(const Pose& actual, const Pose& expected, double tolerance) {
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "pose value " << i;
  }
}

// ---- TCP composition ----------------------------------------------------------------------------

struct ComposeCase {
  const char* name;
  Pose flange;
  Pose tcp_location;
  Pose expected;
};

class ComposeTcpCases : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(ComposeTcpCases, RotatesTheOffsetByTheFlangeAndMultipliesTheOrientations) {
  const ComposeCase& c = GetParam();
  ExpectPoseNear(ComposeTcp(c.flange, c.tcp_location), c.expected, 1e-12);
}

// Flange turned 90 degrees about z at (1, 2, 3).
constexpr Pose kTurnedFlange{1, 2, 3, kHalfSqrt2, 0, 0, kHalfSqrt2};

INSTANTIATE_TEST_SUITE_P(
    Cases, ComposeTcpCases,
    ::testing::Values(ComposeCase{"FlangeToolLeavesTheFlange",
                                  kTurnedFlange,
                                  {0, 0, 0, 1, 0, 0, 0},
                                  kTurnedFlange},
                      // The tool's x axis points along the world's y axis.
                      ComposeCase{"OffsetAlongToolX",
                                  kTurnedFlange,
                                  {0.1, 0, 0, 1, 0, 0, 0},
                                  {1, 2.1, 3, kHalfSqrt2, 0, 0, kHalfSqrt2}},
                      // Rz(90) * Rx(90) = (0.5, 0.5, 0.5, 0.5).
                      ComposeCase{"ToolTurnedAboutX",
                                  kTurnedFlange,
                                  {0, 0, 0.2, kHalfSqrt2, kHalfSqrt2, 0, 0},
                                  {1, 2, 3.2, 0.5, 0.5, 0.5, 0.5}},
                      ComposeCase{"ZeroQuaternionIsTheIdentity",
                                  kTurnedFlange,
                                  {0.1, 0, 0, 0, 0, 0, 0},
                                  {1, 2.1, 3, kHalfSqrt2, 0, 0, kHalfSqrt2}},
                      ComposeCase{"LongQuaternionIsNormalized",
                                  {0, 0, 0, 1, 0, 0, 0},
                                  {0, 0, 0, 0, 0, 0, 2},
                                  {0, 0, 0, 0, 0, 0, 1}},
                      // Rz(180) * Rz(180) is the identity, reported with qw >= 0.
                      ComposeCase{"ResultKeepsQwNonNegative",
                                  {0, 0, 0, 0, 0, 0, 1},
                                  {0, 0, 0, 0, 0, 0, 1},
                                  {0, 0, 0, 1, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the tool table -----------------------------------------------------------------------------

vyr_msg::ToolInfo Tool(const std::string& name, float mass = 0.5f,
                       std::array<float, 7> tcp = {0, 0, 0.1f, 1, 0, 0, 0}) {
  return {name, mass, {0.0f, 0.0f, 0.04f}, {0.001f, 0.001f, 0.002f, 0, 0, 0}, tcp};
}

vyr_msg::RPCRequest ToolRequest(std::uint16_t op_code, vyr_msg::ToolInfo tool = {},
                                std::vector<std::uint16_t> groups = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.tool = std::move(tool);
  r.joint_groups = std::move(groups);
  return r;
}

struct Answer {
  bool ok;
  vyr_msg::RPCReply reply;
};

Answer Call(Tools& tools, const vyr_msg::RPCRequest& request, bool idle = true) {
  Answer answer{false, {}};
  answer.ok = tools.Handle(request, answer.reply, idle);
  return answer;
}

std::vector<std::string> Names(const Tools& tools) {
  std::vector<std::string> names;
  for (const auto& [name, params] : tools.tools()) names.push_back(name);
  return names;
}

TEST(ToolTable, StartsWithTheFlangeActiveOnEverySingleArm) {
  Tools two_arms({JointGroup::ARM_1, JointGroup::ARM_2});
  EXPECT_EQ(Call(two_arms, ToolRequest(36)).reply.string_container,
            std::vector<std::string>{"Flange"});
  for (const std::uint16_t arm : {kArm1, kArm2}) {
    const auto answer = Call(two_arms, ToolRequest(34, {}, {arm}));
    ASSERT_TRUE(answer.ok) << arm;
    EXPECT_EQ(answer.reply.tool.name, "Flange");
    EXPECT_EQ(answer.reply.tool.mass, 0.0f);
    EXPECT_EQ(answer.reply.tool.CoM, (std::array<float, 3>{}));
    EXPECT_EQ(answer.reply.tool.inertia, (std::array<float, 6>{}));
    EXPECT_EQ(answer.reply.tool.tcp_location, (std::array<float, 7>{0, 0, 0, 1, 0, 0, 0}));
  }
  Tools one_arm({JointGroup::ARM_1});
  EXPECT_EQ(one_arm.active(), (std::map<std::uint16_t, std::string>{{kArm1, "Flange"}}));
  EXPECT_FALSE(Call(one_arm, ToolRequest(34, {}, {kArm2})).ok);
}

TEST(ToolTable, AddsUpdatesSwitchesAndRemovesTools) {
  Tools tools({JointGroup::ARM_1, JointGroup::ARM_2});
  ASSERT_TRUE(Call(tools, ToolRequest(30, Tool("Welder"))).ok);
  ASSERT_TRUE(Call(tools, ToolRequest(30, Tool("Camera", 0.2f))).ok);
  EXPECT_EQ(Call(tools, ToolRequest(36)).reply.string_container,
            (std::vector<std::string>{"Flange", "Welder", "Camera"}));

  // The name sent with op 35 is the only field read; the rest of the request may hold anything.
  auto query = ToolRequest(35, Tool("Camera", 99.0f));
  const auto camera = Call(tools, query);
  ASSERT_TRUE(camera.ok);
  EXPECT_EQ(camera.reply.tool.mass, 0.2f);
  EXPECT_EQ(camera.reply.tool.CoM, Tool("Camera").CoM);
  EXPECT_EQ(camera.reply.tool.inertia, Tool("Camera").inertia);
  EXPECT_EQ(camera.reply.tool.tcp_location, Tool("Camera").tcp_location);

  const auto heavier = Tool("Welder", 2.5f, {0.01f, 0, 0.2f, 0, 0, 0, 1});
  ASSERT_TRUE(Call(tools, ToolRequest(31, heavier)).ok);
  ASSERT_TRUE(Call(tools, ToolRequest(33, Tool("Welder", 0), {kArm2})).ok);
  const auto active = Call(tools, ToolRequest(34, {}, {kArm2}));
  ASSERT_TRUE(active.ok);
  EXPECT_EQ(active.reply.tool.name, "Welder");
  EXPECT_EQ(active.reply.tool.mass, 2.5f);
  EXPECT_EQ(active.reply.tool.tcp_location, heavier.tcp_location);
  EXPECT_EQ(tools.active_tcp(kArm2), (Pose{0.01f, 0, 0.2f, 0, 0, 0, 1}));
  EXPECT_EQ(Call(tools, ToolRequest(34, {}, {kArm1})).reply.tool.name, "Flange");

  ASSERT_TRUE(Call(tools, ToolRequest(33, Tool("Flange", 0), {kArm2})).ok);
  ASSERT_TRUE(Call(tools, ToolRequest(32, Tool("Welder", 0))).ok);
  EXPECT_EQ(Names(tools), (std::vector<std::string>{"Flange", "Camera"}));
  // A removed name can be added again, at the end of the list.
  ASSERT_TRUE(Call(tools, ToolRequest(30, Tool("Welder"))).ok);
  EXPECT_EQ(Names(tools), (std::vector<std::string>{"Flange", "Camera", "Welder"}));
}

struct ToolRefusal {
  const char* name;
  vyr_msg::RPCRequest request;
  bool idle = true;
  std::function<void(Tools&)> prepare = [](Tools&) {};
};

// The table holds "Mounted" (active on ARM_1) and "Spare" when a case's request arrives.
class ToolRefusals : public ::testing::TestWithParam<ToolRefusal> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Call(tools_, ToolRequest(30, Tool("Mounted"))).ok);
    ASSERT_TRUE(Call(tools_, ToolRequest(30, Tool("Spare"))).ok);
    ASSERT_TRUE(Call(tools_, ToolRequest(33, Tool("Mounted", 0), {kArm1})).ok);
  }
  Tools tools_{{JointGroup::ARM_1, JointGroup::ARM_2}};
};

TEST_P(ToolRefusals, IsRefusedAndChangesNothing) {
  const ToolRefusal& c = GetParam();
  c.prepare(tools_);
  const auto tools_before = tools_.tools();
  const auto active_before = tools_.active();
  const auto answer = Call(tools_, c.request, c.idle);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(tools_.tools(), tools_before);
  EXPECT_EQ(tools_.active(), active_before);
}

std::array<float, 7> Tcp(float x, float qw) { return {x, 0, 0, qw, 0, 0, 0}; }

INSTANTIATE_TEST_SUITE_P(
    Add, ToolRefusals,
    ::testing::Values(ToolRefusal{"EmptyName", ToolRequest(30, Tool(""))},
                      ToolRefusal{
                          "OverlongName",
                          ToolRequest(30, Tool(std::string(Tools::kMaxNameBytes + 1, 't')))},
                      ToolRefusal{"ExistingName", ToolRequest(30, Tool("Spare"))},
                      ToolRefusal{"Flange", ToolRequest(30, Tool("Flange"))},
                      ToolRefusal{"NotIdle", ToolRequest(30, Tool("New")), false},
                      ToolRefusal{"NaNMass", ToolRequest(30, Tool("New", kNaN))},
                      ToolRefusal{"NegativeMass", ToolRequest(30, Tool("New", -0.1f))},
                      ToolRefusal{"InfiniteTcp", ToolRequest(30, Tool("New", 1.0f, Tcp(kInf, 1)))},
                      ToolRefusal{"NaNQuaternion",
                                  ToolRequest(30, Tool("New", 1.0f, Tcp(0, kNaN)))},
                      ToolRefusal{"TableFull", ToolRequest(30, Tool("New")), true,
                                  [](Tools& tools) {
                                    for (std::size_t i = tools.tools().size(); i < Tools::kMaxTools;
                                         ++i) {
                                      ASSERT_TRUE(
                                          Call(tools, ToolRequest(30, Tool(std::string("T").append(
                                                                          std::to_string(i)))))
                                              .ok);
                                    }
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Update, ToolRefusals,
    ::testing::Values(ToolRefusal{"Unknown", ToolRequest(31, Tool("Other"))},
                      ToolRefusal{"Flange", ToolRequest(31, Tool("Flange"))},
                      ToolRefusal{"NotIdle", ToolRequest(31, Tool("Spare", 3.0f)), false},
                      ToolRefusal{"InfiniteMass", ToolRequest(31, Tool("Spare", kInf))},
                      ToolRefusal{"NegativeMass", ToolRequest(31, Tool("Mounted", -1.0f))},
                      ToolRefusal{"NaNTcp", ToolRequest(31, Tool("Mounted", 1.0f, Tcp(kNaN, 1)))}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Remove, ToolRefusals,
    ::testing::Values(ToolRefusal{"Unknown", ToolRequest(32, Tool("Other", 0))},
                      ToolRefusal{"Flange", ToolRequest(32, Tool("Flange", 0))},
                      ToolRefusal{"NotIdle", ToolRequest(32, Tool("Spare", 0)), false},
                      ToolRefusal{"ActiveOnAnArm", ToolRequest(32, Tool("Mounted", 0))}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Switch, ToolRefusals,
    ::testing::Values(ToolRefusal{"UnknownTool", ToolRequest(33, Tool("Other", 0), {kArm2})},
                      ToolRefusal{"NotIdle", ToolRequest(33, Tool("Spare", 0), {kArm2}), false},
                      ToolRefusal{"GroupAll", ToolRequest(33, Tool("Spare", 0), {0})},
                      ToolRefusal{"GroupArms", ToolRequest(33, Tool("Spare", 0), {2})},
                      ToolRefusal{"NoGroup", ToolRequest(33, Tool("Spare", 0))},
                      ToolRefusal{"TwoGroups", ToolRequest(33, Tool("Spare", 0), {kArm1, kArm2})}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Queries, ToolRefusals,
    ::testing::Values(ToolRefusal{"ParamsOfUnknownTool", ToolRequest(35, Tool("Other"))},
                      ToolRefusal{"ActiveToolOfGroupAll", ToolRequest(34, {}, {0})},
                      ToolRefusal{"ActiveToolOfNoGroup", ToolRequest(34)},
                      ToolRefusal{"ActiveToolOfTwoGroups", ToolRequest(34, {}, {kArm1, kArm2})}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- work coordinates ---------------------------------------------------------------------------

vyr_msg::RPCRequest CoordRequest(std::uint16_t op_code, std::vector<std::string> names = {},
                                 std::vector<float> values = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.string_container = std::move(names);
  r.float_container = std::move(values);
  return r;
}

Answer Call(WorkCoords& coords, const vyr_msg::RPCRequest& request, bool idle = true) {
  Answer answer{false, {}};
  answer.ok = coords.Handle(request, answer.reply, idle);
  return answer;
}

const std::vector<float> kWorkTable{0.6f, 0.0f, 0.1f, 1.0f, 0.0f, 0.0f, 0.0f};
const std::vector<float> kJig{0.4f, -0.2f, 0.05f, 0.0f, 0.0f, 0.0f, 2.0f};  // not normalized

TEST(WorkCoordTable, AddsUpdatesAndRemovesInInsertionOrder) {
  WorkCoords coords;
  EXPECT_EQ(Call(coords, CoordRequest(54)).reply.string_container,
            std::vector<std::string>{"WorkTable"});
  EXPECT_EQ(Call(coords, CoordRequest(53, {"WorkTable"})).reply.float_container, kWorkTable);

  ASSERT_TRUE(Call(coords, CoordRequest(50, {"Jig"}, kJig)).ok);
  ASSERT_TRUE(Call(coords, CoordRequest(50, {"Aisle"}, kWorkTable)).ok);
  EXPECT_EQ(Call(coords, CoordRequest(54)).reply.string_container,
            (std::vector<std::string>{"WorkTable", "Jig", "Aisle"}));
  EXPECT_EQ(Call(coords, CoordRequest(53, {"Jig"})).reply.float_container, kJig);

  ASSERT_TRUE(Call(coords, CoordRequest(51, {"Jig"}, kWorkTable)).ok);
  EXPECT_EQ(Call(coords, CoordRequest(53, {"Jig"})).reply.float_container, kWorkTable);
  ASSERT_TRUE(Call(coords, CoordRequest(52, {"WorkTable"})).ok);
  EXPECT_EQ(Call(coords, CoordRequest(54)).reply.string_container,
            (std::vector<std::string>{"Jig", "Aisle"}));
  EXPECT_FALSE(Call(coords, CoordRequest(53, {"WorkTable"})).ok);
}

TEST(WorkCoordTable, StoredValuesOfAnyLengthAreReportedAsTheyAre) {
  WorkCoords coords;
  coords.SetValues("Short", {1, 2, 3, 4, 5, 6});
  coords.SetValues("WorkTable", {});
  EXPECT_EQ(Call(coords, CoordRequest(53, {"Short"})).reply.float_container,
            (std::vector<float>{1, 2, 3, 4, 5, 6}));
  const auto empty = Call(coords, CoordRequest(53, {"WorkTable"}));
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.reply.float_container.empty());
}

struct CoordRefusal {
  const char* name;
  vyr_msg::RPCRequest request;
  bool idle = true;
};

class WorkCoordRefusals : public ::testing::TestWithParam<CoordRefusal> {};

TEST_P(WorkCoordRefusals, IsRefusedAndChangesNothing) {
  const CoordRefusal& c = GetParam();
  WorkCoords coords;
  const auto before = coords.entries();
  EXPECT_FALSE(Call(coords, c.request, c.idle).ok);
  EXPECT_EQ(coords.entries(), before);
}

std::vector<float> With(std::size_t index, float value) {
  auto pose = kJig;
  pose[index] = value;
  return pose;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkCoordRefusals,
    ::testing::Values(
        CoordRefusal{"AddSixValues", CoordRequest(50, {"Jig"}, {0, 0, 0, 1, 0, 0})},
        CoordRefusal{"AddEightValues", CoordRequest(50, {"Jig"}, {0, 0, 0, 1, 0, 0, 0, 0})},
        CoordRefusal{"AddNoName", CoordRequest(50, {}, kJig)},
        CoordRefusal{"AddTwoNames", CoordRequest(50, {"Jig", "Jig2"}, kJig)},
        CoordRefusal{"AddEmptyName", CoordRequest(50, {""}, kJig)},
        CoordRefusal{"AddOverlongName",
                     CoordRequest(50, {std::string(WorkCoords::kMaxNameBytes + 1, 'w')}, kJig)},
        CoordRefusal{"AddExisting", CoordRequest(50, {"WorkTable"}, kJig)},
        CoordRefusal{"AddNotIdle", CoordRequest(50, {"Jig"}, kJig), false},
        CoordRefusal{"AddNaN", CoordRequest(50, {"Jig"}, With(4, kNaN))},
        CoordRefusal{"AddInfinity", CoordRequest(50, {"Jig"}, With(0, -kInf))},
        CoordRefusal{"UpdateUnknown", CoordRequest(51, {"Jig"}, kJig)},
        CoordRefusal{"UpdateSixValues", CoordRequest(51, {"WorkTable"}, {0, 0, 0, 1, 0, 0})},
        CoordRefusal{"UpdateNotIdle", CoordRequest(51, {"WorkTable"}, kJig), false},
        CoordRefusal{"UpdateNaN", CoordRequest(51, {"WorkTable"}, With(2, kNaN))},
        CoordRefusal{"RemoveUnknown", CoordRequest(52, {"Jig"})},
        CoordRefusal{"RemoveNotIdle", CoordRequest(52, {"WorkTable"}), false},
        CoordRefusal{"PoseOfUnknown", CoordRequest(53, {"Jig"})},
        CoordRefusal{"PoseOfNoName", CoordRequest(53)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WorkCoordTable, RefusesEntriesBeyondTheLimit) {
  WorkCoords coords;
  for (std::size_t i = coords.entries().size(); i < WorkCoords::kMaxEntries; ++i) {
    ASSERT_TRUE(
        Call(coords, CoordRequest(50, {std::string("C").append(std::to_string(i))}, kJig)).ok);
  }
  EXPECT_FALSE(Call(coords, CoordRequest(50, {"OneTooMany"}, kJig)).ok);
  EXPECT_EQ(coords.entries().size(), WorkCoords::kMaxEntries);
}

// ---- inside the simulated robot -----------------------------------------------------------------

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::int32_t> ints = {},
                            std::vector<std::string> strings = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.int_container = std::move(ints);
  r.string_container = std::move(strings);
  return r;
}

vyr_msg::RPCRequest SwitchMode(Mode mode) { return Request(8, {static_cast<std::int32_t>(mode)}); }

Pose Widen(const std::array<float, 7>& v) {
  Pose out{};
  std::copy(v.begin(), v.end(), out.begin());
  return out;
}

// The stream's TCP pose of `arm`.
Pose StreamTcp(const SimRobot& robot, std::uint16_t arm) {
  const auto data = robot.BasicStreamData();
  for (std::size_t i = 0; i < data.joint_groups.size(); ++i) {
    if (data.joint_groups[i] == arm) return Widen(data.cartesian_data[i].tcp_pose);
  }
  ADD_FAILURE() << "no Cartesian data for group " << arm;
  return {};
}

TEST(SimRobotTools, ChangesNeedIdleAndQueriesDoNot) {
  SimRobot robot("SN-tools-idle", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  robot.MakeReady();
  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PLAN_EXECUTION)).success);
  EXPECT_FALSE(robot.HandleVyr(ToolRequest(30, Tool("Welder"))).success);
  EXPECT_FALSE(robot.HandleVyr(CoordRequest(50, {"Jig"}, kJig)).success);
  EXPECT_TRUE(robot.HandleVyr(ToolRequest(34, {}, {kArm1})).success);
  EXPECT_TRUE(robot.HandleVyr(CoordRequest(53, {"WorkTable"})).success);

  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::IDLE)).success);
  const auto added = robot.HandleVyr(ToolRequest(30, Tool("Welder")));
  EXPECT_TRUE(added.success);
  EXPECT_EQ(added.op_code, 30);
  EXPECT_TRUE(robot.HandleVyr(CoordRequest(50, {"Jig"}, kJig)).success);
  ASSERT_EQ(robot.tools().size(), 2u);
  EXPECT_EQ(robot.tools()[1].first, "Welder");
  EXPECT_EQ(robot.tools()[1].second.mass, 0.5f);
  EXPECT_EQ(robot.work_coords().back(), (std::pair{std::string("Jig"), kJig}));
}

TEST(SimRobotTools, StreamReportsTheFlangeMovedByTheActiveTool) {
  SimRobot robot("SN-tools-tcp", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  const Pose flange = robot.model().FlangePose(JointGroup::ARM_2, robot.q());
  ExpectPoseNear(StreamTcp(robot, kArm2), flange, 1e-6);

  ASSERT_TRUE(
      robot.HandleVyr(ToolRequest(30, Tool("Probe", 0.3f, {0, 0, 0.15f, 1, 0, 0, 0}))).success);
  ASSERT_TRUE(robot.HandleVyr(ToolRequest(33, Tool("Probe", 0), {kArm2})).success);
  EXPECT_EQ(robot.active_tools(),
            (std::map<std::uint16_t, std::string>{{kArm1, "Flange"}, {kArm2, "Probe"}}));

  // 0.15 m along the flange's z axis, the third column of its rotation matrix.
  const double w = flange[3], x = flange[4], y = flange[5], z = flange[6];
  const Pose expected{flange[0] + 0.15 * 2 * (x * z + w * y),
                      flange[1] + 0.15 * 2 * (y * z - w * x),
                      flange[2] + 0.15 * (1 - 2 * (x * x + y * y)),
                      w,
                      x,
                      y,
                      z};
  ExpectPoseNear(StreamTcp(robot, kArm2), expected, 1e-6);
  const auto extra = robot.ExtraStreamData();
  ASSERT_EQ(extra.joint_groups, (std::vector<std::uint16_t>{kArm1, kArm2}));
  ExpectPoseNear(Widen(extra.cartesian_data[1].tcp_pose_d), expected, 1e-6);
  ExpectPoseNear(StreamTcp(robot, kArm1), robot.model().FlangePose(JointGroup::ARM_1, robot.q()),
                 1e-6);
}

TEST(SimRobotTools, ReachabilitySolvesForTheToolCentrePoint) {
  SimRobot robot("SN-tools-ik", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  ASSERT_TRUE(
      robot.HandleVyr(ToolRequest(30, Tool("Probe", 0.3f, {0.05f, 0, 0.2f, 1, 0, 0, 0}))).success);
  ASSERT_TRUE(robot.HandleVyr(ToolRequest(33, Tool("Probe", 0), {kArm1})).success);
  const auto [start, n] = robot.model().groups().at(JointGroup::ARM_1);
  const Pose target = StreamTcp(robot, kArm1);

  vyr_msg::RPCRequest reach;
  reach.op_code = 11;
  reach.joint_groups = {kArm1};
  reach.int_container = {0};
  std::vector<float> row(target.begin(), target.end());
  for (unsigned j = 0; j < n; ++j) row.push_back(static_cast<float>(robot.q()[start + j] + 0.1));
  reach.float2d_container = {row};
  const auto reply = robot.HandleVyr(reach);
  ASSERT_TRUE(reply.success);
  ASSERT_EQ(reply.int_container, std::vector<std::int32_t>{1});
  ASSERT_EQ(reply.float2d_container.size(), 1u);

  // The solution puts the TCP, not the flange, where it was asked.
  auto q = robot.q();
  for (unsigned j = 0; j < n; ++j) q[start + j] = reply.float2d_container[0][j];
  robot.SetJointPositions(q);
  ExpectPoseNear(StreamTcp(robot, kArm1), target, 1e-4);
}

// ---- payload calibration ------------------------------------------------------------------------

vyr_msg::RPCRequest RunPlan(const std::string& plan) { return Request(22, {0}, {plan}); }

// A robot ready to run plans, whose calibrations take an hour of simulated time.
class CalibrationTest : public ::testing::Test {
 protected:
  CalibrationTest() {
    robot_.MakeReady();
    robot_.SetCalibrationDuration(3600.0);
  }
  SimRobot robot_{"SN-calibration", MakeRobotModel(vyr::ProductModel::Olvar_L, 0)};
};

const auto kHour = std::chrono::hours(1);

TEST_F(CalibrationTest, BusyForItsDurationThenStoresTheIdentifiedPayload) {
  SimRobot& robot = robot_;
  robot.SetPayload(2.0, {0.01, -0.02, 0.07}, {0.003, 0.004, 0.005, 0.0001, 0.0002, 0.0003});
  EXPECT_FALSE(robot.HandleVyr(Request(37)).success);  // nothing calibrated yet
  EXPECT_FALSE(robot.payload_result());

  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PLAN_EXECUTION)).success);
  ASSERT_TRUE(robot.HandleVyr(RunPlan(PayloadCalibration::kWithToolPlan)).success);
  const auto q_before = robot.q();
  robot.Step(SimRobot::Clock::now());
  robot.Step(SimRobot::Clock::now() + std::chrono::milliseconds(50));
  EXPECT_TRUE(robot.busy());
  EXPECT_EQ(robot.mode(), Mode::NRT_PLAN_EXECUTION);
  EXPECT_FALSE(robot.HandleVyr(Request(37)).success);

  robot.Step(SimRobot::Clock::now() + kHour + std::chrono::seconds(1));
  EXPECT_FALSE(robot.busy());
  EXPECT_EQ(robot.q(), q_before);  // the arm held still
  const auto with_tool = robot.HandleVyr(Request(37)).tool;
  EXPECT_EQ(with_tool.name, "");
  EXPECT_EQ(with_tool.mass, 2.0f);
  EXPECT_EQ(with_tool.CoM, (std::array<float, 3>{0.01f, -0.02f, 0.07f}));
  EXPECT_EQ(with_tool.inertia,
            (std::array<float, 6>{0.003f, 0.004f, 0.005f, 0.0001f, 0.0002f, 0.0003f}));
  EXPECT_EQ(with_tool.tcp_location, (std::array<float, 7>{}));
  ASSERT_TRUE(robot.payload_result());
  EXPECT_EQ(robot.payload_result()->mass, 2.0);

  // Without the tool the robot identifies nothing but the flange: all zeros.
  ASSERT_TRUE(robot.HandleVyr(RunPlan(PayloadCalibration::kNoToolPlan)).success);
  robot.Step(SimRobot::Clock::now());
  EXPECT_TRUE(robot.busy());
  EXPECT_TRUE(robot.HandleVyr(Request(37)).success);  // the previous result until it ends
  EXPECT_EQ(robot.HandleVyr(Request(37)).tool.mass, 2.0f);
  robot.Step(SimRobot::Clock::now() + kHour + std::chrono::seconds(1));
  EXPECT_FALSE(robot.busy());
  const auto no_tool = robot.HandleVyr(Request(37));
  ASSERT_TRUE(no_tool.success);
  EXPECT_EQ(no_tool.tool.mass, 0.0f);
  EXPECT_EQ(no_tool.tool.CoM, (std::array<float, 3>{}));
  EXPECT_EQ(no_tool.tool.inertia, (std::array<float, 6>{}));
  EXPECT_EQ(robot.payload_result(), ToolParams{});
}

TEST_F(CalibrationTest, APausedCalibrationWaitsForItsResume) {
  SimRobot& robot = robot_;
  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PLAN_EXECUTION)).success);
  ASSERT_TRUE(robot.HandleVyr(RunPlan(PayloadCalibration::kWithToolPlan)).success);
  ASSERT_TRUE(robot.HandleVyr(Request(24)).success);
  robot.Step(SimRobot::Clock::now() + kHour + std::chrono::seconds(1));
  EXPECT_TRUE(robot.busy());
  EXPECT_FALSE(robot.payload_result());
  ASSERT_TRUE(robot.HandleVyr(Request(25)).success);
  robot.Step(SimRobot::Clock::now() + kHour + std::chrono::seconds(2));
  EXPECT_FALSE(robot.busy());
  EXPECT_TRUE(robot.payload_result());
}

struct Interruption {
  const char* name;
  std::function<void(SimRobot&)> interrupt;
};

class InterruptedCalibration : public CalibrationTest,
                               public ::testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedCalibration, StoresNothing) {
  SimRobot& robot = robot_;
  ASSERT_TRUE(robot.HandleVyr(SwitchMode(Mode::NRT_PLAN_EXECUTION)).success);
  ASSERT_TRUE(robot.HandleVyr(RunPlan(PayloadCalibration::kWithToolPlan)).success);
  robot.Step(SimRobot::Clock::now());
  ASSERT_TRUE(robot.busy());
  GetParam().interrupt(robot);
  robot.Step(SimRobot::Clock::now() + std::chrono::milliseconds(1));
  robot.Step(SimRobot::Clock::now() + kHour + std::chrono::seconds(1));
  EXPECT_FALSE(robot.busy());
  EXPECT_FALSE(robot.payload_result());
  EXPECT_FALSE(robot.HandleVyr(Request(37)).success);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterruptedCalibration,
    ::testing::Values(
        Interruption{"StopPlan",
                     [](SimRobot& r) { ASSERT_TRUE(r.HandleVyr(Request(26)).success); }},
        Interruption{"SwitchToIdle",
                     [](SimRobot& r) { ASSERT_TRUE(r.HandleVyr(SwitchMode(Mode::IDLE)).success); }},
        Interruption{"EstopPressed", [](SimRobot& r) { r.PressEstop(true); }},
        Interruption{"Fault", [](SimRobot& r) { r.RaiseFault(false); }},
        Interruption{"SafetyStop", [](SimRobot& r) { r.SetSafetyState(safety::kCat2Stop); }}),
    [](const auto& info) { return std::string(info.param.name); });

class SimRobotToolControl
    : public ::testing::TestWithParam<std::pair<const char*, std::function<void(SimRobot&)>>> {};

TEST_P(SimRobotToolControl, ThrowsInvalidArgument) {
  SimRobot robot("SN-tool-controls", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_THROW(GetParam().second(robot), std::invalid_argument);
}

constexpr std::array<double, 3> kCoM{0, 0, 0.05};
constexpr std::array<double, 6> kInertia{0.002, 0.002, 0.001, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, SimRobotToolControl,
    ::testing::Values(
        std::pair{"NegativeMass", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetPayload(-1.0, kCoM, kInertia);
                  })},
        std::pair{"NaNMass", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetPayload(std::nan(""), kCoM, kInertia);
                  })},
        std::pair{"InfiniteCoM", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetPayload(1.0, {0, 0, std::numeric_limits<double>::infinity()}, kInertia);
                  })},
        std::pair{"NaNInertia", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetPayload(1.0, kCoM, {0, 0, 0, std::nan(""), 0, 0});
                  })},
        std::pair{"NegativeDuration", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetCalibrationDuration(-0.1);
                  })},
        std::pair{"NaNDuration", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetCalibrationDuration(std::nan(""));
                  })}),
    [](const auto& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace korvo::sim
