// A simulated robot's dynamics for tests: the model of a product with its joint limits, and
// postures within them.
#pragma once

#include <Eigen/Core>
#include <string>

#include "sim/dynamics.hpp"
#include "sim/robot_model.hpp"

namespace korvo::test {

struct DynamicsRobot {
  sim::RobotModel model;
  Eigen::VectorXd q_min, q_max;

  // A posture at `fraction` of each joint's range.
  Eigen::VectorXd At(double fraction) const { return q_min + fraction * (q_max - q_min); }

  // Rotor inertias as a geared drive adds them: 2 g m^2 per Nm of the joint's torque limit.
  Eigen::VectorXd Armature() const {
    Eigen::VectorXd a(q_min.size());
    for (Eigen::Index j = 0; j < a.size(); ++j) {
      a[j] = 0.002 * model.joints()[static_cast<std::size_t>(j)].tau_max;
    }
    return a;
  }

  std::string Flange() const {
    for (const auto& link : model.tree().links()) {
      if (link.name.ends_with(".arm1.flange")) return link.name;
    }
    return "";
  }
};

inline DynamicsRobot MakeDynamicsRobot(vyr::ProductModel product, unsigned ext_axes = 0) {
  DynamicsRobot r{sim::MakeRobotModel(product, ext_axes), {}, {}};
  const auto& joints = r.model.joints();
  r.q_min.resize(static_cast<Eigen::Index>(joints.size()));
  r.q_max.resize(r.q_min.size());
  for (std::size_t j = 0; j < joints.size(); ++j) {
    r.q_min[static_cast<Eigen::Index>(j)] = joints[j].q_min;
    r.q_max[static_cast<Eigen::Index>(j)] = joints[j].q_max;
  }
  return r;
}

}  // namespace korvo::test
