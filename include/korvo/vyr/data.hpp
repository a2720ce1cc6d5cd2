// Plain data records of the public interface: what the library reports and what a user hands to
// it. Records are value types with public fields and no invariants; the operations that consume
// them validate their contents.
//
// Conventions: poses are [x, y, z, q_w, q_x, q_y, q_z] (m, unit quaternion), twists and wrenches
// are linear part first; joint quantities are in rad (m for linear joints). Unless a field says
// otherwise, a std::vector<double> holds one value per joint of the group the record belongs to.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

/** Information about a robot event. */
struct RobotEvent {
  /** Level of a robot event. */
  enum Level : std::int32_t {
    UNKNOWN = 0,
    INFO = 1,
    WARNING = 2,
    ERROR = 3,
    CRITICAL = 4,
  };

  /** Level of the event. */
  Level level = UNKNOWN;
  /** Unique ID of the event. */
  std::int32_t id = 0;
  /** Brief description of the event. */
  std::string description;
  /** Consequences caused by the event. */
  std::string consequences;
  /** Probable causes of the event. */
  std::string probable_causes;
  /** Recommended actions after the event. */
  std::string recommended_actions;
  /** Timestamp (since epoch) of the event. */
  std::chrono::system_clock::time_point timestamp{};
};

/** General information about the connected robot. */
struct RobotInfo {
  /** Product model of the robot. */
  ProductModel product_model = ProductModel::UNKNOWN;
  /** Serial number of the robot. */
  std::string serial_num;
  /** Software version of the robot. */
  std::string software_ver;
  /** All available joint groups of the robot and their names. */
  std::map<JointGroup, std::string> all_groups;
  /** The available single-arm joint groups (ARM_1, ARM_2) and their names. */
  std::map<JointGroup, std::string> single_arm_groups;
  /** Joint-space degrees of freedom of each joint group. */
  std::map<JointGroup, int> DoF;
  /** Nominal Cartesian motion stiffness of each single-arm group in the Cartesian motion-force
   * modes: [k_x, k_y, k_z, k_Rx, k_Ry, k_Rz], N/m and Nm/rad. */
  std::map<JointGroup, std::array<double, kCartDoF>> K_x_nom;
  /** Nominal joint motion stiffness of each single-arm group in the joint impedance modes,
   * Nm/rad. */
  std::map<JointGroup, std::vector<double>> K_q_nom;
  /** Lower software limits of joint positions of every group, rad. */
  std::map<JointGroup, std::vector<double>> q_min;
  /** Upper software limits of joint positions, rad. */
  std::map<JointGroup, std::vector<double>> q_max;
  /** Upper software limits of joint velocities, rad/s. */
  std::map<JointGroup, std::vector<double>> dq_max;
  /** Upper software limits of joint torques, Nm. */
  std::map<JointGroup, std::vector<double>> tau_max;
};

/**
 * Robot states data in joint and Cartesian space for a joint group. The Cartesian fields are
 * filled only for single-arm joint groups.
 */
struct RobotStates {
  /** Robot system time: {seconds since epoch, nanoseconds since the last full second}. */
  std::pair<std::int32_t, std::int32_t> timestamp{0, 0};
  /** Joint positions from the link-side encoder; equals theta for joints with one encoder. */
  std::vector<double> q;
  /** Joint positions from the motor-side encoder: q plus the joint's internal deflection. */
  std::vector<double> theta;
  /** Joint velocities from the link-side encoder (noisier). */
  std::vector<double> dq;
  /** Joint velocities from the motor-side encoder (less noisy). */
  std::vector<double> dtheta;
  /** Measured joint torques, Nm; 0 for joints without torque sensing. */
  std::vector<double> tau;
  /** Numerical derivative of tau, Nm/s. */
  std::vector<double> tau_dot;
  /** Estimated external joint torques from contacts not in the robot model, Nm. */
  std::vector<double> tau_ext;
  /** Estimated joint torques from interaction forces at the TCP, Nm. */
  std::vector<double> tau_interact;
  /** Joint temperatures, degrees Celsius; 0 where not measured. */
  std::vector<double> temperature;
  /** Flange pose in the world frame. */
  std::array<double, kPoseSize> flange_pose{};
  /** TCP pose in the world frame. */
  std::array<double, kPoseSize> tcp_pose{};
  /** TCP twist in the world frame. */
  std::array<double, kCartDoF> tcp_twist{};
  /** External wrench on the TCP in the world frame (measured or estimated). */
  std::array<double, kCartDoF> tcp_wrench{};
  /** The same wrench in the TCP (local) frame. */
  std::array<double, kCartDoF> tcp_wrench_local{};
  /** Unfiltered tcp_wrench (noisier, no filter latency). */
  std::array<double, kCartDoF> raw_tcp_wrench{};
  /** Unfiltered tcp_wrench_local. */
  std::array<double, kCartDoF> raw_tcp_wrench_local{};
  /** Raw force-torque sensor reading in the flange frame; 0 if no sensor is installed. */
  std::array<double, kCartDoF> raw_ft_sensor{};
};

