// The middleware templates over real zenoh on loopback: a "robot" session listens, the shared
// session of the client connects to it through ZENOH_CONFIG.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "eventually.hpp"
#include "loopback.hpp"
#include "middleware/publisher.hpp"
#include "middleware/rpc_client.hpp"
#include "middleware/session.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/std_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::zenoh_mdw {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using zenoh_msgs::std_msg::Bool;
using zenoh_msgs::vyr_msg::RealtimeStates;
using zenoh_msgs::vyr_msg::RPCReply;
using zenoh_msgs::vyr_msg::RPCRequest;
using Bytes = std::vector<std::uint8_t>;
using VyrRpc = RpcClient<RPCRequest, RPCReply>;

RPCReply MakeReply(std::uint16_t op_code, std::int32_t value) {
  RPCReply reply;
  reply.op_code = op_code;
  reply.success = true;
  reply.int_container = {value};
  return reply;
}

Bytes Trailing(Bytes bytes) {
  bytes.push_back(0);
  return bytes;
}

class MiddlewareTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = test::FreeTcpPort();
    robot_ = std::make_unique<zenoh::Session>(zenoh::Config::from_str(test::ListenerConfig(port)));
    connector_ = std::make_unique<test::TempFile>(test::ConnectorConfig(port));
    env_ = std::make_unique<test::ScopedEnv>("ZENOH_CONFIG", connector_->path());
  }
  static void TearDownTestSuite() {
    env_.reset();
    connector_.reset();
    robot_.reset();
  }

  // A topic of its own for every test, so that tests never hear each other.
  std::string Topic(const std::string& suffix) const {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("korvo/test/") + info->name() + "/" + suffix;
  }

  static inline std::unique_ptr<zenoh::Session> robot_;
  static inline std::unique_ptr<test::TempFile> connector_;
  static inline std::unique_ptr<test::ScopedEnv> env_;
};

TEST_F(MiddlewareTest, ClientsShareOneSessionUntilTheLastIsGone) {
  auto first = GetSharedSession();
  auto second = GetSharedSession();
  EXPECT_EQ(first.get(), second.get());
  std::weak_ptr<zenoh::Session> old = first;
  first.reset();
  EXPECT_FALSE(old.expired());
  second.reset();
  EXPECT_TRUE(old.expired());

  // A fresh session after both are gone, and it works.
  auto third = GetSharedSession();
  ASSERT_NE(third, nullptr);
  std::atomic<int> received{0};
  auto sub = robot_->declare_subscriber(
      zenoh::KeyExpr(Topic("hb")), [&](const zenoh::Sample&) { ++received; }, [] {});
  Publisher<Bool> heartbeat(third, Topic("hb"), zenoh::PublisherOptions{});
  EXPECT_TRUE(Eventually([&] { return heartbeat.Publish(Bool{}) && received > 0; }));
}

TEST_F(MiddlewareTest, PublisherPutsSerializedMessagesAndReportsFailedPuts) {
  std::mutex mutex;
  std::vector<Bytes> payloads;
  std::string encoding;
  auto sub = robot_->declare_subscriber(
      zenoh::KeyExpr(Topic("hb")),
      [&](const zenoh::Sample& sample) {
        std::lock_guard lock(mutex);
        payloads.emplace_back(sample.get_payload().begin(), sample.get_payload().end());
        encoding = sample.get_encoding();
      },
      [] {});

  auto session = GetSharedSession();
  zenoh::PublisherOptions options;
  options.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
  options.reliability = KORVO_RELIABILITY_RELIABLE;
  Publisher<Bool> publisher(session, Topic("hb"), options);
  EXPECT_EQ(publisher.topic(), Topic("hb"));
  ASSERT_TRUE(Eventually([&] {
    EXPECT_TRUE(publisher.Publish(Bool{true}));
    std::lock_guard lock(mutex);
    return !payloads.empty();
  }));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(payloads.front(), Bytes{1});
    EXPECT_EQ(encoding, "zenoh/serialized");
  }

  session->close();
  EXPECT_FALSE(publisher.Publish(Bool{}));
}

TEST_F(MiddlewareTest, DeclarationsOnABadKeyExpressionThrow) {
  auto session = GetSharedSession();
  RealtimeStates record;
  EXPECT_THROW(Publisher<Bool>(session, "korvo//bad", zenoh::PublisherOptions{}),
               zenoh::ZException);
  EXPECT_THROW(Subscriber<RealtimeStates>(
                   session, [] {}, record, "korvo//bad"),
               zenoh::ZException);
  VyrRpc rpc(session, "korvo//bad");
  RPCReply reply;
  EXPECT_FALSE(rpc.SendRequestAndGetReply(RPCRequest{}, reply, 2.0));
}

