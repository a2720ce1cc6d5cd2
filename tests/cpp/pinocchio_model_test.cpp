// Pinocchio, compiled header-only, on a planar two-link arm whose dynamics are known in closed
// form: mass matrix, gravity torque, inverse dynamics, Coriolis matrix and tip kinematics. The arm
// is built twice: by hand, and by our URDF reader and builder from its description.

// Pinocchio sets Boost.MPL's container limits, so it must come before any Boost header.
#include <pinocchio/fwd.hpp>

#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>
#include <Eigen/Core>
#include <pinocchio/algorithm/crba.hpp>
#include <pinocchio/algorithm/frames.hpp>
#include <pinocchio/algorithm/jacobian.hpp>
#include <pinocchio/algorithm/rnea.hpp>
#include <pinocchio/multibody/data.hpp>
#include <pinocchio/multibody/model.hpp>
#include <sstream>

#include "model/rigid_body_model.hpp"
#include "model/urdf_reader.hpp"

namespace {

// Both joints turn about the world y axis; the links lie along their local x axis, so gravity
// (along -z) acts in the plane of motion. Centres of mass are off the link midpoints and the
// inertias differ per axis, so a wrong lever or a wrong inertia axis changes the results.
constexpr double kL1 = 0.7;  // shoulder to elbow
constexpr double kL2 = 0.5;  // elbow to tip
constexpr double kM1 = 3.0;
constexpr double kM2 = 2.0;
constexpr double kC1 = 0.3;   // shoulder to centre of mass of link 1
constexpr double kC2 = 0.35;  // elbow to centre of mass of link 2
constexpr double kI1 = 0.12;  // inertia of link 1 about its centre of mass, about y
constexpr double kI2 = 0.04;  // the same for link 2
constexpr double kGravity = 9.81;

constexpr double kTol = 1e-10;

struct ArmState {
  std::string name;
  double q1, q2;
  double v1, v2;
  double a1, a2;
};

void PrintTo(const ArmState& s, std::ostream* os) { *os << s.name; }

struct Arm {
  pinocchio::Model model;
  pinocchio::FrameIndex tip = 0;
};

Arm MakeArmByHand() {
  using pinocchio::Inertia;
  using pinocchio::SE3;
  Arm arm;
  pinocchio::Model& model = arm.model;
  model.gravity.linear(Eigen::Vector3d(0.0, 0.0, -kGravity));

  const pinocchio::JointIndex shoulder =
      model.addJoint(0, pinocchio::JointModelRY(), SE3::Identity(), "shoulder");
  model.appendBodyToJoint(shoulder, Inertia(kM1, Eigen::Vector3d(kC1, 0.0, 0.0),
                                            Eigen::Vector3d(0.01, kI1, 0.13).asDiagonal()));

  // The elbow uses the general-axis revolute joint, as a model built from a URDF may.
  const pinocchio::JointIndex elbow =
      model.addJoint(shoulder, pinocchio::JointModelRevoluteUnaligned(0.0, 1.0, 0.0),
                     SE3(Eigen::Matrix3d::Identity(), Eigen::Vector3d(kL1, 0.0, 0.0)), "elbow");
  model.appendBodyToJoint(elbow, Inertia(kM2, Eigen::Vector3d(kC2, 0.0, 0.0),
                                         Eigen::Vector3d(0.005, kI2, 0.045).asDiagonal()));

  arm.tip = model.addFrame(pinocchio::Frame(
      "tip", elbow, SE3(Eigen::Matrix3d::Identity(), Eigen::Vector3d(kL2, 0.0, 0.0)),
      pinocchio::OP_FRAME));
  return arm;
}

// The same arm as a URDF: link 2's inertial frame is turned a quarter turn about z (its inertia
// given in those axes), and the tip is a link behind a fixed joint.
Arm MakeArmFromUrdf() {
  std::ostringstream urdf;
  urdf.precision(17);
  urdf << R"(<robot name="two_link"><link name="base"/>
    <joint name="shoulder" type="revolute"><parent link="base"/><child link="link1"/>
      <axis xyz="0 1 0"/><limit lower="-3" upper="3" effort="10" velocity="2"/></joint>
    <link name="link1"><inertial><origin xyz=")"
       << kC1 << R"( 0 0"/><mass value=")" << kM1 << R"("/>
      <inertia ixx="0.01" iyy=")"
       << kI1 << R"(" izz="0.13" ixy="0" ixz="0" iyz="0"/></inertial></link>
    <joint name="elbow" type="continuous"><parent link="link1"/><child link="link2"/>
      <origin xyz=")"
       << kL1 << R"( 0 0"/><axis xyz="0 2 0"/></joint>
    <link name="link2"><inertial><origin xyz=")"
       << kC2 << R"( 0 0" rpy="0 0 1.5707963267948966"/><mass value=")" << kM2 << R"("/>
      <inertia ixx=")"
       << kI2 << R"(" iyy="0.005" izz="0.045"/></inertial></link>
    <joint name="tip_joint" type="fixed"><parent link="link2"/><child link="tip"/>
      <origin xyz=")"
       << kL2 << R"( 0 0"/></joint>
    <link name="tip"/></robot>)";
  auto built = korvo::vyr_impl::BuildRigidBodyModel(korvo::vyr_impl::ReadUrdf(urdf.str()));
  Arm arm{std::move(built.model), built.link_frames.back()};
  arm.model.gravity.linear(Eigen::Vector3d(0.0, 0.0, -kGravity));
  return arm;
}

