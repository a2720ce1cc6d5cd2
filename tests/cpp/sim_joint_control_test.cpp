// The joint-level controllers in closed loop with the simulator's dynamics: an impedance step
// overshoots and settles as the stiffness and damping ratio predict, the torque mode's soft limits
// keep a pushed joint off its hard stop, and gravity compensation is what holds the arm.
#include "sim/joint_control.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dynamics_fixture.hpp"

namespace korvo::sim {
namespace {

constexpr double kDt = 1e-3;

// What a unit step response shows of the second-order system behind it: the damping ratio from
// its overshoot and the natural frequency from the time of its first peak.
struct SecondOrder {
  double overshoot, zeta, omega;
  // The time after which the decay envelope stays within ±2 % of the step.
  double SettlingTime() const {
    return std::log(1.0 / (0.02 * std::sqrt(1.0 - zeta * zeta))) / (zeta * omega);
  }
};

SecondOrder Identify(const std::vector<double>& response, double dt) {
  const auto peak = std::max_element(response.begin(), response.end());
  const double overshoot = *peak - 1.0;
  const double log_overshoot = std::log(overshoot);
  const double zeta = -log_overshoot / std::sqrt(M_PI * M_PI + log_overshoot * log_overshoot);
  const double peak_time = static_cast<double>(peak - response.begin() + 1) * dt;
  return {overshoot, zeta, M_PI / (peak_time * std::sqrt(1.0 - zeta * zeta))};
}

TEST(JointImpedanceTest, AStepOvershootsAndSettlesAsStiffnessAndDampingPredict) {
  const auto r = test::MakeDynamicsRobot(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  dynamics.SetFriction({Eigen::VectorXd::Constant(n, 0.3), Eigen::VectorXd::Zero(n)});
  for (const Eigen::Index joint : {1, 3, 5}) {
    for (const double zeta : {0.3, 0.5, 0.7}) {
      SCOPED_TRACE(::testing::Message() << "joint " << joint << ", damping ratio " << zeta);
      JointState s{r.At(0.45), Eigen::VectorXd::Zero(n)};
      const Eigen::VectorXd m = dynamics.MassMatrix(s.q).diagonal();
      // The stepped joint at 10 rad/s; the others held stiffly, at 100 rad/s.
      const double omega = 10.0;
      JointImpedance impedance{(m.array() * 1e4).matrix(), Eigen::VectorXd::Constant(n, 0.7)};
      impedance.stiffness[joint] = m[joint] * omega * omega;
      impedance.damping_ratio[joint] = zeta;
      Eigen::VectorXd target = s.q;
      target[joint] += 0.1;
      std::vector<double> response;
      const Eigen::VectorXd zero = Eigen::VectorXd::Zero(n);
      for (int i = 0; i < 3000; ++i) {
        dynamics.Step(s, JointImpedanceControl(dynamics, s, target, zero, zero, impedance), kDt);
        response.push_back((s.q[joint] - (target[joint] - 0.1)) / 0.1);
      }
      const SecondOrder predicted{std::exp(-zeta * M_PI / std::sqrt(1.0 - zeta * zeta)), zeta,
                                  omega};
      const SecondOrder seen = Identify(response, kDt);
      EXPECT_NEAR(seen.overshoot, predicted.overshoot, 0.1 * predicted.overshoot);
      EXPECT_NEAR(seen.SettlingTime(), predicted.SettlingTime(), 0.1 * predicted.SettlingTime());
      EXPECT_NEAR(response.back(), 1.0, 1e-3);
    }
  }
}

TEST(JointTorqueControlTest, SoftLimitsKeepAPushedJointOffItsHardStop) {
  const auto r = test::MakeDynamicsRobot(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  // The other joints are held by friction: the pushed one moves alone.
  Eigen::VectorXd coulomb = Eigen::VectorXd::Constant(n, 200.0);
  coulomb[2] = 0.2;
  dynamics.SetFriction({Eigen::VectorXd::Constant(n, 1.0), coulomb});
  const SoftLimits limits{r.q_min, r.q_max};
  Eigen::VectorXd push = Eigen::VectorXd::Zero(n);
  push[2] = 10.0;
  for (const bool soft : {true, false}) {
    SCOPED_TRACE(soft ? "soft limits" : "no soft limits");
    JointState s{r.At(0.5), Eigen::VectorXd::Zero(n)};
    const TorqueCommandOptions options{true, soft, 100.0};
    for (int i = 0; i < 4000; ++i) {
      dynamics.Step(s, JointTorqueControl(dynamics, s, push, options, limits), kDt);
    }
    if (soft) {
      // At rest where the soft limit's spring meets the push: 10 / 200 into the 0.1 margin.
      EXPECT_NEAR(s.q[2], r.q_max[2] - limits.margin + push[2] / limits.stiffness, 0.2 / 200.0);
    } else {
      EXPECT_EQ(s.q[2], r.q_max[2]);
    }
  }
}

TEST(JointTorqueControlTest, WithoutGravityCompensationTheArmFallsAndFrictionCompensationFrees) {
  const auto r = test::MakeDynamicsRobot(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  dynamics.SetFriction({Eigen::VectorXd::Constant(n, 5.0), Eigen::VectorXd::Zero(n)});
  const SoftLimits limits{r.q_min, r.q_max};
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(n);

  JointState falling{r.At(0.3), zero};
  for (int i = 0; i < 300; ++i) {
    dynamics.Step(falling, JointTorqueControl(dynamics, falling, zero, {false, false, 0.0}, limits),
                  kDt);
  }
  EXPECT_GT((falling.q - r.At(0.3)).cwiseAbs().maxCoeff(), 1e-2);

  // A joint set spinning coasts when its viscous friction is compensated, and slows when not.
  for (const double scale : {100.0, 0.0}) {
    JointState s{r.At(0.5), zero};
    s.dq[0] = 0.5;
    for (int i = 0; i < 500; ++i) {
      dynamics.Step(s, JointTorqueControl(dynamics, s, zero, {true, false, scale}, limits), kDt);
    }
    if (scale > 0.0) {
      EXPECT_NEAR(s.dq[0], 0.5, 0.02);
    } else {
      EXPECT_LT(s.dq[0], 0.25);
    }
  }
}

}  // namespace
}  // namespace korvo::sim
