// Plans, primitives, global variables and Home: their checks and what the simulated robot
// receives, and the primitive-state and plan-information replies a scripted robot gives.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <variant>
#include <vector>

#include "korvo/vyr/name_tables.hpp"
#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "middleware/session.hpp"
#include "rpc_test_support.hpp"
#include "sim/simulator.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using sim::Simulator;
using Strings = std::vector<std::string>;
using Ints = std::vector<std::int32_t>;
using QelServer =
    test::ScriptedServer<zenoh_msgs::qel_msg::RPCRequest, zenoh_msgs::qel_msg::RPCReply>;
using VyrServer =
    test::ScriptedServer<zenoh_msgs::vyr_msg::RPCRequest, zenoh_msgs::vyr_msg::RPCReply>;
using test::Eventually;

constexpr std::uint16_t kArm1 = 3;
constexpr std::uint16_t kArm2 = 4;

// A VYR request as the tests compare it: operation code, ints and strings.
struct Sent {
  int op_code;
  Ints ints;
  Strings strings;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
  out << "{" << s.op_code << " [";
  for (const auto i : s.ints) out << i << " ";
  out << "] [";
  for (const auto& t : s.strings) out << "'" << t << "' ";
  return out << "]}";
}

std::vector<Sent> SentTo(const sim::RobotHost& host) {
  std::vector<Sent> sent;
  for (const auto& r : host.vyr_requests()) {
    sent.push_back({r.request.op_code, r.request.int_container, r.request.string_container});
  }
  return sent;
}

std::vector<int> QelOpCodes(const sim::RobotHost& host) {
  std::vector<int> codes;
  for (const auto& r : host.qel_requests()) codes.push_back(r.request.op_code);
  return codes;
}

// Only the primitive requests, whole.
std::vector<zenoh_msgs::vyr_msg::RPCRequest> PrimitiveRequests(const sim::RobotHost& host) {
  std::vector<zenoh_msgs::vyr_msg::RPCRequest> found;
  for (const auto& r : host.vyr_requests()) {
    if (r.request.op_code == 21) found.push_back(r.request);
  }
  return found;
}

// ---- values ----

template <typename T>
bool Same(const T& a, const T& b) {
  return a == b;
}
bool Same(const JPos& a, const JPos& b) { return a.q_m == b.q_m && a.q_e == b.q_e; }
bool Same(const Coord& a, const Coord& b) {
  return a.position == b.position && a.orientation == b.orientation && a.ref_frame == b.ref_frame &&
         a.ref_q_m == b.ref_q_m && a.ref_q_e == b.ref_q_e;
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i], b[i])) return false;
  }
  return true;
}
bool Same(const ParamValue& a, const ParamValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit([&b](const auto& x) { return Same(x, std::get<std::decay_t<decltype(x)>>(b)); },
                    a);
}
bool Same(const std::map<std::string, ParamValue>& a, const std::map<std::string, ParamValue>& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, value] : a) {
    const auto it = b.find(name);
    if (it == b.end() || !Same(value, it->second)) return false;
  }
  return true;
}
bool Same(const std::map<JointGroup, PrimitiveStates>& a,
          const std::map<JointGroup, PrimitiveStates>& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [g, states] : a) {
    const auto it = b.find(g);
    if (it == b.end() || it->second.pt_name != states.pt_name ||
        !Same(states.names_and_values, it->second.names_and_values)) {
      return false;
    }
  }
  return true;
}

const Coord kStation({0.5, 0, 0}, {180, 0, 90}, {"WORLD", "WORLD_ORIGIN"});
constexpr char kStationText[] = "0.5 0 0 180 0 90 WORLD WORLD_ORIGIN ";

Coord AxisReferenceOnly() {
  Coord c = kStation;
  c.ref_q_e = {1, 0, 0, 0, 0, 0};
  return c;
}

// ---- fixture ----

class PlansTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = test::FreeTcpPort();
    simulator_ = std::make_unique<Simulator>(zenoh::Config::from_str(test::ListenerConfig(port)));
    connector_ = std::make_unique<test::TempFile>(test::ConnectorConfig(port));
    env_ = std::make_unique<test::ScopedEnv>("ZENOH_CONFIG", connector_->path());
  }
  static void TearDownTestSuite() {
    env_.reset();
    connector_.reset();
    simulator_.reset();
  }

  static std::string NextSerial(ProductModel model) {
    static int count = 0;
    return kProductModelNames.at(model) + "-plans" + std::to_string(++count);
  }

  // A ready robot of its own, in `mode`, which has forgotten the set-up requests.
  Robot& Start(Mode mode, ProductModel model = ProductModel::Olvar_LL) {
    serial_ = NextSerial(model);
    host_ = &simulator_->AddRobot(model, serial_);
    host_->robot().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    EXPECT_TRUE(Eventually([&] { return robot_->operational(); }));
    if (mode != Mode::IDLE) robot_->SwitchMode(mode);
    EXPECT_EQ(robot_->mode(), mode);
    host_->ClearRecords();
    return *robot_;
  }

  // A lite robot whose two servers the test scripts: the simulator answers its construction,
  // then hands the key expressions over to the scripted servers, which report `mode`.
  Robot& StartScripted(Mode mode, ProductModel model = ProductModel::Olvar_L) {
    const std::string serial = NextSerial(model);
    simulator_->AddRobot(model, serial);
    robot_ = std::make_unique<Robot>(serial, false, true);
    simulator_->RemoveRobot(serial);
    auto& session = *simulator_->session();
    qel_ = std::make_unique<QelServer>(session, "korvo/robot/" + serial + "/rpc");
    vyr_ = std::make_unique<VyrServer>(session, "korvo/vyr/" + serial + "/rpc");
    EXPECT_TRUE(qel_->WaitUntilKnown(zenoh_mdw::GetSharedSession()));
    EXPECT_TRUE(vyr_->WaitUntilKnown(zenoh_mdw::GetSharedSession()));
    vyr_->SetReplies([mode](const zenoh_msgs::vyr_msg::RPCRequest& request) {
      auto reply = VyrServer::AcceptedReply(request);
      if (request.op_code == 7) reply.int_container = {static_cast<std::int32_t>(mode)};
      return reply;
    });
    return *robot_;
  }
  // The scripted QEL server answers every request with `texts`, or not at all.
  void QelReplies(std::optional<Strings> texts) {
    qel_->SetReplies([texts](const zenoh_msgs::qel_msg::RPCRequest& request)
                         -> std::optional<zenoh_msgs::qel_msg::RPCReply> {
      if (!texts) return std::nullopt;
      auto reply = QelServer::AcceptedReply(request);
      reply.string_container = *texts;
      return reply;
    });
  }

  void TearDown() override {
    robot_.reset();
    qel_.reset();
    vyr_.reset();
    if (!serial_.empty()) simulator_->RemoveRobot(serial_);
  }

  static inline std::unique_ptr<Simulator> simulator_;
  static inline std::unique_ptr<test::TempFile> connector_;
  static inline std::unique_ptr<test::ScopedEnv> env_;
  std::string serial_;
  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<QelServer> qel_;
  std::unique_ptr<VyrServer> vyr_;
};

