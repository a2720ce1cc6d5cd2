// The Pinocchio model of a robot description: every URDF link a body (links behind fixed joints as
// frames of the body they are fixed to), one coordinate per revolute, continuous or prismatic
// joint, in depth-first order from the root with children in document order, so that the
// coordinates follow the robot's full-DoF order. Used by Model and by the simulator.
#pragma once

// Pinocchio sets Boost.MPL's container limits, so it must come before any Boost header.
#include <pinocchio/fwd.hpp>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <pinocchio/multibody/model.hpp>
#include <string>
#include <vector>

#include "model/urdf_reader.hpp"

namespace korvo::vyr_impl {

// A rigid body fixed to a link of the description, such as an end-effector tool.
struct AttachedBody {
  std::string name;        // its link name
  std::string joint_name;  // its fixed joint
  std::string parent_link;
  Eigen::Isometry3d placement = Eigen::Isometry3d::Identity();  // in the parent link's frame
  double mass = 0.0;
  Eigen::Vector3d com = Eigen::Vector3d::Zero();      // in the body's frame
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();  // about the centre of mass, body axes
};

struct RigidBodyModel {
  pinocchio::Model model;
  std::vector<std::string> link_names;             // depth-first, attached bodies included
  std::vector<pinocchio::FrameIndex> link_frames;  // the frame of each link, same order
  std::vector<std::string> joint_names;            // the actuated joints, in coordinate order
};

// Builds the model of `description` with `attached` bodies, each after the children its parent
// link already has. Gravity is Pinocchio's default (0, 0, -9.81). Throws UrdfError when a link
// is not reached from the root, std::invalid_argument for a body attached to an unknown link.
RigidBodyModel BuildRigidBodyModel(const UrdfDescription& description,
                                   const std::vector<AttachedBody>& attached = {});

}  // namespace korvo::vyr_impl
