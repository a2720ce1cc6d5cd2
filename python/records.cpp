// Data records of the public interface. Records cross the boundary by value: every attribute
// read returns a new Python object, so changing a returned list in place leaves the record as it
// was, and only an assignment changes a field.
#include <array>
#include <iomanip>
#include <locale>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bind_data.hpp"
#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"

namespace korvo::vyr_py {

using vyr::Coord;
using vyr::GripperParams;
using vyr::GripperStates;
using vyr::IKParams;
using vyr::IKResult;
using vyr::JPos;
using vyr::kCartDoF;
using vyr::kMaxExtAxes;
using vyr::kPoseSize;
using vyr::kSerialJointDoF;
using vyr::NrtCartesianCmd;
using vyr::NrtCartesianMultiWaypointCmd;
using vyr::NrtJointPositionCmd;
using vyr::ParamValue;
using vyr::PlanInfo;
using vyr::PrimitiveArgs;
using vyr::PrimitiveStates;
using vyr::RobotActions;
using vyr::RobotEvent;
using vyr::RobotInfo;
using vyr::RobotStates;
using vyr::RtCartesianCmd;
using vyr::RtJointPositionCmd;
using vyr::RtJointTorqueCmd;
using vyr::SafetyLimits;
using vyr::ToolParams;

namespace {

using Pose = std::array<double, kPoseSize>;
using CartVector = std::array<double, kCartDoF>;
using ArmJoints = std::array<double, kSerialJointDoF>;
using ExtAxes = std::array<double, kMaxExtAxes>;
using Vector3 = std::array<double, 3>;

// A record class with its default constructor.
template <typename Record>
py::class_<Record> RecordClass(py::module_& m, const char* name, const char* doc) {
  py::class_<Record> cls(m, name, doc);
  cls.def(py::init<>(), "Default constructor.");
  return cls;
}

// A read-write attribute that hands out a copy of the field. pybind11's def_readwrite would return
// class-typed values (enums, records inside lists or ParamValue) as references into the record.
template <typename Record, typename T>
void Field(py::class_<Record>& cls, const char* name, T Record::*member, const char* doc) {
  cls.def_property(
      name, [member](const Record& self) -> T { return self.*member; },
      [member](Record& self, const T& value) { self.*member = value; }, doc);
}

// The fixed repr of every record without a text form of its own.
template <typename Record>
void StructRepr(py::class_<Record>& cls, const std::string& name) {
  const std::string text = "<struct korvo::vyr::" + name + ">";
  cls.def("__repr__", [text](const Record&) { return text; });
}

// "[v1, v2, ...]" with 3 decimals, the list form of the JPos and Coord reprs.
template <typename Range>
std::string ListOf3Decimals(const Range& values) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed << std::setprecision(3) << '[';
  const char* separator = "";
  for (const double v : values) {
    out << separator << v;
    separator = ", ";
  }
  out << ']';
  return out.str();
}

constexpr const char* kStrDoc =
    "String representation of all data in the struct, separated by space.";

// Timestamp pair of the states and actions records.
constexpr const char* kTimestampDoc =
    "Robot system time: {seconds since epoch, nanoseconds since the last full second}";

void BindJPos(py::module_& m) {
  auto cls = RecordClass<JPos>(
      m, "JPos",
      "Data structure representing the customized data type JPOS of Korvo Ostrum, the robot-side "
      "programming environment.\n"
      "Warning: Here [m] is used as the unit of length, whereas [mm] is used in Korvo Ostrum. The "
      "conversion is done automatically when exchanging JPOS data with the robot via functions "
      "like Robot.ExecutePrimitive() and Robot.SetGlobalVariables().");
  cls.def(py::init<const ArmJoints&, const ExtAxes&>(),
          "Custom constructor.\n\n"
          "Args:\n"
          "    q_m: Joint positions of the manipulator, degrees.\n"
          "    q_e: Positions of the external axes, m or degrees. With fewer than 6 external axes, "
          "set the first ones and leave the rest 0; all 0 when there is none.",
          py::arg("q_m"), py::arg("q_e") = ExtAxes{});
  Field(cls, "q_m", &JPos::q_m, "Joint positions of the manipulator, degrees");
  Field(cls, "q_e", &JPos::q_e,
        "Positions of the external axes, m or degrees; with fewer than 6 external axes the first "
        "ones are set and the rest left 0; all 0 when there is none");
  cls.def("__str__", &JPos::str, kStrDoc);
  cls.def("__repr__", [](const JPos& j) {
    return "korvovyr.JPos(q_m=" + ListOf3Decimals(j.q_m) + ", q_e=" + ListOf3Decimals(j.q_e) + ")";
  });
}

void BindCoord(py::module_& m) {
  auto cls = RecordClass<Coord>(
      m, "Coord",
      "Data structure representing the customized data type COORD of Korvo Ostrum, the "
      "robot-side programming environment.\n"
      "Warning: Here [m] is used as the unit of length, whereas [mm] is used in Korvo Ostrum. The "
      "conversion is done automatically when exchanging COORD data with the robot via functions "
      "like Robot.ExecutePrimitive(), Robot.SetGlobalVariables() and Robot.global_variables().");
  cls.def(py::init<const Vector3&, const Vector3&, const std::array<std::string, 2>&,
                   const ArmJoints&, const ExtAxes&>(),
          "Custom constructor.\n\n"
          "Args:\n"
          "    position: Position in ref_frame, m.\n"
          "    orientation: Orientation as Euler angles in ref_frame, degrees.\n"
          "    ref_frame: Reference frame \"root::branch\" given as [root, branch].\n"
          "    ref_q_m: Reference joint positions of the manipulator, degrees. All 0 lets the "
          "robot use its defaults.\n"
          "    ref_q_e: Reference positions of the external axes, m or degrees.",
          py::arg("position"), py::arg("orientation"), py::arg("ref_frame"),
          py::arg("ref_q_m") = ArmJoints{}, py::arg("ref_q_e") = ExtAxes{});
  Field(cls, "position", &Coord::position, "Position in ref_frame, m");
  Field(cls, "orientation", &Coord::orientation,
        "Orientation as Euler angles in ref_frame, degrees");
  Field(cls, "ref_frame", &Coord::ref_frame,
        "Reference frame \"root::branch\" given as [root, branch]; common ones: "
        "[\"WORLD\", \"WORLD_ORIGIN\"] world origin, [\"TRAJ\", \"START\"] current pose, "
        "[\"WORK\", name] a work coordinate, [\"GVAR\", name] a global variable");
  Field(cls, "ref_q_m", &Coord::ref_q_m,
        "Reference joint positions of the manipulator, degrees; only effective on redundant "
        "robots; all 0 means that the robot uses its defaults, but it must not be all 0 while "
        "ref_q_e has values");
  Field(cls, "ref_q_e", &Coord::ref_q_e,
        "Reference positions of the external axes, m or degrees; same filling rule as JPos.q_e");
  cls.def("__str__", &Coord::str, kStrDoc);
  cls.def("__repr__", [](const Coord& c) {
    return "korvovyr.Coord(position=" + ListOf3Decimals(c.position) +
           ", orientation=" + ListOf3Decimals(c.orientation) + ", ref_frame=[" + c.ref_frame[0] +
           ", " + c.ref_frame[1] + "], ref_q_m=" + ListOf3Decimals(c.ref_q_m) +
           ", ref_q_e=" + ListOf3Decimals(c.ref_q_e) + ")";
  });
}

}  // namespace