// Closed-form two-link dynamics. A rotation by q about y takes the link axis x to
// (cos q, 0, -sin q), so heights are -l·sin(angle) and the potential energy is
// V = -g·(m1·c1·sin q1 + m2·(l1·sin q1 + c2·sin(q1+q2))).

Eigen::Matrix2d MassMatrix(const ArmState& s) {
  const double c2 = std::cos(s.q2);
  const double m22 = kI2 + kM2 * kC2 * kC2;
  const double m12 = m22 + kM2 * kL1 * kC2 * c2;
  const double m11 =
      kI1 + kM1 * kC1 * kC1 + kI2 + kM2 * (kL1 * kL1 + kC2 * kC2 + 2 * kL1 * kC2 * c2);
  return (Eigen::Matrix2d() << m11, m12, m12, m22).finished();
}

// dM/dt along the state's velocity.
Eigen::Matrix2d MassMatrixRate(const ArmState& s) {
  const double h = kM2 * kL1 * kC2 * std::sin(s.q2);
  return (Eigen::Matrix2d() << -2 * h * s.v2, -h * s.v2, -h * s.v2, 0.0).finished();
}

// dV/dq.
Eigen::Vector2d GravityTorque(const ArmState& s) {
  const double c1 = std::cos(s.q1);
  const double c12 = std::cos(s.q1 + s.q2);
  return {-kGravity * ((kM1 * kC1 + kM2 * kL1) * c1 + kM2 * kC2 * c12),
          -kGravity * kM2 * kC2 * c12};
}

// Coriolis and centrifugal torque C(q, v)·v.
Eigen::Vector2d CoriolisTorque(const ArmState& s) {
  const double h = kM2 * kL1 * kC2 * std::sin(s.q2);
  return {-h * (2 * s.v1 * s.v2 + s.v2 * s.v2), h * s.v1 * s.v1};
}

Eigen::Vector3d TipPosition(const ArmState& s) {
  const double q12 = s.q1 + s.q2;
  return {kL1 * std::cos(s.q1) + kL2 * std::cos(q12), 0.0,
          -(kL1 * std::sin(s.q1) + kL2 * std::sin(q12))};
}

// Jacobian of the tip in world axes, linear rows first.
pinocchio::Data::Matrix6x TipJacobian(const ArmState& s) {
  const double s1 = std::sin(s.q1), c1 = std::cos(s.q1);
  const double s12 = std::sin(s.q1 + s.q2), c12 = std::cos(s.q1 + s.q2);
  pinocchio::Data::Matrix6x j = pinocchio::Data::Matrix6x::Zero(6, 2);
  j(0, 0) = -kL1 * s1 - kL2 * s12;
  j(2, 0) = -kL1 * c1 - kL2 * c12;
  j(0, 1) = -kL2 * s12;
  j(2, 1) = -kL2 * c12;
  j(4, 0) = 1.0;
  j(4, 1) = 1.0;
  return j;
}

// Time derivative of TipJacobian along the state's velocity.
pinocchio::Data::Matrix6x TipJacobianRate(const ArmState& s) {
  const double s1 = std::sin(s.q1), c1 = std::cos(s.q1);
  const double s12 = std::sin(s.q1 + s.q2), c12 = std::cos(s.q1 + s.q2);
  const double w1 = s.v1, w12 = s.v1 + s.v2;
  pinocchio::Data::Matrix6x dj = pinocchio::Data::Matrix6x::Zero(6, 2);
  dj(0, 0) = -kL1 * c1 * w1 - kL2 * c12 * w12;
  dj(2, 0) = kL1 * s1 * w1 + kL2 * s12 * w12;
  dj(0, 1) = -kL2 * c12 * w12;
  dj(2, 1) = kL2 * s12 * w12;
  return dj;
}

// Each state with the arm built by hand and from its URDF.
class TwoLinkArmTest : public testing::TestWithParam<std::tuple<ArmState, bool>> {
 protected:
  TwoLinkArmTest()
      : arm_(std::get<1>(TestWithParam::GetParam()) ? MakeArmFromUrdf() : MakeArmByHand()),
        data_(arm_.model) {
    const ArmState& s = GetParam();
    q_ << s.q1, s.q2;
    v_ << s.v1, s.v2;
    a_ << s.a1, s.a2;
  }

  const ArmState& GetParam() const { return std::get<0>(TestWithParam::GetParam()); }

  Arm arm_;
  pinocchio::Data data_;
  Eigen::VectorXd q_ = Eigen::VectorXd::Zero(2);
  Eigen::VectorXd v_ = Eigen::VectorXd::Zero(2);
  Eigen::VectorXd a_ = Eigen::VectorXd::Zero(2);
};