// Runs `call` and returns the exception it throws; fails the test when it throws none.
std::optional<std::string> Rejection(const std::function<void()>& call,
                                     const std::type_info& type) {
  try {
    call();
  } catch (const std::exception& e) {
    EXPECT_TRUE(typeid(e) == type) << typeid(e).name() << ": " << e.what();
    return std::string(e.what());
  }
  ADD_FAILURE() << "accepted";
  return std::nullopt;
}

// ---- checks before anything is sent -----------------------------------------------------------

struct CheckCase {
  const char* name;
  ProductModel model;
  Mode mode;
  std::function<void(sim::SimRobot&)> setup;  // may be empty
  std::function<void(Robot&)> call;
  const std::type_info* type;
  std::string message;
  std::vector<int> vyr_sent;  // operation codes the robot received meanwhile
};

class PlanChecks : public PlansTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(PlanChecks, RejectInTheirOrderWithTheirMessage) {
  const auto& c = GetParam();
  Robot& robot = Start(c.mode, c.model);
  if (c.setup) {
    c.setup(host_->robot());
    ASSERT_TRUE(Eventually([&] { return !robot.operational(); }));
    host_->ClearRecords();
  }
  EXPECT_EQ(Rejection([&] { c.call(robot); }, *c.type), c.message);
  std::vector<int> sent;
  for (const auto& s : SentTo(*host_)) sent.push_back(s.op_code);
  EXPECT_EQ(sent, c.vyr_sent);
  EXPECT_TRUE(QelOpCodes(*host_).empty());
}

const std::string kNotApplicable = " Robot is not in an applicable control mode";
const std::string kExecutePlan = "[korvo::vyr::Robot::ExecutePlan]";
const std::string kExecutePrimitive = "[korvo::vyr::Robot::ExecutePrimitive]";
const std::string kSetVelocityScale = "[korvo::vyr::Robot::SetVelocityScale]";
const std::string kSetGlobalVariables = "[korvo::vyr::Robot::SetGlobalVariables]";
const std::string kScaleAbove =
    kSetVelocityScale + " Input parameter [velocity_scale] cannot exceed 100%";
const std::string kEstopPressed =
    " Robot is not operational: " + kOpStatusNames.at(OperationalStatus::ESTOP_NOT_RELEASED);

void PressEstop(sim::SimRobot& r) { r.PressEstop(true); }

std::string NotSingleArm(const std::string& operation, const std::string& group) {
  return "[korvo::vyr::Robot::" + operation + "] The specified joint group [" + group +
         "] is not an existing single-arm joint group in the connected robot";
}

constexpr auto kLL = ProductModel::Olvar_LL;
constexpr auto kL = ProductModel::Olvar_L;
const auto* const kLogic = &typeid(std::logic_error);
const auto* const kInvalid = &typeid(std::invalid_argument);
const auto* const kRuntime = &typeid(std::runtime_error);

