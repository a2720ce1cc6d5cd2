#include "sim/sim_robot.hpp"

#include "sim/stl_mesh.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "korvo/vyr/name_tables.hpp"
#include "sim/arm_ik.hpp"
#include "sim/manipulability.hpp"
#include "sim/primitive_text.hpp"

namespace korvo::sim {
namespace {

using vyr::JointGroup;
using vyr::Mode;
using zenoh_msgs::qel_msg::EventLog;
namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr auto kServoOnTime = std::chrono::milliseconds(500);
constexpr auto kHeartbeatLimit = std::chrono::milliseconds(200);
// A real-time command arriving later than this after the previous one counts as late.
constexpr auto kLateCommand = std::chrono::milliseconds(3);
constexpr std::uint16_t kArm1 = 3;
constexpr std::uint16_t kArm2 = 4;
// Seeds spread over the joint ranges that a constrained IK tries after the client's own.
constexpr int kIkSpreadSeeds = 5;
// A target quaternion shorter than this gives no orientation.
constexpr double kMinQuaternionNorm = 1e-6;
// Velocity limits of the reduced safety state relative to the normal ones: the ratio of the
// product defaults (78 to 130 degrees per second).
constexpr double kReducedVelocityRatio = 0.6;

// Every value a number: what a command must hold before it moves anything.
template <typename Values>
bool AllFinite(const Values& values) {
  return std::all_of(values.begin(), values.end(), [](auto x) { return std::isfinite(x); });
}

enum Level : std::uint16_t { kInfo = 1, kWarning = 2, kError = 3, kCritical = 4 };

std::vector<float> Floats(const std::vector<double>& v, int start, unsigned n) {
  std::vector<float> out(n);
  for (unsigned i = 0; i < n; ++i) out[i] = static_cast<float>(v[start + i]);
  return out;
}

template <std::size_t N>
std::array<float, N> Floats(const std::array<double, N>& v) {
  std::array<float, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(v[i]);
  return out;
}

std::vector<std::array<float, 3>> Floats(const std::vector<std::array<double, 3>>& v) {
  std::vector<std::array<float, 3>> out;
  out.reserve(v.size());
  for (const auto& x : v) out.push_back(Floats(x));
  return out;
}

// The IK target a pose [x, y, z, qw, qx, qy, qz] asks for; none when a value is not finite or,
// unless the orientation is free, the quaternion is too short to give a direction.
std::optional<IkTarget> TargetOf(const std::array<double, 7>& pose, bool free_orientation) {
  if (!std::all_of(pose.begin(), pose.end(), [](double v) { return std::isfinite(v); })) {
    return std::nullopt;
  }
  IkTarget target;
  target.position = {pose[0], pose[1], pose[2]};
  target.free_orientation = free_orientation;
  if (!free_orientation) {
    const Eigen::Quaterniond orientation(pose[3], pose[4], pose[5], pose[6]);
    if (orientation.norm() < kMinQuaternionNorm) return std::nullopt;
    target.orientation = orientation.normalized();
  }
  return target;
}

// COORD orientation: Euler angles in degrees, rotation Rz(c)·Ry(b)·Rx(a).
Eigen::Quaterniond FromEulerDegrees(double a, double b, double c) {
  return Eigen::Quaterniond(Eigen::AngleAxisd(c * kDegree, Eigen::Vector3d::UnitZ()) *
                            Eigen::AngleAxisd(b * kDegree, Eigen::Vector3d::UnitY()) *
                            Eigen::AngleAxisd(a * kDegree, Eigen::Vector3d::UnitX()));
}

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

// ---- helpers
// -------------------------------------------------------------------------------------

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

// ---- requests
// ------------------------------------------------------------------------------------

vyr_msg::RPCReply SimRobot::HandleVyr(const vyr_msg::RPCRequest& request) {
  VyrReply reply;
  reply.op_code = request.op_code;
  if (FileStore::Handles(request.op_code)) {
    // The file store locks itself: a transfer never holds the robot's lock.
    const bool idle = mode() == Mode::IDLE;
    reply.success = files_.Handle(request, reply, idle);
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
    case 11:
      ok = Reachability(request, reply);
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
  if (!estop_released_ || fault_active_) return false;
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
    if (!fault_active_) safety_ = safety::kCat1Stop;
    return true;
  }
  return ServoOn();
}

bool SimRobot::JointLimits(const VyrRequest& request, VyrReply& reply) const {
  reply.string_container = {software_version_};
  for (const auto g : request.joint_groups) {
    if (!GroupExists(g)) continue;
    const auto [start, n] = ReportedLayout(g);
    // The robot reports the velocity limits of the safety state it is in.
    const auto* dq_max = safety_ == safety::kReduced ? &dq_max_reduced_ : &dq_max_;
    std::vector<float> row;
    for (const auto* limits : {&q_max_, &q_min_, dq_max, &tau_max_}) {
      const auto part = Floats(*limits, start, n);
      row.insert(row.end(), part.begin(), part.end());
    }
    reply.joint_groups.push_back(g);
    reply.float2d_container.push_back(std::move(row));
  }
  return true;
}

bool SimRobot::DigitalOutputs(const VyrRequest& request) {
  const auto& ints = request.int_container;
  if (ints.size() != digital_outputs_.size()) return false;
  for (const auto v : ints) {
    if (v < -1 || v > 1) return false;
  }
  for (std::size_t i = 0; i < ints.size(); ++i) {
    if (ints[i] >= 0) digital_outputs_[i] = ints[i] == 1;
  }
  return true;
}

std::optional<std::vector<double>> SimRobot::PostureFor(std::uint16_t arm,
                                                        const std::array<double, 7>& pose) const {
  const auto target = TargetOf(pose, false);
  if (!target) return std::nullopt;
  const IkArm ik_arm{model_, static_cast<JointGroup>(arm), tools_.active_tcp(arm), q_min_, q_max_};
  auto solution = SolveArmIk(ik_arm, *target, std::span(&q_, 1));
  if (!solution.reached) return std::nullopt;
  return std::move(solution.q);
}

bool SimRobot::Reachability(const VyrRequest& request, VyrReply& reply) const {
  const auto& groups = request.joint_groups;
  const auto& rows = request.float2d_container;
  if (groups.empty() || request.int_container.size() != groups.size() ||
      rows.size() != groups.size()) {
    return false;
  }
  // The whole request is checked before any arm is solved.
  std::vector<IkTarget> targets;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const auto g = groups[i];
    if ((g != kArm1 && g != kArm2) || !GroupExists(g)) return false;
    if (std::find(groups.begin(), groups.begin() + i, g) != groups.begin() + i) return false;
    const auto free = request.int_container[i];
    if ((free != 0 && free != 1) || rows[i].size() != 7 + Layout(g).second) return false;
    if (!std::all_of(rows[i].begin(), rows[i].end(), [](float v) { return std::isfinite(v); })) {
      return false;
    }
    std::array<double, 7> pose{};
    std::copy(rows[i].begin(), rows[i].begin() + 7, pose.begin());
    const auto target = TargetOf(pose, free == 1);
    if (!target) return false;
    targets.push_back(*target);
  }
  bool all = true;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const auto g = groups[i];
    const auto [start, n] = Layout(g);
    // The client's seed first; should it lead nowhere, the current posture, the home posture and
    // a few spread over the joint ranges.
    std::vector<std::vector<double>> seeds(3, q_);
    for (unsigned j = 0; j < n; ++j) {
      seeds[0][start + j] = rows[i][7 + j];
      seeds[2][start + j] = model_.joints()[start + j].home;
    }
    const IkArm arm{model_, static_cast<JointGroup>(g), tools_.active_tcp(g), q_min_, q_max_};
    auto spread = SpreadSeeds(arm, q_, kIkSpreadSeeds);
    seeds.insert(seeds.end(), spread.begin(), spread.end());
    const IkSolution solution = SolveArmIk(arm, targets[i], seeds);
    all = all && solution.reached;
    reply.joint_groups.push_back(g);
    reply.float2d_container.push_back(Floats(solution.q, start, n));
  }
  reply.int_container = {all ? 1 : 0};
  return true;
}

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
  // home and comes back.
  std::vector<double> home;
  for (const auto& j : model_.joints()) home.push_back(j.home);
  for (const double offset : {0.3, -0.3, 0.0}) {
    if (run.calibration) break;
    auto posture = home;
    for (const auto arm : model_.arms()) {
      const auto [start, n] = Layout(static_cast<std::uint16_t>(arm));
      for (unsigned j = 0; j < n; ++j) {
        posture[start + j] =
            std::clamp(home[start + j] + offset, q_min_[start + j], q_max_[start + j]);
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

bool SimRobot::Setting(const VyrRequest& request) {
  if (request.joint_groups.size() != 1 || !GroupExists(request.joint_groups[0])) return false;
  const auto g = request.joint_groups[0];
  const unsigned n = Layout(g).second;
  const auto floats = request.float_container.size();
  const auto ints = request.int_container.size();
  const bool joint_impedance =
      mode_ == Mode::RT_JOINT_IMPEDANCE || mode_ == Mode::NRT_JOINT_IMPEDANCE;
  const bool cartesian = mode_ == Mode::RT_CARTESIAN_MOTION_FORCE ||
                         mode_ == Mode::NRT_CARTESIAN_MOTION_FORCE ||
                         mode_ == Mode::NRT_SUPER_PRIMITIVE;
  bool ok = false;
  switch (request.op_code) {
    case 70:
      ok = cartesian && floats == 12;
      break;
    case 71:
      ok = joint_impedance && floats == 2 * n;
      break;
    case 72:
      ok = cartesian && floats == 6;
      break;
    case 73:
      ok = cartesian && floats == n;
      break;
    case 74:
      ok = cartesian && floats == 3;
      break;
    case 75:
    case 76:
      ok = joint_impedance && floats == n;
      break;
    case 80:
      ok = cartesian && ints == 6 && floats == 3;
      break;
    case 81:
      ok = cartesian && floats == 7 && request.string_container.size() == 1 &&
           (request.string_container[0] == "WORLD" || request.string_container[0] == "TCP");
      break;
    case 82:
      ok = mode_ == Mode::IDLE && ints == 1;
      break;
  }
  if (ok && request.op_code == 71) {
    const auto& v = request.float_container;
    ok = AllFinite(v) && std::all_of(v.begin(), v.end(), [](float x) { return x >= 0.0f; });
    if (ok && physics_) {
      physics_->SetJointImpedance(Layout(g).first, {v.begin(), v.begin() + n},
                                  {v.begin() + n, v.end()});
    }
  }
  if (ok) settings_[{request.op_code, g}] = request;
  return ok;
}

std::vector<std::string> SimRobot::PrimitiveStateTexts() {
  std::vector<std::string> texts;
  for (const auto& [g, run] : primitives_) {
    std::ostringstream period;
    period << run.time_period;
    texts.push_back("jointGroup = " + std::to_string(g));
    texts.push_back("primitiveName = " + run.name);
    texts.push_back(std::string("reachedTarget = ") + (run.reached ? "1" : "0"));
    texts.push_back("timePeriod = " + period.str());
  }
  if (corrupt_primitive_states_ > 0) {
    --corrupt_primitive_states_;
    texts.insert(texts.begin(), "");
  }
  return texts;
}

std::vector<std::string> SimRobot::PlanInfoTexts() const {
  if (!plan_) return {"", "", "", "0", "0", last_plan_, std::to_string(velocity_scale_), "0"};
  const std::size_t node = std::min(plan_->next, plan_->waypoints.size() - 1) + 1;
  // A plan started after the last step has run for no time yet.
  const double elapsed =
      std::max(0.0, std::chrono::duration<double>(now_ - plan_->started).count());
  std::ostringstream period;
  period << elapsed;
  return {"MoveJ",
          "node_" + std::to_string(node),
          "rootNode/node_" + std::to_string(node),
          period.str(),
          std::to_string(node),
          plan_->name,
          std::to_string(velocity_scale_),
          plan_->waiting_for_step ? "1" : "0"};
}

// ---- commands and heartbeat -------------------------------------------------------------------

void SimRobot::OnHeartbeat(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  last_heartbeat_ = now;
  ++heartbeats_;
}

void SimRobot::OnCommands(const vyr_msg::MotionCommands& commands, Clock::time_point now) {
  std::lock_guard lock(mutex_);
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
        // A command that is not a number moves nothing: it is dropped whole.
        if (!AllFinite(c.tau_d) || !AllFinite(c.q_d) || !AllFinite(c.dq_d) ||
            !AllFinite(c.dq_max) || !AllFinite(c.ddq_max) ||
            !std::isfinite(c.friction_comp_scale)) {
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
    case Mode::NRT_CARTESIAN_MOTION_FORCE: {
      for (std::size_t i = 0; i < groups.size(); ++i) {
        const auto g = groups[i];
        if ((g != kArm1 && g != kArm2) || !GroupExists(g)) continue;
        std::array<double, 7> pose{};
        if (i < commands.cartesian_commands.size()) {
          const auto& c = commands.cartesian_commands[i];
          if (!AllFinite(c.pose_d) || !AllFinite(c.twist_d) || !AllFinite(c.wrench_d)) continue;
          std::copy(c.pose_d.begin(), c.pose_d.end(), pose.begin());
          cartesian_d_[g] = c;
        } else if (i < commands.waypoint_commands.size() &&
                   !commands.waypoint_commands[i].empty()) {
          // Multi-waypoint motion: stage 1 moves to the last waypoint.
          const auto& c = commands.waypoint_commands[i].back();
          if (!AllFinite(c.pose_d) || !AllFinite(c.twist_d) || !AllFinite(c.wrench_d)) continue;
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
}

// ---- simulation step ----------------------------------------------------------------------------

void SimRobot::Step(Clock::time_point now) {
  std::lock_guard lock(mutex_);
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
  if (dt > 0.0 && dt < 0.1) StepJoints(dt);
  // The fingers catch up after a stalled cycle, but never jump further than 0.1 s would take.
  if (dt > 0.0) devices_.Step(std::min(dt, 0.1));
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
  JointReference reference{mode_,
                           brakes_engaged_,
                           streamed ? &q_d_ : &generator_q_,
                           streamed ? &dq_d_ : &generator_dq_,
                           &tau_d_,
                           torque_options_};
  PreparePhysics(reference);
  tau_ = physics_->Step(reference, q_, dq_, dt);
  const auto& external = physics_->external_torques();
  tau_ext_.assign(external.data(), external.data() + external.size());
  // Where nothing is generated, the trajectory starts again from where the joints are.
  if (mode_ == Mode::RT_JOINT_TORQUE || brakes_engaged_) {
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
  for (std::size_t j = 0; j < n; ++j) {
    const double a_max = has_target_ ? target_ddq_max_[j] : model_.joints()[j].ddq_max;
    double v_goal = 0.0;
    if (has_target_) {
      // Velocity- and acceleration-limited approach of the target.
      const double d = target_[j] - q_[j];
      const double v_max = target_dq_max_[j];
      v_goal = std::copysign(std::min(v_max, std::sqrt(2.0 * a_max * std::abs(d))), d);
      if (std::abs(d) < 1e-6) v_goal = 0.0;
    }
    const double dv = std::clamp(v_goal - dq_[j], -a_max * dt, a_max * dt);
    dq_[j] += dv;
    q_[j] += dq_[j] * dt;
    if (has_target_ && std::abs(target_[j] - q_[j]) < 1e-5 && std::abs(dq_[j]) < a_max * dt) {
      q_[j] = target_[j];
      dq_[j] = 0.0;
    }
    hold_limits(j);
  }
  q_d_ = has_target_ ? target_ : q_;
  std::fill(tau_.begin(), tau_.end(), 0.0);
}

namespace {

std::string FlangeLink(const RobotModel& model, std::uint16_t arm) {
  const std::string suffix = arm == kArm1 ? ".arm1.flange" : ".arm2.flange";
  for (const auto& link : model.tree().links()) {
    if (link.name.ends_with(suffix)) return link.name;
  }
  return "";
}

Eigen::Quaterniond Rotation(const float* wxyz) {
  const Eigen::Quaterniond q(wxyz[0], wxyz[1], wxyz[2], wxyz[3]);
  return q.norm() > 1e-6 ? q.normalized() : Eigen::Quaterniond::Identity();
}

}  // namespace

void SimRobot::PreparePhysics(JointReference& reference) {
  for (const auto arm : model_.arms()) {
    const auto g = static_cast<std::uint16_t>(arm);
    const std::string flange = FlangeLink(model_, g);
    // The tool the arm carries is part of the dynamics.
    const auto active = tools_.active().find(g);
    const ToolParams* tool = nullptr;
    for (const auto& [name, params] : tools_.tools()) {
      if (active != tools_.active().end() && name == active->second) tool = &params;
    }
    const ToolParams carried = tool ? *tool : ToolParams{};
    if (physics_payloads_[g] != carried) {
      Payload payload;
      payload.mass = carried.mass;
      payload.com = Eigen::Vector3d(carried.CoM[0], carried.CoM[1], carried.CoM[2]);
      const auto& i = carried.inertia;  // Ixx Iyy Izz Ixy Ixz Iyz
      payload.inertia << i[0], i[3], i[4], i[3], i[1], i[5], i[4], i[5], i[2];
      try {
        physics_->dynamics().SetPayload(flange, payload);
      } catch (const std::invalid_argument&) {
        // A tool that is not physical is carried as nothing.
        physics_->dynamics().SetPayload(flange, Payload{});
      }
      physics_payloads_[g] = carried;
    }
    Tcp tcp;
    tcp.flange = flange;
    const auto t = tools_.active_tcp(g);
    const float rotation[] = {static_cast<float>(t[3]), static_cast<float>(t[4]),
                              static_cast<float>(t[5]), static_cast<float>(t[6])};
    tcp.in_flange.linear() = Rotation(rotation).toRotationMatrix();
    tcp.in_flange.translation() = Eigen::Vector3d(t[0], t[1], t[2]);
    reference.tcps.push_back(tcp);

    if (mode_ != Mode::RT_CARTESIAN_MOTION_FORCE) continue;
    const auto command = cartesian_d_.find(g);
    CartesianTarget target;
    CartesianSettings settings;
    const auto [start, n] = Layout(g);
    for (unsigned j = 0; j < n; ++j) settings.arm_joints.push_back(start + static_cast<int>(j));
    // The redundant joints are pulled towards the set null-space posture, or else towards the
    // posture that reaches the target.
    settings.null_space_posture =
        Eigen::Map<const Eigen::VectorXd>(q_d_.data(), static_cast<Eigen::Index>(q_d_.size()));
    if (const auto it = settings_.find({73, g}); it != settings_.end()) {
      const auto& v = it->second.float_container;
      for (unsigned j = 0; j < n && j < v.size(); ++j)
        settings.null_space_posture[start + j] = v[j];
    }
    if (command == cartesian_d_.end()) {
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
  physics_payloads_.clear();
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

// ---- streams ------------------------------------------------------------------------------------

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
  for (const auto arm : model_.arms()) {
    const auto g = static_cast<std::uint16_t>(arm);
    qel_msg::CartesianData c;
    c.flange_pose = Floats(model_.FlangePose(arm, q_));
    c.tcp_pose = Floats(TcpPose(g, q_));
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

std::vector<EventLog> SimRobot::TakeEvents() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

// ---- test controls ------------------------------------------------------------------------------

void SimRobot::SetSafetyState(std::int16_t state) {
  std::lock_guard lock(mutex_);
  safety_ = state;
  Event(kInfo, 1600, "Safety state changed to [" + std::to_string(state) + "]");
}

void SimRobot::SetSystemState(std::uint16_t state) {
  std::lock_guard lock(mutex_);
  system_ = state;
  Event(kInfo, 1601, "System state changed to [" + std::to_string(state) + "]");
}

void SimRobot::PressEstop(bool pressed) {
  std::lock_guard lock(mutex_);
  if (pressed) {
    EnterEstop();
  } else {
    estop_released_ = true;
    Event(kInfo, 2002, "E-stop released");
  }
}

void SimRobot::RaiseFault(bool critical, bool clearable) {
  std::lock_guard lock(mutex_);
  EnterFault(critical, clearable);
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
  fault_active_ = true;
  fault_critical_ = critical;
  fault_clearable_ = clearable;
  system_ = system_state::kFaultExternalAuto;
  safety_ = critical ? safety::kCat0Stop : safety::kCat2Stop;
  EnterIdle("Fault");
  Event(critical ? kCritical : kError, critical ? 3002 : 3001,
        critical ? "Critical fault" : "Minor fault", "Robot stopped", "Raised by a test",
        "Call ClearFault()");
}

void SimRobot::MakeReady() {
  std::lock_guard lock(mutex_);
  estop_released_ = true;
  fault_active_ = false;
  brakes_engaged_ = false;
  brakes_released_at_.reset();
  safety_ = safety::kNormal;
  system_ = system_state::kStoppedExternalAuto;
}

void SimRobot::SetServerVersions(const std::string& vyr, const std::string& qel) {
  std::lock_guard lock(mutex_);
  vyr_version_ = vyr;
  qel_version_ = qel;
}

void SimRobot::SetJointLimits(const std::vector<double>& q_min, const std::vector<double>& q_max,
                              const std::vector<double>& dq_max,
                              const std::vector<double>& tau_max) {
  std::lock_guard lock(mutex_);
  const auto n = q_.size();
  if (q_min.size() != n || q_max.size() != n || dq_max.size() != n || tau_max.size() != n) {
    throw std::invalid_argument("Joint limits need one value per joint of the robot");
  }
  q_min_ = q_min;
  q_max_ = q_max;
  dq_max_ = dq_max;
  tau_max_ = tau_max;
  for (std::size_t j = 0; j < n; ++j) dq_max_reduced_[j] = kReducedVelocityRatio * dq_max[j];
}

void SimRobot::SetJointPositions(const std::vector<double>& q) {
  std::lock_guard lock(mutex_);
  if (q.size() != q_.size()) {
    throw std::invalid_argument("Joint positions need one value per joint of the robot");
  }
  q_ = q;
  generator_q_ = q;
  generator_dq_.assign(q.size(), 0.0);
  q_d_ = q;
  target_ = q;
  std::fill(dq_.begin(), dq_.end(), 0.0);
}

void SimRobot::SetMultiContact(std::vector<std::array<double, 3>> forces,
                               std::vector<std::array<double, 3>> positions) {
  std::lock_guard lock(mutex_);
  multi_contact_ = MultiContact{std::move(forces), std::move(positions)};
}

void SimRobot::ResetMultiContact() {
  std::lock_guard lock(mutex_);
  multi_contact_.reset();
}

void SimRobot::AddTimelinessFailures(std::uint64_t count) {
  std::lock_guard lock(mutex_);
  timeliness_failures_ += count;
}

void SimRobot::CorruptPrimitiveStates(int count) {
  std::lock_guard lock(mutex_);
  corrupt_primitive_states_ = count;
}

void SimRobot::EmitEvent(const EventLog& event) {
  std::lock_guard lock(mutex_);
  events_.push_back(event);
}

void SimRobot::SetDigitalInputs(const std::array<bool, 20>& inputs) {
  std::lock_guard lock(mutex_);
  digital_inputs_ = inputs;
}

void SimRobot::SetEnablingDevice(bool on) {
  std::lock_guard lock(mutex_);
  enabling_device_on_ = on;
}

void SimRobot::SetPlans(const std::vector<std::string>& plans) {
  std::lock_guard lock(mutex_);
  plans_ = plans;
}

void SimRobot::SetDeviceParams(const std::string& device, DeviceParams params) {
  std::lock_guard lock(mutex_);
  devices_.SetParams(device, std::move(params));
}

void SimRobot::SetObjectWidth(const std::string& gripper, std::optional<double> width) {
  std::lock_guard lock(mutex_);
  devices_.SetObjectWidth(gripper, width);
}

void SimRobot::SetDeviceConnected(const std::string& device, bool connected) {
  std::lock_guard lock(mutex_);
  devices_.SetConnected(device, connected);
}

void SimRobot::AddDevice(const std::string& name, DeviceParams params) {
  std::lock_guard lock(mutex_);
  devices_.AddDevice(name, std::move(params));
}

void SimRobot::SetPayload(double mass, const std::array<double, 3>& CoM,
                          const std::array<double, 6>& inertia) {
  std::lock_guard lock(mutex_);
  calibration_.SetPayload(mass, CoM, inertia);
}

void SimRobot::SetCalibrationDuration(double seconds) {
  std::lock_guard lock(mutex_);
  calibration_.SetDuration(seconds);
}

void SimRobot::SetWorkCoordValues(const std::string& name, const std::vector<double>& values) {
  std::vector<float> narrowed(values.begin(), values.end());
  std::lock_guard lock(mutex_);
  work_coords_.SetValues(name, std::move(narrowed));
}

// The file store locks itself; none of these takes the robot's lock.
void SimRobot::SetTrajFile(const std::string& name, std::vector<std::uint8_t> content) {
  files_.Set(FileKind::kTraj, name, std::move(content));
}

void SimRobot::SetProjectFile(const std::string& name, std::vector<std::uint8_t> content) {
  files_.Set(FileKind::kProject, name, std::move(content));
}

void SimRobot::SetMeshFile(const std::string& path, std::vector<std::uint8_t> content) {
  files_.Set(FileKind::kMesh, path, std::move(content));
}

void SimRobot::RemoveFile(FileKind kind, const std::string& name) { files_.Remove(kind, name); }

void SimRobot::ServeUrdf(std::optional<std::string> text) { files_.ServeUrdf(std::move(text)); }

void SimRobot::CorruptNextDownload(DownloadFault fault) { files_.CorruptNextDownload(fault); }

void SimRobot::ReportGroupDoF(JointGroup group, unsigned dof) {
  std::lock_guard lock(mutex_);
  const auto g = static_cast<std::uint16_t>(group);
  if (!GroupExists(g) || Layout(g).first + dof > model_.full_dof()) {
    throw std::invalid_argument("The robot has no joint group of that many joints there");
  }
  reported_dof_[g] = dof;
}

void SimRobot::SetSafetyInputs(const std::array<bool, 8>& inputs) {
  std::lock_guard lock(mutex_);
  safety_inputs_ = inputs;
}

void SimRobot::Reboot() {
  std::lock_guard lock(mutex_);
  const vyr::SafetyLimits pending = safety_settings_.TakePending();
  const auto apply = [&](const std::map<JointGroup, std::vector<double>>& limits,
                         std::vector<double>& to) {
    for (const auto& [g, values] : limits) {
      const auto [start, n] = Layout(static_cast<std::uint16_t>(g));
      for (unsigned j = 0; j < n && j < values.size(); ++j) to[start + j] = values[j];
    }
  };
  apply(pending.q_min, q_min_);
  apply(pending.q_max, q_max_);
  apply(pending.dq_max_normal, dq_max_);
  apply(pending.dq_max_reduced, dq_max_reduced_);
  EnterIdle("Robot rebooted");
  Event(kInfo, 1700, "Robot rebooted", "Pending safety limits applied");
}

void SimRobot::StallMotion(bool stalled) {
  std::lock_guard lock(mutex_);
  stalled_ = stalled;
}

void SimRobot::SetTorqueCalibrationTimeScale(double scale) {
  std::lock_guard lock(mutex_);
  torque_calibration_.SetTimeScale(scale);
}

void SimRobot::InterruptNextPrimitive(const std::string& name, double after_seconds,
                                      Interruption kind) {
  // A day bounds the conversion to nanoseconds; no test waits that long.
  if (!std::isfinite(after_seconds) || after_seconds < 0.0 || after_seconds > 86400.0) {
    throw std::invalid_argument(
        "An interruption comes between 0 and 86400 seconds after the start");
  }
  const std::chrono::nanoseconds after(std::llround(after_seconds * 1e9));
  std::lock_guard lock(mutex_);
  interruption_ = ArmedInterruption{name, after, kind, std::nullopt};
}

// ---- inspection ---------------------------------------------------------------------------------

Mode SimRobot::mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}
std::vector<double> SimRobot::q() const {
  std::lock_guard lock(mutex_);
  return q_;
}
std::vector<double> SimRobot::dq() const {
  std::lock_guard lock(mutex_);
  return dq_;
}
std::int16_t SimRobot::safety_state() const {
  std::lock_guard lock(mutex_);
  return safety_;
}
std::uint16_t SimRobot::system_state() const {
  std::lock_guard lock(mutex_);
  return system_;
}
bool SimRobot::busy() const { return RealtimeStates().busy; }
std::array<bool, 20> SimRobot::digital_outputs() const {
  std::lock_guard lock(mutex_);
  return digital_outputs_;
}
std::uint64_t SimRobot::timeliness_failure_count() const {
  std::lock_guard lock(mutex_);
  return timeliness_failures_;
}
std::uint64_t SimRobot::heartbeat_count() const {
  std::lock_guard lock(mutex_);
  return heartbeats_;
}
std::map<std::pair<std::uint16_t, std::uint16_t>, vyr_msg::RPCRequest> SimRobot::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}
std::optional<std::string> SimRobot::global_variable(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return globals_.Value(name);
}

std::vector<std::string> SimRobot::devices() const {
  std::lock_guard lock(mutex_);
  return devices_.names();
}
bool SimRobot::device_enabled(const std::string& device) const {
  std::lock_guard lock(mutex_);
  return devices_.enabled(device);
}
bool SimRobot::device_connected(const std::string& device) const {
  std::lock_guard lock(mutex_);
  return devices_.connected(device);
}
std::map<std::uint16_t, std::string> SimRobot::gripper_map() const {
  std::lock_guard lock(mutex_);
  return devices_.gripper_map();
}
GripperState SimRobot::gripper_state(const std::string& gripper) const {
  std::lock_guard lock(mutex_);
  return devices_.gripper_state(gripper);
}
std::vector<std::vector<DeviceCommand>> SimRobot::device_commands(const std::string& device) const {
  std::lock_guard lock(mutex_);
  return devices_.applied_commands(device);
}
std::vector<std::pair<std::string, ToolParams>> SimRobot::tools() const {
  std::lock_guard lock(mutex_);
  return tools_.tools();
}
std::map<std::uint16_t, std::string> SimRobot::active_tools() const {
  std::lock_guard lock(mutex_);
  return tools_.active();
}
std::vector<std::pair<std::string, std::vector<float>>> SimRobot::work_coords() const {
  std::lock_guard lock(mutex_);
  return work_coords_.entries();
}
std::optional<ToolParams> SimRobot::payload_result() const {
  std::lock_guard lock(mutex_);
  return calibration_.result();
}

std::map<std::string, std::vector<std::uint8_t>> SimRobot::traj_files() const {
  return files_.files(FileKind::kTraj);
}

std::map<std::string, std::vector<std::uint8_t>> SimRobot::project_files() const {
  return files_.files(FileKind::kProject);
}

std::map<std::string, std::vector<std::uint8_t>> SimRobot::mesh_files() const {
  return files_.files(FileKind::kMesh);
}

vyr::SafetyLimits SimRobot::pending_safety_limits() const {
  std::lock_guard lock(mutex_);
  return safety_settings_.pending();
}
TorqueRegulator SimRobot::torque_regulator() const {
  std::lock_guard lock(mutex_);
  return safety_settings_.regulator();
}
std::uint64_t SimRobot::torque_calibrations_saved() const {
  std::lock_guard lock(mutex_);
  return torque_calibration_.saved();
}
std::vector<double> SimRobot::reduced_velocity_limits() const {
  std::lock_guard lock(mutex_);
  return dq_max_reduced_;
}

}  // namespace korvo::sim
