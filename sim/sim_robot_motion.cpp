// The robot's motion: primitives and plans, the real-time commands and heartbeats, and the
// motion generator that moves the joints towards their targets.
#include "sim/sim_robot.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include "korvo/vyr/name_tables.hpp"
#include "sim/input_limits.hpp"
#include "sim/primitive_text.hpp"

#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
// The motion generator's jerk limit per unit of acceleration limit [1/s].
constexpr double kJerkPerAcceleration = 10.0;
// A real-time command arriving later than this after the previous one counts as late.
constexpr auto kLateCommand = std::chrono::milliseconds(3);

// COORD orientation: Euler angles in degrees, rotation Rz(c)·Ry(b)·Rx(a).
Eigen::Quaterniond FromEulerDegrees(double a, double b, double c) {
  return Eigen::Quaterniond(Eigen::AngleAxisd(c * kDegree, Eigen::Vector3d::UnitZ()) *
                            Eigen::AngleAxisd(b * kDegree, Eigen::Vector3d::UnitY()) *
                            Eigen::AngleAxisd(a * kDegree, Eigen::Vector3d::UnitX()));
}

}  // namespace

void SimRobot::SetTarget(std::uint16_t group, const std::vector<double>& q, double speed_scale) {
  const auto [start, n] = Layout(group);
  if (!has_target_) target_ = q_;
  for (unsigned j = 0; j < n; ++j) {
    target_[start + j] = std::clamp(q[start + j], q_min_[start + j], q_max_[start + j]);
    target_dq_max_[start + j] = dq_max_[start + j] * speed_scale;
    target_ddq_max_[start + j] = model_.joints()[start + j].ddq_max;
  }
  has_target_ = true;
}

bool SimRobot::ExecutePrimitives(const VyrRequest& request) {
  const auto& groups = request.joint_groups;
  const auto& texts = request.string_container;
  if (mode_ != Mode::NRT_PRIMITIVE_EXECUTION || !Operational()) return false;
  if (groups.size() > model_.arms().size() || request.bool_container.size() != groups.size() ||
      request.int_container.size() != groups.size() || texts.size() != groups.size()) {
    return false;
  }
  struct Planned {
    std::string name;
    std::vector<double> q;            // full-DoF target
    std::optional<double> wait_time;  // a torque-sensor calibration's, in seconds
  };
  std::map<std::uint16_t, Planned> planned;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const auto g = groups[i];
    if ((g != kArm1 && g != kArm2) || !GroupExists(g)) return false;
    const auto call = ParsePrimitiveCall(texts[i]);
    if (!call) return false;
    const std::string& name = call->name;
    const std::string& arguments = call->arguments;
    const auto [start, n] = Layout(g);
    Planned p{name, q_, std::nullopt};
    std::vector<double>& q = p.q;
    if (name == "Home") {
      for (unsigned j = 0; j < n; ++j) q[start + j] = model_.joints()[start + j].home;
    } else if (name == "MoveJ") {
      // target = JPOS: 7 arm joints in degrees, then 6 external axes.
      const auto target = PrimitiveArgument(arguments, "target");
      const auto values = target ? FiniteNumbers(*target) : std::vector<double>{};
      if (values.size() != 13) return false;
      for (unsigned j = 0; j < n && j < 7; ++j) q[start + j] = values[j] * kDegree;
    } else if (name == "MoveL") {
      // target = COORD: position in m, Euler angles in degrees, frame, reference joints.
      const auto target = PrimitiveArgument(arguments, "target");
      const auto words = target ? Words(*target) : std::vector<std::string>{};
      if (words.size() != 8 && words.size() != 15 && words.size() != 21) return false;
      const auto numbers = FiniteNumbers(words[0] + " " + words[1] + " " + words[2] + " " +
                                         words[3] + " " + words[4] + " " + words[5]);
      if (numbers.size() != 6) return false;
      const Eigen::Quaterniond r = FromEulerDegrees(numbers[3], numbers[4], numbers[5]);
      const auto solved =
          PostureFor(g, {numbers[0], numbers[1], numbers[2], r.w(), r.x(), r.y(), r.z()});
      if (!solved) return false;
      q = *solved;
    } else if (name == TorqueCalibration::kPrimitive) {
      // The arm holds where it is while the sensors settle.
      p.wait_time = TorqueCalibration::WaitTime(arguments);
      if (!p.wait_time) return false;
    } else if (name != "ZeroFTSensor") {
      return false;  // not a primitive of this robot
    }
    planned[g] = std::move(p);
  }
  const auto now = Clock::now();
  for (auto& [g, p] : planned) {
    PrimitiveRun run{p.name, now};
    run.reached = p.name == "ZeroFTSensor";
    if (p.wait_time) run.ends = now + torque_calibration_.Duration(*p.wait_time);
    if (!run.reached) SetTarget(g, p.q, velocity_scale_ / 100.0);
    primitives_[g] = std::move(run);
    if (interruption_ && !interruption_->started && interruption_->name == p.name) {
      interruption_->started = now;
    }
    Event(kInfo, 1400,
          "Primitive [" + p.name + "] started on [" +
              vyr::kJointGroupNames.at(static_cast<JointGroup>(g)) + "]");
  }
  return true;
}

