// Streams joint positions at 1 kHz for 10 s: every arm joint swings ±0.1 rad around its start.
//
//   joint_position_loop SERIAL_NUMBER [seconds]
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <string>
#include <thread>

#include "korvo/vyr/vyr.hpp"
#include "realtime.hpp"

using korvo::vyr::JointGroup;
using korvo::vyr::Mode;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SERIAL_NUMBER [seconds]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::stod(argv[2]) : 10.0;
  // Locked memory and SCHED_FIFO before connecting, for zenoh's threads too (realtime.hpp).
  korvo::examples::PrepareRealtime(80);
  try {
    korvo::vyr::Robot robot(argv[1], false);
    if (!robot.operational()) {
      robot.ServoOn();
      while (!robot.operational()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    robot.SwitchMode(Mode::RT_JOINT_POSITION);

    const auto start = robot.states();
    std::map<JointGroup, korvo::vyr::RtJointPositionCmd> cmds;
    for (const auto& [group, name] : robot.info().single_arm_groups) {
      const auto n = start.at(group).q.size();
      cmds[group] = {start.at(group).q, std::vector<double>(n), std::vector<double>(n)};
    }
    const long cycles = static_cast<long>(seconds * 1000.0);
    const double w = 2.0 * std::numbers::pi * 0.25;  // one swing every 4 s
    // The loop's thread on the last core (realtime.hpp).
    korvo::examples::PinToCpu(static_cast<int>(std::thread::hardware_concurrency()) - 1);
    korvo::examples::Period period(std::chrono::milliseconds(1));
    for (long i = 0; i < cycles; ++i) {
      const double t = i * 0.001;
      for (auto& [group, cmd] : cmds) {
        const auto& q0 = start.at(group).q;
        for (std::size_t j = 0; j < q0.size(); ++j) {
          cmd.q_d[j] = q0[j] + 0.1 * std::sin(w * t);
          cmd.dq_d[j] = 0.1 * w * std::cos(w * t);
          cmd.ddq_d[j] = -0.1 * w * w * std::sin(w * t);
        }
      }
      robot.StreamJointPosition(cmds);
      period.Wait();
    }
    robot.Stop();
    const auto end = robot.states();
    std::printf("streamed %ld joint position commands; timeliness limit reached: %s\n", cycles,
                robot.reached_timeliness_failure_limit() ? "yes" : "no");
    for (const auto& [group, s] : end) {
      if (robot.info().single_arm_groups.count(group)) {
        std::printf("  %s joint 1 at %+.4f rad\n", korvo::vyr::kJointGroupNames.at(group).c_str(),
                    s.q[0]);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
