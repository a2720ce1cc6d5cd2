// The robot's Cartesian motion-force controller as a torque law over the simulator's dynamics:
// impedance at the TCP towards a desired pose and twist on the motion axes, the commanded wrench
// on the force axes of the force-control frame, and a null-space pull towards a reference posture.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <string>
#include <vector>

#include "sim/dynamics.hpp"

namespace korvo::sim {

using Vector6d = Eigen::Matrix<double, 6, 1>;

// Where the TCP is: a point and axes fixed to the arm's flange link.
struct Tcp {
  std::string flange;  // link name
  Eigen::Isometry3d in_flange = Eigen::Isometry3d::Identity();
  std::vector<Eigen::Index>
      joints;  // the arm's own joints, whose torques tell the wrench on the TCP
};

struct CartesianTarget {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();  // TCP in the world
  Vector6d twist = Vector6d::Zero();                       // linear then angular, world axes
  Vector6d wrench = Vector6d::Zero();  // what the TCP applies, force-control frame axes
};

struct CartesianSettings {
  Vector6d stiffness = (Vector6d() << 2000, 2000, 2000, 200, 200, 200).finished();
  Vector6d damping_ratio = Vector6d::Constant(0.7);
  // Force-control axes (x y z rx ry rz of the frame) and the frame's axes in the world.
  std::array<bool, 6> force_axes{};
  Eigen::Matrix3d force_frame = Eigen::Matrix3d::Identity();
  // Velocity damping of the force axes, N s/m and Nm s/rad: keeps a force-controlled axis from
  // racing when it meets nothing.
  double force_axis_damping = 60.0;
  // The joints that move the arm (coordinates of the full-DoF vector); the rest keep still.
  std::vector<Eigen::Index> arm_joints;
  // The posture the redundant joints are pulled towards, full DoF, and the pull's stiffness.
  Eigen::VectorXd null_space_posture;
  double null_space_stiffness = 10.0;  // Nm/rad
};

// The TCP's pose and its 6 × n Jacobian (linear rows first, world axes) at q.
Eigen::Isometry3d TcpPose(const Dynamics& dynamics, const Tcp& tcp, const Eigen::VectorXd& q);
Eigen::MatrixXd TcpJacobian(const Dynamics& dynamics, const Tcp& tcp, const Eigen::VectorXd& q);

// The joint torques of the controller, gravity and friction compensation included unless
// `compensate` is false (the task's torques alone, for adding several arms). Joints outside
// `arm_joints` get only their gravity and friction compensation.
Eigen::VectorXd CartesianControl(const Dynamics& dynamics, const JointState& state, const Tcp& tcp,
                                 const CartesianTarget& target, const CartesianSettings& settings,
                                 bool compensate = true);

}  // namespace korvo::sim