bool SimRobot::ExecutePlan(const VyrRequest& request) {
  if (mode_ != Mode::NRT_PLAN_EXECUTION || !Operational()) return false;
  if (request.string_container.size() != 1 || request.int_container.size() != 1) return false;
  const std::string& name = request.string_container[0];
  if (std::find(plans_.begin(), plans_.end(), name) == plans_.end()) return false;
  PlanRun run{name, {}, 0, false, false, Clock::now(), PayloadCalibration::ToolMounted(name), {}};
  run.ends = run.started + calibration_.duration();
  // A calibration holds the arms where they are; every other plan visits three postures around
  // home and comes back. The postures keep a margin from the joint limits: the physical joints
  // settle on a posture with a small overshoot, which on a limit would stop the robot.
  constexpr double kLimitMargin = 0.05;  // rad
  std::vector<double> home;
  for (const auto& j : model_.joints()) home.push_back(j.home);
  for (const double offset : {0.3, -0.3, 0.0}) {
    if (run.calibration) break;
    auto posture = home;
    for (const auto arm : model_.arms()) {
      const auto [start, n] = Layout(static_cast<std::uint16_t>(arm));
      for (unsigned j = 0; j < n; ++j) {
        const double low = std::min(q_min_[start + j] + kLimitMargin, home[start + j]);
        const double high = std::max(q_max_[start + j] - kLimitMargin, home[start + j]);
        posture[start + j] = std::clamp(home[start + j] + offset, low, high);
      }
    }
    run.waypoints.push_back(posture);
  }
  plan_ = run;
  last_plan_ = name;
  has_target_ = false;
  system_ = system_state::kWorkingExternalAuto;
  Event(kInfo, 1300, "Plan [" + name + "] started");
  return true;
}

void SimRobot::OnHeartbeat(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  last_heartbeat_ = now;
  ++heartbeats_;
}

