// A robot description read from URDF text: its links with their inertias and its joints, as
// written, checked to form one tree below the first link. No geometry is kept.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::vyr_impl {

// A URDF that cannot be read as XML, or whose content is not a robot this library can model.
class UrdfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct UrdfInertial {
  double mass = 0.0;
  Eigen::Isometry3d origin = Eigen::Isometry3d::Identity();  // inertial frame in the link frame
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();         // about the centre of mass, in it
};

struct UrdfLink {
  std::string name;
  std::optional<UrdfInertial> inertial;
};

enum class UrdfJointType { kFixed, kRevolute, kContinuous, kPrismatic };

struct UrdfJoint {
  std::string name;
  UrdfJointType type = UrdfJointType::kFixed;
  std::string parent, child;
  Eigen::Isometry3d origin = Eigen::Isometry3d::Identity();  // child frame in the parent frame
  Eigen::Vector3d axis = Eigen::Vector3d::UnitX();           // unit length
  double lower = 0.0, upper = 0.0, effort = 0.0, velocity = 0.0;
};

struct UrdfDescription {
  std::string name;
  // In document order; links[0] is the root.
  std::vector<UrdfLink> links;
  // In document order.
  std::vector<UrdfJoint> joints;
};

// Reads `text`. Throws UrdfError when it is not XML with a <robot> element, and when the robot
// is not one tree below its first link: a link or joint without a name or with a name used
// twice, a joint without a known parent or child, a link with two parents or none (other than the
// first), a joint of another type than fixed, revolute, continuous or prismatic, a zero or
// non-finite axis, or a non-finite, negative or malformed number.
UrdfDescription ReadUrdf(std::string_view text);

}  // namespace korvo::vyr_impl
