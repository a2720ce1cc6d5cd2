// The QEL data operations over real zenoh on loopback, against a server whose replies each test
// builds.
#include "client/qel_data_rpc.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "loopback.hpp"
#include "msgs/qel_msg.hpp"
#include "rpc_test_support.hpp"

namespace korvo::vyr_impl {
namespace {

using test::Bytes;
using test::Debug;
using test::Error;
using test::LogLine;
using vyr::JointGroup;
using zenoh_msgs::qel_msg::RPCReply;
using zenoh_msgs::qel_msg::RPCRequest;
using Server = test::ScriptedServer<RPCRequest, RPCReply>;
using Strings = std::vector<std::string>;
using Floats = std::vector<float>;
using Groups = std::vector<std::uint16_t>;
using StartIds = std::map<JointGroup, std::int32_t>;
using DoFs = std::map<JointGroup, int>;
using Manipulability = std::map<JointGroup, std::array<double, 6>>;

constexpr char kNoReply[] = "Failed to send remote call or server reply timeout";
constexpr char kRefused[] = "Remote procedure failed";

RPCReply Accept(const RPCRequest& request) { return Server::AcceptedReply(request); }

class QelDataRpcTest : public test::LoopbackSessionsSuite {
 protected:
  void SetUp() override {
    sn_ = test::SerialOfThisTest("Olvar-L");
    server_ = std::make_unique<Server>(*robot_, "korvo/robot/" + sn_ + "/rpc");
    ASSERT_TRUE(server_->WaitUntilKnown(client_));
    ASSERT_TRUE(qel_.Init(client_, sn_).ok());
    log_.Clear();
  }

