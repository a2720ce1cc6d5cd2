// Many robots per client process: one client process streams joint torques at 1 kHz to each of
// 1, 2, 4 and 8 two-arm robots, hosted together by one simulator process (the physical twin, as
// korvo-sim runs them). One loop thread serves every robot each millisecond: it reads the
// robot's states, computes a damping torque and streams it. Reports per robot: both processes'
// CPU, the commands the robot saw late, the states the client received per second and the
// commands the robot received per second; the loop's longest cycle; and the machine's own stalls
// of more than 2 ms (bench/stall_probe.hpp), each of which leaves every robot a late command.
//
//   scale_bench [SECONDS] [--realtime] [--kinematic]
//       each count of robots for SECONDS (default 30); --realtime: both processes as
//       examples/cpp/realtime.hpp has it; --kinematic: the robots without their physics
//   scale_bench --client N SECONDS [--rt] [--kinematic]       (one row, in a process of its own)
//   scale_bench --robots N PORT FILE [--rt] [--kinematic]     (the simulator's side of a row)
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../examples/cpp/realtime.hpp"
#include "child_process.hpp"
#include "korvo/vyr/vyr.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "middleware/serialization.hpp"
#include "middleware/session.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/simulator.hpp"
#include "stall_probe.hpp"

namespace {

using namespace std::chrono_literals;
using korvo::vyr::JointGroup;
using korvo::vyr::Mode;

constexpr std::int64_t kLateNs = 3'000'000;

std::string Serial(int i) { return "Olvar-LL-" + std::to_string(100001 + i); }

std::int64_t RealtimeNs() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// ---- the simulator's side -----------------------------------------------------------------------

// Hosts `count` robots until SIGINT, then writes to `path` "robot N" per robot, N the commands
// it kept, and "gap T" per gap of more than 3 ms at zenoh's callback, T when it ended.
int RunRobots(int count, int port, const std::string& path, bool realtime, bool kinematic) {
  if (realtime) korvo::examples::PrepareRealtime(80);
  const sigset_t interrupt = korvo::bench::BlockInterrupt();

  korvo::sim::Simulator simulator(zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  std::vector<korvo::sim::RobotHost*> hosts;
  // Gaps of more than 3 ms between the commands zenoh hands over, before the simulator's
  // handler: when they match the robot's late commands, the simulator added none.
  std::mutex mutex;
  std::vector<std::int64_t> last(count), wire_gaps;
  std::vector<zenoh::Subscriber<void>> wire;
  for (int i = 0; i < count; ++i) {
    auto& host = simulator.AddRobot(korvo::vyr::ProductModel::Olvar_LL, Serial(i));
    host.robot().EnablePhysics(!kinematic);
    host.robot().MakeReady();
    hosts.push_back(&host);
    wire.push_back(simulator.session()->declare_subscriber(
        zenoh::KeyExpr("korvo/vyr/" + Serial(i) + "/commands"),
        [&, i](const zenoh::Sample&) {
          const std::int64_t now = RealtimeNs();
          std::lock_guard lock(mutex);
          if (last[i] != 0 && now - last[i] > kLateNs) wire_gaps.push_back(now);
          last[i] = now;
        },
        zenoh::closures::none));
  }
  int signal = 0;
  sigwait(&interrupt, &signal);
  std::ofstream out(path);
  for (int i = 0; i < count; ++i) out << "robot " << hosts[i]->commands().size() << '\n';
  std::lock_guard lock(mutex);
  for (const std::int64_t t : wire_gaps) out << "gap " << t << '\n';
  return 0;
}

// ---- the client's side --------------------------------------------------------------------------

int RunClient(int count, double seconds, bool realtime, bool kinematic) {
  const int port = korvo::test::FreeTcpPort();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("korvo-scale-" + std::to_string(port) + ".txt");
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  std::vector<std::string> robots_command{self, "--robots", std::to_string(count),
                                          std::to_string(port), file.string()};
  if (realtime) robots_command.emplace_back("--rt");
  if (kinematic) robots_command.emplace_back("--kinematic");

  double client_cpu = 0, sim_cpu = 0, longest_cycle_ms = 0;
  std::vector<std::uint64_t> states_received(count);
  std::vector<long> late(count);  // within the measured window
  long machine_stalls = 0, send_gaps = 0, wire_gaps = 0;
  std::int64_t window_start = 0, window_end = 0;
  {
    korvo::bench::ChildProcess robots_side(robots_command);
    // Before the session opens, so that zenoh's threads inherit the policy.
    if (realtime) korvo::examples::PrepareRealtime(80);
    const korvo::test::TempFile connector(korvo::test::ConnectorConfig(port));
    const korvo::test::ScopedEnv env("ZENOH_CONFIG", connector.path());
    std::vector<std::unique_ptr<korvo::vyr::Robot>> robots;
    for (int i = 0; i < count; ++i) {
      for (int attempt = 0; robots.size() == static_cast<std::size_t>(i); ++attempt) {
        try {
          robots.push_back(std::make_unique<korvo::vyr::Robot>(Serial(i), false));
        } catch (const std::exception&) {
          if (attempt == 50) throw;  // the simulator's process takes a moment to listen
          std::this_thread::sleep_for(100ms);
        }
      }
    }
    for (auto& robot : robots) {
      while (!robot->operational()) std::this_thread::sleep_for(10ms);
      robot->SwitchMode(Mode::RT_JOINT_TORQUE);
    }

    // The states this process receives, counted beside the library on its own session; on
    // request, the robot's count of late commands that the next states carry.
    const auto session = korvo::zenoh_mdw::GetSharedSession();
    std::vector<std::atomic<std::uint64_t>> received(count);
    std::vector<std::atomic<bool>> asked(count);
    std::vector<std::atomic<std::int64_t>> late_seen(count);
    std::vector<zenoh::Subscriber<void>> counters;
    for (int i = 0; i < count; ++i) {
      counters.push_back(session->declare_subscriber(
          zenoh::KeyExpr("korvo/vyr/" + Serial(i) + "/states"),
          [&, i](const zenoh::Sample& sample) {
            ++received[i];
            if (!asked[i]) return;
            const auto states =
                korvo::zenoh_mdw::Decode<korvo::zenoh_msgs::vyr_msg::RealtimeStates>(
                    sample.get_payload());
            late_seen[i] = static_cast<std::int64_t>(states.timeliness_failure_count);
            asked[i] = false;
          },
          zenoh::closures::none));
    }
    // Each robot's count of late commands, as its next states say: asked for, then taken once
    // every robot answered. Asked while the loop still runs, so that waiting for the answers
    // leaves no pause in the commands.
    const auto ask_late_counts = [&] {
      for (int i = 0; i < count; ++i) asked[i] = true;
    };
    const auto take_late_counts = [&] {
      for (int i = 0; i < count; ++i) {
        while (asked[i]) std::this_thread::sleep_for(1ms);
      }
      std::vector<std::int64_t> counts;
      for (int i = 0; i < count; ++i) counts.push_back(late_seen[i]);
      return counts;
    };

    std::vector<std::map<JointGroup, korvo::vyr::RtJointTorqueCmd>> cmds(count);
    for (int i = 0; i < count; ++i) {
      for (const auto& [group, name] : robots[i]->info().single_arm_groups) {
        cmds[i][group].tau_d.assign(robots[i]->info().DoF.at(group), 0.0);
      }
    }
    const auto cycle = [&] {
      for (int i = 0; i < count; ++i) {
        const auto states = robots[i]->states();
        for (auto& [group, cmd] : cmds[i]) {
          const auto& dq = states.at(group).dq;
          for (std::size_t j = 0; j < cmd.tau_d.size(); ++j) cmd.tau_d[j] = -2.0 * dq[j];
        }
        robots[i]->StreamJointTorque(cmds[i]);
      }
    };

    // The machine's own stalls of more than 2 ms during the window: each leaves every robot a
    // gap of more than 3 ms, whatever the programs do.
    const auto probes = korvo::bench::ProbeEveryCore();
    korvo::examples::Period period(1ms);
    for (int i = 0; i < 1000; ++i) {  // one second to settle, not measured
      if (i == 990) ask_late_counts();
      cycle();
      period.Wait();
    }
    const auto late_before = take_late_counts();
    std::vector<std::uint64_t> received_before(count);
    for (int i = 0; i < count; ++i) received_before[i] = received[i];
    const double client_before = korvo::bench::CpuSeconds(getpid());
    const double sim_before = korvo::bench::CpuSeconds(robots_side.pid());
    const long cycles = static_cast<long>(seconds * 1000.0);
    window_start = RealtimeNs();
    auto previous_start = std::chrono::steady_clock::now();
    for (long c = 0; c < cycles; ++c) {
      const auto start = std::chrono::steady_clock::now();
      if (start - previous_start > std::chrono::nanoseconds(kLateNs)) ++send_gaps;
      previous_start = start;
      cycle();
      const std::chrono::duration<double, std::milli> spent =
          std::chrono::steady_clock::now() - start;
      longest_cycle_ms = std::max(longest_cycle_ms, spent.count());
      period.Wait();
    }
    window_end = RealtimeNs();
    client_cpu = korvo::bench::CpuSeconds(getpid()) - client_before;
    sim_cpu = korvo::bench::CpuSeconds(robots_side.pid()) - sim_before;
    for (int i = 0; i < count; ++i) states_received[i] = received[i] - received_before[i];
    ask_late_counts();
    const auto late_after = take_late_counts();
    std::vector<korvo::bench::StallProbe::Stall> all_stalls;
    for (auto& probe : probes) {
      for (const auto& stall : probe->Stop()) {
        const bool in_window = stall.deadline_ns >= window_start && stall.deadline_ns <= window_end;
        if (in_window && stall.late_ns > 2'000'000) all_stalls.push_back(stall);
      }
    }
    // Stalls seen on several cores at once count once.
    std::sort(all_stalls.begin(), all_stalls.end(),
              [](const auto& a, const auto& b) { return a.deadline_ns < b.deadline_ns; });
    std::int64_t covered_until = 0;
    for (const auto& stall : all_stalls) {
      if (stall.deadline_ns >= covered_until) ++machine_stalls;
      covered_until = std::max(covered_until, stall.deadline_ns + stall.late_ns);
    }
    for (int i = 0; i < count; ++i) late[i] = late_after[i] - late_before[i];
    for (auto& robot : robots) robot->Stop();
  }  // the simulator's side writes its file when interrupted

  std::vector<long> commands;
  std::ifstream in(file);
  for (std::string kind; in >> kind;) {
    std::int64_t value = 0;
    in >> value;
    if (kind == "robot") {
      commands.push_back(static_cast<long>(value));
    } else if (value >= window_start && value <= window_end) {
      ++wire_gaps;
    }
  }
  std::filesystem::remove(file);
  if (commands.size() != static_cast<std::size_t>(count)) {
    std::fprintf(stderr, "the simulator's side reported %zu robots of %d\n", commands.size(),
                 count);
    return 1;
  }
  // Per robot: CPU in percent of one core, the fewest states received per second and the fewest
  // commands received per second (over the whole run, settling included). Then, for all robots
  // in the window: late commands (the most of one robot, and all), gaps of more than 3 ms at
  // zenoh's callback in the simulator's process, gaps of more than 3 ms between the loop's
  // cycles, the machine's stalls; and the loop's longest cycle.
  long all_late = 0;
  for (long l : late) all_late += l;
  std::printf(
      "%6d %8.1f %8.1f %9.0f %9.0f %6ld %6ld %7ld %6ld %7ld %8.2f\n", count,
      100.0 * client_cpu / seconds / count, 100.0 * sim_cpu / seconds / count,
      static_cast<double>(*std::min_element(states_received.begin(), states_received.end())) /
          seconds,
      static_cast<double>(*std::min_element(commands.begin(), commands.end())) / (seconds + 1.0),
      *std::max_element(late.begin(), late.end()), all_late, wire_gaps, send_gaps, machine_stalls,
      longest_cycle_ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto flag = [&](const char* name) { return korvo::bench::HasFlag(argc, argv, name); };
  const bool kinematic = flag("--kinematic");
  if (argc >= 5 && std::strcmp(argv[1], "--robots") == 0) {
    return RunRobots(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], flag("--rt"), kinematic);
  }
  if (argc >= 4 && std::strcmp(argv[1], "--client") == 0) {
    return RunClient(std::atoi(argv[2]), std::atof(argv[3]), flag("--rt"), kinematic);
  }
  double seconds = 30.0;
  const bool realtime = flag("--realtime");
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') seconds = std::atof(argv[i]);
  }
  std::printf(
      "one client process, N two-arm robots in one simulator process (%s), 1 kHz each, %.0f s;"
      " real-time recipe: %s\n",
      kinematic ? "kinematic" : "the physical twin", seconds, realtime ? "both processes" : "none");
  std::printf("%6s %8s %8s %9s %9s %6s %6s %7s %6s %7s %8s\n", "", "client", "sim", "states/s",
              "cmds/s", "late", "late", "at", "send", "machine", "cycle");
  std::printf("%6s %8s %8s %9s %9s %6s %6s %7s %6s %7s %8s\n", "robots", "%cpu", "%cpu", "min",
              "min", "max", "all", "zenoh", "gaps", "stalls", "max [ms]");
  std::fflush(stdout);
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  for (const int count : {1, 2, 4, 8}) {
    std::vector<std::string> command{self, "--client", std::to_string(count),
                                     std::to_string(seconds)};
    if (realtime) command.emplace_back("--rt");
    if (kinematic) command.emplace_back("--kinematic");
    korvo::bench::ChildProcess row(command);
    if (row.Wait() != 0) return 1;
  }
  return 0;
}
