// Our URDF reader and the Pinocchio model built from it: what is refused and why, the order of
// links, joints and coordinates, fixed links as frames, a continuous joint as one coordinate,
// normalised axes, and attached bodies.
#include <pinocchio/fwd.hpp>

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <cmath>
#include <pinocchio/algorithm/frames.hpp>
#include <pinocchio/algorithm/jacobian.hpp>
#include <pinocchio/algorithm/kinematics.hpp>
#include <pinocchio/algorithm/rnea.hpp>
#include <pinocchio/multibody/data.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "case_name.hpp"
#include "model/rigid_body_model.hpp"
#include "model/urdf_reader.hpp"

namespace korvo::vyr_impl {
namespace {

using test::PrintTo;

std::string Robot(const std::string& body) { return "<robot name=\"r\">" + body + "</robot>"; }

std::string Joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& child, const std::string& extra = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent +
         "\"/><child link=\"" + child + "\"/>" + extra + "</joint>";
}

struct Refusal {
  const char* name;
  std::string urdf;
  std::string message;
};

std::vector<Refusal> Refusals() {
  const std::string ab = "<link name=\"a\"/><link name=\"b\"/>";
  return {
      {"NotXml", "<robot", "Not XML: "},
      {"NoRobot", "<model/>", "No <robot> element"},
      {"NoLinks", Robot(""), "No links"},
      {"LinkWithoutName", Robot("<link/>"), "A link without a name"},
      {"LinkTwice", Robot("<link name=\"a\"/><link name=\"a\"/>"), "Link [a] defined twice"},
      {"JointWithoutName", Robot(ab + Joint("", "fixed", "a", "b")), "A joint without a name"},
      {"JointTwice",
       Robot(ab + "<link name=\"c\"/>" + Joint("j", "fixed", "a", "b") +
             Joint("j", "fixed", "a", "c")),
       "Joint [j] defined twice"},
      {"FloatingJoint", Robot(ab + Joint("j", "floating", "a", "b")),
       "Unsupported type [floating] of joint [j]"},
      {"PlanarJoint", Robot(ab + Joint("j", "planar", "a", "b")),
       "Unsupported type [planar] of joint [j]"},
      {"NoType", Robot(ab + "<joint name=\"j\"><parent link=\"a\"/><child link=\"b\"/></joint>"),
       "Unsupported type [] of joint [j]"},
      {"NoParent", Robot(ab + "<joint name=\"j\" type=\"fixed\"><child link=\"b\"/></joint>"),
       "No parent link of joint [j]"},
      {"NoChild", Robot(ab + "<joint name=\"j\" type=\"fixed\"><parent link=\"a\"/></joint>"),
       "No child link of joint [j]"},
      {"UnknownParent", Robot(ab + Joint("j", "fixed", "x", "b")),
       "Unknown parent link [x] of joint [j]"},
      {"UnknownChild", Robot(ab + Joint("j", "fixed", "a", "x")),
       "Unknown child link [x] of joint [j]"},
      {"ParentOfTheRoot", Robot(ab + Joint("j", "fixed", "b", "a")),
       "The root link [a] has a parent joint"},
      {"TwoParents",
       Robot(ab + "<link name=\"c\"/>" + Joint("j", "fixed", "a", "c") +
             Joint("k", "fixed", "b", "c")),
       "Link [c] has two parent joints"},
      {"Disconnected", Robot(ab), "Link [b] is not connected"},
      {"ZeroAxis", Robot(ab + Joint("j", "revolute", "a", "b", "<axis xyz=\"0 0 0\"/>")),
       "Zero axis of joint [j]"},
      {"NaNAxis", Robot(ab + Joint("j", "revolute", "a", "b", "<axis xyz=\"0 nan 1\"/>")),
       "Malformed numbers in joint [j] axis xyz"},
      {"ShortOrigin", Robot(ab + Joint("j", "fixed", "a", "b", "<origin xyz=\"0 1\"/>")),
       "Malformed numbers in joint [j] origin xyz"},
      {"LongOrigin", Robot(ab + Joint("j", "fixed", "a", "b", "<origin rpy=\"0 1 2 3\"/>")),
       "Malformed numbers in joint [j] origin rpy"},
      {"WordInOrigin", Robot(ab + Joint("j", "fixed", "a", "b", "<origin xyz=\"0 1 x\"/>")),
       "Malformed numbers in joint [j] origin xyz"},
      {"InfiniteMass", Robot("<link name=\"a\"><inertial><mass value=\"inf\"/></inertial></link>"),
       "Malformed numbers in the inertial of link [a] mass value"},
      {"NegativeMass", Robot("<link name=\"a\"><inertial><mass value=\"-1\"/></inertial></link>"),
       "Negative mass in the inertial of link [a]"},
  };
}

class UrdfRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(UrdfRefusalTest, IsAnErrorNamingTheFault) {
  const auto& c = GetParam();
  try {
    BuildRigidBodyModel(ReadUrdf(c.urdf));
    FAIL() << "accepted";
  } catch (const UrdfError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UrdfRefusalTest, testing::ValuesIn(Refusals()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UrdfRefusalTest, ALoopAwayFromTheRootIsNotConnected) {
  // Every link has one parent, yet b and c only reach each other.
  const auto urdf = Robot("<link name=\"a\"/><link name=\"b\"/><link name=\"c\"/>" +
                          Joint("j", "fixed", "b", "c") + Joint("k", "fixed", "c", "b"));
  // The reader refuses it itself, as its description promises; the builder never sees it.
  try {
    ReadUrdf(urdf);
    FAIL() << "accepted";
  } catch (const UrdfError& e) {
    EXPECT_STREQ(e.what(), "Link [b] is not connected");
  }
}

TEST(UrdfReaderTest, AnAxisWhoseNormOverflowsIsStillMadeUnitLength) {
  // |(1, 1e308, 0)| overflows a plain norm; dividing by it would leave a zero axis.
  const auto description =
      ReadUrdf(Robot("<link name=\"a\"/><link name=\"b\"/>" +
                     Joint("j", "prismatic", "a", "b", "<axis xyz=\"1 1e308 0\"/>")));
  EXPECT_TRUE(description.joints.at(0).axis.isApprox(Eigen::Vector3d::UnitY(), 1e-12))
      << description.joints.at(0).axis.transpose();
  EXPECT_EQ(BuildRigidBodyModel(description).model.nq, 1);
}

// A root with two branches written out of order: the walk is depth-first from the root, children
// in the order their joints are written, whatever the order of the links.
const std::string kTree = Robot(
    "<link name=\"root\"/><link name=\"b2\"/><link name=\"a1\"/><link name=\"a2\"/>"
    "<link name=\"a1_tip\"/><link name=\"b1\"/>" +
    Joint("ja1", "revolute", "root", "a1",
          "<axis xyz=\"0 3 4\"/><limit lower=\"-1\" upper=\"1\" effort=\"5\" velocity=\"2\"/>") +
    Joint("jb1", "prismatic", "root", "b1", "<axis xyz=\"0 0 -2\"/><origin xyz=\"1 0 0\"/>") +
    Joint("ja1_tip", "fixed", "a1", "a1_tip", "<origin xyz=\"0 0 0.5\"/>") +
    Joint("ja2", "continuous", "a1_tip", "a2", "<axis xyz=\"1 0 0\"/>") +
    Joint("jb2", "revolute", "b1", "b2"));

TEST(RigidBodyModelTest, WalksDepthFirstWithChildrenInDocumentOrder) {
  const auto built = BuildRigidBodyModel(ReadUrdf(kTree));
  EXPECT_EQ(built.link_names, (std::vector<std::string>{"root", "a1", "a1_tip", "a2", "b1", "b2"}));
  EXPECT_EQ(built.joint_names, (std::vector<std::string>{"ja1", "ja2", "jb1", "jb2"}));
  // One coordinate per movable joint, the continuous one included, in the same order.
  EXPECT_EQ(built.model.nq, 4);
  EXPECT_EQ(built.model.nv, 4);
  for (std::size_t i = 0; i < built.joint_names.size(); ++i) {
    const auto id = built.model.getJointId(built.joint_names[i]);
    EXPECT_EQ(built.model.idx_qs[id], static_cast<int>(i)) << built.joint_names[i];
  }
  // A continuous joint has no position limits; a revolute one keeps its own.
  const auto ja1 = built.model.idx_qs[built.model.getJointId("ja1")];
  EXPECT_EQ(built.model.upperPositionLimit[ja1], 1.0);
  EXPECT_EQ(built.model.effortLimit[ja1], 5.0);
  EXPECT_TRUE(std::isinf(
      built.model.upperPositionLimit[built.model.idx_qs[built.model.getJointId("ja2")]]));
}

TEST(RigidBodyModelTest, AxesAreNormalisedAndFixedLinksMoveWithTheirBody) {
  const auto built = BuildRigidBodyModel(ReadUrdf(kTree));
  pinocchio::Data data(built.model);
  const Eigen::VectorXd q = (Eigen::VectorXd(4) << 0.3, 0.2, 0.25, -0.4).finished();
  pinocchio::computeJointJacobians(built.model, data, q);
  pinocchio::updateFramePlacements(built.model, data);
  Eigen::MatrixXd j = Eigen::MatrixXd::Zero(6, 4);
  // a1_tip sits 0.5 along z of a1, which turns about (0, 3, 4) normalised.
  const auto tip = built.link_frames[2];
  const Eigen::Vector3d axis(0, 0.6, 0.8);
  pinocchio::getFrameJacobian(built.model, data, tip, pinocchio::LOCAL_WORLD_ALIGNED, j);
  const Eigen::Vector3d angular = j.block(3, 0, 3, 1), linear = j.block(0, 0, 3, 1);
  EXPECT_TRUE(angular.isApprox(axis, 1e-12)) << j;
  EXPECT_TRUE(linear.isApprox(axis.cross(data.oMf[tip].translation()), 1e-12)) << j;
  EXPECT_NEAR((data.oMf[tip].translation() - data.oMf[built.link_frames[1]].translation()).norm(),
              0.5, 1e-12);
  // The prismatic joint slides along -z, by 0.25.
  const auto b1 = built.link_frames[4];
  EXPECT_TRUE(data.oMf[b1].translation().isApprox(Eigen::Vector3d(1, 0, -0.25), 1e-12));
}

TEST(RigidBodyModelTest, AnAttachedBodyComesAfterTheChildrenOfItsLinkAndAddsItsWeight) {
  AttachedBody tool;
  tool.name = "tool";
  tool.joint_name = "tool_joint";
  tool.parent_link = "a1";
  tool.placement.translation() = Eigen::Vector3d(0, 0, 1);
  tool.mass = 2.0;
  const auto description = ReadUrdf(kTree);
  const auto built = BuildRigidBodyModel(description, {tool});
  EXPECT_EQ(built.link_names,
            (std::vector<std::string>{"root", "a1", "a1_tip", "a2", "tool", "b1", "b2"}));
  EXPECT_EQ(built.model.nq, 4);  // a fixed body adds no coordinate
  // Its weight adds -axis·(r × m·g) to the gravity torque of ja1, whose axis passes the origin.
  const auto plain = BuildRigidBodyModel(description);
  pinocchio::Data with_data(built.model), plain_data(plain.model);
  const Eigen::VectorXd q = (Eigen::VectorXd(4) << 0.5, 0.0, 0.0, 0.0).finished();
  const double difference = pinocchio::computeGeneralizedGravity(built.model, with_data, q)[0] -
                            pinocchio::computeGeneralizedGravity(plain.model, plain_data, q)[0];
  pinocchio::Data probe(built.model);
  pinocchio::framesForwardKinematics(built.model, probe, q);
  const Eigen::Vector3d r = probe.oMf[built.link_frames[4]].translation();
  const Eigen::Vector3d force(0, 0, -9.81 * 2.0);
  const double expected = -Eigen::Vector3d(0, 0.6, 0.8).dot(r.cross(force));
  EXPECT_NEAR(difference, expected, 1e-9);
  EXPECT_THROW(BuildRigidBodyModel(description, {AttachedBody{"t", "tj", "nowhere"}}),
               std::invalid_argument);
}

}  // namespace
}  // namespace korvo::vyr_impl
