#include "sim/cartesian_control.hpp"

#include <Eigen/Cholesky>
#include <Eigen/LU>
#include <cmath>

namespace korvo::sim {
namespace {

Eigen::Matrix3d Skew(const Eigen::Vector3d& v) {
  Eigen::Matrix3d s;
  s << 0.0, -v.z(), v.y(), v.z(), 0.0, -v.x(), -v.y(), v.x(), 0.0;
  return s;
}

// The rotation taking `from` to `to`, as an axis times an angle, world axes.
Eigen::Vector3d RotationError(const Eigen::Matrix3d& to, const Eigen::Matrix3d& from) {
  const Eigen::AngleAxisd error(to * from.transpose());
  return error.axis() * error.angle();
}

}  // namespace

Eigen::Isometry3d TcpPose(const Dynamics& dynamics, const Tcp& tcp, const Eigen::VectorXd& q) {
  return dynamics.Pose(tcp.flange, q) * tcp.in_flange;
}

Eigen::MatrixXd TcpJacobian(const Dynamics& dynamics, const Tcp& tcp, const Eigen::VectorXd& q) {
  Eigen::MatrixXd j = dynamics.Jacobian(tcp.flange, q);
  // The TCP's velocity is the flange origin's plus ω × (offset in world axes).
  const Eigen::Vector3d offset =
      dynamics.Pose(tcp.flange, q).linear() * tcp.in_flange.translation();
  j.topRows<3>() -= Skew(offset) * j.bottomRows<3>();
  return j;
}

Eigen::VectorXd CartesianControl(const Dynamics& dynamics, const JointState& state, const Tcp& tcp,
                                 const CartesianTarget& target, const CartesianSettings& settings,
                                 bool compensate) {
  const Eigen::Index n = state.q.size();
  Eigen::MatrixXd j = TcpJacobian(dynamics, tcp, state.q);
  // Only the arm's joints take part.
  Eigen::MatrixXd arm = Eigen::MatrixXd::Zero(6, n);
  for (const auto c : settings.arm_joints) arm.col(c) = j.col(c);
  j = arm;
  const Eigen::MatrixXd m = dynamics.MassMatrix(state.q);

  // Task-space inertia Λ = (J M⁻¹ Jᵀ)⁻¹, for damping each axis as its stiffness and ratio say.
  const Eigen::MatrixXd m_inv_jt = m.ldlt().solve(j.transpose());
  const Eigen::Matrix<double, 6, 6> lambda_inv = j * m_inv_jt;
  const Eigen::Matrix<double, 6, 6> lambda =
      lambda_inv.completeOrthogonalDecomposition().pseudoInverse();

  const Eigen::Isometry3d pose = TcpPose(dynamics, tcp, state.q);
  Vector6d error;
  error.head<3>() = target.pose.translation() - pose.translation();
  error.tail<3>() = RotationError(target.pose.linear(), pose.linear());
  const Vector6d velocity_error = target.twist - j * state.dq;
  Vector6d damping;
  for (int k = 0; k < 6; ++k) {
    damping[k] = 2.0 * settings.damping_ratio[k] *
                 std::sqrt(settings.stiffness[k] * std::max(lambda(k, k), 0.0));
  }
  Vector6d impedance =
      settings.stiffness.cwiseProduct(error) + damping.cwiseProduct(velocity_error);

  // In the force-control frame: the impedance on the motion axes, the commanded wrench (plus
  // velocity damping) on the force axes.
  Eigen::Matrix<double, 6, 6> frame = Eigen::Matrix<double, 6, 6>::Zero();
  frame.topLeftCorner<3, 3>() = settings.force_frame;
  frame.bottomRightCorner<3, 3>() = settings.force_frame;
  Vector6d in_frame = frame.transpose() * impedance;
  const Vector6d velocity_in_frame = frame.transpose() * (j * state.dq);
  for (int k = 0; k < 6; ++k) {
    if (settings.force_axes[static_cast<std::size_t>(k)]) {
      in_frame[k] = target.wrench[k] - settings.force_axis_damping * velocity_in_frame[k];
    }
  }
  const Vector6d wrench = frame * in_frame;

  Eigen::VectorXd tau = j.transpose() * wrench;
  // The null space of the task (dynamically consistent): a pull towards the reference posture
  // that the TCP does not feel.
  if (settings.null_space_posture.size() == n) {
    const Eigen::MatrixXd j_bar = m_inv_jt * lambda;  // M⁻¹ Jᵀ Λ
    const Eigen::MatrixXd projector =
        Eigen::MatrixXd::Identity(n, n) - j.transpose() * j_bar.transpose();
    Eigen::VectorXd pull = settings.null_space_stiffness * (settings.null_space_posture - state.q) -
                           2.0 * std::sqrt(settings.null_space_stiffness) * state.dq;
    for (Eigen::Index c = 0; c < n; ++c) {
      if (std::find(settings.arm_joints.begin(), settings.arm_joints.end(), c) ==
          settings.arm_joints.end()) {
        pull[c] = 0.0;
      }
    }
    tau += projector * pull;
  }
  if (!compensate) return tau;
  return tau + dynamics.Gravity(state.q) - dynamics.FrictionTorque(state.dq);
}

}  // namespace korvo::sim