bool SimRobot::OnCommands(const vyr_msg::MotionCommands& commands, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (!WithinLimits(commands)) {
    ++ignored_commands_;
    return false;
  }
  // A group's command holding a value that is not a number moves nothing: it is ignored, and the
  // message counted once.
  bool counted = false;
  const auto ignore = [&] {
    if (!counted) ++ignored_commands_;
    counted = true;
  };
  if (IsRealtime(mode_)) {
    if (last_rt_command_ && now - *last_rt_command_ > kLateCommand) ++timeliness_failures_;
    last_rt_command_ = now;
  }
  const auto& groups = commands.joint_groups;
  switch (mode_) {
    case Mode::RT_JOINT_TORQUE:
    case Mode::RT_JOINT_POSITION:
    case Mode::RT_JOINT_IMPEDANCE:
    case Mode::NRT_JOINT_POSITION:
    case Mode::NRT_JOINT_IMPEDANCE:
      for (std::size_t i = 0; i < groups.size() && i < commands.joint_commands.size(); ++i) {
        if (!GroupExists(groups[i])) continue;
        const auto [start, n] = Layout(groups[i]);
        const auto& c = commands.joint_commands[i];
        if (!AllFinite(c.tau_d) || !AllFinite(c.q_d) || !AllFinite(c.dq_d) ||
            !AllFinite(c.dq_max) || !AllFinite(c.ddq_max) ||
            !std::isfinite(c.friction_comp_scale)) {
          ignore();
          continue;
        }
        if (mode_ == Mode::RT_JOINT_TORQUE) {
          if (c.tau_d.size() != n) continue;
          for (unsigned j = 0; j < n; ++j) tau_d_[start + j] = c.tau_d[j];
          torque_options_ = {!c.disable_gravity_comp, !c.disable_soft_limits,
                             std::clamp<double>(c.friction_comp_scale, 0.0, 100.0)};
        } else if (mode_ == Mode::RT_JOINT_POSITION || mode_ == Mode::RT_JOINT_IMPEDANCE) {
          if (c.q_d.size() != n) continue;
          for (unsigned j = 0; j < n; ++j) {
            q_d_[start + j] = std::clamp<double>(c.q_d[j], q_min_[start + j], q_max_[start + j]);
            dq_d_[start + j] = j < c.dq_d.size() ? c.dq_d[j] : 0.0;
          }
        } else {
          if (c.q_d.size() != n) continue;
          std::vector<double> q = q_;
          for (unsigned j = 0; j < n; ++j) q[start + j] = c.q_d[j];
          SetTarget(groups[i], q, 1.0);
          for (unsigned j = 0; j < n; ++j) {
            if (j < c.dq_max.size() && c.dq_max[j] > 0) {
              target_dq_max_[start + j] = std::min<double>(c.dq_max[j], dq_max_[start + j]);
            }
            if (j < c.ddq_max.size() && c.ddq_max[j] > 0) target_ddq_max_[start + j] = c.ddq_max[j];
          }
        }
      }
      break;
    case Mode::RT_CARTESIAN_MOTION_FORCE:
    case Mode::NRT_CARTESIAN_MOTION_FORCE:
    case Mode::NRT_SUPER_PRIMITIVE: {
      for (std::size_t i = 0; i < groups.size(); ++i) {
        const auto g = groups[i];
        if ((g != kArm1 && g != kArm2) || !GroupExists(g)) continue;
        std::array<double, 7> pose{};
        if (i < commands.cartesian_commands.size()) {
          const auto& c = commands.cartesian_commands[i];
          if (!AllFinite(c.pose_d) || !AllFinite(c.twist_d) || !AllFinite(c.wrench_d)) {
            ignore();
            continue;
          }
          std::copy(c.pose_d.begin(), c.pose_d.end(), pose.begin());
          cartesian_d_[g] = c;
        } else if (i < commands.waypoint_commands.size() &&
                   !commands.waypoint_commands[i].empty()) {
          // Multi-waypoint motion: stage 1 moves to the last waypoint.
          const auto& c = commands.waypoint_commands[i].back();
          if (!AllFinite(c.pose_d) || !AllFinite(c.twist_d) || !AllFinite(c.wrench_d)) {
            ignore();
            continue;
          }
          std::copy(c.pose_d.begin(), c.pose_d.end(), pose.begin());
          cartesian_d_[g] = c;
        } else {
          continue;
        }
        const auto solved = PostureFor(g, pose);
        if (!solved) continue;
        if (mode_ == Mode::RT_CARTESIAN_MOTION_FORCE) {
          q_d_ = *solved;
        } else {
          SetTarget(g, *solved, 1.0);
        }
      }
      break;
    }
    default:
      break;  // commands in other modes are ignored
  }
  return true;
}

void SimRobot::RefuseOversized(const std::string& server, std::uint16_t op_code) {
  std::lock_guard lock(mutex_);
  ++refused_requests_;
  Event(kWarning, 1800,
        "Request refused: " + server + " operation [" + std::to_string(op_code) +
            "] carries more than the robot accepts",
        "Operation not carried out", "A client sent containers or texts beyond the robot's limits",
        "Check the client");
}

bool SimRobot::AtTarget() const {
  // With physics on, a target is reached when the motion generator's trajectory ends there.
  const auto& q = physics_ ? generator_q_ : q_;
  const auto& dq = physics_ ? generator_dq_ : dq_;
  for (std::size_t j = 0; j < q.size(); ++j) {
    if (std::abs(target_[j] - q[j]) > 1e-4 || std::abs(dq[j]) > 1e-3) return false;
  }
  return true;
}

void SimRobot::StepTasks(Clock::time_point now) {
  for (auto& [g, run] : primitives_) {
    if (run.reached || run.aborted) continue;
    run.time_period = std::max(0.0, std::chrono::duration<double>(now - run.started).count());
    if (run.ends) {
      // Only a calibration that runs to its end may be saved.
      if (now < *run.ends) continue;
      run.reached = true;
      torque_calibration_.Completed();
      Event(kInfo, 1401, "Primitive [" + run.name + "] finished");
    } else if (!has_target_ || AtTarget()) {
      run.reached = true;
      Event(kInfo, 1401, "Primitive [" + run.name + "] reached its target");
    }
  }
  if (plan_ && plan_->calibration) {
    // Only a calibration that runs to its end stores a result; a paused one waits.
    if (!plan_->paused && now >= plan_->ends) {
      calibration_.Complete(*plan_->calibration);
      Event(kInfo, 1302, "Plan [" + plan_->name + "] finished");
      plan_.reset();
      system_ = system_state::kStoppedExternalAuto;
    }
  } else if (plan_ && !plan_->paused && !plan_->waiting_for_step) {
    if (!has_target_ || AtTarget()) {
      if (plan_->next == plan_->waypoints.size()) {
        Event(kInfo, 1302, "Plan [" + plan_->name + "] finished");
        plan_.reset();
        has_target_ = false;
        system_ = system_state::kStoppedExternalAuto;
      } else {
        const auto& posture = plan_->waypoints[plan_->next++];
        for (const auto arm : model_.arms()) {
          SetTarget(static_cast<std::uint16_t>(arm), posture, velocity_scale_ / 100.0);
        }
        if (breakpoint_mode_) plan_->waiting_for_step = true;
      }
    }
  }
}