void BindRobotEvent(py::module_& m) {
  py::enum_<RobotEvent::Level> level(m, "RobotEvent_Level");
  level.value("UNKNOWN", RobotEvent::UNKNOWN, "Not set")
      .value("INFO", RobotEvent::INFO, "Informational event")
      .value("WARNING", RobotEvent::WARNING, "Warning event")
      .value("ERROR", RobotEvent::ERROR, "Error event")
      .value("CRITICAL", RobotEvent::CRITICAL, "Critical error event")
      .export_values();

  auto cls = RecordClass<RobotEvent>(m, "RobotEvent", "Information about a robot event.");
  Field(cls, "level", &RobotEvent::level, "Level of the event");
  Field(cls, "id", &RobotEvent::id, "Unique ID of the event");
  Field(cls, "description", &RobotEvent::description, "Brief description of the event");
  Field(cls, "consequences", &RobotEvent::consequences, "Consequences caused by the event");
  Field(cls, "probable_causes", &RobotEvent::probable_causes, "Probable causes of the event");
  Field(cls, "recommended_actions", &RobotEvent::recommended_actions,
        "Recommended actions after the event");
  Field(cls, "timestamp", &RobotEvent::timestamp, "Timestamp (since epoch) of the event");
  StructRepr(cls, "RobotEvent");
  cls.attr("Level") = level;
}

