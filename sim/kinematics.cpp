#include "sim/kinematics.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace korvo::sim {

Eigen::Matrix3d RpyToMatrix(const Eigen::Vector3d& rpy) {
  return (Eigen::AngleAxisd(rpy.z(), Eigen::Vector3d::UnitZ()) *
          Eigen::AngleAxisd(rpy.y(), Eigen::Vector3d::UnitY()) *
          Eigen::AngleAxisd(rpy.x(), Eigen::Vector3d::UnitX()))
      .toRotationMatrix();
}

std::size_t KinematicTree::AddLink(Link link) {
  for (const Link& existing : links_) {
    if (existing.name == link.name) {
      throw std::logic_error("Duplicate link name: " + link.name);
    }
  }
  links_.push_back(std::move(link));
  child_joints_.emplace_back();
  parent_joint_.emplace_back();
  return links_.size() - 1;
}

void KinematicTree::AddJoint(Joint joint) {
  if (joint.parent >= links_.size() || joint.child >= links_.size()) {
    throw std::logic_error("Joint " + joint.name + " connects a link that does not exist");
  }
  if (joint.child == 0 || parent_joint_[joint.child] || joint.parent == joint.child) {
    throw std::logic_error("Joint " + joint.name + " would give its child a second parent");
  }
  for (const Joint& existing : joints_) {
    if (existing.name == joint.name) {
      throw std::logic_error("Duplicate joint name: " + joint.name);
    }
  }
  if (joint.type != JointType::kFixed) {
    if (joint.axis.norm() < 1e-12) throw std::logic_error("Joint " + joint.name + " has no axis");
    joint.axis.normalize();
  }
  const std::size_t index = joints_.size();
  child_joints_[joint.parent].push_back(index);
  parent_joint_[joint.child] = index;
  joints_.push_back(std::move(joint));
}

std::size_t KinematicTree::FindLink(const std::string& name) const {
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (links_[i].name == name) return i;
  }
  throw std::out_of_range("No link named " + name);
}

std::vector<std::size_t> KinematicTree::DepthFirstJoints() const {
  std::vector<std::size_t> order;
  order.reserve(joints_.size());
  std::vector<std::size_t> stack;  // joints still to visit, next on top
  if (!links_.empty()) stack.assign(child_joints_[0].rbegin(), child_joints_[0].rend());
  while (!stack.empty()) {
    const std::size_t j = stack.back();
    stack.pop_back();
    order.push_back(j);
    const auto& children = child_joints_[joints_[j].child];
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return order;
}

std::vector<std::size_t> KinematicTree::PathTo(std::size_t link) const {
  std::vector<std::size_t> path;
  for (std::size_t at = link; parent_joint_.at(at);) {
    const std::size_t j = *parent_joint_[at];
    path.push_back(j);
    at = joints_[j].parent;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

KinematicChain::KinematicChain(const KinematicTree& tree, std::size_t tip_link,
                               const std::vector<int>& coordinate_of_joint) {
  Eigen::Isometry3d pending = Eigen::Isometry3d::Identity();
  for (std::size_t j : tree.PathTo(tip_link)) {
    const Joint& joint = tree.joint_list()[j];
    Eigen::Isometry3d origin = Eigen::Isometry3d::Identity();
    origin.linear() = RpyToMatrix(joint.rpy);
    origin.translation() = joint.xyz;
    pending = pending * origin;
    if (joint.type == JointType::kFixed) continue;
    const int coordinate = coordinate_of_joint.at(j);
    if (coordinate < 0)
      throw std::logic_error("Movable joint " + joint.name + " has no coordinate");
    steps_.push_back({pending, joint.type, joint.axis, coordinate});
    pending.setIdentity();
  }
  tail_ = pending;
}

template <typename OnJoint>
Eigen::Isometry3d KinematicChain::Walk(std::span<const double> q, OnJoint&& on_joint) const {
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  Eigen::Vector3d position = Eigen::Vector3d::Zero();
  for (const Step& step : steps_) {
    position += rotation * step.origin.translation();
    rotation = rotation * step.origin.linear();
    on_joint(step, Eigen::Vector3d(rotation * step.axis), position);
    const double value = q[static_cast<std::size_t>(step.coordinate)];
    if (step.type == JointType::kPrismatic) {
      position += rotation * (step.axis * value);
    } else {
      rotation = rotation * Eigen::AngleAxisd(value, step.axis).toRotationMatrix();
    }
  }
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = rotation * tail_.linear();
  pose.translation() = position + rotation * tail_.translation();
  return pose;
}

Eigen::Isometry3d KinematicChain::Pose(std::span<const double> q) const {
  return Walk(q, [](const Step&, const Eigen::Vector3d&, const Eigen::Vector3d&) {});
}

Eigen::Matrix<double, 6, Eigen::Dynamic> KinematicChain::Jacobian(
    std::span<const double> q, const Eigen::Vector3d& tip_point) const {
  // The joints' axes and positions are needed once the point's position is known.
  struct Axis {
    int coordinate;
    bool prismatic;
    Eigen::Vector3d direction, origin;
  };
  std::vector<Axis> axes;
  axes.reserve(steps_.size());
  const Eigen::Isometry3d tip =
      Walk(q, [&](const Step& step, const Eigen::Vector3d& direction, const Eigen::Vector3d& at) {
        axes.push_back({step.coordinate, step.type == JointType::kPrismatic, direction, at});
      });
  const Eigen::Vector3d point = tip * tip_point;
  Eigen::Matrix<double, 6, Eigen::Dynamic> jacobian =
      Eigen::Matrix<double, 6, Eigen::Dynamic>::Zero(6, static_cast<Eigen::Index>(q.size()));
  for (const Axis& a : axes) {
    auto column = jacobian.col(a.coordinate);
    if (a.prismatic) {
      column.head<3>() += a.direction;
    } else {
      column.head<3>() += a.direction.cross(point - a.origin);
      column.tail<3>() += a.direction;
    }
  }
  return jacobian;
}

}  // namespace korvo::sim
