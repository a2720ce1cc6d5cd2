// The simulator driven through our middleware over loopback, as the client will drive it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "eventually.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "loopback.hpp"
#include "middleware/publisher.hpp"
#include "middleware/rpc_client.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/std_msg.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/simulator.hpp"

namespace korvo::sim {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using vyr::JointGroup;
using vyr::Mode;
using vyr::ProductModel;
namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;
using VyrRpc = zenoh_mdw::RpcClient<vyr_msg::RPCRequest, vyr_msg::RPCReply>;
using QelRpc = zenoh_mdw::RpcClient<qel_msg::RPCRequest, qel_msg::RPCReply>;

// Keeps the latest message of one stream.
template <typename Message>
class Latest {
 public:
  Latest(const std::shared_ptr<zenoh::Session>& session, const std::string& topic)
      : subscriber_(
            session,
            [this] {
              std::lock_guard lock(mutex_);
              latest_ = incoming_;
              ++count_;
            },
            incoming_, topic) {}
  std::optional<Message> get() const {
    std::lock_guard lock(mutex_);
    if (count_ == 0) return std::nullopt;
    return latest_;
  }

 private:
  Message incoming_;
  mutable std::mutex mutex_;
  Message latest_;
  int count_ = 0;
  zenoh_mdw::Subscriber<Message> subscriber_;
};

class SimProtocolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = test::FreeTcpPort();
    simulator_ = std::make_unique<Simulator>(zenoh::Config::from_str(test::ListenerConfig(port)));
    client_ =
        std::make_shared<zenoh::Session>(zenoh::Config::from_str(test::ConnectorConfig(port)));
  }
  static void TearDownTestSuite() {
    client_.reset();
    simulator_.reset();
  }

  // A robot of its own for every test.
  RobotHost& Host(ProductModel model = ProductModel::Olvar_L, unsigned ext_axes = 0) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    serial_ = std::string(vyr::kProductModelNames.at(model)) + "-" + info->name();
    for (auto& c : serial_) {
      if (c == '/' || c == '_') c = 'x';
    }
    auto& host = simulator_->AddRobot(model, serial_, ext_axes);
    vyr_ = std::make_unique<VyrRpc>(client_, "korvo/vyr/" + serial_ + "/rpc");
    qel_ = std::make_unique<QelRpc>(client_, "korvo/robot/" + serial_ + "/rpc");
    // Until the client knows the queryables, queries finish without a reply.
    EXPECT_TRUE(Eventually([&] { return Vyr(3).has_value(); }));
    EXPECT_TRUE(Eventually([&] { return Qel(1).has_value(); }));
    host.ClearRecords();
    return host;
  }
  void TearDown() override {
    vyr_.reset();
    qel_.reset();
    if (!serial_.empty()) simulator_->RemoveRobot(serial_);
  }

  std::optional<vyr_msg::RPCReply> Vyr(vyr_msg::RPCRequest request, double timeout = 2.0) {
    vyr_msg::RPCReply reply;
    if (!vyr_->SendRequestAndGetReply(request, reply, timeout)) return std::nullopt;
    return reply;
  }
  std::optional<vyr_msg::RPCReply> Vyr(std::uint16_t op_code, std::vector<std::int32_t> ints = {}) {
    vyr_msg::RPCRequest request;
    request.op_code = op_code;
    request.int_container = std::move(ints);
    return Vyr(request);
  }
  std::optional<qel_msg::RPCReply> Qel(std::uint16_t op_code,
                                       std::vector<std::uint16_t> groups = {}) {
    qel_msg::RPCReply reply;
    if (!qel_->SendRequestAndGetReply({op_code, std::move(groups)}, reply, 2.0)) {
      return std::nullopt;
    }
    return reply;
  }

  static inline std::unique_ptr<Simulator> simulator_;
  static inline std::shared_ptr<zenoh::Session> client_;
  std::string serial_;
  std::unique_ptr<VyrRpc> vyr_;
  std::unique_ptr<QelRpc> qel_;
};

struct LayoutCase {
  ProductModel model;
  unsigned ext_axes;
  // group -> (start ID, DoF) that the robot reports
  std::map<std::uint16_t, std::pair<int, unsigned>> groups;
};

class SimLayoutTest : public SimProtocolTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SimLayoutTest, ReportsVersionsStartIdsDoFAndJointLimits) {
  Host(GetParam().model, GetParam().ext_axes);
  const auto vyr_version = Vyr(3);
  ASSERT_TRUE(vyr_version && vyr_version->success);
  EXPECT_EQ(vyr_version->string_container, std::vector<std::string>{"v2.1"});
  const auto qel_version = Qel(1);
  ASSERT_TRUE(qel_version && qel_version->success);
  EXPECT_EQ(qel_version->string_container, std::vector<std::string>{"v2.1"});

