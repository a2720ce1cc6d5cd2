#include "sim/gripper_model.hpp"

#include <algorithm>
#include <cmath>

namespace korvo::sim {

GripperModel::GripperModel(const GripperRanges& ranges)
    : ranges_(ranges), width_(ranges.max_width), target_(ranges.max_width) {}

GripperState GripperModel::state() const { return {width_, force_, moving_, initialized_}; }

void GripperModel::Home() {
  Start(ranges_.max_width, ranges_.max_vel, 0.0);
  if (moving_) {
    homing_ = true;
  } else {
    initialized_ = true;
  }
}

void GripperModel::SetVelocity(double velocity) {
  velocity_ = std::clamp(velocity, ranges_.min_vel, ranges_.max_vel);
}

void GripperModel::Move(double width, std::optional<double> force_limit) {
  Start(width, velocity_,
        std::clamp(force_limit.value_or(0.0), ranges_.min_force, ranges_.max_force));
}

void GripperModel::Grasp(double force) {
  force = std::clamp(force, ranges_.min_force, ranges_.max_force);
  if (force > 0.0) {
    Start(ranges_.min_width, velocity_, force);
  } else if (force < 0.0) {
    Start(ranges_.max_width, velocity_, force);
  } else {
    Start(width_, velocity_, 0.0);
    if (holding_) force_ = 0.0;
  }
}

void GripperModel::SetObject(std::optional<double> width) {
  object_ = width;
  if (holding_ && (!width || std::abs(*width - width_) > kSameWidth)) {
    Release();
    moving_ = std::abs(target_ - width_) > kSameWidth;
  }
}

void GripperModel::Start(double target, double speed, double contact_force) {
  target_ = std::clamp(target, ranges_.min_width, ranges_.max_width);
  speed_ = speed;
  contact_force_ = contact_force;
  homing_ = false;
  if (std::abs(target_ - width_) <= kSameWidth) {
    // Already there: hold, with whatever force the fingers exert.
    target_ = width_;
    moving_ = false;
    return;
  }
  if (target_ > width_) {
    Release();
    moving_ = true;
    return;
  }
  if (object_ && std::abs(*object_ - width_) <= kSameWidth) {
    // Closing while touching the object: press on it at once.
    width_ = *object_;
    holding_ = true;
    force_ = contact_force_;
    moving_ = false;
    return;
  }
  moving_ = true;
}

void GripperModel::Release() {
  holding_ = false;
  force_ = 0.0;
}

void GripperModel::Step(double dt) {
  if (!moving_ || dt <= 0.0) return;
  const double distance = speed_ * dt;
  if (target_ < width_) {
    const double next = std::max(target_, width_ - distance);
    if (object_ && *object_ <= width_ + kSameWidth && *object_ >= next) {
      width_ = *object_;
      holding_ = true;
      force_ = contact_force_;
      moving_ = false;
      return;
    }
    width_ = next;
  } else {
    width_ = std::min(target_, width_ + distance);
  }
  if (width_ == target_) {
    moving_ = false;
    if (homing_) {
      homing_ = false;
      initialized_ = true;
    }
  }
}

}  // namespace korvo::sim
