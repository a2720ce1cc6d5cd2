// The robot's core: its state and modes, servo-on, brakes, faults and the E-stop, the dispatch
// of the operation codes to the services, and the simulation step.
#include "sim/sim_robot.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include "korvo/vyr/name_tables.hpp"
#include "sim/manipulability.hpp"
#include "sim/stl_mesh.hpp"

#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

namespace {

constexpr auto kServoOnTime = std::chrono::milliseconds(500);
constexpr auto kHeartbeatLimit = std::chrono::milliseconds(200);
constexpr double kCycle = 0.001;  // s, the control cycle the joints are stepped by

}  // namespace

SimRobot::SimRobot(std::string serial, RobotModel model)
    : serial_(std::move(serial)),
      model_(std::move(model)),
      devices_(model_.arms()),
      tools_(model_.arms()),
      safety_settings_(model_),
      files_(serial_ + ".urdf", model_.urdf(), CollisionMeshes(model_.tree())) {
  const unsigned n = model_.full_dof();
  for (const auto& j : model_.joints()) {
    q_min_.push_back(j.q_min);
    q_max_.push_back(j.q_max);
    dq_max_.push_back(j.dq_max);
    dq_max_reduced_.push_back(kReducedVelocityRatio * j.dq_max);
    tau_max_.push_back(j.tau_max);
    q_.push_back(j.home);
  }
  dq_.assign(n, 0.0);
  ddq_.assign(n, 0.0);
  tau_.assign(n, 0.0);
  q_d_ = q_;
  dq_d_.assign(n, 0.0);
  tau_d_.assign(n, 0.0);
  target_ = q_;
  target_dq_max_ = dq_max_;
  for (const auto& j : model_.joints()) target_ddq_max_.push_back(j.ddq_max);
  plans_ = {"PLAN-PickAndPlace", "PLAN-Inspection", "PLAN-ToolDynCaliWithTool-VYR",
            "PLAN-ToolDynCaliNoTool-VYR"};
  safety_inputs_.fill(true);
}

bool SimRobot::GroupExists(std::uint16_t group) const {
  return model_.groups().count(static_cast<JointGroup>(group)) > 0;
}

std::pair<int, unsigned> SimRobot::Layout(std::uint16_t group) const {
  return model_.groups().at(static_cast<JointGroup>(group));
}

std::pair<int, unsigned> SimRobot::ReportedLayout(std::uint16_t group) const {
  auto layout = Layout(group);
  const auto reported = reported_dof_.find(group);
  if (reported != reported_dof_.end()) layout.second = reported->second;
  return layout;
}

bool SimRobot::IsRealtime(Mode m) const {
  return m == Mode::RT_JOINT_TORQUE || m == Mode::RT_JOINT_IMPEDANCE ||
         m == Mode::RT_JOINT_POSITION || m == Mode::RT_CARTESIAN_MOTION_FORCE;
}

bool SimRobot::Operational() const {
  return (safety_ == safety::kNormal || safety_ == safety::kReduced) && !fault_active_ &&
         (system_ == system_state::kStoppedExternalAuto ||
          system_ == system_state::kWorkingExternalAuto);
}

bool SimRobot::AllStopped() const {
  return std::all_of(dq_.begin(), dq_.end(), [](double v) { return std::abs(v) <= 0.017; });
}

void SimRobot::Event(std::uint16_t level, std::int32_t id, const std::string& description,
                     const std::string& consequences, const std::string& causes,
                     const std::string& actions) {
  events_.push_back(EventLog{level, id, description, consequences, causes, actions});
}

void SimRobot::EnterIdle(const std::string& why) {
  if (mode_ != Mode::IDLE) {
    Event(kInfo, 1100, "Control mode switched to [IDLE]", why);
  }
  mode_ = Mode::IDLE;
  plan_.reset();
  for (auto& [g, run] : primitives_) {
    if (run.reached || run.aborted) continue;
    run.aborted = true;
    Event(kWarning, 1402, "Primitive [" + run.name + "] aborted", why);
  }
  torque_calibration_.Forget();
  has_target_ = false;
  waypoint_queue_.clear();
  rt_mode_entered_.reset();
  last_rt_command_.reset();
  std::fill(tau_d_.begin(), tau_d_.end(), 0.0);
  if (system_ == system_state::kWorkingExternalAuto) system_ = system_state::kStoppedExternalAuto;
}

