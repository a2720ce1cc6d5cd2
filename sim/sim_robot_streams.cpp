// The robot's streams: real-time states and the basic and extra stream data.
#include "sim/sim_robot.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <chrono>

#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

vyr_msg::RealtimeStates SimRobot::RealtimeStates() const {
  std::lock_guard lock(mutex_);
  vyr_msg::RealtimeStates m;
  m.busy = plan_.has_value() ||
           std::any_of(primitives_.begin(), primitives_.end(),
                       [](const auto& p) { return !p.second.reached && !p.second.aborted; });
  m.timeliness_failure_count = timeliness_failures_;
  m.mode = static_cast<std::uint16_t>(mode_);
  m.gripper_states = devices_.GripperStates();
  return m;
}

qel_msg::AllBasicStreamData SimRobot::BasicStreamData() const {
  std::lock_guard lock(mutex_);
  qel_msg::AllBasicStreamData m;
  m.system_state = system_;
  m.safety_state = safety_;
  m.estop_released = estop_released_;
  m.enabling_device_on = enabling_device_on_;
  m.safety_inputs = safety_inputs_;
  m.digital_inputs = digital_inputs_;
  m.digital_outputs = digital_outputs_;
  const unsigned n = model_.full_dof();
  m.q = Floats(q_, 0, n);
  m.theta = m.q;
  m.dq = Floats(dq_, 0, n);
  m.dtheta = m.dq;
  m.tau = Floats(tau_, 0, n);
  m.tau_dot.assign(n, 0.0f);
  if (physics_ && tau_ext_.size() == n) {
    m.tau_ext = Floats(tau_ext_, 0, n);
  } else {
    m.tau_ext.assign(n, 0.0f);
  }
  m.tau_interact.assign(n, 0.0f);
  m.temperature.assign(n, 35.0f);
  if (multi_contact_) {
    m.multi_contact_forces = Floats(multi_contact_->forces);
    m.multi_contact_positions = Floats(multi_contact_->positions);
  } else {
    m.multi_contact_forces.assign(n, {0.0f, 0.0f, 0.0f});
    m.multi_contact_positions.assign(n, {0.0f, 0.0f, 0.0f});
  }
  for (std::size_t i = 0; i < model_.arms().size(); ++i) {
    const auto arm = model_.arms()[i];
    const auto g = static_cast<std::uint16_t>(arm);
    qel_msg::CartesianData c;
    c.flange_pose = Floats(model_.FlangePose(arm, q_));
    const auto tcp_pose = TcpPose(g, q_);
    c.tcp_pose = Floats(tcp_pose);
    if (physics_ && i < physics_->tcp_twists().size()) {
      // What the twin's TCP did, and the wrench the robot estimates on it, in the TCP's axes.
      const Vector6d& twist = physics_->tcp_twists()[i];
      const Vector6d& wrench = physics_->tcp_wrenches()[i];
      const Eigen::Matrix3d to_tcp =
          Eigen::Quaterniond(tcp_pose[3], tcp_pose[4], tcp_pose[5], tcp_pose[6])
              .toRotationMatrix()
              .transpose();
      Vector6d local;
      local << to_tcp * wrench.head<3>(), to_tcp * wrench.tail<3>();
      for (int k = 0; k < 6; ++k) {
        const auto at = static_cast<std::size_t>(k);
        c.tcp_twist[at] = static_cast<float>(twist[k]);
        c.tcp_wrench_local[at] = static_cast<float>(local[k]);
      }
      c.raw_tcp_wrench_local = c.tcp_wrench_local;
    }
    m.joint_groups.push_back(g);
    m.cartesian_data.push_back(c);
  }
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  m.timestamp_sec = static_cast<std::int32_t>(seconds.count());
  m.timestamp_nanosec = static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds).count());
  return m;
}

qel_msg::AllExtraStreamData SimRobot::ExtraStreamData() const {
  std::lock_guard lock(mutex_);
  qel_msg::AllExtraStreamData m;
  const unsigned n = model_.full_dof();
  m.q_d = Floats(q_d_, 0, n);
  m.dq_d = Floats(dq_d_, 0, n);
  m.tau_d = Floats(tau_d_, 0, n);
  for (const auto arm : model_.arms()) {
    const auto g = static_cast<std::uint16_t>(arm);
    qel_msg::DesiredCartesianData c;
    const auto it = cartesian_d_.find(g);
    if (it != cartesian_d_.end()) {
      c.tcp_pose_d = it->second.pose_d;
      c.tcp_twist_d = it->second.twist_d;
      c.tcp_wrench_d = it->second.wrench_d;
    } else {
      c.tcp_pose_d = Floats(TcpPose(g, q_));
    }
    m.joint_groups.push_back(g);
    m.cartesian_data.push_back(c);
  }
  return m;
}

}  // namespace korvo::sim
