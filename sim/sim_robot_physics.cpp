// The robot on its physical twin: what the controllers track each period (TCPs, payloads,
// Cartesian targets and settings, external wrenches), and the contact controls.
#include "sim/sim_robot.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "korvo/vyr/name_tables.hpp"
#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

namespace {

std::string FlangeLink(const RobotModel& model, std::uint16_t arm) {
  const std::string suffix = arm == kArm1 ? ".arm1.flange" : ".arm2.flange";
  for (const auto& link : model.tree().links()) {
    if (link.name.ends_with(suffix)) return link.name;
  }
  return "";
}

template <typename Real>
Eigen::Quaterniond Rotation(const Real* wxyz) {
  const Eigen::Quaterniond q(wxyz[0], wxyz[1], wxyz[2], wxyz[3]);
  return q.norm() > 1e-6 ? q.normalized() : Eigen::Quaterniond::Identity();
}

}  // namespace

void SimRobot::SyncPhysicsTools() {
  physics_tcps_.clear();
  for (const auto arm : model_.arms()) {
    const auto g = static_cast<std::uint16_t>(arm);
    Tcp tcp;
    tcp.flange = FlangeLink(model_, g);
    const auto t = tools_.active_tcp(g);
    tcp.in_flange.linear() = Rotation(&t[3]).toRotationMatrix();
    tcp.in_flange.translation() = Eigen::Vector3d(t[0], t[1], t[2]);
    const auto [start, n] = Layout(g);
    for (unsigned j = 0; j < n; ++j) tcp.joints.push_back(start + static_cast<Eigen::Index>(j));
    // The tool the arm carries is part of the dynamics.
    const auto active = tools_.active().find(g);
    ToolParams carried;
    for (const auto& [name, params] : tools_.tools()) {
      if (active != tools_.active().end() && name == active->second) carried = params;
    }
    Payload payload;
    payload.mass = carried.mass;
    payload.com = Eigen::Vector3d(carried.CoM[0], carried.CoM[1], carried.CoM[2]);
    const auto& i = carried.inertia;  // Ixx Iyy Izz Ixy Ixz Iyz
    payload.inertia << i[0], i[3], i[4], i[3], i[1], i[5], i[4], i[5], i[2];
    try {
      physics_->dynamics().SetPayload(tcp.flange, payload);
    } catch (const std::invalid_argument&) {
      // A tool that is not physical is carried as nothing.
      physics_->dynamics().SetPayload(tcp.flange, Payload{});
    }
    physics_tcps_.push_back(std::move(tcp));
  }
  physics_tools_stale_ = false;
}

