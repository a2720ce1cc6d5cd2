// Every query of korvo::vyr::Model next to raw Pinocchio doing the same computation on the same
// model, for an Olvar-L and a TAVU-Ultra with 6 external axes hosted by korvo-sim in this
// process. The raw side builds its model from the URDF the simulator serves. After the runs a
// table gives ours/raw per query (CPU time per query; the median when repeated).
//
//   model_bench [benchmark flags]   e.g. --benchmark_repetitions=3
//                                         --benchmark_report_aggregates_only=true

// Pinocchio sets Boost.MPL's container limits, so it must come before any Boost header.
#include <pinocchio/fwd.hpp>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <pinocchio/algorithm/crba.hpp>
#include <pinocchio/algorithm/frames.hpp>
#include <pinocchio/algorithm/jacobian.hpp>
#include <pinocchio/algorithm/kinematics.hpp>
#include <pinocchio/algorithm/rnea.hpp>
#include <pinocchio/multibody/data.hpp>
#include <pinocchio/multibody/model.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "korvo/vyr/model.hpp"
#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "model/rigid_body_model.hpp"
#include "model/urdf_reader.hpp"
#include "sim/simulator.hpp"

namespace {

using korvo::vyr::ProductModel;

constexpr char kFlangeSuffix[] = ".arm1.flange";

// One robot, seen through our Model and through a raw Pinocchio model of its URDF.
struct Subject {
  std::string label;
  std::unique_ptr<korvo::vyr::Robot> robot;
  std::unique_ptr<korvo::vyr::Model> model;
  std::string flange;
  std::vector<double> q, dq;

