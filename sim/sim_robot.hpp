// One simulated robot: its state, its answers to the VYR and QEL operations, and its motion.
// Pure logic without any network: RobotHost connects it to zenoh. Thread-safe: requests,
// commands and heartbeats arrive on zenoh's threads, Step runs on the simulator's loop thread and
// test controls on the caller's.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/device_records.hpp"
#include "sim/devices.hpp"
#include "sim/file_store.hpp"
#include "sim/global_variables.hpp"
#include "sim/gripper_model.hpp"
#include "sim/motion_generator.hpp"
#include "sim/payload_calibration.hpp"
#include "sim/robot_model.hpp"
#include "sim/robot_physics.hpp"
#include "sim/safety_settings.hpp"
#include "sim/sim_types.hpp"
#include "sim/tools.hpp"
#include "sim/torque_calibration.hpp"
#include "sim/work_coords.hpp"

namespace korvo::sim {

class SimRobot {
 public:
  using Clock = std::chrono::steady_clock;

  SimRobot(std::string serial, RobotModel model);

  const std::string& serial() const { return serial_; }
  const RobotModel& model() const { return model_; }

  // ---- the robot side of the protocol ----
  zenoh_msgs::vyr_msg::RPCReply HandleVyr(const zenoh_msgs::vyr_msg::RPCRequest& request);
  zenoh_msgs::qel_msg::RPCReply HandleQel(const zenoh_msgs::qel_msg::RPCRequest& request);
  // False for commands of sizes no client sends: ignored and counted, like those that are not
  // finite, but not worth keeping either.
  bool OnCommands(const zenoh_msgs::vyr_msg::MotionCommands& commands, Clock::time_point now);
  // A request of sizes beyond the robot's limits, refused unserved: counted, with an event.
  void RefuseOversized(const std::string& server, std::uint16_t op_code);
  void OnHeartbeat(Clock::time_point now);

  // Advances the simulation to `now` (called every millisecond).
  void Step(Clock::time_point now);
  zenoh_msgs::vyr_msg::RealtimeStates RealtimeStates() const;
  zenoh_msgs::qel_msg::AllBasicStreamData BasicStreamData() const;
  zenoh_msgs::qel_msg::AllExtraStreamData ExtraStreamData() const;
  // Events raised since the last call, oldest first.
  std::vector<zenoh_msgs::qel_msg::EventLog> TakeEvents();

