// The Cartesian motion-force controller in closed loop with the simulator's dynamics: impedance
// holds the TCP, yields to a push as its stiffness says and returns; force control presses on a
// plane with the commanded normal force while the other axes hold their place.
#include "sim/cartesian_control.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "dynamics_fixture.hpp"
#include "sim/contact.hpp"

namespace korvo::sim {
namespace {

constexpr double kDt = 1e-3;

class CartesianControlTest : public ::testing::Test {
 protected:
  CartesianControlTest()
      : robot_(test::MakeDynamicsRobot(vyr::ProductModel::Olvar_L)),
        dynamics_(robot_.model.urdf(), robot_.q_min, robot_.q_max) {
    const auto n = dynamics_.dof();
    dynamics_.SetFriction({Eigen::VectorXd::Constant(n, 0.3), Eigen::VectorXd::Zero(n)});
    dynamics_.SetArmature(robot_.Armature());
    tcp_.flange = robot_.Flange();
    tcp_.in_flange.translation() = Eigen::Vector3d(0.0, 0.0, 0.1);
    state_ = {robot_.At(0.45), Eigen::VectorXd::Zero(n)};
    settings_.arm_joints.resize(static_cast<std::size_t>(n));
    std::iota(settings_.arm_joints.begin(), settings_.arm_joints.end(), Eigen::Index{0});
    settings_.null_space_posture = state_.q;
    target_.pose = TcpPose(dynamics_, tcp_, state_.q);
  }

  // One millisecond with `force` [N, world axes] on the TCP and the plane, if any, touching it.
  // Returns the plane's force on the TCP.
  Eigen::Vector3d Step(const Eigen::Vector3d& force = Eigen::Vector3d::Zero()) {
    const Eigen::Vector3d tcp = TcpPose(dynamics_, tcp_, state_.q).translation();
    const Eigen::Vector3d velocity = (TcpJacobian(dynamics_, tcp_, state_.q) * state_.dq).head<3>();
    Eigen::Vector3d contact = Eigen::Vector3d::Zero();
    if (plane_) contact = ContactForce(*plane_, tcp, velocity).value_or(contact);
    const Eigen::Vector3d flange = dynamics_.Pose(tcp_.flange, state_.q).translation();
    dynamics_.Step(state_, CartesianControl(dynamics_, state_, tcp_, target_, settings_), kDt,
                   {{tcp_.flange, WrenchAt(flange, tcp, force + contact)}});
    return contact;
  }
  Eigen::Vector3d Offset() const {
    return TcpPose(dynamics_, tcp_, state_.q).translation() - target_.pose.translation();
  }

  test::DynamicsRobot robot_;
  Dynamics dynamics_;
  Tcp tcp_;
  JointState state_;
  CartesianSettings settings_;
  CartesianTarget target_;
  std::optional<ContactPlane> plane_;
};

TEST_F(CartesianControlTest, ImpedanceYieldsToAPushAsItsStiffnessSaysAndReturns) {
  for (int i = 0; i < 1000; ++i) Step();
  EXPECT_LT(Offset().norm(), 1e-4);

  const Eigen::Vector3d push(20.0, 0.0, -10.0);
  for (int i = 0; i < 1500; ++i) Step(push);
  // At rest under the push: K·offset = push on each axis.
  const Eigen::Vector3d expected = push.cwiseQuotient(settings_.stiffness.head<3>());
  EXPECT_LT((Offset() - expected).norm(), 0.1 * expected.norm());

  for (int i = 0; i < 2000; ++i) Step();
  EXPECT_LT(Offset().norm(), 5e-4);
}

TEST_F(CartesianControlTest, ForceControlPressesOnAPlaneWithTheCommandedForce) {
  plane_ = ContactPlane{target_.pose.translation() - Eigen::Vector3d(0.0, 0.0, 0.005),
                        Eigen::Vector3d::UnitZ(), 2e4, 200.0};
  settings_.force_axes = {false, false, true, false, false, false};
  target_.wrench[2] = -20.0;  // the TCP pushes down with 20 N
  std::vector<double> normal;
  for (int i = 0; i < 3000; ++i) normal.push_back(Step().z());
  const double mean =
      std::accumulate(normal.end() - 500, normal.end(), 0.0) / 500.0;  // the last half second
  EXPECT_NEAR(mean, 20.0, 0.05 * 20.0);
  EXPECT_LT(Offset().head<2>().norm(), 1e-3);  // x and y held
  EXPECT_LT(Offset().z(), -0.005);             // below where the plane begins
}

}  // namespace
}  // namespace korvo::sim