/** Robot actions data in joint and Cartesian space for a joint group. */
struct RobotActions {
  /** Robot system time: {seconds since epoch, nanoseconds since the last full second}. */
  std::pair<std::int32_t, std::int32_t> timestamp{0, 0};
  /** Desired joint positions. */
  std::vector<double> q_d;
  /** Desired joint velocities. */
  std::vector<double> dq_d;
  /** Desired joint torques excluding the compensation of gravity, centrifugal and Coriolis
   * terms, Nm. */
  std::vector<double> tau_d;
  /** Desired TCP pose in the world frame. */
  std::array<double, kPoseSize> tcp_pose_d{};
  /** Desired TCP twist in the world frame. */
  std::array<double, kCartDoF> tcp_twist_d{};
  /** Desired TCP wrench in the current force control frame. */
  std::array<double, kCartDoF> tcp_wrench_d{};
};

/** Information of the on-going primitive/plan. */
struct PlanInfo {
  /** Current primitive name. */
  std::string pt_name;
  /** Current node name. */
  std::string node_name;
  /** Current node path. */
  std::string node_path;
  /** Current node path time period. */
  std::string node_path_time_period;
  /** Current node path number. */
  std::string node_path_number;
  /** Assigned plan name. */
  std::string assigned_plan_name;
  /** Velocity scale. */
  double velocity_scale = 0.0;
  /** Waiting for user signal to step the breakpoint. */
  bool waiting_for_step = false;
};

/**
 * The robot-side JPOS data type: a joint-space target. Lengths are in m and angles in degrees.
 */
struct JPos {
  /** Joint positions of the manipulator, degrees. */
  std::array<double, kSerialJointDoF> q_m{};
  /** Positions of the external axes, m or degrees; with fewer than kMaxExtAxes axes the first
   * ones are set and the rest left 0. */
  std::array<double, kMaxExtAxes> q_e{};

  JPos() = default;
  explicit JPos(const std::array<double, kSerialJointDoF>& q_m,
                const std::array<double, kMaxExtAxes>& q_e = {})
      : q_m(q_m), q_e(q_e) {}

  /** All values (q_m then q_e) with 2 decimals, separated by single blanks. */
  std::string str() const;
};

/**
 * The robot-side COORD data type: a Cartesian target with its reference frame. Lengths are in m
 * and angles in degrees.
 */
struct Coord {
  /** Position in ref_frame, m. */
  std::array<double, 3> position{};
  /** Orientation as Euler angles in ref_frame, degrees. */
  std::array<double, 3> orientation{};
  /** Reference frame "root::branch" as {root, branch}, e.g. {"WORLD", "WORLD_ORIGIN"},
   * {"TRAJ", "START"}, {"WORK", name} or {"GVAR", name}. */
  std::array<std::string, 2> ref_frame{};
  /** Reference joint positions of the manipulator, degrees; only effective on redundant robots.
   * All 0 lets the robot use its defaults, which is not allowed while ref_q_e has values. */
  std::array<double, kSerialJointDoF> ref_q_m{};
  /** Reference positions of the external axes, m or degrees; filled like JPos::q_e. */
  std::array<double, kMaxExtAxes> ref_q_e{};

  Coord() = default;
  Coord(const std::array<double, 3>& position, const std::array<double, 3>& orientation,
        const std::array<std::string, 2>& ref_frame,
        const std::array<double, kSerialJointDoF>& ref_q_m = {},
        const std::array<double, kMaxExtAxes>& ref_q_e = {})
      : position(position),
        orientation(orientation),
        ref_frame(ref_frame),
        ref_q_m(ref_q_m),
        ref_q_e(ref_q_e) {}

  /** All values (position, orientation, the two ref_frame strings, ref_q_m, ref_q_e), numbers
   * with 2 decimals, separated by single blanks. */
  std::string str() const;
};

/**
 * Flexible value of robot-side parameters, primitive inputs and states, and global variables.
 * Booleans are carried as int 1 and 0. The alternative order is part of the interface.
 */
using ParamValue =
    std::variant<int, double, std::string, JPos, Coord, std::vector<int>, std::vector<double>,
                 std::vector<std::string>, std::vector<JPos>, std::vector<Coord>>;

