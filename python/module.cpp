// Entry of the korvovyr extension module.
//
// The registration order is part of the module's face: signatures name the types registered
// before them, and enum members exported to module scope overwrite earlier ones of the same name
// (module-level UNKNOWN ends up as Mode.UNKNOWN). Keep every registration at its step.
#include "bind_data.hpp"
#include "korvo/vyr/constants.hpp"

namespace korvo::vyr_py {
namespace {

void RegisterModule(py::module_& m) {
  m.doc() = "Korvo Robotic Development Kit (VYR)";

  // 1. Size constants (kSafetyIOPorts joins at step 14).
  m.attr("kCartDoF") = vyr::kCartDoF;
  m.attr("kSerialJointDoF") = vyr::kSerialJointDoF;
  m.attr("kPoseSize") = vyr::kPoseSize;
  m.attr("kIOPorts") = vyr::kIOPorts;
  m.attr("kMaxExtAxes") = vyr::kMaxExtAxes;

  // 2. ProductModel and kProductModelNames.
  BindProductModel(m);
  // 3. JointGroup and kJointGroupNames.
  BindJointGroup(m);
  // 4. OperationalStatus and kOpStatusNames.
  BindOperationalStatus(m);
  // 5. CoordType.
  BindCoordType(m);
  // 6. SyncMotionMode.
  BindSyncMotionMode(m);
  // 7. RobotEvent_Level, RobotEvent and RobotEvent.Level.
  BindRobotEvent(m);
  // 8. RobotInfo, RobotStates, RobotActions, PlanInfo, JPos, Coord, PrimitiveArgs,
  //    PrimitiveStates and the motion command records.
  BindStatesAndCommands(m);
  // 9. Class Device, then class FileIO.
  BindDevice(m);
  BindFileIO(m);
  // 10. GripperParams and GripperStates, then class Gripper, then class Maintenance.
  BindGripperRecords(m);
  BindGripper(m);
  BindMaintenance(m);
  // 11. Mode and kModeNames: exported last of all enums, so it owns the module-level UNKNOWN.
  BindMode(m);
  // 12. IKParams and IKResult, then class Model (with its NumPy gravity_vector default).
  BindIKRecords(m);
  BindModel(m);
  // 13. Class Robot.
  BindRobot(m);
  // 14. kSafetyIOPorts, SafetyLimits, then class Safety.
  m.attr("kSafetyIOPorts") = vyr::kSafetyIOPorts;
  BindSafetyLimits(m);
  BindSafety(m);
  // 15. ToolParams, then class Tool, then class WorkCoord.
  BindToolParams(m);
  BindTool(m);
  BindWorkCoord(m);
}

}  // namespace
}  // namespace korvo::vyr_py

PYBIND11_MODULE(korvovyr, m) { korvo::vyr_py::RegisterModule(m); }
