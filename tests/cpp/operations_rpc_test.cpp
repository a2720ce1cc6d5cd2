// The VYR operation layer over real zenoh on loopback, against a server whose replies each test
// builds.
#include "client/operations_rpc.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "loopback.hpp"
#include "msgs/vyr_msg.hpp"
#include "rpc_test_support.hpp"

namespace korvo::vyr_impl {
namespace {

using test::Bytes;
using test::Debug;
using test::Error;
using test::LogLine;
using test::Warn;
using vyr::JointGroup;
using vyr::Mode;
using zenoh_msgs::vyr_msg::RPCReply;
using zenoh_msgs::vyr_msg::RPCRequest;
using Server = test::ScriptedServer<RPCRequest, RPCReply>;
using Strings = std::vector<std::string>;
using Floats = std::vector<float>;
using Ints = std::vector<std::int32_t>;
using Groups = std::vector<std::uint16_t>;

constexpr char kNoReply[] = "Failed to send remote call or server reply timeout";
constexpr char kRefused[] = "Remote procedure failed";

RPCReply Accept(const RPCRequest& request) { return Server::AcceptedReply(request); }

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

class OperationsRpcTest : public test::LoopbackSessionsSuite {
 protected:
  void SetUp() override {
    sn_ = test::SerialOfThisTest("Olvar-L");
    server_ = std::make_unique<Server>(*robot_, "korvo/vyr/" + sn_ + "/rpc");
    ASSERT_TRUE(server_->WaitUntilKnown(client_));
    ASSERT_TRUE(ops_.Init(client_, sn_).ok());
    log_.Clear();
  }

  // Answers every request with `reply` (its op code and success as given).
  void AnswerWith(const RPCReply& reply) {
    server_->SetReplies([reply](const RPCRequest&) { return reply; });
  }
  // Answers every request with an accepted reply that `fill` completes.
  void AcceptWith(std::function<void(const RPCRequest&, RPCReply&)> fill) {
    server_->SetReplies([fill = std::move(fill)](const RPCRequest& request) {
      RPCReply reply = Accept(request);
      fill(request, reply);
      return reply;
    });
  }
  RPCRequest OnlyRequest() const {
    const auto requests = server_->requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? RPCRequest{} : requests.front();
  }

  std::string sn_;
  std::unique_ptr<Server> server_;
  test::LogCapture log_;
  OperationsRPC ops_;
};

TEST_F(OperationsRpcTest, InitLogsTheKeyAndReplacesThePreviousClient) {
  OperationsRPC ops;
  ASSERT_TRUE(ops.Init(client_, "nobody").ok());
  ASSERT_TRUE(ops.Init(client_, sn_).ok());
  EXPECT_THAT(
      log_.lines(),
      ::testing::ElementsAre(
          Debug("[korvo::vyr::Robot] Creating RPC client on topic: korvo/vyr/nobody/rpc"),
          Debug("[korvo::vyr::Robot] Creating RPC client on topic: korvo/vyr/" + sn_ + "/rpc")));
  EXPECT_TRUE(ops.CallOperation(20, {}).ok());
  EXPECT_EQ(server_->requests().size(), 1u);
}

TEST_F(OperationsRpcTest, LayerWithoutInitFailsWithoutThrowing) {
  OperationsRPC ops;
  EXPECT_EQ(ops.CallOperation(20, {}).code, kKroFault);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug(kNoReply)));
}

TEST_F(OperationsRpcTest, CallOperationCopiesTheArgumentsIntoTheRequest) {
  OperationArgs args;
  args.joint_groups = {JointGroup::ARM_2, JointGroup::ALL, JointGroup::EXT_AXIS};
  args.bools = {true, false, true};
  args.ints = {-1, 0, 70000};
  args.floats = {0.5f, -2.25f};
  args.strings = {"Home", ""};
  const auto state = ops_.CallOperation(22, args);
  EXPECT_EQ(state.code, kKroOk);
  EXPECT_STREQ(state.category.name(), "General");

  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 22);
  EXPECT_EQ(request.joint_groups, (Groups{4, 0, 5}));
  EXPECT_EQ(request.bool_container, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(request.int_container, (Ints{-1, 0, 70000}));
  EXPECT_EQ(request.float_container, (Floats{0.5f, -2.25f}));
  EXPECT_EQ(request.string_container, (Strings{"Home", ""}));
  EXPECT_TRUE(request.byte_container.empty());
  EXPECT_TRUE(request.float2d_container.empty());
  EXPECT_TRUE(request.tool.name.empty());
  EXPECT_EQ(request.tool.mass, 0.0f);
  EXPECT_EQ(request.tool.tcp_location, (std::array<float, 7>{}));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(OperationsRpcTest, SetModeSendsTheModeValue) {
  EXPECT_TRUE(ops_.SetMode(Mode::NRT_PLAN_EXECUTION).ok());
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 8);
  EXPECT_EQ(request.int_container, Ints{7});
  EXPECT_TRUE(request.joint_groups.empty());
  EXPECT_TRUE(request.string_container.empty());
}

// ---- the common call pattern ------------------------------------------------------------------

