// Latency from the user's call to the robot's receipt, with korvo-sim in a process of its own:
// the streaming call (StreamJointTorque, two arms) against a bare put of the same bytes through
// the bridge on the same session, each at 1 kHz on absolute deadlines; and a request's round
// trip (plan_list()) against a bare query of the same size. Both processes read CLOCK_REALTIME,
// one clock on this machine. Reports p50, p99, p99.9 and the maximum, the samples lost, and the
// gaps of more than 3 ms between arrivals (late commands, as the robot counts them); for our
// commands also as zenoh hands them to a callback in the robot's process, which tells the
// transport from the simulator's own handling.
//
//   latency_bench [SECONDS] [--realtime client|robot|both] [--router]
//       SECONDS: each streaming phase (default 60). --realtime: the sender's process, the
//       robot's or both run as examples/cpp/realtime.hpp has it (memory locked, SCHED_FIFO
//       for every thread, zenoh's included, as they inherit it from the thread that opens the
//       session). --router: both sides in client mode meet through a zenoh router in a third
//       process (a session in router mode, as zenohd runs it), as in examples/router; with
//       --realtime both, the router runs under the recipe too.
//   latency_bench --robot PORT FILE [--rt] [--via-router]  (the robot's side)
//   latency_bench --zenoh-router PORT [--rt]               (the router)
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../examples/cpp/realtime.hpp"
#include "child_process.hpp"
#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "middleware/serialization.hpp"
#include "middleware/session.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/simulator.hpp"
#include "stall_probe.hpp"

namespace {

namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
using korvo::vyr::JointGroup;
using korvo::vyr::RtJointTorqueCmd;
using Bytes = std::vector<std::uint8_t>;

constexpr char kSerial[] = "Olvar-LL-000001";
constexpr char kBareKey[] = "korvo/bench/bare";
constexpr char kBareRpcKey[] = "korvo/bench/bare_rpc";
constexpr std::int64_t kLateNs = 3'000'000;
constexpr int kRoundTrips = 2000;

std::int64_t RealtimeNs() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The two-arm torque command whose first torque carries the sequence number.
vyr_msg::MotionCommands Numbered(int seq) {
  vyr_msg::MotionCommands m;
  m.joint_groups = {3, 4};
  for (int arm = 0; arm < 2; ++arm) {
    vyr_msg::JointCommand c;
    c.tau_d.assign(7, 0.0f);
    c.friction_comp_scale = 100.0f;
    m.joint_commands.push_back(c);
  }
  m.joint_commands[0].tau_d[0] = static_cast<float>(seq);
  return m;
}

// ---- the robot's side and the router ------------------------------------------------------------

// A zenoh router listening on 127.0.0.1:`port`, and a session in client mode that connects to it:
// the fleet topology of examples/router, on loopback.
std::string RouterConfig(int port) {
  return R"({ mode: "router", listen: { endpoints: [")" + korvo::test::LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false }, gossip: { enabled: false } } })";
}
std::string ClientModeConfig(int port) {
  return R"({ mode: "client", connect: { endpoints: [")" + korvo::test::LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false } } })";
}

