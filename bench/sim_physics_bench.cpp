// The cost of the simulator's physics per 1 ms control period: one dynamics step, and one period
// of a simulated robot with physics on (controller and dynamics under its lock), for a one-arm
// robot and for the largest one (TAVU-Ultra with 6 external axes).
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "dynamics_fixture.hpp"
#include "sim/sim_robot.hpp"

namespace {

using korvo::vyr::ProductModel;

void DynamicsStep(benchmark::State& state, ProductModel product, unsigned ext_axes) {
  const auto r = korvo::test::MakeDynamicsRobot(product, ext_axes);
  korvo::sim::Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  dynamics.SetArmature(r.Armature());
  const auto n = dynamics.dof();
  dynamics.SetFriction({Eigen::VectorXd::Constant(n, 0.2), Eigen::VectorXd::Constant(n, 0.5)});
  korvo::sim::JointState s{r.At(0.45), Eigen::VectorXd::Zero(n)};
  for (auto _ : state) {
    dynamics.Step(s, dynamics.Gravity(s.q), 1e-3);
    benchmark::DoNotOptimize(s.q.data());
  }
  state.counters["dof"] = static_cast<double>(n);
}

// A ready robot holding its posture in IDLE (joint impedance on the motion generator's
// trajectory), one millisecond per iteration.
void RobotPeriod(benchmark::State& state, ProductModel product, unsigned ext_axes) {
  korvo::sim::SimRobot robot("SN-bench", korvo::sim::MakeRobotModel(product, ext_axes));
  robot.MakeReady();
  robot.EnablePhysics(true);
  auto now = korvo::sim::SimRobot::Clock::now();
  for (auto _ : state) {
    now += std::chrono::milliseconds(1);
    robot.Step(now);
  }
}

BENCHMARK_CAPTURE(DynamicsStep, OlvarL, ProductModel::Olvar_L, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DynamicsStep, TavuUltra6, ProductModel::TAVU_Ultra, 6)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RobotPeriod, OlvarL, ProductModel::Olvar_L, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RobotPeriod, TavuUltra6, ProductModel::TAVU_Ultra, 6)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
