#include "model/rigid_body_model.hpp"

#include <limits>
#include <map>
#include <stdexcept>
#include <utility>

#include <pinocchio/multibody/joint/joints.hpp>

namespace korvo::vyr_impl {
namespace {

// One edge of the tree as it is walked: a URDF joint, or the fixed joint of an attached body.
struct Edge {
  const UrdfJoint* joint = nullptr;
  const AttachedBody* body = nullptr;
  std::size_t child = 0;  // index into the link table
};

pinocchio::SE3 Se3(const Eigen::Isometry3d& pose) {
  return pinocchio::SE3(pose.linear(), pose.translation());
}

// A body's inertia as Pinocchio takes it: symmetric to the last bit. A rotated inertia
// (R·I·Rᵀ) is symmetric only up to rounding, which Pinocchio's checks refuse once the values are
// large; the mean of it and its transpose is exactly symmetric.
pinocchio::Inertia BodyInertia(double mass, const Eigen::Vector3d& com,
                               const Eigen::Matrix3d& inertia) {
  return pinocchio::Inertia(mass, com, 0.5 * (inertia + inertia.transpose()));
}

pinocchio::Inertia LinkInertia(const UrdfLink& link) {
  if (!link.inertial) return pinocchio::Inertia::Zero();
  const auto& in = *link.inertial;
  const Eigen::Matrix3d r = in.origin.linear();
  return BodyInertia(in.mass, in.origin.translation(), r * in.inertia * r.transpose());
}

pinocchio::JointModel JointModelOf(const UrdfJoint& joint) {
  const Eigen::Vector3d& a = joint.axis;
  const bool revolute = joint.type != UrdfJointType::kPrismatic;
  if (a == Eigen::Vector3d::UnitX()) {
    return revolute ? pinocchio::JointModel(pinocchio::JointModelRX())
                    : pinocchio::JointModel(pinocchio::JointModelPX());
  }
  if (a == Eigen::Vector3d::UnitY()) {
    return revolute ? pinocchio::JointModel(pinocchio::JointModelRY())
                    : pinocchio::JointModel(pinocchio::JointModelPY());
  }
  if (a == Eigen::Vector3d::UnitZ()) {
    return revolute ? pinocchio::JointModel(pinocchio::JointModelRZ())
                    : pinocchio::JointModel(pinocchio::JointModelPZ());
  }
  return revolute ? pinocchio::JointModel(pinocchio::JointModelRevoluteUnaligned(a))
                  : pinocchio::JointModel(pinocchio::JointModelPrismaticUnaligned(a));
}

}  // namespace

RigidBodyModel BuildRigidBodyModel(const UrdfDescription& description,
                                   const std::vector<AttachedBody>& attached) {
  const std::size_t urdf_links = description.links.size();
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < urdf_links; ++i) index.emplace(description.links[i].name, i);

  // Children of every link in document order, attached bodies last.
  std::vector<std::vector<Edge>> children(urdf_links + attached.size());
  for (const auto& joint : description.joints) {
    children.at(index.at(joint.parent)).push_back({&joint, nullptr, index.at(joint.child)});
  }
  for (std::size_t b = 0; b < attached.size(); ++b) {
    const auto parent = index.find(attached[b].parent_link);
    if (parent == index.end()) {
      throw std::invalid_argument("Body [" + attached[b].name + "] attached to unknown link [" +
                                  attached[b].parent_link + "]");
    }
    children[parent->second].push_back({nullptr, &attached[b], urdf_links + b});
  }

  RigidBodyModel result;
  pinocchio::Model& model = result.model;
  model.name = description.name;
  // Where each link's frame is: the Pinocchio joint it moves with, its placement in that joint's
  // frame, and its frame.
  struct Placed {
    pinocchio::JointIndex joint = 0;
    pinocchio::SE3 placement = pinocchio::SE3::Identity();
    pinocchio::FrameIndex frame = 0;
  };
  std::vector<Placed> placed(children.size());
  std::vector<bool> reached(children.size(), false);

  const auto& root = description.links[0];
  placed[0].frame = model.addBodyFrame(root.name, 0, pinocchio::SE3::Identity(), 0);
  reached[0] = true;
  result.link_names.push_back(root.name);
  result.link_frames.push_back(placed[0].frame);

  // Depth-first without recursion: a peer's description decides the depth.
  std::vector<Edge> stack(children[0].rbegin(), children[0].rend());
  while (!stack.empty()) {
    const Edge edge = stack.back();
    stack.pop_back();
    // Each link has one parent, so a link is reached once.
    reached[edge.child] = true;
    std::size_t parent = 0;
    std::string name;
    pinocchio::SE3 origin;
    pinocchio::Inertia inertia = pinocchio::Inertia::Zero();
    const UrdfJoint* movable = nullptr;
    if (edge.joint) {
      parent = index.at(edge.joint->parent);
      name = description.links[edge.child].name;
      origin = Se3(edge.joint->origin);
      inertia = LinkInertia(description.links[edge.child]);
      if (edge.joint->type != UrdfJointType::kFixed) movable = edge.joint;
    } else {
      parent = index.at(edge.body->parent_link);
      name = edge.body->name;
      origin = Se3(edge.body->placement);
      inertia = BodyInertia(edge.body->mass, edge.body->com, edge.body->inertia);
    }
    const Placed& from = placed[parent];
    Placed& to = placed[edge.child];
    if (movable) {
      const bool bounded = movable->type != UrdfJointType::kContinuous;
      const double inf = std::numeric_limits<double>::infinity();
      to.joint = model.addJoint(from.joint, JointModelOf(*movable), from.placement * origin,
                                movable->name, Eigen::VectorXd::Constant(1, movable->effort),
                                Eigen::VectorXd::Constant(1, movable->velocity),
                                Eigen::VectorXd::Constant(1, bounded ? movable->lower : -inf),
                                Eigen::VectorXd::Constant(1, bounded ? movable->upper : inf));
      to.placement = pinocchio::SE3::Identity();
      model.addJointFrame(to.joint, static_cast<int>(from.frame));
      result.joint_names.push_back(movable->name);
    } else {
      to.joint = from.joint;
      to.placement = from.placement * origin;
    }
    model.appendBodyToJoint(to.joint, inertia, to.placement);
    to.frame = model.addBodyFrame(name, to.joint, to.placement, static_cast<int>(from.frame));
    result.link_names.push_back(name);
    result.link_frames.push_back(to.frame);
    stack.insert(stack.end(), children[edge.child].rbegin(), children[edge.child].rend());
  }
  for (std::size_t i = 0; i < urdf_links; ++i) {
    if (!reached[i]) {
      throw UrdfError("Link [" + description.links[i].name + "] is not connected to the root");
    }
  }
  return result;
}

}  // namespace korvo::vyr_impl