enum class Answer { kAccept, kRefuse, kOtherOpCode, kMalformed, kNothing };

struct PatternCase {
  const char* name;
  int unanswered_calls;  // calls that get no reply before `answer`
  Answer answer;
  bool ok;
  std::size_t calls;
  std::vector<LogLine> log;
  friend void PrintTo(const PatternCase& c, std::ostream* out) { *out << c.name; }
};

class CallPatternTest : public OperationsRpcTest,
                        public ::testing::WithParamInterface<PatternCase> {};

TEST_P(CallPatternTest, RetriesOnlyMissingReplies) {
  const auto& c = GetParam();
  auto calls = std::make_shared<std::atomic<int>>(0);
  server_->SetScript([&c, calls](const RPCRequest& request) -> std::optional<Bytes> {
    if ((*calls)++ < c.unanswered_calls) return std::nullopt;
    RPCReply reply = Accept(request);
    switch (c.answer) {
      case Answer::kAccept:
        return zenoh_mdw::Encode(reply);
      case Answer::kRefuse:
        reply.success = false;
        return zenoh_mdw::Encode(reply);
      case Answer::kOtherOpCode:
        reply.op_code = request.op_code + 1;
        return zenoh_mdw::Encode(reply);
      case Answer::kMalformed: {
        auto bytes = zenoh_mdw::Encode(reply);
        bytes.push_back(0);
        return bytes;
      }
      case Answer::kNothing:
        return std::nullopt;
    }
    return std::nullopt;
  });

  OperationArgs args;
  args.ints = {50};
  EXPECT_EQ(ops_.CallOperation(20, args).code, c.ok ? kKroOk : kKroFault);
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), c.calls);
  for (const auto& request : requests) {
    EXPECT_EQ(request.op_code, 20);
    EXPECT_EQ(request.int_container, Ints{50});
  }
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CallPatternTest,
    ::testing::Values(
        PatternCase{"Accepted", 0, Answer::kAccept, true, 1, {}},
        PatternCase{"AcceptedOnTheThirdCall", 2, Answer::kAccept, true, 3, {}},
        PatternCase{"NeverAnswered", 0, Answer::kNothing, false, 3, {Debug(kNoReply)}},
        PatternCase{"OnlyMalformedReplies", 0, Answer::kMalformed, false, 3, {Debug(kNoReply)}},
        PatternCase{"Refused", 0, Answer::kRefuse, false, 1, {Debug(kRefused)}},
        PatternCase{"RefusedOnTheSecondCall", 1, Answer::kRefuse, false, 2, {Debug(kRefused)}},
        PatternCase{"OtherOpCode", 0, Answer::kOtherOpCode, false, 1, {Debug(kRefused)}}),
    [](const auto& info) { return std::string(info.param.name); });

// The one test here that waits out the time-out: three calls of 2 s each.
TEST_F(OperationsRpcTest, QueriesLeftOpenAreSentThreeTimes) {
  server_->HoldUnanswered(true);
  server_->SetScript([](const RPCRequest&) { return std::nullopt; });
  EXPECT_EQ(ops_.CallOperation(20, {}).code, kKroFault);
  EXPECT_EQ(server_->requests().size(), 3u);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug(kNoReply)));
}

// ---- GetMode, string lists, version -----------------------------------------------------------

struct ModeCase {
  const char* name;
  Ints ints;
  bool ok;
  Mode mode;
  std::vector<LogLine> log;
  friend void PrintTo(const ModeCase& c, std::ostream* out) { *out << c.name; }
};

class GetModeTest : public OperationsRpcTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(GetModeTest, ReadsTheModeAndMapsUnknownCodes) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) { reply.int_container = c.ints; });
  Mode mode = Mode::IDLE;
  EXPECT_EQ(ops_.GetMode(mode).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(mode, c.mode);
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 7);
  EXPECT_TRUE(request.int_container.empty());
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, GetModeTest,
    ::testing::Values(
        ModeCase{"Five", {5}, true, Mode::RT_JOINT_POSITION, {}},
        ModeCase{"Zero", {0}, true, Mode::UNKNOWN, {}},
        ModeCase{"Twelve", {12}, true, static_cast<Mode>(12), {}},
        ModeCase{"Thirteen", {13}, true, Mode::UNKNOWN, {}},
        ModeCase{"MinusOne", {-1}, true, Mode::UNKNOWN, {}},
        ModeCase{"NoValue", {}, false, Mode::IDLE, {Debug("Reply lacks int_container[0]")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OperationsRpcTest, GetStringListReplacesTheList) {
  AcceptWith([](const RPCRequest&, RPCReply& reply) { reply.string_container = {"a", "b"}; });
  Strings strings = {"old"};
  ASSERT_TRUE(ops_.GetStringList(23, strings).ok());
  EXPECT_EQ(strings, (Strings{"a", "b"}));
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 23);
  EXPECT_TRUE(request.string_container.empty());

  AcceptWith([](const RPCRequest&, RPCReply&) {});
  ASSERT_TRUE(ops_.GetStringList(23, strings).ok());
  EXPECT_TRUE(strings.empty());
}

struct VersionCase {
  const char* name;
  bool success;
  Strings strings;
  bool ok;
  std::string version;
  std::vector<LogLine> log;
  friend void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }
};