  pinocchio::Model raw;
  pinocchio::Model raw_no_gravity;  // for the Coriolis torques, as Model computes them
  // Built in place, never moved: Eigen's LLT members inside leave `info` uninitialized.
  std::optional<pinocchio::Data> data;
  pinocchio::FrameIndex frame = 0;
  Eigen::VectorXd raw_q, raw_v, zero;
  Eigen::MatrixXd jacobian, rate;
};

// Queries in table order: name in the benchmark names, name in the table.
const std::vector<std::pair<std::string, std::string>> kQueries = {{"UpdateJ", "Update+J(flange)"},
                                                                   {"dJ", "dJ(flange)"},
                                                                   {"M", "M"},
                                                                   {"C", "C"},
                                                                   {"g", "g"},
                                                                   {"c", "c"},
                                                                   {"T", "T(flange)"}};

std::unique_ptr<Subject> MakeSubject(korvo::sim::RobotHost& host, const std::string& label,
                                     const std::string& serial, unsigned seed) {
  auto s = std::make_unique<Subject>();
  s->label = label;
  s->robot = std::make_unique<korvo::vyr::Robot>(serial, false);
  s->model = std::make_unique<korvo::vyr::Model>(*s->robot);

  auto built =
      korvo::vyr_impl::BuildRigidBodyModel(korvo::vyr_impl::ReadUrdf(host.robot().model().urdf()));
  s->raw = built.model;
  s->raw.gravity.linear(Eigen::Vector3d(0.0, 0.0, -9.81));
  s->raw_no_gravity = s->raw;
  s->raw_no_gravity.gravity.setZero();
  s->data.emplace(s->raw);
  for (std::size_t i = 0; i < built.link_names.size(); ++i) {
    const std::string& name = built.link_names[i];
    if (name.size() >= sizeof kFlangeSuffix - 1 &&
        name.compare(name.size() - (sizeof kFlangeSuffix - 1), std::string::npos, kFlangeSuffix) ==
            0) {
      s->flange = name;
      s->frame = built.link_frames[i];
      break;
    }
  }
  if (s->flange.empty()) throw std::runtime_error(label + ": no flange link");

  // A fixed random posture within ±1, the same for both sides.
  const auto n = static_cast<std::size_t>(s->raw.nv);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (std::size_t i = 0; i < n; ++i) s->q.push_back(uniform(rng));
  for (std::size_t i = 0; i < n; ++i) s->dq.push_back(uniform(rng));
  s->raw_q = Eigen::Map<const Eigen::VectorXd>(s->q.data(), s->raw.nq);
  s->raw_v = Eigen::Map<const Eigen::VectorXd>(s->dq.data(), s->raw.nv);
  s->zero = Eigen::VectorXd::Zero(s->raw.nv);
  s->jacobian = Eigen::MatrixXd::Zero(6, s->raw.nv);
  s->rate = Eigen::MatrixXd::Zero(6, s->raw.nv);

  s->model->Update(s->q, s->dq);
  pinocchio::forwardKinematics(s->raw, *s->data, s->raw_q, s->raw_v);
  return s;
}

// Both sides once, and the largest difference between their results: they must compute the same.
void CrossCheck(Subject& s) {
  using pinocchio::LOCAL_WORLD_ALIGNED;
  auto& m = s.raw;
  auto& d = *s.data;
  double worst = 0.0;
  const auto diff = [&worst](const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
    if (a.rows() != b.rows() || a.cols() != b.cols()) {
      worst = std::numeric_limits<double>::infinity();
      return;
    }
    worst = std::max(worst, (a - b).cwiseAbs().maxCoeff());
  };

  s.model->Update(s.q, s.dq);
  pinocchio::forwardKinematics(m, d, s.raw_q, s.raw_v);
  pinocchio::computeFrameJacobian(m, d, s.raw_q, s.frame, LOCAL_WORLD_ALIGNED, s.jacobian);
  diff(s.model->J(s.flange), s.jacobian);

  pinocchio::computeJointJacobiansTimeVariation(m, d, s.raw_q, s.raw_v);
  pinocchio::getFrameJacobianTimeVariation(m, d, s.frame, LOCAL_WORLD_ALIGNED, s.rate);
  diff(s.model->dJ(s.flange), s.rate);

  pinocchio::crba(m, d, s.raw_q, pinocchio::Convention::WORLD);
  d.M.triangularView<Eigen::StrictlyLower>() =
      d.M.transpose().triangularView<Eigen::StrictlyLower>();
  diff(s.model->M(), d.M);
  diff(s.model->C(), pinocchio::computeCoriolisMatrix(m, d, s.raw_q, s.raw_v));
  diff(s.model->g(), pinocchio::computeGeneralizedGravity(m, d, s.raw_q));
  diff(s.model->c(), pinocchio::rnea(s.raw_no_gravity, d, s.raw_q, s.raw_v, s.zero));

  pinocchio::forwardKinematics(m, d, s.raw_q, s.raw_v);
  const auto& f = m.frames[s.frame];
  const pinocchio::SE3 pose = d.oMi[f.parentJoint] * f.placement;
  diff(s.model->T(s.flange).matrix(), pose.toHomogeneousMatrix());

  std::printf("%s: %d DoF, flange link %s, largest |ours - raw| over all queries %.3g\n",
              s.label.c_str(), static_cast<int>(m.nv), s.flange.c_str(), worst);
}

void Register(Subject* s) {
  using benchmark::DoNotOptimize;
  using pinocchio::LOCAL_WORLD_ALIGNED;
  const auto add = [s](const std::string& query, const char* side, auto&& body) {
    benchmark::RegisterBenchmark((s->label + "/" + query + "/" + side).c_str(), body)
        ->Unit(benchmark::kNanosecond);
  };

  add("UpdateJ", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      s->model->Update(s->q, s->dq);
      auto j = s->model->J(s->flange);
      DoNotOptimize(j);
    }
  });
  add("UpdateJ", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      pinocchio::forwardKinematics(s->raw, *s->data, s->raw_q, s->raw_v);
      pinocchio::computeFrameJacobian(s->raw, *s->data, s->raw_q, s->frame, LOCAL_WORLD_ALIGNED,
                                      s->jacobian);
      DoNotOptimize(s->jacobian.data());
    }
  });

  add("dJ", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto rate = s->model->dJ(s->flange);
      DoNotOptimize(rate);
    }
  });
  add("dJ", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      pinocchio::computeJointJacobiansTimeVariation(s->raw, *s->data, s->raw_q, s->raw_v);
      pinocchio::getFrameJacobianTimeVariation(s->raw, *s->data, s->frame, LOCAL_WORLD_ALIGNED,
                                               s->rate);
      DoNotOptimize(s->rate.data());
    }
  });

  add("M", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto mass = s->model->M();
      DoNotOptimize(mass);
    }
  });
  add("M", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto& d = *s->data;
      pinocchio::crba(s->raw, d, s->raw_q, pinocchio::Convention::WORLD);
      d.M.triangularView<Eigen::StrictlyLower>() =
          d.M.transpose().triangularView<Eigen::StrictlyLower>();
      DoNotOptimize(d.M.data());
    }
  });

  add("C", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto coriolis = s->model->C();
      DoNotOptimize(coriolis);
    }
  });
  add("C", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      const auto& coriolis = pinocchio::computeCoriolisMatrix(s->raw, *s->data, s->raw_q, s->raw_v);
      DoNotOptimize(coriolis.data());
    }
  });

  add("g", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto gravity = s->model->g();
      DoNotOptimize(gravity);
    }
  });
  add("g", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      const auto& gravity = pinocchio::computeGeneralizedGravity(s->raw, *s->data, s->raw_q);
      DoNotOptimize(gravity.data());
    }
  });

  add("c", "ours", [s](benchmark::State& state) {
    for (auto _ : state) {
      auto torques = s->model->c();
      DoNotOptimize(torques);
    }
  });
  add("c", "raw", [s](benchmark::State& state) {
    for (auto _ : state) {
      const auto& torques =
          pinocchio::rnea(s->raw_no_gravity, *s->data, s->raw_q, s->raw_v, s->zero);
      DoNotOptimize(torques.data());
    }
  });

  // Both read the joint placements the posture left in the data; the raw side refreshes them
  // once, outside the timing, as Update does for ours.
  add("T", "ours", [s](benchmark::State& state) {
    s->model->Update(s->q, s->dq);
    for (auto _ : state) {
      auto pose = s->model->T(s->flange);
      DoNotOptimize(pose);
    }
  });
  add("T", "raw", [s](benchmark::State& state) {
    pinocchio::forwardKinematics(s->raw, *s->data, s->raw_q, s->raw_v);
    const auto& f = s->raw.frames[s->frame];
    for (auto _ : state) {
      pinocchio::SE3 pose = s->data->oMi[f.parentJoint] * f.placement;
      DoNotOptimize(pose);
    }
  });
}