INSTANTIATE_TEST_SUITE_P(
    Checks, PlanChecks,
    ::testing::Values(
        CheckCase{"ExecutePlanByNameInIdle",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.ExecutePlan("PLAN-Inspection"); },
                  kLogic,
                  kExecutePlan + kNotApplicable,
                  {}},
        // The list comes first, before the tests of the name form.
        CheckCase{"ExecutePlanByIndexInIdleAsksForTheList",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.ExecutePlan(0u); },
                  kLogic,
                  kExecutePlan + kNotApplicable,
                  {23}},
        CheckCase{"ExecutePlanByIndexBeyondTheList",
                  kLL,
                  Mode::NRT_PLAN_EXECUTION,
                  {},
                  [](Robot& r) { r.ExecutePlan(4u); },
                  kInvalid,
                  kExecutePlan + " Input parameter [index] is outside the valid range",
                  {23}},
        // The operational test comes before the mode test (the E-stop also left the mode).
        CheckCase{"ExecutePlanNotOperational",
                  kLL,
                  Mode::NRT_PLAN_EXECUTION,
                  PressEstop,
                  [](Robot& r) { r.ExecutePlan("PLAN-Inspection"); },
                  kRuntime,
                  kExecutePlan + kEstopPressed,
                  {}},
        CheckCase{"ExecutePlanByIndexNotOperational",
                  kLL,
                  Mode::NRT_PLAN_EXECUTION,
                  PressEstop,
                  [](Robot& r) { r.ExecutePlan(0u); },
                  kRuntime,
                  kExecutePlan + kEstopPressed,
                  {23}},
        CheckCase{"PausePlanInPrimitiveMode",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) { r.PausePlan(true); },
                  kLogic,
                  "[korvo::vyr::Robot::PausePlan]" + kNotApplicable,
                  {}},
        CheckCase{"StopPlanInIdle",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.StopPlan(); },
                  kLogic,
                  "[korvo::vyr::Robot::StopPlan]" + kNotApplicable,
                  {}},
        CheckCase{"PlanInfoInIdle",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.plan_info(); },
                  kLogic,
                  "[korvo::vyr::Robot::plan_info]" + kNotApplicable,
                  {}},
        CheckCase{"SetBreakpointModeInPrimitiveMode",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) { r.SetBreakpointMode(true); },
                  kLogic,
                  "[korvo::vyr::Robot::SetBreakpointMode]" + kNotApplicable,
                  {}},
        CheckCase{"StepBreakpointInIdle",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.StepBreakpoint(); },
                  kLogic,
                  "[korvo::vyr::Robot::StepBreakpoint]" + kNotApplicable,
                  {}},
        CheckCase{"VelocityScaleModeBeforeBound",
                  kLL,
                  Mode::NRT_JOINT_POSITION,
                  {},
                  [](Robot& r) { r.SetVelocityScale(101); },
                  kLogic,
                  kSetVelocityScale + kNotApplicable,
                  {}},
        CheckCase{"VelocityScaleAboveInPlanMode",
                  kLL,
                  Mode::NRT_PLAN_EXECUTION,
                  {},
                  [](Robot& r) { r.SetVelocityScale(101); },
                  kInvalid,
                  kScaleAbove,
                  {}},
        CheckCase{"VelocityScaleAboveInPrimitiveMode",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) { r.SetVelocityScale(101); },
                  kInvalid,
                  kScaleAbove,
                  {}},
        CheckCase{"ExecutePrimitiveInPlanMode",
                  kLL,
                  Mode::NRT_PLAN_EXECUTION,
                  {},
                  [](Robot& r) { r.ExecutePrimitive({}); },
                  kLogic,
                  kExecutePrimitive + kNotApplicable,
                  {}},
        CheckCase{"ExecutePrimitiveNotOperational",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  PressEstop,
                  [](Robot& r) { r.ExecutePrimitive({}); },
                  kRuntime,
                  kExecutePrimitive + kEstopPressed,
                  {}},
        CheckCase{"ExecutePrimitiveOnTheArmsGroup",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) {
                    r.ExecutePrimitive({{JointGroup::ARM_1, PrimitiveArgs("Home", {})},
                                        {JointGroup::ARMS, PrimitiveArgs("Home", {})}});
                  },
                  kInvalid,
                  NotSingleArm("ExecutePrimitive", "ARMS"),
                  {}},
        CheckCase{"ExecutePrimitiveOnAGroupWithoutName",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) {
                    r.ExecutePrimitive({{static_cast<JointGroup>(42), PrimitiveArgs("Home", {})}});
                  },
                  kInvalid,
                  NotSingleArm("ExecutePrimitive", "UNKNOWN"),
                  {}},
        CheckCase{"ExecutePrimitiveWithAnUnwritableCoord",
                  kLL,
                  Mode::NRT_PRIMITIVE_EXECUTION,
                  {},
                  [](Robot& r) {
                    r.ExecutePrimitive(
                        {{JointGroup::ARM_1,
                          PrimitiveArgs("MoveL", {{"target", AxisReferenceOnly()}})}});
                  },
                  kInvalid,
                  "[korvo::vyr::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has "
                  "values",
                  {}},
        CheckCase{"SetGlobalVariablesEmpty",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.SetGlobalVariables({}); },
                  &typeid(std::length_error),
                  kSetGlobalVariables + " Input map [global_vars] is empty",
                  {}},
        CheckCase{
            "SetGlobalVariablesUnknownName",
            kLL,
            Mode::IDLE,
            {},
            [](Robot& r) {
              r.SetGlobalVariables({{"cycle_count", 1}, {"no_such_var", 2}, {"zzz_unknown", 3}});
            },
            kInvalid,
            kSetGlobalVariables + " The specified global variable [no_such_var] does not "
                                  "exist",
            {12}},
        CheckCase{"SetGlobalVariablesUnwritableCoord",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) {
                    r.SetGlobalVariables({{"pick_point", AxisReferenceOnly()}});
                  },
                  kInvalid,
                  "[korvo::vyr::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has "
                  "values",
                  {12}},
        CheckCase{"HomeSecondArmOfASingleArmRobot",
                  kL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) { r.Home({JointGroup::ARM_2}); },
                  kInvalid,
                  NotSingleArm("Home", "ARM_2"),
                  {}},
        CheckCase{"HomeArmsGroup",
                  kLL,
                  Mode::IDLE,
                  {},
                  [](Robot& r) {
                    r.Home({JointGroup::ARM_1, JointGroup::ARMS});
                  },
                  kInvalid,
                  NotSingleArm("Home", "ARMS"),
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- failed requests ---------------------------------------------------------------------------

struct RefusedCase {
  const char* name;
  Mode mode;
  sim::Server server;
  std::uint16_t op_code;
  std::function<void(Robot&)> call;
  std::string message;
};

class RefusedRequests : public PlansTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRequests, BecomeRuntimeErrors) {
  const auto& c = GetParam();
  Robot& robot = Start(c.mode);
  host_->SetReplyRule(c.server, c.op_code, sim::ReplyRule{sim::ReplyAction::kRefuse});
  EXPECT_EQ(Rejection([&] { c.call(robot); }, typeid(std::runtime_error)), c.message);
}