class SyncServerVersionTest : public OperationsRpcTest,
                              public ::testing::WithParamInterface<VersionCase> {};

TEST_P(SyncServerVersionTest, TakesTheFirstString) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) {
    reply.success = c.success;
    reply.string_container = c.strings;
  });
  std::string version = "before";
  EXPECT_EQ(ops_.SyncServerVersion(version).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(version, c.version);
  EXPECT_EQ(OnlyRequest().op_code, 3);
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SyncServerVersionTest,
    ::testing::Values(
        VersionCase{"Version",
                    true,
                    {"v2.1", "extra"},
                    true,
                    "v2.1",
                    {Debug("Received VYR server version = v2.1")}},
        VersionCase{
            "EmptyList", true, {}, false, "before", {Debug("Reply lacks string_container[0]")}},
        VersionCase{"Refused", false, {"v2.1"}, false, "before", {Debug(kRefused)}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- SyncJointLimits ------------------------------------------------------------------------

// A row of `size` values counting up from `first`.
Floats Row(std::size_t size, float first = 0.0f) {
  Floats row(size);
  for (std::size_t i = 0; i < size; ++i) row[i] = first + static_cast<float>(i);
  return row;
}

TEST_F(OperationsRpcTest, SyncJointLimitsSplitsEachRowIntoFourBlocks) {
  AcceptWith([](const RPCRequest&, RPCReply& reply) {
    reply.string_container = {"v2.1.0"};
    reply.joint_groups = {4, 0};
    reply.float2d_container = {{1.5f, 2.5f, -1.5f, -2.5f, 3.0f, 4.0f, 50.0f, 60.0f}, Row(12)};
  });
  vyr::RobotInfo info;
  info.DoF = {{JointGroup::ALL, 3}, {JointGroup::ARM_2, 2}};
  info.q_max[JointGroup::ARM_2] = {9.0, 9.0, 9.0};
  info.q_max[JointGroup::ARM_1] = {5.0};
  ASSERT_TRUE(ops_.SyncJointLimits({JointGroup::ARM_2, JointGroup::ALL}, info).ok());

  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 6);
  EXPECT_EQ(request.joint_groups, (Groups{4, 0}));
  EXPECT_EQ(info.software_ver, "v2.1.0");
  // Upper position limits come before the lower ones.
  EXPECT_EQ(info.q_max[JointGroup::ARM_2], (std::vector<double>{1.5, 2.5}));
  EXPECT_EQ(info.q_min[JointGroup::ARM_2], (std::vector<double>{-1.5, -2.5}));
  EXPECT_EQ(info.dq_max[JointGroup::ARM_2], (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(info.tau_max[JointGroup::ARM_2], (std::vector<double>{50.0, 60.0}));
  EXPECT_EQ(info.q_max[JointGroup::ALL], (std::vector<double>{0, 1, 2}));
  EXPECT_EQ(info.q_min[JointGroup::ALL], (std::vector<double>{3, 4, 5}));
  EXPECT_EQ(info.dq_max[JointGroup::ALL], (std::vector<double>{6, 7, 8}));
  EXPECT_EQ(info.tau_max[JointGroup::ALL], (std::vector<double>{9, 10, 11}));
  EXPECT_EQ(info.q_max[JointGroup::ARM_1], std::vector<double>{5.0});  // not reported: untouched
  EXPECT_EQ(info.all_groups, (std::map<JointGroup, std::string>{{JointGroup::ALL, "ALL"},
                                                                {JointGroup::ARM_2, "ARM_2"}}));
  EXPECT_EQ(info.single_arm_groups,
            (std::map<JointGroup, std::string>{{JointGroup::ARM_2, "ARM_2"}}));
  EXPECT_TRUE(log_.lines().empty());
}

struct LimitsCase {
  const char* name;
  Strings strings;
  Groups groups;
  std::vector<std::size_t> row_sizes;
  bool ok;
  std::vector<JointGroup> stored;  // groups whose limits were written
  std::vector<LogLine> log;
  friend void PrintTo(const LimitsCase& c, std::ostream* out) { *out << c.name; }
};

class SyncJointLimitsTest : public OperationsRpcTest,
                            public ::testing::WithParamInterface<LimitsCase> {};

TEST_P(SyncJointLimitsTest, ChecksTheReplyShape) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) {
    reply.string_container = c.strings;
    reply.joint_groups = c.groups;
    for (const auto size : c.row_sizes) reply.float2d_container.push_back(Row(size));
  });
  vyr::RobotInfo info;
  info.DoF = {{JointGroup::ARM_1, 7}};  // ARM_2 deliberately missing
  EXPECT_EQ(ops_.SyncJointLimits({JointGroup::ARM_1, JointGroup::ARM_2}, info).code,
            c.ok ? kKroOk : kKroFault);
  std::vector<JointGroup> stored;
  for (const auto& [group, limits] : info.tau_max) stored.push_back(group);
  EXPECT_EQ(stored, c.stored);
  std::vector<JointGroup> named;
  for (const auto& [group, name] : info.all_groups) named.push_back(group);
  EXPECT_EQ(named, c.stored);
  EXPECT_EQ(log_.lines(), c.log);
}

const LogLine kInvalidRow =
    Error("[korvo::vyr::Robot] Joint limits vector has invalid size for a group");
const LogLine kRowsMismatch =
    Error("[korvo::vyr::Robot] float2d_container size mismatch with joint_groups");

INSTANTIATE_TEST_SUITE_P(
    Replies, SyncJointLimitsTest,
    ::testing::Values(
        LimitsCase{"RowOf28ForSevenDoF", {"v"}, {3}, {28}, true, {JointGroup::ARM_1}, {}},
        LimitsCase{"RowOf27", {"v"}, {3}, {27}, false, {}, {kInvalidRow}},
        LimitsCase{"RowOf29", {"v"}, {3}, {29}, false, {}, {kInvalidRow}},
        LimitsCase{"GroupWithoutDoFAfterAGoodOne",
                   {"v"},
                   {3, 4},
                   {28, 28},
                   false,
                   {JointGroup::ARM_1},
                   {Error("[korvo::vyr::Robot] Joint group DoF is missing for this group")}},
        LimitsCase{"MoreRowsThanGroups", {"v"}, {3}, {28, 28}, false, {}, {kRowsMismatch}},
        LimitsCase{"FewerRowsThanGroups", {"v"}, {3, 4}, {28}, false, {}, {kRowsMismatch}},
        LimitsCase{"NoSoftwareVersion",
                   {},
                   {3},
                   {28},
                   false,
                   {},
                   {Debug("Reply lacks string_container[0]")}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- RequestReachability --------------------------------------------------------------------

constexpr std::array<double, 7> kPose1 = {0.5, 0.25, 0.75, 1.0, 0.0, 0.0, 0.0};
constexpr std::array<double, 7> kPose2 = {-0.5, 0.125, 1.0, 0.0, 1.0, 0.0, 0.0};

std::map<JointGroup, vyr::IKParams> TwoArms() {
  std::map<JointGroup, vyr::IKParams> params;
  // ARM_2 first: the request is ordered by group, not by insertion.
  params[JointGroup::ARM_2] = {kPose2, {0.5, -0.5}, true};
  params[JointGroup::ARM_1] = {kPose1, {0.25, 0.5, 0.75}, false};
  return params;
}

TEST_F(OperationsRpcTest, ReachabilitySendsTheArmsInGroupOrderAndReadsTheSolutions) {
  AcceptWith([](const RPCRequest&, RPCReply& reply) {
    reply.int_container = {1};
    reply.joint_groups = {4, 3};
    reply.float2d_container = {{1.5f, 2.5f}, {0.5f, 1.0f, 1.5f}};
  });
  vyr::IKResult result;
  result.solved_q[JointGroup::EXT_AXIS] = {9.0};
  ASSERT_TRUE(ops_.RequestReachability(TwoArms(), result).ok());

  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 11);
  EXPECT_EQ(request.joint_groups, (Groups{3, 4}));
  EXPECT_EQ(request.int_container, (Ints{0, 1}));
  EXPECT_EQ(request.float2d_container,
            (std::vector<Floats>{{0.5f, 0.25f, 0.75f, 1.0f, 0.0f, 0.0f, 0.0f, 0.25f, 0.5f, 0.75f},
                                 {-0.5f, 0.125f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.5f, -0.5f}}));
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.solved_q,
            (std::map<JointGroup, std::vector<double>>{{JointGroup::ARM_1, {0.5, 1.0, 1.5}},
                                                       {JointGroup::ARM_2, {1.5, 2.5}}}));
}

struct UnsentCase {
  const char* name;
  std::vector<JointGroup> groups;
  std::string log;
  friend void PrintTo(const UnsentCase& c, std::ostream* out) { *out << c.name; }
};

class ReachabilityUnsentTest : public OperationsRpcTest,
                               public ::testing::WithParamInterface<UnsentCase> {};

TEST_P(ReachabilityUnsentTest, FailsWithoutARequest) {
  std::map<JointGroup, vyr::IKParams> params;
  for (const auto group : GetParam().groups) params[group] = {kPose1, {0.0}, false};
  vyr::IKResult result;
  EXPECT_EQ(ops_.RequestReachability(params, result).code, kKroFault);
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug(GetParam().log)));
}

