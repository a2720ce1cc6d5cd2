// Size constants that fix the lengths of the fixed-size arrays in the public records.
#pragma once

#include <cstddef>

namespace korvo::vyr {

/** Cartesian degrees of freedom: 3 linear + 3 angular (twists, wrenches, axis flags). */
inline constexpr std::size_t kCartDoF = 6;

/** Joints of one serial arm. */
inline constexpr std::size_t kSerialJointDoF = 7;

/** Pose as position and unit quaternion: [x, y, z, q_w, q_x, q_y, q_z]. */
inline constexpr std::size_t kPoseSize = 7;

/** Digital input and output ports: 16 on the control box plus 2 in each of two wrist connectors. */
inline constexpr std::size_t kIOPorts = 20;

/** Maximum number of external axes. */
inline constexpr std::size_t kMaxExtAxes = 6;

/** Safety input ports. */
inline constexpr std::size_t kSafetyIOPorts = 8;

}  // namespace korvo::vyr
