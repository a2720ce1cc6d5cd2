#include "sim/robot_physics.hpp"

#include <algorithm>
#include <cmath>

namespace korvo::sim {
namespace {

Eigen::VectorXd Column(const RobotModel& model, double (*field)(const JointSpec&)) {
  Eigen::VectorXd v(static_cast<Eigen::Index>(model.joints().size()));
  for (std::size_t j = 0; j < model.joints().size(); ++j) {
    v[static_cast<Eigen::Index>(j)] = field(model.joints()[j]);
  }
  return v;
}

// The joints' nominal stiffness: the arms' large joints 8500 Nm/rad, the wrists 2000; the body
// and external axes as stiff as the large joints.
Eigen::VectorXd NominalStiffness(const RobotModel& model) {
  return Column(model, [](const JointSpec& j) { return j.tau_max > 60.0 ? 8500.0 : 2000.0; });
}

Eigen::VectorXd Map(const std::vector<double>& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<Eigen::Index>(v.size()));
}

}  // namespace

RobotPhysics::RobotPhysics(const RobotModel& model)
    : dynamics_(model.urdf(), Column(model, [](const JointSpec& j) { return j.q_min; }),
                Column(model, [](const JointSpec& j) { return j.q_max; })) {
  tau_max_ = Column(model, [](const JointSpec& j) { return j.tau_max; });
  dynamics_.SetArmature(0.002 * tau_max_);
  dynamics_.SetFriction({0.002 * tau_max_, 0.001 * tau_max_});
  soft_limits_.q_min = Column(model, [](const JointSpec& j) { return j.q_min; });
  soft_limits_.q_max = Column(model, [](const JointSpec& j) { return j.q_max; });
  nominal_ = {NominalStiffness(model),
              Eigen::VectorXd::Constant(static_cast<Eigen::Index>(model.full_dof()), 0.7)};
  impedance_ = nominal_;
}

void RobotPhysics::SetJointImpedance(int start, const std::vector<double>& stiffness,
                                     const std::vector<double>& damping_ratio) {
  for (std::size_t j = 0; j < stiffness.size() && j < damping_ratio.size(); ++j) {
    const auto c = static_cast<Eigen::Index>(start) + static_cast<Eigen::Index>(j);
    if (c < 0 || c >= impedance_.stiffness.size()) break;
    impedance_.stiffness[c] = stiffness[j];
    impedance_.damping_ratio[c] = damping_ratio[j];
  }
}

void RobotPhysics::EstimateTcpWrenches(std::span<const Tcp> tcps, const JointState& state) {
  tcp_wrenches_.assign(tcps.size(), Vector6d::Zero());
  tcp_twists_.assign(tcps.size(), Vector6d::Zero());
  for (std::size_t i = 0; i < tcps.size(); ++i) {
    const Eigen::MatrixXd jacobian = TcpJacobian(dynamics_, tcps[i], state.q);
    tcp_twists_[i] = jacobian * state.dq;
    if (tcps[i].joints.empty()) continue;
    // The wrench whose torques through the arm's Jacobian come closest to the arm's external
    // torques, damped near singular postures: tau_ext = J^T w.
    const auto n = static_cast<Eigen::Index>(tcps[i].joints.size());
    Eigen::MatrixXd arm(6, n);
    Eigen::VectorXd torques(n);
    for (Eigen::Index k = 0; k < n; ++k) {
      const Eigen::Index j = tcps[i].joints[static_cast<std::size_t>(k)];
      arm.col(k) = jacobian.col(j);
      torques[k] = external_torques_[j];
    }
    if (torques.isZero(0.0)) continue;
    const Eigen::Matrix<double, 6, 6> damped =
        arm * arm.transpose() + 1e-8 * Eigen::Matrix<double, 6, 6>::Identity();
    tcp_wrenches_[i] = damped.ldlt().solve(arm * torques);
  }
}

Vector6d RobotPhysics::ForceCorrection(std::size_t arm, const CartesianTarget& target,
                                       const CartesianSettings& settings, double dt) {
  // On the force axes, the wrench the TCP applies is the negative of the external wrench the robot
  // estimates on it: integrating their difference removes what joint friction and model errors
  // take from the commanded wrench. Bounded, so that pushing into free space cannot wind it up.
  constexpr double kGain = 20.0;  // 1/s
  Vector6d& integral = force_integrals_[arm];
  if (arm >= tcp_wrenches_.size()) return Vector6d::Zero();
  const Eigen::Matrix3d to_frame = settings.force_frame.transpose();
  Vector6d applied;
  applied << -(to_frame * tcp_wrenches_[arm].head<3>()), -(to_frame * tcp_wrenches_[arm].tail<3>());
  for (int k = 0; k < 6; ++k) {
    if (!settings.force_axes[static_cast<std::size_t>(k)]) {
      integral[k] = 0.0;
      continue;
    }
    const double bound = 0.2 * std::abs(target.wrench[k]) + 1.0;
    integral[k] =
        std::clamp(integral[k] + kGain * (target.wrench[k] - applied[k]) * dt, -bound, bound);
  }
  return integral;
}

