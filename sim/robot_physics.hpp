// The physical twin of one simulated robot: its dynamics (the URDF it serves, rotor inertias,
// joint friction) and the controller that each control mode runs on it. The robot's motion logic
// gives the references (its motion generator's trajectory, the streamed targets and torques);
// this integrates what the joints physically do under the mode's controller.
#pragma once

#include <Eigen/Core>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "sim/cartesian_control.hpp"
#include "sim/contact.hpp"
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
  // The TCP of each arm (contacts act there) and, in real-time Cartesian control, what each
  // arm's TCP is to do; the joints of the arms in `cartesian` follow it instead of q_d.
  std::span<const Tcp> tcps;
  std::vector<std::pair<CartesianTarget, CartesianSettings>> cartesian;  // one per arm, as tcps
  // External wrenches (force then torque, world axes) at link origins.
  std::map<std::string, Vector6d> wrenches;
};

class RobotPhysics {
 public:
  // The robot's own dynamics: rotor inertias of 2 g m^2 per Nm of each joint's torque limit,
  // viscous friction of 0.2 % and Coulomb friction of 0.1 % of it per rad/s and as torque (what
  // is left of the drives' friction behind the joint torque sensors' loop).
  explicit RobotPhysics(const RobotModel& model);

  Dynamics& dynamics() { return dynamics_; }
  const Dynamics& dynamics() const { return dynamics_; }

  // The joint impedance the impedance modes track with, for joints [start, start + size):
  // stiffness [Nm/rad] and damping ratio. Every joint starts at its nominal stiffness and 0.7.
  void SetJointImpedance(int start, const std::vector<double>& stiffness,
                         const std::vector<double>& damping_ratio);

  // A plane and a box the TCPs touch, or none.
  void SetContactPlane(std::optional<ContactPlane> plane) { plane_ = plane; }
  void SetContactBox(std::optional<ContactBox> box) { box_ = box; }
  // The force the contacts exerted on each TCP in the last step, world axes (zero without
  // contact).
  const std::vector<Eigen::Vector3d>& contact_forces() const { return contact_forces_; }

  // The joint torques the external wrenches and contacts exerted in the last step: what the
  // robot's estimate of tau_ext reads.
  const Eigen::VectorXd& external_torques() const { return external_torques_; }
  // Per TCP after the last step: the external wrench on it as the robot estimates it from its
  // arm's external torques (force then moment, world axes, at the TCP), and its twist (linear
  // then angular velocity, world axes).
  const std::vector<Vector6d>& tcp_wrenches() const { return tcp_wrenches_; }
  const std::vector<Vector6d>& tcp_twists() const { return tcp_twists_; }

  // Advances `q` and `dq` by `dt` under the mode's controller and returns the joint torques the
  // drives applied, each within its rated torque. With the brakes engaged the joints do not move.
  std::vector<double> Step(const JointReference& reference, std::vector<double>& q,
                           std::vector<double>& dq, double dt);

 private:
  void EstimateTcpWrenches(std::span<const Tcp> tcps, const JointState& state);
  // What force control adds to arm `arm`'s commanded wrench (force-control frame axes) so that
  // the wrench the robot measures on its TCP converges to it.
  Vector6d ForceCorrection(std::size_t arm, const CartesianTarget& target,
                           const CartesianSettings& settings, double dt);

  Dynamics dynamics_;
  Eigen::VectorXd tau_max_;  // the drives' rated torques, full DoF
  SoftLimits soft_limits_;
  JointImpedance nominal_;    // stiff position tracking of the position modes
  JointImpedance impedance_;  // what the impedance settings ask
  std::optional<ContactPlane> plane_;
  std::optional<ContactBox> box_;
  std::vector<Eigen::Vector3d> contact_forces_;
  Eigen::VectorXd external_torques_;
  std::vector<Vector6d> tcp_wrenches_, tcp_twists_;
  std::vector<Vector6d> force_integrals_;  // per arm in Cartesian control
};

}  // namespace korvo::sim
