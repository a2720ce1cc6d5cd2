// What the parts of SimRobot (sim_robot*.cpp) share: the arms' groups, event levels, and the
// conversions between the robot's double state and the float messages.
#pragma once

#include <Eigen/Geometry>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/arm_ik.hpp"

namespace korvo::sim::robot_support {

using vyr::JointGroup;
using vyr::Mode;
using zenoh_msgs::qel_msg::EventLog;
namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;

inline constexpr std::uint16_t kArm1 = 3;
inline constexpr std::uint16_t kArm2 = 4;
// Velocity limits of the reduced safety state relative to the normal ones: the ratio of the
// product defaults (78 to 130 degrees per second).
inline constexpr double kReducedVelocityRatio = 0.6;
// A target quaternion shorter than this gives no orientation.
inline constexpr double kMinQuaternionNorm = 1e-6;

enum Level : std::uint16_t { kInfo = 1, kWarning = 2, kError = 3, kCritical = 4 };

// Every value a number: what a command must hold before it moves anything.
template <typename Values>
bool AllFinite(const Values& values) {
  return std::all_of(values.begin(), values.end(), [](auto x) { return std::isfinite(x); });
}

inline std::vector<float> Floats(const std::vector<double>& v, int start, unsigned n) {
  std::vector<float> out(n);
  for (unsigned i = 0; i < n; ++i) out[i] = static_cast<float>(v[start + i]);
  return out;
}

template <std::size_t N>
std::array<float, N> Floats(const std::array<double, N>& v) {
  std::array<float, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(v[i]);
  return out;
}

inline std::vector<std::array<float, 3>> Floats(const std::vector<std::array<double, 3>>& v) {
  std::vector<std::array<float, 3>> out;
  out.reserve(v.size());
  for (const auto& x : v) out.push_back(Floats(x));
  return out;
}

// The IK target a pose [x, y, z, qw, qx, qy, qz] asks for; none when a value is not finite or,
// unless the orientation is free, the quaternion is too short to give a direction.
inline std::optional<IkTarget> TargetOf(const std::array<double, 7>& pose, bool free_orientation) {
  if (!AllFinite(pose)) return std::nullopt;
  IkTarget target;
  target.position = {pose[0], pose[1], pose[2]};
  target.free_orientation = free_orientation;
  if (!free_orientation) {
    const Eigen::Quaterniond orientation(pose[3], pose[4], pose[5], pose[6]);
    if (orientation.norm() < kMinQuaternionNorm) return std::nullopt;
    target.orientation = orientation.normalized();
  }
  return target;
}

}  // namespace korvo::sim::robot_support
