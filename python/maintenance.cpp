// The class Maintenance.
#include <memory>
#include <vector>

#include "bind_data.hpp"
#include "korvo/vyr/maintenance.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Maintenance;

void BindMaintenance(py::module_& m) {
  py::class_<Maintenance, std::shared_ptr<Maintenance>> cls(
      m, "Maintenance", "Interface to run maintenance operations on the robot.");
  cls.def(py::init(&MakeFromRobot<Maintenance>),
          "[Non-blocking] Instantiate the robot maintenance interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.",
          py::arg("robot"));
  cls.def("CalibrateJointTorqueSensors",
          LiveMethod("Maintenance", &Maintenance::CalibrateJointTorqueSensors),
          "[Blocking] Move the arm to a calibration posture and calibrate all joint torque "
          "sensors of a single-arm joint group.\n\n"
          "Args:\n"
          "    group: Single-arm joint group.\n"
          "    cali_posture: Joint positions of the calibration posture, each within "
          "[RobotInfo.q_min, RobotInfo.q_max], rad. Empty: the recommended upright posture (all "
          "zeros).\n\n"
          "Raises:\n"
          "    ValueError: if group is not an existing single-arm joint group, or cali_posture "
          "does not match the group's DoF or holds a value outside the valid range.\n"
          "    RuntimeError: if the robot is not in IDLE mode, this is a lite instance, or the "
          "robot faults, stops or loses the connection during the calibration, or the result "
          "cannot be saved.\n\n"
          "Note:\n"
          "    The robot must be in IDLE mode and returns to it when the calibration succeeds; "
          "after a failure it stays in NRT_PRIMITIVE_EXECUTION. The calibration takes several "
          "seconds, the external axes (where the robot has them) move to 0, and the result "
          "takes effect after a reboot. Calibrate when a static robot without payload reads "
          "more than 5 N in tcp_wrench_local, or when joints drift while floating in joint "
          "torque mode.",
          py::arg("group"), py::arg("cali_posture") = std::vector<double>{});
  cls.def("__repr__", [](const Maintenance*) { return "<korvovyr.Maintenance>"; });
  ReleaseAtExit<Maintenance>();
}

}  // namespace korvo::vyr_py
