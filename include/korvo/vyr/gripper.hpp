// Grippers of the single-arm joint groups, built on the robot's device interface.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

class Robot;

/**
 * Interface to control the gripper installed on the robot. A gripper is also a robot device: this
 * interface uses the same infrastructure as Device, with functions tailored to grippers.
 */
class Gripper {
 public:
  /**
   * [Blocking] Instantiate the gripper control interface; fetches the robot's device list once.
   * No gripper is enabled through a new object, whatever the robot has enabled. Throws
   * std::runtime_error if `robot` holds no connection or the device list cannot be fetched.
   */
  explicit Gripper(Robot& robot);
  virtual ~Gripper();
  Gripper(const Gripper&) = delete;
  Gripper& operator=(const Gripper&) = delete;

  /**
   * [Blocking] Enable the named gripper as the device of a single-arm joint group and read its
   * ranges; a group that already has a gripper is left as it is (with a warning). Throws
   * std::invalid_argument for a group that is not a single arm of the robot or a gripper that
   * does not exist, std::runtime_error if a request fails or the ranges cannot be parsed.
   */
  void Enable(JointGroup group, const std::string& name);
  /**
   * [Blocking] Disable the gripper of the group. Throws std::logic_error if none is enabled,
   * std::invalid_argument if it no longer exists, std::runtime_error if a request fails.
   */
  void Disable(JointGroup group);
  /**
   * [Blocking] Trigger initialization of the group's gripper; does not wait for it to finish.
   * Throws std::logic_error if none is enabled, std::runtime_error if the request fails.
   */
  void Init(JointGroup group);
  /**
   * [Blocking] Grasp with direct force control: positive closes, negative opens, N, within
   * [min_force, max_force]. Throws std::logic_error if no gripper is enabled,
   * std::invalid_argument for a force outside the range, std::runtime_error if the request fails.
   */
  void Grasp(JointGroup group, double force);
  /**
   * [Blocking] Move the fingers to `width` [m] at `velocity` [m/s] with at most `force_limit`
   * [N], each within its range of params(). Throws std::logic_error if no gripper is enabled,
   * std::invalid_argument for the first value outside its range, std::runtime_error if the
   * request fails.
   */
  void Move(JointGroup group, double width, double velocity, double force_limit);
  /**
   * [Blocking] Stop and hold the group's gripper where it is. Throws std::logic_error if none is
   * enabled, std::runtime_error if its state is not available or the request fails.
   */
  void Stop(JointGroup group);

  /** [Non-blocking] Parameters of the grippers enabled through this object, by joint group. */
  std::map<JointGroup, GripperParams> params() const;
  /**
   * [Non-blocking] Current states of the enabled grippers, by joint group. Throws
   * std::runtime_error if the robot reports another number of gripper states.
   */
  std::map<JointGroup, GripperStates> states() const;

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