std::array<double, 7> SimRobot::TcpPose(std::uint16_t arm, const std::vector<double>& q) const {
  return ComposeTcp(model_.FlangePose(static_cast<JointGroup>(arm), q), tools_.active_tcp(arm));
}

vyr_msg::RPCReply SimRobot::HandleVyr(const vyr_msg::RPCRequest& request) {
  VyrReply reply;
  reply.op_code = request.op_code;
  if (FileStore::Handles(request.op_code)) {
    // The file store locks itself: a transfer never holds the robot's lock.
    const bool idle = mode() == Mode::IDLE;
    reply.success = files_.Handle(request, reply, idle);
    return reply;
  }
  if (request.op_code == 11) {
    // Takes the lock only to read what it solves for.
    reply.success = Reachability(request, reply);
    return reply;
  }
  std::lock_guard lock(mutex_);
  const auto& ints = request.int_container;
  const auto& strings = request.string_container;
  bool ok = false;
  switch (request.op_code) {
    case 1:
      ok = ServoOn();
      break;
    case 2:
      ok = ClearFault();
      break;
    case 3:
      reply.string_container = {vyr_version_};
      ok = true;
      break;
    case 6:
      ok = JointLimits(request, reply);
      break;
    case 7:
      reply.int_container = {static_cast<std::int32_t>(mode_)};
      ok = true;
      break;
    case 8:
      ok = ints.size() == 1 && SetMode(ints[0]);
      break;
    case 9:
      ok = DigitalOutputs(request);
      break;
    case 10:
      ok = ints.size() == 1 && Brake(ints[0] != 0);
      break;
    case 12:
      reply.string_container = globals_.Texts();
      ok = true;
      break;
    case 13:
      ok = strings.size() == 1 && globals_.Assign(strings[0]);
      break;
    case 20:
      ok = (mode_ == Mode::NRT_PLAN_EXECUTION || mode_ == Mode::NRT_PRIMITIVE_EXECUTION) &&
           ints.size() == 1 && ints[0] >= 0 && ints[0] <= 100;
      if (ok) velocity_scale_ = static_cast<unsigned>(ints[0]);
      break;
    case 21:
      ok = ExecutePrimitives(request);
      break;
    case 22:
      ok = ExecutePlan(request);
      break;
    case 23:
      reply.string_container = plans_;
      ok = true;
      break;
    case 24:
    case 25:
      ok = mode_ == Mode::NRT_PLAN_EXECUTION && plan_.has_value();
      if (ok) plan_->paused = request.op_code == 24;
      break;
    case 26:
      ok = mode_ == Mode::NRT_PLAN_EXECUTION;
      if (ok && plan_) {
        plan_.reset();
        has_target_ = false;
        system_ = system_state::kStoppedExternalAuto;
        Event(kInfo, 1301, "Plan stopped");
      }
      break;
    case 27:
      ok = mode_ == Mode::NRT_PLAN_EXECUTION && ints.size() == 1;
      if (ok) breakpoint_mode_ = ints[0] != 0;
      break;
    case 28:
      ok = mode_ == Mode::NRT_PLAN_EXECUTION;
      if (ok && plan_) plan_->waiting_for_step = false;
      break;
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
      ok = tools_.Handle(request, reply, mode_ == Mode::IDLE);
      physics_tools_stale_ = true;
      break;
    case 37:
      ok = calibration_.Handle(request, reply);
      break;
    case 40:
    case 41:
    case 42:
    case 43:
    case 44:
    case 45:
    case 46:
      ok = devices_.Handle(request, reply);
      break;
    case 50:
    case 51:
    case 52:
    case 53:
    case 54:
      ok = work_coords_.Handle(request, reply, mode_ == Mode::IDLE);
      break;
    case 70:
    case 71:
    case 72:
    case 73:
    case 74:
    case 75:
    case 76:
    case 80:
    case 81:
    case 82:
      ok = Setting(request);
      break;
    case 100:
    case 101:
    case 102:
    case 103:
      ok = safety_settings_.Handle(request, mode_ == Mode::IDLE);
      break;
    case 110:
      ok = torque_calibration_.Save(request,
                                    mode_ == Mode::NRT_PRIMITIVE_EXECUTION && Operational());
      break;
    default:
      ok = false;
  }
  reply.success = ok;
  return reply;
}