  // ---- test controls ----
  void SetSafetyState(std::int16_t state);
  void SetSystemState(std::uint16_t state);
  void PressEstop(bool pressed);
  // A minor fault (cleared by ClearFault) or a critical one; `clearable` false keeps it active.
  void RaiseFault(bool critical, bool clearable = true);
  // Skips servo-on: brakes released, safety NORMAL, ready to operate.
  void MakeReady();
  void SetServerVersions(const std::string& vyr, const std::string& qel);
  // Full-DoF vectors; std::invalid_argument for another length. The reduced-state velocity limits
  // follow at 0.6 times dq_max.
  void SetJointLimits(const std::vector<double>& q_min, const std::vector<double>& q_max,
                      const std::vector<double>& dq_max, const std::vector<double>& tau_max);
  void SetJointPositions(const std::vector<double>& q);  // full DoF, else std::invalid_argument
  // The multi-contact forces [N] and positions [m] the basic stream data carry from now on, as
  // given (narrowed to float): any number of 3-vectors each, fewer than the full DoF too, as a
  // robot without multi-contact estimation sends. ResetMultiContact restores the default, zeros
  // for every joint of the full DoF.
  void SetMultiContact(std::vector<std::array<double, 3>> forces,
                       std::vector<std::array<double, 3>> positions);
  void ResetMultiContact();
  void AddTimelinessFailures(std::uint64_t count);
  // The next `count` primitive-state replies carry an empty entry, as a glitching robot does.
  void CorruptPrimitiveStates(int count);
  // Primitive states report reachedTarget as `text` from now on (std::nullopt: as it is).
  void ReportReachedTargetAs(std::optional<std::string> text);
  void EmitEvent(const zenoh_msgs::qel_msg::EventLog& event);
  void SetPlans(const std::vector<std::string>& plans);
  // What the robot's digital input ports and its 3-position enabling device read.
  void SetDigitalInputs(const std::array<bool, 20>& inputs);
  void SetEnablingDevice(bool on);
  // Peripheral devices: std::invalid_argument for an unknown device name.
  // Replaces the parameters a device reports (a gripper's physical ranges stay).
  void SetDeviceParams(const std::string& device, DeviceParams params);
  // An object of `width` [m] between a gripper's fingers, or none; std::invalid_argument also for
  // a device that is no gripper or a negative or non-finite width.
  void SetObjectWidth(const std::string& gripper, std::optional<double> width);
  void SetDeviceConnected(const std::string& device, bool connected);
  // A device that accepts every well-formed command; std::invalid_argument for a name that is
  // taken, empty or too long.
  void AddDevice(const std::string& name, DeviceParams params);
  // What a payload calibration with the tool mounted identifies; std::invalid_argument for a
  // non-finite value or a negative mass.
  void SetPayload(double mass, const std::array<double, 3>& CoM,
                  const std::array<double, 6>& inertia);
  // How long a calibration plan runs; std::invalid_argument for a negative or non-finite time.
  void SetCalibrationDuration(double seconds);
  // Stores `values` under work coordinate `name` as they are (any length), adding or replacing:
  // lets a test make the robot report a malformed pose.
  void SetWorkCoordValues(const std::string& name, const std::vector<double>& values);
  // The robot's files, stored or replaced as given (no check an upload passes); project files
  // are named with their extension, meshes by their path without "package://".
  void SetTrajFile(const std::string& name, std::vector<std::uint8_t> content);
  void SetProjectFile(const std::string& name, std::vector<std::uint8_t> content);
  void SetMeshFile(const std::string& path, std::vector<std::uint8_t> content);
  // std::invalid_argument when the robot holds no such file.
  void RemoveFile(FileKind kind, const std::string& name);
  // The URDF operation 5 hands out from now on (any text); std::nullopt restores the model's.
  void ServeUrdf(std::optional<std::string> text);
  // Operations 6 and 10 report `dof` joints for `group` from its start from now on, as a robot
  // with another arm would; motion keeps the model's layout. std::invalid_argument for a group
  // the robot does not have or joints beyond its full DoF.
  void ReportGroupDoF(vyr::JointGroup group, unsigned dof);
  // The next download reply the robot grants (operations 62, 65, 66, 5) goes wrong this way.
  void CorruptNextDownload(DownloadFault fault);
  // What the eight safety input ports read.
  void SetSafetyInputs(const std::array<bool, 8>& inputs);
  // Applies every pending safety limit (operation 6 reports them from now on), forgets them and
  // returns to IDLE. The robot stays hosted and connected.
  void Reboot();
  // Leaves the recovery state a joint position limit put the robot in, as the robot's
  // programming environment does: joints at or beyond a limit move half a degree back inside,
  // safety NORMAL. Nothing happens outside the recovery state.
  void Recover();
  // While stalled, discrete targets (primitives, plans, non-real-time joint commands) are not
  // approached: the joints hold still until released or interrupted.
  void StallMotion(bool stalled);
  // How many times its waitTime a torque-sensor calibration runs (1 at start).
  // std::invalid_argument for a negative or non-finite scale, or one above
  // TorqueCalibration::kMaxTimeScale.
  void SetTorqueCalibrationTimeScale(double scale);
  // Armed once: `after_seconds` after the next primitive `name` starts (whether or not it is still
  // running then), the simulator's loop raises a minor, clearable fault or presses the E-stop.
  // Replaces an interruption armed before. std::invalid_argument for a negative or non-finite
  // time, or one above a day.
  void InterruptNextPrimitive(const std::string& name, double after_seconds, Interruption kind);

