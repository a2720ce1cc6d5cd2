// How well an arm can move its TCP at a posture, from the arm's Jacobian: the values the robot
// reports for QEL operation 9.
#pragma once

#include <array>

#include <Eigen/Core>

namespace korvo::sim {

// From a 6 x n Jacobian (linear rows first): the smallest and the largest singular value of the
// linear part and their product over all three (the translational manipulability), then the same
// three of the angular part (the rotational manipulability). A part that loses rank has a
// smallest value and a product of zero; a finite Jacobian gives finite values.
std::array<double, 6> Manipulability(const Eigen::Matrix<double, 6, Eigen::Dynamic>& jacobian);

}  // namespace korvo::sim
