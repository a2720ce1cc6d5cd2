#include "sim/arm_ik.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "sim/tools.hpp"

namespace korvo::sim {
namespace {

// Steps stop once the errors are this far inside the tolerances, so that the reply's narrowing to
// float (a few 1e-7 rad per joint) cannot carry a reached solution back out of them.
constexpr double kRefinement = 100.0;
// Damping added to J·Jᵀ: where it starts, how it falls after a step that lowered the error and
// rises after one that did not, and the bounds beyond which no step lowers it any more (the
// target is out of reach from here, or the arm is held at its limits).
constexpr double kInitialDamping = 1e-3;
constexpr double kMinDamping = 1e-9;
constexpr double kMaxDamping = 1e3;
constexpr double kDampingDown = 0.3;
constexpr double kDampingUp = 10.0;
// Largest change of one joint in one step [rad or m]: keeps a step inside the region where the
// Jacobian still describes the arm.
constexpr double kMaxJointStep = 0.5;

class Solver {
 public:
  Solver(const IkArm& arm, const IkTarget& target)
      : arm_(arm),
        target_(target),
        start_(static_cast<unsigned>(arm.model.groups().at(arm.arm).first)),
        n_(arm.model.groups().at(arm.arm).second),
        tool_offset_(arm.tcp_location[0], arm.tcp_location[1], arm.tcp_location[2]),
        rows_(target.free_orientation ? 3 : 6) {}

  IkSolution From(std::vector<double> q) const {
    for (unsigned k = start_; k < start_ + n_; ++k) q[k] = std::clamp(q[k], lower(k), upper(k));
    Eigen::VectorXd error = Error(q);
    double damping = kInitialDamping;
    for (int step = 0; step < kIkStepsPerSeed && !Refined(error); ++step) {
      std::vector<double> tried = q;
      const Eigen::VectorXd dq = Step(q, error, damping);
      for (unsigned j = 0; j < n_; ++j) {
        const unsigned k = start_ + j;
        tried[k] = std::clamp(q[k] + dq(j), lower(k), upper(k));
      }
      const Eigen::VectorXd tried_error = Error(tried);
      if (tried_error.squaredNorm() < error.squaredNorm()) {
        q = std::move(tried);
        error = tried_error;
        damping = std::max(damping * kDampingDown, kMinDamping);
      } else {
        damping *= kDampingUp;
        if (damping > kMaxDamping) break;
      }
    }
    IkSolution solution{std::move(q), false, error.head<3>().norm(),
                        rows_ == 6 ? error.tail<3>().norm() : 0.0};
    solution.reached = solution.position_error <= kIkPositionTolerance &&
                       solution.orientation_error <= kIkOrientationTolerance;
    return solution;
  }

 private:
  double lower(unsigned j) const { return arm_.q_min[j]; }
  double upper(unsigned j) const { return arm_.q_max[j]; }

  // Target minus TCP: the position difference, then (unless free) the rotation vector that turns
  // the TCP's orientation into the target's, both in world axes.
  Eigen::VectorXd Error(const std::vector<double>& q) const {
    const auto tcp = ComposeTcp(arm_.model.FlangePose(arm_.arm, q), arm_.tcp_location);
    Eigen::VectorXd error(rows_);
    error.head<3>() = target_.position - Eigen::Vector3d(tcp[0], tcp[1], tcp[2]);
    if (rows_ == 6) {
      const Eigen::Quaterniond orientation(tcp[3], tcp[4], tcp[5], tcp[6]);
      const Eigen::AngleAxisd turn(target_.orientation * orientation.conjugate());
      error.tail<3>() = turn.axis() * turn.angle();
    }
    return error;
  }

  bool Refined(const Eigen::VectorXd& error) const {
    return error.head<3>().norm() <= kIkPositionTolerance / kRefinement &&
           (rows_ == 3 || error.tail<3>().norm() <= kIkOrientationTolerance / kRefinement);
  }

  // The damped least-squares step towards the target. A joint held at a limit that the step would
  // push it through takes no part: its column is dropped and the step computed again.
  Eigen::VectorXd Step(const std::vector<double>& q, const Eigen::VectorXd& error,
                       double damping) const {
    Eigen::MatrixXd J = arm_.model.ArmJacobian(arm_.arm, q, tool_offset_).topRows(rows_);
    Eigen::VectorXd dq = Eigen::VectorXd::Zero(n_);
    for (unsigned pass = 0; pass <= n_; ++pass) {
      const Eigen::MatrixXd JJt =
          J * J.transpose() + damping * Eigen::MatrixXd::Identity(rows_, rows_);
      dq = J.transpose() * JJt.ldlt().solve(error);
      bool dropped = false;
      for (unsigned j = 0; j < n_; ++j) {
        const unsigned k = start_ + j;
        const bool held = (q[k] <= lower(k) && dq(j) < 0.0) || (q[k] >= upper(k) && dq(j) > 0.0);
        if (held && !J.col(j).isZero()) {
          J.col(j).setZero();
          dropped = true;
        }
      }
      if (!dropped) break;
    }
    const double largest = dq.cwiseAbs().maxCoeff();
    if (largest > kMaxJointStep) dq *= kMaxJointStep / largest;
    return dq;
  }

  const IkArm& arm_;
  const IkTarget& target_;
  const unsigned start_, n_;  // the arm's joints in full-DoF order
  const Eigen::Vector3d tool_offset_;
  const int rows_;
};

// Fractional parts of the square roots of the first primes: stepping each joint by its own
// irrational fraction spreads the seeds evenly without two joints moving in step.
constexpr std::array<double, 7> kSpreadSteps = {0.41421356, 0.73205081, 0.23606798, 0.64575131,
                                                0.31662479, 0.60555128, 0.12310563};

// How far a solution is from its target, to pick the closest of several: one metre of position
// weighs as much as one radian of orientation.
double Distance(const IkSolution& s) { return std::hypot(s.position_error, s.orientation_error); }

}  // namespace

IkSolution SolveArmIk(const IkArm& arm, const IkTarget& target,
                      std::span<const std::vector<double>> seeds) {
  const Solver solver(arm, target);
  IkSolution best;
  double best_distance = std::numeric_limits<double>::infinity();
  for (const auto& seed : seeds) {
    IkSolution solution = solver.From(seed);
    if (solution.reached) return solution;
    const double distance = Distance(solution);
    if (distance < best_distance) {
      best_distance = distance;
      best = std::move(solution);
    }
  }
  return best;
}

std::vector<std::vector<double>> SpreadSeeds(const IkArm& arm, const std::vector<double>& base,
                                             int count) {
  const auto [start, n] = arm.model.groups().at(arm.arm);
  std::vector<std::vector<double>> seeds;
  for (int k = 1; k <= count; ++k) {
    std::vector<double> q = base;
    for (unsigned j = 0; j < n; ++j) {
      const std::size_t at = static_cast<std::size_t>(start) + j;
      double fraction = 0.5 + k * kSpreadSteps[j % kSpreadSteps.size()];
      fraction -= std::floor(fraction);
      q[at] = arm.q_min[at] + (arm.q_max[at] - arm.q_min[at]) * (0.1 + 0.8 * fraction);
    }
    seeds.push_back(std::move(q));
  }
  return seeds;
}

}  // namespace korvo::sim
