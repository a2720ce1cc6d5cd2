// Streams joint torques at 1 kHz for 10 s: a small damping torque that holds the arm where it is.
//
//   joint_torque_loop SERIAL_NUMBER [seconds]
#include <cstdio>
#include <exception>
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
    robot.SwitchMode(Mode::RT_JOINT_TORQUE);

    const auto arms = robot.info().single_arm_groups;
    std::map<JointGroup, korvo::vyr::RtJointTorqueCmd> cmds;
    for (const auto& [group, name] : arms) {
      cmds[group].tau_d.assign(robot.info().DoF.at(group), 0.0);
    }
    const long cycles = static_cast<long>(seconds * 1000.0);
    // The loop's thread on the last core (realtime.hpp).
    korvo::examples::PinToCpu(static_cast<int>(std::thread::hardware_concurrency()) - 1);
    korvo::examples::Period period(std::chrono::milliseconds(1));
    for (long i = 0; i < cycles; ++i) {
      // Damping: a torque against the measured joint velocity.
      const auto states = robot.states();
      for (auto& [group, cmd] : cmds) {
        const auto& dq = states.at(group).dq;
        for (std::size_t j = 0; j < cmd.tau_d.size(); ++j) cmd.tau_d[j] = -2.0 * dq[j];
      }
      robot.StreamJointTorque(cmds);
      period.Wait();
    }
    robot.Stop();
    std::printf("streamed %ld joint torque commands; timeliness limit reached: %s\n", cycles,
                robot.reached_timeliness_failure_limit() ? "yes" : "no");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
