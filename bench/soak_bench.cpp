// Soak: one client streams joint positions at 1 kHz to korvo-sim in another process for a long
// time (10 minutes unless told otherwise), as a user's controller would. Reports both processes'
// resident memory each minute, the commands the robot saw late, losses of the link and errors.
// A fault (a late command can make the arm jump) is cleared and streaming resumes, as a
// supervisor of the controller would do.
// Flat memory is what it shows: the simulator keeps its read-back records within fixed budgets
// and the client keeps nothing per command.
//
//   soak_bench [seconds] [path to korvo-sim]
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "korvo/vyr/vyr.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/vyr_msg.hpp"

namespace {

using namespace std::chrono_literals;
using korvo::bench::ResidentMiB;
using korvo::vyr::JointGroup;
using korvo::vyr::Mode;

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 600.0;
  const std::string sim = korvo::bench::SimulatorPath(argc > 2 ? argv[2] : "");
  const int port = korvo::test::FreeTcpPort();
  korvo::test::TempFile listener(korvo::test::ListenerConfig(port));
  korvo::test::TempFile connector(korvo::test::ConnectorConfig(port));
  korvo::test::ScopedEnv env("ZENOH_CONFIG", connector.path());
  const std::string serial = "Olvar-L-000001";
  korvo::bench::ChildProcess child(
      {sim, "--model", "Olvar-L", "--serial", serial, "--config", listener.path(), "--ready"});
  const pid_t self = getpid();

  try {
    // The robot's count of late commands, as its states publish it.
    auto session = std::make_shared<zenoh::Session>(
        zenoh::Config::from_str(korvo::test::ConnectorConfig(port)));
    korvo::zenoh_msgs::vyr_msg::RealtimeStates incoming;
    std::atomic<std::uint64_t> late{0};
    korvo::zenoh_mdw::Subscriber<korvo::zenoh_msgs::vyr_msg::RealtimeStates> states(
        session, [&] { late = incoming.timeliness_failure_count; }, incoming,
        "korvo/vyr/" + serial + "/states");

    std::unique_ptr<korvo::vyr::Robot> robot;
    for (int attempt = 0; attempt < 50 && !robot; ++attempt) {
      try {
        robot = std::make_unique<korvo::vyr::Robot>(serial, false);
      } catch (const std::exception&) {
        std::this_thread::sleep_for(200ms);  // the simulator is still starting
      }
    }
    if (!robot) throw std::runtime_error("the simulator did not come up");
    while (!robot->operational()) std::this_thread::sleep_for(50ms);
    robot->SwitchMode(Mode::RT_JOINT_POSITION);
    auto start = robot->states().at(JointGroup::ARM_1).q;
    const auto n = start.size();
    std::map<JointGroup, korvo::vyr::RtJointPositionCmd> cmds{
        {JointGroup::ARM_1, {start, std::vector<double>(n), std::vector<double>(n)}}};

    std::printf("soak: %.0f s of 1 kHz joint position streaming to korvo-sim (pid %d)\n", seconds,
                static_cast<int>(child.pid()));
    std::printf("%8s %14s %14s %8s %8s\n", "time [s]", "client [MiB]", "sim [MiB]", "late",
                "errors");
    const long cycles = static_cast<long>(seconds * 1000.0);
    const double w = 2.0 * std::numbers::pi * 0.25;
    std::uint64_t errors = 0, link_losses = 0, resumptions = 0;
    long phase = 0;  // the cycle the swing started from, again after each resumption
    bool linked = true;
    double client_first = 0, sim_first = 0, client_last = 0, sim_last = 0;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long i = 0; i <= cycles; ++i) {
      const double t = static_cast<double>(i) * 0.001;
      const double swing = static_cast<double>(i - phase) * 0.001;
      auto& cmd = cmds.at(JointGroup::ARM_1);
      for (std::size_t j = 0; j < n; ++j) {
        cmd.q_d[j] = start[j] + 0.1 * std::sin(w * swing);
        cmd.dq_d[j] = 0.1 * w * std::cos(w * swing);
        cmd.ddq_d[j] = -0.1 * w * w * std::sin(w * swing);
      }
      try {
        robot->StreamJointPosition(cmds);
      } catch (const std::exception& e) {
        if (errors++ < 5) std::fprintf(stderr, "at %.3f s: %s\n", t, e.what());
        // As a supervisor would: clear the fault, stream again from where the arm stopped.
        try {
          robot->ClearFault(5);
          if (robot->operational()) {
            robot->SwitchMode(Mode::RT_JOINT_POSITION);
            start = robot->states().at(JointGroup::ARM_1).q;
            phase = i + 1;
            ++resumptions;
          }
        } catch (const std::exception& again) {
          if (errors++ < 5) std::fprintf(stderr, "at %.3f s: %s\n", t, again.what());
        }
        clock_gettime(CLOCK_MONOTONIC, &next);  // the recovery took its time
      }
      if (i % 1000 == 0) {
        const bool now_linked = robot->connected();
        if (linked && !now_linked) ++link_losses;
        linked = now_linked;
      }
      // The first reading after 10 s of warm-up, then one a minute and the last.
      if (i == 10'000 || (i % 60'000 == 0 && i > 0) || i == cycles) {
        client_last = ResidentMiB(self);
        sim_last = ResidentMiB(child.pid());
        if (client_first == 0) {
          client_first = client_last;
          sim_first = sim_last;
        }
        std::printf("%8.0f %14.1f %14.1f %8llu %8llu\n", t, client_last, sim_last,
                    static_cast<unsigned long long>(late.load()),
                    static_cast<unsigned long long>(errors));
        std::fflush(stdout);
      }
      korvo::bench::AddMillisecond(next);
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    robot->Stop();
    std::printf(
        "memory from 10 s to the end: client %.1f -> %.1f MiB, simulator %.1f -> %.1f MiB; "
        "late commands %llu, link losses %llu, errors %llu, resumptions after a fault %llu\n",
        client_first, client_last, sim_first, sim_last,
        static_cast<unsigned long long>(late.load()), static_cast<unsigned long long>(link_losses),
        static_cast<unsigned long long>(errors), static_cast<unsigned long long>(resumptions));
    session->close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "soak: %s\n", e.what());
    return 1;
  }
  return 0;
}
