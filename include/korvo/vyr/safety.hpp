// The robot's joint safety limits, safety inputs and output torque regulator.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

class Robot;

/**
 * Interface to manage safety settings of the robot. A password is required to authenticate this
 * interface. Certain safety settings apply to the arms only, not to the external axes.
 *
 * The password is a guard on this client's side only: it keeps a program from changing safety
 * settings by accident, it is not an authorization. The robot must authorize changes itself, and
 * the password is never logged.
 */
class Safety {
 public:
  /**
   * [Non-blocking] Instantiate the safety settings interface; sends nothing. Throws
   * std::runtime_error if `robot` holds no connection, std::invalid_argument if the password is
   * incorrect, std::logic_error for a product model without default safety limits.
   */
  Safety(Robot& robot, const std::string& password);
  virtual ~Safety();
  Safety(const Safety&) = delete;
  Safety& operator=(const Safety&) = delete;

  /** [Non-blocking] Default safety limits of the connected robot's single arms, as a copy. */
  SafetyLimits default_limits() const;
  /**
   * [Non-blocking] Current safety limits: the joint limits the robot reported when the Robot
   * connected, widened by the robot's trip margins (2.5 degrees on positions, 10 degrees per
   * second on velocities). The robot reports the velocity limits of the safety state it is in, so
   * those of the other state are empty vectors. Limits set since take effect, and show here, only
   * after the robot has rebooted and a new Robot has connected. Throws std::out_of_range if the
   * robot did not report a group of the defaults.
   */
  SafetyLimits current_limits() const;
  /** [Non-blocking] Current reading of the safety input ports, index = port, true = high. */
  std::array<bool, kSafetyIOPorts> safety_inputs() const;

  /**
   * [Blocking] Set the joint position safety limits of a single-arm group, each within the
   * default limits and each minimum not above its maximum, rad; mode IDLE; takes effect after a
   * reboot. Throws std::invalid_argument for a group that is not a single arm of the robot, a
   * vector of the wrong size or a value out of range (NaN included), std::logic_error outside
   * IDLE or for an arm whose joints the defaults do not cover, std::runtime_error if the request
   * fails.
   */
  void SetJointPositionLimits(JointGroup group, const std::vector<double>& min_positions,
                              const std::vector<double>& max_positions);
  /**
   * [Blocking] Set the joint velocity safety limits of a single-arm group for the normal state,
   * valid [0.872665, default normal-state limit] rad/s; mode IDLE; takes effect after a reboot.
   * Throws as SetJointPositionLimits.
   */
  void SetJointVelocityNormalLimits(JointGroup group, const std::vector<double>& max_velocities);
  /**
   * [Blocking] Set the joint velocity safety limits of a single-arm group for the reduced state,
   * valid [0.872665, default normal-state limit] rad/s; mode IDLE; takes effect after a reboot.
   * Throws as SetJointPositionLimits.
   */
  void SetJointVelocityReducedLimits(JointGroup group, const std::vector<double>& max_velocities);
  /**
   * [Blocking] Set the regulator of the joints' total output torques (manipulator and external
   * axes): the maximum output torque is tau_max × limiting_factor, and a minor fault is raised
   * when an unregulated torque exceeds the regulator's limit for more than error_threshold
   * consecutive cycles. Both must be positive (error_threshold at most 2147483647); mode IDLE;
   * effective at once. A too small factor degrades performance. Throws std::logic_error outside
   * IDLE, std::invalid_argument for a value out of range (a non-finite factor included),
   * std::runtime_error if the request fails.
   */
  void SetJointOutputTorqueRegulator(double limiting_factor, std::uint32_t error_threshold);

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
