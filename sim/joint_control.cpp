#include "sim/joint_control.hpp"

namespace korvo::sim {

Eigen::VectorXd SoftLimitTorque(const JointState& state, const SoftLimits& limits) {
  Eigen::VectorXd tau = Eigen::VectorXd::Zero(state.q.size());
  for (Eigen::Index j = 0; j < state.q.size(); ++j) {
    const double into_max = state.q[j] - (limits.q_max[j] - limits.margin);
    const double into_min = (limits.q_min[j] + limits.margin) - state.q[j];
    if (into_max > 0.0) {
      tau[j] = -limits.stiffness * into_max - limits.damping * std::max(state.dq[j], 0.0);
    } else if (into_min > 0.0) {
      tau[j] = limits.stiffness * into_min - limits.damping * std::min(state.dq[j], 0.0);
    }
  }
  return tau;
}

Eigen::VectorXd JointTorqueControl(const Dynamics& dynamics, const JointState& state,
                                   const Eigen::VectorXd& tau_d,
                                   const TorqueCommandOptions& options, const SoftLimits& limits) {
  Eigen::VectorXd tau = tau_d;
  if (options.gravity_compensation) tau += dynamics.Gravity(state.q);
  if (options.friction_compensation > 0.0) {
    tau -= options.friction_compensation / 100.0 * dynamics.FrictionTorque(state.dq);
  }
  if (options.soft_limits) tau += SoftLimitTorque(state, limits);
  return tau;
}

Eigen::VectorXd JointImpedanceControl(const Dynamics& dynamics, const JointState& state,
                                      const Eigen::VectorXd& q_d, const Eigen::VectorXd& dq_d,
                                      const Eigen::VectorXd& ddq_d,
                                      const JointImpedance& impedance) {
  const Eigen::MatrixXd m = dynamics.MassMatrix(state.q);
  const Eigen::VectorXd damping = 2.0 * impedance.damping_ratio.array() *
                                  (impedance.stiffness.array() * m.diagonal().array()).sqrt();
  return impedance.stiffness.cwiseProduct(q_d - state.q) + damping.cwiseProduct(dq_d - state.dq) +
         m * ddq_d + dynamics.Gravity(state.q) - dynamics.FrictionTorque(state.dq);
}

}  // namespace korvo::sim