  void AcceptWith(std::function<void(RPCReply&)> fill) {
    server_->SetReplies([fill = std::move(fill)](const RPCRequest& request) {
      RPCReply reply = Accept(request);
      fill(reply);
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
  QELDataRpc qel_;
};

TEST_F(QelDataRpcTest, InitLogsTheQelKey) {
  QELDataRpc qel;
  ASSERT_TRUE(qel.Init(client_, sn_).ok());
  EXPECT_THAT(
      log_.lines(),
      ::testing::ElementsAre(
          Debug("[korvo::vyr::Robot] Creating RPC client on topic: korvo/robot/" + sn_ + "/rpc")));
  Strings entries;
  EXPECT_TRUE(qel.GetPrimitiveStates(entries).ok());
  EXPECT_EQ(server_->requests().size(), 1u);
}

// ---- the call pattern: one call, no retry ----------------------------------------------------

enum class Answer { kAccept, kRefuse, kOtherOpCode, kMalformed, kNothing };

struct PatternCase {
  const char* name;
  Answer answer;
  bool ok;
  std::vector<LogLine> log;
  friend void PrintTo(const PatternCase& c, std::ostream* out) { *out << c.name; }
};

class QelCallPatternTest : public QelDataRpcTest,
                           public ::testing::WithParamInterface<PatternCase> {};

TEST_P(QelCallPatternTest, MakesOneCall) {
  const auto& c = GetParam();
  server_->SetScript([&c](const RPCRequest& request) -> std::optional<Bytes> {
    RPCReply reply = Accept(request);
    reply.string_container = {"entry"};
    switch (c.answer) {
      case Answer::kAccept:
        return zenoh_mdw::Encode(reply);
      case Answer::kRefuse:
        reply.success = false;
        return zenoh_mdw::Encode(reply);
      case Answer::kOtherOpCode:
        reply.op_code = 1;
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
  Strings entries = {"before"};
  EXPECT_EQ(qel_.GetPrimitiveStates(entries).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(entries, c.ok ? Strings{"entry"} : Strings{"before"});
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 3);
  EXPECT_TRUE(request.joint_groups.empty());
  EXPECT_EQ(log_.lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, QelCallPatternTest,
    ::testing::Values(PatternCase{"Accepted", Answer::kAccept, true, {}},
                      PatternCase{"Refused", Answer::kRefuse, false, {Debug(kRefused)}},
                      PatternCase{"OtherOpCode", Answer::kOtherOpCode, false, {Debug(kRefused)}},
                      PatternCase{"Malformed", Answer::kMalformed, false, {Debug(kNoReply)}},
                      PatternCase{"NoReply", Answer::kNothing, false, {Debug(kNoReply)}}),
    [](const auto& info) { return std::string(info.param.name); });

// The one test here that waits out the 2 s time-out.
TEST_F(QelDataRpcTest, AQueryLeftOpenIsNotRetried) {
  server_->HoldUnanswered(true);
  server_->SetScript([](const RPCRequest&) { return std::nullopt; });
  std::string version = "before";
  EXPECT_EQ(qel_.SyncServerVersion(version).code, kKroFault);
  EXPECT_EQ(version, "before");
  EXPECT_EQ(server_->requests().size(), 1u);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug(kNoReply)));
}

// ---- string lists ---------------------------------------------------------------------------

TEST_F(QelDataRpcTest, GetStringListReplacesTheList) {
  AcceptWith([](RPCReply& reply) { reply.string_container = {"a", "b"}; });
  Strings strings = {"old"};
  ASSERT_TRUE(qel_.GetStringList(7, strings).ok());
  EXPECT_EQ(strings, (Strings{"a", "b"}));
  EXPECT_EQ(OnlyRequest().op_code, 7);
}

TEST_F(QelDataRpcTest, SyncServerVersionTakesTheFirstText) {
  AcceptWith([](RPCReply& reply) { reply.string_container = {"v2.1", "more"}; });
  std::string version;
  ASSERT_TRUE(qel_.SyncServerVersion(version).ok());
  EXPECT_EQ(version, "v2.1");
  EXPECT_EQ(OnlyRequest().op_code, 1);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug("Received QEL server version = v2.1")));

  server_->ClearRequests();
  log_.Clear();
  AcceptWith([](RPCReply&) {});
  EXPECT_EQ(qel_.SyncServerVersion(version).code, kKroFault);
  EXPECT_EQ(version, "v2.1");
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Debug("Reply lacks string_container[0]")));
}

// ---- GetPlanInfo ----------------------------------------------------------------------------

Strings PlanTexts(const std::string& velocity, const std::string& waiting) {
  return {"MoveJ", "node_2", "rootNode/node_2", "1.25", "2", "PLAN-A", velocity, waiting};
}

TEST_F(QelDataRpcTest, GetPlanInfoReadsEightTexts) {
  AcceptWith([](RPCReply& reply) { reply.string_container = PlanTexts("37.5", "1"); });
  vyr::PlanInfo info;
  ASSERT_TRUE(qel_.GetPlanInfo(info).ok());
  EXPECT_EQ(OnlyRequest().op_code, 4);
  EXPECT_EQ(info.pt_name, "MoveJ");
  EXPECT_EQ(info.node_name, "node_2");
  EXPECT_EQ(info.node_path, "rootNode/node_2");
  EXPECT_EQ(info.node_path_time_period, "1.25");
  EXPECT_EQ(info.node_path_number, "2");
  EXPECT_EQ(info.assigned_plan_name, "PLAN-A");
  EXPECT_EQ(info.velocity_scale, 37.5);
  EXPECT_TRUE(info.waiting_for_step);

  AcceptWith([](RPCReply& reply) { reply.string_container = PlanTexts("100", "0"); });
  ASSERT_TRUE(qel_.GetPlanInfo(info).ok());
  EXPECT_EQ(info.velocity_scale, 100.0);
  EXPECT_FALSE(info.waiting_for_step);
}

class PlanInfoSizeTest : public QelDataRpcTest,
                         public ::testing::WithParamInterface<std::size_t> {};

TEST_P(PlanInfoSizeTest, FailsUnlessThereAreEightTexts) {
  const std::size_t size = GetParam();
  AcceptWith([size](RPCReply& reply) {
    reply.string_container = PlanTexts("50", "0");
    reply.string_container.resize(size, "0");
  });
  vyr::PlanInfo info;
  info.pt_name = "before";
  EXPECT_EQ(qel_.GetPlanInfo(info).code, kKroFault);
  EXPECT_EQ(info.pt_name, "before");
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Error(
                                "[korvo::vyr::Robot] Size of plan info container is incorrect")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlanInfoSizeTest,
                         ::testing::Values(std::size_t{0}, std::size_t{7}, std::size_t{9}));

enum class Throws { kInvalidArgument, kOutOfRange };

struct ConversionCase {
  const char* name;
  std::string velocity;
  std::string waiting;
  Throws throws;
  friend void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }
};

class PlanInfoConversionTest : public QelDataRpcTest,
                               public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(PlanInfoConversionTest, ThrowsTheStandardConversionError) {
  const auto& c = GetParam();
  AcceptWith([&c](RPCReply& reply) { reply.string_container = PlanTexts(c.velocity, c.waiting); });
  vyr::PlanInfo info;
  if (c.throws == Throws::kInvalidArgument) {
    EXPECT_THROW(qel_.GetPlanInfo(info), std::invalid_argument);
  } else {
    EXPECT_THROW(qel_.GetPlanInfo(info), std::out_of_range);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PlanInfoConversionTest,
    ::testing::Values(ConversionCase{"VelocityNotANumber", "abc", "0", Throws::kInvalidArgument},
                      ConversionCase{"VelocityEmpty", "", "0", Throws::kInvalidArgument},
                      ConversionCase{"VelocityTooLarge", "1e999", "0", Throws::kOutOfRange},
                      ConversionCase{"WaitingNotANumber", "50", "yes", Throws::kInvalidArgument},
                      ConversionCase{"WaitingTooLarge", "50", "99999999999", Throws::kOutOfRange}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- GetManipulability ----------------------------------------------------------------------

// A row of `size` values counting up from `first`.
Floats Row(std::size_t size, float first = 0.0f) {
  Floats row(size);
  for (std::size_t i = 0; i < size; ++i) row[i] = first + static_cast<float>(i);
  return row;
}

TEST_F(QelDataRpcTest, ManipulabilitySkipsTheFirstTwoValuesOfEachRow) {
  AcceptWith([](RPCReply& reply) {
    reply.joint_groups = {4, 3};
    reply.float2d_container = {Row(8, 10), Row(9, 20)};
  });
  Manipulability values = {{JointGroup::EXT_AXIS, {}}};
  ASSERT_TRUE(qel_.GetManipulability(values).ok());
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 9);
  EXPECT_TRUE(request.joint_groups.empty());
  EXPECT_EQ(values, (Manipulability{{JointGroup::ARM_1, {22, 23, 24, 25, 26, 27}},
                                    {JointGroup::ARM_2, {12, 13, 14, 15, 16, 17}}}));
  EXPECT_TRUE(log_.lines().empty());
}

struct ManipulabilityCase {
  const char* name;
  Groups groups;
  std::vector<std::size_t> row_sizes;
  std::vector<JointGroup> kept;  // keys of the result afterwards
  std::string log;
  friend void PrintTo(const ManipulabilityCase& c, std::ostream* out) { *out << c.name; }
};

class ManipulabilityReplyTest : public QelDataRpcTest,
                                public ::testing::WithParamInterface<ManipulabilityCase> {};

TEST_P(ManipulabilityReplyTest, RejectsAMalformedReply) {
  const auto& c = GetParam();
  AcceptWith([&c](RPCReply& reply) {
    reply.joint_groups = c.groups;
    for (const auto size : c.row_sizes) reply.float2d_container.push_back(Row(size));
  });
  Manipulability values = {{JointGroup::EXT_AXIS, {}}};
  EXPECT_EQ(qel_.GetManipulability(values).code, kKroFault);
  std::vector<JointGroup> kept;
  for (const auto& [group, value] : values) kept.push_back(group);
  EXPECT_EQ(kept, c.kept);
  EXPECT_THAT(log_.lines(), ::testing::ElementsAre(Error(c.log)));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ManipulabilityReplyTest,
    ::testing::Values(
        ManipulabilityCase{
            "RowOfSeven",
            {3},
            {7},
            {},
            "Malformed manipulability reply: packed vector size [7], expecting at least [8]"},
        ManipulabilityCase{
            "SecondRowShort",
            {3, 4},
            {8, 2},
            {JointGroup::ARM_1},
            "Malformed manipulability reply: packed vector size [2], expecting at least [8]"},
        ManipulabilityCase{"MoreGroupsThanRows",
                           {3, 4},
                           {8},
                           {JointGroup::EXT_AXIS},
                           "Malformed manipulability reply: size mismatch between joint_groups "
                           "and float2d_container"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- GetStartIdsAndDoF ----------------------------------------------------------------------

struct StartIdCase {
  const char* name;
  Groups groups;
  std::vector<std::int32_t> ids;
  Floats dofs;
  bool ok;
  StartIds start_ids;  // afterwards
  DoFs DoF;            // afterwards
  std::vector<LogLine> log;
  friend void PrintTo(const StartIdCase& c, std::ostream* out) { *out << c.name; }
};

class StartIdsTest : public QelDataRpcTest, public ::testing::WithParamInterface<StartIdCase> {};

TEST_P(StartIdsTest, ReadsEachGroupsStartAndDoF) {
  const auto& c = GetParam();
  AcceptWith([&c](RPCReply& reply) {
    reply.joint_groups = c.groups;
    reply.int_container = c.ids;
    reply.float_container = c.dofs;
  });
  StartIds start_ids = {{JointGroup::EXT_AXIS, 14}};
  DoFs DoF = {{JointGroup::EXT_AXIS, 2}};
  const std::vector<JointGroup> asked = {JointGroup::ALL, JointGroup::ARMS, JointGroup::ARM_1,
                                         JointGroup::ARM_2, JointGroup::EXT_AXIS};
  EXPECT_EQ(qel_.GetStartIdsAndDoF(asked, start_ids, DoF).code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(start_ids, c.start_ids);
  EXPECT_EQ(DoF, c.DoF);
  const auto request = OnlyRequest();
  EXPECT_EQ(request.op_code, 10);
  EXPECT_EQ(request.joint_groups, (Groups{0, 2, 3, 4, 5}));
  EXPECT_EQ(log_.lines(), c.log);
}

const LogLine kStartIdMismatch = Error(
    "Malformed start ID reply: size mismatch between joint_groups, int_container, and "
    "float_container");
const StartIds kStartIdsBefore = {{JointGroup::EXT_AXIS, 14}};
const DoFs kDoFBefore = {{JointGroup::EXT_AXIS, 2}};

INSTANTIATE_TEST_SUITE_P(
    Replies, StartIdsTest,
    ::testing::Values(
        StartIdCase{"ThreeGroupsOfSeven",
                    {0, 2, 3},
                    {0, 0, 0},
                    {7.0f, 7.0f, 7.0f},
                    true,
                    {{JointGroup::ALL, 0}, {JointGroup::ARMS, 0}, {JointGroup::ARM_1, 0}},
                    {{JointGroup::ALL, 7}, {JointGroup::ARMS, 7}, {JointGroup::ARM_1, 7}},
                    {}},
        StartIdCase{"DoFIsTruncated",
                    {4},
                    {7},
                    {6.9f},
                    true,
                    {{JointGroup::ARM_2, 7}},
                    {{JointGroup::ARM_2, 6}},
                    {}},
        StartIdCase{"GroupListedTwiceKeepsTheLast",
                    {3, 3},
                    {0, 2},
                    {7.0f, 5.0f},
                    true,
                    {{JointGroup::ARM_1, 2}},
                    {{JointGroup::ARM_1, 5}},
                    {}},
        StartIdCase{"NoGroups", {}, {}, {}, true, {}, {}, {}},
        StartIdCase{"ThreeGroupsTwoDoF",
                    {0, 2, 3},
                    {0, 0, 0},
                    {7.0f, 7.0f},
                    false,
                    kStartIdsBefore,
                    kDoFBefore,
                    {kStartIdMismatch}},
        StartIdCase{"ThreeGroupsTwoStartIds",
                    {0, 2, 3},
                    {0, 0},
                    {7.0f, 7.0f, 7.0f},
                    false,
                    kStartIdsBefore,
                    kDoFBefore,
                    {kStartIdMismatch}},
        StartIdCase{"NegativeDoF",
                    {3},
                    {0},
                    {-2.0f},
                    false,
                    kStartIdsBefore,
                    kDoFBefore,
                    {Error("Malformed start ID reply: DoF [-2] is not a count")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr_impl