void SimRobot::StepJoints(double dt) {
  if (!physics_) {
    KinematicStep(dt);
    return;
  }
  // The motion generator advances its own trajectory; the mode's controller tracks it on the
  // physical joints.
  std::swap(q_, generator_q_);
  std::swap(dq_, generator_dq_);
  KinematicStep(dt);
  std::swap(q_, generator_q_);
  std::swap(dq_, generator_dq_);
  // Streamed targets are tracked as they come, with the velocities streamed with them.
  const bool streamed = mode_ == Mode::RT_JOINT_POSITION || mode_ == Mode::RT_JOINT_IMPEDANCE ||
                        mode_ == Mode::RT_CARTESIAN_MOTION_FORCE;
  JointReference reference;
  reference.mode = mode_;
  reference.brakes_engaged = brakes_engaged_;
  reference.q_d = streamed ? &q_d_ : &generator_q_;
  reference.dq_d = streamed ? &dq_d_ : &generator_dq_;
  reference.tau_d = &tau_d_;
  reference.torque = torque_options_;
  PreparePhysics(reference);
  tau_ = physics_->Step(reference, q_, dq_, dt);
  const auto& external = physics_->external_torques();
  tau_ext_.assign(external.data(), external.data() + external.size());
  WatchPhysicalLimits();
  // Where nothing is generated (torque and streamed modes, brakes on), the trajectory starts again
  // from where the joints are: a stop from there is a smooth one.
  if (mode_ == Mode::RT_JOINT_TORQUE || streamed || brakes_engaged_) {
    generator_q_ = q_;
    generator_dq_ = dq_;
  }
}

void SimRobot::KinematicStep(double dt) {
  const std::size_t n = q_.size();
  const auto hold_limits = [&](std::size_t j) {
    if (q_[j] < q_min_[j] || q_[j] > q_max_[j]) {
      q_[j] = std::clamp(q_[j], q_min_[j], q_max_[j]);
      dq_[j] = 0.0;
    }
  };
  switch (mode_) {
    case Mode::RT_JOINT_POSITION:
    case Mode::RT_JOINT_IMPEDANCE:
    case Mode::RT_CARTESIAN_MOTION_FORCE:
      // Streamed positions are taken as they come.
      for (std::size_t j = 0; j < n; ++j) {
        dq_[j] = (q_d_[j] - q_[j]) / dt;
        q_[j] = q_d_[j];
      }
      return;
    case Mode::RT_JOINT_TORQUE:
      // Gravity is compensated; the commanded torque drives a unit-inertia joint with damping.
      for (std::size_t j = 0; j < n; ++j) {
        ddq_[j] = tau_d_[j] / 2.0 - 4.0 * dq_[j];
        dq_[j] = std::clamp(dq_[j] + ddq_[j] * dt, -dq_max_[j], dq_max_[j]);
        q_[j] += dq_[j] * dt;
        tau_[j] = tau_d_[j];
        hold_limits(j);
      }
      q_d_ = q_;
      return;
    default:
      break;
  }
  if (stalled_) {
    std::fill(dq_.begin(), dq_.end(), 0.0);
    q_d_ = has_target_ ? target_ : q_;
    std::fill(tau_.begin(), tau_.end(), 0.0);
    return;
  }
  // The generator carries its own acceleration; it starts again from the joints where anything
  // else moved them.
  if (motion_.q() != q_ || motion_.dq() != dq_) motion_.Reset(q_, dq_);
  motion_limits_.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double a_max = has_target_ ? target_ddq_max_[j] : model_.joints()[j].ddq_max;
    const double v_max = has_target_ ? target_dq_max_[j] : dq_max_[j];
    // Jerk limited so that the acceleration builds up over a tenth of a second.
    motion_limits_[j] = {v_max, a_max, kJerkPerAcceleration * a_max};
  }
  motion_.Step(has_target_ ? &target_ : nullptr, motion_limits_, dt);
  q_ = motion_.q();
  dq_ = motion_.dq();
  for (std::size_t j = 0; j < n; ++j) hold_limits(j);
  q_d_ = has_target_ ? target_ : q_;
  std::fill(tau_.begin(), tau_.end(), 0.0);
}

}  // namespace korvo::sim
