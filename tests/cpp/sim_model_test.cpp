// The simulated robots' models: joint-group layout, limits, the URDF they hand out, and flange
// forward kinematics checked against the URDF read back independently and against hand-computed
// poses.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <Eigen/Dense>

#include "korvo/vyr/name_tables.hpp"
#include "sim/robot_model.hpp"

namespace korvo::sim {
namespace {

using vyr::JointGroup;
using vyr::ProductModel;
constexpr double kPi = std::numbers::pi;

// ---- A URDF reader of its own, so that the tests do not trust the writer's view of the text.

struct UrdfJoint {
  std::string name, type, parent, child;
  Eigen::Vector3d xyz = Eigen::Vector3d::Zero(), rpy = Eigen::Vector3d::Zero();
  Eigen::Vector3d axis = Eigen::Vector3d::UnitX();  // the URDF default
  bool has_limit = false;
  std::optional<double> lower, upper;
  double effort = 0, velocity = 0;
};

struct UrdfLink {
  std::string name;
  std::optional<double> mass;
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();
  std::vector<std::string> collision_meshes;
};

struct Urdf {
  std::string robot_name;
  std::vector<UrdfLink> links;
  std::vector<UrdfJoint> joints;  // document order
};

Eigen::Vector3d ReadTriple(const tinyxml2::XMLElement* element, const char* attribute,
                           const Eigen::Vector3d& fallback) {
  const char* text = element ? element->Attribute(attribute) : nullptr;
  if (!text) return fallback;
  std::istringstream in(text);
  Eigen::Vector3d v;
  in >> v.x() >> v.y() >> v.z();
  EXPECT_FALSE(in.fail()) << "not three numbers: " << text;
  return v;
}

std::optional<double> ReadNumber(const tinyxml2::XMLElement* element, const char* attribute) {
  double value = 0;
  if (!element || element->QueryDoubleAttribute(attribute, &value) != tinyxml2::XML_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

Urdf ReadUrdf(const std::string& text) {
  Urdf urdf;
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) {
    ADD_FAILURE() << "URDF does not parse: " << doc.ErrorStr();
    return urdf;
  }
  const tinyxml2::XMLElement* robot = doc.FirstChildElement("robot");
  if (!robot) {
    ADD_FAILURE() << "URDF has no <robot>";
    return urdf;
  }
  urdf.robot_name = robot->Attribute("name") ? robot->Attribute("name") : "";
  for (auto* e = robot->FirstChildElement("link"); e; e = e->NextSiblingElement("link")) {
    UrdfLink link;
    link.name = e->Attribute("name") ? e->Attribute("name") : "";
    if (const auto* inertial = e->FirstChildElement("inertial")) {
      link.mass = ReadNumber(inertial->FirstChildElement("mass"), "value");
      const auto* i = inertial->FirstChildElement("inertia");
      auto get = [&](const char* name) { return ReadNumber(i, name).value_or(NAN); };
      link.inertia << get("ixx"), get("ixy"), get("ixz"), get("ixy"), get("iyy"), get("iyz"),
          get("ixz"), get("iyz"), get("izz");
    }
    for (auto* c = e->FirstChildElement("collision"); c; c = c->NextSiblingElement("collision")) {
      const auto* geometry = c->FirstChildElement("geometry");
      const auto* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
      if (mesh && mesh->Attribute("filename")) {
        link.collision_meshes.push_back(mesh->Attribute("filename"));
      }
    }
    urdf.links.push_back(std::move(link));
  }
  for (auto* e = robot->FirstChildElement("joint"); e; e = e->NextSiblingElement("joint")) {
    UrdfJoint joint;
    joint.name = e->Attribute("name") ? e->Attribute("name") : "";
    joint.type = e->Attribute("type") ? e->Attribute("type") : "";
    const auto* parent = e->FirstChildElement("parent");
    const auto* child = e->FirstChildElement("child");
    joint.parent = parent && parent->Attribute("link") ? parent->Attribute("link") : "";
    joint.child = child && child->Attribute("link") ? child->Attribute("link") : "";
    const auto* origin = e->FirstChildElement("origin");
    joint.xyz = ReadTriple(origin, "xyz", Eigen::Vector3d::Zero());
    joint.rpy = ReadTriple(origin, "rpy", Eigen::Vector3d::Zero());
    joint.axis = ReadTriple(e->FirstChildElement("axis"), "xyz", Eigen::Vector3d::UnitX());
    if (const auto* limit = e->FirstChildElement("limit")) {
      joint.has_limit = true;
      joint.lower = ReadNumber(limit, "lower");
      joint.upper = ReadNumber(limit, "upper");
      joint.effort = ReadNumber(limit, "effort").value_or(0);
      joint.velocity = ReadNumber(limit, "velocity").value_or(0);
    }
    urdf.joints.push_back(std::move(joint));
  }
  return urdf;
}

bool IsMovable(const UrdfJoint& joint) { return joint.type != "fixed"; }

// Joints in depth-first order from the single root link, children in document order.
std::vector<const UrdfJoint*> DepthFirst(const Urdf& urdf) {
  std::map<std::string, std::vector<const UrdfJoint*>> children;
  std::map<std::string, int> parents;
  for (const UrdfJoint& joint : urdf.joints) {
    children[joint.parent].push_back(&joint);
    ++parents[joint.child];
  }
  std::vector<std::string> roots;
  for (const UrdfLink& link : urdf.links) {
    if (parents[link.name] == 0) roots.push_back(link.name);
    EXPECT_LE(parents[link.name], 1) << link.name << " has several parents";
  }
  std::vector<const UrdfJoint*> order;
  if (roots.size() != 1) {
    ADD_FAILURE() << "URDF has " << roots.size() << " root links";
    return order;
  }
  auto visit = [&](auto&& self, const std::string& link) -> void {
    for (const UrdfJoint* joint : children[link]) {
      order.push_back(joint);
      self(self, joint->child);
    }
  };
  visit(visit, roots.front());
  return order;
}

// Pose of `link` in the root frame, composing the URDF's joint origins and motions along the way.
Eigen::Isometry3d ComposeToLink(const Urdf& urdf, const std::string& link,
                                const std::map<std::string, double>& q) {
  std::vector<const UrdfJoint*> path;
  for (std::string at = link;;) {
    const auto it = std::find_if(urdf.joints.begin(), urdf.joints.end(),
                                 [&](const UrdfJoint& j) { return j.child == at; });
    if (it == urdf.joints.end()) break;
    path.push_back(&*it);
    at = it->parent;
  }
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    const UrdfJoint& joint = **it;
    pose.translate(joint.xyz);
    pose.rotate(Eigen::AngleAxisd(joint.rpy.z(), Eigen::Vector3d::UnitZ()));
    pose.rotate(Eigen::AngleAxisd(joint.rpy.y(), Eigen::Vector3d::UnitY()));
    pose.rotate(Eigen::AngleAxisd(joint.rpy.x(), Eigen::Vector3d::UnitX()));
    if (!IsMovable(joint)) continue;
    const double value = q.at(joint.name);
    const Eigen::Vector3d axis = joint.axis.normalized();
    if (joint.type == "prismatic") {
      pose.translate(axis * value);
    } else {
      pose.rotate(Eigen::AngleAxisd(value, axis));
    }
  }
  return pose;
}

Eigen::Matrix3d RotationOf(const std::array<double, 7>& pose) {
  return Eigen::Quaterniond(pose[3], pose[4], pose[5], pose[6]).normalized().toRotationMatrix();
}

Eigen::Vector3d PositionOf(const std::array<double, 7>& pose) {
  return {pose[0], pose[1], pose[2]};
}

// Smallest singular value of the flange Jacobian of `arm` with respect to its own seven joints,
// by central differences (linear velocity rows, then angular velocity in the world frame).
double SmallestSingularValue(const RobotModel& model, JointGroup arm, std::vector<double> q) {
  const auto [start, dof] = model.groups().at(arm);
  constexpr double h = 1e-6;
  Eigen::MatrixXd J(6, dof);
  for (unsigned k = 0; k < dof; ++k) {
    std::vector<double> plus = q, minus = q;
    plus[start + k] += h;
    minus[start + k] -= h;
    const auto a = model.FlangePose(arm, plus);
    const auto b = model.FlangePose(arm, minus);
    const Eigen::AngleAxisd turn(RotationOf(a) * RotationOf(b).transpose());
    J.col(k) << (PositionOf(a) - PositionOf(b)) / (2 * h), turn.axis() * turn.angle() / (2 * h);
  }
  return Eigen::JacobiSVD<Eigen::MatrixXd>(J).singularValues().minCoeff();
}

std::vector<double> HomePosture(const RobotModel& model) {
  std::vector<double> q;
  for (const JointSpec& joint : model.joints()) q.push_back(joint.home);
  return q;
}

// ---- The product models, with layouts counted by hand.

struct ModelCase {
  ProductModel product;
  unsigned ext_axes;
  unsigned full_dof;
  int arm1_start;
  bool two_arms;
};

std::string CaseName(const testing::TestParamInfo<ModelCase>& info) {
  std::string name = vyr::kProductModelNames.at(info.param.product);
  std::replace(name.begin(), name.end(), '-', '_');
  return name + "_ext" + std::to_string(info.param.ext_axes);
}

class RobotModelTest : public testing::TestWithParam<ModelCase> {
 protected:
  void SetUp() override {
    model_.emplace(MakeRobotModel(GetParam().product, GetParam().ext_axes));
    urdf_ = ReadUrdf(model_->urdf());
  }