void BindStatesAndCommands(py::module_& m) {
  {
    auto cls =
        RecordClass<RobotInfo>(m, "RobotInfo", "General information about the connected robot.");
    Field(cls, "product_model", &RobotInfo::product_model, "Product model of the robot");
    Field(cls, "serial_num", &RobotInfo::serial_num, "Serial number of the robot");
    Field(cls, "software_ver", &RobotInfo::software_ver, "Software version of the robot");
    Field(cls, "all_groups", &RobotInfo::all_groups,
          "All available joint groups of the robot and their names");
    Field(cls, "single_arm_groups", &RobotInfo::single_arm_groups,
          "The available single-arm joint groups (ARM_1, ARM_2) and their names");
    Field(cls, "DoF", &RobotInfo::DoF, "Joint-space degrees of freedom of each joint group");
    Field(cls, "K_x_nom", &RobotInfo::K_x_nom,
          "Nominal Cartesian motion stiffness of each single-arm group in the Cartesian "
          "motion-force modes: [k_x, k_y, k_z, k_Rx, k_Ry, k_Rz], N/m and Nm/rad");
    Field(cls, "K_q_nom", &RobotInfo::K_q_nom,
          "Nominal joint motion stiffness of each single-arm group in the joint impedance modes, "
          "Nm/rad");
    Field(cls, "q_min", &RobotInfo::q_min,
          "Lower software limits of joint positions of every group, rad");
    Field(cls, "q_max", &RobotInfo::q_max, "Upper software limits of joint positions, rad");
    Field(cls, "dq_max", &RobotInfo::dq_max, "Upper software limits of joint velocities, rad/s");
    Field(cls, "tau_max", &RobotInfo::tau_max, "Upper software limits of joint torques, Nm");
    StructRepr(cls, "RobotInfo");
  }
  {
    auto cls = RecordClass<RobotStates>(
        m, "RobotStates", "Robot states data in joint and Cartesian space for a joint group.");
    Field(cls, "timestamp", &RobotStates::timestamp, kTimestampDoc);
    Field(cls, "q", &RobotStates::q,
          "Joint positions from the link-side encoder (direct measurement); equals theta for "
          "joints with one encoder");
    Field(cls, "theta", &RobotStates::theta,
          "Joint positions from the motor-side encoder: q plus the joint's internal deflection");
    Field(cls, "dq", &RobotStates::dq, "Joint velocities from the link-side encoder (noisier)");
    Field(cls, "dtheta", &RobotStates::dtheta,
          "Joint velocities from the motor-side encoder (less noisy)");
    Field(cls, "tau", &RobotStates::tau,
          "Measured joint torques, Nm; 0 for joints without torque sensing");
    Field(cls, "tau_dot", &RobotStates::tau_dot, "Numerical derivative of tau, Nm/s");
    Field(cls, "tau_ext", &RobotStates::tau_ext,
          "Estimated external joint torques from contacts not in the robot model, Nm");
    Field(cls, "tau_interact", &RobotStates::tau_interact,
          "Estimated joint torques from interaction forces at the TCP, Nm");
    Field(cls, "temperature", &RobotStates::temperature,
          "Joint temperatures, degrees Celsius; 0 where not measured");
    Field(cls, "flange_pose", &RobotStates::flange_pose, "Flange pose in the world frame");
    Field(cls, "tcp_pose", &RobotStates::tcp_pose, "TCP pose in the world frame");
    Field(cls, "tcp_twist", &RobotStates::tcp_twist, "TCP twist in the world frame");
    Field(cls, "tcp_wrench", &RobotStates::tcp_wrench,
          "External wrench on the TCP in the world frame (measured or estimated)");
    Field(cls, "tcp_wrench_local", &RobotStates::tcp_wrench_local,
          "The same wrench in the TCP (local) frame");
    Field(cls, "raw_tcp_wrench", &RobotStates::raw_tcp_wrench,
          "Unfiltered tcp_wrench (noisier, no filter latency)");
    Field(cls, "raw_tcp_wrench_local", &RobotStates::raw_tcp_wrench_local,
          "Unfiltered tcp_wrench_local");
    Field(cls, "raw_ft_sensor", &RobotStates::raw_ft_sensor,
          "Raw force-torque sensor reading in the flange frame; 0 if no sensor is installed");
    StructRepr(cls, "RobotStates");
  }
  {
    auto cls = RecordClass<RobotActions>(
        m, "RobotActions", "Robot actions data in joint and Cartesian space for a joint group.");
    Field(cls, "timestamp", &RobotActions::timestamp, kTimestampDoc);
    Field(cls, "q_d", &RobotActions::q_d, "Desired joint positions");
    Field(cls, "dq_d", &RobotActions::dq_d, "Desired joint velocities");
    Field(cls, "tau_d", &RobotActions::tau_d,
          "Desired joint torques excluding the compensation of gravity, centrifugal and Coriolis "
          "terms (zeros when static; 0 for joints without torque control), Nm");
    Field(cls, "tcp_pose_d", &RobotActions::tcp_pose_d, "Desired TCP pose in the world frame");
    Field(cls, "tcp_twist_d", &RobotActions::tcp_twist_d, "Desired TCP twist in the world frame");
    Field(cls, "tcp_wrench_d", &RobotActions::tcp_wrench_d,
          "Desired TCP wrench in the current force control frame");
    StructRepr(cls, "RobotActions");
  }
  {
    auto cls = RecordClass<PlanInfo>(m, "PlanInfo", "Information of the on-going primitive/plan.");
    Field(cls, "pt_name", &PlanInfo::pt_name, "Current primitive name");
    Field(cls, "node_name", &PlanInfo::node_name, "Current node name");
    Field(cls, "node_path", &PlanInfo::node_path, "Current node path");
    Field(cls, "node_path_time_period", &PlanInfo::node_path_time_period,
          "Current node path time period");
    Field(cls, "node_path_number", &PlanInfo::node_path_number, "Current node path number");
    Field(cls, "assigned_plan_name", &PlanInfo::assigned_plan_name, "Assigned plan name");
    Field(cls, "velocity_scale", &PlanInfo::velocity_scale, "Velocity scale");
    Field(cls, "waiting_for_step", &PlanInfo::waiting_for_step,
          "Waiting for user signal to step the breakpoint");
    StructRepr(cls, "PlanInfo");
  }
  BindJPos(m);
  BindCoord(m);
  {
    auto cls = RecordClass<PrimitiveArgs>(m, "PrimitiveArgs", "Arguments of a primitive command.");
    cls.def(py::init<const std::string&, const std::map<std::string, ParamValue>&>(),
            "Custom constructor.", py::arg("pt_name"), py::arg("input_params"));
    Field(cls, "pt_name", &PrimitiveArgs::pt_name,
          "Name of the primitive to execute, e.g. \"Home\", \"MoveL\", \"ZeroFTSensor\"");
    Field(cls, "input_params", &PrimitiveArgs::input_params,
          "Input parameter names and values; booleans as int 1 and 0; units are those of the "
          "robot-side primitive definitions, which need not be SI");
    Field(cls, "external_axis_control", &PrimitiveArgs::external_axis_control,
          "True: the primitive actively moves the external axis to the positions in its targets "
          "or waypoints; false: it does not. Only effective when an external axis exists");
    Field(cls, "sync_motion_mode", &PrimitiveArgs::sync_motion_mode,
          "Synchronises the primitive's TCP motion with the selected arm or positioner; ignored "
          "by primitives that do not support it");
    StructRepr(cls, "PrimitiveArgs");
  }
  {
    auto cls = RecordClass<PrimitiveStates>(m, "PrimitiveStates", "States data of a primitive.");
    Field(cls, "pt_name", &PrimitiveStates::pt_name, "Name of the currently running primitive");
    Field(cls, "names_and_values", &PrimitiveStates::names_and_values,
          "Names and values of the primitive's states, booleans as int 1 and 0, e.g. "
          "{\"reachedTarget\": 1}, {\"timePeriod\": 5.6}, {\"forceOffset\": [0.1, 0.2, -1.3]}");
    StructRepr(cls, "PrimitiveStates");
  }
  {
    auto cls = RecordClass<RtJointTorqueCmd>(m, "RtJointTorqueCmd",
                                             "Commands data for real-time joint torque control.");
    cls.def(py::init<const std::vector<double>&, bool, bool, double>(), "Custom constructor.",
            py::arg("tau_d"), py::arg("enable_gravity_comp") = true,
            py::arg("enable_soft_limits") = true, py::arg("friction_comp_scale") = 100.0);
    Field(cls, "tau_d", &RtJointTorqueCmd::tau_d, "Target joint torques, Nm");
    Field(cls, "enable_gravity_comp", &RtJointTorqueCmd::enable_gravity_comp,
          "Enable/disable robot gravity compensation");
    Field(cls, "enable_soft_limits", &RtJointTorqueCmd::enable_soft_limits,
          "Enable/disable soft limits that keep the joints inside the allowed position range "
          "(leaving it triggers a safety fault that needs recovery)");
    Field(cls, "friction_comp_scale", &RtJointTorqueCmd::friction_comp_scale,
          "Percentage of joint friction to compensate, valid range [0, 100]; 100 compensates all "
          "friction, 0 none");
    StructRepr(cls, "RtJointTorqueCmd");
  }
  {
    auto cls = RecordClass<RtJointPositionCmd>(
        m, "RtJointPositionCmd", "Commands data for real-time joint position control.");
    cls.def(py::init<const std::vector<double>&, const std::vector<double>&,
                     const std::vector<double>&>(),
            "Custom constructor.", py::arg("q_d"), py::arg("dq_d"), py::arg("ddq_d"));
    Field(cls, "q_d", &RtJointPositionCmd::q_d, "Target joint positions, rad");
    Field(cls, "dq_d", &RtJointPositionCmd::dq_d, "Target joint velocities, rad/s");
    Field(cls, "ddq_d", &RtJointPositionCmd::ddq_d, "Target joint accelerations, rad/s^2");
    StructRepr(cls, "RtJointPositionCmd");
  }
  {
    auto cls = RecordClass<NrtJointPositionCmd>(
        m, "NrtJointPositionCmd", "Commands data for non-real-time joint position control.");
    cls.def(py::init<const std::vector<double>&, const std::vector<double>&,
                     const std::vector<double>&, const std::vector<double>&>(),
            "Custom constructor.", py::arg("q_d"), py::arg("dq_d"), py::arg("dq_max"),
            py::arg("ddq_max"));
    Field(cls, "q_d", &NrtJointPositionCmd::q_d, "Target joint positions, rad");
    Field(cls, "dq_d", &NrtJointPositionCmd::dq_d,
          "Target joint velocities; each joint keeps this velocity when it reaches the target, "
          "rad/s");
    Field(cls, "dq_max", &NrtJointPositionCmd::dq_max,
          "Maximum joint velocities of the planned trajectory, rad/s");
    Field(cls, "ddq_max", &NrtJointPositionCmd::ddq_max,
          "Maximum joint accelerations of the planned trajectory, rad/s^2");
    StructRepr(cls, "NrtJointPositionCmd");
  }
  {
    auto cls = RecordClass<RtCartesianCmd>(
        m, "RtCartesianCmd", "Commands data for real-time Cartesian motion-force control.");
    cls.def(py::init<const Pose&, const CartVector&, const CartVector&, const CartVector&>(),
            "Custom constructor.", py::arg("pose_d"), py::arg("wrench_d") = CartVector{},
            py::arg("twist_d") = CartVector{}, py::arg("acc_d") = CartVector{});
    Field(cls, "pose_d", &RtCartesianCmd::pose_d, "Target TCP pose in the world frame");
    Field(cls, "wrench_d", &RtCartesianCmd::wrench_d,
          "Target TCP wrench in the force control frame (set by SetForceControlFrame), tracked "
          "by the explicit force controller");
    Field(cls, "twist_d", &RtCartesianCmd::twist_d,
          "Target TCP twist in the world frame; a computed twist improves tracking at the cost "
          "of robustness, 0 maximises robustness");
    Field(cls, "acc_d", &RtCartesianCmd::acc_d,
          "Target TCP acceleration in the world frame (feed-forward, may be 0), m/s^2 and "
          "rad/s^2");
    StructRepr(cls, "RtCartesianCmd");
  }
  {
    auto cls = RecordClass<NrtCartesianCmd>(
        m, "NrtCartesianCmd", "Commands data for non-real-time Cartesian motion-force control.");
    cls.def(py::init<const Pose&, const CartVector&, const CartVector&, double, double, double,
                     double>(),
            "Custom constructor.", py::arg("pose_d"), py::arg("wrench_d") = CartVector{},
            py::arg("twist_d") = CartVector{}, py::arg("max_linear_vel") = 0.5,
            py::arg("max_angular_vel") = 1.0, py::arg("max_linear_acc") = 2.0,
            py::arg("max_angular_acc") = 5.0);
    Field(cls, "pose_d", &NrtCartesianCmd::pose_d, "Target TCP pose in the world frame");
    Field(cls, "wrench_d", &NrtCartesianCmd::wrench_d,
          "Target TCP wrench in the force control frame");
    Field(cls, "twist_d", &NrtCartesianCmd::twist_d, "Target TCP twist in the world frame");
    Field(cls, "max_linear_vel", &NrtCartesianCmd::max_linear_vel,
          "Maximum linear velocity towards the target, m/s");
    Field(cls, "max_angular_vel", &NrtCartesianCmd::max_angular_vel,
          "Maximum angular velocity, rad/s");
    Field(cls, "max_linear_acc", &NrtCartesianCmd::max_linear_acc,
          "Maximum linear acceleration, m/s^2");
    Field(cls, "max_angular_acc", &NrtCartesianCmd::max_angular_acc,
          "Maximum angular acceleration, rad/s^2");
    StructRepr(cls, "NrtCartesianCmd");
  }
  {
    auto cls = RecordClass<NrtCartesianMultiWaypointCmd>(
        m, "NrtCartesianMultiWaypointCmd",
        "Commands data for non-real-time Cartesian multi-waypoint motion-force control.");
    cls.def(py::init<const std::vector<NrtCartesianCmd>&>(), "Custom constructor.",
            py::arg("waypoints"));
    Field(cls, "waypoints", &NrtCartesianMultiWaypointCmd::waypoints,
          "Sequence of Cartesian waypoints to execute, each with the layout of NrtCartesianCmd");
    StructRepr(cls, "NrtCartesianMultiWaypointCmd");
  }
}

