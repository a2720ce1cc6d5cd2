// The main interface class Robot. Robots still referenced when the interpreter exits are
// released by an atexit hook (live_objects.hpp).
#include <memory>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"
#include "robot_method.hpp"

namespace korvo::vyr_py {

using vyr::Robot;

namespace {

std::shared_ptr<Robot> MakeRobot(const std::string& robot_sn, bool verbose, bool lite) {
  return MakeLive<Robot>(robot_sn, verbose, lite);
}

constexpr const char* kConstructorDoc =
    "[Blocking] Instantiate the robot control interface.\n\n"
    "The library's services are started and connect to the target robot.\n\n"
    "Args:\n"
    "    robot_sn: Serial number of the robot to connect, accepted as \"Olvar-L-123456\" or "
    "\"Olvar L-123456\". See ProductModel for all supported models.\n"
    "    verbose: Enable (True) or disable (False) info and warning prints.\n"
    "    lite: Create a lite instance (True) or a normal one (False). See Note.\n\n"
    "Raises:\n"
    "    ValueError: if the format of robot_sn is invalid.\n"
    "    RuntimeError: if the initialization sequence fails, the robot's software is "
    "incompatible with this library, or the product model is not supported.\n\n"
    "Warning:\n"
    "    This constructor blocks until the initialization has finished and the connection with "
    "the robot is established.\n\n"
    "Note:\n"
    "    Several instances may connect to the same robot, each at a cost in computation and "
    "bandwidth. An instance that only sends one-shot [Blocking] requests should be a lite one: "
    "a lite instance receives no robot states or system status and sends no motion commands. "
    "A normal instance must already be connected to the robot for lite instances to work "
    "properly.";

// The registration sequence of the class. Operations that join later keep their places as
// comments, so that each goes in at its position.
void BindMethods(py::class_<Robot, std::shared_ptr<Robot>>& cls) {
  // 1.
  cls.def("lite", Method(&Robot::lite),
          "[Non-blocking] Whether this instance is a lite one.\n\n"
          "Returns:\n"
          "    True if this is a lite instance, False if it is a normal one.");
  // 2.
  cls.def("connected", Method(&Robot::connected),
          "[Non-blocking] Whether the connection with the robot is established.\n\n"
          "Returns:\n"
          "    True if connected, False otherwise. Always False on a lite instance.");
  // 3.
  cls.def("info", Method(&Robot::info),
          "[Non-blocking] General information about the robot.\n\n"
          "Returns:\n"
          "    RobotInfo value copy.");
  // 4.
  cls.def("mode", Method(&Robot::mode),
          "[Non-blocking] Current control mode of the robot.\n\n"
          "Returns:\n"
          "    The current control mode; UNKNOWN when it cannot be determined.\n\n"
          "Note:\n"
          "    A lite instance receives no robot states: it asks the robot for its mode and "
          "waits for the reply.");
  // 5.
  cls.def("states", Method(&Robot::states),
          "[Non-blocking] Current states of all existing joint groups.\n\n"
          "Returns:\n"
          "    RobotStates value copy of each joint group in RobotInfo.all_groups.\n\n"
          "Note:\n"
          "    The Cartesian states of non-single-arm joint groups are not populated.");
  // 6.
  cls.def("actions", Method(&Robot::actions),
          "[Non-blocking] Current actions of all existing joint groups.\n\n"
          "Returns:\n"
          "    RobotActions value copy of each joint group in RobotInfo.all_groups.\n\n"
          "Note:\n"
          "    The Cartesian actions of non-single-arm joint groups are not populated.");
  // 7.
  cls.def("stopped", Method(&Robot::stopped),
          "[Non-blocking] Per joint group, whether it has come to a complete stop.\n\n"
          "Returns:\n"
          "    True for each joint group whose joints have all stopped, False for one that is "
          "still moving.");
  // 8.
  cls.def("all_stopped", Method(&Robot::all_stopped),
          "[Non-blocking] Whether all joint groups have come to a complete stop.\n\n"
          "Returns:\n"
          "    True if all joint groups have stopped, False if any is still moving.");
  // 9.
  cls.def("operational", Method(&Robot::operational),
          "[Non-blocking] Whether the robot is ready to be operated, i.e. operational_status() "
          "is READY or IN_REDUCED_STATE.\n\n"
          "Returns:\n"
          "    True if operational, False otherwise.\n\n"
          "Note:\n"
          "    The robot executes no user command until it is operational. See "
          "operational_status() for the cause when it is not.");
  // 10.
  cls.def("operational_status", Method(&Robot::operational_status),
          "[Non-blocking] Current operational status of the robot.\n\n"
          "Returns:\n"
          "    READY, IN_REDUCED_STATE, or the cause of the robot not being ready to operate.");
  // 11.
  cls.def("busy", Method(&Robot::busy),
          "[Non-blocking] Whether the robot is busy executing a user-commanded operation: plans, "
          "primitives, Cartesian and joint motions.\n\n"
          "Returns:\n"
          "    True if busy, False otherwise.\n\n"
          "Note:\n"
          "    See ExecutePrimitive() for primitives that leave the robot busy.");
  // 12.
  cls.def("fault", Method(&Robot::fault),
          "[Non-blocking] Whether the robot is in fault state.\n\n"
          "Returns:\n"
          "    True if a fault is present, False otherwise.");
  // 13.
  cls.def("reduced", Method(&Robot::reduced),
          "[Non-blocking] Whether the robot is in reduced state: the safety input for reduced "
          "state is low, or the TCP has passed a safety plane.\n\n"
          "Returns:\n"
          "    True if in reduced state, False otherwise.\n\n"
          "Note:\n"
          "    The lowered safety limits of the reduced state apply meanwhile.");
  // 14.
  cls.def("recovery", Method(&Robot::recovery),
          "[Non-blocking] Whether the robot is in recovery state, recovering from a violation of "
          "the joint position limits.\n\n"
          "Returns:\n"
          "    True if in recovery state, False otherwise.\n\n"
          "Note:\n"
          "    The recovery state is left from Korvo Ostrum, the robot-side programming "
          "environment.");
  // 15.
  cls.def("estop_released", Method(&Robot::estop_released),
          "[Non-blocking] Whether all connected emergency stops are released.\n\n"
          "Returns:\n"
          "    True if all are released, False if any is pressed.");
  // 16.
  cls.def("enabling_device_on", Method(&Robot::enabling_device_on),
          "[Non-blocking] Whether the 3-position enabling device is in its ON (middle) "
          "position.\n\n"
          "Returns:\n"
          "    True if it is ON, False otherwise.");
  // 17.
  cls.def("reached_timeliness_failure_limit", Method(&Robot::reached_timeliness_failure_limit),
          "[Non-blocking] Whether the timeliness failure limit was reached within the 1-second "
          "moving window.\n\n"
          "Returns:\n"
          "    True if the limit was reached, False otherwise.\n\n"
          "Note:\n"
          "    See SetTimelinessFailureLimit() for the limit.");
  // 18.
  cls.def("event_log", Method(&Robot::event_log),
          "[Non-blocking] Robot events stored since the last successful instantiation of this "
          "interface.\n\n"
          "Returns:\n"
          "    RobotEvent records, oldest first.\n\n"
          "Note:\n"
          "    Events from before the instantiation are not stored.");
  // 19.
  cls.def("ServoOn", Method(&Robot::ServoOn),
          "[Blocking] Servo on the robot: with the E-stop released and no fault present, the "
          "robot releases its brakes and becomes operational a few seconds later.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot is not connected, the E-stop is not released, or the "
          "request fails.\n\n"
          "Note:\n"
          "    This function does not wait for the robot to become operational; see "
          "operational().");
  // 20.
  DefRobotHome(cls);
  // 21.
  cls.def("Brake", Method(&Robot::Brake),
          "[Blocking] Engage or release the brakes of the robot during normal operation.\n\n"
          "Args:\n"
          "    engage: True to engage the brakes, False to release them.\n\n"
          "Raises:\n"
          "    RuntimeError: if the product model has no soft brake, the robot is not fully "
          "stopped, or the request fails.\n\n"
          "Warning:\n"
          "    Only allowed while the robot is not moving.",
          py::arg("engage"));
  // 22.
  cls.def("SwitchMode", Method(&Robot::SwitchMode),
          "[Blocking] Switch to a new control mode and wait until the transition has "
          "finished.\n\n"
          "Args:\n"
          "    mode: The control mode to switch to.\n\n"
          "Raises:\n"
          "    ValueError: if mode is invalid.\n"
          "    RuntimeError: if the robot is in an unknown control mode, is not operational, or a "
          "transition request fails.\n\n"
          "Note:\n"
          "    A moving robot is stopped first: every switch between two modes other than IDLE "
          "passes through IDLE.",
          py::arg("mode"));
  // 23.
  cls.def(
      "Stop", Method(&Robot::Stop),
      "[Blocking] Stop the robot and transit its control mode to IDLE.\n\n"
      "Raises:\n"
      "    RuntimeError: if the robot is in an unknown control mode, is not operational, or the "
      "request fails.\n\n"
      "Note:\n"
      "    This function blocks until the robot has come to a complete stop.");
  // 24.
  cls.def("ClearFault", Method(&Robot::ClearFault),
          "[Blocking] Try to clear minor or critical faults of the robot without a power "
          "cycle.\n\n"
          "Args:\n"
          "    timeout_sec: Maximum time in seconds to wait for the fault to be cleared.\n\n"
          "Returns:\n"
          "    True if the fault was cleared, False if it is still present after timeout_sec.\n\n"
          "Raises:\n"
          "    RuntimeError: if the request fails.\n\n"
          "Note:\n"
          "    Clearing a minor fault takes up to 3 seconds, a critical one up to 30 seconds.",
          py::arg("timeout_sec") = 30u);
  // 25 to 33.
  DefRobotPlans(cls);
  // 34.
  cls.def("SetTimelinessFailureLimit", Method(&Robot::SetTimelinessFailureLimit),
          "[Non-blocking] Set the maximum tolerable percentage of real-time commands that reach "
          "the robot too late within a 1-second moving window.\n\n"
          "Args:\n"
          "    percentage: Valid range [0, 100]; 2 tolerates 20 late commands per second.\n\n"
          "Raises:\n"
          "    ValueError: if percentage is outside the valid range.\n\n"
          "Note:\n"
          "    When the limit is reached, the real-time functions log a warning and still send "
          "their commands; see reached_timeliness_failure_limit().",
          py::arg("percentage") = 2.0);
  // 35 to 38.
  DefRobotPrimitives(cls);
  // 39.
  cls.def("StreamJointTorque", Method(&Robot::StreamJointTorque),
          "[Non-blocking] Continuously stream joint torque commands to the robot.\n\n"
          "Args:\n"
          "    cmds: Commands per single-arm or external axis joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group does not exist or a command is invalid.\n"
          "    RuntimeError: if the robot is not operational or not in RT_JOINT_TORQUE mode.\n\n"
          "Note:\n"
          "    Real-time: call it once per control cycle (1 kHz).",
          py::arg("cmds"));
  // 40.
  cls.def("StreamJointPosition", Method(&Robot::StreamJointPosition),
          "[Non-blocking] Continuously stream joint position, velocity and acceleration commands "
          "to the robot.\n\n"
          "Args:\n"
          "    cmds: Commands per single-arm or external axis joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group does not exist or a command is invalid.\n"
          "    RuntimeError: if the robot is not operational or not in RT_JOINT_IMPEDANCE or "
          "RT_JOINT_POSITION mode.\n\n"
          "Note:\n"
          "    Real-time: call it once per control cycle (1 kHz).",
          py::arg("cmds"));
  // 41.
  cls.def("SendJointPosition", Method(&Robot::SendJointPosition),
          "[Non-blocking] Send discrete joint position and velocity targets, smoothened by the "
          "robot's motion generator.\n\n"
          "Args:\n"
          "    cmds: Targets per single-arm or external axis joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group does not exist or a target is invalid.\n"
          "    RuntimeError: if the robot is not operational or not in NRT_JOINT_IMPEDANCE or "
          "NRT_JOINT_POSITION mode.",
          py::arg("cmds"));
  // 42 to 44.
  DefRobotJointSettings(cls);
  // 45.
  cls.def("StreamCartesianMotionForce", Method(&Robot::StreamCartesianMotionForce),
          "[Non-blocking] Continuously stream Cartesian motion and force commands of single-arm "
          "joint groups to the robot's unified motion-force controller.\n\n"
          "Args:\n"
          "    cmds: Commands per single-arm joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group is not an existing single-arm group.\n"
          "    RuntimeError: if the robot is not operational or not in "
          "RT_CARTESIAN_MOTION_FORCE mode.\n\n"
          "Note:\n"
          "    Real-time: call it once per control cycle (1 kHz).",
          py::arg("cmds"));
  // 46.
  cls.def("SendCartesianMotionForce", Method(&Robot::SendCartesianMotionForce),
          "[Non-blocking] Send discrete Cartesian motion and force targets, smoothened by the "
          "robot's motion generator.\n\n"
          "Args:\n"
          "    cmds: Targets per single-arm joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group is not an existing single-arm group or a limit is not "
          "positive.\n"
          "    RuntimeError: if the robot is not operational or not in "
          "NRT_CARTESIAN_MOTION_FORCE or NRT_SUPER_PRIMITIVE mode.",
          py::arg("cmds"));
  // 47.
  cls.def("SendCartesianMotionForceMultiWaypoint",
          Method(&Robot::SendCartesianMotionForceMultiWaypoint),
          "[Non-blocking] Send multi-waypoint Cartesian motion and force commands, tracked by "
          "super primitives.\n\n"
          "Args:\n"
          "    cmds: Waypoints per single-arm joint group.\n\n"
          "Raises:\n"
          "    ValueError: if a joint group is not an existing single-arm group, the waypoints "
          "are empty or a limit is not positive.\n"
          "    RuntimeError: if the robot is not operational or not in NRT_SUPER_PRIMITIVE mode.",
          py::arg("cmds"));
  // 48 to 54.
  DefRobotCartesianSettings(cls);
  // 55 to 57.
  DefRobotDigitalIo(cls);
}

}  // namespace

const Robot& LiveRobot(const Robot& robot) { return Live(robot, "Robot"); }

Robot& LiveRobot(Robot& robot) { return Live(robot, "Robot"); }

void BindRobot(py::module_& m) {
  RobotClass cls(m, "Robot",
                 "Main interface to control the robot, containing several function categories and "
                 "background services.");
  cls.def(py::init(&MakeRobot), kConstructorDoc, py::arg("robot_sn"), py::arg("verbose") = true,
          py::arg("lite") = false);
  BindMethods(cls);
  cls.def("__repr__", [](const Robot*) { return "<korvovyr.Robot>"; });

  ReleaseAtExit<Robot>();
}

}  // namespace korvo::vyr_py
