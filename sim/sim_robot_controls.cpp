// Test controls and read-backs of the simulated robot.
#include "sim/sim_robot.hpp"

#include <algorithm>
#include <stdexcept>

#include "sim/sim_robot_support.hpp"

namespace korvo::sim {

using namespace robot_support;

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

void SimRobot::ReportReachedTargetAs(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  reached_target_text_ = std::move(text);
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

std::uint64_t SimRobot::ignored_commands() const {
  std::lock_guard lock(mutex_);
  return ignored_commands_;
}

std::uint64_t SimRobot::refused_requests() const {
  std::lock_guard lock(mutex_);
  return refused_requests_;
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