  // With physics on, the joints move as the robot's dynamics under each mode's controller make
  // them (the physical twin); off, they follow their commands kinematically. Off at first.
  void EnablePhysics(bool on);
  // With physics on: a wrench (force [N] then torque [Nm], world axes) on link `link`'s origin
  // for `seconds`, added to any other; a plane the TCPs touch (none removes it).
  // std::invalid_argument for a link the robot lacks, a non-finite value or a negative or
  // non-finite time.
  void ApplyWrench(const std::string& link, const std::array<double, 6>& wrench, double seconds);
  void SetContactPlane(std::optional<ContactPlane> plane);
  // A box the TCPs touch (none removes it); std::invalid_argument for a non-finite value, a half
  // size that is not positive or a negative stiffness or damping.
  void SetContactBox(std::optional<ContactBox> box);
  // The force the contacts exert on each arm's TCP, world axes (zero without contact or physics).
  std::map<std::uint16_t, std::array<double, 3>> contact_forces() const;

  // ---- inspection ----
  vyr::Mode mode() const;
  std::vector<double> q() const;
  std::vector<double> dq() const;
  std::int16_t safety_state() const;
  std::uint16_t system_state() const;
  bool busy() const;
  std::array<bool, 20> digital_outputs() const;
  std::uint64_t timeliness_failure_count() const;
  std::uint64_t heartbeat_count() const;
  // Motion commands ignored for values that are not finite or sizes beyond the robot's limits,
  // and requests refused for their sizes.
  std::uint64_t ignored_commands() const;
  std::uint64_t refused_requests() const;
  // The last request of every setting operation (70 to 76, 80 to 82), by code and group.
  std::map<std::pair<std::uint16_t, std::uint16_t>, zenoh_msgs::vyr_msg::RPCRequest> settings()
      const;
  std::optional<std::string> global_variable(const std::string& name) const;
  // Devices in the robot's order, and what they hold; std::invalid_argument for an unknown name.
  std::vector<std::string> devices() const;
  bool device_enabled(const std::string& device) const;
  bool device_connected(const std::string& device) const;
  std::map<std::uint16_t, std::string> gripper_map() const;  // group -> gripper
  GripperState gripper_state(const std::string& gripper) const;
  // The command lists a device accepted, oldest first.
  std::vector<std::vector<DeviceCommand>> device_commands(const std::string& device) const;
  // The tool table in the robot's order ("Flange" first) and the active tool of every single arm.
  std::vector<std::pair<std::string, ToolParams>> tools() const;
  std::map<std::uint16_t, std::string> active_tools() const;
  // Work coordinates in the order they were added, with the values stored.
  std::vector<std::pair<std::string, std::vector<float>>> work_coords() const;
  // The last completed payload calibration (tcp_location zero), if any.
  std::optional<ToolParams> payload_result() const;
  // The robot's files by name (meshes by path without "package://").
  std::map<std::string, std::vector<std::uint8_t>> traj_files() const;
  std::map<std::string, std::vector<std::uint8_t>> project_files() const;
  std::map<std::string, std::vector<std::uint8_t>> mesh_files() const;
  // Safety limits accepted but not applied before a reboot, per single arm.
  vyr::SafetyLimits pending_safety_limits() const;
  TorqueRegulator torque_regulator() const;
  std::uint64_t torque_calibrations_saved() const;
  // The full-DoF velocity limits of the reduced safety state.
  std::vector<double> reduced_velocity_limits() const;

 private:
  // A running plan: it walks through postures around the home posture.
  struct PlanRun {
    std::string name;
    std::vector<std::vector<double>> waypoints;  // full-DoF postures
    std::size_t next = 0;
    bool paused = false;
    bool waiting_for_step = false;
    Clock::time_point started;
    // Payload calibrations hold the arms still for the calibration time: whether the tool is
    // mounted, and when the calibration is done.
    std::optional<bool> calibration;
    Clock::time_point ends;
  };
  // A primitive running (or finished) on one single-arm group. Most end at their target; a
  // torque-sensor calibration ends at a time.
  struct PrimitiveRun {
    std::string name;
    Clock::time_point started;
    double time_period = 0.0;
    bool reached = false;
    bool aborted = false;  // cut short by IDLE: never reached, no longer busy
    std::optional<Clock::time_point> ends{};
  };
  // An interruption armed for the next start of primitive `name`.
  struct ArmedInterruption {
    std::string name;
    std::chrono::nanoseconds after;
    Interruption kind;
    std::optional<Clock::time_point> started;
  };

