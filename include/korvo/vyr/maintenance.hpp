// Maintenance operations on the robot: calibration of the joint torque sensors.
#pragma once

#include <memory>
#include <vector>

#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

class Robot;

/** Interface to run maintenance operations on the robot. */
class Maintenance {
 public:
  /**
   * [Non-blocking] Instantiate the robot maintenance interface; sends nothing. Throws
   * std::runtime_error if `robot` holds no connection, std::logic_error for a product model
   * without a default calibration posture.
   */
  explicit Maintenance(Robot& robot);
  virtual ~Maintenance();
  Maintenance(const Maintenance&) = delete;
  Maintenance& operator=(const Maintenance&) = delete;

  /**
   * [Blocking] Calibrate all joint torque sensors of a single-arm group: switch to
   * NRT_PRIMITIVE_EXECUTION, move the arm to the calibration posture (the upright posture, all
   * zeros, if `cali_posture` is empty; a given posture must lie within RobotInfo::q_min and
   * q_max, rad), hold it while the robot calibrates, save the result and switch back to IDLE.
   * The external axes, where the robot has them, are driven to 0 as well. Mode IDLE; takes
   * several seconds; the result takes effect after a reboot. Advised when a static robot
   * without payload reads more than 5 N in tcp_wrench_local, or when joints drift while floating
   * in joint torque mode.
   *
   * Throws std::invalid_argument for a group that is not a single arm of the robot or a posture
   * of the wrong size or out of range (NaN included); std::logic_error outside IDLE, on a lite
   * instance (it sees no robot status to follow the calibration) or for an arm that does not have
   * 7 joints; std::runtime_error if the robot faults, stops, leaves the mode or loses the
   * connection during the calibration, or the result cannot be saved; also what SwitchMode and
   * ExecutePrimitive throw. After a failure past the input checks the robot stays in
   * NRT_PRIMITIVE_EXECUTION.
   */
  void CalibrateJointTorqueSensors(JointGroup group, const std::vector<double>& cali_posture = {});

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
