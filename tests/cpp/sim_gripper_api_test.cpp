// Gripper against the simulated robot: enabling and the enabled-gripper map,
// the order of the checks and their messages, clamping into the margin, Stop's
// command, the pairing of the gripper states with the map, and the fingers
// following the commands.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvo/vyr/device.hpp"
#include "korvo/vyr/gripper.hpp"
#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using test::Eventually;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;
using zenoh_msgs::vyr_msg::RPCRequest;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The simulated gripper's ranges as the library reads them: reported as 32-bit
// floats.
double F(double v) { return static_cast<float>(v); }
const double kMaxWidth = F(0.1), kMinWidth = F(0.0), kMaxForce = F(80.0), kMinForce = F(-80.0),
             kMaxVel = F(0.2), kMinVel = F(0.001);

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::Gripper::") + operation + "] ";
}

class GripperTest : public test::SimulatorSuite {
 protected:
  Gripper& Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    robot_ = std::make_unique<Robot>(serial_, false);
    gripper_ = std::make_unique<Gripper>(*robot_);
    host_->ClearRecords();
    return *gripper_;
  }
  // Starts with Gripper1 enabled for ARM_1.
  Gripper& StartEnabled() {
    auto& gripper = Start();
    gripper.Enable(JointGroup::ARM_1, "Gripper1");
    EXPECT_TRUE(
        Eventually([&] { return host_->robot().RealtimeStates().gripper_states.size() == 1; }));
    EXPECT_TRUE(Eventually([&] { return OutcomeOf([&] { gripper.states(); }) == Outcome{}; }));
    host_->ClearRecords();
    return gripper;
  }
  void TearDown() override {
    gripper_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  std::vector<RPCRequest> Requests(std::uint16_t op_code) const {
    return test::VyrRequestsOf(*host_, op_code);
  }
  // The one command request sent since the last ClearRecords.
  RPCRequest LastCommand() const {
    const auto sent = Requests(42);
    EXPECT_EQ(sent.size(), 1u);
    return sent.empty() ? RPCRequest{} : sent.back();
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Gripper> gripper_;
};

// ---- Enable
// -------------------------------------------------------------------------------------

TEST_F(GripperTest, EnableReadsTheRangesAndSyncsTheMap) {
  auto& gripper = Start();
  gripper.Enable(JointGroup::ARM_1, "Gripper1");

  const auto enable = Requests(41);
  ASSERT_EQ(enable.size(), 1u);
  EXPECT_EQ(enable[0].int_container, std::vector<std::int32_t>{1});
  EXPECT_EQ(enable[0].string_container, std::vector<std::string>{"Gripper1"});
  EXPECT_EQ(Requests(43).size(), 1u);
  const auto sync = Requests(46);
  ASSERT_EQ(sync.size(), 1u);
  EXPECT_EQ(sync[0].joint_groups, std::vector<std::uint16_t>{3});
  EXPECT_EQ(sync[0].string_container, std::vector<std::string>{"Gripper1"});
  EXPECT_TRUE(sync[0].int_container.empty());
  EXPECT_TRUE(sync[0].float_container.empty());

  const auto params = gripper.params();
  ASSERT_EQ(params.size(), 1u);
  const auto& p = params.at(JointGroup::ARM_1);
  EXPECT_EQ(p.name, "Gripper1");
  EXPECT_EQ(p.max_width, kMaxWidth);
  EXPECT_EQ(p.min_width, kMinWidth);
  EXPECT_EQ(p.max_force, kMaxForce);
  EXPECT_EQ(p.min_force, kMinForce);
  EXPECT_EQ(p.max_vel, kMaxVel);
  EXPECT_EQ(p.min_vel, kMinVel);
  EXPECT_TRUE(sim().device_enabled("Gripper1"));
  EXPECT_EQ(sim().gripper_map(), (std::map<std::uint16_t, std::string>{{3, "Gripper1"}}));
}

TEST_F(GripperTest, EnableRefusesGroupsThatAreNotSingleArmsWithoutSendingAnything) {
  auto& gripper = Start();
  for (const auto& [group, name] :
       std::vector<std::pair<JointGroup, std::string>>{{JointGroup::ALL, "ALL"},
                                                       {JointGroup::ARMS, "ARMS"},
                                                       {JointGroup::ARM_2, "ARM_2"},
                                                       {JointGroup::EXT_AXIS, "EXT_AXIS"},
                                                       {static_cast<JointGroup>(42), "UNKNOWN"}}) {
    EXPECT_EQ(OutcomeOf([&] { gripper.Enable(group, "Gripper1"); }),
              Invalid(Prefix("Enable") + "The specified joint group [" + name +
                      "] is not an existing single-arm joint group in the "
                      "connected robot"));
  }
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(GripperTest, EnableOfAnUnknownGripperIsAnInvalidArgument) {
  auto& gripper = Start();
  EXPECT_EQ(OutcomeOf([&] { gripper.Enable(JointGroup::ARM_1, "gripper1"); }),
            Invalid(Prefix("Enable") + "The specified gripper [gripper1] does not exist"));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(GripperTest, EnableTwiceKeepsTheFirstGripperAndSendsNothing) {
  auto& gripper = StartEnabled();
  gripper.Enable(JointGroup::ARM_1, "Conveyor0");
  EXPECT_TRUE(host_->vyr_requests().empty());
  EXPECT_EQ(gripper.params().at(JointGroup::ARM_1).name, "Gripper1");
}

// A failing step of Enable: its message, and whether the gripper ends up in the
// map.
struct EnableFailure {
  const char* name;
  std::function<void(sim::RobotHost&)> arrange;
  Outcome expected;
};

class EnableFailureTest : public GripperTest,
                          public ::testing::WithParamInterface<EnableFailure> {};

TEST_P(EnableFailureTest, LeavesNoEntryBehind) {
  auto& gripper = Start();
  GetParam().arrange(*host_);
  EXPECT_EQ(OutcomeOf([&] { gripper.Enable(JointGroup::ARM_1, "Gripper1"); }), GetParam().expected);
  EXPECT_TRUE(gripper.params().empty());
}

std::map<std::string, sim::DeviceParam> GripperParamsWith(const std::string& key,
                                                          std::optional<sim::DeviceParam> value) {
  std::map<std::string, sim::DeviceParam> params = {
      {"maxWidth", sim::DeviceParam::Float(0.1)},  {"minWidth", sim::DeviceParam::Float(0.0)},
      {"maxForce", sim::DeviceParam::Float(80.0)}, {"minForce", sim::DeviceParam::Float(-80.0)},
      {"maxVel", sim::DeviceParam::Float(0.2)},    {"minVel", sim::DeviceParam::Float(0.001)}};
  if (value) {
    params[key] = *value;
  } else {
    params.erase(key);
  }
  return params;
}

std::function<void(sim::RobotHost&)> Report(const std::string& key,
                                            std::optional<sim::DeviceParam> value) {
  return [=](sim::RobotHost& h) {
    h.robot().SetDeviceParams("Gripper1", GripperParamsWith(key, value));
  };
}

std::function<void(sim::RobotHost&)> Refuse(std::uint16_t op_code) {
  return [=](sim::RobotHost& h) {
    h.SetReplyRule(sim::Server::kVyr, op_code, {sim::ReplyAction::kRefuse, {}, 1});
  };
}

const Outcome kParseFailure = Runtime(Prefix("Enable") + "Failed to parse gripper parameters");

INSTANTIATE_TEST_SUITE_P(
    Steps, EnableFailureTest,
    ::testing::Values(
        EnableFailure{"EnableRefused", Refuse(41),
                      Runtime(Prefix("Enable") + "Failed to deliver the request")},
        EnableFailure{"ParamsRefused", Refuse(43),
                      Runtime(Prefix("Enable") + "Failed to fetch gripper parameters")},
        EnableFailure{"MinVelMissing", Report("minVel", std::nullopt), kParseFailure},
        EnableFailure{"MinVelAnInteger", Report("minVel", sim::DeviceParam::Int(0)), kParseFailure},
        EnableFailure{"MaxWidthAString", Report("maxWidth", sim::DeviceParam::Text("0.1")),
                      kParseFailure},
        EnableFailure{"MaxForceAList", Report("maxForce", sim::DeviceParam::Floats({80, 90})),
                      kParseFailure},
        EnableFailure{"MaxVelNotFinite", Report("maxVel", sim::DeviceParam::Float(kInf)),
                      kParseFailure},
        EnableFailure{"SyncRefused", Refuse(46),
                      Runtime("[korvo::vyr::Gripper] Failed to sync enabled gripper map")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GripperTest, EnableAfterAFailedSyncSyncsAgain) {
  auto& gripper = Start();
  host_->SetReplyRule(sim::Server::kVyr, 46, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_THROW(gripper.Enable(JointGroup::ARM_1, "Gripper1"), std::runtime_error);
  EXPECT_TRUE(sim().device_enabled("Gripper1"));  // the robot keeps the device enabled
  EXPECT_TRUE(sim().gripper_map().empty());
  gripper.Enable(JointGroup::ARM_1, "Gripper1");
  EXPECT_EQ(Requests(46).size(), 2u);
  EXPECT_EQ(sim().gripper_map(), (std::map<std::uint16_t, std::string>{{3, "Gripper1"}}));
  EXPECT_EQ(gripper.params().size(), 1u);
}

// ---- Disable
// ------------------------------------------------------------------------------------

TEST_F(GripperTest, DisableDisablesTheDeviceThenSyncsTheSmallerMap) {
  auto& gripper = StartEnabled();
  gripper.Disable(JointGroup::ARM_1);
  const auto requests = host_->vyr_requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].request.op_code, 41);
  EXPECT_EQ(requests[0].request.int_container, std::vector<std::int32_t>{0});
  EXPECT_EQ(requests[0].request.string_container, std::vector<std::string>{"Gripper1"});
  EXPECT_EQ(requests[1].request.op_code, 46);
  EXPECT_TRUE(requests[1].request.joint_groups.empty());
  EXPECT_TRUE(requests[1].request.string_container.empty());
  EXPECT_TRUE(gripper.params().empty());
  EXPECT_FALSE(sim().device_enabled("Gripper1"));
  EXPECT_TRUE(sim().gripper_map().empty());
}

TEST_F(GripperTest, AFailedDisableKeepsTheEntry) {
  auto& gripper = StartEnabled();
  host_->SetReplyRule(sim::Server::kVyr, 41, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(OutcomeOf([&] { gripper.Disable(JointGroup::ARM_1); }),
            Runtime(Prefix("Disable") + "Failed to deliver the request"));
  EXPECT_EQ(gripper.params().size(), 1u);
  EXPECT_TRUE(Requests(46).empty());
}

// ---- operations without an enabled gripper
// ------------------------------------------------------

TEST_F(GripperTest, OperationsOnAGroupWithoutGripperAreLogicErrors) {
  auto& gripper = Start();
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Disable", [&] { gripper.Disable(JointGroup::ARM_1); }},
      {"Init", [&] { gripper.Init(JointGroup::ARM_1); }},
      {"Grasp", [&] { gripper.Grasp(JointGroup::ARM_1, 10.0); }},
      {"Move", [&] { gripper.Move(JointGroup::ARM_1, 0.05, 0.1, 10.0); }},
      {"Stop", [&] { gripper.Stop(JointGroup::ARM_1); }},
  };
  for (const auto& [name, call] : calls) {
    EXPECT_EQ(OutcomeOf(call), Logic(Prefix(name) + "No gripper enabled for joint group [ARM_1]"));
  }
  EXPECT_TRUE(host_->vyr_requests().empty());
  EXPECT_TRUE(gripper.params().empty());
  EXPECT_TRUE(gripper.states().empty());
}

// ---- commands
// -----------------------------------------------------------------------------------

TEST_F(GripperTest, InitSendsIsInit) {
  auto& gripper = StartEnabled();
  gripper.Init(JointGroup::ARM_1);
  const auto sent = LastCommand();
  EXPECT_EQ(sent.int_container, std::vector<std::int32_t>{1});
  EXPECT_EQ(sent.float_container, std::vector<float>{0.0f});
  EXPECT_EQ(sent.string_container, (std::vector<std::string>{"isInit<bool>", "Gripper1"}));
  EXPECT_TRUE(Eventually([&] { return sim().gripper_state("Gripper1").initialized; }));
}

struct GraspCase {
  const char* name;
  double force;
  std::optional<double> sent;  // nothing: out of range
};

class GraspTest : public GripperTest, public ::testing::WithParamInterface<GraspCase> {};

TEST_P(GraspTest, ChecksTheRangeAndClampsIntoTheMargin) {
  auto& gripper = StartEnabled();
  const auto& c = GetParam();
  if (!c.sent) {
    EXPECT_EQ(OutcomeOf([&] { gripper.Grasp(JointGroup::ARM_1, c.force); }),
              Invalid(Prefix("Grasp") + "Input parameter [force] is outside the valid range"));
    EXPECT_TRUE(host_->vyr_requests().empty());
    return;
  }
  gripper.Grasp(JointGroup::ARM_1, c.force);
  const auto sent = LastCommand();
  EXPECT_EQ(sent.string_container, (std::vector<std::string>{"targetForce<double>", "Gripper1"}));
  EXPECT_EQ(sent.int_container, std::vector<std::int32_t>{0});
  EXPECT_EQ(sent.float_container, std::vector<float>{static_cast<float>(*c.sent)});
}

INSTANTIATE_TEST_SUITE_P(
    Forces, GraspTest,
    ::testing::Values(GraspCase{"AtMaximum", kMaxForce, kMaxForce - 1e-4},
                      GraspCase{"AtMinimum", kMinForce, kMinForce + 1e-4},
                      GraspCase{"Inside", 25.0, 25.0},
                      GraspCase{"AboveMaximum", std::nextafter(kMaxForce, kInf), std::nullopt},
                      GraspCase{"BelowMinimum", std::nextafter(kMinForce, -kInf), std::nullopt},
                      GraspCase{"NaN", kNaN, std::nullopt},
                      GraspCase{"Infinite", kInf, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GripperTest, GraspWithinARangeOfOneValueSendsThatValue) {
  auto& gripper = Start();
  auto params = GripperParamsWith("minForce", sim::DeviceParam::Float(20.0));
  params["maxForce"] = sim::DeviceParam::Float(20.0);
  sim().SetDeviceParams("Gripper1", params);
  gripper.Enable(JointGroup::ARM_1, "Gripper1");
  host_->ClearRecords();
  gripper.Grasp(JointGroup::ARM_1, 20.0);
  EXPECT_EQ(LastCommand().float_container, std::vector<float>{20.0f});
}

struct MoveCase {
  const char* name;
  double width, velocity, force_limit;
  const char* failing;  // the argument reported, or nullptr
};

class MoveCheckTest : public GripperTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveCheckTest, ReportsTheFirstArgumentOutsideItsRange) {
  auto& gripper = StartEnabled();
  const auto& c = GetParam();
  EXPECT_EQ(
      OutcomeOf([&] { gripper.Move(JointGroup::ARM_1, c.width, c.velocity, c.force_limit); }),
      Invalid(Prefix("Move") + "Input parameter [" + c.failing + "] is outside the valid range"));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MoveCheckTest,
    ::testing::Values(MoveCase{"AllOutside", 1.0, 1.0, 100.0, "width"},
                      MoveCase{"WidthNegative", -0.01, 0.1, 10.0, "width"},
                      MoveCase{"WidthNaN", kNaN, 0.1, 10.0, "width"},
                      MoveCase{"VelocityAndForce", 0.05, 0.0, 100.0, "velocity"},
                      MoveCase{"VelocityNaN", 0.05, kNaN, 10.0, "velocity"},
                      MoveCase{"ForceLimit", 0.05, 0.1, -80.5, "force_limit"},
                      MoveCase{"ForceLimitInfinite", 0.05, 0.1, -kInf, "force_limit"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GripperTest, MoveSendsTheThreeTargetsClampedAtBothEnds) {
  auto& gripper = StartEnabled();
  gripper.Move(JointGroup::ARM_1, kMaxWidth, kMinVel, 12.0);
  const auto sent = LastCommand();
  EXPECT_EQ(sent.string_container,
            (std::vector<std::string>{"targetForce<double>", "targetVel<double>",
                                      "targetWidth<double>", "Gripper1"}));
  EXPECT_EQ(sent.int_container, (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_EQ(sent.float_container, (std::vector<float>{12.0f, static_cast<float>(kMinVel + 1e-4),
                                                      static_cast<float>(kMaxWidth - 1e-4)}));
}

TEST_F(GripperTest, StopHoldsTheMeasuredWidthAtTheSlowestVelocity) {
  auto& gripper = StartEnabled();
  gripper.Move(JointGroup::ARM_1, 0.02, 0.05, 10.0);
  ASSERT_TRUE(Eventually([&] { return gripper.states().at(JointGroup::ARM_1).is_moving; }));
  host_->ClearRecords();
  gripper.Stop(JointGroup::ARM_1);
  const auto sent = LastCommand();
  EXPECT_EQ(sent.string_container,
            (std::vector<std::string>{"targetVel<double>", "targetWidth<double>", "Gripper1"}));
  ASSERT_EQ(sent.float_container.size(), 2u);
  EXPECT_EQ(sent.float_container[0], static_cast<float>(kMinVel + 1e-4));
  // The measured width lies between where the fingers were and where they were
  // going.
  EXPECT_LT(sent.float_container[1], static_cast<float>(kMaxWidth));
  EXPECT_GE(sent.float_container[1], 0.02f);
}

TEST_F(GripperTest, CommandsToADeviceTheRobotDisabledAreDeliveryFailures) {
  auto& gripper = StartEnabled();
  Device other(*robot_);
  other.Disable("Gripper1");
  EXPECT_EQ(OutcomeOf([&] { gripper.Init(JointGroup::ARM_1); }),
            Runtime(Prefix("Init") + "Failed to deliver the request"));
  EXPECT_EQ(OutcomeOf([&] { gripper.Grasp(JointGroup::ARM_1, 1.0); }),
            Runtime(Prefix("Grasp") + "Failed to deliver the request"));
  EXPECT_EQ(OutcomeOf([&] { gripper.Move(JointGroup::ARM_1, 0.05, 0.1, 1.0); }),
            Runtime(Prefix("Move") + "Failed to deliver the request"));
  EXPECT_EQ(OutcomeOf([&] { gripper.Stop(JointGroup::ARM_1); }),
            Runtime(Prefix("Stop") + "Failed to deliver the request"));
}

// ---- states
// -------------------------------------------------------------------------------------

TEST_F(GripperTest, StatesPairTheRobotsListWithTheMapInGroupOrder) {
  auto& gripper = Start(ProductModel::Olvar_LL);
  gripper.Enable(JointGroup::ARM_2, "Gripper2");
  gripper.Enable(JointGroup::ARM_1, "Gripper1");
  const auto sync = Requests(46);
  ASSERT_EQ(sync.size(), 2u);
  EXPECT_EQ(sync[1].joint_groups, (std::vector<std::uint16_t>{3, 4}));
  EXPECT_EQ(sync[1].string_container, (std::vector<std::string>{"Gripper1", "Gripper2"}));

  ASSERT_TRUE(Eventually([&] {
    return OutcomeOf([&] { gripper.states(); }) == Outcome{} && gripper.states().size() == 2;
  }));
  gripper.Move(JointGroup::ARM_2, 0.03, kMaxVel, 10.0);
  ASSERT_TRUE(Eventually([&] {
    const auto s = gripper.states();
    return std::abs(s.at(JointGroup::ARM_2).width - 0.03) < 1e-4 &&
           !s.at(JointGroup::ARM_2).is_moving;
  }));
  EXPECT_NEAR(gripper.states().at(JointGroup::ARM_1).width, kMaxWidth, 1e-6);
}

TEST_F(GripperTest, StatesOfAnotherNumberOfGrippersThanEnabledAreRefused) {
  StartEnabled();
  Gripper fresh(*robot_);  // enables nothing, while the robot reports Gripper1
  EXPECT_EQ(OutcomeOf([&] { fresh.states(); }),
            Runtime("[korvo::vyr::Gripper::states] Size of gripper states "
                    "container [1] does not "
                    "match number of enabled grippers [0]"));
  EXPECT_EQ(OutcomeOf([&] { fresh.params(); }), Outcome{});
}

TEST_F(GripperTest, FingersCloseOnAnObjectWithTheCommandedForce) {
  auto& gripper = StartEnabled();
  sim().SetObjectWidth("Gripper1", 0.04);
  gripper.Grasp(JointGroup::ARM_1, 30.0);
  ASSERT_TRUE(Eventually([&] {
    const auto s = gripper.states().at(JointGroup::ARM_1);
    return !s.is_moving && std::abs(s.width - 0.04) < 1e-6;
  }));
  EXPECT_FLOAT_EQ(gripper.states().at(JointGroup::ARM_1).force, 30.0f);
  // Opening releases the object.
  gripper.Move(JointGroup::ARM_1, 0.08, kMaxVel, 10.0);
  ASSERT_TRUE(Eventually([&] {
    const auto s = gripper.states().at(JointGroup::ARM_1);
    return !s.is_moving && std::abs(s.width - 0.08) < 1e-4;
  }));
  EXPECT_EQ(gripper.states().at(JointGroup::ARM_1).force, 0.0);
}

}  // namespace
}  // namespace korvo::vyr
