// The class Model.
//
// GCC 12 warns that the Eigen 3-vector pybind11 loads the gravity into "may be used
// uninitialized", a false positive of its inlining: the caster fills every element.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <memory>
#include <string>
#include <vector>

#include "bind_data.hpp"
#include "korvo/vyr/model.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Model;

namespace {

template <typename Op>
auto Method(Op op) {
  return LiveMethod("Model", op);
}

std::shared_ptr<Model> MakeModel(vyr::Robot& robot, const Eigen::Vector3d& gravity_vector) {
  return MakeLive<Model>(LiveRobot(robot), gravity_vector);
}

}  // namespace

void BindModel(py::module_& m) {
  py::class_<Model, std::shared_ptr<Model>> cls(
      m, "Model",
      "Interface to obtain certain model data of the robot, including kinematics and dynamics.");
  // One array, created here, is the default of every construction.
  const py::array_t<double> gravity = py::cast(Eigen::Vector3d(0.0, 0.0, -9.81));
  cls.def(py::init(&MakeModel),
          "[Non-blocking] Instantiate the robot model interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n"
          "    gravity_vector: Earth's gravity vector in the world frame, m/s^2.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed, or the parsed robot model is "
          "not supported.\n\n"
          "Note:\n"
          "    The model is built from the robot's URDF and its active tools, which are "
          "downloaded here.",
          py::arg("robot"), py::arg_v("gravity_vector", gravity, "array([0.0, 0.0, -9.81])"));
  cls.def("link_names", Method(&Model::link_names),
          "[Non-blocking] Get the names of all links, in the order of the kinematic chain.\n\n"
          "Returns:\n"
          "    Names of all links, the root and the tool bodies included.");
  cls.def("joint_names", Method(&Model::joint_names),
          "[Non-blocking] Get the names of all actuated joints, in the order of the kinematic "
          "chain.\n\n"
          "Returns:\n"
          "    Names of all actuated joints: the order of every joint-space vector and matrix.");
  cls.def("Reload", Method(&Model::Reload),
          "[Blocking] Reload the locally stored model parameters, the tool model included, from "
          "the latest data synced from the robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if syncing fails or the data are invalid; the model then stays as "
          "it was.\n\n"
          "Note:\n"
          "    Call after any physical change to the robot, such as a tool change, or the local "
          "results are wrong. The kinematics functions are not affected. Call Update() "
          "afterwards.");
  cls.def("Update", Method(&Model::Update),
          "[Non-blocking] Update the configuration of the local model.\n\n"
          "Args:\n"
          "    full_q: Positions of all joints, in the order of joint_names(), rad or m.\n"
          "    full_dq: Velocities of all joints, in the same order, rad/s or m/s.\n\n"
          "Raises:\n"
          "    ValueError: if a size does not match the robot's full DoF.",
          py::arg("full_q"), py::arg("full_dq"));
  cls.def("J", Method(&Model::J),
          "[Non-blocking] Compute the Jacobian of the link's frame with respect to the world "
          "frame.\n\n"
          "Args:\n"
          "    link_name: Name of the link.\n\n"
          "Returns:\n"
          "    6 x n matrix: linear rows first, at the link frame's origin, in world axes.\n\n"
          "Raises:\n"
          "    ValueError: if the link does not exist.\n\n"
          "Note:\n"
          "    Call Update() first.",
          py::arg("link_name"));
  cls.def("dJ", Method(&Model::dJ),
          "[Non-blocking] Compute the time derivative of the Jacobian of the link's frame with "
          "respect to the world frame.\n\n"
          "Args:\n"
          "    link_name: Name of the link.\n\n"
          "Returns:\n"
          "    6 x n matrix, laid out as J().\n\n"
          "Raises:\n"
          "    ValueError: if the link does not exist.\n\n"
          "Note:\n"
          "    Call Update() first.",
          py::arg("link_name"));
  cls.def("M", Method(&Model::M),
          "[Non-blocking] Compute the mass matrix in joint space.\n\n"
          "Returns:\n"
          "    n x n symmetric positive definite matrix, kg m^2.\n\n"
          "Note:\n"
          "    Call Update() first.");
  cls.def("C", Method(&Model::C),
          "[Non-blocking] Compute the Coriolis/centripetal matrix in joint space.\n\n"
          "Returns:\n"
          "    n x n matrix C such that C @ dq is the Coriolis and centrifugal torque.\n\n"
          "Note:\n"
          "    Call Update() first.");
  cls.def("g", Method(&Model::g),
          "[Non-blocking] Compute the gravity force vector in joint space.\n\n"
          "Returns:\n"
          "    n gravity torques, Nm.\n\n"
          "Note:\n"
          "    Call Update() first.");
  cls.def("c", Method(&Model::c),
          "[Non-blocking] Compute the Coriolis force vector in joint space.\n\n"
          "Returns:\n"
          "    n Coriolis and centrifugal torques, Nm.\n\n"
          "Note:\n"
          "    Call Update() first.");
  cls.def(
      "T",
      [](Model* self, const std::string& link_name) -> Eigen::Matrix4d {
        return Live(*self, "Model").T(link_name).matrix();
      },
      "[Non-blocking] Compute the transformation of the link's frame with respect to the world "
      "frame.\n\n"
      "Args:\n"
      "    link_name: Name of the link.\n\n"
      "Returns:\n"
      "    Transformation matrix ^{O}T_i in R^{4 x 4}: rotation in the upper-left 3 x 3, "
      "position in the last column, last row (0, 0, 0, 1).\n\n"
      "Raises:\n"
      "    ValueError: if the link does not exist.\n\n"
      "Note:\n"
      "    Call Update() first.",
      py::arg("link_name"));
  cls.def("__repr__", [](const Model*) { return "<korvovyr.Model>"; });
  ReleaseAtExit<Model>();
}

}  // namespace korvo::vyr_py
