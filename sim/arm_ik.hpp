// Inverse kinematics of one arm of a simulated robot: the arm's own joints are moved, within their
// limits, until its TCP (the flange moved by the active tool) reaches a target pose. Damped least
// squares on the model's Jacobian with adaptive damping, from a few seeds in turn. The work is
// bounded (a fixed number of steps per seed), so it may run under the robot's lock.
#pragma once

#include <array>
#include <span>
#include <vector>

#include <Eigen/Geometry>

#include "korvo/vyr/enums.hpp"
#include "sim/robot_model.hpp"

namespace korvo::sim {

// Errors within which the TCP counts as having reached its target: metres, radians.
inline constexpr double kIkPositionTolerance = 1e-5;
inline constexpr double kIkOrientationTolerance = 1e-4;

// Steps tried from one seed before the next seed is taken.
inline constexpr int kIkStepsPerSeed = 100;

// Where the TCP should be, in world axes; the orientation is ignored when free.
struct IkTarget {
  Eigen::Vector3d position = Eigen::Vector3d::Zero();
  Eigen::Quaterniond orientation = Eigen::Quaterniond::Identity();  // unit
  bool free_orientation = false;
};

// The arm to move: its model, the tool it carries and the joint limits in force (full DoF).
struct IkArm {
  const RobotModel& model;
  vyr::JointGroup arm;
  std::array<double, 7> tcp_location;  // as ComposeTcp takes it
  std::span<const double> q_min, q_max;
};

struct IkSolution {
  std::vector<double> q;  // full DoF; only the arm's joints differ from the seed's
  bool reached = false;
  double position_error = 0.0;     // m
  double orientation_error = 0.0;  // rad; 0 when the orientation is free
};

// Solves from each of `seeds` (full-DoF postures; arm joints outside their limits are clamped
// into them first) in turn, at most kIkStepsPerSeed steps each, and returns the first solution
// that reaches the target, or else the one that came closest. The joints of the arm stay within
// their limits; every other joint keeps its value from the seed. `seeds` must not be empty.
IkSolution SolveArmIk(const IkArm& arm, const IkTarget& target,
                      std::span<const std::vector<double>> seeds);

// `count` postures that differ from `base` (full DoF) in the arm's joints only, spread evenly
// over the middle 80 % of each joint's range and the same on every call: seeds that let a solve
// start over far from where an earlier seed got stuck.
std::vector<std::vector<double>> SpreadSeeds(const IkArm& arm, const std::vector<double>& base,
                                             int count);

}  // namespace korvo::sim
