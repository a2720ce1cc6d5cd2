// The operations the core answers itself: joint limits, digital outputs, reachability (the
// constrained IK), the controller settings, and the primitive and plan states.
#include "sim/sim_robot.hpp"

#include <algorithm>
#include <cmath>
#include "sim/primitive_text.hpp"

#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

namespace {

// Seeds spread over the joint ranges that a constrained IK tries after the client's own.
constexpr int kIkSpreadSeeds = 5;

}  // namespace

bool SimRobot::JointLimits(const VyrRequest& request, VyrReply& reply) const {
  reply.string_container = {software_version_};
  for (const auto g : request.joint_groups) {
    if (!GroupExists(g)) continue;
    const auto [start, n] = ReportedLayout(g);
    // The robot reports the velocity limits of the safety state it is in.
    const auto* dq_max = safety_ == safety::kReduced ? &dq_max_reduced_ : &dq_max_;
    std::vector<float> row;
    for (const auto* limits : {&q_max_, &q_min_, dq_max, &tau_max_}) {
      const auto part = Floats(*limits, start, n);
      row.insert(row.end(), part.begin(), part.end());
    }
    reply.joint_groups.push_back(g);
    reply.float2d_container.push_back(std::move(row));
  }
  return true;
}

bool SimRobot::DigitalOutputs(const VyrRequest& request) {
  const auto& ints = request.int_container;
  if (ints.size() != digital_outputs_.size()) return false;
  for (const auto v : ints) {
    if (v < -1 || v > 1) return false;
  }
  for (std::size_t i = 0; i < ints.size(); ++i) {
    if (ints[i] >= 0) digital_outputs_[i] = ints[i] == 1;
  }
  return true;
}

std::optional<std::vector<double>> SimRobot::PostureFor(std::uint16_t arm,
                                                        const std::array<double, 7>& pose) const {
  const auto target = TargetOf(pose, false);
  if (!target) return std::nullopt;
  const IkArm ik_arm{model_, static_cast<JointGroup>(arm), tools_.active_tcp(arm), q_min_, q_max_};
  auto solution = SolveArmIk(ik_arm, *target, std::span(&q_, 1));
  if (!solution.reached) return std::nullopt;
  return std::move(solution.q);
}

bool SimRobot::Reachability(const VyrRequest& request, VyrReply& reply) const {
  // Solving may take milliseconds for a pose out of reach: the request is checked and what the
  // solver needs is copied under the lock, and the arms are solved outside it, so that the 1 kHz
  // loop never waits for a solver.
  struct Problem {
    std::uint16_t group;
    IkTarget target;
    std::array<double, 7> tcp;
    std::vector<double> seed;  // the client's
  };
  std::vector<Problem> problems;
  std::vector<double> q, q_min, q_max;
  {
    std::lock_guard lock(mutex_);
    const auto& groups = request.joint_groups;
    const auto& rows = request.float2d_container;
    if (groups.empty() || request.int_container.size() != groups.size() ||
        rows.size() != groups.size()) {
      return false;
    }
    for (std::size_t i = 0; i < groups.size(); ++i) {
      const auto g = groups[i];
      if ((g != kArm1 && g != kArm2) || !GroupExists(g)) return false;
      if (std::find(groups.begin(), groups.begin() + i, g) != groups.begin() + i) return false;
      const auto free = request.int_container[i];
      if ((free != 0 && free != 1) || rows[i].size() != 7 + Layout(g).second) return false;
      if (!AllFinite(rows[i])) return false;
      std::array<double, 7> pose{};
      std::copy(rows[i].begin(), rows[i].begin() + 7, pose.begin());
      const auto target = TargetOf(pose, free == 1);
      if (!target) return false;
      problems.push_back({g, *target, tools_.active_tcp(g), {rows[i].begin() + 7, rows[i].end()}});
    }
    q = q_;
    q_min = q_min_;
    q_max = q_max_;
  }
  bool all = true;
  for (const auto& p : problems) {
    const auto [start, n] = Layout(p.group);
    // The client's seed first; should it lead nowhere, the current posture, the home posture and
    // a few spread over the joint ranges.
    std::vector<std::vector<double>> seeds(3, q);
    for (unsigned j = 0; j < n; ++j) {
      seeds[0][start + j] = p.seed[j];
      seeds[2][start + j] = model_.joints()[start + j].home;
    }
    const IkArm arm{model_, static_cast<JointGroup>(p.group), p.tcp, q_min, q_max};
    auto spread = SpreadSeeds(arm, q, kIkSpreadSeeds);
    seeds.insert(seeds.end(), spread.begin(), spread.end());
    const IkSolution solution = SolveArmIk(arm, p.target, seeds);
    all = all && solution.reached;
    reply.joint_groups.push_back(p.group);
    reply.float2d_container.push_back(Floats(solution.q, start, n));
  }
  reply.int_container = {all ? 1 : 0};
  return true;
}