qel_msg::RPCReply SimRobot::HandleQel(const qel_msg::RPCRequest& request) {
  qel_msg::RPCReply reply;
  reply.op_code = request.op_code;
  std::lock_guard lock(mutex_);
  switch (request.op_code) {
    case 1:
      reply.string_container = {qel_version_};
      reply.success = true;
      break;
    case 3:
      reply.string_container = PrimitiveStateTexts();
      reply.success = true;
      break;
    case 4:
      reply.string_container = PlanInfoTexts();
      reply.success = true;
      break;
    case 9:
      // Per arm: its group and a value the client skips, then the six values at the TCP.
      for (const auto arm : model_.arms()) {
        const auto g = static_cast<std::uint16_t>(arm);
        const auto tcp = tools_.active_tcp(g);
        const auto values =
            Manipulability(model_.ArmJacobian(arm, q_, Eigen::Vector3d(tcp[0], tcp[1], tcp[2])));
        std::vector<float> row = {static_cast<float>(g), 0.0f};
        for (const double v : values) row.push_back(static_cast<float>(v));
        reply.joint_groups.push_back(g);
        reply.float2d_container.push_back(std::move(row));
      }
      reply.success = true;
      break;
    case 10:
      for (const auto g : request.joint_groups) {
        if (!GroupExists(g)) continue;
        const auto [start, n] = ReportedLayout(g);
        reply.joint_groups.push_back(g);
        reply.int_container.push_back(start);
        reply.float_container.push_back(static_cast<float>(n));
      }
      reply.success = true;
      break;
    default:
      reply.success = false;
  }
  return reply;
}

bool SimRobot::ServoOn() {
  if (!estop_released_ || fault_active_ || safety_ == safety::kRecovery) return false;
  if (safety_ == safety::kNormal || safety_ == safety::kReduced) return true;
  if (brakes_released_at_) return true;  // already on its way
  safety_ = safety::kReleaseBrake;
  brakes_released_at_ = Clock::now() + kServoOnTime;
  Event(kInfo, 1001, "Servo on", "Brakes are being released");
  return true;
}

bool SimRobot::ClearFault() {
  if (fault_active_ && fault_clearable_) {
    fault_active_ = false;
    system_ = system_state::kStoppedExternalAuto;
    if (fault_critical_ || brakes_engaged_) {
      safety_ = safety::kCat1Stop;
      brakes_engaged_ = true;
    } else {
      safety_ = safety::kNormal;
    }
    Event(kInfo, 1201, "Fault cleared");
  }
  return true;
}

bool SimRobot::SetMode(std::int32_t mode) {
  if (mode < 1 || mode > 11) return false;
  const auto target = static_cast<Mode>(mode);
  if (target == Mode::IDLE) {
    EnterIdle("Requested by the client");
    return true;
  }
  if (target == mode_) return true;
  // Another mode is entered only from IDLE, and only while the robot can operate.
  if (mode_ != Mode::IDLE || !Operational()) return false;
  mode_ = target;
  has_target_ = false;
  target_ = q_;
  q_d_ = q_;
  std::fill(dq_d_.begin(), dq_d_.end(), 0.0);
  std::fill(tau_d_.begin(), tau_d_.end(), 0.0);
  primitives_.clear();
  rt_mode_entered_.reset();
  if (IsRealtime(target)) rt_mode_entered_ = Clock::now();
  last_rt_command_.reset();
  Event(kInfo, 1100, "Control mode switched to [" + vyr::kModeNames.at(target) + "]");
  return true;
}

