// Enumerations of the public interface and their name tables.
#include <map>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/enums.hpp"
#include "korvo/vyr/name_tables.hpp"

namespace korvo::vyr_py {

using vyr::CoordType;
using vyr::JointGroup;
using vyr::Mode;
using vyr::OperationalStatus;
using vyr::ProductModel;
using vyr::SyncMotionMode;

namespace {

// Snapshot of a name table as a dict keyed by the enum's own member objects. An alias shares its
// value with the member registered before it, which is the one the key refers to.
template <typename Enum>
py::dict NameTable(const py::enum_<Enum>& type, const std::map<Enum, std::string>& table) {
  py::dict member_by_value;
  for (const auto item : py::dict(type.attr("__members__"))) {
    const py::int_ value(py::reinterpret_borrow<py::object>(item.second));
    if (!member_by_value.contains(value)) member_by_value[value] = item.second;
  }
  py::dict names;
  for (const auto& [key, text] : table) {
    const py::object member = member_by_value[py::int_(static_cast<int>(key))];
    names[member] = text;
  }
  return names;
}

}  // namespace

void BindProductModel(py::module_& m) {
  py::enum_<ProductModel> type(m, "ProductModel", "All supported product models of the robot.");
  type.value("UNKNOWN", ProductModel::UNKNOWN)
      .value("Olvar_L", ProductModel::Olvar_L, "Olvar-L standard version")
      .value("Olvar_LL", ProductModel::Olvar_LL,
             "Olvar-LL: Dual Olvar-L with customizable mounting poses")
      .value("TAVU_Core", ProductModel::TAVU_Core,
             "TAVU-Core: Dual Olvar-L with fixed-mounting upper body")
      .value("TAVU_Plus", ProductModel::TAVU_Plus, "TAVU-Plus: TAVU-Core with pan-tilt torso")
      .value("TAVU_Ultra", ProductModel::TAVU_Ultra, "TAVU-Ultra: TAVU-Plus with mobile base")
      .export_values();
  m.attr("kProductModelNames") = NameTable(type, vyr::kProductModelNames);
}

void BindJointGroup(py::module_& m) {
  py::enum_<JointGroup> type(m, "JointGroup", "All possible joint groups of the robot.");
  type.value("UNKNOWN", JointGroup::UNKNOWN, "Unknown group")
      .value("ALL", JointGroup::ALL, "The full system, including all actuated joints")
      .value("ARMS", JointGroup::ARMS,
             "The dual arms as a whole, only applicable to dual-arm robots")
      .value("ARM_1", JointGroup::ARM_1,
             "The 1st single arm in a dual-arm robot or the only arm in a single-arm robot")
      .value("ARM_2", JointGroup::ARM_2,
             "The 2nd single arm in a dual-arm robot, not applicable to single-arm robots")
      .value("EXT_AXIS", JointGroup::EXT_AXIS, "External axis(es) for workspace extension")
      .value("FIRST", JointGroup::FIRST)
      .value("LAST", JointGroup::LAST)
      .export_values();
  m.attr("kJointGroupNames") = NameTable(type, vyr::kJointGroupNames);
}

void BindOperationalStatus(py::module_& m) {
  py::enum_<OperationalStatus> type(
      m, "OperationalStatus",
      "All possible operational statuses of the robot. Except for the first two, the other "
      "enumerators indicate the cause of the robot being not ready to operate.");
  type.value("UNKNOWN", OperationalStatus::UNKNOWN, "Unknown status.")
      .value("READY", OperationalStatus::READY, "Ready to be operated.")
      .value("BOOTING", OperationalStatus::BOOTING, "System still booting, please wait.")
      .value("ESTOP_NOT_RELEASED", OperationalStatus::ESTOP_NOT_RELEASED, "E-Stop is not released.")
      .value("NOT_SERVO_ON", OperationalStatus::NOT_SERVO_ON,
             "Not servo on, call ServoOn() to send the signal.")
      .value("RELEASING_BRAKE", OperationalStatus::RELEASING_BRAKE,
             "Brake release in progress, please wait.")
      .value("MINOR_FAULT", OperationalStatus::MINOR_FAULT,
             "Minor fault occurred, call ClearFault() to try clearing it.")
      .value("CRITICAL_FAULT", OperationalStatus::CRITICAL_FAULT,
             "Critical fault occurred, call ClearFault() to try clearing it.")
      .value("IN_REDUCED_STATE", OperationalStatus::IN_REDUCED_STATE,
             "In reduced state, see reduced().")
      .value("IN_RECOVERY_STATE", OperationalStatus::IN_RECOVERY_STATE,
             "In recovery state, see recovery().")
      .value("IN_MANUAL_MODE", OperationalStatus::IN_MANUAL_MODE,
             "In Manual mode, need to switch to Auto (Remote) mode.")
      .value("IN_AUTO_MODE", OperationalStatus::IN_AUTO_MODE,
             "In regular Auto mode, need to switch to Auto (Remote) mode.")
      .export_values();
  m.attr("kOpStatusNames") = NameTable(type, vyr::kOpStatusNames);
}

void BindCoordType(py::module_& m) {
  py::enum_<CoordType>(m, "CoordType", "Type of commonly-used reference coordinates.")
      .value("WORLD", CoordType::WORLD, "World frame (fixed).")
      .value("TCP", CoordType::TCP, "TCP frame (move with the robot's end effector).")
      .export_values();
}

void BindSyncMotionMode(py::module_& m) {
  py::enum_<SyncMotionMode>(m, "SyncMotionMode", "Modes for synchronous motions.")
      .value("DISABLE", SyncMotionMode::DISABLE, "Don't sync with any target")
      .value("ARM1_TCP", SyncMotionMode::ARM1_TCP, "Sync with arm1 tcp")
      .value("ARM2_TCP", SyncMotionMode::ARM2_TCP, "sync with arm2 tcp")
      .value("POSITIONER", SyncMotionMode::POSITIONER, "sync with positioner")
      .export_values();
}

void BindMode(py::module_& m) {
  py::enum_<Mode> type(
      m, "Mode",
      "Robot control modes. The robot needs to be switched into the correct control mode before\n"
      "the corresponding commands can be sent. The product manual describes every control mode "
      "in detail.");
  type.value("UNKNOWN", Mode::UNKNOWN, "Mode not set")
      .value("IDLE", Mode::IDLE,
             "No operation to execute, the robot holds position and waits for new command.")
      .value("RT_JOINT_TORQUE", Mode::RT_JOINT_TORQUE,
             "Run real-time joint torque control to track continuous commands @1kHz.\n"
             "Note: Real-time (RT) mode.")
      .value("RT_JOINT_IMPEDANCE", Mode::RT_JOINT_IMPEDANCE,
             "Run real-time joint impedance control to track continuous commands @ 1kHz.\n"
             "Note: Real-time (RT) mode.")
      .value("NRT_JOINT_IMPEDANCE", Mode::NRT_JOINT_IMPEDANCE,
             "Run non-real-time joint impedance control to track discrete commands (smoothened by "
             "internal\nmotion generator).\nNote: Non-real-time (NRT) mode.")
      .value("RT_JOINT_POSITION", Mode::RT_JOINT_POSITION,
             "Run real-time joint position control to track continuous commands @ 1kHz.\n"
             "Note: Real-time (RT) mode.")
      .value("NRT_JOINT_POSITION", Mode::NRT_JOINT_POSITION,
             "Run non-real-time joint position control to track discrete commands (smoothened by "
             "internal\nmotion generator).\nNote: Non-real-time (NRT) mode.")
      .value("NRT_PLAN_EXECUTION", Mode::NRT_PLAN_EXECUTION,
             "Execute pre-configured robot task plans.\nNote: Non-real-time (NRT) mode.")
      .value("NRT_PRIMITIVE_EXECUTION", Mode::NRT_PRIMITIVE_EXECUTION,
             "Execute robot primitives (unit skills).\nNote: Non-real-time (NRT) mode.\n"
             "The primitives documentation lists every primitive with its parameters.")
      .value("RT_CARTESIAN_MOTION_FORCE", Mode::RT_CARTESIAN_MOTION_FORCE,
             "Run real-time Cartesian motion-force control to track continuous commands @ 1kHz.\n"
             "Note: Real-time (RT) mode.")
      .value("NRT_CARTESIAN_MOTION_FORCE", Mode::NRT_CARTESIAN_MOTION_FORCE,
             "Run non-real-time Cartesian motion-force control to track discrete commands, "
             "smoothened by\ninternal motion generator.\nNote: Non-real-time (NRT) mode.")
      .value("NRT_SUPER_PRIMITIVE", Mode::NRT_SUPER_PRIMITIVE,
             "Run non-real-time super primitives, i.e. composite tasks that consist of various "
             "components\nlike motion, force, vision, planning, etc.\n"
             "Note: Non-real-time (NRT) mode.")
      .export_values();
  m.attr("kModeNames") = NameTable(type, vyr::kModeNames);
}

}  // namespace korvo::vyr_py