bool SimRobot::Setting(const VyrRequest& request) {
  if (request.joint_groups.size() != 1 || !GroupExists(request.joint_groups[0])) return false;
  const auto g = request.joint_groups[0];
  const unsigned n = Layout(g).second;
  const auto floats = request.float_container.size();
  const auto ints = request.int_container.size();
  const bool joint_impedance =
      mode_ == Mode::RT_JOINT_IMPEDANCE || mode_ == Mode::NRT_JOINT_IMPEDANCE;
  const bool cartesian = mode_ == Mode::RT_CARTESIAN_MOTION_FORCE ||
                         mode_ == Mode::NRT_CARTESIAN_MOTION_FORCE ||
                         mode_ == Mode::NRT_SUPER_PRIMITIVE;
  bool ok = false;
  switch (request.op_code) {
    case 70:
      ok = cartesian && floats == 12;
      break;
    case 71:
      ok = joint_impedance && floats == 2 * n;
      break;
    case 72:
      ok = cartesian && floats == 6;
      break;
    case 73:
      ok = cartesian && floats == n;
      break;
    case 74:
      ok = cartesian && floats == 3;
      break;
    case 75:
    case 76:
      ok = joint_impedance && floats == n;
      break;
    case 80:
      ok = cartesian && ints == 6 && floats == 3;
      break;
    case 81:
      ok = cartesian && floats == 7 && request.string_container.size() == 1 &&
           (request.string_container[0] == "WORLD" || request.string_container[0] == "TCP");
      break;
    case 82:
      ok = mode_ == Mode::IDLE && ints == 1;
      break;
  }
  // A setting that is not a number would make the controllers' output none either.
  ok = ok && AllFinite(request.float_container);
  if (ok && request.op_code == 71) {
    const auto& v = request.float_container;
    ok = std::all_of(v.begin(), v.end(), [](float x) { return x >= 0.0f; });
    if (ok && physics_) {
      physics_->SetJointImpedance(Layout(g).first, {v.begin(), v.begin() + n},
                                  {v.begin() + n, v.end()});
    }
  }
  if (ok) settings_[{request.op_code, g}] = request;
  return ok;
}

std::vector<std::string> SimRobot::PrimitiveStateTexts() {
  std::vector<std::string> texts;
  for (const auto& [g, run] : primitives_) {
    std::ostringstream period;
    period << run.time_period;
    texts.push_back("jointGroup = " + std::to_string(g));
    texts.push_back("primitiveName = " + run.name);
    texts.push_back("reachedTarget = " + reached_target_text_.value_or(run.reached ? "1" : "0"));
    texts.push_back("timePeriod = " + period.str());
  }
  if (corrupt_primitive_states_ > 0) {
    --corrupt_primitive_states_;
    texts.insert(texts.begin(), "");
  }
  return texts;
}

std::vector<std::string> SimRobot::PlanInfoTexts() const {
  if (!plan_) return {"", "", "", "0", "0", last_plan_, std::to_string(velocity_scale_), "0"};
  const std::size_t node = std::min(plan_->next, plan_->waypoints.size() - 1) + 1;
  // A plan started after the last step has run for no time yet.
  const double elapsed =
      std::max(0.0, std::chrono::duration<double>(now_ - plan_->started).count());
  std::ostringstream period;
  period << elapsed;
  return {"MoveJ",
          "node_" + std::to_string(node),
          "rootNode/node_" + std::to_string(node),
          period.str(),
          std::to_string(node),
          plan_->name,
          std::to_string(velocity_scale_),
          plan_->waiting_for_step ? "1" : "0"};
}

}  // namespace korvo::sim