void SimRobot::PreparePhysics(JointReference& reference) {
  if (physics_tools_stale_) SyncPhysicsTools();
  reference.tcps = physics_tcps_;
  contact_watch_.clear();
  for (std::size_t a = 0; a < model_.arms().size(); ++a) {
    const auto g = static_cast<std::uint16_t>(model_.arms()[a]);
    const Tcp& tcp = physics_tcps_[a];
    const std::string& flange = tcp.flange;
    // In real time the TCP follows the streamed poses; otherwise it follows the motion generator's
    // trajectory towards the discrete target, with the commanded wrench on the force axes.
    const bool streamed = mode_ == Mode::RT_CARTESIAN_MOTION_FORCE;
    if (!streamed && mode_ != Mode::NRT_CARTESIAN_MOTION_FORCE &&
        mode_ != Mode::NRT_SUPER_PRIMITIVE) {
      continue;
    }
    const auto command = cartesian_d_.find(g);
    CartesianTarget target;
    CartesianSettings settings;
    const auto [start, n] = Layout(g);
    settings.arm_joints = tcp.joints;
    // The redundant joints are pulled towards the set null-space posture, or else towards the
    // posture that reaches the target.
    const auto& posture = streamed ? q_d_ : generator_q_;
    settings.null_space_posture = Eigen::Map<const Eigen::VectorXd>(
        posture.data(), static_cast<Eigen::Index>(posture.size()));
    if (const auto it = settings_.find({73, g}); it != settings_.end()) {
      const auto& v = it->second.float_container;
      for (unsigned j = 0; j < n && j < v.size(); ++j)
        settings.null_space_posture[start + j] = v[j];
    }
    if (!streamed) {
      const Eigen::Map<const Eigen::VectorXd> q(generator_q_.data(),
                                                static_cast<Eigen::Index>(generator_q_.size()));
      const Eigen::Map<const Eigen::VectorXd> dq(generator_dq_.data(),
                                                 static_cast<Eigen::Index>(generator_dq_.size()));
      target.pose = sim::TcpPose(physics_->dynamics(), tcp, q);
      target.twist = TcpJacobian(physics_->dynamics(), tcp, q) * dq;
      if (command != cartesian_d_.end()) {
        for (int k = 0; k < 6; ++k) {
          target.wrench[k] = command->second.wrench_d[static_cast<std::size_t>(k)];
        }
      }
    } else if (command == cartesian_d_.end()) {
      target.pose =
          physics_->dynamics().Pose(flange, Eigen::Map<const Eigen::VectorXd>(
                                                q_.data(), static_cast<Eigen::Index>(q_.size()))) *
          tcp.in_flange;
    } else {
      const auto& c = command->second;
      target.pose.linear() = Rotation(&c.pose_d[3]).toRotationMatrix();
      target.pose.translation() = Eigen::Vector3d(c.pose_d[0], c.pose_d[1], c.pose_d[2]);
      for (int k = 0; k < 6; ++k) {
        target.twist[k] = c.twist_d[static_cast<std::size_t>(k)];
        target.wrench[k] = c.wrench_d[static_cast<std::size_t>(k)];
      }
    }
    if (const auto it = settings_.find({70, g}); it != settings_.end()) {
      const auto& v = it->second.float_container;
      for (int k = 0; k < 6; ++k) {
        settings.stiffness[k] = v[static_cast<std::size_t>(k)];
        settings.damping_ratio[k] = v[static_cast<std::size_t>(6 + k)];
      }
    }
    if (const auto it = settings_.find({80, g}); it != settings_.end()) {
      for (std::size_t k = 0; k < 6; ++k) settings.force_axes[k] = it->second.int_container[k] != 0;
    }
    if (const auto it = settings_.find({81, g}); it != settings_.end()) {
      const auto& v = it->second.float_container;
      Eigen::Matrix3d frame = Rotation(&v[3]).toRotationMatrix();
      if (it->second.string_container[0] == "TCP") frame = target.pose.linear() * frame;
      settings.force_frame = frame;
    }
    contact_watch_.push_back({a, settings.force_frame, settings.force_axes});
    reference.cartesian.emplace_back(target, settings);
  }
  for (auto it = pushes_.begin(); it != pushes_.end();) {
    if (now_ >= it->until) {
      it = pushes_.erase(it);
      continue;
    }
    auto& wrench = reference.wrenches.try_emplace(it->link, Vector6d::Zero()).first->second;
    wrench += it->wrench;
    ++it;
  }
}

void SimRobot::WatchPhysicalLimits() {
  // The drives' monitoring lets a joint overshoot its velocity limit by a tenth while the
  // controller catches up, no more.
  constexpr double kVelocityTolerance = 1.1;
  const std::size_t n = q_.size();
  at_position_limit_.resize(n, false);
  std::optional<std::size_t> reached, fast;
  for (std::size_t j = 0; j < n; ++j) {
    const bool at = q_[j] <= q_min_[j] || q_[j] >= q_max_[j];
    if (at && !at_position_limit_[j] && !reached) reached = j;
    at_position_limit_[j] = at;
    if (std::abs(dq_[j]) > kVelocityTolerance * dq_max_[j] && !fast) fast = j;
  }
  if (reached && safety_ != safety::kRecovery) {
    EnterRecovery(model_.joints()[*reached].name);
    return;
  }
  if (fault_active_) return;
  if (fast) {
    EnterFault(false, true, 3102,
               "Joint [" + model_.joints()[*fast].name + "] exceeded its velocity limit",
               "A command or an external force drove the joint too fast");
    return;
  }
  // The contact wrench on the axes that follow a motion, in the force-control frame.
  for (const auto& watch : contact_watch_) {
    const auto g = static_cast<std::uint16_t>(model_.arms()[watch.arm]);
    const auto limit = settings_.find({72, g});
    if (limit == settings_.end() || watch.arm >= physics_->tcp_wrenches().size()) continue;
    const Vector6d& wrench = physics_->tcp_wrenches()[watch.arm];
    Vector6d in_frame;
    in_frame << watch.frame.transpose() * wrench.head<3>(),
        watch.frame.transpose() * wrench.tail<3>();
    for (std::size_t k = 0; k < 6; ++k) {
      if (watch.force_axes[k] ||
          std::abs(in_frame[static_cast<Eigen::Index>(k)]) <= limit->second.float_container[k]) {
        continue;
      }
      EnterFault(false, true, 3103,
                 "Contact wrench on [" + vyr::kJointGroupNames.at(static_cast<JointGroup>(g)) +
                     "] exceeded its maximum",
                 "The TCP met an obstacle or a load beyond the set maximum contact wrench");
      return;
    }
  }
}

