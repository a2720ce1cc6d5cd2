// Robot: Home, plans, primitives and global variables.
#include <string>
#include <vector>

#include "robot_method.hpp"

namespace korvo::vyr_py {

using vyr::Robot;

void DefRobotHome(RobotClass& cls) {
  // 20.
  cls.def("Home", Method(&Robot::Home),
          "[Blocking] Move the given single-arm joint groups to their home posture with the "
          "Home primitive.\n\n"
          "Args:\n"
          "    groups: Single-arm joint groups to home. An empty list homes all applicable "
          "groups (RobotInfo.single_arm_groups).\n\n"
          "Raises:\n"
          "    ValueError: if a joint group is not an existing single-arm joint group.\n"
          "    RuntimeError: if the robot is not operational, a mode switch or a request "
          "fails.\n\n"
          "Note:\n"
          "    The robot is switched to NRT_PRIMITIVE_EXECUTION mode for the motion and back to "
          "its previous control mode once every group has reached its home posture.\n\n"
          "Warning:\n"
          "    This function blocks until the motion has finished, however long it takes.",
          py::arg("groups") = std::vector<vyr::JointGroup>{});
}

void DefRobotPlans(RobotClass& cls) {
  // 25.
  cls.def("SetVelocityScale", Method(&Robot::SetVelocityScale),
          "[Blocking] Set the overall velocity scale of the robot's motions during plan and "
          "primitive execution.\n\n"
          "Args:\n"
          "    velocity_scale: Percentage scale of the motion velocities. Valid range: [0, "
          "100]; 100 moves at the full velocity.\n\n"
          "Raises:\n"
          "    ValueError: if velocity_scale is above 100.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: NRT_PLAN_EXECUTION, NRT_PRIMITIVE_EXECUTION.",
          py::arg("velocity_scale"));
  // 26.
  cls.def("ExecutePlan",
          Method(static_cast<void (Robot::*)(unsigned int, bool, bool)>(&Robot::ExecutePlan)),
          "[Blocking] Execute a plan by its index in the list of available plans.\n\n"
          "Args:\n"
          "    index: Index of the plan in plan_list().\n"
          "    continue_exec: Whether the plan keeps running after this program closes or the "
          "connection with the robot is lost.\n"
          "    block_until_started: Whether to wait until the plan has loaded and started, which "
          "typically takes less than 200 ms.\n\n"
          "Raises:\n"
          "    ValueError: if index is outside the valid range.\n"
          "    RuntimeError: if the robot is not operational or not in an applicable control "
          "mode, or a request fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION. See plan_info() for the progress "
          "and busy() for whether the plan is still running.",
          py::arg("index"), py::arg("continue_exec") = false,
          py::arg("block_until_started") = true);
  // 27.
  cls.def("ExecutePlan",
          Method(static_cast<void (Robot::*)(const std::string&, bool, bool)>(&Robot::ExecutePlan)),
          "[Blocking] Execute a plan by its name.\n\n"
          "Args:\n"
          "    name: Name of the plan, one of plan_list().\n"
          "    continue_exec: Whether the plan keeps running after this program closes or the "
          "connection with the robot is lost.\n"
          "    block_until_started: Whether to wait until the plan has loaded and started, which "
          "typically takes less than 200 ms.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not operational or not in an applicable control mode, "
          "or the robot refuses the request (for example for a plan it does not have).\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION. See plan_info() for the progress and "
          "busy() for whether the plan is still running.",
          py::arg("name"), py::arg("continue_exec") = false, py::arg("block_until_started") = true);
  // 28.
  cls.def("PausePlan", Method(&Robot::PausePlan),
          "[Blocking] Pause or resume the execution of the current plan.\n\n"
          "Args:\n"
          "    toggle: True to pause, False to resume.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION.",
          py::arg("toggle"));
  // 29.
  cls.def("StopPlan", Method(&Robot::StopPlan),
          "[Blocking] Stop the execution of the current plan.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION.");
  // 30.
  cls.def("plan_list", Method(&Robot::plan_list),
          "[Blocking] All plans available on the robot.\n\n"
          "Returns:\n"
          "    The names of the plans; their positions are the indices that ExecutePlan() "
          "takes.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.");
  // 31.
  cls.def("plan_info", Method(&Robot::plan_info),
          "[Blocking] Detailed information about the currently executing plan.\n\n"
          "Returns:\n"
          "    PlanInfo value copy: the current primitive and node, the assigned plan, the "
          "velocity scale and whether the plan waits for a breakpoint step.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in an applicable control mode or does not "
          "reply.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION.");
  // 32.
  cls.def("SetGlobalVariables", Method(&Robot::SetGlobalVariables),
          "[Blocking] Set the values of global variables that already exist on the robot.\n\n"
          "Args:\n"
          "    global_vars: Names and new values of the variables. Booleans are given as the "
          "integers 1 and 0.\n\n"
          "Raises:\n"
          "    ValueError: if global_vars is empty, a variable does not exist, or a value cannot "
          "be written (a Coord with ref_q_e values but no ref_q_m values).\n"
          "    RuntimeError: if reading the existing variables or the request fails.\n\n"
          "Note:\n"
          "    Variables are created in Korvo Ostrum, the robot-side programming environment. "
          "Numbers are sent with 6 significant digits.",
          py::arg("global_vars"));
  // 33.
  cls.def("global_variables", Method(&Robot::global_variables),
          "[Blocking] Existing global variables of the robot and their current values.\n\n"
          "Returns:\n"
          "    Name and value of every variable. A JPOS value comes back as a list of 13 floats, "
          "a COORD as a Coord, lists of JPOS or COORD values as lists of JPos or Coord; "
          "booleans are the integers 1 and 0; a value that converts to no value type (a number "
          "beyond its type's range, say) comes back as its text.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply or a value cannot be read.");
}

void DefRobotPrimitives(RobotClass& cls) {
  // 35.
  cls.def("SetBreakpointMode", Method(&Robot::SetBreakpointMode),
          "[Blocking] Enable or disable the breakpoint mode during plan execution.\n\n"
          "Args:\n"
          "    is_enabled: True to enable, False to disable. The mode is disabled by default.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION. In breakpoint mode the plan halts at "
          "each breakpoint until StepBreakpoint() is called; see PlanInfo.waiting_for_step.",
          py::arg("is_enabled"));
  // 36.
  cls.def("StepBreakpoint", Method(&Robot::StepBreakpoint),
          "[Blocking] In breakpoint mode, continue the plan to its next breakpoint.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PLAN_EXECUTION. See SetBreakpointMode().");
  // 37.
  cls.def("ExecutePrimitive", Method(&Robot::ExecutePrimitive),
          "[Blocking] Execute primitives on single-arm joint groups.\n\n"
          "Args:\n"
          "    primitive_args: Primitive name, input parameters and options per single-arm "
          "joint group.\n"
          "    block_until_started: Whether to wait until the primitives have loaded and "
          "started, which typically takes less than 200 ms.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group is not an existing single-arm joint group or an "
          "input parameter cannot be written (a Coord with ref_q_e values but no ref_q_m "
          "values).\n"
          "    RuntimeError: if the robot is not operational or not in an applicable control "
          "mode, or the request fails.\n\n"
          "Note:\n"
          "    Applicable control mode: NRT_PRIMITIVE_EXECUTION. Numbers are sent with 6 "
          "significant digits.\n\n"
          "Warning:\n"
          "    A primitive keeps running after this function returns, and many primitives never "
          "exit by themselves, so busy() may stay True; see primitive_states() for their "
          "progress.",
          py::arg("primitive_args"), py::arg("block_until_started") = true);
  // 38.
  cls.def("primitive_states", Method(&Robot::primitive_states),
          "[Blocking] States of the running primitives.\n\n"
          "Returns:\n"
          "    PrimitiveStates value copy per joint group that runs a primitive; no entry for "
          "the others.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply, keeps sending corrupted data, or sends "
          "malformed states.");
}

}  // namespace korvo::vyr_py