  // The client asks for every group; the robot reports the ones it has.
  const std::vector<std::uint16_t> all = {0, 2, 3, 4, 5};
  const auto ids = Qel(10, all);
  ASSERT_TRUE(ids && ids->success);
  ASSERT_EQ(ids->joint_groups.size(), GetParam().groups.size());
  for (std::size_t i = 0; i < ids->joint_groups.size(); ++i) {
    const auto expected = GetParam().groups.at(ids->joint_groups[i]);
    EXPECT_EQ(ids->int_container[i], expected.first);
    EXPECT_EQ(ids->float_container[i], static_cast<float>(expected.second));
  }

  vyr_msg::RPCRequest limits;
  limits.op_code = 6;
  limits.joint_groups = all;
  const auto reply = Vyr(limits);
  ASSERT_TRUE(reply && reply->success);
  EXPECT_FALSE(reply->string_container.at(0).empty());
  ASSERT_EQ(reply->joint_groups.size(), GetParam().groups.size());
  for (std::size_t i = 0; i < reply->joint_groups.size(); ++i) {
    const unsigned n = GetParam().groups.at(reply->joint_groups[i]).second;
    const auto& row = reply->float2d_container[i];
    ASSERT_EQ(row.size(), 4 * n);
    for (unsigned j = 0; j < n; ++j) {
      EXPECT_GT(row[j], row[n + j]) << "q_max above q_min";
      EXPECT_GT(row[2 * n + j], 0.0f) << "dq_max";
      EXPECT_GT(row[3 * n + j], 0.0f) << "tau_max";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SimLayoutTest,
    ::testing::Values(
        LayoutCase{ProductModel::Olvar_L, 0, {{0, {0, 7}}, {3, {0, 7}}}},
        LayoutCase{ProductModel::Olvar_L, 2, {{0, {0, 9}}, {3, {0, 7}}, {5, {7, 2}}}},
        LayoutCase{
            ProductModel::Olvar_LL, 0, {{0, {0, 14}}, {2, {0, 14}}, {3, {0, 7}}, {4, {7, 7}}}},
        LayoutCase{ProductModel::TAVU_Core,
                   1,
                   {{0, {0, 15}}, {2, {0, 14}}, {3, {0, 7}}, {4, {7, 7}}, {5, {14, 1}}}},
        LayoutCase{
            ProductModel::TAVU_Plus, 0, {{0, {0, 16}}, {2, {2, 14}}, {3, {2, 7}}, {4, {9, 7}}}},
        LayoutCase{ProductModel::TAVU_Ultra,
                   6,
                   {{0, {0, 25}}, {2, {5, 14}}, {3, {5, 7}}, {4, {12, 7}}, {5, {19, 6}}}}));

TEST_F(SimProtocolTest, ModeSwitchShowsInTheRealtimeStates) {
  auto& host = Host();
  Latest<vyr_msg::RealtimeStates> states(client_, "korvo/vyr/" + serial_ + "/states");
  ASSERT_TRUE(Eventually([&] { return states.get().has_value(); }));
  EXPECT_EQ(states.get()->mode, 1);

  // Not servoed on yet: the robot refuses.
  EXPECT_FALSE(Vyr(8, {6})->success);
  host.robot().MakeReady();
  ASSERT_TRUE(Vyr(8, {6})->success);
  EXPECT_TRUE(Eventually([&] { return states.get()->mode == 6; }));
  // Another mode only through IDLE.
  EXPECT_FALSE(Vyr(8, {5})->success);
  EXPECT_TRUE(Vyr(8, {1})->success);
  EXPECT_TRUE(Vyr(8, {5})->success);
  EXPECT_TRUE(Eventually([&] { return states.get()->mode == 5; }));
  const auto mode = Vyr(7);
  EXPECT_EQ(mode->int_container, std::vector<std::int32_t>{5});
}

TEST_F(SimProtocolTest, ServoOnMakesTheRobotReadyAfterTheBrakesRelease) {
  auto& host = Host();
  EXPECT_EQ(host.robot().safety_state(), safety::kCat1Stop);
  ASSERT_TRUE(Vyr(1)->success);
  EXPECT_EQ(host.robot().safety_state(), safety::kReleaseBrake);
  EXPECT_TRUE(Eventually([&] { return host.robot().safety_state() == safety::kNormal; }));
  host.robot().PressEstop(true);
  EXPECT_FALSE(Vyr(1)->success);
}

TEST_F(SimProtocolTest, StreamedPositionCommandsMoveTheJoints) {
  auto& host = Host();
  host.robot().MakeReady();
  Latest<qel_msg::AllBasicStreamData> basic(client_,
                                            "korvo/robot/" + serial_ + "/basic_stream_data");
  ASSERT_TRUE(Eventually([&] { return basic.get().has_value(); }));
  const std::vector<float> start = basic.get()->q;
  ASSERT_EQ(start.size(), 7u);
  ASSERT_TRUE(Vyr(8, {static_cast<int>(Mode::RT_JOINT_POSITION)})->success);

  zenoh::PublisherOptions rt;
  rt.priority = KORVO_PRIORITY_REAL_TIME;
  zenoh_mdw::Publisher<vyr_msg::MotionCommands> commands(client_,
                                                         "korvo/vyr/" + serial_ + "/commands", rt);
  zenoh_mdw::Publisher<zenoh_msgs::std_msg::Bool> heartbeat(
      client_, "korvo/vyr/" + serial_ + "/heartbeat", zenoh::PublisherOptions{});
  vyr_msg::MotionCommands m;
  m.joint_groups = {3};
  m.joint_commands.resize(1);
  for (const float q : start) m.joint_commands[0].q_d.push_back(q + 0.1f);
  m.joint_commands[0].dq_d.assign(7, 0.0f);
  m.joint_commands[0].ddq_d.assign(7, 0.0f);
  m.joint_commands[0].tau_d.assign(7, 0.0f);
  ASSERT_TRUE(Eventually([&] {
    ++m.stamp;
    heartbeat.Publish({});
    commands.Publish(m);
    const auto now = basic.get();
    return now && std::abs(now->q[6] - (start[6] + 0.1f)) < 1e-5f;
  }));
  EXPECT_EQ(host.robot().mode(), Mode::RT_JOINT_POSITION);
  const auto received = host.commands();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front().request.joint_commands[0].q_d, m.joint_commands[0].q_d);
  EXPECT_GT(host.robot().heartbeat_count(), 0u);
}

TEST_F(SimProtocolTest, RealtimeMotionStopsWhenTheHeartbeatStops) {
  auto& host = Host();
  host.robot().MakeReady();
  ASSERT_TRUE(Vyr(8, {static_cast<int>(Mode::RT_JOINT_TORQUE)})->success);
  // No heartbeat at all: after the grace period the robot falls back to IDLE.
  EXPECT_TRUE(Eventually([&] { return host.robot().mode() == Mode::IDLE; }));
}

struct RuleCase {
  const char* name;
  ReplyAction action;
  bool replies;  // the client gets a reply it can use
  bool success;  // ... reporting success
  bool echoes;   // ... with the request's op code
};

class SimReplyRuleTest : public SimProtocolTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(SimReplyRuleTest, AltersTheReplyOnceAsAsked) {
  auto& host = Host();
  host.SetReplyRule(Server::kVyr, 3, ReplyRule{GetParam().action, 300ms, 1});
  vyr_msg::RPCRequest version;
  version.op_code = 3;
  const auto altered = Vyr(version, 1.0);
  EXPECT_EQ(altered.has_value(), GetParam().replies);
  if (altered) {
    EXPECT_EQ(altered->success, GetParam().success);
    EXPECT_EQ(altered->op_code == 3, GetParam().echoes);
  }
  // The rule was for one request only.
  const auto next = Vyr(3);
  ASSERT_TRUE(next.has_value());
  EXPECT_TRUE(next->success);
  EXPECT_EQ(host.vyr_requests().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SimReplyRuleTest,
    ::testing::Values(RuleCase{"Refuse", ReplyAction::kRefuse, true, false, true},
                      RuleCase{"Drop", ReplyAction::kDrop, false, false, false},
                      RuleCase{"Delay", ReplyAction::kDelay, true, true, true},
                      RuleCase{"Corrupt", ReplyAction::kCorrupt, false, false, false},
                      RuleCase{"WrongOpCode", ReplyAction::kWrongOpCode, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimProtocolTest, RequestsAreReadBackAsSentInOrder) {
  auto& host = Host();
  vyr_msg::RPCRequest set;
  set.op_code = 13;
  set.string_container = {"cycle_count = 42, speed_factor = 0.75"};
  ASSERT_TRUE(Vyr(set)->success);
  ASSERT_TRUE(Vyr(12).has_value());
  ASSERT_TRUE(Qel(10, {3}).has_value());

  const auto vyr = host.vyr_requests();
  ASSERT_EQ(vyr.size(), 2u);
  EXPECT_EQ(vyr[0].request.op_code, 13);
  EXPECT_EQ(vyr[0].request.string_container, set.string_container);
  EXPECT_EQ(vyr[1].request.op_code, 12);
  const auto qel = host.qel_requests();
  ASSERT_EQ(qel.size(), 1u);
  EXPECT_EQ(qel[0].request.joint_groups, std::vector<std::uint16_t>{3});
  EXPECT_EQ(host.robot().global_variable("cycle_count"), "42");
  EXPECT_EQ(host.robot().global_variable("speed_factor"), "0.75");
  // An unknown name changes nothing.
  set.string_container = {"cycle_count = 7, no_such_variable = 1"};
  EXPECT_FALSE(Vyr(set)->success);
  EXPECT_EQ(host.robot().global_variable("cycle_count"), "42");
}

}  // namespace
}  // namespace korvo::sim