  // Multi-contact values the basic stream carries instead of the default zeros.
  struct MultiContact {
    std::vector<std::array<double, 3>> forces, positions;
  };

  using VyrReply = zenoh_msgs::vyr_msg::RPCReply;
  using VyrRequest = zenoh_msgs::vyr_msg::RPCRequest;

  bool Operational() const;  // safety NORMAL or REDUCED and no fault
  bool AllStopped() const;
  bool IsRealtime(vyr::Mode m) const;
  void Event(std::uint16_t level, std::int32_t id, const std::string& description,
             const std::string& consequences = "", const std::string& causes = "",
             const std::string& actions = "");
  // Leaves every mode for IDLE: plans stop, unfinished primitives are aborted.
  void EnterIdle(const std::string& why);
  void EnterFault(bool critical, bool clearable);
  void EnterFault(bool critical, bool clearable, std::int32_t id, const std::string& description,
                  const std::string& causes);
  // A joint reached its position limit: IDLE in the recovery state, which servo-on cannot leave.
  void EnterRecovery(const std::string& joint);
  // With physics on, after each step: a joint that reaches a position limit puts the robot in
  // recovery, one faster than its velocity limit allows raises a fault, and so does a contact
  // wrench beyond the set maximum on a motion-controlled axis in Cartesian control.
  void WatchPhysicalLimits();
  std::vector<bool> at_position_limit_;
  struct ContactWatch {
    std::size_t arm;  // index into model_.arms()
    Eigen::Matrix3d frame;
    std::array<bool, 6> force_axes;
  };
  std::vector<ContactWatch> contact_watch_;  // the arms in Cartesian control this period
  void EnterEstop();

  bool ServoOn();
  bool ClearFault();
  bool SetMode(std::int32_t mode);
  bool Brake(bool engage);
  bool JointLimits(const VyrRequest& request, VyrReply& reply) const;
  bool DigitalOutputs(const VyrRequest& request);
  // Called without the lock: takes it to check the request and copy the state, solves outside.
  bool Reachability(const VyrRequest& request, VyrReply& reply) const;
  bool ExecutePrimitives(const VyrRequest& request);
  bool ExecutePlan(const VyrRequest& request);
  bool Setting(const VyrRequest& request);
  std::vector<std::string> PrimitiveStateTexts();
  std::vector<std::string> PlanInfoTexts() const;
  void StepTasks(Clock::time_point now);
  void StepJoints(double dt);
  // The kinematic motion: streamed positions taken as they come, discrete targets approached by
  // a velocity- and acceleration-limited profile. With physics on, it is the motion generator
  // whose trajectory the controllers track.
  void KinematicStep(double dt);
  bool AtTarget() const;
  void SetTarget(std::uint16_t group, const std::vector<double>& q, double speed_scale);
  // The posture that puts the TCP of `arm` at `pose` [x, y, z, qw, qx, qy, qz], solved from the
  // current one, for a motion command; none for a pose out of reach or not finite.
  std::optional<std::vector<double>> PostureFor(std::uint16_t arm,
                                                const std::array<double, 7>& pose) const;
  // The TCP pose of `arm`: the flange moved by the active tool, at the positions `q` (full DoF).
  std::array<double, 7> TcpPose(std::uint16_t arm, const std::vector<double>& q) const;
  bool GroupExists(std::uint16_t group) const;
  std::pair<int, unsigned> Layout(std::uint16_t group) const;
  // The layout operations 6 and 10 report: the model's, or what ReportGroupDoF set.
  std::pair<int, unsigned> ReportedLayout(std::uint16_t group) const;

  const std::string serial_;
  const RobotModel model_;

