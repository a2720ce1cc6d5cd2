// The kinematic tree of a simulated robot (links, joints, inertias, meshes) and forward
// kinematics along one of its chains. The URDF the robot hands out is written from the same tree,
// so the poses the simulator publishes and the model a client builds cannot disagree.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace korvo::sim {

enum class JointType { kFixed, kRevolute, kContinuous, kPrismatic };

// Motion range and home position of a movable joint, in rad or m.
struct JointLimits {
  double q_min = 0.0, q_max = 0.0, dq_max = 0.0, ddq_max = 0.0, tau_max = 0.0, home = 0.0;
};

// Mass properties of a link: the centre of mass and the rotational inertia about it, both in the
// link frame.
struct Inertial {
  double mass = 0.0;
  Eigen::Vector3d com = Eigen::Vector3d::Zero();
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();
};

struct Link {
  std::string name;
  std::optional<Inertial> inertial;  // absent on massless frames such as the world
  std::string mesh;                  // package:// path of the collision mesh; empty: none
};

struct Joint {
  std::string name;
  JointType type = JointType::kFixed;
  std::size_t parent = 0;  // link indices
  std::size_t child = 0;
  Eigen::Vector3d xyz = Eigen::Vector3d::Zero();  // joint frame in the parent link frame,
  Eigen::Vector3d rpy = Eigen::Vector3d::Zero();  // rotation as URDF roll-pitch-yaw
  Eigen::Vector3d axis = Eigen::Vector3d::UnitZ();
  JointLimits limits;  // unused for fixed joints
};

// Rotation of URDF roll-pitch-yaw angles: Rz(yaw) * Ry(pitch) * Rx(roll).
Eigen::Matrix3d RpyToMatrix(const Eigen::Vector3d& rpy);

// A tree of links connected by joints. The first link added is the root; a joint's child may
// have no other parent. Children keep the order in which their joints were added.
class KinematicTree {
 public:
  std::size_t AddLink(Link link);
  void AddJoint(Joint joint);

  const std::vector<Link>& links() const { return links_; }
  const std::vector<Joint>& joint_list() const { return joints_; }

  // Index of the link with this name; std::out_of_range if there is none.
  std::size_t FindLink(const std::string& name) const;

  // Joint indices in depth-first order from the root, children in the order they were added.
  std::vector<std::size_t> DepthFirstJoints() const;

  // Joint indices on the way from the root to `link`, root side first.
  std::vector<std::size_t> PathTo(std::size_t link) const;

 private:
  std::vector<Link> links_;
  std::vector<Joint> joints_;
  std::vector<std::vector<std::size_t>> child_joints_;  // per link
  std::vector<std::optional<std::size_t>> parent_joint_;
};

// Forward kinematics from the root to one link. Consecutive fixed transforms are merged when the
// chain is built, so evaluating it costs one small product per movable joint.
class KinematicChain {
 public:
  // `coordinate_of_joint` gives, per joint of the tree, its index in the position vector (or -1
  // for fixed joints).
  KinematicChain(const KinematicTree& tree, std::size_t tip_link,
                 const std::vector<int>& coordinate_of_joint);

  // Pose of the tip link in the root frame. `q` must hold every coordinate the chain uses.
  Eigen::Isometry3d Pose(std::span<const double> q) const;

  // Geometric Jacobian of the point `tip_point` (given in the tip link frame), in root axes: the
  // point's linear velocity over the tip's angular velocity, one column per coordinate of `q`.
  // Coordinates the chain does not use have zero columns.
  Eigen::Matrix<double, 6, Eigen::Dynamic> Jacobian(std::span<const double> q,
                                                    const Eigen::Vector3d& tip_point) const;

 private:
  struct Step {
    Eigen::Isometry3d origin;  // fixed transforms before the joint, merged with its origin
    JointType type;
    Eigen::Vector3d axis;
    int coordinate;
  };
  // Walks out along the chain at `q`, handing each step with its joint axis and position in root
  // axes (before the joint moves) to `on_joint`; returns the tip pose.
  template <typename OnJoint>
  Eigen::Isometry3d Walk(std::span<const double> q, OnJoint&& on_joint) const;

  std::vector<Step> steps_;
  Eigen::Isometry3d tail_ = Eigen::Isometry3d::Identity();  // fixed transforms after the last one
};

}  // namespace korvo::sim
