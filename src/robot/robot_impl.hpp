// The state behind a Robot handle: the shared client and what construction learnt of the robot.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/vyr_client.hpp"
#include "korvo/vyr/robot.hpp"

namespace korvo::vyr {

class Robot::Impl {
 public:
  Impl(const std::string& robot_sn, bool verbose, bool lite);
  virtual ~Impl() = default;

  // ---- status and states ----
  bool lite() const { return lite_; }
  bool connected() const;
  RobotInfo info() const { return info_; }
  Mode mode() const;
  std::map<JointGroup, RobotStates> states() const;
  std::map<JointGroup, RobotActions> actions() const;
  std::map<JointGroup, bool> stopped() const;
  bool all_stopped() const;
  bool operational() const;
  OperationalStatus operational_status() const;
  bool busy() const;
  bool fault() const;
  bool reduced() const;
  bool recovery() const;
  bool estop_released() const;
  bool enabling_device_on() const;
  bool reached_timeliness_failure_limit() const;
  std::vector<RobotEvent> event_log() const;
  std::array<bool, kIOPorts> digital_inputs() const;
  std::array<bool, kIOPorts> digital_outputs() const;

  // ---- mode switching and robot operations ----
  void ServoOn();
  void Brake(bool engage);
  void SwitchMode(Mode mode);
  bool ClearFault(unsigned int timeout_sec);

  // ---- real-time and non-real-time motion commands ----
  void StreamJointTorque(const std::map<JointGroup, RtJointTorqueCmd>& cmds);
  void StreamJointPosition(const std::map<JointGroup, RtJointPositionCmd>& cmds);
  void StreamCartesianMotionForce(const std::map<JointGroup, RtCartesianCmd>& cmds);
  void SetTimelinessFailureLimit(double percentage);
  void SendJointPosition(const std::map<JointGroup, NrtJointPositionCmd>& cmds);
  void SendCartesianMotionForce(const std::map<JointGroup, NrtCartesianCmd>& cmds);
  void SendCartesianMotionForceMultiWaypoint(
      const std::map<JointGroup, NrtCartesianMultiWaypointCmd>& cmds);

  // ---- plans, primitives and global variables (robot_plans.cpp) ----
  void ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started);
  void ExecutePlan(const std::string& name, bool continue_exec, bool block_until_started);
  void PausePlan(bool toggle);
  void StopPlan();
  std::vector<std::string> plan_list() const;
  PlanInfo plan_info() const;
  void SetBreakpointMode(bool is_enabled);
  void StepBreakpoint();
  void SetVelocityScale(unsigned int velocity_scale);
  void ExecutePrimitive(const std::map<JointGroup, PrimitiveArgs>& primitive_args,
                        bool block_until_started);
  std::map<JointGroup, PrimitiveStates> primitive_states() const;
  void SetGlobalVariables(const std::map<std::string, ParamValue>& global_vars);
  std::map<std::string, ParamValue> global_variables() const;
  void Home(const std::vector<JointGroup>& groups);

  // ---- controller settings and digital outputs (robot_settings.cpp) ----
  void SetJointImpedance(JointGroup group, const std::vector<double>& K_q,
                         const std::vector<double>& Z_q);
  void SetMaxContactTorque(JointGroup group, const std::vector<double>& max_torques);
  void SetJointInertiaScale(JointGroup group, const std::vector<double>& inertia_scales);
  void SetCartesianImpedance(JointGroup group, const std::array<double, kCartDoF>& K_x,
                             const std::array<double, kCartDoF>& Z_x);
  void SetMaxContactWrench(JointGroup group, const std::array<double, kCartDoF>& max_wrench);
  void SetNullSpacePosture(JointGroup group, const std::vector<double>& ref_positions);
  void SetNullSpaceObjectives(JointGroup group, double linear_manipulability,
                              double angular_manipulability, double ref_positions_tracking);
  void SetForceControlAxis(JointGroup group, const std::array<bool, kCartDoF>& enabled_axes,
                           const std::array<double, 3>& max_linear_vel);
  void SetForceControlFrame(JointGroup group, CoordType root_coord,
                            const std::array<double, kPoseSize>& T_in_root);
  void SetPassiveForceControl(JointGroup group, bool is_enabled);
  void SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs);

  // The name of `group` in messages ("UNKNOWN" for a value without a name).
  static std::string GroupName(JointGroup group);
  bool IsSingleArm(JointGroup group) const;
  // A single-arm group, or EXT_AXIS when the robot has external axes.
  bool IsSingleArmOrExtAxis(JointGroup group) const;

  // Throws std::logic_error `prefix` + " Robot is not in an applicable control mode" unless the
  // current mode is one of `modes` (a lite instance whose mode request fails never is).
  void RequireMode(const char* prefix, std::initializer_list<Mode> modes) const;
  // The text after "Robot is not operational: " for the current status.
  std::string NotOperationalText() const;

  // Expires when this Impl is destroyed: interfaces built from the Robot keep only this weak
  // reference, so one that outlives its Robot raises instead of reaching freed memory.
  std::weak_ptr<Impl> alive() const { return alive_; }

  // Shared with every auxiliary interface built from this robot.
  std::shared_ptr<vyr_impl::VYRClient> client;
  // Motion commands sent since the last mode switch.
  std::uint64_t command_counter = 0;
  ProductModel product_model = ProductModel::UNKNOWN;
  RobotInfo info_;
  std::map<JointGroup, std::int32_t> start_ids;

 private:
  // The checks every command operation makes first: operational, then the mode.
  void CheckCommandPreconditions(const char* prefix, std::initializer_list<Mode> modes) const;
  // The warning of the streaming operations while the robot counts too many late commands.
  void WarnIfLate(const char* prefix) const;
  // Stamps and publishes what the fill put into the publisher.
  void PublishCommands();

  // Scratch lists reused by every command, so a steady 1 kHz loop does not allocate.
  std::vector<zenoh_msgs::vyr_msg::JointCommand> joint_scratch_;
  std::vector<zenoh_msgs::vyr_msg::CartesianCommand> cartesian_scratch_;
  std::vector<std::vector<zenoh_msgs::vyr_msg::CartesianCommand>> waypoint_scratch_;
  std::vector<std::uint16_t> groups_scratch_;

  bool verbose_;
  bool lite_;
  // Owns nothing: it only marks this Impl alive for the weak references of alive().
  std::shared_ptr<Impl> alive_{this, [](Impl*) {}};
};

}  // namespace korvo::vyr
