// Shared by every binding source of the korvovyr module. pybind11's type casters must be the same
// in every translation unit, so each binding source includes this header before anything else
// of pybind11.
#pragma once

// pybind11 built for CPython 3.12 calls _PyThreadState_UncheckedGet, which CPython 3.13 no longer
// exports. Python loads extensions with RTLD_NOW, so a strong reference would make a 3.13
// interpreter fail in dlopen with "undefined symbol" before the module's version check could
// refuse it with its own ImportError. A weak reference resolves normally under 3.12 and stays
// unused elsewhere, since the version check runs before any pybind11 code.
#pragma weak _PyThreadState_UncheckedGet

#include <pybind11/chrono.h>
#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace korvo::vyr {
class Robot;
}  // namespace korvo::vyr

namespace korvo::vyr_py {

namespace py = pybind11;

// Each function registers the types of one step of the module's registration order. The enums
// export their members to module scope, so their calling order decides which member a shared
// name such as UNKNOWN ends up bound to.
void BindProductModel(py::module_& m);
void BindJointGroup(py::module_& m);
void BindOperationalStatus(py::module_& m);
void BindCoordType(py::module_& m);
void BindSyncMotionMode(py::module_& m);
void BindMode(py::module_& m);

void BindRobotEvent(py::module_& m);
void BindStatesAndCommands(py::module_& m);
void BindGripperRecords(py::module_& m);
void BindIKRecords(py::module_& m);
void BindSafetyLimits(py::module_& m);
void BindToolParams(py::module_& m);

// Class Robot. Robots still referenced when the interpreter exits are destroyed by an atexit
// hook before it finalizes, while their Python objects remain. Every binding that uses a Robot
// passes it through LiveRobot, which raises RuntimeError for such a released one.
void BindRobot(py::module_& m);
const vyr::Robot& LiveRobot(const vyr::Robot& robot);
vyr::Robot& LiveRobot(vyr::Robot& robot);

// The auxiliary interface classes, released at interpreter exit like Robot.
void BindDevice(py::module_& m);
void BindFileIO(py::module_& m);
void BindGripper(py::module_& m);
void BindMaintenance(py::module_& m);
void BindModel(py::module_& m);
void BindSafety(py::module_& m);
void BindTool(py::module_& m);
void BindWorkCoord(py::module_& m);

}  // namespace korvo::vyr_py
