// Tool and WorkCoord against the simulated robot: the tool table and work coordinates, the order
// of the checks and their messages, the requests the robot receives, the pause after a tool
// change, and the payload calibration with its failure paths.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/tool.hpp"
#include "korvo/vyr/work_coord.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;
using zenoh_msgs::vyr_msg::RPCRequest;

constexpr char kCalibrate[] = "[korvo::vyr::Tool::CalibratePayloadParams] ";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double F(double v) { return static_cast<float>(v); }

ToolParams Gauge() {
  ToolParams p;
  p.mass = 0.75;
  p.CoM = {0.01, -0.02, 0.1};
  p.inertia = {0.003, 0.004, 0.005, 0.0001, 0.0002, 0.0003};
  p.tcp_location = {0.0, 0.0, 0.15, 1.0, 0.0, 0.0, 0.0};
  return p;
}

class ToolTest : public test::SimulatorSuite {
 protected:
  // A ready robot in IDLE with a Tool and a WorkCoord of its own.
  void Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    sim().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
    tool_ = std::make_unique<Tool>(*robot_);
    work_ = std::make_unique<WorkCoord>(*robot_);
    host_->ClearRecords();
  }
  void TearDown() override {
    work_.reset();
    tool_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  std::vector<RPCRequest> Requests(std::uint16_t op_code) const {
    return test::VyrRequestsOf(*host_, op_code);
  }
  std::vector<std::uint16_t> OpCodes() const { return test::VyrOpCodesOf(*host_); }
  void Switch(Mode mode) {
    robot_->SwitchMode(mode);
    host_->ClearRecords();
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Tool> tool_;
  std::unique_ptr<WorkCoord> work_;
};

// ---- the tool table -----------------------------------------------------------------------------

TEST_F(ToolTest, ListsTheTableAndTheActiveFlange) {
  Start(ProductModel::Olvar_LL);
  EXPECT_EQ(tool_->list(), std::vector<std::string>{"Flange"});
  EXPECT_TRUE(tool_->exist("Flange"));
  EXPECT_FALSE(tool_->exist("flange"));
  EXPECT_EQ(tool_->name(JointGroup::ARM_2), "Flange");
  const auto flange = tool_->params(JointGroup::ARM_1);
  EXPECT_EQ(flange.mass, 0.0);
  EXPECT_EQ(flange.tcp_location, (std::array<double, 7>{0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Requests(36).size(), 3u);  // list and each exist ask the robot
  const auto active = Requests(34);
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0].joint_groups, std::vector<std::uint16_t>{4});
  EXPECT_EQ(active[1].joint_groups, std::vector<std::uint16_t>{3});
}

TEST_F(ToolTest, AddSendsTheToolNarrowedToFloatsAndPausesAfterTheReply) {
  Start();
  const auto p = Gauge();
  tool_->Add("Gauge", p);
  const auto returned = std::chrono::system_clock::now();

  const auto add = Requests(30);
  ASSERT_EQ(add.size(), 1u);
  const auto& t = add[0].tool;
  EXPECT_EQ(t.name, "Gauge");
  EXPECT_EQ(t.mass, static_cast<float>(p.mass));
  EXPECT_EQ(t.CoM, (std::array<float, 3>{0.01f, -0.02f, 0.1f}));
  EXPECT_EQ(t.inertia, (std::array<float, 6>{0.003f, 0.004f, 0.005f, 0.0001f, 0.0002f, 0.0003f}));
  EXPECT_EQ(t.tcp_location, (std::array<float, 7>{0, 0, 0.15f, 1, 0, 0, 0}));
  EXPECT_TRUE(add[0].joint_groups.empty());
  // The call returns no sooner than 100 ms after the robot received (and answered) it.
  const auto records = host_->vyr_requests();
  EXPECT_GE(returned - records.back().time, 100ms);

  const auto back = tool_->params("Gauge");
  EXPECT_EQ(back.mass, F(p.mass));
  EXPECT_EQ(back.CoM[2], F(0.1));
  EXPECT_EQ(back.tcp_location[2], F(0.15));
  const auto named = Requests(35);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].tool.name, "Gauge");
}

