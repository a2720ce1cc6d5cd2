// The jerk-limited joint motion generator against what a joint within its limits can do: every
// step keeps the velocity, acceleration and jerk limits and is one continuous motion; a move
// lands exactly on its target within a step of the least time a double-S profile takes; new
// targets, lowered limits, stops and values that are not numbers arrive mid-motion.
#include "sim/motion_generator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "case_name.hpp"

// This program counts its allocations, to show that Step makes none.
namespace {
std::atomic<long> allocations{0};
}  // namespace

// Out of line, or the compiler pairs the inlined malloc with the library's delete and warns.
[[gnu::noinline]] void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace korvo::sim {
namespace {

using test::PrintTo;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDt = 1e-3;
const MotionLimits kArm{2.0, 10.0, 100.0};

// The least time of a move of `distance` from rest to rest within l: the double-S profile as
// Biagiotti and Melchiorri give it ("Trajectory Planning for Automatic Machines and Robots",
// 3.4), with tj the time of a jerk phase and ta that of the acceleration phase.
double DoubleSTime(double distance, const MotionLimits& l) {
  const double h = std::abs(distance), vmax = l.velocity, amax = l.acceleration, jmax = l.jerk;
  double tj = vmax * jmax >= amax * amax ? amax / jmax : std::sqrt(vmax / jmax);
  double ta = vmax * jmax >= amax * amax ? tj + vmax / amax : 2.0 * tj;
  const double tv = h / vmax - ta;
  if (tv >= 0.0) return 2.0 * ta + tv;
  // The velocity limit is not reached.
  tj = amax / jmax;
  ta = (amax * amax / jmax + std::sqrt(std::pow(amax, 4) / (jmax * jmax) + 4.0 * h * amax)) /
       (2.0 * amax);
  if (ta < 2.0 * tj) {
    // Nor is the acceleration limit.
    tj = std::cbrt(h / (2.0 * jmax));
    ta = 2.0 * tj;
  }
  return 2.0 * ta;
}

// The least time to change the velocity by dv, with no acceleration at either end.
double VelocityChangeTime(double dv, const MotionLimits& l) {
  const double u = std::abs(dv);
  return u * l.jerk <= l.acceleration * l.acceleration
             ? 2.0 * std::sqrt(u / l.jerk)
             : u / l.acceleration + l.acceleration / l.jerk;
}

bool ExactlyAt(const MotionGenerator& g, const std::vector<double>& target) {
  for (std::size_t j = 0; j < target.size(); ++j) {
    if (g.q()[j] != target[j] || g.dq()[j] != 0.0 || g.ddq()[j] != 0.0) return false;
  }
  return true;
}

bool Finite(const MotionGenerator& g) {
  for (std::size_t j = 0; j < g.q().size(); ++j) {
    if (!std::isfinite(g.q()[j]) || !std::isfinite(g.dq()[j]) || !std::isfinite(g.ddq()[j])) {
      return false;
    }
  }
  return true;
}

// Steps a generator and checks every step against what a joint can do within its limits: the
// acceleration changes by at most jerk·dt; it stays within its limit, or comes back to it at the
// full jerk if it was beyond (the limit was lowered); the velocity stays within its limit, or
// grows no further than the motion under way makes unavoidable; and position and velocity change
// as the integrals of one motion of bounded jerk between the two samples. Reports the first
// violation only.
class CheckedMotion {
 public:
  explicit CheckedMotion(MotionGenerator& g) : g_(g) {}

  // `check_against` are the limits to hold the joints to, when not those given to the generator.
  void Step(const std::vector<double>* target, const std::vector<MotionLimits>& limits, double dt,
            const std::vector<MotionLimits>* check_against = nullptr) {
    const std::vector<double> q0 = g_.q(), v0 = g_.dq(), a0 = g_.ddq();
    g_.Step(target, limits, dt);
    ++steps_;
    if (failed_) return;
    const auto& bound = check_against != nullptr ? *check_against : limits;
    for (std::size_t j = 0; j < q0.size() && !failed_; ++j) {
      const auto& l = bound[j];
      const double q1 = g_.q()[j], v1 = g_.dq()[j], a1 = g_.ddq()[j];
      const double r = 1.0 + 1e-9;
      const double unavoidable = std::abs(v0[j] + a0[j] * std::abs(a0[j]) / (2.0 * l.jerk));
      const auto fail = [&](const char* what) {
        ADD_FAILURE() << what << " at step " << steps_ << ", joint " << j << ": q " << q0[j]
                      << " -> " << q1 << ", dq " << v0[j] << " -> " << v1 << ", ddq " << a0[j]
                      << " -> " << a1;
        failed_ = true;
      };
      if (!std::isfinite(q1) || !std::isfinite(v1) || !std::isfinite(a1)) fail("not finite");
      // Plus the rounding of a large acceleration (beyond a limit lowered far below it).
      if (std::abs(a1 - a0[j]) > l.jerk * dt * r + 1e-15 * std::abs(a0[j])) {
        fail("jerk beyond its limit");
      }
      if (std::abs(a1) > std::max(l.acceleration, std::abs(a0[j]) - l.jerk * dt) * r) {
        fail("acceleration beyond its limit");
      }
      if (std::abs(v1) > std::max({l.velocity, std::abs(v0[j]), unavoidable}) * r) {
        fail("velocity beyond its limit");
      }
      // Trapezoid rule errors for a jerk bounded by l.jerk, and room for the final snap.
      if (std::abs(q1 - q0[j] - dt * (v0[j] + v1) / 2.0) >
          l.jerk * dt * dt * dt / 12.0 * r + 1e-10 * (1.0 + std::abs(q1))) {
        fail("position not the integral of the velocity");
      }
      if (std::abs(v1 - v0[j] - dt * (a0[j] + a1) / 2.0) > l.jerk * dt * dt / 4.0 * r + 1e-9) {
        fail("velocity not the integral of the acceleration");
      }
    }
  }

  // Steps towards target until every joint is exactly on it and at rest; the number of steps,
  // or -1 if that takes more than max_steps.
  int RunTo(const std::vector<double>& target, const std::vector<MotionLimits>& limits, double dt,
            int max_steps = 100000) {
    for (int i = 1; i <= max_steps; ++i) {
      Step(&target, limits, dt);
      if (ExactlyAt(g_, target)) return i;
    }
    return -1;
  }

  // Keeps stepping towards target and expects nothing to move.
  void ExpectStaysAt(const std::vector<double>& target, const std::vector<MotionLimits>& limits,
                     double dt) {
    for (int i = 0; i < 200; ++i) {
      Step(&target, limits, dt);
      if (!ExactlyAt(g_, target)) {
        ADD_FAILURE() << "moved off the target " << i + 1 << " steps after arriving";
        return;
      }
    }
  }

 private:
  MotionGenerator& g_;
  int steps_ = 0;
  bool failed_ = false;
};

// Counts how often a joint passes its target (by more than 1e-6) as it moves, having come from
// the side `from` (-1 below, +1 above).
class Passes {
 public:
  Passes(double target, double from) : target_(target), side_(from > 0.0 ? 1 : -1) {}
  void See(double q) {
    const int side = q > target_ + 1e-6 ? 1 : q < target_ - 1e-6 ? -1 : 0;
    if (side != 0 && side != side_) {
      ++count_;
      side_ = side;
    }
  }
  int count() const { return count_; }

 private:
  double target_;
  int side_, count_ = 0;
};

struct RestToRestCase {
  const char* name;
  double start, distance;
  MotionLimits limits;
  double dt;
};

class RestToRestTest : public ::testing::TestWithParam<RestToRestCase> {};

TEST_P(RestToRestTest, LandsExactlyWithinAStepOfTheLeastTimeWithoutOvershoot) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({c.start}, {0.0});
  CheckedMotion motion(g);
  const std::vector<double> target{c.start + c.distance};
  const std::vector<MotionLimits> limits{c.limits};
  const double sign = c.distance > 0.0 ? 1.0 : -1.0;
  int steps = 0;
  double previous = c.start;
  while (!ExactlyAt(g, target) && steps < 100000) {
    motion.Step(&target, limits, c.dt);
    ++steps;
    // From rest to rest the joint only ever moves towards the target.
    ASSERT_GE(sign * (g.q()[0] - previous), -1e-12) << "moved back at step " << steps;
    ASSERT_LE(sign * (g.q()[0] - target[0]), 1e-6) << "overshot at step " << steps;
    previous = g.q()[0];
  }
  ASSERT_TRUE(ExactlyAt(g, target));
  const double least = DoubleSTime(c.distance, c.limits);
  EXPECT_GE(steps * c.dt, least - 1e-9);
  EXPECT_LE(steps * c.dt, least + c.dt + 1e-9);
  motion.ExpectStaysAt(target, limits, c.dt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestToRestTest,
    ::testing::Values(
        RestToRestCase{"ShortNeverReachesAccelerationOrVelocityLimit", 0.0, 0.01, kArm, kDt},
        RestToRestCase{"ReachesTheAccelerationLimitOnly", 0.0, 0.5, kArm, kDt},
        RestToRestCase{"LongCruisesAtTheVelocityLimit", 0.0, 5.0, kArm, kDt},
        RestToRestCase{"NegativeLong", 1.0, -3.0, kArm, kDt},
        RestToRestCase{"NegativeShort", 0.0, -0.02, kArm, kDt},
        RestToRestCase{
            "VelocityLimitBeforeTheAccelerationLimit", 0.0, 2.0, {0.5, 10.0, 100.0}, kDt},
        RestToRestCase{"StiffJerkAsOnAnArm", 0.3, 1.2, {2.6, 15.0, 5000.0}, kDt},
        RestToRestCase{"FarFromZero", 100.0, 0.7, kArm, kDt},
        RestToRestCase{"Tiny", 0.0, 1e-7, kArm, kDt},
        // Long enough for rounding to build up where braking or cruising runs for many steps.
        RestToRestCase{"LongAtALowAcceleration", 0.0, 3.3, {0.85, 0.017, 22.0}, kDt},
        RestToRestCase{
            "LongAtALowAccelerationAndAStiffJerk", 0.0, 0.88, {0.073, 0.0035, 4600.0}, kDt},
        RestToRestCase{"LongAtALowAccelerationAndASoftJerk", 0.0, 3.6, {0.13, 0.0056, 0.25}, kDt},
        RestToRestCase{"LongCoarseStep", 0.0, 5.0, kArm, 0.01},
        RestToRestCase{"ShortCoarseStep", 0.0, -0.01, kArm, 0.01},
        RestToRestCase{"TenthOfASecondStep", 0.0, 3.0, kArm, 0.1},
        RestToRestCase{"WholeMoveWithinOneStep", 0.0, 1e-4, kArm, 0.1}),
    [](const auto& info) { return std::string(info.param.name); });

struct MovingStartCase {
  const char* name;
  double dq, distance;
  MotionLimits limits;
  double dt;
};

class MovingStartTest : public ::testing::TestWithParam<MovingStartCase> {};

TEST_P(MovingStartTest, ArrivesNoLaterThanStoppingFirstAndPassesTheTargetOnlyIfItMust) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({0.0}, {c.dq});
  CheckedMotion motion(g);
  const std::vector<double> target{c.distance};
  const std::vector<MotionLimits> limits{c.limits};
  // Stopping first takes the velocity change's time, at half the speed on average.
  const double stop_time = VelocityChangeTime(c.dq, c.limits);
  const double stop_at = c.dq * stop_time / 2.0;
  const bool must_pass = c.dq * c.distance > 0.0 && std::abs(stop_at) > std::abs(c.distance);
  const double slow_enough_by =
      VelocityChangeTime(std::max(0.0, std::abs(c.dq) - c.limits.velocity), c.limits);
  Passes passes(target[0], -c.distance);
  int steps = 0;
  while (!ExactlyAt(g, target) && steps < 100000) {
    motion.Step(&target, limits, c.dt);
    ++steps;
    passes.See(g.q()[0]);
    if (steps * c.dt > slow_enough_by + c.dt) {
      ASSERT_LE(std::abs(g.dq()[0]), c.limits.velocity * (1.0 + 1e-9)) << "at step " << steps;
    }
  }
  ASSERT_TRUE(ExactlyAt(g, target));
  EXPECT_LE(steps * c.dt, stop_time + DoubleSTime(c.distance - stop_at, c.limits) + c.dt);
  EXPECT_EQ(passes.count(), must_pass ? 1 : 0);
  motion.ExpectStaysAt(target, limits, c.dt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MovingStartTest,
    ::testing::Values(MovingStartCase{"TowardsWithRoomToBrake", 1.0, 2.0, kArm, kDt},
                      MovingStartCase{"TowardsTooFastToStopInTime", 2.0, 0.05, kArm, kDt},
                      MovingStartCase{"AwayFromIt", -2.0, 1.0, kArm, kDt},
                      MovingStartCase{"AwayFromItNegative", 1.5, -0.5, kArm, kDt},
                      MovingStartCase{"AboveTheVelocityLimitTowards", 4.0, 10.0, kArm, kDt},
                      MovingStartCase{"AboveTheVelocityLimitAway", -4.0, 3.0, kArm, kDt},
                      MovingStartCase{"AboveTheVelocityLimitCoarseStep", 5.0, 20.0, kArm, 0.01},
                      MovingStartCase{"TowardsCoarseStep", -1.0, -0.3, kArm, 0.01}),
    [](const auto& info) { return std::string(info.param.name); });

struct TargetChangeCase {
  const char* name;
  double first;   // the first target, from rest at 0
  int change_at;  // step at which the target changes
  double offset;  // the new target, from where the joint is then
};

class TargetChangeTest : public ::testing::TestWithParam<TargetChangeCase> {};

TEST_P(TargetChangeTest, TheNewTargetIsReachedWithinTheLimitsPassingItOnlyIfItMust) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({0.0}, {0.0});
  CheckedMotion motion(g);
  const std::vector<MotionLimits> limits{kArm};
  const std::vector<double> first{c.first};
  for (int i = 0; i < c.change_at; ++i) motion.Step(&first, limits, kDt);
  const double v = g.dq()[0], a = g.ddq()[0];
  ASSERT_NE(v, 0.0) << "the case should change the target mid-motion";
  const std::vector<double> second{g.q()[0] + c.offset};
  // Whether braking now, as hard as allowed, still ends beyond the new target. With the
  // acceleration not opposing the velocity, braking passes through the settled velocity with no
  // acceleration, and stopping from there alone takes its time at half that speed.
  const double settled = v + a * std::abs(a) / (2.0 * kArm.jerk);
  const double least_braking = settled * VelocityChangeTime(settled, kArm) / 2.0;
  const bool must_pass =
      v * c.offset >= 0.0 && a * v >= 0.0 && std::abs(least_braking) > std::abs(c.offset);
  Passes passes(second[0], c.offset != 0.0 ? -c.offset : -v);
  int steps = 0;
  while (!ExactlyAt(g, second) && steps < 100000) {
    motion.Step(&second, limits, kDt);
    ++steps;
    passes.See(g.q()[0]);
  }
  ASSERT_TRUE(ExactlyAt(g, second));
  EXPECT_LE(passes.count(), 1);
  if (must_pass) {
    EXPECT_EQ(passes.count(), 1);
  }
  motion.ExpectStaysAt(second, limits, kDt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetChangeTest,
    ::testing::Values(TargetChangeCase{"ReversesAtFullSpeed", 5.0, 1500, -4.0},
                      TargetChangeCase{"InsideTheBrakingDistanceAtFullSpeed", 5.0, 1500, 0.05},
                      TargetChangeCase{"WhereItIsAtFullSpeed", 5.0, 1500, 0.0},
                      TargetChangeCase{"BehindWhileAcceleratingHard", 5.0, 150, -0.5},
                      TargetChangeCase{"AheadWhileStillJerkingUp", 5.0, 40, 0.001},
                      TargetChangeCase{"FurtherWhileBraking", 1.0, 700, 2.0},
                      TargetChangeCase{"BackWhileBraking", 1.0, 700, -0.3},
                      TargetChangeCase{"JustAheadAsItLands", 1.0, 795, 1e-6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MotionGeneratorTest, FollowsATargetThatJumpsEveryFewStepsThenLands) {
  MotionGenerator g;
  g.Reset({0.0, 0.0}, {0.0, 0.0});
  CheckedMotion motion(g);
  const std::vector<MotionLimits> limits{kArm, {1.0, 30.0, 3000.0}};
  std::mt19937 random(7);
  std::uniform_real_distribution<double> position(-2.0, 2.0);
  std::uniform_int_distribution<int> hold(1, 80);
  std::vector<double> target{0.0, 0.0};
  for (int i = 0; i < 5000;) {
    target = {position(random), position(random)};
    for (int k = hold(random); k > 0; --k, ++i) motion.Step(&target, limits, kDt);
  }
  ASSERT_GT(motion.RunTo(target, limits, kDt), 0);
  motion.ExpectStaysAt(target, limits, kDt);
}

struct LoweredLimitsCase {
  const char* name;
  int lower_at;  // step of the move from 0 to 5 at which the limits drop
  MotionLimits lowered;
};

class LoweredLimitsTest : public ::testing::TestWithParam<LoweredLimitsCase> {};

TEST_P(LoweredLimitsTest, TheJointComesBackWithinThemAsFastAsTheJerkAllowsAndLands) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({0.0}, {0.0});
  CheckedMotion motion(g);
  const std::vector<double> target{5.0};
  for (int i = 0; i < c.lower_at; ++i) motion.Step(&target, {kArm}, kDt);
  const double v = g.dq()[0], a = g.ddq()[0];
  ASSERT_NE(v, 0.0);
  const std::vector<MotionLimits> lowered{c.lowered};
  // Where the velocity would settle if the acceleration were eased off at once, then the time
  // to come down from there to the new limit.
  const double settled = std::abs(v + a * std::abs(a) / (2.0 * c.lowered.jerk));
  const double within_by =
      std::abs(a) / c.lowered.jerk +
      VelocityChangeTime(std::max(0.0, settled - c.lowered.velocity), c.lowered);
  Passes passes(target[0], -1.0);
  int steps = 0;
  while (!ExactlyAt(g, target) && steps < 100000) {
    motion.Step(&target, lowered, kDt);
    ++steps;
    passes.See(g.q()[0]);
    if (steps * kDt > within_by + kDt) {
      ASSERT_LE(std::abs(g.dq()[0]), c.lowered.velocity * (1.0 + 1e-9)) << "at step " << steps;
    }
  }
  ASSERT_TRUE(ExactlyAt(g, target));
  EXPECT_LE(passes.count(), 1);
  motion.ExpectStaysAt(target, lowered, kDt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoweredLimitsTest,
    ::testing::Values(
        LoweredLimitsCase{"VelocityHalvedAtCruise", 1000, {1.0, 10.0, 100.0}},
        LoweredLimitsCase{"VelocityBelowTheSpeedWhileAccelerating", 150, {0.5, 10.0, 100.0}},
        LoweredLimitsCase{"AccelerationHalvedAtItsPeak", 150, {2.0, 5.0, 100.0}},
        LoweredLimitsCase{"JerkFifthWhileJerkingUp", 50, {2.0, 10.0, 20.0}},
        LoweredLimitsCase{"TimeScaledToAThirdAtCruise", 1000, {2.0 / 3, 10.0 / 9, 100.0 / 27}},
        LoweredLimitsCase{"VelocityToAThirdWhileBraking", 2600, {2.0 / 3, 10.0, 100.0}},
        LoweredLimitsCase{"AccelerationHalvedWhileBrakingHard", 2600, {2.0, 5.0, 100.0}},
        LoweredLimitsCase{"AllTenfoldLowerAtCruise", 1000, {0.2, 1.0, 10.0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StopCase {
  const char* name;
  double dq;
  MotionLimits limits;
  double dt;
};

class StopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopTest, WithoutATargetTheJointStopsAsFastAsAllowedWithoutTurningBack) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({0.3}, {c.dq});
  CheckedMotion motion(g);
  const std::vector<MotionLimits> limits{c.limits};
  const double sign = c.dq > 0.0 ? 1.0 : -1.0;
  int steps = 0;
  double previous = g.q()[0];
  while ((g.dq()[0] != 0.0 || g.ddq()[0] != 0.0) && steps < 100000) {
    motion.Step(nullptr, limits, c.dt);
    ++steps;
    ASSERT_GE(sign * (g.q()[0] - previous), 0.0) << "turned back at step " << steps;
    previous = g.q()[0];
  }
  EXPECT_LE(steps * c.dt, VelocityChangeTime(c.dq, c.limits) + c.dt + 1e-9);
  const double stopped_at = g.q()[0];
  for (int i = 0; i < 200; ++i) motion.Step(nullptr, limits, c.dt);
  EXPECT_EQ(g.q()[0], stopped_at);
  EXPECT_EQ(g.dq()[0], 0.0);
  EXPECT_EQ(g.ddq()[0], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, StopTest,
                         ::testing::Values(StopCase{"AtTheVelocityLimit", 2.0, kArm, kDt},
                                           StopCase{"Slow", -0.05, kArm, kDt},
                                           StopCase{"ThriceTheVelocityLimit", -6.0, kArm, kDt},
                                           StopCase{"StiffJerk", 2.5, {2.6, 15.0, 5000.0}, kDt},
                                           StopCase{"CoarseStep", 1.7, kArm, 0.01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MotionGeneratorTest, WithdrawingTheTargetMidMoveStopsWithinTheLimits) {
  for (const int withdraw_at : {30, 150, 250, 700, 780}) {
    SCOPED_TRACE(::testing::Message() << "withdrawn at step " << withdraw_at);
    MotionGenerator g;
    g.Reset({0.0}, {0.0});
    CheckedMotion motion(g);
    const std::vector<double> target{1.0};
    for (int i = 0; i < withdraw_at; ++i) motion.Step(&target, {kArm}, kDt);
    double previous = g.q()[0];
    for (int i = 0; i < 2000; ++i) {
      motion.Step(nullptr, {kArm}, kDt);
      ASSERT_GE(g.q()[0], previous);
      previous = g.q()[0];
    }
    EXPECT_EQ(g.dq()[0], 0.0);
    EXPECT_EQ(g.ddq()[0], 0.0);
  }
}

// Three joints on their way to their targets; the middle one is then given a bad value.
struct BadInputCase {
  const char* name;
  double target;
  MotionLimits limits;
};

class BadInputTest : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInputTest, TheJointStopsWithinItsLastLimitsAndTheOthersGoOn) {
  const auto& c = GetParam();
  MotionGenerator g;
  g.Reset({0.0, 0.0, 0.0}, {0.0, 0.0, 0.0});
  CheckedMotion motion(g);
  const std::vector<MotionLimits> good{kArm, kArm, kArm};
  // Different moves, so that the middle joint is still moving fast when its input goes bad.
  const std::vector<double> target{1.0, 4.0, -0.5};
  for (int i = 0; i < 600; ++i) motion.Step(&target, good, kDt);
  ASSERT_GT(g.dq()[1], 1.0);
  std::vector<double> bad_target = target;
  bad_target[1] = c.target;
  std::vector<MotionLimits> bad_limits = good;
  bad_limits[1] = c.limits;
  for (int i = 0; i < 3000; ++i) {
    motion.Step(&bad_target, bad_limits, kDt, &good);
    ASSERT_TRUE(Finite(g));
  }
  EXPECT_EQ(g.dq()[1], 0.0);
  EXPECT_EQ(g.ddq()[1], 0.0);
  EXPECT_LT(g.q()[1], target[1]);
  EXPECT_EQ(g.q()[0], target[0]);
  EXPECT_EQ(g.q()[2], target[2]);
  const double stopped_at = g.q()[1];
  for (int i = 0; i < 100; ++i) motion.Step(&bad_target, bad_limits, kDt, &good);
  EXPECT_EQ(g.q()[1], stopped_at);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    ::testing::Values(BadInputCase{"TargetNotANumber", kNaN, kArm},
                      BadInputCase{"TargetInfinite", kInf, kArm},
                      BadInputCase{"TargetMinusInfinite", -kInf, kArm},
                      BadInputCase{"VelocityLimitNotANumber", 4.0, {kNaN, 10.0, 100.0}},
                      BadInputCase{"AccelerationLimitZero", 4.0, {2.0, 0.0, 100.0}},
                      BadInputCase{"JerkLimitInfinite", 4.0, {2.0, 10.0, kInf}},
                      BadInputCase{"VelocityLimitNegative", 4.0, {-2.0, 10.0, 100.0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MotionGeneratorTest, AJointNeverGivenValidLimitsStopsAtOnce) {
  MotionGenerator g;
  g.Reset({0.2, 0.0}, {1.0, 1.0});
  const std::vector<double> target{1.0, 1.0};
  g.Step(&target, {{kNaN, 10.0, 100.0}, kArm}, kDt);
  EXPECT_EQ(g.q()[0], 0.2);
  EXPECT_EQ(g.dq()[0], 0.0);
  EXPECT_EQ(g.ddq()[0], 0.0);
  EXPECT_GT(g.q()[1], 0.0);
}

TEST(MotionGeneratorTest, LimitsAtTheEndsOfTheFloatingPointRangeKeepTheStateFinite) {
  const double big = std::numeric_limits<double>::max(), tiny = 1e-300;
  const std::vector<MotionLimits> limits{
      {big, big, big}, {tiny, tiny, tiny}, {big, tiny, big}, {tiny, big, tiny}, {1.0, big, 1.0}};
  MotionGenerator g;
  g.Reset(std::vector<double>(5, 0.0), std::vector<double>(5, 1.0));
  for (const std::vector<double>& target :
       {std::vector<double>(5, 1e300), std::vector<double>(5, -1.0)}) {
    for (int i = 0; i < 100; ++i) {
      g.Step(&target, limits, kDt);
      ASSERT_TRUE(Finite(g)) << "at step " << i;
    }
  }
}

TEST(MotionGeneratorTest, AStepThatIsNotPositiveAndFiniteChangesNothing) {
  MotionGenerator g;
  g.Reset({0.0}, {0.0});
  const std::vector<double> target{1.0};
  for (int i = 0; i < 100; ++i) g.Step(&target, {kArm}, kDt);
  const std::vector<double> q = g.q(), dq = g.dq(), ddq = g.ddq();
  for (const double dt : {0.0, -kDt, kNaN, kInf}) {
    g.Step(&target, {kArm}, dt);
    EXPECT_EQ(g.q(), q) << dt;
    EXPECT_EQ(g.dq(), dq) << dt;
    EXPECT_EQ(g.ddq(), ddq) << dt;
  }
}

TEST(MotionGeneratorTest, RefusesStatesThatAreNotFiniteAndSizesThatDoNotMatch) {
  MotionGenerator g;
  EXPECT_THROW(g.Reset({0.0, 1.0}, {0.0}), std::invalid_argument);
  EXPECT_THROW(g.Reset({kNaN}, {0.0}), std::invalid_argument);
  EXPECT_THROW(g.Reset({0.0}, {kInf}), std::invalid_argument);
  g.Reset({0.0, 0.0}, {0.0, 0.0});
  const std::vector<double> short_target{1.0};
  EXPECT_THROW(g.Step(&short_target, {kArm, kArm}, kDt), std::invalid_argument);
  EXPECT_THROW(g.Step(nullptr, {kArm}, kDt), std::invalid_argument);
}

// 25 joints with their own limits and moves, one of them already where it should be.
struct ManyJoints {
  std::vector<double> start, target;
  std::vector<MotionLimits> limits;
};

ManyJoints MakeManyJoints(unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> position(-3.0, 3.0), velocity(0.5, 3.0),
      acceleration(2.0, 20.0), jerk(20.0, 5000.0);
  ManyJoints m;
  for (int j = 0; j < 25; ++j) {
    m.start.push_back(position(random));
    m.target.push_back(j == 7 ? m.start.back() : position(random));
    m.limits.push_back({velocity(random), acceleration(random), jerk(random)});
  }
  return m;
}

TEST(MotionGeneratorTest, AMoveFromRestBringsEveryJointInTogetherWithTheSlowest) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    const ManyJoints m = MakeManyJoints(seed);
    const std::size_t n = m.start.size();
    MotionGenerator g;
    g.Reset(m.start, std::vector<double>(n, 0.0));
    CheckedMotion motion(g);
    EXPECT_FALSE(g.AtTarget(m.target));
    double slowest = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
      slowest = std::max(slowest, DoubleSTime(m.target[j] - m.start[j], m.limits[j]));
    }
    std::vector<int> arrival(n, 0);
    for (int step = 1; step < 100000 && !ExactlyAt(g, m.target); ++step) {
      motion.Step(&m.target, m.limits, kDt);
      for (std::size_t j = 0; j < n; ++j) {
        if (arrival[j] == 0 && g.q()[j] == m.target[j] && g.dq()[j] == 0.0) arrival[j] = step;
        // Slowed down in time, a move from rest still only goes towards its target.
        const double sign = m.target[j] > m.start[j] ? 1.0 : -1.0;
        ASSERT_LE(sign * (g.q()[j] - m.target[j]), 1e-6) << "joint " << j << " overshot";
      }
    }
    ASSERT_TRUE(ExactlyAt(g, m.target));
    EXPECT_TRUE(g.AtTarget(m.target));
    EXPECT_EQ(arrival[7], 1);
    arrival.erase(arrival.begin() + 7);
    const auto [first, last] = std::minmax_element(arrival.begin(), arrival.end());
    EXPECT_LE(*last - *first, 1);
    EXPECT_GE(*last * kDt, slowest - 1e-9);
    EXPECT_LE(*last * kDt, slowest + kDt + 1e-9);
  }
}

TEST(MotionGeneratorTest, ManyJointsTakeANewTargetMidMotionEachAsFastAsItCan) {
  const ManyJoints m = MakeManyJoints(4);
  const ManyJoints next = MakeManyJoints(5);
  const std::size_t n = m.start.size();
  MotionGenerator g;
  g.Reset(m.start, std::vector<double>(n, 0.0));
  CheckedMotion motion(g);
  for (int i = 0; i < 400; ++i) motion.Step(&m.target, m.limits, kDt);
  // No joint is slower than stopping first, then moving. Stopping eases the acceleration off and
  // changes the velocity to 0, at no more than the velocity limit all along.
  std::vector<double> bound(n);
  for (std::size_t j = 0; j < n; ++j) {
    const auto& l = m.limits[j];
    const double v = g.dq()[j], a = g.ddq()[j];
    const double stop =
        std::abs(a) / l.jerk + VelocityChangeTime(v + a * std::abs(a) / (2.0 * l.jerk), l);
    bound[j] = stop + DoubleSTime(std::abs(next.target[j] - g.q()[j]) + l.velocity * stop, l);
  }
  std::vector<int> arrival(n, 0);
  for (int step = 1; step < 100000 && !ExactlyAt(g, next.target); ++step) {
    motion.Step(&next.target, m.limits, kDt);
    for (std::size_t j = 0; j < n; ++j) {
      if (arrival[j] == 0 && g.q()[j] == next.target[j] && g.dq()[j] == 0.0) arrival[j] = step;
    }
  }
  ASSERT_TRUE(ExactlyAt(g, next.target));
  for (std::size_t j = 0; j < n; ++j) {
    EXPECT_LE(arrival[j] * kDt, bound[j] + kDt) << "joint " << j;
  }
  motion.ExpectStaysAt(next.target, m.limits, kDt);
}

TEST(MotionGeneratorTest, StepAllocatesNothing) {
  const ManyJoints m = MakeManyJoints(6);
  const ManyJoints next = MakeManyJoints(7);
  std::vector<double> bad = next.target;
  bad[3] = kNaN;
  std::vector<MotionLimits> bad_limits = m.limits;
  bad_limits[4].jerk = kInf;
  MotionGenerator g;
  g.Reset(m.start, std::vector<double>(m.start.size(), 0.0));
  const long before = allocations;
  for (int i = 0; i < 3000; ++i) {
    const std::vector<double>* target = i < 500 ? &m.target : i < 900 ? nullptr : &next.target;
    g.Step(i % 7 == 0 ? &bad : target, i % 5 == 0 ? bad_limits : m.limits, kDt);
  }
  EXPECT_EQ(allocations - before, 0);
}

}  // namespace
}  // namespace korvo::sim