const auto kVyr = sim::Server::kVyr;
const auto kQel = sim::Server::kQel;
const std::string kNotDelivered = " Failed to deliver the request";

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedRequests,
    ::testing::Values(
        RefusedCase{"PlanList", Mode::IDLE, kVyr, 23, [](Robot& r) { r.plan_list(); },
                    "[korvo::vyr::Robot::plan_list] No reply from the robot"},
        RefusedCase{"ExecutePlanByIndexNeedsTheList", Mode::NRT_PLAN_EXECUTION, kVyr, 23,
                    [](Robot& r) { r.ExecutePlan(0u); },
                    "[korvo::vyr::Robot::plan_list] No reply from the robot"},
        RefusedCase{"ExecutePlan", Mode::NRT_PLAN_EXECUTION, kVyr, 22,
                    [](Robot& r) { r.ExecutePlan("PLAN-Inspection", false, false); },
                    kExecutePlan + kNotDelivered},
        RefusedCase{"Pause", Mode::NRT_PLAN_EXECUTION, kVyr, 24,
                    [](Robot& r) { r.PausePlan(true); },
                    "[korvo::vyr::Robot::PausePlan] Failed to execute pause request"},
        RefusedCase{"Resume", Mode::NRT_PLAN_EXECUTION, kVyr, 25,
                    [](Robot& r) { r.PausePlan(false); },
                    "[korvo::vyr::Robot::PausePlan] Failed to execute resume request"},
        RefusedCase{"StopPlan", Mode::NRT_PLAN_EXECUTION, kVyr, 26, [](Robot& r) { r.StopPlan(); },
                    "[korvo::vyr::Robot::StopPlan]" + kNotDelivered},
        RefusedCase{"SetBreakpointMode", Mode::NRT_PLAN_EXECUTION, kVyr, 27,
                    [](Robot& r) { r.SetBreakpointMode(false); },
                    "[korvo::vyr::Robot::SetBreakpointMode]" + kNotDelivered},
        RefusedCase{"StepBreakpoint", Mode::NRT_PLAN_EXECUTION, kVyr, 28,
                    [](Robot& r) { r.StepBreakpoint(); },
                    "[korvo::vyr::Robot::StepBreakpoint]" + kNotDelivered},
        RefusedCase{"SetVelocityScale", Mode::NRT_PRIMITIVE_EXECUTION, kVyr, 20,
                    [](Robot& r) { r.SetVelocityScale(50); }, kSetVelocityScale + kNotDelivered},
        RefusedCase{"PlanInfo", Mode::NRT_PLAN_EXECUTION, kQel, 4, [](Robot& r) { r.plan_info(); },
                    "[korvo::vyr::Robot::plan_info] No reply from the robot"},
        RefusedCase{"ExecutePrimitive", Mode::NRT_PRIMITIVE_EXECUTION, kVyr, 21,
                    [](Robot& r) { r.ExecutePrimitive({}, false); },
                    kExecutePrimitive + kNotDelivered},
        RefusedCase{"PrimitiveStates", Mode::IDLE, kQel, 3, [](Robot& r) { r.primitive_states(); },
                    "[korvo::vyr::Robot::primitive_states] No reply from the robot"},
        RefusedCase{"GlobalVariables", Mode::IDLE, kVyr, 12, [](Robot& r) { r.global_variables(); },
                    "[korvo::vyr::Robot::global_variables] No reply from the robot"},
        RefusedCase{"SetGlobalVariablesReadsFirst", Mode::IDLE, kVyr, 12,
                    [](Robot& r) {
                      r.SetGlobalVariables({{"cycle_count", 1}});
                    },
                    "[korvo::vyr::Robot::global_variables] No reply from the robot"},
        RefusedCase{"SetGlobalVariables", Mode::IDLE, kVyr, 13,
                    [](Robot& r) {
                      r.SetGlobalVariables({{"cycle_count", 1}});
                    },
                    kSetGlobalVariables + kNotDelivered}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- plans -------------------------------------------------------------------------------------

TEST_F(PlansTest, PlansRunByIndexAndByName) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  host_->robot().SetPlans({"PLAN-A", "PLAN-B", "PLAN-C"});
  EXPECT_EQ(robot.plan_list(), (Strings{"PLAN-A", "PLAN-B", "PLAN-C"}));
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{23, {}, {}}}));

  host_->ClearRecords();
  robot.ExecutePlan(1u, true, false);
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{23, {}, {}}, {22, {1}, {"PLAN-B"}}}));
  EXPECT_TRUE(Eventually([&] { return robot.busy(); }));

  // The name is not looked up in the list: the robot refuses a plan it does not have.
  host_->ClearRecords();
  robot.ExecutePlan("PLAN-C", false, false);
  EXPECT_THROW(robot.ExecutePlan("PLAN-D", false, false), std::runtime_error);
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{22, {0}, {"PLAN-C"}}, {22, {0}, {"PLAN-D"}}}));

  // Three plans: index 3 is out of range, and nothing follows the list request.
  host_->ClearRecords();
  EXPECT_THROW(robot.ExecutePlan(3u), std::invalid_argument);
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{23, {}, {}}}));
}

TEST_F(PlansTest, BlockingStartsWaitForThePlanOrPrimitiveToStart) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  auto start = std::chrono::steady_clock::now();
  robot.ExecutePlan("PLAN-Inspection");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);

  robot.SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);
  start = std::chrono::steady_clock::now();
  robot.ExecutePrimitive({{JointGroup::ARM_1, PrimitiveArgs("ZeroFTSensor", {})}});
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(PlansTest, RunningPlanPausesResumesAndStops) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  robot.SetVelocityScale(5);  // slow enough to be still running at the end
  robot.ExecutePlan("PLAN-Inspection", false, false);
  ASSERT_TRUE(Eventually([&] { return robot.busy(); }));
  robot.PausePlan(true);
  robot.PausePlan(false);
  robot.StopPlan();
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{20, {5}, {}},
                                               {22, {0}, {"PLAN-Inspection"}},
                                               {24, {}, {}},
                                               {25, {}, {}},
                                               {26, {}, {}}}));
  EXPECT_TRUE(Eventually([&] { return !robot.busy(); }));
  const PlanInfo info = robot.plan_info();
  EXPECT_EQ(info.pt_name, "");
  EXPECT_EQ(info.assigned_plan_name, "PLAN-Inspection");
  EXPECT_EQ(info.velocity_scale, 5.0);
}