// Waits until something listens on 127.0.0.1:`port` (a client-mode session does not wait for
// its router), at most five seconds.
void WaitForListener(int port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (up) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A session in router mode until SIGINT.
int RunRouter(int port, bool realtime) {
  if (realtime) korvo::examples::PrepareRealtime(80);
  const sigset_t interrupt = korvo::bench::BlockInterrupt();
  const zenoh::Session router(zenoh::Config::from_str(RouterConfig(port)));
  int signal = 0;
  sigwait(&interrupt, &signal);
  return 0;
}

// Hosts the robot and the bare endpoints until SIGINT, then writes what arrived to `path`:
// "robot T SEQ" per command the robot received, "bare T SEQ" per bare sample, and the robot's
// own count of late commands.
int RunRobot(int port, const std::string& path, bool realtime, bool via_router) {
  if (realtime) korvo::examples::PrepareRealtime(80);
  const sigset_t interrupt = korvo::bench::BlockInterrupt();

  korvo::sim::Simulator simulator(zenoh::Config::from_str(
      via_router ? ClientModeConfig(port) : korvo::test::ListenerConfig(port)));
  auto& host = simulator.AddRobot(korvo::vyr::ProductModel::Olvar_LL, kSerial);
  host.robot().MakeReady();

  // What arrives on a key, timed as zenoh hands it over: the bare samples, and the robot's own
  // commands as they reach zenoh's callback (before the simulator's handler takes them).
  std::mutex mutex;
  std::vector<std::pair<std::int64_t, Bytes>> bare, wire;
  bare.reserve(1 << 18);
  wire.reserve(1 << 18);
  const auto record_into = [&](std::vector<std::pair<std::int64_t, Bytes>>& into) {
    return [&](const zenoh::Sample& sample) {
      const std::int64_t now = RealtimeNs();
      const auto payload = sample.get_payload();
      std::lock_guard lock(mutex);
      into.emplace_back(now, Bytes(payload.begin(), payload.end()));
    };
  };
  auto bare_subscriber = simulator.session()->declare_subscriber(
      zenoh::KeyExpr(kBareKey), record_into(bare), zenoh::closures::none);
  auto wire_subscriber = simulator.session()->declare_subscriber(
      zenoh::KeyExpr(std::string("korvo/vyr/") + kSerial + "/commands"), record_into(wire),
      zenoh::closures::none);
  vyr_msg::RPCReply reply;
  reply.success = true;
  reply.string_container = {"plan_a", "plan_b", "plan_c"};
  const Bytes reply_bytes = korvo::zenoh_mdw::Encode(reply);
  auto queryable = simulator.session()->declare_queryable(
      zenoh::KeyExpr(kBareRpcKey), [&](zenoh::Query& query) { query.reply(reply_bytes); },
      zenoh::closures::none);

  int signal = 0;
  sigwait(&interrupt, &signal);
  std::ofstream out(path);
  for (const auto& record : host.commands()) {
    const auto t =
        std::chrono::duration_cast<std::chrono::nanoseconds>(record.time.time_since_epoch())
            .count();
    const auto& c = record.request.joint_commands;
    if (!c.empty() && !c[0].tau_d.empty()) {
      out << "robot " << t << ' ' << static_cast<long>(c[0].tau_d[0]) << '\n';
    }
  }
  std::lock_guard lock(mutex);
  for (const auto& [kind, records] : {std::pair{"bare", &bare}, std::pair{"wire", &wire}}) {
    for (const auto& [t, bytes] : *records) {
      const auto m = korvo::zenoh_mdw::Decode<vyr_msg::MotionCommands>(bytes);
      if (m.joint_commands.empty() || m.joint_commands[0].tau_d.empty()) continue;
      out << kind << ' ' << t << ' ' << static_cast<long>(m.joint_commands[0].tau_d[0]) << '\n';
    }
  }
  out << "late " << host.robot().timeliness_failure_count() << '\n';
  return 0;
}

// ---- the client's side --------------------------------------------------------------------------

std::int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The sender's side of a phase: how late each wake-up came after its deadline, and how long
// each call took.
struct SenderTimes {
  std::vector<double> wake_late_us;
  std::vector<double> call_us;
};

// Calls `send(seq)` at 1 kHz on absolute deadlines for `seconds`; returns each call's time.
template <class Send>
std::vector<std::int64_t> Stream(double seconds, SenderTimes& times, Send&& send) {
  const int cycles = static_cast<int>(seconds * 1000.0);
  std::vector<std::int64_t> sent(cycles);
  times.wake_late_us.reserve(cycles);
  times.call_us.reserve(cycles);
  std::int64_t deadline = MonotonicNs();
  for (int seq = 0; seq < cycles; ++seq) {
    const std::int64_t before = MonotonicNs();
    if (seq > 0) times.wake_late_us.push_back(static_cast<double>(before - deadline) / 1000.0);
    sent[seq] = RealtimeNs();
    send(seq);
    times.call_us.push_back(static_cast<double>(MonotonicNs() - before) / 1000.0);
    deadline += 1'000'000;
    const timespec next{static_cast<time_t>(deadline / 1'000'000'000),
                        static_cast<long>(deadline % 1'000'000'000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  return sent;
}

struct Percentiles {
  double p50 = 0, p99 = 0, p999 = 0, max = 0;  // microseconds
};

Percentiles Of(std::vector<double> us) {
  Percentiles p;
  if (us.empty()) return p;
  std::sort(us.begin(), us.end());
  const auto at = [&](double q) {
    return us[std::min(us.size() - 1,
                       static_cast<std::size_t>(q * static_cast<double>(us.size())))];
  };
  p.p50 = at(0.50);
  p.p99 = at(0.99);
  p.p999 = at(0.999);
  p.max = us.back();
  return p;
}

struct Phase {
  std::vector<std::int64_t> sent;                      // per sequence number
  std::vector<std::pair<std::int64_t, long>> arrived;  // time, sequence number
};

// The robot keeps the newest commands within a byte budget (about 40 s of two-arm commands):
// what was lost counts within the span of sequence numbers that arrived.
void Report(const char* what, const Phase& phase,
            const std::vector<korvo::bench::StallProbe::Stall>& stalls) {
  std::vector<double> us;
  long late = 0, first = -1, last = -1;
  std::int64_t previous = 0;
  std::string gaps;  // where the late gaps fell: "sequence number:gap in ms"
  long stalled = 0;  // late gaps during which the machine itself stalled
  for (const auto& [t, seq] : phase.arrived) {
    if (seq < 0 || seq >= static_cast<long>(phase.sent.size())) continue;
    us.push_back(static_cast<double>(t - phase.sent[seq]) / 1000.0);
    if (previous != 0 && t - previous > kLateNs) {
      ++late;
      char gap[48];
      std::snprintf(gap, sizeof gap, " %ld:%.1f", seq, static_cast<double>(t - previous) / 1e6);
      gaps += gap;
      if (korvo::bench::DuringStall(stalls, previous, t)) ++stalled;
    }
    previous = t;
    first = first < 0 ? seq : std::min(first, seq);
    last = std::max(last, seq);
  }
  const auto p = Of(us);
  const long span = last - first + 1;
  std::printf("%-30s %9.1f %9.1f %9.1f %9.1f %7ld %5ld %6.1f\n", what, p.p50, p.p99, p.p999, p.max,
              span - static_cast<long>(us.size()), late, static_cast<double>(span) / 1000.0);
  if (!gaps.empty()) {
    std::printf(
        "%30s late gaps at (sequence number:ms)%s; %ld of them while the machine "
        "stalled for more than 1 ms\n",
        "", gaps.c_str(), stalled);
  }
}

// `first_seq`: the sequence number of the first value, to say where the maximum fell.
void ReportPercentiles(const char* what, const std::vector<double>& us, long first_seq = -1) {
  const auto p = Of(us);
  std::printf("%-30s %9.1f %9.1f %9.1f %9.1f", what, p.p50, p.p99, p.p999, p.max);
  if (first_seq >= 0 && !us.empty()) {
    std::printf("  (max at %ld)",
                first_seq + static_cast<long>(std::max_element(us.begin(), us.end()) - us.begin()));
  }
  std::printf("\n");
}

// One bare query of `request`, waited for; its round trip in microseconds (negative: no reply).
double BareRoundTrip(const zenoh::Session& session, const Bytes& request) {
  bool replied = false;
  const auto start = std::chrono::steady_clock::now();
  zenoh::GetOptions options;
  options.payload = request;
  options.timeout_ms = 2000;
  korvo::bench::GetAndWait(
      session, zenoh::KeyExpr(kBareRpcKey), "",
      [&](const zenoh::Reply& reply) { replied = replied || reply.is_ok(); }, std::move(options));
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return replied ? spent.count() : -1.0;
}

struct Options {
  double seconds = 60.0;
  bool realtime_client = false;
  bool realtime_robot = false;
  bool router = false;
};

int RunClient(const Options& options) {
  const double seconds = options.seconds;
  const int port = korvo::test::FreeTcpPort();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("korvo-latency-" + std::to_string(port) + ".txt");
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  Phase ours, wire, bare;
  // The machine's own stalls, seen by a probe on each core for the whole run.
  const auto probes = korvo::bench::ProbeEveryCore();
  SenderTimes ours_sender, bare_sender;
  std::vector<double> ours_rtt, bare_rtt;
  long robot_late = -1;
  {
    std::vector<std::string> router_command{self, "--zenoh-router", std::to_string(port)};
    std::vector<std::string> robot_command{self, "--robot", std::to_string(port), file.string()};
    if (options.realtime_robot) robot_command.emplace_back("--rt");
    if (options.realtime_robot && options.realtime_client) router_command.emplace_back("--rt");
    if (options.router) robot_command.emplace_back("--via-router");
    std::optional<korvo::bench::ChildProcess> router;
    if (options.router) {
      router.emplace(router_command);
      WaitForListener(port);
    }
    korvo::bench::ChildProcess robot_side(robot_command);
    // Before the session opens, so that zenoh's threads inherit the policy.
    if (options.realtime_client) korvo::examples::PrepareRealtime(80);
    const korvo::test::TempFile connector(options.router ? ClientModeConfig(port)
                                                         : korvo::test::ConnectorConfig(port));
    const korvo::test::ScopedEnv env("ZENOH_CONFIG", connector.path());
    std::unique_ptr<korvo::vyr::Robot> robot;
    for (int attempt = 0; !robot; ++attempt) {
      try {
        robot = std::make_unique<korvo::vyr::Robot>(kSerial, false);
      } catch (const std::exception&) {
        if (attempt == 20) throw;  // the robot's process takes a moment to listen
      }
    }
    while (!robot->operational()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    robot->SwitchMode(korvo::vyr::Mode::RT_JOINT_TORQUE);

    std::map<JointGroup, RtJointTorqueCmd> cmds;
    cmds[JointGroup::ARM_1] = RtJointTorqueCmd(std::vector<double>(7, 0.0));
    cmds[JointGroup::ARM_2] = RtJointTorqueCmd(std::vector<double>(7, 0.0));
    ours.sent = Stream(seconds, ours_sender, [&](int seq) {
      cmds[JointGroup::ARM_1].tau_d[0] = seq;
      robot->StreamJointTorque(cmds);
    });
    robot->Stop();

    // The bare side: the library's own session, the bridge's publisher with the options of the
    // motion commands, the same bytes.
    const auto session = korvo::zenoh_mdw::GetSharedSession();
    zenoh::PublisherOptions options;
    options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
    options.priority = KORVO_PRIORITY_REAL_TIME;
    options.reliability = KORVO_RELIABILITY_BEST_EFFORT;
    options.is_express = false;
    auto publisher = session->declare_publisher(zenoh::KeyExpr(kBareKey), std::move(options));
    const zenoh::Encoding encoding("zenoh/serialized");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the subscriber is matched
    bare.sent = Stream(seconds, bare_sender, [&](int seq) {
      const Bytes bytes = korvo::zenoh_mdw::Encode(Numbered(seq));
      publisher.put(bytes, encoding);
    });

    vyr_msg::RPCRequest request;
    request.op_code = 7;
    const Bytes request_bytes = korvo::zenoh_mdw::Encode(request);
    for (int i = 0; i < kRoundTrips; ++i) {
      const auto start = std::chrono::steady_clock::now();
      (void)robot->plan_list();
      const std::chrono::duration<double, std::micro> spent =
          std::chrono::steady_clock::now() - start;
      ours_rtt.push_back(spent.count());
      const double bare_us = BareRoundTrip(*session, request_bytes);
      if (bare_us >= 0) bare_rtt.push_back(bare_us);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last samples land
  }  // the robot's side writes its file when interrupted
  std::vector<korvo::bench::StallProbe::Stall> stalls;
  long machine_stalls = 0;
  for (auto& probe : probes) {
    for (const auto& stall : probe->Stop()) {
      stalls.push_back(stall);
      if (stall.late_ns > kLateNs - 1'000'000) ++machine_stalls;
    }
  }

  std::ifstream in(file);
  for (std::string kind; in >> kind;) {
    if (kind == "late") {
      in >> robot_late;
      continue;
    }
    std::int64_t t = 0;
    long seq = 0;
    in >> t >> seq;
    (kind == "robot" ? ours : kind == "wire" ? wire : bare).arrived.emplace_back(t, seq);
  }
  std::filesystem::remove(file);

  std::printf("1 kHz for %.0f s per phase; korvo-sim in another process; microseconds\n", seconds);
  std::printf("%-30s %9s %9s %9s %9s %7s %5s %6s\n", "call to receipt", "p50", "p99", "p99.9",
              "max", "lost", "late", "over s");
  wire.sent = ours.sent;
  Report("StreamJointTorque (two arms)", ours, stalls);
  Report("  the same, at zenoh's callback", wire, stalls);
  Report("bare put, same bytes", bare, stalls);
  std::printf("the robot counted %ld late commands in the whole first phase\n", robot_late);
  std::printf(
      "the machine itself stalled %ld times for more than 2 ms, enough for a 3 ms gap (a "
      "probe per core)\n",
      machine_stalls);
  std::printf("%-30s %9s %9s %9s %9s\n", "the sender's side", "p50", "p99", "p99.9", "max");
  ReportPercentiles("wake-up after deadline, ours", ours_sender.wake_late_us, 1);
  ReportPercentiles("wake-up after deadline, bare", bare_sender.wake_late_us, 1);
  ReportPercentiles("StreamJointTorque call", ours_sender.call_us, 0);
  ReportPercentiles("bare put call", bare_sender.call_us, 0);
  std::printf("%-30s %9s %9s %9s %9s   (%d each)\n", "round trip", "p50", "p99", "p99.9", "max",
              kRoundTrips);
  ReportPercentiles("plan_list()", ours_rtt);
  ReportPercentiles("bare query, same request", bare_rtt);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto flag = [&](const char* name) { return korvo::bench::HasFlag(argc, argv, name); };
  if (argc >= 4 && std::strcmp(argv[1], "--robot") == 0) {
    return RunRobot(std::atoi(argv[2]), argv[3], flag("--rt"), flag("--via-router"));
  }
  if (argc >= 3 && std::strcmp(argv[1], "--zenoh-router") == 0) {
    return RunRouter(std::atoi(argv[2]), flag("--rt"));
  }
  Options options;
  std::string realtime = "none";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--realtime") == 0 && i + 1 < argc) {
      realtime = argv[++i];
    } else if (std::strcmp(argv[i], "--router") == 0) {
      options.router = true;
    } else if (argv[i][0] == '-') {
      realtime = "?";  // an unknown flag, or --realtime without its value
    } else {
      options.seconds = std::atof(argv[i]);
    }
  }
  if (realtime != "none" && realtime != "client" && realtime != "robot" && realtime != "both") {
    std::fprintf(stderr,
                 "usage: latency_bench [SECONDS] [--realtime client|robot|both] [--router]\n");
    return 2;
  }
  options.realtime_client = realtime == "client" || realtime == "both";
  options.realtime_robot = realtime == "robot" || realtime == "both";
  std::printf("real-time recipe: %s; link: %s\n", realtime.c_str(),
              options.router ? "through a zenoh router (clients in client mode)" : "peer to peer");
  return RunClient(options);
}
