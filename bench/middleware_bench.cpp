// Costs of the communication core: encoding and decoding the largest messages, one publication,
// and one RPC round trip over loopback, each also done through the bare bridge with the same
// bytes so that the overhead of our layer shows as a ratio.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "loopback.hpp"
#include "middleware/publisher.hpp"
#include "middleware/rpc_client.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace {

using korvo::zenoh_mdw::Decode;
using korvo::zenoh_mdw::Encode;
namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
namespace qel_msg = korvo::zenoh_msgs::qel_msg;
using Bytes = std::vector<std::uint8_t>;

// A two-arm joint torque command, as a 1 kHz loop sends it.
vyr_msg::MotionCommands TwoArmTorque() {
  vyr_msg::MotionCommands m;
  m.stamp = 123456;
  m.joint_groups = {3, 4};
  for (int arm = 0; arm < 2; ++arm) {
    vyr_msg::JointCommand c;
    c.tau_d = {0.1f, -2.5f, 3.0f, 0.25f, -1.0f, 0.5f, 0.05f};
    c.friction_comp_scale = 100.0f;
    m.joint_commands.push_back(c);
  }
  return m;
}

// A basic stream sample of a 14-joint robot with two arms.
qel_msg::AllBasicStreamData FourteenJointStream() {
  qel_msg::AllBasicStreamData d;
  d.system_state = 5;
  d.safety_state = 12;
  d.estop_released = true;
  d.joint_groups = {3, 4};
  for (auto* v : {&d.q, &d.theta, &d.dq, &d.dtheta, &d.tau, &d.tau_dot, &d.tau_ext, &d.tau_interact,
                  &d.temperature}) {
    v->assign(14, 0.123f);
  }
  d.multi_contact_forces.assign(14, {1.0f, 2.0f, 3.0f});
  d.multi_contact_positions.assign(14, {0.1f, 0.2f, 0.3f});
  d.cartesian_data.resize(2);
  d.timestamp_sec = 1765000000;
  return d;
}

void BM_EncodeMotionCommandsTwoArms(benchmark::State& state) {
  const auto m = TwoArmTorque();
  for (auto _ : state) benchmark::DoNotOptimize(Encode(m));
}
BENCHMARK(BM_EncodeMotionCommandsTwoArms);

void BM_DecodeMotionCommandsTwoArms(benchmark::State& state) {
  const Bytes bytes = Encode(TwoArmTorque());
  for (auto _ : state) benchmark::DoNotOptimize(Decode<vyr_msg::MotionCommands>(bytes));
}
BENCHMARK(BM_DecodeMotionCommandsTwoArms);

void BM_EncodeBasicStream14(benchmark::State& state) {
  const auto d = FourteenJointStream();
  for (auto _ : state) benchmark::DoNotOptimize(Encode(d));
}
BENCHMARK(BM_EncodeBasicStream14);

void BM_DecodeBasicStream14(benchmark::State& state) {
  const Bytes bytes = Encode(FourteenJointStream());
  state.counters["bytes"] = static_cast<double>(bytes.size());
  for (auto _ : state) benchmark::DoNotOptimize(Decode<qel_msg::AllBasicStreamData>(bytes));
}
BENCHMARK(BM_DecodeBasicStream14);

// ---- over loopback -----------------------------------------------------------------------------

// A robot-side session that listens, and a client session connected to it.
struct Link {
  std::shared_ptr<zenoh::Session> robot;
  std::shared_ptr<zenoh::Session> client;
};
std::optional<Link> g_link;

const std::string kCommands = "korvo/vyr/bench/commands";
const std::string kRpc = "korvo/vyr/bench/rpc";

zenoh::PublisherOptions MotionCommandOptions() {
  zenoh::PublisherOptions options;
  options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  options.priority = KORVO_PRIORITY_REAL_TIME;
  options.reliability = KORVO_RELIABILITY_BEST_EFFORT;
  options.is_express = false;
  return options;
}

void BM_PublishOurs(benchmark::State& state) {
  korvo::zenoh_mdw::Publisher<vyr_msg::MotionCommands> publisher(g_link->client, kCommands,
                                                                 MotionCommandOptions());
  const auto m = TwoArmTorque();
  for (auto _ : state) {
    if (!publisher.Publish(m)) state.SkipWithError("put failed");
  }
}
BENCHMARK(BM_PublishOurs);

