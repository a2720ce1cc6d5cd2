// The simulated robot's joint torque-sensor calibration: the primitive
// "caliJointStaticTorqueChannelOffset(waitTime = ...)" that holds an arm still while the sensors
// settle, and operation 110 that saves its result. Pure logic without any network and without a
// lock: the owner runs the primitive and serializes every call.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

class TorqueCalibration {
 public:
  static constexpr std::string_view kPrimitive = "caliJointStaticTorqueChannelOffset";
  // Longer waits are refused: no robot settles its sensors for more than ten minutes.
  static constexpr double kMaxWaitTime = 600.0;
  static constexpr double kMaxTimeScale = 1000.0;

  // The waitTime [s] of the primitive's arguments text: finite, above 0 and at most
  // kMaxWaitTime; nothing for arguments a robot refuses.
  static std::optional<double> WaitTime(std::string_view arguments);

  // How long a calibration of `wait_time` seconds runs: the wait scaled by the time scale.
  std::chrono::nanoseconds Duration(double wait_time) const;
  // std::invalid_argument for a negative or non-finite scale, or one above kMaxTimeScale.
  void SetTimeScale(double scale);

  // A calibration primitive ran to its end: a save may follow.
  void Completed() { completed_ = true; }
  // The mode changed or the robot stopped: what was calibrated before cannot be saved any more.
  void Forget() { completed_ = false; }

  // Answers operation 110 (all containers empty); `ready` tells whether the robot executes
  // primitives and is operational without a fault. Refused unless a calibration completed since
  // the last Forget; each success is counted.
  bool Save(const zenoh_msgs::vyr_msg::RPCRequest& request, bool ready);
  std::uint64_t saved() const { return saved_; }

 private:
  double time_scale_ = 1.0;
  bool completed_ = false;
  std::uint64_t saved_ = 0;
};

}  // namespace korvo::sim
