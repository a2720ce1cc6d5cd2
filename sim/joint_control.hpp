// The robot's joint-level controllers, as torque laws over the simulator's dynamics: the joint
// torque mode (the commanded torque plus gravity and friction compensation and soft joint limits,
// as the command asks) and joint impedance (a spring and damper per joint towards a desired
// motion, on top of gravity and friction compensation).
#pragma once

#include <Eigen/Core>

#include "sim/dynamics.hpp"

namespace korvo::sim {

// Where a joint's soft limit starts pushing back, and how hard: a spring of `stiffness` per
// unit of depth into the last `margin` of the range, damped while moving outwards.
struct SoftLimits {
  Eigen::VectorXd q_min, q_max;
  double margin = 0.1;       // rad (m)
  double stiffness = 200.0;  // Nm/rad (N/m)
  double damping = 10.0;     // Nm s/rad (N s/m)
};

// The joint torque mode's options, as a streamed command carries them.
struct TorqueCommandOptions {
  bool gravity_compensation = true;
  bool soft_limits = true;
  double friction_compensation = 100.0;  // per cent of the joint friction
};

// tau_d plus what the options add: the gravity torques, the friction the joints feel at their
// velocity (scaled), and the soft limits' push.
Eigen::VectorXd JointTorqueControl(const Dynamics& dynamics, const JointState& state,
                                   const Eigen::VectorXd& tau_d,
                                   const TorqueCommandOptions& options, const SoftLimits& limits);

// The repelling torque of the soft limits at `state`: zero away from the limits.
Eigen::VectorXd SoftLimitTorque(const JointState& state, const SoftLimits& limits);

// Stiffness [Nm/rad or N/m] and damping ratio of each joint's impedance.
struct JointImpedance {
  Eigen::VectorXd stiffness, damping_ratio;
};

// K·(q_d - q) + D·(dq_d - dq) + M·ddq_d + g + friction compensation, with D_j = 2·ζ_j·√(K_j·M_jj):
// each joint answers a step as a second-order system of natural frequency √(K_j / M_jj) and
// damping ratio ζ_j.
Eigen::VectorXd JointImpedanceControl(const Dynamics& dynamics, const JointState& state,
                                      const Eigen::VectorXd& q_d, const Eigen::VectorXd& dq_d,
                                      const Eigen::VectorXd& ddq_d,
                                      const JointImpedance& impedance);

}  // namespace korvo::sim
