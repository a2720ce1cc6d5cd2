#include "model/urdf_reader.hpp"

#include <tinyxml2.h>

#include <charconv>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace korvo::vyr_impl {
namespace {

// No robot has more: a description beyond this is refused before it is walked.
constexpr std::size_t kMaxLinks = 10000;

[[noreturn]] void Fail(const std::string& what) { throw UrdfError(what); }

// The finite numbers of an attribute such as xyz="0 0 0.3", exactly `count` of them.
std::vector<double> Numbers(const char* text, std::size_t count, const std::string& what) {
  std::vector<double> values;
  const std::string_view s(text);
  std::size_t pos = 0;
  while (pos < s.size()) {
    while (pos < s.size() &&
           (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r')) {
      ++pos;
    }
    if (pos == s.size()) break;
    double value = 0.0;
    const auto [end, error] = std::from_chars(s.data() + pos, s.data() + s.size(), value);
    if (error != std::errc() || !std::isfinite(value) || values.size() == count) {
      Fail("Malformed numbers in " + what);
    }
    values.push_back(value);
    pos = static_cast<std::size_t>(end - s.data());
    if (pos < s.size() && s[pos] != ' ' && s[pos] != '\t' && s[pos] != '\n' && s[pos] != '\r') {
      Fail("Malformed numbers in " + what);
    }
  }
  if (values.size() != count) Fail("Malformed numbers in " + what);
  return values;
}

double Number(const tinyxml2::XMLElement* e, const char* attribute, double fallback,
              const std::string& what) {
  const char* text = e->Attribute(attribute);
  return text ? Numbers(text, 1, what + " " + attribute)[0] : fallback;
}

Eigen::Vector3d Vector(const tinyxml2::XMLElement* e, const char* attribute,
                       const std::string& what) {
  const char* text = e ? e->Attribute(attribute) : nullptr;
  if (!text) return Eigen::Vector3d::Zero();
  const auto v = Numbers(text, 3, what + " " + attribute);
  return {v[0], v[1], v[2]};
}

// An <origin xyz rpy> element (absent: identity); rpy turns about the fixed x, y, z axes.
Eigen::Isometry3d Origin(const tinyxml2::XMLElement* parent, const std::string& what) {
  const auto* origin = parent->FirstChildElement("origin");
  const Eigen::Vector3d xyz = Vector(origin, "xyz", what + " origin");
  const Eigen::Vector3d rpy = Vector(origin, "rpy", what + " origin");
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = (Eigen::AngleAxisd(rpy.z(), Eigen::Vector3d::UnitZ()) *
                   Eigen::AngleAxisd(rpy.y(), Eigen::Vector3d::UnitY()) *
                   Eigen::AngleAxisd(rpy.x(), Eigen::Vector3d::UnitX()))
                      .toRotationMatrix();
  pose.translation() = xyz;
  return pose;
}

std::string Name(const tinyxml2::XMLElement* e, const char* kind) {
  const char* name = e->Attribute("name");
  if (!name || !*name) Fail(std::string("A ") + kind + " without a name");
  return name;
}

UrdfLink ReadLink(const tinyxml2::XMLElement* e) {
  UrdfLink link{Name(e, "link"), std::nullopt};
  const auto* inertial = e->FirstChildElement("inertial");
  if (!inertial) return link;
  const std::string what = "the inertial of link [" + link.name + "]";
  UrdfInertial in;
  in.origin = Origin(inertial, what);
  const auto* mass = inertial->FirstChildElement("mass");
  in.mass = mass ? Number(mass, "value", 0.0, what + " mass") : 0.0;
  if (in.mass < 0.0) Fail("Negative mass in " + what);
  if (const auto* i = inertial->FirstChildElement("inertia")) {
    const double xx = Number(i, "ixx", 0.0, what), xy = Number(i, "ixy", 0.0, what),
                 xz = Number(i, "ixz", 0.0, what), yy = Number(i, "iyy", 0.0, what),
                 yz = Number(i, "iyz", 0.0, what), zz = Number(i, "izz", 0.0, what);
    in.inertia << xx, xy, xz, xy, yy, yz, xz, yz, zz;
  }
  link.inertial = in;
  return link;
}

UrdfJoint ReadJoint(const tinyxml2::XMLElement* e) {
  UrdfJoint joint;
  joint.name = Name(e, "joint");
  const std::string what = "joint [" + joint.name + "]";
  const char* type = e->Attribute("type");
  const std::string t = type ? type : "";
  if (t == "fixed") {
    joint.type = UrdfJointType::kFixed;
  } else if (t == "revolute") {
    joint.type = UrdfJointType::kRevolute;
  } else if (t == "continuous") {
    joint.type = UrdfJointType::kContinuous;
  } else if (t == "prismatic") {
    joint.type = UrdfJointType::kPrismatic;
  } else {
    Fail("Unsupported type [" + t + "] of " + what);
  }
  const auto link_of = [&](const char* tag) {
    const auto* element = e->FirstChildElement(tag);
    const char* link = element ? element->Attribute("link") : nullptr;
    if (!link || !*link) Fail("No " + std::string(tag) + " link of " + what);
    return std::string(link);
  };
  joint.parent = link_of("parent");
  joint.child = link_of("child");
  joint.origin = Origin(e, what);
  if (const auto* axis = e->FirstChildElement("axis")) {
    const Eigen::Vector3d a = Vector(axis, "xyz", what + " axis");
    if (axis->Attribute("xyz") && joint.type != UrdfJointType::kFixed) {
      // stableNorm: the plain norm of an axis such as "1 1e308 0" overflows, and dividing by it
      // would leave a zero axis.
      const double norm = a.stableNorm();
      if (!(norm > 1e-12)) Fail("Zero axis of " + what);
      joint.axis = a / norm;
    }
  }
  if (const auto* limit = e->FirstChildElement("limit")) {
    joint.lower = Number(limit, "lower", 0.0, what + " limit");
    joint.upper = Number(limit, "upper", 0.0, what + " limit");
    joint.effort = Number(limit, "effort", 0.0, what + " limit");
    joint.velocity = Number(limit, "velocity", 0.0, what + " limit");
  }
  return joint;
}

}  // namespace

UrdfDescription ReadUrdf(std::string_view text) {
  tinyxml2::XMLDocument document;
  if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
    Fail(std::string("Not XML: ") + document.ErrorStr());
  }
  const auto* robot = document.FirstChildElement("robot");
  if (!robot) Fail("No <robot> element");
  UrdfDescription description;
  if (const char* name = robot->Attribute("name")) description.name = name;