INSTANTIATE_TEST_SUITE_P(
    Groups, ReachabilityUnsentTest,
    ::testing::Values(
        UnsentCase{"NoGroup", {}, "No active joint groups specified for reachability request"},
        UnsentCase{"Arms", {JointGroup::ARMS}, "Invalid arm group [2] in reachability request"},
        UnsentCase{"ExtAxisAfterAnArm",
                   {JointGroup::ARM_1, JointGroup::EXT_AXIS},
                   "Invalid arm group [5] in reachability request"},
        UnsentCase{"AllBeforeAnArm",
                   {JointGroup::ARM_2, JointGroup::ALL},
                   "Invalid arm group [0] in reachability request"},
        UnsentCase{
            "Unknown", {JointGroup::UNKNOWN}, "Invalid arm group [-1] in reachability request"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReachReplyCase {
  const char* name;
  Ints ints;
  Groups groups;
  std::vector<std::size_t> row_sizes;
  bool success;                    // result.success afterwards (false before the call)
  std::vector<JointGroup> solved;  // keys of result.solved_q afterwards
  std::string log;
  friend void PrintTo(const ReachReplyCase& c, std::ostream* out) { *out << c.name; }
};

class ReachabilityReplyTest : public OperationsRpcTest,
                              public ::testing::WithParamInterface<ReachReplyCase> {};

TEST_P(ReachabilityReplyTest, RejectsAMalformedReply) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) {
    reply.int_container = c.ints;
    reply.joint_groups = c.groups;
    for (const auto size : c.row_sizes) reply.float2d_container.push_back(Row(size));
  });
  vyr::IKResult result;
  result.solved_q[JointGroup::EXT_AXIS] = {9.0};
  EXPECT_EQ(ops_.RequestReachability(TwoArms(), result).code, kKroFault);
  EXPECT_EQ(result.success, c.success);
  std::vector<JointGroup> solved;
  for (const auto& [group, q] : result.solved_q) solved.push_back(group);
  EXPECT_EQ(solved, c.solved);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug(c.log)));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReachabilityReplyTest,
    ::testing::Values(
        ReachReplyCase{"NoInt",
                       {},
                       {3, 4},
                       {3, 2},
                       false,
                       {JointGroup::EXT_AXIS},
                       "Size of int container is 0, expecting 1"},
        ReachReplyCase{"TwoInts",
                       {1, 1},
                       {3, 4},
                       {3, 2},
                       false,
                       {JointGroup::EXT_AXIS},
                       "Size of int container is 2, expecting 1"},
        ReachReplyCase{"FewerRowsThanGroups",
                       {1},
                       {3, 4},
                       {3},
                       false,
                       {JointGroup::EXT_AXIS},
                       "Size mismatch between reply joint_groups [2] and float2d_container [1]"},
        ReachReplyCase{"UnexpectedGroup",
                       {1},
                       {3, 5},
                       {3, 2},
                       true,
                       {JointGroup::ARM_1},
                       "Reply contains unexpected group [5]"},
        ReachReplyCase{"SecondSolutionTooLong",
                       {1},
                       {3, 4},
                       {3, 3},
                       true,
                       {JointGroup::ARM_1},
                       "Reply group [4] solution size [3] does not match expected [2]"},
        ReachReplyCase{"FirstSolutionTooShort",
                       {1},
                       {3, 4},
                       {2, 2},
                       true,
                       {},
                       "Reply group [3] solution size [2] does not match expected [3]"}),
    [](const auto& info) { return std::string(info.param.name); });

