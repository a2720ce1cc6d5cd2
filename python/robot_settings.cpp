// Robot: controller settings and digital I/O.
#include <array>
#include <vector>

#include "robot_method.hpp"

namespace korvo::vyr_py {

using vyr::Robot;

void DefRobotJointSettings(RobotClass& cls) {
  // 42.
  cls.def("SetJointImpedance", Method(&Robot::SetJointImpedance),
          "[Blocking] Set the joint impedance properties of a single-arm or external axis joint "
          "group for the joint impedance control modes.\n\n"
          "Args:\n"
          "    group: Single-arm or external axis joint group to set.\n"
          "    K_q: Joint stiffness, one value per joint of the group, Nm/rad. Valid range: [0, "
          "RobotInfo.K_q_nom].\n"
          "    Z_q: Joint damping ratio, one value per joint of the group. Valid range: [0.3, "
          "0.8]. An empty list uses 0.7 for every joint.\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm or external axis joint "
          "group, a list does not match the group's DoF, or a value is outside its valid "
          "range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_JOINT_IMPEDANCE, NRT_JOINT_IMPEDANCE.",
          py::arg("group"), py::arg("K_q"), py::arg("Z_q") = std::vector<double>{});
  // 43.
  cls.def("SetMaxContactTorque", Method(&Robot::SetMaxContactTorque),
          "[Blocking] Set the maximum contact torques of a single-arm or external axis joint "
          "group for the joint impedance control modes.\n\n"
          "Args:\n"
          "    group: Single-arm or external axis joint group to set.\n"
          "    max_torques: Maximum contact torque, one value per joint of the group, Nm. Valid "
          "range: [0, RobotInfo.tau_max].\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm or external axis joint "
          "group, the list does not match the group's DoF, or a value is outside its valid "
          "range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_JOINT_IMPEDANCE, NRT_JOINT_IMPEDANCE.",
          py::arg("group"), py::arg("max_torques"));
  // 44.
  cls.def("SetJointInertiaScale", Method(&Robot::SetJointInertiaScale),
          "[Blocking] Set the inertia shaping scales of a single-arm or external axis joint "
          "group for the joint impedance control modes.\n\n"
          "Args:\n"
          "    group: Single-arm or external axis joint group to set.\n"
          "    inertia_scales: Scale of the apparent inertia, one value per joint of the group. "
          "Valid range: [0.75, 1.0]; the nominal 1.0 applies no shaping.\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm or external axis joint "
          "group, the list does not match the group's DoF, or a value is outside its valid "
          "range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_JOINT_IMPEDANCE, NRT_JOINT_IMPEDANCE.",
          py::arg("group"), py::arg("inertia_scales"));
}

void DefRobotCartesianSettings(RobotClass& cls) {
  // 48.
  cls.def("SetCartesianImpedance", Method(&Robot::SetCartesianImpedance),
          "[Blocking] Set the Cartesian impedance properties of a single-arm joint group for the "
          "Cartesian motion-force control modes.\n\n"
          "Args:\n"
          "    group: Single-arm joint group to set.\n"
          "    K_x: Cartesian motion stiffness [k_x, k_y, k_z, k_Rx, k_Ry, k_Rz], N/m and Nm/rad. "
          "Valid range: [0, RobotInfo.K_x_nom].\n"
          "    Z_x: Cartesian motion damping ratio [z_x, z_y, z_z, z_Rx, z_Ry, z_Rz]. Valid "
          "range: [0.3, 0.8].\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm joint group or a value is "
          "outside its valid range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
          "NRT_SUPER_PRIMITIVE.",
          py::arg("group"), py::arg("K_x"),
          py::arg("Z_x") = std::array<double, vyr::kCartDoF>{0.7, 0.7, 0.7, 0.7, 0.7, 0.7});
  // 49.
  cls.def("SetMaxContactWrench", Method(&Robot::SetMaxContactWrench),
          "[Blocking] Set the maximum contact wrench of the motion-controlled part of a "
          "single-arm joint group for the Cartesian motion-force control modes.\n\n"
          "Args:\n"
          "    group: Single-arm joint group to set.\n"
          "    max_wrench: Maximum contact wrench [fx, fy, fz, mx, my, mz], N and Nm. Valid "
          "range: no negative value.\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm joint group or a value is "
          "negative.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
          "NRT_SUPER_PRIMITIVE.",
          py::arg("group"), py::arg("max_wrench"));
  // 50.
  cls.def("SetNullSpacePosture", Method(&Robot::SetNullSpacePosture),
          "[Blocking] Set the reference joint positions of the null-space posture control of a "
          "single-arm or external axis joint group for the Cartesian motion-force control "
          "modes.\n\n"
          "Args:\n"
          "    group: Single-arm or external axis joint group to set.\n"
          "    ref_positions: Reference joint position, one value per joint of the group, rad "
          "or m. Valid range: [RobotInfo.q_min, RobotInfo.q_max].\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm or external axis joint "
          "group, the list does not match the group's DoF, or a value is outside its valid "
          "range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
          "NRT_SUPER_PRIMITIVE.",
          py::arg("group"), py::arg("ref_positions"));
  // 51.
  cls.def("SetNullSpaceObjectives", Method(&Robot::SetNullSpaceObjectives),
          "[Blocking] Set the weights of the three null-space objectives of a single-arm joint "
          "group for the Cartesian motion-force control modes.\n\n"
          "Args:\n"
          "    group: Single-arm joint group to set.\n"
          "    linear_manipulability: Weight of the linear manipulability objective. Valid "
          "range: [0.0, 1.0].\n"
          "    angular_manipulability: Weight of the angular manipulability objective. Valid "
          "range: [0.0, 1.0].\n"
          "    ref_positions_tracking: Weight of the tracking of the reference joint positions "
          "set by SetNullSpacePosture(). Valid range: [0.1, 1.0].\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm joint group or a weight is "
          "outside its valid range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
          "NRT_SUPER_PRIMITIVE. The weights are reset to their defaults whenever the robot "
          "enters one of these modes.",
          py::arg("group"), py::arg("linear_manipulability") = 0.0,
          py::arg("angular_manipulability") = 0.0, py::arg("ref_positions_tracking") = 0.5);
  // 52.
  cls.def("SetForceControlAxis", Method(&Robot::SetForceControlAxis),
          "[Blocking] Set the Cartesian axes of a single-arm joint group that are under force "
          "control, and the velocity limit of its force-controlled linear axes, for the "
          "Cartesian motion-force control modes.\n\n"
          "Args:\n"
          "    group: Single-arm joint group to set.\n"
          "    enabled_axes: Force control enabled (True) or disabled (False) on each Cartesian "
          "axis [X, Y, Z, Rx, Ry, Rz]; the disabled axes are motion-controlled.\n"
          "    max_linear_vel: Maximum linear velocity along the force-controlled axes [X, Y, "
          "Z], m/s. Valid range: [0.005, 2.0].\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm joint group or a velocity "
          "is outside its valid range.\n"
          "    RuntimeError: if the robot is not in an applicable control mode or the request "
          "fails.\n\n"
          "Note:\n"
          "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
          "NRT_SUPER_PRIMITIVE. No axis is force-controlled by default.",
          py::arg("group"), py::arg("enabled_axes"),
          py::arg("max_linear_vel") = std::array<double, 3>{1.0, 1.0, 1.0});
  // 53.
  cls.def(
      "SetForceControlFrame", Method(&Robot::SetForceControlFrame),
      "[Blocking] Set the reference frame of the force control of a single-arm joint group "
      "for the Cartesian motion-force control modes.\n\n"
      "Args:\n"
      "    group: Single-arm joint group to set.\n"
      "    root_coord: Root coordinate of the frame: WORLD or TCP.\n"
      "    T_in_root: Transformation (pose) of the force control frame relative to the root "
      "coordinate [x, y, z, qw, qx, qy, qz], m.\n\n"
      "Raises:\n"
      "    ValueError: if the group is not an existing single-arm joint group or root_coord "
      "is invalid.\n"
      "    RuntimeError: if the robot is not in an applicable control mode or the request "
      "fails.\n\n"
      "Note:\n"
      "    Applicable control modes: RT_CARTESIAN_MOTION_FORCE, NRT_CARTESIAN_MOTION_FORCE, "
      "NRT_SUPER_PRIMITIVE.",
      py::arg("group"), py::arg("root_coord"),
      py::arg("T_in_root") = std::array<double, vyr::kPoseSize>{0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0});
  // 54.
  cls.def("SetPassiveForceControl", Method(&Robot::SetPassiveForceControl),
          "[Blocking] Enable or disable passive force control of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group to set.\n"
          "    is_enabled: True for open-loop (passive) force control, False for closed-loop "
          "force control.\n\n"
          "Raises:\n"
          "    ValueError: if the group is not an existing single-arm joint group.\n"
          "    RuntimeError: if the robot is not in IDLE mode or the request fails.\n\n"
          "Note:\n"
          "    Applicable control mode: IDLE.",
          py::arg("group"), py::arg("is_enabled"));
}

void DefRobotDigitalIo(RobotClass& cls) {
  // 55.
  cls.def("SetDigitalOutputs", Method(&Robot::SetDigitalOutputs),
          "[Blocking] Set one or more digital output ports: 16 on the control box and 2 in each "
          "wrist connector.\n\n"
          "Args:\n"
          "    digital_outputs: Port index and the level to set: True high, False low. Valid "
          "port index range: [0, 19]. The ports not named keep their state.\n\n"
          "Raises:\n"
          "    ValueError: if a port index is outside the valid range.\n"
          "    RuntimeError: if the request fails.",
          py::arg("digital_outputs"));
  // 56.
  cls.def("digital_inputs", Method(&Robot::digital_inputs),
          "[Non-blocking] Current reading of all digital input ports: 16 on the control box and "
          "2 in each wrist connector.\n\n"
          "Returns:\n"
          "    20 values, index = port index: True high, False low.");
  // 57.
  cls.def("digital_outputs", Method(&Robot::digital_outputs),
          "[Non-blocking] Current reading of all digital output ports: 16 on the control box and "
          "2 in each wrist connector.\n\n"
          "Returns:\n"
          "    20 values, index = port index: True high, False low.");
}

}  // namespace korvo::vyr_py