  const RobotModel& model() const { return *model_; }

  std::optional<RobotModel> model_;
  Urdf urdf_;
};

TEST_P(RobotModelTest, GroupsHaveTheProductLayout) {
  const ModelCase& c = GetParam();
  std::map<JointGroup, std::pair<int, unsigned>> expected = {
      {JointGroup::ALL, {0, c.full_dof}}, {JointGroup::ARM_1, {c.arm1_start, 7}}};
  std::vector<JointGroup> arms = {JointGroup::ARM_1};
  if (c.two_arms) {
    expected[JointGroup::ARMS] = {c.arm1_start, 14};
    expected[JointGroup::ARM_2] = {c.arm1_start + 7, 7};
    arms.push_back(JointGroup::ARM_2);
  }
  if (c.ext_axes > 0) {
    expected[JointGroup::EXT_AXIS] = {static_cast<int>(c.full_dof - c.ext_axes), c.ext_axes};
  }
  EXPECT_EQ(model().groups(), expected);
  EXPECT_EQ(model().arms(), arms);
  EXPECT_EQ(model().full_dof(), c.full_dof);
  EXPECT_EQ(model().joints().size(), c.full_dof);
  EXPECT_EQ(model().product(), c.product);
  EXPECT_EQ(model().product_name(), vyr::kProductModelNames.at(c.product));
  EXPECT_EQ(model().ext_axes(), c.ext_axes);
}

TEST_P(RobotModelTest, JointLimitsAreAcceptedByTheClient) {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  std::map<std::string, int> names;
  for (const JointSpec& j : model().joints()) {
    SCOPED_TRACE(j.name);
    ++names[j.name];
    for (double limit : {j.q_min, j.q_max, j.dq_max, j.ddq_max, j.tau_max}) {
      EXPECT_TRUE(std::isfinite(limit));
      EXPECT_GE(std::abs(limit), eps);
    }
    EXPECT_LT(j.q_min, j.home);
    EXPECT_LT(j.home, j.q_max);
    if (!j.prismatic) {
      EXPECT_LT(j.q_min, 0.0);
      EXPECT_GT(j.q_max, 0.0);
    }
    EXPECT_GT(j.dq_max, 0.0);
    EXPECT_LE(j.dq_max, 5.0);
    EXPECT_GT(j.ddq_max, 0.0);
    EXPECT_GT(j.tau_max, 0.0);
  }
  for (const auto& [name, count] : names) EXPECT_EQ(count, 1) << name;
}

TEST_P(RobotModelTest, UrdfMovableJointsFollowFullDofOrder) {
  std::vector<const UrdfJoint*> movable;
  for (const UrdfJoint* joint : DepthFirst(urdf_)) {
    if (IsMovable(*joint)) movable.push_back(joint);
  }
  ASSERT_EQ(movable.size(), model().joints().size());
  for (std::size_t i = 0; i < movable.size(); ++i) {
    const UrdfJoint& u = *movable[i];
    const JointSpec& j = model().joints()[i];
    SCOPED_TRACE(j.name);
    EXPECT_EQ(u.name, j.name);
    EXPECT_EQ(u.type == "prismatic", j.prismatic);
    ASSERT_TRUE(u.has_limit);
    EXPECT_DOUBLE_EQ(u.effort, j.tau_max);
    EXPECT_DOUBLE_EQ(u.velocity, j.dq_max);
    if (u.type == "continuous") continue;
    ASSERT_TRUE(u.type == "revolute" || u.type == "prismatic") << u.type;
    ASSERT_TRUE(u.lower && u.upper);
    EXPECT_DOUBLE_EQ(*u.lower, j.q_min);
    EXPECT_DOUBLE_EQ(*u.upper, j.q_max);
  }
}

TEST_P(RobotModelTest, UrdfHasOneFlangeLinkPerArmOnAFixedJoint) {
  for (const auto& [suffix, expected] :
       {std::pair<std::string, int>{".arm1.flange", 1}, {".arm2.flange", GetParam().two_arms}}) {
    int count = 0;
    for (const UrdfLink& link : urdf_.links) {
      if (!link.name.ends_with(suffix)) continue;
      ++count;
      const auto joint = std::find_if(urdf_.joints.begin(), urdf_.joints.end(),
                                      [&](const UrdfJoint& j) { return j.child == link.name; });
      ASSERT_NE(joint, urdf_.joints.end()) << link.name;
      EXPECT_EQ(joint->type, "fixed") << link.name;
    }
    EXPECT_EQ(count, expected) << suffix;
  }
}

TEST_P(RobotModelTest, UrdfLinksHavePhysicalInertiaAndPackageMeshes) {
  EXPECT_EQ(urdf_.links.size(), urdf_.joints.size() + 1);
  int bodies = 0;
  for (const UrdfLink& link : urdf_.links) {
    SCOPED_TRACE(link.name);
    for (const std::string& mesh : link.collision_meshes) {
      EXPECT_TRUE(mesh.starts_with("package://")) << mesh;
      EXPECT_TRUE(mesh.ends_with(".stl")) << mesh;
    }
    if (!link.mass) continue;
    ++bodies;
    EXPECT_GT(*link.mass, 0.0);
    EXPECT_EQ(link.collision_meshes.size(), 1u);
    ASSERT_TRUE(link.inertia.allFinite());
    const Eigen::Vector3d moments =
        Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(link.inertia).eigenvalues();  // ascending
    EXPECT_GT(moments(0), 0.0);
    EXPECT_GE(moments(0) + moments(1), moments(2) * (1 - 1e-12));
    // Real links are not aligned with their principal axes: the products of inertia are there.
    const Eigen::Matrix3d products =
        link.inertia - Eigen::Matrix3d(link.inertia.diagonal().asDiagonal());
    EXPECT_GT(products.cwiseAbs().maxCoeff(), 0.0);
  }
  EXPECT_GE(bodies, 9);  // at least an arm's base, seven links and flange
}

TEST_P(RobotModelTest, UrdfIsTheSameForTheSameRobot) {
  EXPECT_EQ(MakeRobotModel(GetParam().product, GetParam().ext_axes).urdf(), model().urdf());
  EXPECT_EQ(urdf_.robot_name, model().product_name());
}

TEST_P(RobotModelTest, FlangePoseEqualsTheUrdfChainAtRandomPostures) {
  std::mt19937 rng(1234);
  for (int trial = 0; trial < 25; ++trial) {
    std::vector<double> q;
    std::map<std::string, double> by_name;
    for (const JointSpec& j : model().joints()) {
      q.push_back(std::uniform_real_distribution<double>(j.q_min, j.q_max)(rng));
      by_name[j.name] = q.back();
    }
    for (JointGroup arm : model().arms()) {
      const std::string suffix = arm == JointGroup::ARM_1 ? ".arm1.flange" : ".arm2.flange";
      const auto flange = std::find_if(urdf_.links.begin(), urdf_.links.end(),
                                       [&](const UrdfLink& l) { return l.name.ends_with(suffix); });
      ASSERT_NE(flange, urdf_.links.end());
      const Eigen::Isometry3d expected = ComposeToLink(urdf_, flange->name, by_name);
      const std::array<double, 7> pose = model().FlangePose(arm, q);
      const Eigen::Vector4d quaternion(pose[3], pose[4], pose[5], pose[6]);
      EXPECT_NEAR(quaternion.norm(), 1.0, 1e-12);
      EXPECT_GE(pose[3], 0.0);
      EXPECT_TRUE(PositionOf(pose).isApprox(expected.translation(), 1e-9))
          << PositionOf(pose).transpose() << " vs " << expected.translation().transpose();
      EXPECT_TRUE(RotationOf(pose).isApprox(expected.linear(), 1e-9))
          << RotationOf(pose) << "\nvs\n"
          << expected.linear();
    }
  }
}

TEST_P(RobotModelTest, ArmJacobianIsTheDerivativeOfThePoseOfAPointOnTheFlange) {
  // A point off the flange, as a tool's TCP is: its velocity depends on where it lies.
  const Eigen::Vector3d point(0.03, -0.02, 0.12);
  std::mt19937 rng(4321);
  for (int trial = 0; trial < 10; ++trial) {
    std::vector<double> q;
    for (const JointSpec& j : model().joints()) {
      q.push_back(std::uniform_real_distribution<double>(j.q_min, j.q_max)(rng));
    }
    for (JointGroup arm : model().arms()) {
      SCOPED_TRACE(vyr::kJointGroupNames.at(arm));
      const auto [start, dof] = model().groups().at(arm);
      const auto point_at = [&](const std::vector<double>& at) {
        const auto pose = model().FlangePose(arm, at);
        return Eigen::Vector3d(PositionOf(pose) + RotationOf(pose) * point);
      };
      Eigen::MatrixXd expected(6, dof);
      constexpr double h = 1e-6;
      for (unsigned k = 0; k < dof; ++k) {
        std::vector<double> plus = q, minus = q;
        plus[start + k] += h;
        minus[start + k] -= h;
        const Eigen::AngleAxisd turn(RotationOf(model().FlangePose(arm, plus)) *
                                     RotationOf(model().FlangePose(arm, minus)).transpose());
        expected.col(k) << (point_at(plus) - point_at(minus)) / (2 * h),
            turn.axis() * turn.angle() / (2 * h);
      }
      const Eigen::MatrixXd jacobian = model().ArmJacobian(arm, q, point);
      ASSERT_EQ(jacobian.rows(), 6);
      ASSERT_EQ(jacobian.cols(), static_cast<Eigen::Index>(dof));
      EXPECT_TRUE(jacobian.isApprox(expected, 1e-6)) << jacobian << "\nvs\n" << expected;
    }
  }
}

TEST_P(RobotModelTest, HomePostureKeepsTheArmsAwayFromSingularities) {
  for (JointGroup arm : model().arms()) {
    SCOPED_TRACE(vyr::kJointGroupNames.at(arm));
    std::vector<double> q = HomePosture(model());
    EXPECT_GT(SmallestSingularValue(model(), arm, q), 0.1);
    // The same measure finds the upright arm singular: its first, third and fifth axes line up.
    const auto [start, dof] = model().groups().at(arm);
    std::fill(q.begin() + start, q.begin() + start + dof, 0.0);
    EXPECT_LT(SmallestSingularValue(model(), arm, q), 1e-6);
  }
}

INSTANTIATE_TEST_SUITE_P(AllProducts, RobotModelTest,
                         testing::Values(ModelCase{ProductModel::Olvar_L, 0, 7, 0, false},
                                         ModelCase{ProductModel::Olvar_L, 1, 8, 0, false},
                                         ModelCase{ProductModel::Olvar_L, 6, 13, 0, false},
                                         ModelCase{ProductModel::Olvar_LL, 0, 14, 0, true},
                                         ModelCase{ProductModel::Olvar_LL, 2, 16, 0, true},
                                         ModelCase{ProductModel::TAVU_Core, 0, 14, 0, true},
                                         ModelCase{ProductModel::TAVU_Core, 3, 17, 0, true},
                                         ModelCase{ProductModel::TAVU_Plus, 0, 16, 2, true},
                                         ModelCase{ProductModel::TAVU_Plus, 6, 22, 2, true},
                                         ModelCase{ProductModel::TAVU_Ultra, 0, 19, 5, true},
                                         ModelCase{ProductModel::TAVU_Ultra, 1, 20, 5, true},
                                         ModelCase{ProductModel::TAVU_Ultra, 6, 25, 5, true}),
                         CaseName);

// ---- Hand-computed poses.

// The Olvar-L arm stands on the world origin: shoulder axis at 0.36 m, elbow 0.42 m above it,
// wrist 0.40 m above that, a 0.075 m elbow offset out and back, a 0.085 m wrist offset, and the
// flange 0.115 m down the last axis, which points down at zero.
struct HandPose {
  const char* what;
  std::vector<double> q;
  Eigen::Vector3d position;
  Eigen::Matrix3d rotation;
};

TEST(OlvarLFlangePose, MatchesHandComputedPoses) {
  const RobotModel model = MakeRobotModel(ProductModel::Olvar_L, 0);
  const Eigen::Matrix3d down = Eigen::AngleAxisd(kPi, Eigen::Vector3d::UnitX()).toRotationMatrix();
  const std::vector<HandPose> cases = {
      {"zero", {0, 0, 0, 0, 0, 0, 0}, {0.085, 0, 1.065}, down},
      {"base turned a quarter",
       {kPi / 2, 0, 0, 0, 0, 0, 0},
       {0, 0.085, 1.065},
       Eigen::AngleAxisd(kPi / 2, Eigen::Vector3d::UnitZ()) * down},
      // Joint 2 turns about +y through the shoulder: (0.085, 1.065 - 0.36) becomes (0.705, -0.085).
      {"shoulder forward a quarter",
       {0, kPi / 2, 0, 0, 0, 0, 0},
       {0.705, 0, 0.36 - 0.085},
       Eigen::AngleAxisd(kPi / 2, Eigen::Vector3d::UnitY()) * down},
      // Joint 7 spins the flange about its own axis without moving it.
      {"flange spun",
       {0, 0, 0, 0, 0, 0, 1.0},
       {0.085, 0, 1.065},
       down * Eigen::AngleAxisd(1.0, Eigen::Vector3d::UnitZ())},
  };
  for (const HandPose& c : cases) {
    SCOPED_TRACE(c.what);
    const auto pose = model.FlangePose(JointGroup::ARM_1, c.q);
    EXPECT_TRUE(PositionOf(pose).isApprox(c.position, 1e-12)) << PositionOf(pose).transpose();
    EXPECT_TRUE(RotationOf(pose).isApprox(c.rotation, 1e-12)) << RotationOf(pose);
  }
}

TEST(TavuUltraFlangePose, MobileBaseCarriesBothArms) {
  const RobotModel model = MakeRobotModel(ProductModel::TAVU_Ultra, 0);
  const std::vector<double> home = HomePosture(model);
  std::vector<double> moved = home;
  moved[0] += 1.5;      // x
  moved[1] -= 0.5;      // y
  moved[2] += kPi / 2;  // yaw
  const Eigen::AngleAxisd yaw(kPi / 2, Eigen::Vector3d::UnitZ());
  for (JointGroup arm : model.arms()) {
    const auto before = model.FlangePose(arm, home);
    const auto after = model.FlangePose(arm, moved);
    EXPECT_TRUE(PositionOf(after).isApprox(yaw * PositionOf(before) + Eigen::Vector3d(1.5, -0.5, 0),
                                           1e-12));
    EXPECT_TRUE(RotationOf(after).isApprox(yaw * RotationOf(before), 1e-12));
  }
}

TEST(FlangePose, RejectsGroupsThatAreNotArmsOfTheRobot) {
  const RobotModel single = MakeRobotModel(ProductModel::Olvar_L, 2);
  const std::vector<double> q(single.full_dof(), 0.0);
  for (JointGroup group : {JointGroup::ARM_2, JointGroup::ARMS, JointGroup::ALL,
                           JointGroup::EXT_AXIS, JointGroup::UNKNOWN}) {
    EXPECT_THROW(single.FlangePose(group, q), std::invalid_argument)
        << vyr::kJointGroupNames.at(group);
  }
  const RobotModel dual = MakeRobotModel(ProductModel::TAVU_Core, 0);
  const std::vector<double> dual_q(dual.full_dof(), 0.0);
  EXPECT_THROW(dual.FlangePose(JointGroup::ARMS, dual_q), std::invalid_argument);
  EXPECT_NO_THROW(dual.FlangePose(JointGroup::ARM_2, dual_q));
  // Every full-DoF position is needed, even those the chain does not use.
  EXPECT_THROW(single.FlangePose(JointGroup::ARM_1, std::vector<double>(7, 0.0)),
               std::invalid_argument);
  // The Jacobian checks the same.
  EXPECT_THROW(single.ArmJacobian(JointGroup::ARM_2, q), std::invalid_argument);
  EXPECT_THROW(single.ArmJacobian(JointGroup::ARM_1, std::vector<double>(7, 0.0)),
               std::invalid_argument);
}

TEST(MakeRobotModel, RejectsUnknownProductsAndTooManyExternalAxes) {
  EXPECT_THROW(MakeRobotModel(ProductModel::UNKNOWN, 0), std::invalid_argument);
  EXPECT_THROW(MakeRobotModel(static_cast<ProductModel>(6), 0), std::invalid_argument);
  EXPECT_THROW(MakeRobotModel(ProductModel::Olvar_L, 7), std::invalid_argument);
  EXPECT_EQ(MakeRobotModel(ProductModel::Olvar_L, 6).ext_axes(), 6u);
}

TEST(ProductModelFromName, MatchesExactNamesOnly) {
  for (const auto& [product, name] : vyr::kProductModelNames) {
    if (product == ProductModel::UNKNOWN) continue;
    EXPECT_EQ(ProductModelFromName(name), product) << name;
  }
  for (const char* name :
       {"UNKNOWN", "olvar-L", "Olvar_L", "Olvar-L ", "Olvar", "TAVU-Ultra-1", ""}) {
    EXPECT_EQ(ProductModelFromName(name), std::nullopt) << name;
  }
}

}  // namespace
}  // namespace korvo::sim
