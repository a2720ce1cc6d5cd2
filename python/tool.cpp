// The classes Tool and WorkCoord.
#include <memory>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/tool.hpp"
#include "korvo/vyr/work_coord.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Tool;
using vyr::ToolParams;
using vyr::WorkCoord;

namespace {

template <typename Op>
auto ToolMethod(Op op) {
  return LiveMethod("Tool", op);
}

template <typename Op>
auto WorkCoordMethod(Op op) {
  return LiveMethod("WorkCoord", op);
}

}  // namespace

void BindTool(py::module_& m) {
  py::class_<Tool, std::shared_ptr<Tool>> cls(
      m, "Tool",
      "Interface to manage tools of the robot. All updates take effect immediately without a "
      "power cycle. However, the robot must be in IDLE mode when applying changes.");
  cls.def(py::init(&MakeFromRobot<Tool>),
          "[Non-blocking] Instantiate the robot tool interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.",
          py::arg("robot"));
  cls.def("list", ToolMethod(&Tool::list),
          "[Blocking] Get a list of all configured tools.\n\n"
          "Returns:\n"
          "    Names of all configured tools.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.");
  cls.def("name", ToolMethod(&Tool::name),
          "[Blocking] Get the name of the active tool of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n\n"
          "Returns:\n"
          "    Name of the active tool; \"Flange\" if no tool is active.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group.\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("group"));
  cls.def("exist", ToolMethod(&Tool::exist),
          "[Blocking] Check if the specified tool exists.\n\n"
          "Args:\n"
          "    name: Name of the tool to check.\n\n"
          "Returns:\n"
          "    True if the tool exists, False otherwise.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("name"));
  cls.def("params",
          ToolMethod(static_cast<ToolParams (Tool::*)(vyr::JointGroup) const>(&Tool::params)),
          "[Blocking] Get the parameters of the active tool of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n\n"
          "Returns:\n"
          "    ToolParams value copy.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group.\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("group"));
  cls.def("params",
          ToolMethod(static_cast<ToolParams (Tool::*)(const std::string&) const>(&Tool::params)),
          "[Blocking] Get the parameters of an existing tool.\n\n"
          "Args:\n"
          "    name: Name of the tool.\n\n"
          "Returns:\n"
          "    ToolParams value copy.\n\n"
          "Raises:\n"
          "    ValueError: if the specified tool does not exist.\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("name"));
  cls.def("Add", ToolMethod(&Tool::Add),
          "[Blocking] Add a new tool with a unique name to the robot.\n\n"
          "Args:\n"
          "    name: Name of the new tool, which must be unique.\n"
          "    params: Parameters of the new tool.\n\n"
          "Raises:\n"
          "    ValueError: if the name already exists.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"), py::arg("params"));
  cls.def("Switch", ToolMethod(&Tool::Switch),
          "[Blocking] Make the specified tool the active one of a single-arm joint "
          "group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n"
          "    name: Name of an existing tool.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, or the tool "
          "does not exist.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("group"), py::arg("name"));
  cls.def("Update", ToolMethod(&Tool::Update),
          "[Blocking] Update the parameters of an existing tool.\n\n"
          "Args:\n"
          "    name: Name of an existing tool.\n"
          "    params: New parameters of the tool.\n\n"
          "Raises:\n"
          "    ValueError: if the tool does not exist.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"), py::arg("params"));
  cls.def("Remove", ToolMethod(&Tool::Remove),
          "[Blocking] Remove an existing tool other than \"Flange\".\n\n"
          "Args:\n"
          "    name: Name of the tool to remove.\n\n"
          "Raises:\n"
          "    ValueError: if the tool does not exist.\n"
          "    RuntimeError: if the robot is not in IDLE mode, the tool is \"Flange\", or the "
          "request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"));
  cls.def("CalibratePayloadParams", ToolMethod(&Tool::CalibratePayloadParams),
          "[Blocking] Calibrate the mass, centre of mass and inertia of a payload by running "
          "the robot's identification plan.\n\n"
          "Args:\n"
          "    tool_mounted: True to calibrate with the tool mounted, False without it.\n\n"
          "Returns:\n"
          "    ToolParams with the identified mass, CoM and inertia; its tcp_location is zeros "
          "and must be ignored.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in IDLE mode, this is a lite instance, the "
          "robot faults, stops or loses the connection during the calibration, or the result "
          "cannot be read.\n\n"
          "Note:\n"
          "    The robot moves. The procedure: Switch() to \"Flange\", mount the tool, calibrate "
          "with True, optionally unmount the tool and calibrate with False, then apply the "
          "result with Add() or Update(). The call starts and ends in IDLE mode.",
          py::arg("tool_mounted"));
  cls.def("__repr__", [](const Tool*) { return "<korvovyr.Tool>"; });
  ReleaseAtExit<Tool>();
}

void BindWorkCoord(py::module_& m) {
  py::class_<WorkCoord, std::shared_ptr<WorkCoord>> cls(
      m, "WorkCoord",
      "Interface to manage work coordinates of the robot. All updates take effect immediately "
      "without a power cycle. However, the robot must be in IDLE mode when applying changes.");
  cls.def(py::init(&MakeFromRobot<WorkCoord>),
          "[Non-blocking] Instantiate the work coordinate interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.",
          py::arg("robot"));
  cls.def("list", WorkCoordMethod(&WorkCoord::list),
          "[Blocking] Get a list of all configured work coordinates.\n\n"
          "Returns:\n"
          "    Names of all configured work coordinates.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.");
  cls.def("exist", WorkCoordMethod(&WorkCoord::exist),
          "[Blocking] Check if the specified work coordinate exists.\n\n"
          "Args:\n"
          "    name: Name of the work coordinate to check.\n\n"
          "Returns:\n"
          "    True if it exists, False otherwise.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("name"));
  cls.def("pose", WorkCoordMethod(&WorkCoord::pose),
          "[Blocking] Get the pose of an existing work coordinate in the world frame.\n\n"
          "Args:\n"
          "    name: Name of the work coordinate.\n\n"
          "Returns:\n"
          "    Pose [x, y, z, q_w, q_x, q_y, q_z], m and unit quaternion, with 32-bit "
          "precision.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not report it.",
          py::arg("name"));
  cls.def("Add", WorkCoordMethod(&WorkCoord::Add),
          "[Blocking] Add a new work coordinate with a unique name.\n\n"
          "Args:\n"
          "    name: Name of the new work coordinate, which must be unique.\n"
          "    pose: Pose in the world frame [x, y, z, q_w, q_x, q_y, q_z], m; the "
          "quaternion is sent as given.\n\n"
          "Raises:\n"
          "    ValueError: if the name already exists.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"), py::arg("pose"));
  cls.def("Update", WorkCoordMethod(&WorkCoord::Update),
          "[Blocking] Update the pose of an existing work coordinate.\n\n"
          "Args:\n"
          "    name: Name of an existing work coordinate.\n"
          "    pose: New pose in the world frame [x, y, z, q_w, q_x, q_y, q_z], m.\n\n"
          "Raises:\n"
          "    ValueError: if the work coordinate does not exist.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"), py::arg("pose"));
  cls.def("Remove", WorkCoordMethod(&WorkCoord::Remove),
          "[Blocking] Remove an existing work coordinate.\n\n"
          "Args:\n"
          "    name: Name of the work coordinate to remove.\n\n"
          "Raises:\n"
          "    ValueError: if the work coordinate does not exist.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the change takes effect immediately.",
          py::arg("name"));
  cls.def("__repr__", [](const WorkCoord*) { return "<korvovyr.WorkCoord>"; });
  ReleaseAtExit<WorkCoord>();
}

}  // namespace korvo::vyr_py
