// Enumerations of the public interface. The numeric values are stored in records, sent to the
// robot and compared numerically, so every value, gap and sign here is fixed.
#pragma once

#include <cstdint>

namespace korvo::vyr {

/**
 * Robot control modes. The robot needs to be switched into the correct control mode before the
 * corresponding commands can be sent. Real-time (RT) modes are RT_JOINT_TORQUE,
 * RT_JOINT_IMPEDANCE, RT_JOINT_POSITION and RT_CARTESIAN_MOTION_FORCE.
 */
enum class Mode : std::int32_t {
  UNKNOWN = 0,
  IDLE = 1,
  RT_JOINT_TORQUE = 2,
  RT_JOINT_IMPEDANCE = 3,
  NRT_JOINT_IMPEDANCE = 4,
  RT_JOINT_POSITION = 5,
  NRT_JOINT_POSITION = 6,
  NRT_PLAN_EXECUTION = 7,
  NRT_PRIMITIVE_EXECUTION = 8,
  RT_CARTESIAN_MOTION_FORCE = 9,
  NRT_CARTESIAN_MOTION_FORCE = 10,
  NRT_SUPER_PRIMITIVE = 11,
};

/**
 * All possible joint groups of the robot. FIRST and LAST bound the range that loops over all
 * joint groups walk; they are aliases, not further groups. Value 1 is not assigned.
 */
enum class JointGroup : std::int32_t {
  UNKNOWN = -1,
  ALL = 0,
  ARMS = 2,
  ARM_1 = 3,
  ARM_2 = 4,
  EXT_AXIS = 5,
  FIRST = ALL,
  LAST = EXT_AXIS,
};

/** All supported product models of the robot. */
enum class ProductModel : std::int32_t {
  UNKNOWN = 0,
  Olvar_L = 1,
  Olvar_LL = 2,
  TAVU_Core = 3,
  TAVU_Plus = 4,
  TAVU_Ultra = 5,
};

/**
 * All possible operational statuses of the robot. Except for the first two, the other
 * enumerators indicate the cause of the robot being not ready to operate.
 */
enum class OperationalStatus : std::int32_t {
  UNKNOWN = 0,
  READY = 1,
  BOOTING = 2,
  ESTOP_NOT_RELEASED = 3,
  NOT_SERVO_ON = 4,
  RELEASING_BRAKE = 5,
  MINOR_FAULT = 6,
  CRITICAL_FAULT = 7,
  IN_REDUCED_STATE = 8,
  IN_RECOVERY_STATE = 9,
  IN_MANUAL_MODE = 10,
  IN_AUTO_MODE = 11,
};

/** Type of commonly-used reference coordinates. */
enum class CoordType : std::int32_t {
  WORLD = 0,
  TCP = 1,
};

/** Modes for synchronous motions. */
enum class SyncMotionMode : std::int32_t {
  DISABLE = 0,
  ARM1_TCP = 1,
  ARM2_TCP = 2,
  POSITIONER = 3,
};

}  // namespace korvo::vyr
