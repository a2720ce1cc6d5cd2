// The robot's on-board joint motion generator: every joint moves towards its target as fast as
// its velocity, acceleration and jerk limits allow, takes a new target at any step, mid-motion,
// and without a target comes to a smooth stop.
#pragma once

#include <vector>

namespace korvo::sim {

// Bounds on a joint's |dq| [rad/s], |ddq| [rad/s²] and |jerk| [rad/s³] (m for prismatic
// joints). Each must be finite and positive to count.
struct MotionLimits {
  double velocity, acceleration, jerk;
};

// Jerk-limited online motion of a set of joints, stepped at the control rate. Within a step each
// joint follows, exactly, the motion that accelerates towards its target as hard as the limits
// allow until braking as hard as allowed lands on it (the jerk switching between -jerk, 0 and
// +jerk within the step), so the sampled states keep every limit and a joint lands exactly on its
// target with dq = ddq = 0 (from rest, within a step of the least time). A move that starts with
// every joint at rest is synchronised: each joint's motion is slowed in time so that all arrive
// with the slowest. A target that changes mid-motion is followed by each joint as fast as it can.
// A state beyond lowered limits is brought back within them as fast as the jerk limit allows.
class MotionGenerator {
 public:
  // Starts from joint state q, dq with zero acceleration.
  // Throws std::invalid_argument if q and dq differ in size or hold a value that is not finite.
  void Reset(const std::vector<double>& q, const std::vector<double>& dq);

  // Advances every joint by dt: towards `target` when given, else to a stop as fast as the
  // limits allow. A joint whose target is not finite comes to a stop; one whose limits are not
  // all finite and positive stops with the last valid limits it was given, or at once if none.
  // A dt that is not positive and finite leaves the state as it is. Allocates nothing.
  // Throws std::invalid_argument if target or limits differ in size from q.
  void Step(const std::vector<double>* target, const std::vector<MotionLimits>& limits, double dt);

  const std::vector<double>& q() const { return q_; }
  const std::vector<double>& dq() const { return dq_; }
  const std::vector<double>& ddq() const { return ddq_; }

  // Every joint within position_tolerance of its target and slower than velocity_tolerance.
  bool AtTarget(const std::vector<double>& target, double position_tolerance = 1e-4,
                double velocity_tolerance = 1e-3) const;

 private:
  // Picks each joint's time scale for the move `target` starts from rest.
  void Synchronise(const std::vector<double>& target, const std::vector<MotionLimits>& limits);

  std::vector<double> q_, dq_, ddq_;
  std::vector<MotionLimits> braking_;  // each joint's last valid limits, to stop with; 0 if none
  std::vector<double> time_scale_;     // ≥ 1: how much slower than it could each joint moves
  std::vector<double> last_target_;
  bool had_target_ = false;
};

}  // namespace korvo::sim
