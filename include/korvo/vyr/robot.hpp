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

  class Impl;

 private:
  friend struct vyr_impl::RobotAccess;
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