  mutable std::mutex mutex_;
  std::string vyr_version_ = "v2.1";
  std::string qel_version_ = "v2.1";
  std::string software_version_ = "v2.1.0-sim";
  std::vector<double> q_min_, q_max_, dq_max_, tau_max_;
  std::vector<double> dq_max_reduced_;  // reported instead of dq_max_ in the reduced state

  vyr::Mode mode_ = vyr::Mode::IDLE;
  std::int16_t safety_ = safety::kCat1Stop;
  std::uint16_t system_ = system_state::kStoppedExternalAuto;
  bool estop_released_ = true;
  bool brakes_engaged_ = true;
  bool fault_active_ = false;
  bool fault_critical_ = false;
  bool fault_clearable_ = true;
  std::optional<Clock::time_point> brakes_released_at_;  // servo-on in progress
  std::array<bool, 20> digital_outputs_{};
  std::array<bool, 20> digital_inputs_{};
  bool enabling_device_on_ = false;
  std::array<bool, 8> safety_inputs_{};
  Clock::time_point now_{};

  std::vector<double> q_, dq_, ddq_, tau_;  // measured
  std::vector<double> q_d_, dq_d_, tau_d_;  // desired
  std::vector<double> target_;              // discrete joint target, full DoF
  std::vector<double> target_dq_max_, target_ddq_max_;
  bool has_target_ = false;
  bool stalled_ = false;
  std::map<std::uint16_t, zenoh_msgs::vyr_msg::CartesianCommand> cartesian_d_;
  std::optional<MultiContact> multi_contact_;       // none: zeros, one per joint
  std::optional<RobotPhysics> physics_;             // none: kinematic motion
  std::vector<double> generator_q_, generator_dq_;  // the motion generator's own state
  MotionGenerator motion_;                          // jerk-limited approach of discrete targets
  std::vector<MotionLimits> motion_limits_;
  std::vector<double> tau_ext_;  // external joint torques of the last step (physics on)
  struct Push {
    std::string link;
    Vector6d wrench;
    Clock::time_point until;
  };
  std::vector<Push> pushes_;
  std::optional<ContactPlane> contact_plane_;
  std::optional<ContactBox> contact_box_;
  // Each arm's TCP in the dynamics (flange link, active tool, own joints); the active tools'
  // payloads are carried by the dynamics. Rebuilt when the tools change.
  std::vector<Tcp> physics_tcps_;
  bool physics_tools_stale_ = true;
  void SyncPhysicsTools();
  // What the physics needs of the arms this period: their TCPs, and in real-time Cartesian control
  // their targets and settings; the carried payloads follow the active tools.
  void PreparePhysics(JointReference& reference);
  TorqueCommandOptions torque_options_;  // of the last real-time torque command

  std::uint64_t timeliness_failures_ = 0;
  std::uint64_t ignored_commands_ = 0;
  std::optional<std::string> reached_target_text_;
  std::uint64_t refused_requests_ = 0;
  std::optional<Clock::time_point> last_rt_command_;
  std::optional<Clock::time_point> last_heartbeat_;
  std::uint64_t heartbeats_ = 0;

  unsigned velocity_scale_ = 100;
  bool breakpoint_mode_ = false;
  std::vector<std::string> plans_;
  std::optional<PlanRun> plan_;
  std::string last_plan_;
  std::map<std::uint16_t, PrimitiveRun> primitives_;
  std::optional<Clock::time_point> rt_mode_entered_;
  std::vector<std::vector<double>> waypoint_queue_;
  int corrupt_primitive_states_ = 0;
  std::optional<ArmedInterruption> interruption_;
  std::map<std::uint16_t, unsigned> reported_dof_;
  GlobalVariables globals_;
  Devices devices_;
  Tools tools_;
  PayloadCalibration calibration_;
  WorkCoords work_coords_;
  SafetySettings safety_settings_;
  TorqueCalibration torque_calibration_;
  FileStore files_;  // locks itself; never touched under mutex_
  std::map<std::pair<std::uint16_t, std::uint16_t>, VyrRequest> settings_;
  std::vector<zenoh_msgs::qel_msg::EventLog> events_;
  std::int32_t next_event_id_ = 1000;
};

}  // namespace korvo::sim
