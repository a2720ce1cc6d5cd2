// The main interface to one robot.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr_impl {
struct RobotAccess;
}  // namespace korvo::vyr_impl

namespace korvo::vyr {

/**
 * Main interface to control the robot, containing several function categories and background
 * services.
 */
class Robot {
 public:
  /**
   * [Blocking] Instantiate the robot control interface: start the library's services and connect
   * to the robot with serial number `robot_sn` ("Olvar-L-123456" or "Olvar L-123456").
   * Throws std::invalid_argument for a malformed serial number, std::logic_error for an
   * unsupported product model or an incompatible robot, std::runtime_error when the services
   * cannot start or the robot cannot be reached. A lite instance only sends blocking requests:
   * it receives no states and sends no motion commands.
   */
  Robot(const std::string& robot_sn, bool verbose = true, bool lite = false);
  virtual ~Robot();
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  /** [Non-blocking] Whether this instance is a lite one. */
  bool lite() const;
  /** [Non-blocking] Whether the connection with the robot is established. */
  bool connected() const;
  /** [Non-blocking] General information about the robot. */
  RobotInfo info() const;
  /** [Non-blocking] Current control mode (a lite instance asks the robot: blocking). */
  Mode mode() const;
  /** [Non-blocking] Current states of all existing joint groups. */
  std::map<JointGroup, RobotStates> states() const;
  /** [Non-blocking] Current actions of all existing joint groups. */
  std::map<JointGroup, RobotActions> actions() const;
  /** [Non-blocking] Per joint group, whether it has come to a complete stop. */
  std::map<JointGroup, bool> stopped() const;
  /** [Non-blocking] Whether all joint groups have come to a complete stop. */
  bool all_stopped() const;
  /** [Non-blocking] Whether the robot is ready to be operated. */
  bool operational() const;
  /** [Non-blocking] Current operational status. */
  OperationalStatus operational_status() const;
  /** [Non-blocking] Whether the robot executes a user-commanded operation. */
  bool busy() const;
  /** [Non-blocking] Whether the robot is in fault state. */
  bool fault() const;
  /** [Non-blocking] Whether the robot is in reduced state. */
  bool reduced() const;
  /** [Non-blocking] Whether the robot is in recovery state. */
  bool recovery() const;
  /** [Non-blocking] Whether all connected emergency stops are released. */
  bool estop_released() const;
  /** [Non-blocking] Whether the 3-position enabling device is in its ON (middle) position. */
  bool enabling_device_on() const;
  /** [Non-blocking] Whether the timeliness failure limit was reached within the last second. */
  bool reached_timeliness_failure_limit() const;
  /** [Non-blocking] Robot events received since this instance was created, oldest first. */
  std::vector<RobotEvent> event_log() const;
  /** [Non-blocking] Current reading of all digital input ports. */
  std::array<bool, kIOPorts> digital_inputs() const;
  /** [Non-blocking] Current reading of all digital output ports. */
  std::array<bool, kIOPorts> digital_outputs() const;

  /** [Blocking] Servo on: the robot releases its brakes and becomes operational shortly after. */
  void ServoOn();
  /** [Blocking] Engage (true) or release (false) the brakes, only while the robot is stopped. */
  void Brake(bool engage);
  /** [Blocking] Switch to a new control mode, stopping a moving robot first. */
  void SwitchMode(Mode mode);
  /** [Blocking] Stop the robot and switch to IDLE. */
  void Stop();
  /** [Blocking] Try to clear a fault, waiting at most `timeout_sec` s; true when cleared. */
  bool ClearFault(unsigned int timeout_sec = 30);

  /** [Non-blocking] Stream joint torque commands (mode RT_JOINT_TORQUE). */
  void StreamJointTorque(const std::map<JointGroup, RtJointTorqueCmd>& cmds);
  /** [Non-blocking] Stream joint position commands (modes RT_JOINT_IMPEDANCE, RT_JOINT_POSITION).
   */
  void StreamJointPosition(const std::map<JointGroup, RtJointPositionCmd>& cmds);
  /** [Non-blocking] Stream Cartesian motion-force commands (mode RT_CARTESIAN_MOTION_FORCE). */
  void StreamCartesianMotionForce(const std::map<JointGroup, RtCartesianCmd>& cmds);
  /** [Non-blocking] Tolerated percentage [0, 100] of late real-time commands within 1 s. */
  void SetTimelinessFailureLimit(double percentage = 2.0);
  /** [Non-blocking] Send discrete joint targets (modes NRT_JOINT_IMPEDANCE, NRT_JOINT_POSITION). */
  void SendJointPosition(const std::map<JointGroup, NrtJointPositionCmd>& cmds);
  /**
   * [Non-blocking] Send discrete Cartesian motion-force targets (modes NRT_CARTESIAN_MOTION_FORCE,
   * NRT_SUPER_PRIMITIVE).
   */
  void SendCartesianMotionForce(const std::map<JointGroup, NrtCartesianCmd>& cmds);
  /** [Non-blocking] Send multi-waypoint Cartesian targets (mode NRT_SUPER_PRIMITIVE). */
  void SendCartesianMotionForceMultiWaypoint(
      const std::map<JointGroup, NrtCartesianMultiWaypointCmd>& cmds);