// Joint positions that are not numbers are no solution to move to.
TEST_F(OperationsRpcTest, ReachabilityRejectsASolutionThatIsNotFinite) {
  for (const float bad :
       {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
    AcceptWith([bad](const RPCRequest&, RPCReply& reply) {
      reply.int_container = {1};
      reply.joint_groups = {3, 4};
      reply.float2d_container = {{0.5f, 1.0f, 1.5f}, {1.5f, bad}};
    });
    vyr::IKResult result;
    EXPECT_EQ(ops_.RequestReachability(TwoArms(), result).code, kKroFault);
    EXPECT_EQ(result.solved_q.count(JointGroup::ARM_2), 0u);
    EXPECT_THAT(
        log_.lines(),
        ::testing::Contains(Debug("Reply group [4] solution holds a value that is not finite")));
  }
}

// ---- tools ----------------------------------------------------------------------------------

// Values that floats hold exactly, so that widening gives them back unchanged.
zenoh_msgs::vyr_msg::ToolInfo SampleTool(const std::string& name) {
  zenoh_msgs::vyr_msg::ToolInfo tool;
  tool.name = name;
  tool.mass = 1.5f;
  tool.CoM = {0.25f, -0.5f, 0.125f};
  tool.inertia = {0.5f, 0.25f, 0.125f, 0.0625f, -0.03125f, 0.015625f};
  tool.tcp_location = {0.0f, 0.0f, 0.25f, 1.0f, 0.0f, 0.0f, 0.0f};
  return tool;
}

TEST_F(OperationsRpcTest, ToolQueriesReadTheToolRecord) {
  AcceptWith([](const RPCRequest&, RPCReply& reply) { reply.tool = SampleTool("Gripper-X"); });
  const std::array<double, 3> com = {0.25, -0.5, 0.125};
  const std::array<double, 6> inertia = {0.5, 0.25, 0.125, 0.0625, -0.03125, 0.015625};
  const std::array<double, 7> tcp = {0.0, 0.0, 0.25, 1.0, 0.0, 0.0, 0.0};

  std::string name;
  vyr::ToolParams active;
  ASSERT_TRUE(ops_.GetActiveToolParams(JointGroup::ARM_2, name, active).ok());
  EXPECT_EQ(name, "Gripper-X");
  EXPECT_EQ(active.mass, 1.5);
  EXPECT_EQ(active.CoM, com);
  EXPECT_EQ(active.inertia, inertia);
  EXPECT_EQ(active.tcp_location, tcp);
  auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 34);
  EXPECT_EQ(request.joint_groups, Groups{4});
  server_->ClearRequests();

  vyr::ToolParams named;
  ASSERT_TRUE(ops_.GetToolParams("Drill", named).ok());
  EXPECT_EQ(named.mass, 1.5);
  EXPECT_EQ(named.inertia, inertia);
  EXPECT_EQ(named.tcp_location, tcp);
  request = OnlyRequest();
  EXPECT_EQ(request.op_code, 35);
  EXPECT_EQ(request.tool.name, "Drill");
  EXPECT_TRUE(request.joint_groups.empty());
  server_->ClearRequests();

  vyr::ToolParams payload;
  payload.tcp_location = {9, 9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(ops_.GetPayloadParams(payload).ok());
  EXPECT_EQ(payload.mass, 1.5);
  EXPECT_EQ(payload.CoM, com);
  EXPECT_EQ(payload.inertia, inertia);
  EXPECT_EQ(payload.tcp_location, (std::array<double, 7>{9, 9, 9, 9, 9, 9, 9}));
  EXPECT_EQ(OnlyRequest().op_code, 37);
}

TEST_F(OperationsRpcTest, ToolOperationSendsTheToolAndTheGroupUnlessUnknown) {
  vyr::ToolParams params;
  params.mass = 0.1;
  params.CoM = {0.1, 0.2, 0.3};
  params.inertia = {1, 2, 3, 4, 5, 6};
  params.tcp_location = {0.1, 0, 0.2, 0.7071, 0, 0.7071, 0};
  ASSERT_TRUE(ops_.ToolOperation(30, "Drill", params).ok());
  ASSERT_TRUE(ops_.ToolOperation(33, "Drill", {}, JointGroup::ARM_1).ok());

  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].op_code, 30);
  EXPECT_TRUE(requests[0].joint_groups.empty());
  EXPECT_EQ(requests[0].tool.name, "Drill");
  EXPECT_EQ(requests[0].tool.mass, 0.1f);
  EXPECT_EQ(requests[0].tool.CoM, (std::array<float, 3>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(requests[0].tool.inertia, (std::array<float, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(requests[0].tool.tcp_location,
            (std::array<float, 7>{0.1f, 0, 0.2f, 0.7071f, 0, 0.7071f, 0}));
  EXPECT_EQ(requests[1].op_code, 33);
  EXPECT_EQ(requests[1].joint_groups, Groups{3});
  EXPECT_EQ(requests[1].tool.mass, 0.0f);
}

// ---- device status and poses ----------------------------------------------------------------

struct StatusCase {
  const char* name;
  Ints ints;
  bool ok;
  bool enabled;
  bool connected;
  std::vector<LogLine> log;
  friend void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }
};

class GetDeviceStatusTest : public OperationsRpcTest,
                            public ::testing::WithParamInterface<StatusCase> {};

TEST_P(GetDeviceStatusTest, ReadsTwoFlags) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) { reply.int_container = c.ints; });
  // The outputs start opposite to an all-false answer, so that a write shows.
  bool enabled = true;
  bool connected = true;
  EXPECT_EQ(ops_.GetDeviceStatus("Gripper", enabled, connected).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(enabled, c.enabled);
  EXPECT_EQ(connected, c.connected);
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 45);
  EXPECT_EQ(request.string_container, Strings{"Gripper"});
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, GetDeviceStatusTest,
    ::testing::Values(
        StatusCase{"EnabledNotConnected", {1, 0}, true, true, false, {}},
        StatusCase{"ConnectedNotEnabled", {0, -3}, true, false, true, {}},
        StatusCase{"OneValue", {0}, false, true, true, {Debug("Reply lacks int_container[1]")}},
        StatusCase{"NoValue", {}, false, true, true, {Debug("Reply lacks int_container[0]")}}),
    [](const auto& info) { return std::string(info.param.name); });

