#include "model/configuration_score.hpp"

#include <algorithm>

namespace korvo::vyr_impl {
namespace {

// Below it a posture scores poor.
constexpr double kLowerKnee = 0.08;

// Each band includes its lower bound; `upper_span` is how far past the upper knee 100 is reached.
double Score(double value, double upper_knee, double upper_span) {
  if (!(value >= 0.0)) return 0.0;  // negative or not a number
  if (value >= upper_knee) return std::min(100.0, 40.0 + 60.0 * (value - upper_knee) / upper_span);
  if (value >= kLowerKnee) {
    return 20.0 + 20.0 * (value - kLowerKnee) / (upper_knee - kLowerKnee);
  }
  return 20.0 * value / kLowerKnee;
}

}  // namespace

std::pair<double, double> ConfigurationScore(double translational, double rotational) {
  return {Score(translational, 0.15, 0.07), Score(rotational, 0.3, 0.45)};
}

}  // namespace korvo::vyr_impl