std::vector<double> RobotPhysics::Step(const JointReference& reference, std::vector<double>& q,
                                       std::vector<double>& dq, double dt) {
  JointState state{Map(q), Map(dq)};
  Eigen::VectorXd tau;
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(state.q.size());
  // Where a contact touches a TCP, its force acts there.
  auto wrenches = reference.wrenches;
  contact_forces_.assign(reference.tcps.size(), Eigen::Vector3d::Zero());
  for (std::size_t i = 0; (plane_ || box_) && i < reference.tcps.size(); ++i) {
    const Tcp& tcp = reference.tcps[i];
    const Eigen::Vector3d at = TcpPose(dynamics_, tcp, state.q).translation();
    const Eigen::Vector3d velocity = (TcpJacobian(dynamics_, tcp, state.q) * state.dq).head<3>();
    Eigen::Vector3d force = Eigen::Vector3d::Zero();
    if (plane_) force += ContactForce(*plane_, at, velocity).value_or(Eigen::Vector3d::Zero());
    if (box_) force += ContactForce(*box_, at, velocity).value_or(Eigen::Vector3d::Zero());
    if (force.isZero(0.0)) continue;
    contact_forces_[i] = force;
    const Eigen::Vector3d flange = dynamics_.Pose(tcp.flange, state.q).translation();
    auto& wrench = wrenches.try_emplace(tcp.flange, Vector6d::Zero()).first->second;
    wrench += WrenchAt(flange, at, force);
  }
  external_torques_ = Eigen::VectorXd::Zero(state.q.size());
  for (const auto& [link, wrench] : wrenches) {
    external_torques_ += dynamics_.Jacobian(link, state.q).transpose() * wrench;
  }
  if (reference.brakes_engaged) {
    // The brakes carry the links: the sensors read what holds them against gravity and the
    // external wrenches.
    tau = dynamics_.Gravity(state.q) - external_torques_;
    std::fill(dq.begin(), dq.end(), 0.0);
    state.dq.setZero();
    EstimateTcpWrenches(reference.tcps, state);
    return {tau.data(), tau.data() + tau.size()};
  }
  switch (reference.mode) {
    case vyr::Mode::RT_JOINT_TORQUE:
      tau = JointTorqueControl(dynamics_, state, Map(*reference.tau_d), reference.torque,
                               soft_limits_);
      break;
    case vyr::Mode::RT_JOINT_IMPEDANCE:
    case vyr::Mode::NRT_JOINT_IMPEDANCE:
      tau = JointImpedanceControl(dynamics_, state, Map(*reference.q_d), Map(*reference.dq_d), zero,
                                  impedance_);
      break;
    default:
      tau = JointImpedanceControl(dynamics_, state, Map(*reference.q_d), Map(*reference.dq_d), zero,
                                  nominal_);
      break;
  }
  if (reference.cartesian.empty()) force_integrals_.clear();
  if (!reference.cartesian.empty()) {
    // The arms' joints serve their TCP's task instead, over the same compensation.
    const Eigen::VectorXd compensation =
        dynamics_.Gravity(state.q) - dynamics_.FrictionTorque(state.dq);
    force_integrals_.resize(reference.cartesian.size(), Vector6d::Zero());
    for (std::size_t i = 0; i < reference.cartesian.size() && i < reference.tcps.size(); ++i) {
      auto [target, settings] = reference.cartesian[i];
      target.wrench += ForceCorrection(i, target, settings, dt);
      const Eigen::VectorXd task =
          CartesianControl(dynamics_, state, reference.tcps[i], target, settings, false);
      for (const auto j : settings.arm_joints) tau[j] = task[j] + compensation[j];
    }
  }
  // A drive gives at most its rated torque, whatever its controller asks: gains or commands far
  // beyond what a client sends (finite, yet enough to throw an explicit step out of bounds) move
  // the joints no harder than the drives can.
  tau = tau.cwiseMax(-tau_max_).cwiseMin(tau_max_);
  dynamics_.Step(state, tau, dt, wrenches);
  q.assign(state.q.data(), state.q.data() + state.q.size());
  dq.assign(state.dq.data(), state.dq.data() + state.dq.size());
  EstimateTcpWrenches(reference.tcps, state);
  return {tau.data(), tau.data() + tau.size()};
}

}  // namespace korvo::sim