double Nanoseconds(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kSecond:
      return 1e9;
    case benchmark::kMillisecond:
      return 1e6;
    case benchmark::kMicrosecond:
      return 1e3;
    default:
      return 1.0;
  }
}

// The console output as usual, and the CPU time per query of every benchmark kept aside: the
// median aggregate when there is one, else the median of the single runs.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that redirected output stays plain text.
  RecordingReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      const double ns = run.GetAdjustedCPUTime() * Nanoseconds(run.time_unit);
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = ns;
      } else {
        singles_[name].push_back(ns);
      }
    }
  }

  // Nanoseconds per query of `name`, negative when it did not run.
  double Time(const std::string& name) const {
    if (const auto it = medians_.find(name); it != medians_.end()) return it->second;
    const auto it = singles_.find(name);
    if (it == singles_.end() || it->second.empty()) return -1.0;
    auto v = it->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> singles_;
};

void PrintRatios(const RecordingReporter& reporter,
                 const std::vector<std::unique_ptr<Subject>>& subjects) {
  std::printf("\nours/raw, CPU time per query [ns]\n");
  std::printf("%-18s %-18s %12s %12s %9s\n", "robot", "query", "ours", "raw", "ours/raw");
  for (const auto& s : subjects) {
    for (const auto& [key, title] : kQueries) {
      const double ours = reporter.Time(s->label + "/" + key + "/ours");
      const double raw = reporter.Time(s->label + "/" + key + "/raw");
      if (ours < 0.0 || raw < 0.0) continue;
      std::printf("%-18s %-18s %12.1f %12.1f %9.2f\n", s->label.c_str(), title.c_str(), ours, raw,
                  ours / raw);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const int port = korvo::test::FreeTcpPort();
  auto simulator = std::make_unique<korvo::sim::Simulator>(
      zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  auto connector = std::make_unique<korvo::test::TempFile>(korvo::test::ConnectorConfig(port));
  auto env = std::make_unique<korvo::test::ScopedEnv>("ZENOH_CONFIG", connector->path());

  std::vector<std::unique_ptr<Subject>> subjects;
  subjects.push_back(MakeSubject(simulator->AddRobot(ProductModel::Olvar_L, "Olvar-L-000001"),
                                 "Olvar-L", "Olvar-L-000001", 1));
  subjects.push_back(
      MakeSubject(simulator->AddRobot(ProductModel::TAVU_Ultra, "TAVU-Ultra-000001", 6),
                  "TAVU-Ultra+6ext", "TAVU-Ultra-000001", 2));
  for (const auto& s : subjects) CrossCheck(*s);
  for (const auto& s : subjects) Register(s.get());

  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter, subjects);

  // Model before Robot, both before the simulator.
  for (auto& s : subjects) {
    s->model.reset();
    s->robot.reset();
  }
  subjects.clear();
  env.reset();
  connector.reset();
  simulator.reset();
  benchmark::Shutdown();
  return 0;
}