/** Arguments of a primitive command. */
struct PrimitiveArgs {
  /** Name of the primitive to execute, e.g. "Home", "MoveL", "ZeroFTSensor". */
  std::string pt_name;
  /** Input parameter names and values; booleans as int 1 and 0. */
  std::map<std::string, ParamValue> input_params;
  /** True: the primitive moves the external axis to the positions in its targets or waypoints.
   * Only effective when an external axis exists. */
  bool external_axis_control = true;
  /** Synchronises the primitive's TCP motion with the selected arm or positioner. */
  SyncMotionMode sync_motion_mode = SyncMotionMode::DISABLE;

  PrimitiveArgs() = default;
  PrimitiveArgs(const std::string& pt_name, const std::map<std::string, ParamValue>& input_params)
      : pt_name(pt_name), input_params(input_params) {}
};

/** States data of a primitive. */
struct PrimitiveStates {
  /** Name of the currently running primitive. */
  std::string pt_name;
  /** Names and values of the primitive's states, booleans as int 1 and 0. */
  std::map<std::string, ParamValue> names_and_values;
};

/** Commands data for real-time joint torque control. */
struct RtJointTorqueCmd {
  /** Target joint torques, Nm. */
  std::vector<double> tau_d;
  /** Enable/disable robot gravity compensation. */
  bool enable_gravity_comp = true;
  /** Enable/disable soft limits that keep the joints inside the allowed position range. */
  bool enable_soft_limits = true;
  /** Percentage of joint friction to compensate, valid range [0, 100]. */
  double friction_comp_scale = 100.0;

  RtJointTorqueCmd() = default;
  explicit RtJointTorqueCmd(const std::vector<double>& tau_d, bool enable_gravity_comp = true,
                            bool enable_soft_limits = true, double friction_comp_scale = 100.0)
      : tau_d(tau_d),
        enable_gravity_comp(enable_gravity_comp),
        enable_soft_limits(enable_soft_limits),
        friction_comp_scale(friction_comp_scale) {}
};

/** Commands data for real-time joint position control. */
struct RtJointPositionCmd {
  /** Target joint positions, rad. */
  std::vector<double> q_d;
  /** Target joint velocities, rad/s. */
  std::vector<double> dq_d;
  /** Target joint accelerations, rad/s^2. */
  std::vector<double> ddq_d;

  RtJointPositionCmd() = default;
  RtJointPositionCmd(const std::vector<double>& q_d, const std::vector<double>& dq_d,
                     const std::vector<double>& ddq_d)
      : q_d(q_d), dq_d(dq_d), ddq_d(ddq_d) {}
};

/** Commands data for non-real-time joint position control. */
struct NrtJointPositionCmd {
  /** Target joint positions, rad. */
  std::vector<double> q_d;
  /** Target joint velocities; each joint keeps this velocity when it reaches the target, rad/s. */
  std::vector<double> dq_d;
  /** Maximum joint velocities of the planned trajectory, rad/s. */
  std::vector<double> dq_max;
  /** Maximum joint accelerations of the planned trajectory, rad/s^2. */
  std::vector<double> ddq_max;

  NrtJointPositionCmd() = default;
  NrtJointPositionCmd(const std::vector<double>& q_d, const std::vector<double>& dq_d,
                      const std::vector<double>& dq_max, const std::vector<double>& ddq_max)
      : q_d(q_d), dq_d(dq_d), dq_max(dq_max), ddq_max(ddq_max) {}
};

/** Commands data for real-time Cartesian motion-force control. */
struct RtCartesianCmd {
  /** Target TCP pose in the world frame. */
  std::array<double, kPoseSize> pose_d{};
  /** Target TCP wrench in the force control frame. */
  std::array<double, kCartDoF> wrench_d{};
  /** Target TCP twist in the world frame. */
  std::array<double, kCartDoF> twist_d{};
  /** Target TCP acceleration in the world frame (feed-forward), m/s^2 and rad/s^2. */
  std::array<double, kCartDoF> acc_d{};

  RtCartesianCmd() = default;
  explicit RtCartesianCmd(const std::array<double, kPoseSize>& pose_d,
                          const std::array<double, kCartDoF>& wrench_d = {},
                          const std::array<double, kCartDoF>& twist_d = {},
                          const std::array<double, kCartDoF>& acc_d = {})
      : pose_d(pose_d), wrench_d(wrench_d), twist_d(twist_d), acc_d(acc_d) {}
};