bool SimRobot::Brake(bool engage) {
  if (!AllStopped()) return false;
  if (engage) {
    if (!brakes_engaged_) Event(kInfo, 1002, "Brakes engaged");
    brakes_engaged_ = true;
    brakes_released_at_.reset();
    EnterIdle("Brakes engaged");
    if (!fault_active_ && safety_ != safety::kRecovery) safety_ = safety::kCat1Stop;
    return true;
  }
  return ServoOn();
}

void SimRobot::EnterEstop() {
  estop_released_ = false;
  safety_ = safety::kCat1Stop;
  brakes_engaged_ = true;
  brakes_released_at_.reset();
  EnterIdle("E-stop pressed");
  Event(kCritical, 2001, "E-stop pressed", "Robot stopped and brakes engaged",
        "An emergency stop button was pressed", "Release the E-stop, then servo on");
}

void SimRobot::EnterFault(bool critical, bool clearable) {
  EnterFault(critical, clearable, critical ? 3002 : 3001,
             critical ? "Critical fault" : "Minor fault", "Raised by a test");
}

void SimRobot::EnterFault(bool critical, bool clearable, std::int32_t id,
                          const std::string& description, const std::string& causes) {
  fault_active_ = true;
  fault_critical_ = critical;
  fault_clearable_ = clearable;
  system_ = system_state::kFaultExternalAuto;
  safety_ = critical ? safety::kCat0Stop : safety::kCat2Stop;
  EnterIdle("Fault");
  Event(critical ? kCritical : kError, id, description, "Robot stopped", causes,
        "Call ClearFault()");
}

void SimRobot::EnterRecovery(const std::string& joint) {
  safety_ = safety::kRecovery;
  system_ = system_state::kRecoveryExternalAuto;
  EnterIdle("Joint position limit");
  Event(kError, 3101, "Joint [" + joint + "] reached its position limit",
        "Robot stopped in recovery state", "A joint was driven to the end of its range",
        "Move the joint back inside its range from the robot's programming environment");
}
void SimRobot::Step(Clock::time_point now) {
  std::unique_lock lock(mutex_);
  const double dt =
      now_ == Clock::time_point{} ? 0.0 : std::chrono::duration<double>(now - now_).count();
  now_ = now;

  if (brakes_released_at_ && now >= *brakes_released_at_) {
    brakes_released_at_.reset();
    if (safety_ == safety::kReleaseBrake) {
      safety_ = safety::kNormal;
      brakes_engaged_ = false;
      Event(kInfo, 1003, "Brakes released, robot ready");
    }
  }
  if (interruption_ && interruption_->started &&
      now >= *interruption_->started + interruption_->after) {
    const Interruption kind = interruption_->kind;
    interruption_.reset();
    if (kind == Interruption::kFault) {
      EnterFault(false, true);
    } else {
      EnterEstop();
    }
  }
  // Real-time motion needs a live client: stop it when the heartbeat has been silent too long.
  if (IsRealtime(mode_) && rt_mode_entered_ && now - *rt_mode_entered_ > kHeartbeatLimit &&
      (!last_heartbeat_ || now - *last_heartbeat_ > kHeartbeatLimit)) {
    Event(kWarning, 1500, "Heartbeat of the client lost", "Real-time motion stopped",
          "The client stopped or the network failed", "Restart the client program");
    EnterIdle("Heartbeat lost");
  }
  if (!Operational() && mode_ != Mode::IDLE) EnterIdle("Robot not operational");
  StepTasks(now);
  // The fingers catch up after a stalled cycle, but never jump further than 0.1 s would take.
  if (dt > 0.0) devices_.Step(std::min(dt, 0.1));
  if (dt <= 0.0 || dt >= 0.1) return;
  // A late cycle (the machine stalled) is caught up in steps of at most a millisecond: one long
  // step of the stiff joint controllers would throw the joints past their velocity limits. The
  // lock is let go between the steps, so that commands arriving meanwhile are taken (and timed)
  // as they come instead of waiting for the whole catch-up.
  const int steps = static_cast<int>(std::ceil(dt / kCycle - 1e-6));
  for (int i = 0; i < steps; ++i) {
    if (i > 0) lock.lock();
    StepJoints(dt / steps);
    lock.unlock();
  }
}

std::vector<EventLog> SimRobot::TakeEvents() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

}  // namespace korvo::sim