class GetPoseTest : public OperationsRpcTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(GetPoseTest, NeedsExactlySevenValues) {
  const std::size_t size = GetParam();
  AcceptWith([size](const RPCRequest&, RPCReply& reply) { reply.float_container = Row(size, 1); });
  std::array<double, 7> pose{};
  pose.fill(-1.0);
  const auto state = ops_.GetPose("WorkCoord-1", pose);
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 53);
  EXPECT_EQ(request.string_container, Strings{"WorkCoord-1"});
  if (size == 7) {
    EXPECT_EQ(state.code, kKroOk);
    EXPECT_EQ(pose, (std::array<double, 7>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(log_.lines().empty());
  } else {
    EXPECT_EQ(state.code, kKroFault);
    EXPECT_EQ(pose, (std::array<double, 7>{-1, -1, -1, -1, -1, -1, -1}));
    EXPECT_THAT(log_.lines(), ::testing::ElementsAre(
                                  Debug("Size mismatch between float_container and pose_output")));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GetPoseTest,
                         ::testing::Values(std::size_t{0}, std::size_t{6}, std::size_t{7},
                                           std::size_t{8}));

// ---- GetDeviceParams ------------------------------------------------------------------------

using Params = std::map<std::string, DeviceParamValue>;

TEST_F(OperationsRpcTest, DeviceParamsAreDecodedByContainerPrecedence) {
  const Strings names = {"int",    "bool",    "float",         "floats",
                         "string", "strings", "int_and_float", "float_and_string",
                         "empty",  "refused", "other_op",      "int"};
  auto seen_int = std::make_shared<int>(0);
  AcceptWith([names, seen_int](const RPCRequest& request, RPCReply& reply) {
    if (request.op_code == 43) {
      reply.string_container = names;
      return;
    }
    const std::string& name = request.string_container.at(1);
    if (name == "int") {
      reply.int_container = {(*seen_int)++ == 0 ? -4 : 99};  // a repeated name keeps the first
    } else if (name == "bool") {
      reply.int_container = {1};
    } else if (name == "float") {
      reply.float_container = {2.5f};
    } else if (name == "floats") {
      reply.float_container = {1.5f, -2.5f};
    } else if (name == "string") {
      reply.string_container = {"on"};
    } else if (name == "strings") {
      reply.string_container = {"a", "b", "c"};
    } else if (name == "int_and_float") {
      reply.int_container = {3};
      reply.float_container = {4.5f};
      reply.string_container = {"x"};
    } else if (name == "float_and_string") {
      reply.float_container = {0.25f};
      reply.string_container = {"x"};
    } else if (name == "refused") {
      reply.success = false;
      reply.int_container = {1};
    } else if (name == "other_op") {
      reply.op_code = 43;
      reply.int_container = {1};
    }
  });
  Params params = {{"stale", 1}};
  ASSERT_TRUE(ops_.GetDeviceParams("Gripper", params).ok());

  const Params expected = {
      {"int", DeviceParamValue(std::in_place_index<0>, -4)},
      {"bool", DeviceParamValue(std::in_place_index<0>, 1)},
      {"float", DeviceParamValue(std::in_place_index<1>, 2.5)},
      {"floats", DeviceParamValue(std::in_place_index<3>, std::vector<double>{1.5, -2.5})},
      {"string", DeviceParamValue(std::in_place_index<2>, "on")},
      {"strings", DeviceParamValue(std::in_place_index<4>, Strings{"a", "b", "c"})},
      {"int_and_float", DeviceParamValue(std::in_place_index<0>, 3)},
      {"float_and_string", DeviceParamValue(std::in_place_index<1>, 0.25)},
  };
  EXPECT_EQ(params, expected);

  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 1 + names.size());
  EXPECT_EQ(requests[0].op_code, 43);
  EXPECT_EQ(requests[0].string_container, Strings{"Gripper"});
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(requests[1 + i].op_code, 44);
    EXPECT_EQ(requests[1 + i].string_container, (Strings{"Gripper", names[i]}));
  }
  EXPECT_THAT(log_.lines(),
              ::testing::ElementsAre(
                  Warn("[korvo::vyr::Device::params] Data type of parameter [refused] is not "
                       "supported yet and will be omitted"),
                  Warn("[korvo::vyr::Device::params] Data type of parameter [other_op] is not "
                       "supported yet and will be omitted")));
}

