// Each step runs one joint's time-optimal policy in continuous time over the step, piece by piece
// of constant jerk: accelerate towards the target as hard as the limits allow (jerk up to the
// acceleration limit, held there, eased off to land on the velocity limit, cruise) until braking
// as hard as allowed would stop exactly on the target, then brake. Since the step follows the
// continuous motion exactly and the next step starts from where it ended, the policy never
// chatters, and the samples keep every limit the continuous motion keeps.
#include "sim/motion_generator.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace korvo::sim {
namespace {

// Position tolerances per unit of target magnitude. The drive switches to braking once braking
// would stop within kLanding of the target; braking carries on while it would stop within
// kOnCourse, wider, as the stop point drifts by rounding over a long braking (a step at a time).
// Both far below anything measurable: the final snap onto the target is no larger.
constexpr double kLanding = 1e-13;
constexpr double kOnCourse = 1e-11;
// Relative tolerance on the acceleration and velocity limits, to classify a state as on them.
constexpr double kOnLimit = 1e-10;
// Velocity tolerance, per unit of the velocity limit, under which a velocity counts as reached
// once the acceleration is eased off.
constexpr double kSettled = 1e-10;
// More pieces than any step needs; the policy stops early (losing a little time) if reached.
constexpr int kMaxPieces = 16;
// How much slower a synchronised joint may be made; beyond it, a tiny move just arrives early.
constexpr double kMaxTimeScale = 1e3;

struct Kinematics {
  double p, v, a;
};

void Advance(Kinematics& s, double jerk, double t) {
  s.p += t * (s.v + t * (s.a / 2.0 + t * jerk / 6.0));
  s.v += t * (s.a + t * jerk / 2.0);
  s.a += t * jerk;
}

// The fastest way to bring the acceleration to 0 with the velocity at a goal: jerk towards a
// peak acceleration, hold it at the limit if it gets there, jerk back to 0.
struct VelocityChange {
  double jerk[3], duration[3];
};

VelocityChange ReachVelocity(double v, double a, double goal, const MotionLimits& l) {
  const double amax = l.acceleration, jmax = l.jerk;
  // The velocity once the acceleration is brought to 0 as fast as possible.
  const double settled = v + a * std::abs(a) / (2.0 * jmax);
  if (std::abs(settled - goal) <= kSettled * std::max(l.velocity, std::abs(v))) {
    // Easing the acceleration off is all it takes, up to the rounding the motion so far has left
    // in v and a: the peak acceleration below would be the square root of that rounding.
    return {{a > 0.0 ? -jmax : jmax, 0.0, 0.0}, {std::abs(a) / jmax, 0.0, 0.0}};
  }
  const double s = settled < goal ? 1.0 : -1.0;  // the sign of the velocity change
  const double a_s = s * a;
  const double gap = s * (goal - v);
  const double peak = std::sqrt(std::max(0.0, a_s * a_s / 2.0 + jmax * gap));
  if (peak <= amax) {
    return {{s * jmax, -s * jmax, 0.0}, {std::max(0.0, (peak - a_s) / jmax), peak / jmax, 0.0}};
  }
  // From above the limit (it was lowered) the first piece comes down to it.
  const double j1 = a_s <= amax ? jmax : -jmax;
  const double hold = (gap - (amax * amax - a_s * a_s) / (2.0 * j1) - amax * amax / (2.0 * jmax));
  return {{s * j1, 0.0, -s * jmax},
          {std::abs(amax - a_s) / jmax, std::max(0.0, hold / amax), amax / jmax}};
}

double Travel(const VelocityChange& c, double v, double a) {
  Kinematics s{0.0, v, a};
  for (int i = 0; i < 3; ++i) Advance(s, c.jerk[i], c.duration[i]);
  return s.p;
}

// Where the joint comes to rest if it brakes as hard as allowed from now on.
double StopPoint(const Kinematics& s, const MotionLimits& l) {
  return s.p + Travel(ReachVelocity(s.v, s.a, 0.0, l), s.v, s.a);
}

// Follows c for at most `time` and takes that time off; true when c is done (v = goal, a = 0).
bool Follow(Kinematics& s, const VelocityChange& c, double goal, double& time) {
  for (int i = 0; i < 3; ++i) {
    if (c.duration[i] > time) {
      Advance(s, c.jerk[i], time);
      time = 0.0;
      return false;
    }
    Advance(s, c.jerk[i], c.duration[i]);
    time -= c.duration[i];
  }
  s.v = goal;
  s.a = 0.0;
  return true;
}

// A piece of constant jerk, and the limit it ends on if it runs its full duration, so that the
// state can be set exactly there.
enum class Landing { kNone, kAcceleration, kVelocity };
struct Piece {
  double jerk, duration;
  Landing landing;
};

// The next piece of the drive towards a target ahead (positive direction) that is still out of
// braking reach. Brings an acceleration or velocity beyond its limit back to it first.
Piece DriveAhead(Kinematics& s, const MotionLimits& l, double time) {
  const double vmax = l.velocity, amax = l.acceleration, jmax = l.jerk;
  const double settled = s.v + s.a * std::abs(s.a) / (2.0 * jmax);
  if (settled > vmax * (1.0 + kOnLimit)) {
    // Past the velocity limit (it was lowered): come down onto it.
    const VelocityChange c = ReachVelocity(s.v, s.a, vmax, l);
    for (int i = 0; i < 3; ++i) {
      if (c.duration[i] > 0.0) {
        bool last = true;
        for (int k = i + 1; k < 3; ++k) last = last && c.duration[k] == 0.0;
        return {c.jerk[i], c.duration[i], last ? Landing::kVelocity : Landing::kNone};
      }
    }
  }
  if (settled >= vmax * (1.0 - kOnLimit)) {
    // On the velocity limit up to rounding: ease off any acceleration left, then cruise. (Settling
    // onto it exactly would make pieces of the square root of the rounding, without end.)
    if (s.a != 0.0) return {s.a > 0.0 ? -jmax : jmax, std::abs(s.a) / jmax, Landing::kVelocity};
    s.v = vmax;
    return {0.0, time, Landing::kNone};
  }
  if (s.a > amax * (1.0 + kOnLimit)) return {-jmax, (s.a - amax) / jmax, Landing::kAcceleration};
  if (s.a >= amax * (1.0 - kOnLimit)) {
    // Hold the acceleration until it must ease off to land on the velocity limit.
    s.a = amax;
    return {0.0, std::max(0.0, (vmax - s.v) / amax - amax / (2.0 * jmax)), Landing::kNone};
  }
  // Jerk up until the acceleration reaches its limit or must ease off to land on the velocity
  // limit, whichever is first.
  const double to_limit = (amax - s.a) / jmax;
  const double room = vmax - settled;
  const double to_ease = s.a >= 0.0 ? room / (s.a + std::sqrt(s.a * s.a + jmax * room))
                                    : -s.a / jmax + std::sqrt(room / jmax);
  if (to_limit <= to_ease) return {jmax, to_limit, Landing::kAcceleration};
  return {jmax, to_ease, Landing::kNone};
}

// The time within (0, t_hi] at which, jerking from s, the stop point reaches x; the stop point
// grows monotonically along the drive, from below x - tolerance at 0 to above x + tolerance at
// t_hi. Regula falsi (Illinois), which falls back on bisection.
double WhenInReach(const Kinematics& s, double jerk, double t_hi, double x, double tolerance,
                   const MotionLimits& l) {
  const auto miss = [&](double t) {
    Kinematics e = s;
    Advance(e, jerk, t);
    return StopPoint(e, l) - x;
  };
  double lo = 0.0, g_lo = miss(lo), hi = t_hi, g_hi = miss(hi);
  int kept = 0;  // which end was kept last: -1 low, +1 high
  for (int i = 0; i < 200 && hi - lo > 0.0; ++i) {
    double t = (lo * g_hi - hi * g_lo) / (g_hi - g_lo);
    if (!(t > lo && t < hi)) t = lo + (hi - lo) / 2.0;
    if (!(t > lo && t < hi)) break;
    const double g = miss(t);
    if (std::abs(g) <= tolerance / 2.0) return t;
    if (g < 0.0) {
      lo = t;
      g_lo = g;
      if (kept == 1) g_hi /= 2.0;
      kept = 1;
    } else {
      hi = t;
      g_hi = g;
      if (kept == -1) g_lo /= 2.0;
      kept = -1;
    }
  }
  return lo;  // short of the target rather than past it
}

// Moves one joint by dt towards x (or to a stop if x is null).
void StepJoint(Kinematics& s, const double* x, const MotionLimits& l, double dt) {
  double left = dt;
  for (int n = 0; n < kMaxPieces && left > 0.0; ++n) {
    const VelocityChange stop = ReachVelocity(s.v, s.a, 0.0, l);
    if (x == nullptr) {
      Follow(s, stop, 0.0, left);
      return;
    }
    const double tolerance = kLanding * (1.0 + std::abs(*x));
    const double stop_point = s.p + Travel(stop, s.v, s.a);
    if (std::abs(*x - stop_point) <= kOnCourse * (1.0 + std::abs(*x))) {
      if (Follow(s, stop, 0.0, left)) s.p = *x;
      return;
    }
    // Drive in a frame where the target lies ahead.
    const double sign = *x > stop_point ? 1.0 : -1.0;
    Kinematics m{sign * s.p, sign * s.v, sign * s.a};
    const double ahead = sign * *x;
    Piece piece = DriveAhead(m, l, left);
    if (piece.duration > left) {
      piece.duration = left;
      piece.landing = Landing::kNone;
    }
    Kinematics e = m;
    Advance(e, piece.jerk, piece.duration);
    if (StopPoint(e, l) > ahead + tolerance) {
      piece.duration = WhenInReach(m, piece.jerk, piece.duration, ahead, tolerance, l);
      e = m;
      Advance(e, piece.jerk, piece.duration);
    } else if (piece.landing == Landing::kAcceleration) {
      e.a = l.acceleration;
    } else if (piece.landing == Landing::kVelocity) {
      e.v = l.velocity;
      e.a = 0.0;
    }
    s = {sign * e.p, sign * e.v, sign * e.a};
    left -= piece.duration;
  }
}

bool Valid(const MotionLimits& l) {
  return std::isfinite(l.velocity) && std::isfinite(l.acceleration) && std::isfinite(l.jerk) &&
         l.velocity > 0.0 && l.acceleration > 0.0 && l.jerk > 0.0;
}

// The least time a move of `distance` from rest to rest takes within l.
double RestToRestTime(double distance, const MotionLimits& l) {
  const double vmax = l.velocity, amax = l.acceleration, jmax = l.jerk;
  // From rest to velocity u, with the acceleration back at 0: on average at u / 2.
  const auto ramp = [&](double u) {
    return u * jmax >= amax * amax ? u / amax + amax / jmax : 2.0 * std::sqrt(u / jmax);
  };
  const double d = std::abs(distance);
  if (d >= vmax * ramp(vmax)) return ramp(vmax) + d / vmax;
  // The peak velocity u with u * ramp(u) = d.
  double u = std::cbrt(d * d * jmax / 4.0);
  if (u * jmax > amax * amax) {
    u = amax * (std::sqrt(amax * amax / (jmax * jmax) + 4.0 * d / amax) - amax / jmax) / 2.0;
  }
  return 2.0 * ramp(u);
}

bool SameTarget(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

void MotionGenerator::Reset(const std::vector<double>& q, const std::vector<double>& dq) {
  if (q.size() != dq.size()) {
    throw std::invalid_argument("MotionGenerator::Reset: q and dq differ in size");
  }
  for (std::size_t j = 0; j < q.size(); ++j) {
    if (!std::isfinite(q[j]) || !std::isfinite(dq[j])) {
      throw std::invalid_argument("MotionGenerator::Reset: a joint state is not finite");
    }
  }
  q_ = q;
  dq_ = dq;
  ddq_.assign(q.size(), 0.0);
  braking_.assign(q.size(), MotionLimits{0.0, 0.0, 0.0});
  time_scale_.assign(q.size(), 1.0);
  last_target_.assign(q.size(), 0.0);
  had_target_ = false;
}

void MotionGenerator::Synchronise(const std::vector<double>& target,
                                  const std::vector<MotionLimits>& limits) {
  const std::size_t n = q_.size();
  double slowest = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    time_scale_[j] = 1.0;
    if (std::isfinite(target[j]) && Valid(limits[j])) {
      time_scale_[j] = RestToRestTime(target[j] - q_[j], limits[j]);
      slowest = std::max(slowest, time_scale_[j]);
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    // time_scale_ holds each joint's own time here.
    const double own = time_scale_[j];
    time_scale_[j] = own > 0.0 ? std::clamp(slowest / own, 1.0, kMaxTimeScale) : 1.0;
  }
}

void MotionGenerator::Step(const std::vector<double>* target,
                           const std::vector<MotionLimits>& limits, double dt) {
  const std::size_t n = q_.size();
  if ((target != nullptr && target->size() != n) || limits.size() != n) {
    throw std::invalid_argument("MotionGenerator::Step: target or limits differ in size from q");
  }
  if (!(dt > 0.0) || !std::isfinite(dt)) return;
  if (target != nullptr) {
    const bool at_rest = std::all_of(dq_.begin(), dq_.end(), [](double v) { return v == 0.0; }) &&
                         std::all_of(ddq_.begin(), ddq_.end(), [](double a) { return a == 0.0; });
    bool same = had_target_;
    for (std::size_t j = 0; same && j < n; ++j) same = SameTarget((*target)[j], last_target_[j]);
    if (at_rest) {
      Synchronise(*target, limits);
    } else if (!same) {
      std::fill(time_scale_.begin(), time_scale_.end(), 1.0);
    }
    std::copy(target->begin(), target->end(), last_target_.begin());
  } else {
    std::fill(time_scale_.begin(), time_scale_.end(), 1.0);
  }
  had_target_ = target != nullptr;

  for (std::size_t j = 0; j < n; ++j) {
    const double* x = target != nullptr && std::isfinite((*target)[j]) ? &(*target)[j] : nullptr;
    MotionLimits l = limits[j];
    if (Valid(l)) {
      braking_[j] = l;
    } else {
      x = nullptr;
      l = braking_[j];
      if (!Valid(l)) {
        dq_[j] = ddq_[j] = 0.0;
        continue;
      }
    }
    // Slowing a motion down in time by k divides its velocity by k, its acceleration by k² and
    // its jerk by k³: the same motion, k times longer.
    const double k = x != nullptr ? time_scale_[j] : 1.0;
    const MotionLimits scaled{l.velocity / k, l.acceleration / (k * k), l.jerk / (k * k * k)};
    Kinematics s{q_[j], dq_[j], ddq_[j]};
    StepJoint(s, x, scaled, dt);
    if (std::isfinite(s.p) && std::isfinite(s.v) && std::isfinite(s.a)) {
      q_[j] = s.p;
      dq_[j] = s.v;
      ddq_[j] = s.a;
    } else {
      // Only limits near the ends of the floating-point range get here.
      dq_[j] = ddq_[j] = 0.0;
    }
  }
}

bool MotionGenerator::AtTarget(const std::vector<double>& target, double position_tolerance,
                               double velocity_tolerance) const {
  if (target.size() != q_.size()) return false;
  for (std::size_t j = 0; j < q_.size(); ++j) {
    if (!(std::abs(target[j] - q_[j]) <= position_tolerance) ||
        !(std::abs(dq_[j]) <= velocity_tolerance)) {
      return false;
    }
  }
  return true;
}

}  // namespace korvo::sim
