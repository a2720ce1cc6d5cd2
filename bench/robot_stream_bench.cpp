// The cost of one StreamJointTorque call (checks, conversion, publication) for one and for two
// arms, against a simulated robot in this process; and the late commands the robot counted
// during a long 1 kHz loop.
//
//   robot_stream_bench [--loop-seconds=N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "sim/simulator.hpp"

namespace {

using korvo::vyr::JointGroup;
using korvo::vyr::Mode;
using korvo::vyr::RtJointTorqueCmd;

struct Setup {
  std::unique_ptr<korvo::sim::Simulator> simulator;
  std::unique_ptr<korvo::test::TempFile> connector;
  std::unique_ptr<korvo::test::ScopedEnv> env;
  korvo::sim::RobotHost* host = nullptr;
  std::unique_ptr<korvo::vyr::Robot> robot;
};
std::optional<Setup> g;

std::map<JointGroup, RtJointTorqueCmd> Commands(int arms) {
  std::map<JointGroup, RtJointTorqueCmd> cmds;
  cmds[JointGroup::ARM_1] = RtJointTorqueCmd(std::vector<double>(7, 0.1));
  if (arms == 2) cmds[JointGroup::ARM_2] = RtJointTorqueCmd(std::vector<double>(7, -0.1));
  return cmds;
}

void BM_StreamJointTorque(benchmark::State& state) {
  const auto cmds = Commands(static_cast<int>(state.range(0)));
  for (auto _ : state) g->robot->StreamJointTorque(cmds);
}
BENCHMARK(BM_StreamJointTorque)->Arg(1)->Arg(2)->ArgName("arms");

// Streams at 1 kHz on absolute deadlines for `seconds` and reports the robot's late-command count.
void LoopAndCountLateCommands(double seconds) {
  const auto cmds = Commands(2);
  const auto before = g->host->robot().timeliness_failure_count();
  const long cycles = static_cast<long>(seconds * 1000.0);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long i = 0; i < cycles; ++i) {
    g->robot->StreamJointTorque(cmds);
    korvo::bench::AddMillisecond(next);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  const auto late = g->host->robot().timeliness_failure_count() - before;
  std::printf(
      "1 kHz loop of %.0f s (%ld commands, two arms): %llu late commands counted by the "
      "robot\n",
      seconds, cycles, static_cast<unsigned long long>(late));
}

}  // namespace

int main(int argc, char** argv) {
  double loop_seconds = 60.0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--loop-seconds=", 15) == 0) loop_seconds = std::stod(argv[i] + 15);
  }
  benchmark::Initialize(&argc, argv);
  const int port = korvo::test::FreeTcpPort();
  g.emplace();
  g->simulator = std::make_unique<korvo::sim::Simulator>(
      zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  g->connector = std::make_unique<korvo::test::TempFile>(korvo::test::ConnectorConfig(port));
  g->env = std::make_unique<korvo::test::ScopedEnv>("ZENOH_CONFIG", g->connector->path());
  g->host = &g->simulator->AddRobot(korvo::vyr::ProductModel::Olvar_LL, "Olvar-LL-000001");
  g->host->robot().MakeReady();
  g->robot = std::make_unique<korvo::vyr::Robot>("Olvar-LL-000001", false);
  while (!g->robot->operational()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  g->robot->SwitchMode(Mode::RT_JOINT_TORQUE);

  benchmark::RunSpecifiedBenchmarks();
  if (loop_seconds > 0) LoopAndCountLateCommands(loop_seconds);

  g->robot->Stop();
  g.reset();
  benchmark::Shutdown();
  return 0;
}
