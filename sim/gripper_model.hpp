// The fingers of one simulated parallel gripper: position moves, force-controlled grasps and
// homing at a constant finger velocity, stopping on an object held between the fingers. Pure
// logic, stepped by its owner.
#pragma once

#include <optional>

namespace korvo::sim {

// What the gripper can physically do: opening width [m], finger force [N], finger velocity [m/s].
struct GripperRanges {
  double min_width = 0.0;
  double max_width = 0.1;
  double min_force = -80.0;
  double max_force = 80.0;
  double min_vel = 0.001;
  double max_vel = 0.2;
};

struct GripperState {
  double width = 0.0;
  double force = 0.0;
  bool is_moving = false;
  bool initialized = false;
};

class GripperModel {
 public:
  // The finger velocity used until a command sets one [m/s].
  static constexpr double kInitialVelocity = 0.05;
  // Widths closer than this count as the same [m]: a width sent back as a 32-bit float (Stop)
  // still means "where the fingers are".
  static constexpr double kSameWidth = 1e-6;

  // The fingers start fully open and not initialized.
  explicit GripperModel(const GripperRanges& ranges = {});

  const GripperRanges& ranges() const { return ranges_; }
  GripperState state() const;

  // Homing: the fingers travel to the maximum width at the maximum velocity, then the gripper
  // counts as initialized.
  void Home();
  // Records the finger velocity for the following moves and grasps, clamped into range.
  void SetVelocity(double velocity);
  // Position mode: moves toward `width` (clamped into range) at the last commanded velocity.
  // Closing onto an object stops there with `force_limit` (0 when absent) as the force.
  void Move(double width, std::optional<double> force_limit);
  // Force control: a positive force closes toward the minimum width and holds an object with
  // that force, a negative one opens toward the maximum width; 0 stops where the fingers are.
  void Grasp(double force);
  // An object of `width` between the fingers, or none. Taking away a held object lets the
  // fingers go on toward their target.
  void SetObject(std::optional<double> width);
  void Step(double dt);

 private:
  // Starts a motion toward `target` at `speed`; `contact_force` is what an object closed onto
  // receives.
  void Start(double target, double speed, double contact_force);
  void Release();

  GripperRanges ranges_;
  double width_;
  double force_ = 0.0;
  bool initialized_ = false;
  double velocity_ = kInitialVelocity;  // the last commanded velocity
  std::optional<double> object_;
  bool holding_ = false;  // the fingers rest on the object
  // The motion under way (or finished: then target_ is where it stopped or wanted to go).
  bool moving_ = false;
  bool homing_ = false;
  double target_;
  double speed_ = 0.0;
  double contact_force_ = 0.0;
};

}  // namespace korvo::sim