TEST_F(PlansTest, PlanInfoDescribesTheRunningPlan) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  robot.SetVelocityScale(40);
  robot.ExecutePlan("PLAN-PickAndPlace", false, false);
  const PlanInfo info = robot.plan_info();
  EXPECT_EQ(info.pt_name, "MoveJ");
  EXPECT_EQ(info.node_name, "node_" + info.node_path_number);
  EXPECT_EQ(info.node_path, "rootNode/node_" + info.node_path_number);
  EXPECT_GE(std::stod(info.node_path_time_period), 0.0);
  EXPECT_EQ(info.assigned_plan_name, "PLAN-PickAndPlace");
  EXPECT_EQ(info.velocity_scale, 40.0);
  EXPECT_FALSE(info.waiting_for_step);
  EXPECT_EQ(QelOpCodes(*host_), std::vector<int>{4});
}

TEST_F(PlansTest, BreakpointsHoldThePlanUntilStepped) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  robot.SetBreakpointMode(true);
  robot.ExecutePlan("PLAN-Inspection", false, false);
  ASSERT_TRUE(Eventually([&] { return robot.plan_info().waiting_for_step; }));
  const std::string node = robot.plan_info().node_path_number;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(robot.plan_info().node_path_number, node);  // held

  robot.StepBreakpoint();
  EXPECT_TRUE(Eventually([&] {
    const auto info = robot.plan_info();
    return info.node_path_number != node && info.waiting_for_step;
  }));
  robot.SetBreakpointMode(false);
  std::vector<Sent> toggles;
  for (const auto& s : SentTo(*host_)) {
    if (s.op_code == 27 || s.op_code == 28) toggles.push_back(s);
  }
  EXPECT_EQ(toggles, (std::vector<Sent>{{27, {1}, {}}, {28, {}, {}}, {27, {0}, {}}}));
}

TEST_F(PlansTest, VelocityScaleBoundHoldsInBothModes) {
  Robot& robot = Start(Mode::NRT_PLAN_EXECUTION);
  robot.SetVelocityScale(100);
  robot.SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);
  robot.SetVelocityScale(0);
  robot.SetVelocityScale(100);
  std::vector<Sent> scales;
  for (const auto& s : SentTo(*host_)) {
    if (s.op_code == 20) scales.push_back(s);
  }
  EXPECT_EQ(scales, (std::vector<Sent>{{20, {100}, {}}, {20, {0}, {}}, {20, {100}, {}}}));
}

// ---- primitives --------------------------------------------------------------------------------

TEST_F(PlansTest, PrimitiveCommandsTravelAsTextInGroupOrder) {
  Robot& robot = Start(Mode::NRT_PRIMITIVE_EXECUTION);
  PrimitiveArgs move("MoveJ", {{"vel", 0.6},
                               {"target", JPos({10, -20, 30, 40, 0, 60, 0})},
                               {"zoneRadius", std::string("Z50")}});
  move.external_axis_control = false;
  move.sync_motion_mode = SyncMotionMode::ARM1_TCP;
  robot.ExecutePrimitive(
      {{JointGroup::ARM_2, move}, {JointGroup::ARM_1, PrimitiveArgs("ZeroFTSensor", {})}}, false);

  const auto sent = PrimitiveRequests(*host_);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].joint_groups, (std::vector<std::uint16_t>{kArm1, kArm2}));
  EXPECT_EQ(sent[0].bool_container, (std::vector<bool>{true, false}));
  EXPECT_EQ(sent[0].int_container, (Ints{0, 1}));
  EXPECT_EQ(
      sent[0].string_container,
      (Strings{"ZeroFTSensor()",
               "MoveJ(target = 10 -20 30 40 0 60 0 0 0 0 0 0 0 , vel = 0.6, zoneRadius = Z50)"}));

  // Both run; the robot reports them per group until they have reached their targets.
  EXPECT_TRUE(Eventually([&] {
    const auto states = robot.primitive_states();
    return states.size() == 2 && states.at(JointGroup::ARM_1).pt_name == "ZeroFTSensor" &&
           states.at(JointGroup::ARM_2).pt_name == "MoveJ" &&
           Same(states.at(JointGroup::ARM_2).names_and_values.at("reachedTarget"), ParamValue(1));
  }));
  const auto states = robot.primitive_states();
  const auto& arm2 = states.at(JointGroup::ARM_2).names_and_values;
  EXPECT_EQ(arm2.size(), 2u);  // reachedTarget and timePeriod, without the two markers
  EXPECT_TRUE(std::holds_alternative<double>(arm2.at("timePeriod")));
  const auto q = robot.states().at(JointGroup::ARM_2).q;
  EXPECT_NEAR(q[1], -20.0 * std::numbers::pi / 180.0, 1e-3);
}

TEST_F(PlansTest, MoveLCarriesACoordTarget) {
  Robot& robot = Start(Mode::NRT_PRIMITIVE_EXECUTION);
  // A target 3 cm beside the flange, in the flange's own orientation.
  const auto pose = robot.states().at(JointGroup::ARM_1).tcp_pose;
  const Eigen::Quaterniond r(pose[3], pose[4], pose[5], pose[6]);
  const Eigen::Vector3d zyx = r.toRotationMatrix().eulerAngles(2, 1, 0) * 180.0 / std::numbers::pi;
  const Coord target({pose[0], pose[1] + 0.03, pose[2]}, {zyx[2], zyx[1], zyx[0]},
                     {"WORLD", "WORLD_ORIGIN"});
  robot.ExecutePrimitive({{JointGroup::ARM_1, PrimitiveArgs("MoveL", {{"target", target}})}},
                         false);
  const auto sent = PrimitiveRequests(*host_);
  ASSERT_EQ(sent.size(), 1u);
  const std::string& text = sent[0].string_container.at(0);
  EXPECT_EQ(text.rfind("MoveL(target = ", 0), 0u) << text;
  EXPECT_TRUE(text.ends_with(" WORLD WORLD_ORIGIN )")) << text;
  EXPECT_TRUE(Eventually([&] {
    const auto now = robot.states().at(JointGroup::ARM_1).tcp_pose;
    return std::abs(now[1] - target.position[1]) < 1e-4 &&
           std::abs(now[0] - target.position[0]) < 1e-4;
  }));
}

