#include "interfaces/safety_defaults.hpp"

#include <array>
#include <vector>

namespace korvo::vyr_impl {
namespace {

using vyr::JointGroup;
using vyr::ProductModel;

// Per joint of a 7-joint arm, in degrees and degrees per second.
constexpr std::array<double, 7> kMinPositionDeg = {-362.5, -122.5, -362.5, -122.5,
                                                   -362.5, -122.5, -362.5};
constexpr std::array<double, 7> kMaxPositionDeg = {362.5, 122.5, 362.5, 122.5, 362.5, 122.5, 362.5};
constexpr std::array<double, 7> kMaxVelocityNormalDeg = {130, 130, 130, 130, 355, 355, 355};
constexpr std::array<double, 7> kMaxVelocityReducedDeg = {78, 78, 78, 78, 213, 213, 213};

std::vector<double> Radians(const std::array<double, 7>& degrees) {
  constexpr double kPi = 3.141592653589793;
  std::vector<double> radians;
  for (const double value : degrees) radians.push_back(value / 180.0 * kPi);
  return radians;
}

}  // namespace

std::optional<vyr::SafetyLimits> DefaultSafetyLimits(ProductModel model) {
  std::vector<JointGroup> groups;
  switch (model) {
    case ProductModel::Olvar_L:
      groups = {JointGroup::ARM_1};
      break;
    case ProductModel::Olvar_LL:
    case ProductModel::TAVU_Core:
    case ProductModel::TAVU_Plus:
    case ProductModel::TAVU_Ultra:
      groups = {JointGroup::ARM_1, JointGroup::ARM_2};
      break;
    default:
      return std::nullopt;
  }
  vyr::SafetyLimits limits;
  for (const JointGroup g : groups) {
    limits.q_min[g] = Radians(kMinPositionDeg);
    limits.q_max[g] = Radians(kMaxPositionDeg);
    limits.dq_max_normal[g] = Radians(kMaxVelocityNormalDeg);
    limits.dq_max_reduced[g] = Radians(kMaxVelocityReducedDeg);
  }
  return limits;
}

}  // namespace korvo::vyr_impl
