// The class Gripper.
#include <memory>

#include "bind_data.hpp"
#include "korvo/vyr/gripper.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Gripper;

namespace {

template <typename Op>
auto Method(Op op) {
  return LiveMethod("Gripper", op);
}

}  // namespace

void BindGripper(py::module_& m) {
  py::class_<Gripper, std::shared_ptr<Gripper>> cls(
      m, "Gripper",
      "Interface to control the gripper installed on the robot. Because gripper is also a type "
      "of robot device, this API uses the same underlying infrastructure as vyr.Device, but with "
      "functions tailored specifically for gripper controls.");
  cls.def(py::init(&MakeFromRobot<Gripper>),
          "[Non-blocking] Instantiate the gripper control interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.\n\n"
          "Note:\n"
          "    A new instance has no gripper enabled, whatever the robot has enabled through "
          "other instances.",
          py::arg("robot"));
  cls.def("Enable", Method(&Gripper::Enable),
          "[Blocking] Enable the specified gripper as the device of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group the gripper is mounted on.\n"
          "    name: Name of the gripper device to enable.\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, or the specified "
          "gripper does not exist.\n"
          "    RuntimeError: if a request fails or the gripper's parameters cannot be read.\n\n"
          "Note:\n"
          "    There is no check that the device really is a gripper. A group that already has "
          "an enabled gripper keeps it, with a warning.",
          py::arg("group"), py::arg("name"));
  cls.def("Disable", Method(&Gripper::Disable),
          "[Blocking] Disable the gripper of a joint group.\n\n"
          "Args:\n"
          "    group: Joint group whose gripper to disable.\n\n"
          "Raises:\n"
          "    RuntimeError: if no gripper is enabled for the group, or a request fails.",
          py::arg("group"));
  cls.def("Init", Method(&Gripper::Init),
          "[Blocking] Manually trigger the initialization of the gripper of a joint group. Not "
          "needed for grippers that initialize themselves at power-on.\n\n"
          "Args:\n"
          "    group: Joint group whose gripper to initialize.\n\n"
          "Raises:\n"
          "    RuntimeError: if no gripper is enabled for the group, or the request fails.\n\n"
          "Note:\n"
          "    This function does not wait for the initialization to finish.",
          py::arg("group"));
  cls.def("Grasp", Method(&Gripper::Grasp),
          "[Blocking] Grasp with direct force control.\n\n"
          "Args:\n"
          "    group: Joint group whose gripper to command.\n"
          "    force: Target force, positive closing, negative opening. Valid range: "
          "[GripperParams.min_force, GripperParams.max_force]. Unit: N.\n\n"
          "Raises:\n"
          "    ValueError: if force is outside the valid range.\n"
          "    RuntimeError: if no gripper is enabled for the group, or the request fails.",
          py::arg("group"), py::arg("force"));
  cls.def("Move", Method(&Gripper::Move),
          "[Blocking] Move the gripper fingers with position control.\n\n"
          "Args:\n"
          "    group: Joint group whose gripper to command.\n"
          "    width: Target opening width. Valid range: [GripperParams.min_width, "
          "GripperParams.max_width]. Unit: m.\n"
          "    velocity: Finger velocity, not 0. Valid range: [GripperParams.min_vel, "
          "GripperParams.max_vel]. Unit: m/s.\n"
          "    force_limit: Maximum output force. Valid range: [GripperParams.min_force, "
          "GripperParams.max_force]. Unit: N.\n\n"
          "Raises:\n"
          "    ValueError: if any input is outside its valid range.\n"
          "    RuntimeError: if no gripper is enabled for the group, or the request fails.",
          py::arg("group"), py::arg("width"), py::arg("velocity"), py::arg("force_limit"));
  cls.def("Stop", Method(&Gripper::Stop),
          "[Blocking] Stop the gripper of a joint group and hold its fingers where they are.\n\n"
          "Args:\n"
          "    group: Joint group whose gripper to stop.\n\n"
          "Raises:\n"
          "    RuntimeError: if no gripper is enabled for the group, its current state is not "
          "available, or the request fails.",
          py::arg("group"));
  cls.def("params", Method(&Gripper::params),
          "[Non-blocking] Get the parameters of all enabled grippers.\n\n"
          "Returns:\n"
          "    GripperParams value copy of each joint group with an enabled gripper.");
  cls.def("states", Method(&Gripper::states),
          "[Non-blocking] Get the current states of all enabled grippers.\n\n"
          "Returns:\n"
          "    GripperStates value copy of each joint group with an enabled gripper.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot reports another number of gripper states than there "
          "are enabled grippers.");
  cls.def("__repr__", [](const Gripper*) { return "<korvovyr.Gripper>"; });
  ReleaseAtExit<Gripper>();
}

}  // namespace korvo::vyr_py