void SimRobot::Recover() {
  std::lock_guard lock(mutex_);
  if (safety_ != safety::kRecovery) return;
  // Every joint at or beyond a limit is moved half a degree back inside its range.
  constexpr double kInside = 0.5 * std::numbers::pi / 180.0;
  for (std::size_t j = 0; j < q_.size(); ++j) {
    q_[j] = std::clamp(q_[j], q_min_[j] + kInside, q_max_[j] - kInside);
    dq_[j] = 0.0;
  }
  generator_q_ = q_;
  generator_dq_ = dq_;
  q_d_ = q_;
  target_ = q_;
  at_position_limit_.assign(q_.size(), false);
  safety_ = safety::kNormal;
  system_ = system_state::kStoppedExternalAuto;
  Event(kInfo, 1202, "Recovered from a joint position limit", "Joints back inside their range");
}

void SimRobot::ApplyWrench(const std::string& link, const std::array<double, 6>& wrench,
                           double seconds) {
  std::lock_guard lock(mutex_);
  const auto& links = model_.tree().links();
  if (std::none_of(links.begin(), links.end(), [&](const Link& l) { return l.name == link; })) {
    throw std::invalid_argument("The robot has no link [" + link + "]");
  }
  if (!std::all_of(wrench.begin(), wrench.end(), [](double v) { return std::isfinite(v); }) ||
      !std::isfinite(seconds) || seconds < 0.0 || seconds > 86400.0) {
    throw std::invalid_argument("A wrench and a time must be finite, the time within a day");
  }
  Vector6d w;
  for (int k = 0; k < 6; ++k) w[k] = wrench[static_cast<std::size_t>(k)];
  pushes_.push_back(
      {link, w,
       now_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))});
}

void SimRobot::SetContactPlane(std::optional<ContactPlane> plane) {
  std::lock_guard lock(mutex_);
  if (plane && (!plane->point.allFinite() || !plane->normal.allFinite() ||
                plane->normal.norm() < 1e-9 || !std::isfinite(plane->stiffness) ||
                !std::isfinite(plane->damping) || plane->stiffness < 0.0 || plane->damping < 0.0)) {
    throw std::invalid_argument(
        "A contact plane needs a finite point, a normal and non-negative "
        "finite stiffness and damping");
  }
  if (plane) plane->normal.normalize();
  contact_plane_ = plane;
  if (physics_) physics_->SetContactPlane(plane);
}

void SimRobot::SetContactBox(std::optional<ContactBox> box) {
  std::lock_guard lock(mutex_);
  if (box && (!box->center.allFinite() || !box->half_extents.allFinite() ||
              (box->half_extents.array() <= 0.0).any() || !std::isfinite(box->stiffness) ||
              !std::isfinite(box->damping) || box->stiffness < 0.0 || box->damping < 0.0)) {
    throw std::invalid_argument(
        "A contact box needs a finite centre, positive finite half sizes and non-negative "
        "finite stiffness and damping");
  }
  contact_box_ = box;
  if (physics_) physics_->SetContactBox(box);
}

std::map<std::uint16_t, std::array<double, 3>> SimRobot::contact_forces() const {
  std::lock_guard lock(mutex_);
  std::map<std::uint16_t, std::array<double, 3>> forces;
  for (std::size_t i = 0; i < model_.arms().size(); ++i) {
    const auto g = static_cast<std::uint16_t>(model_.arms()[i]);
    forces[g] = {0.0, 0.0, 0.0};
    if (physics_ && i < physics_->contact_forces().size()) {
      const auto& f = physics_->contact_forces()[i];
      forces[g] = {f.x(), f.y(), f.z()};
    }
  }
  return forces;
}

void SimRobot::EnablePhysics(bool on) {
  std::lock_guard lock(mutex_);
  if (!on) {
    physics_.reset();
    tau_ext_.clear();
    return;
  }
  physics_.emplace(model_);
  physics_->SetContactPlane(contact_plane_);
  physics_->SetContactBox(contact_box_);
  physics_tools_stale_ = true;
  generator_q_ = q_;
  generator_dq_ = dq_;
  // The joint impedance set before takes effect.
  for (const auto& [key, request] : settings_) {
    if (key.first != 71) continue;
    const auto [start, n] = Layout(key.second);
    const auto& v = request.float_container;
    physics_->SetJointImpedance(start, {v.begin(), v.begin() + n}, {v.begin() + n, v.end()});
  }
}

}  // namespace korvo::sim