TEST_F(ToolTest, SwitchMovesTheTcpByTheToolAndRemoveRestoresTheTable) {
  Start();
  tool_->Add("Gauge", Gauge());
  host_->ClearRecords();
  tool_->Switch(JointGroup::ARM_1, "Gauge");
  const auto sw = Requests(33);
  ASSERT_EQ(sw.size(), 1u);
  EXPECT_EQ(sw[0].tool.name, "Gauge");
  EXPECT_EQ(sw[0].tool.mass, 0.0f);
  EXPECT_EQ(sw[0].tool.tcp_location, (std::array<float, 7>{}));
  EXPECT_EQ(sw[0].joint_groups, std::vector<std::uint16_t>{3});
  EXPECT_EQ(tool_->name(JointGroup::ARM_1), "Gauge");
  EXPECT_EQ(sim().active_tools().at(3), "Gauge");

  // The robot refuses to remove the active tool; after switching back it goes.
  EXPECT_EQ(OutcomeOf([&] { tool_->Remove("Gauge"); }),
            Runtime("[korvo::vyr::Tool::Remove] Failed to deliver the request"));
  tool_->Switch(JointGroup::ARM_1, "Flange");
  host_->ClearRecords();
  tool_->Remove("Gauge");
  const auto removed = Requests(32);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].tool.name, "Gauge");
  EXPECT_EQ(removed[0].tool.mass, 0.0f);
  EXPECT_TRUE(removed[0].joint_groups.empty());
  EXPECT_EQ(tool_->list(), std::vector<std::string>{"Flange"});
}

TEST_F(ToolTest, UpdateChangesTheParametersTheRobotReports) {
  Start();
  tool_->Add("Gauge", Gauge());
  auto heavier = Gauge();
  heavier.mass = 2.5;
  tool_->Update("Gauge", heavier);
  EXPECT_EQ(Requests(31).size(), 1u);
  EXPECT_EQ(tool_->params("Gauge").mass, 2.5);
  // "Flange" exists, so the library sends the update; the robot refuses to redefine it.
  EXPECT_EQ(OutcomeOf([&] { tool_->Update("Flange", heavier); }),
            Runtime("[korvo::vyr::Tool::Update] Failed to deliver the request"));
}

// Checks and their order: each case starts from a ready robot in `mode`.
struct ToolCheck {
  const char* name;
  Mode mode;
  std::function<void(Tool&)> call;
  Outcome expected;
  std::vector<std::uint16_t> sent;  // op codes the robot receives
};

class ToolCheckTest : public ToolTest, public ::testing::WithParamInterface<ToolCheck> {};

TEST_P(ToolCheckTest, RaisesItsErrorBeforeSendingMore) {
  Start();
  if (GetParam().mode != Mode::IDLE) Switch(GetParam().mode);
  EXPECT_EQ(OutcomeOf([&] { GetParam().call(*tool_); }), GetParam().expected);
  EXPECT_EQ(OpCodes(), GetParam().sent);
}