TEST_F(MiddlewareTest, MalformedSamplesLeaveTheRecordUntouchedAndDoNotNotify) {
  RealtimeStates record;
  std::mutex mutex;
  std::vector<std::uint16_t> seen_modes;
  auto session = GetSharedSession();
  Subscriber<RealtimeStates> subscriber(
      session,
      [&] {
        std::lock_guard lock(mutex);
        seen_modes.push_back(record.mode);
      },
      record, Topic("states"));
  const auto seen = [&] {
    std::lock_guard lock(mutex);
    return seen_modes;
  };

  zenoh::PublisherOptions reliable;
  reliable.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
  auto robot_pub = robot_->declare_publisher(zenoh::KeyExpr(Topic("states")), std::move(reliable));
  RealtimeStates states;
  states.mode = 1;
  ASSERT_TRUE(Eventually([&] {
    robot_pub.put(Encode(states));
    return !seen().empty();
  }));

  // Published in order on one reliable publisher: the good sample after the bad ones arrives last.
  states.mode = 9;
  robot_pub.put(Trailing(Encode(states)));  // one byte too many
  robot_pub.put(Bytes{1, 2, 3});            // cut short
  robot_pub.put(Bytes{});                   // empty
  states.mode = 5;
  robot_pub.put(Encode(states));
  ASSERT_TRUE(Eventually([&] { return seen().back() == 5; }));
  for (const auto mode : seen()) EXPECT_NE(mode, 9);
  EXPECT_EQ(record.mode, 5);
}