void BindGripperRecords(py::module_& m) {
  {
    auto cls = RecordClass<GripperParams>(m, "GripperParams",
                                          "Data structure containing the gripper parameters.");
    Field(cls, "name", &GripperParams::name, "Gripper name");
    Field(cls, "max_width", &GripperParams::max_width, "Maximum finger opening width, m");
    Field(cls, "min_width", &GripperParams::min_width, "Minimum finger opening width, m");
    Field(cls, "max_force", &GripperParams::max_force, "Maximum grasping force, N");
    Field(cls, "min_force", &GripperParams::min_force, "Minimum grasping force, N");
    Field(cls, "max_vel", &GripperParams::max_vel, "Maximum finger moving velocity, m/s");
    Field(cls, "min_vel", &GripperParams::min_vel, "Minimum finger moving velocity, m/s");
    StructRepr(cls, "GripperParams");
  }
  {
    auto cls = RecordClass<GripperStates>(m, "GripperStates",
                                          "Data structure containing the gripper states.");
    Field(cls, "width", &GripperStates::width, "Measured finger opening width, m");
    Field(cls, "force", &GripperStates::force,
          "Measured finger force, N; positive opening, negative closing; 0 if the gripper cannot "
          "sense force");
    Field(cls, "is_moving", &GripperStates::is_moving, "Whether the gripper fingers are moving");
    StructRepr(cls, "GripperStates");
  }
}