std::string NotSingleArm(const char* operation, const char* group) {
  return std::string("[korvo::vyr::Tool::") + operation + "] The specified joint group [" + group +
         "] is not an existing single-arm joint group in the connected robot";
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ToolCheckTest,
    ::testing::Values(
        ToolCheck{"NameOfArms",
                  Mode::IDLE,
                  [](Tool& t) { t.name(JointGroup::ARMS); },
                  Invalid(NotSingleArm("name", "ARMS")),
                  {}},
        ToolCheck{"ParamsOfAMissingArm",
                  Mode::IDLE,
                  [](Tool& t) { t.params(JointGroup::ARM_2); },
                  Invalid(NotSingleArm("params", "ARM_2")),
                  {}},
        ToolCheck{"ParamsOfAnUnnamedGroup",
                  Mode::IDLE,
                  [](Tool& t) { t.params(static_cast<JointGroup>(42)); },
                  Invalid(NotSingleArm("params", "UNKNOWN")),
                  {}},
        ToolCheck{"SwitchGroupBeforeMode",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.Switch(JointGroup::EXT_AXIS, "Flange"); },
                  Invalid(NotSingleArm("Switch", "EXT_AXIS")),
                  {}},
        ToolCheck{"SwitchOutsideIdle",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.Switch(JointGroup::ARM_1, "Flange"); },
                  Logic("[korvo::vyr::Tool::Switch] Robot is not in IDLE mode"),
                  {}},
        ToolCheck{"SwitchToAnUnknownTool",
                  Mode::IDLE,
                  [](Tool& t) { t.Switch(JointGroup::ARM_1, "Gauge"); },
                  Invalid("[korvo::vyr::Tool::Switch] The specified tool [Gauge] does not exist"),
                  {36}},
        ToolCheck{"AddOutsideIdle",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.Add("Gauge", Gauge()); },
                  Logic("[korvo::vyr::Tool::Add] Robot is not in IDLE mode"),
                  {}},
        ToolCheck{"AddAnExistingName",
                  Mode::IDLE,
                  [](Tool& t) { t.Add("Flange", Gauge()); },
                  Invalid("[korvo::vyr::Tool::Add] The specified tool [Flange] already exists"),
                  {36}},
        ToolCheck{"UpdateOutsideIdle",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.Update("Flange", Gauge()); },
                  Logic("[korvo::vyr::Tool::Update] Robot is not in IDLE mode"),
                  {}},
        ToolCheck{"UpdateAnUnknownTool",
                  Mode::IDLE,
                  [](Tool& t) { t.Update("Gauge", Gauge()); },
                  Invalid("[korvo::vyr::Tool::Update] The specified tool [Gauge] does not exist"),
                  {36}},
        ToolCheck{"RemoveFlangeOutsideIdle",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.Remove("Flange"); },
                  Logic("[korvo::vyr::Tool::Remove] Robot is not in IDLE mode"),
                  {}},
        ToolCheck{"RemoveFlange",
                  Mode::IDLE,
                  [](Tool& t) { t.Remove("Flange"); },
                  Logic("[korvo::vyr::Tool::Remove] Removing [Flange] is not allowed"),
                  {}},
        ToolCheck{"RemoveAnUnknownTool",
                  Mode::IDLE,
                  [](Tool& t) { t.Remove("Gauge"); },
                  Invalid("[korvo::vyr::Tool::Remove] The specified tool [Gauge] does not exist"),
                  {36}},
        ToolCheck{"ParamsOfAnUnknownTool",
                  Mode::IDLE,
                  [](Tool& t) { t.params("Gauge"); },
                  Invalid("[korvo::vyr::Tool::params] The specified tool [Gauge] does not exist"),
                  {36}},
        ToolCheck{"CalibrateOutsideIdle",
                  Mode::NRT_JOINT_POSITION,
                  [](Tool& t) { t.CalibratePayloadParams(true); },
                  Logic(std::string(kCalibrate) + "Robot is not in IDLE mode"),
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A refused query surfaces as the operation's "No reply from the robot".
struct RefusedQuery {
  const char* name;
  std::uint16_t op_code;
  std::function<void(Tool&)> call;
};

class RefusedToolQueryTest : public ToolTest, public ::testing::WithParamInterface<RefusedQuery> {};

TEST_P(RefusedToolQueryTest, IsNoReplyFromTheRobot) {
  Start();
  host_->SetReplyRule(sim::Server::kVyr, GetParam().op_code, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(
      OutcomeOf([&] { GetParam().call(*tool_); }),
      Runtime(std::string("[korvo::vyr::Tool::") + GetParam().name + "] No reply from the robot"));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, RefusedToolQueryTest,
    ::testing::Values(RefusedQuery{"list", 36, [](Tool& t) { t.list(); }},
                      RefusedQuery{"exist", 36, [](Tool& t) { t.exist("Flange"); }},
                      RefusedQuery{"name", 34, [](Tool& t) { t.name(JointGroup::ARM_1); }},
                      RefusedQuery{"params", 34, [](Tool& t) { t.params(JointGroup::ARM_1); }},
                      RefusedQuery{"params", 35, [](Tool& t) { t.params("Flange"); }}),
    [](const auto& info) {
      return std::string(info.param.name) + std::to_string(info.param.op_code);
    });

TEST_F(ToolTest, AnInterfaceOutlivesItsRobotButCannotUseIt) {
  Start();
  robot_.reset();
  EXPECT_EQ(tool_->list(), std::vector<std::string>{"Flange"});  // the client lives on
  EXPECT_EQ(OutcomeOf([&] { tool_->Add("Gauge", Gauge()); }),
            Runtime("[korvo::vyr::Tool] Failed to access Robot instance"));
  EXPECT_EQ(OutcomeOf([&] { work_->Remove("WorkTable"); }),
            Runtime("[korvo::vyr::WorkCoord] Failed to access Robot instance"));
}

// ---- payload calibration ------------------------------------------------------------------------

class CalibrationTest : public ToolTest {
 protected:
  void SetUp() override {
    Start();
    sim().SetCalibrationDuration(0.3);
    sim().SetPayload(1.5, {0.0, 0.01, 0.06}, {0.004, 0.005, 0.006, 0.0, 0.0, 0.0});
  }
  // Starts a calibration on another thread, waits until the robot reports the plan running, then
  // runs `interrupt`.
  Outcome CalibrateInterruptedBy(const std::function<void()>& interrupt) {
    sim().SetCalibrationDuration(10.0);  // long enough to be caught running on a slow machine
    Outcome outcome;
    std::thread calibration(
        [&] { outcome = OutcomeOf([&] { tool_->CalibratePayloadParams(true); }); });
    // The library must have seen the plan running, or a paused stream would hide it.
    const bool running = Eventually([&] { return robot_->busy(); });
    if (running) interrupt();
    calibration.join();
    EXPECT_TRUE(running);
    return outcome;
  }
};

TEST_F(CalibrationTest, RunsThePlanReadsTheResultAndReturnsToIdle) {
  const auto result = tool_->CalibratePayloadParams(true);
  EXPECT_EQ(result.mass, F(1.5));
  EXPECT_EQ(result.CoM, (std::array<double, 3>{0.0, F(0.01), F(0.06)}));
  EXPECT_EQ(result.inertia, (std::array<double, 6>{F(0.004), F(0.005), F(0.006), 0, 0, 0}));
  EXPECT_EQ(result.tcp_location, (std::array<double, 7>{}));
  EXPECT_EQ(robot_->mode(), Mode::IDLE);

  // Switch to NRT_PLAN_EXECUTION, run the plan, read the result, back to IDLE.
  const auto switches = Requests(8);
  ASSERT_EQ(switches.size(), 2u);
  EXPECT_EQ(switches[0].int_container, std::vector<std::int32_t>{7});
  EXPECT_EQ(switches[1].int_container, std::vector<std::int32_t>{1});
  const auto plan = Requests(22);
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].string_container, std::vector<std::string>{"PLAN-ToolDynCaliWithTool-VYR"});
  EXPECT_EQ(plan[0].int_container, std::vector<std::int32_t>{0});
  EXPECT_EQ(Requests(37).size(), 1u);
  const auto codes = OpCodes();
  EXPECT_EQ(codes.front(), 8);
  EXPECT_EQ(codes.back(), 8);
}