void BM_PublishBareBridge(benchmark::State& state) {
  ::korvo_keyexpr_t* key = nullptr;
  ::korvo_keyexpr_from_substr_autocanonize(&key, kCommands.data(), kCommands.size());
  const auto options = MotionCommandOptions();
  ::korvo_publisher_options_t c_options;
  ::korvo_publisher_options_default(&c_options);
  c_options.congestion_control = options.congestion_control;
  c_options.priority = options.priority;
  c_options.reliability = options.reliability;
  c_options.is_express = options.is_express;
  ::korvo_publisher_t* publisher = nullptr;
  if (::korvo_declare_publisher(g_link->client->c_handle(), &publisher, key, &c_options) != 0) {
    state.SkipWithError("declare failed");
  }
  const Bytes bytes = Encode(TwoArmTorque());
  for (auto _ : state) {
    if (::korvo_publisher_put(publisher, bytes.data(), bytes.size(), "zenoh/serialized") != 0) {
      state.SkipWithError("put failed");
    }
  }
  ::korvo_publisher_drop(publisher);
  ::korvo_keyexpr_drop(key);
}
BENCHMARK(BM_PublishBareBridge);

void BM_RpcRoundTripOurs(benchmark::State& state) {
  korvo::zenoh_mdw::RpcClient<vyr_msg::RPCRequest, vyr_msg::RPCReply> rpc(g_link->client, kRpc);
  vyr_msg::RPCRequest request;
  request.op_code = 7;
  vyr_msg::RPCReply reply;
  for (auto _ : state) {
    if (!rpc.SendRequestAndGetReply(request, reply, 2.0)) state.SkipWithError("no reply");
  }
}
BENCHMARK(BM_RpcRoundTripOurs)->UseRealTime();

// Waits for the end of one bare query and keeps its first good payload.
struct BareQuery {
  std::mutex mutex;
  std::condition_variable cv;
  Bytes payload;
  bool done = false;
};

void BM_RpcRoundTripBareBridge(benchmark::State& state) {
  ::korvo_keyexpr_t* key = nullptr;
  ::korvo_keyexpr_from_substr_autocanonize(&key, kRpc.data(), kRpc.size());
  vyr_msg::RPCRequest request;
  request.op_code = 7;
  const Bytes bytes = Encode(request);
  for (auto _ : state) {
    auto query = std::make_unique<BareQuery>();
    ::korvo_get_options_t options;
    ::korvo_get_options_default(&options);
    options.timeout_ms = 2000;
    options.payload = bytes.data();
    options.payload_len = bytes.size();
    options.encoding = "zenoh/serialized";
    ::korvo_closure_reply_t closure{query.get(),
                                    [](const ::korvo_reply_view_t* reply, void* context) {
                                      auto* q = static_cast<BareQuery*>(context);
                                      std::lock_guard lock(q->mutex);
                                      if (reply->is_ok && q->payload.empty()) {
                                        q->payload.assign(reply->payload,
                                                          reply->payload + reply->payload_len);
                                      }
                                    },
                                    [](void* context) {
                                      auto* q = static_cast<BareQuery*>(context);
                                      std::lock_guard lock(q->mutex);
                                      q->done = true;
                                      q->cv.notify_all();
                                    }};
    // The waiter owns the state here; the drop only signals, so free it after the wait.
    if (::korvo_get(g_link->client->c_handle(), key, "", 0, closure, &options) != 0) {
      state.SkipWithError("get failed");
    }
    {
      std::unique_lock lock(query->mutex);
      query->cv.wait(lock, [&] { return query->done; });
    }
    if (query->payload.empty()) state.SkipWithError("no reply");
  }
  ::korvo_keyexpr_drop(key);
}
BENCHMARK(BM_RpcRoundTripBareBridge)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const int port = korvo::test::FreeTcpPort();
  g_link.emplace();
  g_link->robot =
      std::make_shared<zenoh::Session>(zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  g_link->client =
      std::make_shared<zenoh::Session>(zenoh::Config::from_str(korvo::test::ConnectorConfig(port)));
  {
    // The robot side: a subscriber that drops the commands and a queryable that answers every
    // request with the same reply.
    auto sink = g_link->robot->declare_subscriber(
        zenoh::KeyExpr(kCommands), [](const zenoh::Sample&) {}, [] {});
    vyr_msg::RPCReply reply;
    reply.op_code = 7;
    reply.success = true;
    reply.int_container = {1};
    const Bytes reply_bytes = Encode(reply);
    auto server = g_link->robot->declare_queryable(
        zenoh::KeyExpr(kRpc),
        [&reply_bytes](zenoh::Query& query) {
          zenoh::ReplyOptions options;
          options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
          query.reply(reply_bytes, std::move(options));
        },
        [] {});
    // Until the client knows the queryable, queries finish without a reply.
    korvo::zenoh_mdw::RpcClient<vyr_msg::RPCRequest, vyr_msg::RPCReply> probe(g_link->client, kRpc);
    vyr_msg::RPCReply ignored;
    for (int i = 0; i < 1000 && !probe.SendRequestAndGetReply({}, ignored, 2.0); ++i) {
    }
    benchmark::RunSpecifiedBenchmarks();
  }
  g_link.reset();
  benchmark::Shutdown();
  return 0;
}