  // ---- plans, primitives and global variables ----
  /** [Blocking] Execute the plan with this index in plan_list() (mode NRT_PLAN_EXECUTION). */
  void ExecutePlan(unsigned int index, bool continue_exec = false, bool block_until_started = true);
  /** [Blocking] Execute the plan with this name (mode NRT_PLAN_EXECUTION). */
  void ExecutePlan(const std::string& name, bool continue_exec = false,
                   bool block_until_started = true);
  /** [Blocking] Pause (true) or resume (false) the current plan. */
  void PausePlan(bool toggle);
  /** [Blocking] Stop the execution of the current plan. */
  void StopPlan();
  /** [Blocking] All available plans. */
  std::vector<std::string> plan_list() const;
  /** [Blocking] Detailed information about the executing plan. */
  PlanInfo plan_info() const;
  /** [Blocking] Enable or disable breakpoint mode during plan execution. */
  void SetBreakpointMode(bool is_enabled);
  /** [Blocking] In breakpoint mode, continue to the next breakpoint. */
  void StepBreakpoint();
  /** [Blocking] Overall velocity scale of plan and primitive motions, percent [0, 100]. */
  void SetVelocityScale(unsigned int velocity_scale);
  /** [Blocking] Execute primitives on single-arm joint groups (mode NRT_PRIMITIVE_EXECUTION). */
  void ExecutePrimitive(const std::map<JointGroup, PrimitiveArgs>& primitive_args,
                        bool block_until_started = true);
  /** [Blocking] States of the running primitives, for the groups that run one. A state value that
   * converts to no value type comes back as its text. */
  std::map<JointGroup, PrimitiveStates> primitive_states() const;
  /** [Blocking] Set values of global variables that already exist on the robot. */
  void SetGlobalVariables(const std::map<std::string, ParamValue>& global_vars);
  /** [Blocking] Existing global variables and their current values. A value that converts to
   * no value type (a number beyond its type's range, say) comes back as its text. */
  std::map<std::string, ParamValue> global_variables() const;
  /** [Blocking] Move single-arm joint groups (all when empty) to their home posture. */
  void Home(const std::vector<JointGroup>& groups = {});

  // ---- controller settings and digital outputs ----
  /** [Blocking] Joint stiffness and damping ratios (empty: 0.7 each) of a joint group. */
  void SetJointImpedance(JointGroup group, const std::vector<double>& K_q,
                         const std::vector<double>& Z_q = {});
  /** [Blocking] Maximum contact torques of a joint group. */
  void SetMaxContactTorque(JointGroup group, const std::vector<double>& max_torques);
  /** [Blocking] Inertia shaping scales [0.75, 1.0] of a joint group. */
  void SetJointInertiaScale(JointGroup group, const std::vector<double>& inertia_scales);
  /** [Blocking] Cartesian stiffness and damping ratios of a single-arm group. */
  void SetCartesianImpedance(JointGroup group, const std::array<double, kCartDoF>& K_x,
                             const std::array<double, kCartDoF>& Z_x = {0.7, 0.7, 0.7, 0.7, 0.7,
                                                                        0.7});
  /** [Blocking] Maximum contact wrench of a single-arm group. */
  void SetMaxContactWrench(JointGroup group, const std::array<double, kCartDoF>& max_wrench);
  /** [Blocking] Reference joint positions for null-space posture control. */
  void SetNullSpacePosture(JointGroup group, const std::vector<double>& ref_positions);
  /** [Blocking] Weights of the three null-space objectives. */
  void SetNullSpaceObjectives(JointGroup group, double linear_manipulability = 0.0,
                              double angular_manipulability = 0.0,
                              double ref_positions_tracking = 0.5);
  /** [Blocking] Cartesian axes under force control and their linear velocity limits. */
  void SetForceControlAxis(JointGroup group, const std::array<bool, kCartDoF>& enabled_axes,
                           const std::array<double, 3>& max_linear_vel = {1.0, 1.0, 1.0});
  /** [Blocking] Force control reference frame relative to a root coordinate. */
  void SetForceControlFrame(JointGroup group, CoordType root_coord,
                            const std::array<double, kPoseSize>& T_in_root = {0.0, 0.0, 0.0, 1.0,
                                                                              0.0, 0.0, 0.0});
  /** [Blocking] Open-loop (true) or closed-loop (false) force control (mode IDLE). */
  void SetPassiveForceControl(JointGroup group, bool is_enabled);
  /** [Blocking] Set digital output ports [0, 19]; ports not named keep their state. */
  void SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs);

  class Impl;

 private:
  friend struct vyr_impl::RobotAccess;
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