TEST_P(TwoLinkArmTest, MassMatrixMatchesClosedForm) {
  pinocchio::crba(arm_.model, data_, q_);
  // crba fills the upper triangle only.
  data_.M.triangularView<Eigen::StrictlyLower>() =
      data_.M.transpose().triangularView<Eigen::StrictlyLower>();
  EXPECT_TRUE(data_.M.isApprox(MassMatrix(GetParam()), kTol)) << data_.M << "\nexpected\n"
                                                              << MassMatrix(GetParam());
}

TEST_P(TwoLinkArmTest, GravityTorqueMatchesClosedForm) {
  const Eigen::VectorXd g = pinocchio::computeGeneralizedGravity(arm_.model, data_, q_);
  const Eigen::Vector2d expected = GravityTorque(GetParam());
  EXPECT_NEAR(g(0), expected(0), kTol);
  EXPECT_NEAR(g(1), expected(1), kTol);
}

TEST_P(TwoLinkArmTest, InverseDynamicsMatchesClosedForm) {
  const ArmState& s = GetParam();
  const Eigen::VectorXd tau = pinocchio::rnea(arm_.model, data_, q_, v_, a_);
  const Eigen::Vector2d expected =
      MassMatrix(s) * Eigen::Vector2d(s.a1, s.a2) + CoriolisTorque(s) + GravityTorque(s);
  EXPECT_NEAR(tau(0), expected(0), kTol);
  EXPECT_NEAR(tau(1), expected(1), kTol);
}

// C is not unique; what holds for every valid choice is C·v and C + Cᵀ = dM/dt.
TEST_P(TwoLinkArmTest, CoriolisMatrixGivesCoriolisTorqueAndMassMatrixRate) {
  const ArmState& s = GetParam();
  const Eigen::MatrixXd c = pinocchio::computeCoriolisMatrix(arm_.model, data_, q_, v_);
  const Eigen::Vector2d cv = c * v_;
  EXPECT_NEAR(cv(0), CoriolisTorque(s)(0), kTol);
  EXPECT_NEAR(cv(1), CoriolisTorque(s)(1), kTol);
  const Eigen::Matrix2d sym = c + c.transpose();
  const Eigen::Matrix2d rate = MassMatrixRate(s);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      EXPECT_NEAR(sym(i, j), rate(i, j), kTol) << "at (" << i << ", " << j << ")";
    }
  }
}

TEST_P(TwoLinkArmTest, TipPoseAndJacobiansMatchClosedForm) {
  const ArmState& s = GetParam();
  pinocchio::computeJointJacobiansTimeVariation(arm_.model, data_, q_, v_);
  pinocchio::updateFramePlacements(arm_.model, data_);

  const pinocchio::SE3& pose = data_.oMf[arm_.tip];
  const Eigen::Vector3d expected_position = TipPosition(s);
  const Eigen::Matrix3d expected_rotation =
      Eigen::AngleAxisd(s.q1 + s.q2, Eigen::Vector3d::UnitY()).toRotationMatrix();
  EXPECT_LT((pose.translation() - expected_position).norm(), kTol) << pose;
  EXPECT_LT((pose.rotation() - expected_rotation).norm(), kTol) << pose;

  pinocchio::Data::Matrix6x j = pinocchio::Data::Matrix6x::Zero(6, 2);
  pinocchio::getFrameJacobian(arm_.model, data_, arm_.tip, pinocchio::LOCAL_WORLD_ALIGNED, j);
  EXPECT_LT((j - TipJacobian(s)).norm(), kTol) << j << "\nexpected\n" << TipJacobian(s);

  pinocchio::Data::Matrix6x dj = pinocchio::Data::Matrix6x::Zero(6, 2);
  pinocchio::getFrameJacobianTimeVariation(arm_.model, data_, arm_.tip,
                                           pinocchio::LOCAL_WORLD_ALIGNED, dj);
  EXPECT_LT((dj - TipJacobianRate(s)).norm(), kTol) << dj << "\nexpected\n" << TipJacobianRate(s);
}

constexpr double kPi = std::numbers::pi;

INSTANTIATE_TEST_SUITE_P(
    States, TwoLinkArmTest,
    testing::Combine(
        testing::Values(ArmState{"AtRest", 0.0, 0.0, 0.0, 0.0, 0.0, 0.0},
                        ArmState{"StretchedMoving", 0.0, 0.0, 1.5, -0.8, 0.4, 2.0},
                        ArmState{"ElbowAtRightAngle", 0.3, kPi / 2, -0.7, 1.1, -1.2, 0.5},
                        ArmState{"ArmHangingDown", kPi / 2, 0.0, 0.9, 0.9, 0.0, -3.0},
                        ArmState{"NegativeAngles", -1.1, -2.4, 2.5, 0.6, 1.7, -0.9},
                        ArmState{"ElbowFolded", 2.0, kPi - 0.05, -1.3, -2.2, 0.3, 0.8}),
        testing::Bool()),
    [](const auto& info) {
      return std::get<0>(info.param).name + (std::get<1>(info.param) ? "FromUrdf" : "ByHand");
    });

}  // namespace
