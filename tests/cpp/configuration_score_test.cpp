// The configuration scores' bands: each includes its lower bound, the top is capped at 100, and a
// value that is negative or not a number scores 0.
#include "model/configuration_score.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvo::vyr_impl {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ConfigurationScoreTest, FollowsTheBandsOfEachAxis) {
  struct Case {
    double value, translation, orientation;
  };
  const Case cases[] = {
      {-0.01, 0.0, 0.0},
      {kNaN, 0.0, 0.0},
      {0.0, 0.0, 0.0},
      {0.04, 10.0, 10.0},
      {0.08, 20.0, 20.0},
      {0.115, 30.0, 20.0 + 20.0 * 0.035 / 0.22},
      {0.15, 40.0, 20.0 + 20.0 * 0.07 / 0.22},
      {0.22, 100.0, 20.0 + 20.0 * 0.14 / 0.22},
      {0.3, 100.0, 40.0},
      {0.525, 100.0, 70.0},
      {0.75, 100.0, 100.0},
      {1.0, 100.0, 100.0},
      {std::numeric_limits<double>::infinity(), 100.0, 100.0},
  };
  for (const auto& c : cases) {
    const auto [translation, orientation] = ConfigurationScore(c.value, c.value);
    EXPECT_NEAR(translation, c.translation, 1e-9) << c.value;
    EXPECT_NEAR(orientation, c.orientation, 1e-9) << c.value;
  }
  // Just below a knee is still the band beneath it.
  EXPECT_LT(ConfigurationScore(std::nextafter(0.15, 0.0), 0.0).first, 40.0);
  EXPECT_LT(ConfigurationScore(0.0, std::nextafter(0.08, 0.0)).second, 20.0);
}

}  // namespace
}  // namespace korvo::vyr_impl
