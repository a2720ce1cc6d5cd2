// The physical twin of one simulated robot: its dynamics (the URDF it serves, rotor inertias,
// joint friction) and the controller that each control mode runs on it. The robot's motion logic
// gives the references (its motion generator's trajectory, the streamed targets and torques);
// this integrates what the joints physically do under the mode's controller.
#pragma once

#include <Eigen/Core>
#include <map>
#include <string>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "sim/dynamics.hpp"
#include "sim/joint_control.hpp"
#include "sim/robot_model.hpp"

namespace korvo::sim {

// What the robot asks of its joints for one control period, full DoF.
struct JointReference {
  vyr::Mode mode = vyr::Mode::IDLE;
  bool brakes_engaged = true;
  const std::vector<double>* q_d = nullptr;  // trajectory or streamed positions
  const std::vector<double>* dq_d = nullptr;
  const std::vector<double>* tau_d = nullptr;  // streamed torques (RT joint torque)
  TorqueCommandOptions torque;
};

class RobotPhysics {
 public:
  // The robot's own dynamics: rotor inertias of 2 g m^2 per Nm of each joint's torque limit,
  // viscous friction of 0.2 % and Coulomb friction of 0.5 % of it per rad/s and as torque.
  explicit RobotPhysics(const RobotModel& model);

  Dynamics& dynamics() { return dynamics_; }
  const Dynamics& dynamics() const { return dynamics_; }

  // The joint impedance the impedance modes track with, for joints [start, start + size):
  // stiffness [Nm/rad] and damping ratio. Every joint starts at its nominal stiffness and 0.7.
  void SetJointImpedance(int start, const std::vector<double>& stiffness,
                         const std::vector<double>& damping_ratio);

  // Advances `q` and `dq` by `dt` under the mode's controller and returns the joint torques the
  // drives applied. With the brakes engaged the joints do not move.
  std::vector<double> Step(const JointReference& reference, std::vector<double>& q,
                           std::vector<double>& dq, double dt);

 private:
  Dynamics dynamics_;
  SoftLimits soft_limits_;
  JointImpedance nominal_;    // stiff position tracking of the position modes
  JointImpedance impedance_;  // what the impedance settings ask
};

}  // namespace korvo::sim
