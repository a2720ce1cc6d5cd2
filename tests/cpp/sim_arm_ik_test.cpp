// Inverse kinematics of the simulated arms as pure logic: targets taken from the forward
// kinematics at one posture and solved from another, checked by the forward kinematics again;
// joint limits, the joints of other groups, free orientation and targets out of reach.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "korvo/vyr/name_tables.hpp"
#include "sim/arm_ik.hpp"
#include "sim/robot_model.hpp"
#include "sim/tools.hpp"

namespace korvo::sim {
namespace {

using vyr::JointGroup;
using vyr::ProductModel;
using Pose = std::array<double, 7>;

// A tool 0.15 m out along the flange's z axis and a little to the side, turned about its axis.
constexpr Pose kTool = {0.02, 0.0, 0.15, 0.92387953, 0.0, 0.0, 0.38268343};
constexpr Pose kFlange = {0, 0, 0, 1, 0, 0, 0};

std::vector<double> Lower(const RobotModel& model) {
  std::vector<double> q;
  for (const JointSpec& j : model.joints()) q.push_back(j.q_min);
  return q;
}

std::vector<double> Upper(const RobotModel& model) {
  std::vector<double> q;
  for (const JointSpec& j : model.joints()) q.push_back(j.q_max);
  return q;
}

std::vector<double> Home(const RobotModel& model) {
  std::vector<double> q;
  for (const JointSpec& j : model.joints()) q.push_back(j.home);
  return q;
}

Pose Tcp(const IkArm& arm, const std::vector<double>& q) {
  return ComposeTcp(arm.model.FlangePose(arm.arm, q), arm.tcp_location);
}

IkTarget TargetAt(const Pose& pose, bool free_orientation = false) {
  return {{pose[0], pose[1], pose[2]},
          Eigen::Quaterniond(pose[3], pose[4], pose[5], pose[6]).normalized(),
          free_orientation};
}

double PositionError(const Pose& pose, const IkTarget& target) {
  return (Eigen::Vector3d(pose[0], pose[1], pose[2]) - target.position).norm();
}

double OrientationError(const Pose& pose, const IkTarget& target) {
  return Eigen::Quaterniond(pose[3], pose[4], pose[5], pose[6]).angularDistance(target.orientation);
}

// Every joint of `q` within the limits of `arm`, and every joint outside the arm as in `seed`.
void ExpectOnlyTheArmMovedWithinLimits(const IkArm& arm, const std::vector<double>& q,
                                       const std::vector<double>& seed) {
  ASSERT_EQ(q.size(), seed.size());
  const auto [start, n] = arm.model.groups().at(arm.arm);
  for (std::size_t k = 0; k < q.size(); ++k) {
    if (k >= static_cast<std::size_t>(start) && k < start + n) {
      EXPECT_GE(q[k], arm.q_min[k]) << "joint " << k;
      EXPECT_LE(q[k], arm.q_max[k]) << "joint " << k;
    } else {
      EXPECT_EQ(q[k], seed[k]) << "joint " << k << " is not the arm's";
    }
  }
}

// ---- reachable targets on every kind of robot ------------------------------------------------

struct RobotCase {
  const char* name;
  ProductModel product;
  unsigned ext_axes;
};

class ArmIkOnEveryRobot : public ::testing::TestWithParam<RobotCase> {};

TEST_P(ArmIkOnEveryRobot, ReachesTheTcpPoseOfAnotherPostureFromANearbySeed) {
  const RobotModel model = MakeRobotModel(GetParam().product, GetParam().ext_axes);
  const auto lower = Lower(model), upper = Upper(model);
  std::mt19937 rng(2024);
  for (JointGroup group : model.arms()) {
    SCOPED_TRACE(vyr::kJointGroupNames.at(group));
    const IkArm arm{model, group, kTool, lower, upper};
    const auto [start, n] = model.groups().at(group);
    for (int trial = 0; trial < 8; ++trial) {
      // Both postures move every joint of the robot, so that torso, base and external axes
      // place the arm and must be left where the seed has them.
      std::vector<double> posture(model.full_dof()), seed(model.full_dof());
      for (std::size_t k = 0; k < posture.size(); ++k) {
        const double margin = 0.05 * (upper[k] - lower[k]);
        posture[k] =
            std::uniform_real_distribution<double>(lower[k] + margin, upper[k] - margin)(rng);
        seed[k] = posture[k];
      }
      for (unsigned j = 0; j < n; ++j) {
        const std::size_t k = start + j;
        seed[k] = std::clamp(posture[k] + std::uniform_real_distribution<double>(-0.4, 0.4)(rng),
                             lower[k], upper[k]);
      }
      const IkTarget target = TargetAt(Tcp(arm, posture));
      const std::vector<std::vector<double>> seeds = {seed};

      const IkSolution solution = SolveArmIk(arm, target, seeds);
      EXPECT_TRUE(solution.reached) << "trial " << trial;
      const Pose reached = Tcp(arm, solution.q);
      EXPECT_LE(PositionError(reached, target), kIkPositionTolerance) << "trial " << trial;
      EXPECT_LE(OrientationError(reached, target), kIkOrientationTolerance) << "trial " << trial;
      EXPECT_NEAR(solution.position_error, PositionError(reached, target), 1e-12);
      ExpectOnlyTheArmMovedWithinLimits(arm, solution.q, seed);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Robots, ArmIkOnEveryRobot,
                         ::testing::Values(RobotCase{"OlvarL", ProductModel::Olvar_L, 0},
                                           RobotCase{"OlvarLL", ProductModel::Olvar_LL, 0},
                                           RobotCase{"TavuPlus", ProductModel::TAVU_Plus, 2},
                                           RobotCase{"TavuUltra", ProductModel::TAVU_Ultra, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the Olvar-L arm: limits, free orientation, targets out of reach -------------------------

class OlvarLArmIk : public ::testing::Test {
 protected:
  const RobotModel model_ = MakeRobotModel(ProductModel::Olvar_L, 0);
  std::vector<double> lower_ = Lower(model_), upper_ = Upper(model_);
  const std::vector<double> home_ = Home(model_);
  IkArm Arm(const Pose& tool = kFlange) const {
    return {model_, JointGroup::ARM_1, tool, lower_, upper_};
  }
};

TEST_F(OlvarLArmIk, KeepsToTheLimitsItIsGiven) {
  // A posture with the elbow at its lower limit and a target at it, solved within limits
  // narrowed around that posture: reached, and no joint leaves them on the way.
  std::vector<double> posture = {0.3, 0.8, -0.4, lower_[3], 0.5, 1.0, -0.2};
  const IkTarget target = TargetAt(Tcp(Arm(), posture));
  for (std::size_t k = 0; k < posture.size(); ++k) {
    lower_[k] = std::max(lower_[k], posture[k] - 0.3);
    upper_[k] = std::min(upper_[k], posture[k] + 0.3);
  }
  std::vector<double> seed = upper_;  // every joint at its upper limit
  const std::vector<std::vector<double>> seeds = {seed};
  const IkSolution solution = SolveArmIk(Arm(), target, seeds);
  EXPECT_TRUE(solution.reached);
  ExpectOnlyTheArmMovedWithinLimits(Arm(), solution.q, seed);

  // Where only the elbow beyond its narrowed range reaches the target, there is no solution.
  std::vector<double> beyond = posture;
  beyond[3] += 0.5;
  const IkTarget out_of_range = TargetAt(Tcp(Arm(), beyond));
  lower_[3] = posture[3];
  upper_[3] = posture[3] + 0.2;
  const IkSolution none = SolveArmIk(Arm(), out_of_range, seeds);
  EXPECT_FALSE(none.reached);
  ExpectOnlyTheArmMovedWithinLimits(Arm(), none.q, seed);
}

TEST_F(OlvarLArmIk, SeedsOutsideTheLimitsStartInsideThem) {
  std::vector<double> posture = home_;
  posture[1] += 0.2;
  const IkTarget target = TargetAt(Tcp(Arm(), posture));
  std::vector<double> seed = home_;
  seed[0] = upper_[0] + 1.0;
  seed[3] = lower_[3] - 1.0;
  const std::vector<std::vector<double>> seeds = {seed};
  const IkSolution solution = SolveArmIk(Arm(), target, seeds);
  EXPECT_TRUE(solution.reached);
  for (std::size_t k = 0; k < solution.q.size(); ++k) {
    EXPECT_GE(solution.q[k], lower_[k]) << "joint " << k;
    EXPECT_LE(solution.q[k], upper_[k]) << "joint " << k;
  }
}

TEST_F(OlvarLArmIk, FreeOrientationSolvesThePositionAlone) {
  // 1.25 m above the base the flange can only be with the wrist stretched upwards: pointing down
  // (the upright arm's flange reaches 1.065 m that way) it is out of reach.
  const IkTarget down{{0.0, 0.0, 1.25}, Eigen::Quaterniond(0, 1, 0, 0), false};
  auto seeds = SpreadSeeds(Arm(), home_, 5);
  seeds.insert(seeds.begin(), home_);

  const IkSolution constrained = SolveArmIk(Arm(), down, seeds);
  EXPECT_FALSE(constrained.reached);

  IkTarget free = down;
  free.free_orientation = true;
  const IkSolution solution = SolveArmIk(Arm(), free, seeds);
  EXPECT_TRUE(solution.reached);
  EXPECT_LE(PositionError(Tcp(Arm(), solution.q), free), kIkPositionTolerance);
  EXPECT_EQ(solution.orientation_error, 0.0);
}

TEST_F(OlvarLArmIk, ATargetOutOfReachGivesTheClosestPostureFound) {
  const IkTarget far{{2.5, 1.0, 0.5}, Eigen::Quaterniond::Identity(), false};
  const std::vector<std::vector<double>> seeds = {home_, SpreadSeeds(Arm(kTool), home_, 1)[0]};
  const IkSolution solution = SolveArmIk(Arm(kTool), far, seeds);
  EXPECT_FALSE(solution.reached);
  ExpectOnlyTheArmMovedWithinLimits(Arm(kTool), solution.q, home_);
  // The errors are those of the posture returned, and it came closer than where it started.
  const Pose reached = Tcp(Arm(kTool), solution.q);
  EXPECT_NEAR(solution.position_error, PositionError(reached, far), 1e-12);
  EXPECT_NEAR(solution.orientation_error, OrientationError(reached, far), 1e-9);
  EXPECT_LT(solution.position_error, PositionError(Tcp(Arm(kTool), home_), far));
}

TEST_F(OlvarLArmIk, SpreadSeedsStayInsideTheRangesAndDifferFromEachOther) {
  const auto seeds = SpreadSeeds(Arm(), home_, 5);
  ASSERT_EQ(seeds.size(), 5u);
  EXPECT_EQ(SpreadSeeds(Arm(), home_, 5), seeds);  // the same on every call
  for (std::size_t s = 0; s < seeds.size(); ++s) {
    ASSERT_EQ(seeds[s].size(), home_.size());
    for (std::size_t k = 0; k < home_.size(); ++k) {
      const double margin = 0.1 * (upper_[k] - lower_[k]) - 1e-12;
      EXPECT_GE(seeds[s][k], lower_[k] + margin) << "seed " << s << " joint " << k;
      EXPECT_LE(seeds[s][k], upper_[k] - margin) << "seed " << s << " joint " << k;
    }
    for (std::size_t t = 0; t < s; ++t) EXPECT_NE(seeds[s], seeds[t]);
  }
}

}  // namespace
}  // namespace korvo::sim