TEST_F(CalibrationTest, WithoutToolRunsTheOtherPlan) {
  const auto result = tool_->CalibratePayloadParams(false);
  EXPECT_EQ(result.mass, 0.0);
  const auto plan = Requests(22);
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].string_container, std::vector<std::string>{"PLAN-ToolDynCaliNoTool-VYR"});
}

TEST_F(CalibrationTest, AMissingResultIsReportedAndTheRobotStaysInPlanMode) {
  host_->SetReplyRule(sim::Server::kVyr, 37, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(OutcomeOf([&] { tool_->CalibratePayloadParams(true); }),
            Runtime(std::string(kCalibrate) + "Failed to get the calibration result"));
  EXPECT_EQ(robot_->mode(), Mode::NRT_PLAN_EXECUTION);
}

TEST_F(CalibrationTest, AFaultOrAStopDuringThePlanIsNoResult) {
  const Outcome fault = Runtime(std::string(kCalibrate) + "Fault occurred during the calibration");
  EXPECT_EQ(CalibrateInterruptedBy([&] { sim().RaiseFault(false); }), fault);
  sim().MakeReady();
  ASSERT_TRUE(Eventually([&] { return robot_->operational() && !robot_->fault(); }));
  if (robot_->mode() != Mode::IDLE) robot_->SwitchMode(Mode::IDLE);
  EXPECT_EQ(CalibrateInterruptedBy([&] { sim().PressEstop(true); }), fault);
  EXPECT_FALSE(sim().payload_result().has_value());
}

TEST_F(CalibrationTest, ALostConnectionEndsTheWait) {
  EXPECT_EQ(
      CalibrateInterruptedBy([&] { host_->PauseStream(sim::Stream::kStates, true); }),
      Runtime(std::string(kCalibrate) + "Lost the connection to the robot during the calibration"));
  host_->PauseStream(sim::Stream::kStates, false);
}

TEST_F(CalibrationTest, ALiteInstanceIsRefusedBeforeAnythingIsSent) {
  Robot lite(serial_, false, true);
  Tool tool(lite);
  host_->ClearRecords();
  EXPECT_EQ(
      OutcomeOf([&] { tool.CalibratePayloadParams(true); }),
      Logic(std::string(kCalibrate) + "Payload calibration is not available on a lite instance"));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

// ---- work coordinates ---------------------------------------------------------------------------

using Pose = std::array<double, kPoseSize>;

TEST_F(ToolTest, WorkCoordinatesTravelAsFloatsAndComeBackWidened) {
  Start();
  EXPECT_EQ(work_->list(), std::vector<std::string>{"WorkTable"});
  EXPECT_TRUE(work_->exist("WorkTable"));
  EXPECT_FALSE(work_->exist("worktable"));
  EXPECT_EQ(work_->pose("WorkTable"), (Pose{F(0.6), 0.0, F(0.1), 1.0, 0.0, 0.0, 0.0}));

  host_->ClearRecords();
  const Pose pose = {0.1, -0.2, 0.3, 2.0, 0.0, 0.0, 0.0};  // the quaternion goes as given
  work_->Add("Fixture", pose);
  const auto add = Requests(50);
  ASSERT_EQ(add.size(), 1u);
  EXPECT_EQ(add[0].string_container, std::vector<std::string>{"Fixture"});
  EXPECT_EQ(add[0].float_container, (std::vector<float>{0.1f, -0.2f, 0.3f, 2.0f, 0, 0, 0}));
  EXPECT_EQ(work_->pose("Fixture")[0], 0.10000000149011612);
  EXPECT_EQ(work_->pose("Fixture")[3], 2.0);

  work_->Update("Fixture", {1, 2, 3, 1, 0, 0, 0});
  const auto update = Requests(51);
  ASSERT_EQ(update.size(), 1u);
  EXPECT_EQ(update[0].float_container, (std::vector<float>{1, 2, 3, 1, 0, 0, 0}));
  work_->Remove("Fixture");
  const auto remove = Requests(52);
  ASSERT_EQ(remove.size(), 1u);
  EXPECT_EQ(remove[0].string_container, std::vector<std::string>{"Fixture"});
  EXPECT_TRUE(remove[0].float_container.empty());
  EXPECT_FALSE(work_->exist("Fixture"));
}

struct WorkCoordCheck {
  const char* name;
  Mode mode;
  std::function<void(WorkCoord&)> call;
  Outcome expected;
  std::vector<std::uint16_t> sent;
};

class WorkCoordCheckTest : public ToolTest, public ::testing::WithParamInterface<WorkCoordCheck> {};

TEST_P(WorkCoordCheckTest, RaisesItsErrorBeforeSendingMore) {
  Start();
  sim().SetWorkCoordValues("Skewed", {0.1f, 0.2f, 0.3f, 1.0f, 0.0f, 0.0f});
  if (GetParam().mode != Mode::IDLE) Switch(GetParam().mode);
  host_->ClearRecords();
  EXPECT_EQ(OutcomeOf([&] { GetParam().call(*work_); }), GetParam().expected);
  EXPECT_EQ(OpCodes(), GetParam().sent);
}

const Pose kPose = {0.5, 0.0, 0.2, 1.0, 0.0, 0.0, 0.0};

INSTANTIATE_TEST_SUITE_P(
    Operations, WorkCoordCheckTest,
    ::testing::Values(
        WorkCoordCheck{"AddOutsideIdle",
                       Mode::NRT_JOINT_POSITION,
                       [](WorkCoord& w) { w.Add("Fixture", kPose); },
                       Logic("[korvo::vyr::WorkCoord::Add] Robot is not in IDLE mode"),
                       {}},
        WorkCoordCheck{"AddAnExistingName",
                       Mode::IDLE,
                       [](WorkCoord& w) { w.Add("WorkTable", kPose); },
                       Invalid("[korvo::vyr::WorkCoord::Add] The specified work coordinate "
                               "[WorkTable] already exists"),
                       {54}},
        WorkCoordCheck{"AddANaNPose",
                       Mode::IDLE,
                       [](WorkCoord& w) {
                         w.Add("Fixture", {kNaN, 0, 0, 1, 0, 0, 0});
                       },
                       Runtime("[korvo::vyr::WorkCoord::Add] Failed to deliver the request"),
                       {54, 50}},
        WorkCoordCheck{"UpdateOutsideIdle",
                       Mode::NRT_JOINT_POSITION,
                       [](WorkCoord& w) { w.Update("WorkTable", kPose); },
                       Logic("[korvo::vyr::WorkCoord::Update] Robot is not in IDLE mode"),
                       {}},
        WorkCoordCheck{"UpdateAnUnknownName",
                       Mode::IDLE,
                       [](WorkCoord& w) { w.Update("Fixture", kPose); },
                       Invalid("[korvo::vyr::WorkCoord::Update] The specified work coordinate "
                               "[Fixture] does not exist"),
                       {54}},
        WorkCoordCheck{"RemoveOutsideIdle",
                       Mode::NRT_JOINT_POSITION,
                       [](WorkCoord& w) { w.Remove("WorkTable"); },
                       Logic("[korvo::vyr::WorkCoord::Remove] Robot is not in IDLE mode"),
                       {}},
        WorkCoordCheck{"RemoveAnUnknownName",
                       Mode::IDLE,
                       [](WorkCoord& w) { w.Remove("Fixture"); },
                       Invalid("[korvo::vyr::WorkCoord::Remove] The specified work coordinate "
                               "[Fixture] does not exist"),
                       {54}},
        WorkCoordCheck{"PoseOfAnUnknownNameIsAsked",
                       Mode::IDLE,
                       [](WorkCoord& w) { w.pose("Fixture"); },
                       Runtime("[korvo::vyr::WorkCoord::pose] No reply from the robot"),
                       {53}},
        WorkCoordCheck{"PoseOfSixValues",
                       Mode::IDLE,
                       [](WorkCoord& w) { w.pose("Skewed"); },
                       Runtime("[korvo::vyr::WorkCoord::pose] No reply from the robot"),
                       {53}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr
