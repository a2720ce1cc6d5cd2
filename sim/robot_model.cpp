#include "sim/robot_model.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "sim/urdf_writer.hpp"

namespace korvo::sim {
namespace {

using vyr::JointGroup;
using vyr::ProductModel;
using Vec3 = std::array<double, 3>;

constexpr double kPi = std::numbers::pi;
constexpr unsigned kArmJoints = 7;

// A rigid body given as a solid box: mass, centre of mass and box size, and the box's orientation
// (roll-pitch-yaw) in the link frame. A box always yields a valid inertia; the tilt gives it the
// products of inertia that real, asymmetric links have. Mass 0 marks a massless frame.
struct BodyData {
  double mass;
  Vec3 com, size, tilt;
};

// A movable joint and the link it carries.
struct SegmentData {
  const char* joint;  // joint name after the prefix
  JointType type;
  Vec3 xyz, rpy, axis;
  JointLimits limits;  // q_min, q_max, dq_max, ddq_max, tau_max, home
  const char* link;    // link name after the prefix
  const char* mesh;    // mesh file in the part's mesh folder; nullptr for a massless frame
  BodyData body;
};

// One Olvar-L arm: seven revolute joints about their z axes, frames placed by offsets and quarter
// turns about x. At zero the arm stands upright with a small elbow offset (a singular posture:
// the first, third and fifth axes line up). The home position here is that of a standing arm.
// clang-format off
constexpr std::array<SegmentData, kArmJoints> kArm = {{
    {"joint1", JointType::kRevolute, {0, 0, 0.36}, {0, 0, 0}, {0, 0, 1},
     {-2.967, 2.967, 2.0, 10.0, 120.0, 0.0}, "link1", "link1.stl",
     {3.6, {0, -0.03, -0.09}, {0.14, 0.16, 0.24}, {0.08, 0, 0.05}}},
    {"joint2", JointType::kRevolute, {0, 0, 0}, {-kPi / 2, 0, 0}, {0, 0, 1},
     {-2.094, 2.094, 2.0, 10.0, 120.0, -0.5}, "link2", "link2.stl",
     {3.4, {0, -0.09, 0.03}, {0.13, 0.24, 0.14}, {0.06, 0.03, 0}}},
    {"joint3", JointType::kRevolute, {0, -0.42, 0}, {kPi / 2, 0, 0}, {0, 0, 1},
     {-2.967, 2.967, 2.4, 12.0, 64.0, 0.0}, "link3", "link3.stl",
     {2.8, {0.03, 0.02, -0.14}, {0.12, 0.12, 0.30}, {0.05, -0.06, 0.02}}},
    {"joint4", JointType::kRevolute, {0.075, 0, 0}, {kPi / 2, 0, 0}, {0, 0, 1},
     {-2.094, 2.094, 2.4, 12.0, 64.0, -1.8}, "link4", "link4.stl",
     {2.6, {-0.04, 0.11, 0.02}, {0.11, 0.28, 0.11}, {-0.05, 0.02, 0.07}}},
    {"joint5", JointType::kRevolute, {-0.075, 0.40, 0}, {-kPi / 2, 0, 0}, {0, 0, 1},
     {-2.967, 2.967, 3.0, 15.0, 36.0, 0.3}, "link5", "link5.stl",
     {2.1, {0, 0.03, -0.12}, {0.10, 0.10, 0.26}, {0.04, 0.05, 0}}},
    {"joint6", JointType::kRevolute, {0, 0, 0}, {kPi / 2, 0, 0}, {0, 0, 1},
     {-2.094, 2.094, 3.0, 15.0, 24.0, 1.4}, "link6", "link6.stl",
     {1.5, {0.05, -0.01, 0.01}, {0.14, 0.09, 0.09}, {0, 0.06, -0.04}}},
    {"joint7", JointType::kRevolute, {0.085, 0, 0}, {kPi / 2, 0, 0}, {0, 0, 1},
     {-3.054, 3.054, 3.0, 20.0, 20.0, 0.6}, "link7", "link7.stl",
     {0.55, {0, 0, 0.07}, {0.08, 0.08, 0.06}, {0.03, 0.02, 0}}},
}};
// clang-format on
constexpr BodyData kArmBase = {4.2, {-0.02, 0, 0.15}, {0.16, 0.16, 0.30}, {0, 0.04, 0.02}};
constexpr BodyData kFlange = {0.15, {0, 0, -0.008}, {0.09, 0.09, 0.016}, {0, 0.05, 0.1}};
constexpr Vec3 kFlangeOffset = {0, 0, 0.115};  // flange face in the last link's frame

// Home postures of mirrored arm pairs (the second arm's odd joints turn the other way): elbows
// and wrists bent, flanges in front of the robot at working height.
using ArmPosture = std::array<double, kArmJoints>;
// Olvar-LL: flanges 0.5 m in front of the pedestal, pointing down.
constexpr ArmPosture kOlvarLLArm1Home = {0, 1.65, -0.9, -1.65, -1.25, -1.65, 0};
constexpr ArmPosture kOlvarLLArm2Home = {0, 1.65, 0.9, -1.65, 1.25, -1.65, 0};
// TAVU: hanging from the shoulders, flanges in front of the chest pointing forward and down.
constexpr ArmPosture kTavuArm1Home = {-2.25, -1.5, -0.4, 1.5, 0.05, 1.65, 0};
constexpr ArmPosture kTavuArm2Home = {2.25, -1.5, 0.4, 1.5, -0.05, 1.65, 0};

// Pan-tilt torso of TAVU-Plus and TAVU-Ultra. The pan joint's height depends on what carries it.
// clang-format off
constexpr std::array<SegmentData, 2> kTorso = {{
    {"torso.pan", JointType::kRevolute, {0, 0, 0}, {0, 0, 0}, {0, 0, 1},
     {-2.6, 2.6, 1.2, 4.0, 300.0, 0.0}, "torso.link1", "torso_link1.stl",
     {9.0, {0, 0, 0.06}, {0.26, 0.26, 0.14}, {0, 0.03, 0.1}}},
    {"torso.tilt", JointType::kRevolute, {0, 0, 0.12}, {0, 0, 0}, {0, 1, 0},
     {-0.35, 1.3, 1.0, 3.0, 450.0, 0.2}, "torso.link2", "torso_link2.stl",
     {19.0, {0.02, 0, 0.24}, {0.24, 0.44, 0.48}, {0.02, 0.05, 0}}},
}};
// clang-format on
constexpr double kTorsoShoulderHeight = 0.40;  // above the tilt axis

// TAVU arms hang from the shoulders, their base z axes pointing sideways out of the body.
constexpr double kShoulderHalfWidth = 0.21;

// Mobile base of TAVU-Ultra: planar x and y on the floor, then the yaw of the chassis. The two
// slides are massless frames; the chassis carries the mass. Yaw turns without end stops; its
// software limit of two turns each way keeps the reported range finite.
// clang-format off
constexpr std::array<SegmentData, 3> kMobileBase = {{
    {"base.x", JointType::kPrismatic, {0, 0, 0}, {0, 0, 0}, {1, 0, 0},
     {-20.0, 20.0, 1.5, 1.0, 900.0, 0.0}, "base.link_x", nullptr, {0, {}, {}, {}}},
    {"base.y", JointType::kPrismatic, {0, 0, 0}, {0, 0, 0}, {0, 1, 0},
     {-20.0, 20.0, 1.5, 1.0, 900.0, 0.0}, "base.link_y", nullptr, {0, {}, {}, {}}},
    {"base.yaw", JointType::kContinuous, {0, 0, 0}, {0, 0, 0}, {0, 0, 1},
     {-4 * kPi, 4 * kPi, 1.5, 2.0, 400.0, 0.0}, "base", "base.stl",
     {96.0, {0, 0, 0.17}, {0.72, 0.56, 0.34}, {0, 0.01, 0.02}}},
}};
// clang-format on

// External axes: a workpiece positioner beside the robot, a three-axis Cartesian gantry carrying
// a turntable, a tilt and a face plate. A robot with e axes has the first e of them.
// clang-format off
constexpr std::array<SegmentData, vyr::kMaxExtAxes> kExtAxes = {{
    {"ext.axis1", JointType::kPrismatic, {0, 0, 0.25}, {0, 0, 0}, {1, 0, 0},
     {-1.0, 1.0, 1.0, 2.5, 1500.0, 0.0}, "ext.link1", "link1.stl",
     {30.0, {0, 0, 0.06}, {0.5, 0.5, 0.12}, {0, 0.02, 0.03}}},
    {"ext.axis2", JointType::kPrismatic, {0, 0, 0.12}, {0, 0, 0}, {0, 1, 0},
     {-0.6, 0.6, 0.8, 2.0, 1200.0, 0.0}, "ext.link2", "link2.stl",
     {18.0, {0, 0, 0.05}, {0.4, 0.4, 0.10}, {0.02, 0, 0.04}}},
    {"ext.axis3", JointType::kPrismatic, {0, 0, 0.15}, {0, 0, 0}, {0, 0, 1},
     {-0.2, 0.4, 0.5, 1.5, 2500.0, 0.0}, "ext.link3", "link3.stl",
     {14.0, {0, 0, 0.10}, {0.3, 0.3, 0.2}, {0.03, 0.02, 0}}},
    {"ext.axis4", JointType::kRevolute, {0, 0, 0.20}, {0, 0, 0}, {0, 0, 1},
     {-3.05, 3.05, 1.6, 6.0, 250.0, 0.0}, "ext.link4", "link4.stl",
     {10.0, {0, 0, 0.04}, {0.45, 0.45, 0.08}, {0.04, 0, 0.2}}},
    {"ext.axis5", JointType::kRevolute, {0, 0, 0.15}, {0, 0, 0}, {1, 0, 0},
     {-1.9, 1.9, 1.2, 5.0, 300.0, 0.0}, "ext.link5", "link5.stl",
     {8.0, {0, 0, 0.05}, {0.35, 0.3, 0.1}, {0.1, 0, 0.03}}},
    {"ext.axis6", JointType::kRevolute, {0, 0, 0.12}, {0, 0, 0}, {0, 0, 1},
     {-6.0, 6.0, 2.0, 8.0, 120.0, 0.0}, "ext.link6", "link6.stl",
     {5.0, {0, 0, 0.02}, {0.3, 0.3, 0.04}, {0, 0.05, 0.1}}},
}};
// clang-format on
constexpr BodyData kExtBase = {65.0, {0, 0, 0.12}, {2.2, 0.5, 0.24}, {0, 0.01, 0.02}};
// The gantry stands 1.1 m in front of the robot, its first axis running sideways.
constexpr Vec3 kExtBasePosition = {1.1, 0, 0};
constexpr Vec3 kExtBaseRpy = {0, 0, kPi / 2};

// Olvar-LL: both arms on a pedestal, mirror images of each other: each leans 30 degrees outwards
// and 15 degrees forwards, and the lean is turned 22.5 degrees towards the front.
constexpr BodyData kOlvarLLPedestal = {32.0, {0, 0, 0.40}, {0.40, 0.90, 0.80}, {0.01, 0, 0.02}};
constexpr double kOlvarLLMountHeight = 0.80;
constexpr double kOlvarLLMountHalfWidth = 0.35;
constexpr double kOlvarLLMountRoll = kPi / 6;
constexpr double kOlvarLLMountPitch = kPi / 12;
constexpr double kOlvarLLMountYaw = kPi / 8;

constexpr BodyData kTavuCoreBody = {48.0, {0, 0, 0.70}, {0.32, 0.46, 1.40}, {0.01, 0.02, 0}};
constexpr double kTavuCoreShoulderHeight = 1.32;
constexpr BodyData kTavuPlusPedestal = {42.0, {0, 0, 0.40}, {0.36, 0.36, 0.80}, {0, 0.02, 0.03}};
constexpr Vec3 kTavuPlusPanPosition = {0, 0, 0.85};
constexpr Vec3 kTavuUltraPanPosition = {0.05, 0, 0.60};

Eigen::Vector3d V(const Vec3& v) { return {v[0], v[1], v[2]}; }

std::string MeshPath(const char* folder, const char* file) {
  return std::string("package://korvo_description/meshes/") + folder + "/" + file;
}

Inertial BoxInertial(const BodyData& body) {
  const double m = body.mass;
  const double a = body.size[0], b = body.size[1], c = body.size[2];
  const Eigen::Vector3d principal(m * (b * b + c * c) / 12, m * (a * a + c * c) / 12,
                                  m * (a * a + b * b) / 12);
  const Eigen::Matrix3d R = RpyToMatrix(V(body.tilt));
  Inertial inertial;
  inertial.mass = m;
  inertial.com = V(body.com);
  inertial.inertia = R * principal.asDiagonal() * R.transpose();
  // Rounded to 1e-8 kg m^2 so that the URDF reads cleanly; far below any link's moments.
  inertial.inertia =
      (0.5 * (inertial.inertia + inertial.inertia.transpose())).unaryExpr([](double v) {
        return std::round(v * 1e8) / 1e8;
      });
  return inertial;
}

std::size_t AddBody(KinematicTree& tree, std::string name, const BodyData& body, std::string mesh) {
  return tree.AddLink({std::move(name), BoxInertial(body), std::move(mesh)});
}

void AddFixed(KinematicTree& tree, std::string name, std::size_t parent, std::size_t child,
              const Vec3& xyz, const Vec3& rpy) {
  Joint joint;
  joint.name = std::move(name);
  joint.type = JointType::kFixed;
  joint.parent = parent;
  joint.child = child;
  joint.xyz = V(xyz);
  joint.rpy = V(rpy);
  tree.AddJoint(std::move(joint));
}

// Adds `segments` as a serial chain below `parent`, the first joint placed at `first_xyz` (when
// given) instead of its own position. Returns the last link.
std::size_t AddSerial(KinematicTree& tree, const std::string& prefix, std::size_t parent,
                      std::span<const SegmentData> segments, const char* mesh_folder,
                      const Vec3* first_xyz = nullptr) {
  for (const SegmentData& segment : segments) {
    const std::string link_name = prefix + segment.link;
    const std::size_t child =
        segment.mesh ? AddBody(tree, link_name, segment.body, MeshPath(mesh_folder, segment.mesh))
                     : tree.AddLink({link_name, std::nullopt, ""});
    Joint joint;
    joint.name = prefix + segment.joint;
    joint.type = segment.type;
    joint.parent = parent;
    joint.child = child;
    joint.xyz = V(first_xyz && &segment == segments.data() ? *first_xyz : segment.xyz);
    joint.rpy = V(segment.rpy);
    joint.axis = V(segment.axis);
    joint.limits = segment.limits;
    tree.AddJoint(std::move(joint));
    parent = child;
  }
  return parent;
}

// Mounts Olvar-L arm `number` on `parent` at the given pose and ends it in its flange link. A
// home posture suited to the mounting replaces the standing arm's.
void AddArm(KinematicTree& tree, const std::string& product, unsigned number, std::size_t parent,
            const Vec3& xyz, const Vec3& rpy, const ArmPosture* home = nullptr) {
  std::array<SegmentData, kArmJoints> segments = kArm;
  for (std::size_t k = 0; home && k < kArmJoints; ++k) segments[k].limits.home = (*home)[k];
  const std::string prefix = product + ".arm" + std::to_string(number) + ".";
  const std::size_t base =
      AddBody(tree, prefix + "link0", kArmBase, MeshPath("olvar_l", "link0.stl"));
  AddFixed(tree, prefix + "mount", parent, base, xyz, rpy);
  const std::size_t last = AddSerial(tree, prefix, base, segments, "olvar_l");
  const std::size_t flange =
      AddBody(tree, prefix + "flange", kFlange, MeshPath("olvar_l", "flange.stl"));
  AddFixed(tree, prefix + "flange_joint", last, flange, kFlangeOffset, {0, 0, 0});
}

// Both TAVU arms on the shoulders of `chest`.
void AddTavuArms(KinematicTree& tree, const std::string& product, std::size_t chest,
                 double shoulder_height) {
  AddArm(tree, product, 1, chest, {0, kShoulderHalfWidth, shoulder_height}, {-kPi / 2, 0, 0},
         &kTavuArm1Home);
  AddArm(tree, product, 2, chest, {0, -kShoulderHalfWidth, shoulder_height}, {kPi / 2, 0, 0},
         &kTavuArm2Home);
}

void BuildRobot(KinematicTree& tree, ProductModel product, const std::string& p) {
  const std::size_t world = 0;
  switch (product) {
    case ProductModel::Olvar_L:
      AddArm(tree, p, 1, world, {0, 0, 0}, {0, 0, 0});
      return;
    case ProductModel::Olvar_LL: {
      const std::size_t pedestal =
          AddBody(tree, p + ".pedestal", kOlvarLLPedestal, MeshPath("olvar_ll", "pedestal.stl"));
      AddFixed(tree, p + ".pedestal.mount", world, pedestal, {0, 0, 0}, {0, 0, 0});
      AddArm(tree, p, 1, pedestal, {0, kOlvarLLMountHalfWidth, kOlvarLLMountHeight},
             {-kOlvarLLMountRoll, kOlvarLLMountPitch, kOlvarLLMountYaw}, &kOlvarLLArm1Home);
      AddArm(tree, p, 2, pedestal, {0, -kOlvarLLMountHalfWidth, kOlvarLLMountHeight},
             {kOlvarLLMountRoll, kOlvarLLMountPitch, -kOlvarLLMountYaw}, &kOlvarLLArm2Home);
      return;
    }
    case ProductModel::TAVU_Core: {
      const std::size_t body =
          AddBody(tree, p + ".body", kTavuCoreBody, MeshPath("tavu", "body.stl"));
      AddFixed(tree, p + ".body.mount", world, body, {0, 0, 0}, {0, 0, 0});
      AddTavuArms(tree, p, body, kTavuCoreShoulderHeight);
      return;
    }
    case ProductModel::TAVU_Plus: {
      const std::size_t pedestal =
          AddBody(tree, p + ".pedestal", kTavuPlusPedestal, MeshPath("tavu", "pedestal.stl"));
      AddFixed(tree, p + ".pedestal.mount", world, pedestal, {0, 0, 0}, {0, 0, 0});
      const std::size_t chest =
          AddSerial(tree, p + ".", pedestal, kTorso, "tavu", &kTavuPlusPanPosition);
      AddTavuArms(tree, p, chest, kTorsoShoulderHeight);
      return;
    }
    case ProductModel::TAVU_Ultra: {
      const std::size_t base = AddSerial(tree, p + ".", world, kMobileBase, "tavu_ultra");
      const std::size_t chest =
          AddSerial(tree, p + ".", base, kTorso, "tavu", &kTavuUltraPanPosition);
      AddTavuArms(tree, p, chest, kTorsoShoulderHeight);
      return;
    }
    case ProductModel::UNKNOWN:
      break;
  }
  throw std::invalid_argument("No robot model for product model value " +
                              std::to_string(static_cast<int>(product)));
}

void AddExternalAxes(KinematicTree& tree, const std::string& p, unsigned count) {
  if (count == 0) return;
  const std::size_t base =
      AddBody(tree, p + ".ext.base", kExtBase, MeshPath("ext_axis", "base.stl"));
  AddFixed(tree, p + ".ext.mount", 0, base, kExtBasePosition, kExtBaseRpy);
  AddSerial(tree, p + ".", base, std::span(kExtAxes).first(count), "ext_axis");
}

// Index of the joint named `name` in `joints`.
int IndexOf(const std::vector<JointSpec>& joints, const std::string& name) {
  const auto it = std::find_if(joints.begin(), joints.end(),
                               [&](const JointSpec& j) { return j.name == name; });
  if (it == joints.end()) throw std::logic_error("Robot model has no joint " + name);
  return static_cast<int>(it - joints.begin());
}

// Start of the `count` joints `prefix` + 1 .. `prefix` + count, which must be consecutive.
int ConsecutiveStart(const std::vector<JointSpec>& joints, const std::string& prefix,
                     unsigned count) {
  const int start = IndexOf(joints, prefix + "1");
  for (unsigned k = 2; k <= count; ++k) {
    if (IndexOf(joints, prefix + std::to_string(k)) != start + static_cast<int>(k) - 1) {
      throw std::logic_error("Joints " + prefix + "* are not consecutive in full-DoF order");
    }
  }
  return start;
}

}  // namespace

RobotModel MakeRobotModel(ProductModel product, unsigned ext_axes) {
  if (ext_axes > vyr::kMaxExtAxes) {
    throw std::invalid_argument("A robot has at most " + std::to_string(vyr::kMaxExtAxes) +
                                " external axes, not " + std::to_string(ext_axes));
  }
  const auto name = vyr::kProductModelNames.find(product);
  if (product == ProductModel::UNKNOWN || name == vyr::kProductModelNames.end()) {
    throw std::invalid_argument("No robot model for product model value " +
                                std::to_string(static_cast<int>(product)));
  }

  RobotModel model;
  model.product_ = product;
  model.product_name_ = name->second;
  model.ext_axes_ = ext_axes;

  KinematicTree& tree = model.tree_;
  tree.AddLink({"world", std::nullopt, ""});
  BuildRobot(tree, product, model.product_name_);
  // The positioner hangs from the world after the robot, so its axes come last in full-DoF order.
  AddExternalAxes(tree, model.product_name_, ext_axes);

  // Coordinates are numbered in depth-first order, the order in which a URDF parser meets them.
  std::vector<int> coordinate_of_joint(tree.joint_list().size(), -1);
  for (std::size_t j : tree.DepthFirstJoints()) {
    const Joint& joint = tree.joint_list()[j];
    if (joint.type == JointType::kFixed) continue;
    coordinate_of_joint[j] = static_cast<int>(model.joints_.size());
    const JointLimits& l = joint.limits;
    model.joints_.push_back({joint.name, l.q_min, l.q_max, l.dq_max, l.ddq_max, l.tau_max, l.home,
                             joint.type == JointType::kPrismatic});
  }

  const std::string& p = model.product_name_;
  const bool two_arms = product != ProductModel::Olvar_L;
  model.groups_[JointGroup::ALL] = {0, model.full_dof()};
  const int arm1 = ConsecutiveStart(model.joints_, p + ".arm1.joint", kArmJoints);
  model.groups_[JointGroup::ARM_1] = {arm1, kArmJoints};
  model.arms_.push_back(JointGroup::ARM_1);
  if (two_arms) {
    const int arm2 = ConsecutiveStart(model.joints_, p + ".arm2.joint", kArmJoints);
    if (arm2 != arm1 + static_cast<int>(kArmJoints)) {
      throw std::logic_error("The second arm does not follow the first in full-DoF order");
    }
    model.groups_[JointGroup::ARMS] = {arm1, 2 * kArmJoints};
    model.groups_[JointGroup::ARM_2] = {arm2, kArmJoints};
    model.arms_.push_back(JointGroup::ARM_2);
  }
  if (ext_axes > 0) {
    const int start = ConsecutiveStart(model.joints_, p + ".ext.axis", ext_axes);
    if (start + ext_axes != model.full_dof()) {
      throw std::logic_error("The external axes are not last in full-DoF order");
    }
    model.groups_[JointGroup::EXT_AXIS] = {start, ext_axes};
  }

  for (JointGroup arm : model.arms_) {
    const std::string flange = p + (arm == JointGroup::ARM_1 ? ".arm1.flange" : ".arm2.flange");
    model.flange_chains_.emplace_back(tree, tree.FindLink(flange), coordinate_of_joint);
  }
  model.urdf_ = WriteUrdf(p, tree);
  return model;
}

const KinematicChain& RobotModel::ArmChain(JointGroup arm, std::span<const double> q) const {
  const auto it = std::find(arms_.begin(), arms_.end(), arm);
  if (it == arms_.end()) {
    const auto group_name = vyr::kJointGroupNames.find(arm);
    throw std::invalid_argument("Robot " + product_name_ + " has no arm group " +
                                (group_name != vyr::kJointGroupNames.end()
                                     ? group_name->second
                                     : std::to_string(static_cast<int>(arm))));
  }
  if (q.size() < joints_.size()) {
    throw std::invalid_argument("Flange pose needs " + std::to_string(joints_.size()) +
                                " joint positions, got " + std::to_string(q.size()));
  }
  return flange_chains_[it - arms_.begin()];
}

std::array<double, 7> RobotModel::FlangePose(JointGroup arm, std::span<const double> q) const {
  const Eigen::Isometry3d pose = ArmChain(arm, q).Pose(q);
  Eigen::Quaterniond rotation(pose.linear());
  rotation.normalize();
  if (rotation.w() < 0) rotation.coeffs() = -rotation.coeffs();
  const Eigen::Vector3d& t = pose.translation();
  return {t.x(), t.y(), t.z(), rotation.w(), rotation.x(), rotation.y(), rotation.z()};
}

Eigen::Matrix<double, 6, Eigen::Dynamic> RobotModel::ArmJacobian(
    JointGroup arm, std::span<const double> q, const Eigen::Vector3d& point) const {
  const KinematicChain& chain = ArmChain(arm, q);
  const auto [start, dof] = groups_.at(arm);
  return chain.Jacobian(q.first(joints_.size()), point).middleCols(start, dof);
}

std::optional<ProductModel> ProductModelFromName(std::string_view name) {
  for (const auto& [product, text] : vyr::kProductModelNames) {
    if (product != ProductModel::UNKNOWN && text == name) return product;
  }
  return std::nullopt;
}

}  // namespace korvo::sim