/** Commands data for non-real-time Cartesian motion-force control. */
struct NrtCartesianCmd {
  /** Target TCP pose in the world frame. */
  std::array<double, kPoseSize> pose_d{};
  /** Target TCP wrench in the force control frame. */
  std::array<double, kCartDoF> wrench_d{};
  /** Target TCP twist in the world frame. */
  std::array<double, kCartDoF> twist_d{};
  /** Maximum linear velocity towards the target, m/s. */
  double max_linear_vel = 0.5;
  /** Maximum angular velocity, rad/s. */
  double max_angular_vel = 1.0;
  /** Maximum linear acceleration, m/s^2. */
  double max_linear_acc = 2.0;
  /** Maximum angular acceleration, rad/s^2. */
  double max_angular_acc = 5.0;

  NrtCartesianCmd() = default;
  explicit NrtCartesianCmd(const std::array<double, kPoseSize>& pose_d,
                           const std::array<double, kCartDoF>& wrench_d = {},
                           const std::array<double, kCartDoF>& twist_d = {},
                           double max_linear_vel = 0.5, double max_angular_vel = 1.0,
                           double max_linear_acc = 2.0, double max_angular_acc = 5.0)
      : pose_d(pose_d),
        wrench_d(wrench_d),
        twist_d(twist_d),
        max_linear_vel(max_linear_vel),
        max_angular_vel(max_angular_vel),
        max_linear_acc(max_linear_acc),
        max_angular_acc(max_angular_acc) {}
};

/** Commands data for non-real-time Cartesian multi-waypoint motion-force control. */
struct NrtCartesianMultiWaypointCmd {
  /** Sequence of Cartesian waypoints to execute. */
  std::vector<NrtCartesianCmd> waypoints;

  NrtCartesianMultiWaypointCmd() = default;
  explicit NrtCartesianMultiWaypointCmd(const std::vector<NrtCartesianCmd>& waypoints)
      : waypoints(waypoints) {}
};

/** Data structure containing the gripper parameters. */
struct GripperParams {
  /** Gripper name. */
  std::string name;
  /** Minimum finger opening width, m. */
  double min_width = 0.0;
  /** Maximum finger opening width, m. */
  double max_width = 0.0;
  /** Minimum finger moving velocity, m/s. */
  double min_vel = 0.0;
  /** Maximum finger moving velocity, m/s. */
  double max_vel = 0.0;
  /** Minimum grasping force, N. */
  double min_force = 0.0;
  /** Maximum grasping force, N. */
  double max_force = 0.0;
};

/** Data structure containing the gripper states. */
struct GripperStates {
  /** Measured finger opening width, m. */
  double width = 0.0;
  /** Measured finger force, N; positive opening, negative closing; 0 without force sensing. */
  double force = 0.0;
  /** Whether the gripper fingers are moving. */
  bool is_moving = false;
};

/** Per-joint-group IK input parameters for SolveConstrainedIK(). */
struct IKParams {
  /** Cartesian pose to be solved. */
  std::array<double, kPoseSize> cartesian_pose{};
  /** Seed joint positions for the solver, rad. */
  std::vector<double> seed_q;
  /** Constrain only the Cartesian position and let the orientation vary. */
  bool free_orientation = false;
};

/** Result from SolveConstrainedIK(). */
struct IKResult {
  /** Whether the IK solution is successful. */
  bool success = false;
  /** Solved joint positions per active joint group, rad. */
  std::map<JointGroup, std::vector<double>> solved_q;
};

/** Data structure containing configurable robot safety limits. */
struct SafetyLimits {
  /** Lower safety limits of joint positions, rad. */
  std::map<JointGroup, std::vector<double>> q_min;
  /** Upper safety limits of joint positions, rad. */
  std::map<JointGroup, std::vector<double>> q_max;
  /** Upper safety limits of joint velocities in the normal state, rad/s. */
  std::map<JointGroup, std::vector<double>> dq_max_normal;
  /** Upper safety limits of joint velocities in the reduced state, rad/s. */
  std::map<JointGroup, std::vector<double>> dq_max_reduced;
};

/** Data structure containing robot tool parameters. */
struct ToolParams {
  /** Total mass, kg. */
  double mass = 0.0;
  /** Centre of mass in the flange frame [x, y, z], m. */
  std::array<double, 3> CoM{};
  /** Inertia at the centre of mass [Ixx, Iyy, Izz, Ixy, Ixz, Iyz], kg m^2. */
  std::array<double, 6> inertia{};
  /** TCP position and orientation in the flange frame (pose layout). */
  std::array<double, kPoseSize> tcp_location{};
};

}  // namespace korvo::vyr