void BindIKRecords(py::module_& m) {
  {
    auto cls = RecordClass<IKParams>(
        m, "IKParams", "Per-joint-group IK input parameters for SolveConstrainedIK().");
    Field(cls, "cartesian_pose", &IKParams::cartesian_pose, "Cartesian pose to be solved");
    Field(cls, "seed_q", &IKParams::seed_q, "Seed joint positions for the solver, rad");
    Field(cls, "free_orientation", &IKParams::free_orientation,
          "Constrain only the Cartesian position and let the orientation vary");
    StructRepr(cls, "IKParams");
  }
  {
    auto cls = RecordClass<IKResult>(m, "IKResult", "Result from SolveConstrainedIK().");
    Field(cls, "success", &IKResult::success, "Whether the IK solution is successful");
    Field(cls, "solved_q", &IKResult::solved_q,
          "Solved joint positions per active joint group, rad");
    StructRepr(cls, "IKResult");
  }
}

void BindSafetyLimits(py::module_& m) {
  auto cls = RecordClass<SafetyLimits>(
      m, "SafetyLimits", "Data structure containing configurable robot safety limits.");
  Field(cls, "q_min", &SafetyLimits::q_min, "Lower safety limits of joint positions, rad");
  Field(cls, "q_max", &SafetyLimits::q_max, "Upper safety limits of joint positions, rad");
  Field(cls, "dq_max_normal", &SafetyLimits::dq_max_normal,
        "Upper safety limits of joint velocities in the normal state, rad/s");
  Field(cls, "dq_max_reduced", &SafetyLimits::dq_max_reduced,
        "Upper safety limits of joint velocities in the reduced state, rad/s");
  StructRepr(cls, "SafetyLimits");
}

void BindToolParams(py::module_& m) {
  auto cls =
      RecordClass<ToolParams>(m, "ToolParams", "Data structure containing robot tool parameters.");
  Field(cls, "mass", &ToolParams::mass, "Total mass, kg");
  Field(cls, "CoM", &ToolParams::CoM, "Centre of mass in the flange frame [x, y, z], m");
  Field(cls, "inertia", &ToolParams::inertia,
        "Inertia at the centre of mass [Ixx, Iyy, Izz, Ixy, Ixz, Iyz], kg m^2");
  Field(cls, "tcp_location", &ToolParams::tcp_location,
        "TCP position and orientation in the flange frame (pose layout)");
  StructRepr(cls, "ToolParams");
}

}  // namespace korvo::vyr_py