  std::map<std::string, std::size_t> link_index;
  for (const auto* e = robot->FirstChildElement("link"); e; e = e->NextSiblingElement("link")) {
    if (description.links.size() == kMaxLinks) Fail("More links than any robot has");
    auto link = ReadLink(e);
    if (!link_index.emplace(link.name, description.links.size()).second) {
      Fail("Link [" + link.name + "] defined twice");
    }
    description.links.push_back(std::move(link));
  }
  if (description.links.empty()) Fail("No links");

  std::map<std::string, std::size_t> joint_index;
  std::vector<bool> has_parent(description.links.size(), false);
  for (const auto* e = robot->FirstChildElement("joint"); e; e = e->NextSiblingElement("joint")) {
    auto joint = ReadJoint(e);
    if (!joint_index.emplace(joint.name, description.joints.size()).second) {
      Fail("Joint [" + joint.name + "] defined twice");
    }
    const auto parent = link_index.find(joint.parent);
    const auto child = link_index.find(joint.child);
    if (parent == link_index.end()) {
      Fail("Unknown parent link [" + joint.parent + "] of joint [" + joint.name + "]");
    }
    if (child == link_index.end()) {
      Fail("Unknown child link [" + joint.child + "] of joint [" + joint.name + "]");
    }
    if (child->second == 0) Fail("The root link [" + joint.child + "] has a parent joint");
    if (has_parent[child->second]) Fail("Link [" + joint.child + "] has two parent joints");
    has_parent[child->second] = true;
    description.joints.push_back(std::move(joint));
  }
  // Every link but the root has at most one parent, so the links reached from the root form one
  // tree; a link without a parent, or on a loop of links that are each other's parents, is not
  // reached. Walked with a stack of our own: the chain can be as long as the text allows.
  std::vector<std::vector<std::size_t>> children(description.links.size());
  for (const auto& joint : description.joints) {
    children[link_index.at(joint.parent)].push_back(link_index.at(joint.child));
  }
  std::vector<bool> reached(description.links.size(), false);
  std::vector<std::size_t> stack = {0};
  reached[0] = true;
  while (!stack.empty()) {
    const std::size_t link = stack.back();
    stack.pop_back();
    for (const std::size_t child : children[link]) {
      reached[child] = true;
      stack.push_back(child);
    }
  }
  for (std::size_t i = 1; i < description.links.size(); ++i) {
    if (!reached[i]) Fail("Link [" + description.links[i].name + "] is not connected");
  }
  return description;
}

}  // namespace korvo::vyr_impl