enum class SecondValue { kTwoInts, kNoReply, kRefused, kEmpty };

struct DeviceParamsCase {
  const char* name;
  SecondValue second;
  bool ok;
  std::vector<std::string> kept;
  std::size_t value_requests;
  std::vector<LogLine> log;
  friend void PrintTo(const DeviceParamsCase& c, std::ostream* out) { *out << c.name; }
};

class DeviceParamsSecondValueTest : public OperationsRpcTest,
                                    public ::testing::WithParamInterface<DeviceParamsCase> {};

TEST_P(DeviceParamsSecondValueTest, StopsOrSkipsAsTheReplyDemands) {
  const auto& c = GetParam();
  server_->SetReplies([&c](const RPCRequest& request) -> std::optional<RPCReply> {
    RPCReply reply = Accept(request);
    if (request.op_code == 43) {
      reply.string_container = {"first", "second", "third"};
      return reply;
    }
    const std::string& name = request.string_container.at(1);
    if (name == "first") reply.int_container = {1};
    if (name == "third") reply.string_container = {"t"};
    if (name != "second") return reply;
    switch (c.second) {
      case SecondValue::kTwoInts:
        reply.int_container = {1, 2};
        break;
      case SecondValue::kNoReply:
        return std::nullopt;
      case SecondValue::kRefused:
        reply.success = false;
        break;
      case SecondValue::kEmpty:
        break;
    }
    return reply;
  });
  Params params;
  EXPECT_EQ(ops_.GetDeviceParams("Gripper", params).code, c.ok ? kKroOk : kKroFault);
  std::vector<std::string> kept;
  for (const auto& [name, value] : params) kept.push_back(name);
  EXPECT_EQ(kept, c.kept);
  EXPECT_EQ(server_->requests().size(), 1 + c.value_requests);
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DeviceParamsSecondValueTest,
    ::testing::Values(
        DeviceParamsCase{"TwoInts",
                         SecondValue::kTwoInts,
                         false,
                         {"first"},
                         2,
                         {Debug("int vector is not a supported variant")}},
        DeviceParamsCase{"NoReply", SecondValue::kNoReply, false, {"first"}, 4, {Debug(kNoReply)}},
        DeviceParamsCase{"Refused",
                         SecondValue::kRefused,
                         true,
                         {"first", "third"},
                         3,
                         {Warn("[korvo::vyr::Device::params] Data type of parameter [second] is "
                               "not supported yet and will be omitted")}},
        DeviceParamsCase{"NoValue", SecondValue::kEmpty, true, {"first", "third"}, 3, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameListCase {
  const char* name;
  bool success;
  bool ok;
  Params params;
  std::vector<LogLine> log;
  friend void PrintTo(const NameListCase& c, std::ostream* out) { *out << c.name; }
};

class DeviceParamsNameListTest : public OperationsRpcTest,
                                 public ::testing::WithParamInterface<NameListCase> {};

TEST_P(DeviceParamsNameListTest, DecidesBeforeAnyValueIsAsked) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) { reply.success = c.success; });
  Params params = {{"stale", 1}};
  EXPECT_EQ(ops_.GetDeviceParams("Gripper", params).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(params, c.params);
  EXPECT_EQ(OnlyRequest().op_code, 43);
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DeviceParamsNameListTest,
    ::testing::Values(NameListCase{"Empty", true, true, {}, {}},
                      NameListCase{"Refused", false, false, {{"stale", 1}}, {Debug(kRefused)}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- files ----------------------------------------------------------------------------------

struct DownloadCase {
  const char* name;
  Strings strings;
  std::string content;
  std::optional<std::uint32_t> crc;
  bool ok;
  std::vector<LogLine> log;
  friend void PrintTo(const DownloadCase& c, std::ostream* out) { *out << c.name; }
};

class DownloadFileTest : public OperationsRpcTest,
                         public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(DownloadFileTest, ChecksTheNameAndTheChecksum) {
  const auto& c = GetParam();
  AcceptWith([&c](const RPCRequest&, RPCReply& reply) {
    reply.string_container = c.strings;
    reply.byte_container = Text(c.content);
    if (c.crc) reply.int_container = {static_cast<std::int32_t>(*c.crc)};
  });
  Bytes bytes = {0xAA};
  EXPECT_EQ(ops_.DownloadFile(62, "traj.txt", bytes).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(bytes, c.ok ? Text(c.content) : Bytes{0xAA});
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 62);
  EXPECT_EQ(request.string_container, Strings{"traj.txt"});
  EXPECT_EQ(log_.lines(), c.log);
}

const LogLine kWrongName = Debug("Wrong filename is returned");

INSTANTIATE_TEST_SUITE_P(
    Replies, DownloadFileTest,
    ::testing::Values(
        // 0xCBF43926 has its top bit set: it travels as a negative int32.
        DownloadCase{"Content", {"traj.txt"}, "123456789", 0xCBF43926u, true, {}},
        DownloadCase{"EmptyFile", {"traj.txt"}, "", 0u, true, {}},
        DownloadCase{"OtherName", {"other.txt"}, "123456789", 0xCBF43926u, false, {kWrongName}},
        DownloadCase{"NameInOtherCase", {"TRAJ.txt"}, "", 0u, false, {kWrongName}},
        DownloadCase{"NameWithTrailingBlank", {"traj.txt "}, "", 0u, false, {kWrongName}},
        DownloadCase{"ChecksumMismatch",
                     {"traj.txt"},
                     "123456789",
                     0xCBF43927u,
                     false,
                     {Debug("CRC32 checksum mismatch")}},
        DownloadCase{"EmptyFileWithChecksum",
                     {"traj.txt"},
                     "",
                     1u,
                     false,
                     {Debug("CRC32 checksum mismatch")}},
        DownloadCase{"NoName", {}, "", 0u, false, {Debug("Reply lacks string_container[0]")}},
        DownloadCase{"NoChecksum",
                     {"traj.txt"},
                     "",
                     std::nullopt,
                     false,
                     {Debug("Reply lacks int_container[0]")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OperationsRpcTest, UploadFileSendsTheWholeFileAgainOnARetry) {
  auto calls = std::make_shared<std::atomic<int>>(0);
  server_->SetReplies([calls](const RPCRequest& request) -> std::optional<RPCReply> {
    if ((*calls)++ == 0) return std::nullopt;
    return Accept(request);
  });
  const Bytes content = Text("123456789");
  ASSERT_TRUE(ops_.UploadFile(61, "a.traj", 0xCBF43926u, content).ok());
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.op_code, 61);
    EXPECT_EQ(request.string_container, Strings{"a.traj"});
    EXPECT_EQ(request.int_container, Ints{static_cast<std::int32_t>(0xCBF43926u)});
    EXPECT_EQ(request.byte_container, content);
  }
}

}  // namespace
}  // namespace korvo::vyr_impl
