// How long each kind of request takes to handle on the largest simulated robot (TAVU-Ultra with 6
// external axes, physics on, ready), timed over repeated calls, and how long the 1 ms step takes
// while another thread keeps asking the slowest of them. Every handler but reachability (op 11)
// holds the robot's lock throughout; reachability solves outside it. A 1 kHz loop that waits for
// the lock longer than a fraction of its period publishes late, so the maxima matter.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_robot.hpp"

namespace {

using korvo::sim::SimRobot;
using korvo::vyr::Mode;
using korvo::vyr::ProductModel;
namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
namespace qel_msg = korvo::zenoh_msgs::qel_msg;

constexpr std::uint16_t kArm1 = 3, kArm2 = 4;

vyr_msg::RPCRequest Vyr(std::uint16_t op_code) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  return r;
}

qel_msg::RPCRequest Qel(std::uint16_t op_code, std::vector<std::uint16_t> groups = {}) {
  qel_msg::RPCRequest r;
  r.op_code = op_code;
  r.joint_groups = std::move(groups);
  return r;
}

// Reachability of a pose for both arms, each with a zero seed.
vyr_msg::RPCRequest Reachability(double x, unsigned arm_dof) {
  auto r = Vyr(11);
  r.joint_groups = {kArm1, kArm2};
  r.int_container = {0, 0};
  for (int i = 0; i < 2; ++i) {
    std::vector<float> row = {static_cast<float>(x), i == 0 ? 0.3f : -0.3f, 0.9f, 0, 1, 0, 0};
    row.resize(7 + arm_dof, 0.0f);
    r.float2d_container.push_back(row);
  }
  return r;
}

void Time(const char* what, int repeats, const std::function<void()>& call) {
  std::vector<double> us;
  for (int i = 0; i < repeats; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    call();
    us.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("%-48s median %9.1f us   max %9.1f us\n", what, us[us.size() / 2], us.back());
}

}  // namespace

int main() {
  SimRobot robot("SN-bench", korvo::sim::MakeRobotModel(ProductModel::TAVU_Ultra, 6));
  robot.MakeReady();
  robot.EnablePhysics(true);
  auto now = SimRobot::Clock::now();
  robot.Step(now);
  const auto mode = [&](Mode m) {
    auto idle = Vyr(8);
    idle.int_container = {static_cast<int>(Mode::IDLE)};
    robot.HandleVyr(idle);
    auto r = Vyr(8);
    r.int_container = {static_cast<int>(m)};
    robot.HandleVyr(r);
  };
  const unsigned arm_dof = 7;
  constexpr int kRepeats = 30;

  Time("one 1 ms step (physics)", 200, [&] { robot.Step(now += std::chrono::milliseconds(1)); });
  auto limits = Vyr(6);
  for (std::uint16_t g = 0; g < 32; ++g) limits.joint_groups.push_back(g);
  Time("op 6: joint limits, 32 groups", kRepeats, [&] { robot.HandleVyr(limits); });
  const auto reachable = Reachability(0.5, arm_dof);
  Time("op 11: reachability, both arms, reachable", kRepeats, [&] { robot.HandleVyr(reachable); });
  const auto unreachable = Reachability(5.0, arm_dof);
  Time("op 11: reachability, both arms, out of reach", kRepeats,
       [&] { robot.HandleVyr(unreachable); });
  {
    std::atomic<bool> stop{false};
    std::thread asker([&] {
      while (!stop) robot.HandleVyr(unreachable);
    });
    Time("one 1 ms step while op 11 out of reach runs", 2000,
         [&] { robot.Step(now += std::chrono::milliseconds(1)); });
    stop = true;
    asker.join();
  }
  Time("op 12: global variables", kRepeats, [&] { robot.HandleVyr(Vyr(12)); });
  auto assign = Vyr(13);
  assign.string_container = {"speed_factor = " + std::string(60000, '1')};
  Time("op 13: one assignment of 60000 characters", kRepeats, [&] { robot.HandleVyr(assign); });

  mode(Mode::NRT_PRIMITIVE_EXECUTION);
  auto movel = Vyr(21);
  movel.joint_groups = {kArm1, kArm2};
  movel.bool_container = {false, false};
  movel.int_container = {0, 0};
  movel.string_container = {"MoveL(target = 0.5 0.3 0.9 180 0 90 WORLD WORLD_ORIGIN )",
                            "MoveL(target = 5 -0.3 0.9 180 0 90 WORLD WORLD_ORIGIN )"};
  Time("op 21: MoveL on both arms, one out of reach", kRepeats, [&] { robot.HandleVyr(movel); });

  mode(Mode::NRT_PLAN_EXECUTION);
  auto plan = Vyr(22);
  plan.string_container = {"PLAN-Inspection"};
  plan.int_container = {0};
  Time("op 22: start a plan", kRepeats, [&] { robot.HandleVyr(plan); });

  Time("QEL 3: primitive states", kRepeats, [&] { robot.HandleQel(Qel(3)); });
  Time("QEL 9: manipulability", kRepeats, [&] { robot.HandleQel(Qel(9)); });
  std::vector<std::uint16_t> groups(32);
  for (std::uint16_t g = 0; g < 32; ++g) groups[g] = g;
  const auto layout = Qel(10, groups);
  Time("QEL 10: layout, 32 groups", kRepeats, [&] { robot.HandleQel(layout); });

  mode(Mode::RT_CARTESIAN_MOTION_FORCE);
  vyr_msg::MotionCommands cartesian;
  cartesian.joint_groups = {kArm1, kArm2};
  for (const float y : {0.3f, -0.3f}) {
    vyr_msg::CartesianCommand c;
    c.pose_d = {0.5f, y, 0.9f, 0, 1, 0, 0};
    cartesian.cartesian_commands.push_back(c);
  }
  Time("RT Cartesian command, both arms", 200,
       [&] { robot.OnCommands(cartesian, SimRobot::Clock::now()); });
  cartesian.cartesian_commands[0].pose_d[0] = 5.0f;
  Time("RT Cartesian command, one arm out of reach", 200,
       [&] { robot.OnCommands(cartesian, SimRobot::Clock::now()); });
  return 0;
}
