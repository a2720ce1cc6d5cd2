#include "sim/urdf_writer.hpp"

#include <iterator>

#include <fmt/format.h>

namespace korvo::sim {
namespace {

const char* TypeName(JointType type) {
  switch (type) {
    case JointType::kRevolute:
      return "revolute";
    case JointType::kContinuous:
      return "continuous";
    case JointType::kPrismatic:
      return "prismatic";
    case JointType::kFixed:
      break;
  }
  return "fixed";
}

std::string Triple(const Eigen::Vector3d& v) {
  return fmt::format("{} {} {}", v.x(), v.y(), v.z());
}

void WriteLink(fmt::memory_buffer& out, const Link& link) {
  auto it = std::back_inserter(out);
  if (!link.inertial && link.mesh.empty()) {
    fmt::format_to(it, "  <link name=\"{}\"/>\n", link.name);
    return;
  }
  fmt::format_to(it, "  <link name=\"{}\">\n", link.name);
  if (link.inertial) {
    const Inertial& in = *link.inertial;
    const Eigen::Matrix3d& I = in.inertia;
    fmt::format_to(
        it,
        "    <inertial>\n"
        "      <origin xyz=\"{}\" rpy=\"0 0 0\"/>\n"
        "      <mass value=\"{}\"/>\n"
        "      <inertia ixx=\"{}\" ixy=\"{}\" ixz=\"{}\" iyy=\"{}\" iyz=\"{}\" izz=\"{}\"/>\n"
        "    </inertial>\n",
        Triple(in.com), in.mass, I(0, 0), I(0, 1), I(0, 2), I(1, 1), I(1, 2), I(2, 2));
  }
  if (!link.mesh.empty()) {
    for (const char* element : {"visual", "collision"}) {
      fmt::format_to(it,
                     "    <{0}>\n"
                     "      <origin xyz=\"0 0 0\" rpy=\"0 0 0\"/>\n"
                     "      <geometry>\n"
                     "        <mesh filename=\"{1}\"/>\n"
                     "      </geometry>\n"
                     "    </{0}>\n",
                     element, link.mesh);
    }
  }
  fmt::format_to(it, "  </link>\n");
}

void WriteJoint(fmt::memory_buffer& out, const KinematicTree& tree, const Joint& joint) {
  auto it = std::back_inserter(out);
  fmt::format_to(it,
                 "  <joint name=\"{}\" type=\"{}\">\n"
                 "    <parent link=\"{}\"/>\n"
                 "    <child link=\"{}\"/>\n"
                 "    <origin xyz=\"{}\" rpy=\"{}\"/>\n",
                 joint.name, TypeName(joint.type), tree.links()[joint.parent].name,
                 tree.links()[joint.child].name, Triple(joint.xyz), Triple(joint.rpy));
  const JointLimits& lim = joint.limits;
  switch (joint.type) {
    case JointType::kFixed:
      break;
    case JointType::kContinuous:  // unbounded for a URDF parser: no lower and upper
      fmt::format_to(it, "    <axis xyz=\"{}\"/>\n    <limit effort=\"{}\" velocity=\"{}\"/>\n",
                     Triple(joint.axis), lim.tau_max, lim.dq_max);
      break;
    case JointType::kRevolute:
    case JointType::kPrismatic:
      fmt::format_to(it,
                     "    <axis xyz=\"{}\"/>\n"
                     "    <limit lower=\"{}\" upper=\"{}\" effort=\"{}\" velocity=\"{}\"/>\n",
                     Triple(joint.axis), lim.q_min, lim.q_max, lim.tau_max, lim.dq_max);
      break;
  }
  fmt::format_to(it, "  </joint>\n");
}

}  // namespace

std::string WriteUrdf(std::string_view robot_name, const KinematicTree& tree) {
  fmt::memory_buffer out;
  fmt::format_to(std::back_inserter(out), "<?xml version=\"1.0\"?>\n<robot name=\"{}\">\n",
                 robot_name);
  if (!tree.links().empty()) WriteLink(out, tree.links()[0]);
  for (std::size_t j : tree.DepthFirstJoints()) {
    const Joint& joint = tree.joint_list()[j];
    WriteJoint(out, tree, joint);
    WriteLink(out, tree.links()[joint.child]);
  }
  fmt::format_to(std::back_inserter(out), "</robot>\n");
  return fmt::to_string(out);
}

}  // namespace korvo::sim
