// Streams Cartesian poses at 1 kHz for 10 s: each arm's TCP sways 3 cm to and fro along the
// world's y axis, keeping its orientation, under the robot's Cartesian impedance; then prints the
// largest distance between a TCP and its target.
//
//   cartesian_loop SERIAL_NUMBER [seconds]
#include <algorithm>
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
    robot.SwitchMode(Mode::RT_CARTESIAN_MOTION_FORCE);

    const auto start = robot.states();
    std::map<JointGroup, korvo::vyr::RtCartesianCmd> cmds;
    for (const auto& [group, name] : robot.info().single_arm_groups) {
      cmds[group].pose_d = start.at(group).tcp_pose;
    }
    const long cycles = static_cast<long>(seconds * 1000.0);
    const double w = 2.0 * std::numbers::pi * 0.25;  // one sway every 4 s
    double worst = 0.0;
    // The loop's thread on the last core (realtime.hpp).
    korvo::examples::PinToCpu(static_cast<int>(std::thread::hardware_concurrency()) - 1);
    korvo::examples::Period period(std::chrono::milliseconds(1));
    for (long i = 0; i < cycles; ++i) {
      const double t = i * 0.001;
      // The sway starts and ends at rest: y = 3 cm * (1 - cos(w t)) / 2.
      for (auto& [group, cmd] : cmds) {
        cmd.pose_d[1] = start.at(group).tcp_pose[1] + 0.015 * (1.0 - std::cos(w * t));
        cmd.twist_d[1] = 0.015 * w * std::sin(w * t);
      }
      robot.StreamCartesianMotionForce(cmds);
      const auto states = robot.states();
      for (const auto& [group, cmd] : cmds) {
        const auto& p = states.at(group).tcp_pose;
        worst = std::max(
            worst, std::hypot(p[0] - cmd.pose_d[0], p[1] - cmd.pose_d[1], p[2] - cmd.pose_d[2]));
      }
      period.Wait();
    }
    robot.Stop();
    std::printf(
        "streamed %ld Cartesian commands; largest TCP tracking error: %.1f mm; timeliness limit "
        "reached: %s\n",
        cycles, worst * 1000.0, robot.reached_timeliness_failure_limit() ? "yes" : "no");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
