// The class Safety.
#include <memory>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/safety.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Safety;

namespace {

template <typename Op>
auto Method(Op op) {
  return LiveMethod("Safety", op);
}

std::shared_ptr<Safety> MakeSafety(vyr::Robot& robot, const std::string& password) {
  return MakeLive<Safety>(LiveRobot(robot), password);
}

}  // namespace

void BindSafety(py::module_& m) {
  py::class_<Safety, std::shared_ptr<Safety>> cls(
      m, "Safety",
      "Interface to manage safety settings of the robot. A password is required to authenticate "
      "this interface. Note: As mentioned in the function doc, certain safety settings are only "
      "applicable to the arms but not the external axis.");
  cls.def(py::init(&MakeSafety),
          "[Non-blocking] Instantiate the safety settings interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n"
          "    password: Password to authorize making changes to the robot's safety settings.\n\n"
          "Raises:\n"
          "    ValueError: if the password is incorrect.\n"
          "    RuntimeError: if the initialization sequence failed.\n\n"
          "Note:\n"
          "    The password guards this client only, against changing safety settings by "
          "accident; it is never logged. The robot authorizes the changes itself.",
          py::arg("robot"), py::arg("password"));
  cls.def("default_limits", Method(&Safety::default_limits),
          "[Non-blocking] Get the default values of the safety limits of the connected robot.\n\n"
          "Returns:\n"
          "    SafetyLimits value copy.");
  cls.def("current_limits", Method(&Safety::current_limits),
          "[Non-blocking] Get the current values of the safety limits of the connected robot.\n\n"
          "Returns:\n"
          "    SafetyLimits value copy. The robot reports the velocity limits of the safety state "
          "it is in: those of the other state are empty lists.\n\n"
          "Note:\n"
          "    The values are those the robot reported when the Robot connected: limits set "
          "since show here after the robot has rebooted and a new Robot has connected.");
  cls.def("safety_inputs", Method(&Safety::safety_inputs),
          "[Non-blocking] Get the current reading of all safety input ports.\n\n"
          "Returns:\n"
          "    8 values: index = port, True = high.");
  cls.def("SetJointPositionLimits", Method(&Safety::SetJointPositionLimits),
          "[Blocking] Set new joint position safety limits of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n"
          "    min_positions: New lower limits, each within the default limits, rad.\n"
          "    max_positions: New upper limits, each within the default limits and not below "
          "the lower limit, rad.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, a list does not "
          "match the group's DoF, or a value is outside the valid range.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode. The new limits take effect after a reboot, after "
          "which current_limits() shows them.",
          py::arg("group"), py::arg("min_positions"), py::arg("max_positions"));
  cls.def("SetJointVelocityNormalLimits", Method(&Safety::SetJointVelocityNormalLimits),
          "[Blocking] Set new joint velocity safety limits of a single-arm joint group for the "
          "normal state.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n"
          "    max_velocities: New limits, valid [0.8727, default normal-state limit], rad/s.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, the list does not "
          "match the group's DoF, or a value is outside the valid range.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode. The new limits take effect after a reboot.",
          py::arg("group"), py::arg("max_velocities"));
  cls.def("SetJointVelocityReducedLimits", Method(&Safety::SetJointVelocityReducedLimits),
          "[Blocking] Set new joint velocity safety limits of a single-arm joint group for the "
          "reduced state.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n"
          "    max_velocities: New limits, valid [0.8727, default normal-state limit], rad/s.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, the list does not "
          "match the group's DoF, or a value is outside the valid range.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode. The new limits take effect after a reboot.",
          py::arg("group"), py::arg("max_velocities"));
  cls.def("SetJointOutputTorqueRegulator", Method(&Safety::SetJointOutputTorqueRegulator),
          "[Blocking] Set the regulator of the joints' total output torques, of the manipulator "
          "and the external axes.\n\n"
          "Args:\n"
          "    limiting_factor: Maximum output torque = tau_max x limiting_factor; must be "
          "positive.\n"
          "    error_threshold: A minor fault is raised when an unregulated torque exceeds the "
          "regulator's limit for more than this many consecutive cycles; must be positive, at "
          "most 2147483647.\n\n"
          "Raises:\n"
          "    ValueError: if a value is not positive or out of range.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or the request fails.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode; the setting takes effect immediately. A too small "
          "limiting factor degrades the robot's performance.",
          py::arg("limiting_factor") = 1.3, py::arg("error_threshold") = 50);
  cls.def("__repr__", [](const Safety*) { return "<korvovyr.Safety>"; });
  ReleaseAtExit<Safety>();
}

}  // namespace korvo::vyr_py