struct RetryCase {
  int corrupted;
  std::size_t requests;
  bool fails;
};

class PrimitiveStateRetries : public PlansTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(PrimitiveStateRetries, AskAgainUpToSixTimes) {
  Robot& robot = Start(Mode::NRT_PRIMITIVE_EXECUTION);
  robot.ExecutePrimitive({{JointGroup::ARM_1, PrimitiveArgs("ZeroFTSensor", {})}}, false);
  host_->robot().CorruptPrimitiveStates(GetParam().corrupted);
  host_->ClearRecords();
  if (GetParam().fails) {
    EXPECT_EQ(Rejection([&] { robot.primitive_states(); }, typeid(std::runtime_error)),
              "[korvo::vyr::Robot::primitive_states] Still received corrupted data after several "
              "attempts");
  } else {
    const auto states = robot.primitive_states();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states.at(JointGroup::ARM_1).pt_name, "ZeroFTSensor");
  }
  EXPECT_EQ(QelOpCodes(*host_), std::vector<int>(GetParam().requests, 3));
}

INSTANTIATE_TEST_SUITE_P(Replies, PrimitiveStateRetries,
                         ::testing::Values(RetryCase{0, 1, false}, RetryCase{1, 2, false},
                                           RetryCase{5, 6, false}, RetryCase{6, 6, true}),
                         [](const auto& info) {
                           return "Corrupted" + std::to_string(info.param.corrupted);
                         });

// Entries of a scripted reply and what they give: the states, or an error of that type and text.
struct StatesCase {
  const char* name;
  std::optional<Strings> entries;  // nothing: no reply
  std::map<JointGroup, PrimitiveStates> states;
  const std::type_info* error = nullptr;
  std::string message;
};

class ScriptedPrimitiveStates : public PlansTest,
                                public ::testing::WithParamInterface<StatesCase> {};

TEST_P(ScriptedPrimitiveStates, AreGroupedOrRejected) {
  const auto& c = GetParam();
  Robot& robot = StartScripted(Mode::IDLE);  // one arm: groups ALL and ARM_1
  QelReplies(c.entries);
  if (c.error == nullptr) {
    const auto states = robot.primitive_states();
    EXPECT_TRUE(Same(states, c.states));
  } else {
    const auto message = Rejection([&] { robot.primitive_states(); }, *c.error);
    if (!c.message.empty()) {
      EXPECT_EQ(message, "[korvo::vyr::Robot::primitive_states] " + c.message);
    }
  }
}

const std::string kFullStationText = std::string(kStationText) + "0 0 0 0 0 0 0 0 0 0 0 0 0";

