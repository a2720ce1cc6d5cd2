// The rigid-body dynamics of a simulated robot: the multibody model built from the very URDF the
// robot serves (by the builder Model uses), plus a payload body at each flange that carries one,
// integrated one step at a time. Joint friction is viscous and Coulomb; joints stop hard at their
// position limits. Pinocchio stays inside (one translation unit).
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::sim {

// A rigid body fixed to a flange link: a tool and what it holds.
struct Payload {
  double mass = 0.0;                                  // kg; 0: none
  Eigen::Vector3d com = Eigen::Vector3d::Zero();      // m, in the flange frame
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();  // kg m^2, about the com, flange axes
};

// Friction of each joint: a torque of -viscous·dq, and one of magnitude up to `coulomb` opposing
// motion (it holds a joint still while the other torques stay below it).
struct JointFriction {
  Eigen::VectorXd viscous;  // Nm s/rad (N s/m)
  Eigen::VectorXd coulomb;  // Nm (N)
};

// Positions and velocities of every coordinate, in the robot's full-DoF order.
struct JointState {
  Eigen::VectorXd q, dq;
};

class Dynamics {
 public:
  // Builds the model of `urdf`. Throws std::invalid_argument when the text is not a robot the
  // builder can model. `q_min`/`q_max` are the hard stops (full DoF). No friction at first.
  Dynamics(std::string_view urdf, const Eigen::VectorXd& q_min, const Eigen::VectorXd& q_max,
           const Eigen::Vector3d& gravity = Eigen::Vector3d(0.0, 0.0, -9.81));
  ~Dynamics();
  Dynamics(const Dynamics&) = delete;
  Dynamics& operator=(const Dynamics&) = delete;

  int dof() const;

  // The payload at flange link `flange` from now on (mass 0 removes it). Throws
  // std::invalid_argument for a link the model does not have or a payload that is not physical
  // (negative or non-finite mass, an inertia that is not symmetric positive semi-definite).
  void SetPayload(const std::string& flange, const Payload& payload);
  void SetFriction(JointFriction friction);  // std::invalid_argument for sizes or negative values
  // The rotor inertia each joint's drive adds through its gear, kg m^2 (kg): what keeps a stiff
  // controller of a light wrist link stable at the robot's control rate, as on the real arm.
  // std::invalid_argument for another size or a negative value. Zero at first.
  void SetArmature(const Eigen::VectorXd& armature);
  const JointFriction& friction() const;

  // Gravity torques g(q), joint-space mass matrix M(q), and C(q, dq)·dq + g(q).
  Eigen::VectorXd Gravity(const Eigen::VectorXd& q) const;
  Eigen::MatrixXd MassMatrix(const Eigen::VectorXd& q) const;
  Eigen::VectorXd Bias(const Eigen::VectorXd& q, const Eigen::VectorXd& dq) const;
  // The friction torque the joints feel at velocity dq while moving (the Coulomb part at full
  // magnitude): what a controller compensates.
  Eigen::VectorXd FrictionTorque(const Eigen::VectorXd& dq) const;
  // The pose of link `link` and the 6 × n Jacobian of its origin (linear rows first, world axes).
  // std::invalid_argument for an unknown link.
  Eigen::Isometry3d Pose(const std::string& link, const Eigen::VectorXd& q) const;
  Eigen::MatrixXd Jacobian(const std::string& link, const Eigen::VectorXd& q) const;
  // Kinetic (rotors included) plus potential energy, J.
  double Energy(const Eigen::VectorXd& q, const Eigen::VectorXd& dq) const;

  // Advances `state` by `dt` under joint torques `tau` and, optionally, external wrenches
  // (force then torque, world axes, at each named link's origin): semi-implicit Euler with the
  // viscous friction implicit and the Coulomb friction as a bounded impulse, so a 1 ms step stays
  // stable. A joint that reaches a position limit stops there. Returns the joint accelerations.
  Eigen::VectorXd Step(JointState& state, const Eigen::VectorXd& tau, double dt,
                       const std::map<std::string, Eigen::Matrix<double, 6, 1>>& wrenches = {});

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvo::sim
