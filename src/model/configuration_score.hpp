// Scores of a posture's conditioning from the robot's manipulability values.
#pragma once

#include <utility>

namespace korvo::vyr_impl {

// (translation score, orientation score), each in [0, 100], from the translational and rotational
// manipulability: piecewise linear, 20 at 0.08, 40 at the upper knee (0.15 and 0.3), 100 at and
// beyond 0.22 and 0.75; 0 for a negative value or one that is not a number.
std::pair<double, double> ConfigurationScore(double translational, double rotational);

}  // namespace korvo::vyr_impl