PrimitiveStates States(std::string name, std::map<std::string, ParamValue> values) {
  return PrimitiveStates{std::move(name), std::move(values)};
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScriptedPrimitiveStates,
    ::testing::Values(
        StatesCase{"Empty", Strings{}, {}, nullptr, ""},
        StatesCase{"OneGroup",
                   Strings{"jointGroup = 3", "primitiveName = MoveL", "reachedTarget = 1"},
                   {{JointGroup::ARM_1, States("MoveL", {{"reachedTarget", 1}})}},
                   nullptr,
                   ""},
        StatesCase{
            "GroupsInAscendingOrder",
            Strings{"jointGroup = 3", "primitiveName = MoveL", "timePeriod = 1.5", "jointGroup = 0",
                    "primitiveName = Home", "target = " + kFullStationText},
            {{JointGroup::ALL, States("Home", {{"target", kStation}})},
             {JointGroup::ARM_1, States("MoveL", {{"timePeriod", 1.5}})}},
            nullptr,
            ""},
        StatesCase{"FirstValueOfANameStays",
                   Strings{"jointGroup = 3", "primitiveName = MoveL", "reachedTarget = 0",
                           "reachedTarget = 1"},
                   {{JointGroup::ARM_1, States("MoveL", {{"reachedTarget", 0}})}},
                   nullptr,
                   ""},
        StatesCase{
            "NoReply", std::nullopt, {}, &typeid(std::runtime_error), "No reply from the robot"},
        StatesCase{"MarkerSecond",
                   Strings{"primitiveName = MoveL", "jointGroup = 3"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive states: missing jointGroup marker"},
        StatesCase{"MarkerWithoutEquals",
                   Strings{"jointGroup 3", "primitiveName = MoveL"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive state entry"},
        StatesCase{"EntryWithoutEquals",
                   Strings{"jointGroup = 3", "primitiveName MoveL"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive state entry"},
        StatesCase{"EntryStartingWithEquals",
                   Strings{"jointGroup = 3", "primitiveName = MoveL", "= 1"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive state entry"},
        StatesCase{"GroupTheRobotLacks",
                   Strings{"jointGroup = 4", "primitiveName = MoveL"},
                   {},
                   &typeid(std::runtime_error),
                   "Received primitive states for unknown joint group"},
        StatesCase{"GroupTwice",
                   Strings{"jointGroup = 3", "primitiveName = MoveL", "jointGroup = 3",
                           "primitiveName = Home"},
                   {},
                   &typeid(std::runtime_error),
                   "Duplicate primitive states for a joint group"},
        StatesCase{"NoPrimitiveName",
                   Strings{"jointGroup = 3", "reachedTarget = 1"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive states: jointGroup or primitiveName missing"},
        // The name is the text before '=' less one character: here "jointGrou".
        StatesCase{"MarkerWithoutBlank",
                   Strings{"jointGroup=3", "primitiveName = MoveL"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive states: jointGroup or primitiveName missing"},
        StatesCase{"MarkerValueNotAnInt",
                   Strings{"jointGroup = 3.0", "primitiveName = MoveL"},
                   {},
                   &typeid(std::runtime_error),
                   "Inconsistent joint group in primitive states"},
        StatesCase{"MarkerValueNotANumber",
                   Strings{"jointGroup = arm", "primitiveName = MoveL"},
                   {},
                   &typeid(std::invalid_argument),
                   ""},
        StatesCase{"PrimitiveNameNotAWord",
                   Strings{"jointGroup = 3", "primitiveName = 12"},
                   {},
                   &typeid(std::runtime_error),
                   "Malformed primitive states: [primitiveName] does not hold a single word"},
        // A value no conversion takes stays the text it was; the others are read as ever.
        StatesCase{"OddValuesStayTexts",
                   Strings{"jointGroup = 3", "primitiveName = MoveL", "timePeriod = 1e-400 ",
                           "count = 99999999999", "where = 1 WORLD", "reachedTarget = 1"},
                   {{JointGroup::ARM_1, States("MoveL", {{"timePeriod", std::string("1e-400")},
                                                         {"count", std::string("99999999999")},
                                                         {"where", std::string("1 WORLD")},
                                                         {"reachedTarget", 1}})}},
                   nullptr,
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct PlanInfoCase {
  const char* name;
  Strings texts;
  std::optional<PlanInfo> info;
  const std::type_info* error = nullptr;
};

class ScriptedPlanInfo : public PlansTest, public ::testing::WithParamInterface<PlanInfoCase> {};

TEST_P(ScriptedPlanInfo, FillsTheRecordFromEightTexts) {
  const auto& c = GetParam();
  Robot& robot = StartScripted(Mode::NRT_PLAN_EXECUTION);
  QelReplies(c.texts);
  if (c.info) {
    const PlanInfo got = robot.plan_info();
    const PlanInfo& want = *c.info;
    EXPECT_EQ(got.pt_name, want.pt_name);
    EXPECT_EQ(got.node_name, want.node_name);
    EXPECT_EQ(got.node_path, want.node_path);
    EXPECT_EQ(got.node_path_time_period, want.node_path_time_period);
    EXPECT_EQ(got.node_path_number, want.node_path_number);
    EXPECT_EQ(got.assigned_plan_name, want.assigned_plan_name);
    EXPECT_EQ(got.velocity_scale, want.velocity_scale);
    EXPECT_EQ(got.waiting_for_step, want.waiting_for_step);
  } else {
    const auto message = Rejection([&] { robot.plan_info(); }, *c.error);
    if (*c.error == typeid(std::runtime_error)) {
      EXPECT_EQ(message, "[korvo::vyr::Robot::plan_info] No reply from the robot");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScriptedPlanInfo,
    ::testing::Values(
        PlanInfoCase{
            "EightTexts",
            {"MoveL", "node_b", "root/a/node_b", "1.25", "7", "PLAN-X", "55.5", "2"},
            PlanInfo{"MoveL", "node_b", "root/a/node_b", "1.25", "7", "PLAN-X", 55.5, true},
            nullptr},
        PlanInfoCase{"NoPlanRunning",
                     {"", "", "", "0", "0", "PLAN-Y", "100", "0"},
                     PlanInfo{"", "", "", "0", "0", "PLAN-Y", 100.0, false},
                     nullptr},
        PlanInfoCase{"SevenTexts",
                     {"MoveL", "node_b", "root/a/node_b", "1.25", "7", "PLAN-X", "55.5"},
                     std::nullopt,
                     &typeid(std::runtime_error)},
        PlanInfoCase{"NineTexts",
                     {"a", "b", "c", "d", "e", "f", "1", "0", "x"},
                     std::nullopt,
                     &typeid(std::runtime_error)},
        PlanInfoCase{"ScaleNotANumber",
                     {"a", "b", "c", "d", "e", "f", "abc", "0"},
                     std::nullopt,
                     &typeid(std::invalid_argument)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlansTest, LiteInstanceSkipsTheOperationalTest) {
  Start(Mode::IDLE);
  host_->robot().PressEstop(true);
  Robot lite(serial_, false, true);
  // Not the operational test: the mode test, with the mode asked of the robot.
  EXPECT_EQ(Rejection([&] { lite.ExecutePlan("PLAN-Inspection"); }, typeid(std::logic_error)),
            kExecutePlan + kNotApplicable);
}

// ---- global variables --------------------------------------------------------------------------

TEST_F(PlansTest, GlobalVariablesComeBackTyped) {
  Robot& robot = Start(Mode::IDLE);
  const auto vars = robot.global_variables();
  const Coord pick({0.4, 0, 0.3}, {180, 0, 90}, {"WORLD", "WORLD_ORIGIN"});
  const std::map<std::string, ParamValue> expected{
      {"cycle_count", 0},
      {"speed_factor", 0.5},
      {"station_name", std::string("cell_a")},
      {"home_pose", std::vector<double>(13, 0.0)},
      {"pick_point", pick},
      {"bin_counts", std::vector<int>{0, 0, 0}},
      {"offsets", std::vector<double>{0.0, 0.0, 0.0}},
      {"part_names", Strings{"bolt", "nut"}},
      {"via_poses", std::vector<JPos>{JPos(), JPos()}},
      {"place_points", std::vector<Coord>{pick, pick}}};
  for (const auto& [name, value] : expected) {
    ASSERT_EQ(vars.count(name), 1u) << name;
    EXPECT_TRUE(Same(vars.at(name), value)) << name << " is alternative " << vars.at(name).index();
  }
  EXPECT_EQ(vars.size(), expected.size());
  EXPECT_EQ(SentTo(*host_), (std::vector<Sent>{{12, {}, {}}}));
}

TEST_F(PlansTest, GlobalVariableTextsKeepTheFirstValueAndNeedAName) {
  Robot& robot = StartScripted(Mode::IDLE);
  vyr_->SetReplies([](const zenoh_msgs::vyr_msg::RPCRequest& request) {
    auto reply = VyrServer::AcceptedReply(request);
    reply.string_container = {"b = 2", "a = x y", "a = 1", "no_assignment", "= 3", "c =  "};
    return reply;
  });
  const auto vars = robot.global_variables();
  const std::map<std::string, ParamValue> expected{
      {"a", Strings{"x", "y"}}, {"b", 2}, {"c", Strings{}}};
  EXPECT_TRUE(Same(vars, expected));
}

TEST_F(PlansTest, AnOddGlobalVariableLeavesTheOthersReadableAndSettable) {
  Robot& robot = StartScripted(Mode::IDLE);
  vyr_->SetReplies([](const zenoh_msgs::vyr_msg::RPCRequest& request) {
    auto reply = VyrServer::AcceptedReply(request);
    if (request.op_code == 12) reply.string_container = {"tiny = 1e-400 ", "speed = 0.5 "};
    return reply;
  });
  const auto vars = robot.global_variables();
  const std::map<std::string, ParamValue> expected{{"tiny", std::string("1e-400")}, {"speed", 0.5}};
  EXPECT_TRUE(Same(vars, expected));
  EXPECT_NO_THROW(robot.SetGlobalVariables({{"speed", 0.25}}));
}

TEST_F(PlansTest, SetGlobalVariablesSendsAllAssignmentsInOneText) {
  Robot& robot = Start(Mode::IDLE);
  Coord pick = kStation;
  pick.ref_q_m = {1, 2, 3, 4, 5, 6, 7};
  robot.SetGlobalVariables(
      {{"pick_point", pick}, {"cycle_count", 7}, {"offsets", std::vector<double>{0.5, -1.25}}});
  EXPECT_EQ(SentTo(*host_),
            (std::vector<Sent>{{12, {}, {}},
                               {13,
                                {},
                                {"cycle_count = 7, offsets = 0.5 -1.25 , pick_point = " +
                                 std::string(kStationText) + "1 2 3 4 5 6 7 "}}}));
  EXPECT_EQ(host_->robot().global_variable("cycle_count"), "7");

  const auto vars = robot.global_variables();
  EXPECT_TRUE(Same(vars.at("cycle_count"), 7));
  EXPECT_TRUE(Same(vars.at("offsets"), std::vector<double>{0.5, -1.25}));
  EXPECT_TRUE(Same(vars.at("pick_point"), pick));
}

// ---- Home --------------------------------------------------------------------------------------

struct HomeCase {
  const char* name;
  ProductModel model;
  Mode mode;  // the mode Home starts in and returns to
  std::vector<JointGroup> groups;
  std::vector<std::uint16_t> homed;
  std::vector<Sent> mode_switches;
};

class HomeTest : public PlansTest, public ::testing::WithParamInterface<HomeCase> {};

TEST_P(HomeTest, HomesTheArmsAndReturnsToThePreviousMode) {
  const auto& c = GetParam();
  Robot& robot = Start(c.mode, c.model);
  // Every joint 0.2 rad away from home, inside its limits.
  const auto& joints = host_->robot().model().joints();
  std::vector<double> away;
  for (const auto& j : joints)
    away.push_back(j.home + 0.2 <= j.q_max ? j.home + 0.2 : j.home - 0.2);
  host_->robot().SetJointPositions(away);

  robot.Home(c.groups);

  EXPECT_EQ(robot.mode(), c.mode);
  const auto sent = PrimitiveRequests(*host_);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].joint_groups, c.homed);
  EXPECT_EQ(sent[0].bool_container, std::vector<bool>(c.homed.size(), true));
  EXPECT_EQ(sent[0].int_container, Ints(c.homed.size(), 0));
  EXPECT_EQ(sent[0].string_container, Strings(c.homed.size(), "Home()"));
  std::vector<Sent> switches;
  for (const auto& s : SentTo(*host_)) {
    if (s.op_code == 8) switches.push_back(s);
  }
  EXPECT_EQ(switches, c.mode_switches);

  // The homed arms are at home, the others where they were.
  const auto q = host_->robot().q();
  const auto& groups = host_->robot().model().groups();
  for (const std::uint16_t arm : {kArm1, kArm2}) {
    const auto g = static_cast<JointGroup>(arm);
    if (groups.count(g) == 0) continue;
    const auto [start, n] = groups.at(g);
    const bool homed = std::find(c.homed.begin(), c.homed.end(), arm) != c.homed.end();
    for (unsigned j = start; j < start + n; ++j) {
      EXPECT_NEAR(q[j], homed ? joints[j].home : away[j], 1e-3) << "joint " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, HomeTest,
    ::testing::Values(HomeCase{"SingleArmFromIdle",
                               ProductModel::Olvar_L,
                               Mode::IDLE,
                               {},
                               {kArm1},
                               {{8, {8}, {}}, {8, {1}, {}}}},
                      HomeCase{"DualArmFromJointPosition",
                               ProductModel::Olvar_LL,
                               Mode::NRT_JOINT_POSITION,
                               {},
                               {kArm1, kArm2},
                               {{8, {1}, {}}, {8, {8}, {}}, {8, {1}, {}}, {8, {6}, {}}}},
                      HomeCase{"SecondArmOnlyFromPrimitiveMode",
                               ProductModel::Olvar_LL,
                               Mode::NRT_PRIMITIVE_EXECUTION,
                               {JointGroup::ARM_2},
                               {kArm2},
                               {{8, {1}, {}}, {8, {8}, {}}, {8, {1}, {}}, {8, {8}, {}}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr
