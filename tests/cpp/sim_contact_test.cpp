// Environment contacts: a plane and a box push a point that is inside them out along the nearest
// face's normal as a spring-damper that never pulls, and nothing outside.
#include "sim/contact.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace korvo::sim {
namespace {

struct BoxCase {
  std::string name;
  Eigen::Vector3d position, velocity;
  std::optional<Eigen::Vector3d> force;
};

TEST(ContactTest, ABoxPushesAPointOutThroughItsNearestFace) {
  ContactBox box;
  box.center = {1.0, 0.0, 0.0};
  box.half_extents = {0.2, 0.1, 0.05};
  box.stiffness = 1000.0;
  box.damping = 10.0;
  const BoxCase cases[] = {
      {"outside", {1.0, 0.0, 0.06}, {0.0, 0.0, 0.0}, std::nullopt},
      {"on a face", {1.0, 0.0, 0.05}, {0.0, 0.0, -1.0}, std::nullopt},
      {"below the top", {1.0, 0.0, 0.04}, {0.0, 0.0, 0.0}, Eigen::Vector3d(0.0, 0.0, 10.0)},
      {"above the bottom", {1.1, 0.05, -0.045}, {0.0, 0.0, 0.0}, Eigen::Vector3d(0.0, 0.0, -5.0)},
      {"behind the -x face", {0.81, 0.0, 0.0}, {0.0, 0.0, 0.0}, Eigen::Vector3d(-10.0, 0.0, 0.0)},
      {"beside the +y face", {1.0, 0.098, 0.0}, {0.0, 0.0, 0.0}, Eigen::Vector3d(0.0, 2.0, 0.0)},
      {"moving in", {1.0, 0.0, 0.04}, {0.0, 0.0, -0.5}, Eigen::Vector3d(0.0, 0.0, 15.0)},
      {"leaving fast", {1.0, 0.0, 0.04}, {0.0, 0.0, 5.0}, Eigen::Vector3d(0.0, 0.0, 0.0)},
  };
  for (const auto& c : cases) {
    const auto force = ContactForce(box, c.position, c.velocity);
    ASSERT_EQ(force.has_value(), c.force.has_value()) << c.name;
    if (force) {
      EXPECT_LT((*force - *c.force).norm(), 1e-9) << c.name << ": " << force->transpose();
    }
  }
}

TEST(ContactTest, APlanePushesAlongItsNormalOnlyFromBelow) {
  ContactPlane plane;
  plane.point = {0.0, 0.0, 0.5};
  plane.normal = Eigen::Vector3d(1.0, 0.0, 1.0).normalized();
  plane.stiffness = 2000.0;
  plane.damping = 0.0;
  EXPECT_FALSE(ContactForce(plane, {0.0, 0.0, 0.6}, Eigen::Vector3d::Zero()));
  const auto force = ContactForce(plane, {0.0, 0.0, 0.4}, Eigen::Vector3d::Zero());
  ASSERT_TRUE(force);
  const double depth = 0.1 / std::sqrt(2.0);
  EXPECT_LT((*force - 2000.0 * depth * plane.normal).norm(), 1e-9);
}

}  // namespace
}  // namespace korvo::sim