TEST_F(MiddlewareTest, SamplesOfTwoPeersLandWholeOneAtATime) {
  // Two peers publish on one key over links of their own, so zenoh may deliver their samples
  // concurrently. Each peer's messages are consistent in themselves (as many gripper entries as
  // the mode, each that wide); a record written by two calls at once would not be.
  const int port = test::FreeTcpPort();
  auto hub = std::make_shared<zenoh::Session>(zenoh::Config::from_str(test::ListenerConfig(port)));
  RealtimeStates record;
  std::mutex mutex;
  std::set<std::uint16_t> modes;
  int whole = 0, torn = 0;
  Subscriber<RealtimeStates> subscriber(
      hub,
      [&] {
        // A slow owner: a sample that landed while it reads would leave a record of two peers.
        const auto mode = record.mode;
        std::this_thread::sleep_for(200us);
        const bool consistent =
            record.mode == mode && record.gripper_states.size() == mode &&
            std::all_of(record.gripper_states.begin(), record.gripper_states.end(),
                        [&](const auto& g) { return g.width == static_cast<float>(mode); });
        std::lock_guard lock(mutex);
        ++(consistent ? whole : torn);
        modes.insert(record.mode);
      },
      record, Topic("states"));

  std::atomic<bool> stop{false};
  std::vector<std::thread> peers;
  for (const std::uint16_t mode : {3, 40}) {
    peers.emplace_back([&, mode] {
      zenoh::Session peer(zenoh::Config::from_str(test::ConnectorConfig(port)));
      zenoh::PublisherOptions reliable;
      reliable.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
      auto publisher = peer.declare_publisher(zenoh::KeyExpr(Topic("states")), std::move(reliable));
      RealtimeStates states;
      states.mode = mode;
      states.gripper_states.resize(mode, {static_cast<float>(mode), 1.0f, false});
      const auto payload = Encode(states);
      while (!stop) {
        publisher.put(payload);
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  const bool both = Eventually([&] {
    std::lock_guard lock(mutex);
    return modes.size() == 2 && whole >= 100;
  });
  stop = true;
  for (auto& peer : peers) peer.join();

  EXPECT_TRUE(both);
  std::lock_guard lock(mutex);
  EXPECT_EQ(modes, (std::set<std::uint16_t>{3, 40}));
  EXPECT_EQ(torn, 0);
}

// A queryable on the robot's session whose queries a test answers, now or later.
class FakeServer {
 public:
  using Handler = std::function<void(zenoh::Query&)>;

  FakeServer(zenoh::Session& session, const std::string& topic, Handler handler)
      : handler_(std::move(handler)),
        queryable_(session.declare_queryable(
            zenoh::KeyExpr(topic), [this](zenoh::Query& query) { handler_(query); }, [] {})) {}

  static void ReplyWith(const zenoh::Query& query, const Bytes& payload) {
    zenoh::ReplyOptions options;
    options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
    query.reply(payload, std::move(options));
  }

 private:
  Handler handler_;
  zenoh::Queryable<void> queryable_;
};

// Waits until a remote queryable is known to the client's session.
void WaitForServer(VyrRpc& rpc) {
  RPCReply reply;
  ASSERT_TRUE(Eventually([&] { return rpc.SendRequestAndGetReply(RPCRequest{}, reply, 2.0); }));
}

TEST_F(MiddlewareTest, RpcReturnsTheGoodReplyAndIgnoresErrorAndMalformedOnes) {
  std::atomic<int> mode{0};
  FakeServer server(*robot_, Topic("rpc"), [&](zenoh::Query& query) {
    const auto request = Decode<RPCRequest>(*query.get_payload());
    switch (mode.load()) {
      case 0:
        FakeServer::ReplyWith(query, Encode(MakeReply(request.op_code, 0)));
        break;
      case 1:  // an error, then the answer
        query.reply_err(Bytes{'n', 'o'});
        FakeServer::ReplyWith(query, Encode(MakeReply(request.op_code, 42)));
        break;
      case 2:  // only an error
        query.reply_err(Bytes{'n', 'o'});
        break;
      case 3:  // only a reply with a trailing byte
        FakeServer::ReplyWith(query, Trailing(Encode(MakeReply(request.op_code, 7))));
        break;
    }
  });
  VyrRpc rpc(GetSharedSession(), Topic("rpc"));
  WaitForServer(rpc);

  RPCRequest request;
  request.op_code = 11;
  RPCReply reply;
  mode = 1;
  ASSERT_TRUE(rpc.SendRequestAndGetReply(request, reply, 2.0));
  EXPECT_EQ(reply.op_code, 11);
  EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{42});

  // Without a good reply the call ends when zenoh finishes the query, long before the time-out,
  // and leaves the reply untouched.
  for (const int bad : {2, 3}) {
    mode = bad;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(rpc.SendRequestAndGetReply(request, reply, 30.0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{42});
  }
}

TEST_F(MiddlewareTest, RpcWithNoServerReturnsFalse) {
  VyrRpc rpc(GetSharedSession(), Topic("nobody"));
  RPCReply reply;
  reply.op_code = 99;
  EXPECT_FALSE(rpc.SendRequestAndGetReply(RPCRequest{}, reply, 0.5));
  EXPECT_EQ(reply.op_code, 99);
}

TEST_F(MiddlewareTest, LateReplyDoesNotDisturbTheNextCall) {
  std::mutex mutex;
  std::vector<zenoh::Query> held;
  std::atomic<bool> hold{false};
  FakeServer server(*robot_, Topic("rpc"), [&](zenoh::Query& query) {
    if (hold) {
      std::lock_guard lock(mutex);
      held.push_back(std::move(query));
      return;
    }
    FakeServer::ReplyWith(query, Encode(MakeReply(2, 222)));
  });
  VyrRpc rpc(GetSharedSession(), Topic("rpc"));
  WaitForServer(rpc);

  hold = true;
  RPCReply reply;
  EXPECT_FALSE(rpc.SendRequestAndGetReply(RPCRequest{}, reply, 0.3));
  hold = false;
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(held.size(), 1u);
    FakeServer::ReplyWith(held.front(), Encode(MakeReply(1, 111)));
    held.clear();
  }
  ASSERT_TRUE(rpc.SendRequestAndGetReply(RPCRequest{}, reply, 2.0));
  EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{222});
}

TEST_F(MiddlewareTest, ConcurrentCallsOnOneClientTakeTurns) {
  // The server answers each query from a thread of its own after a pause, and records how many
  // queries were open at once.
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<zenoh::Query> pending;
  int open = 0, most_open = 0;
  bool stop = false;
  FakeServer server(*robot_, Topic("rpc"), [&](zenoh::Query& query) {
    std::lock_guard lock(mutex);
    most_open = std::max(most_open, ++open);
    pending.push_back(std::move(query));
    cv.notify_all();
  });
  std::thread replier([&] {
    while (true) {
      std::optional<zenoh::Query> query;
      {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return stop || !pending.empty(); });
        if (stop) return;
        query.emplace(std::move(pending.front()));
        pending.erase(pending.begin());
      }
      std::this_thread::sleep_for(50ms);
      const auto request = Decode<RPCRequest>(*query->get_payload());
      FakeServer::ReplyWith(*query, Encode(MakeReply(request.op_code, request.op_code)));
      {
        std::lock_guard lock(mutex);
        --open;
      }
      query.reset();  // finishes the query
    }
  });

  VyrRpc rpc(GetSharedSession(), Topic("rpc"));
  WaitForServer(rpc);
  {
    std::lock_guard lock(mutex);
    most_open = 0;
  }
  std::vector<std::thread> callers;
  std::vector<int> results(4, -1);
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&, i] {
      RPCRequest request;
      request.op_code = static_cast<std::uint16_t>(100 + i);
      RPCReply reply;
      if (rpc.SendRequestAndGetReply(request, reply, 5.0)) results[i] = reply.int_container.at(0);
    });
  }
  for (auto& t : callers) t.join();
  {
    std::lock_guard lock(mutex);
    stop = true;
    cv.notify_all();
  }
  replier.join();

  for (int i = 0; i < 4; ++i) EXPECT_EQ(results[i], 100 + i);
  EXPECT_EQ(most_open, 1);
}

}  // namespace
}  // namespace korvo::zenoh_mdw
