// The simulator's rigid-body dynamics, checked by physics: gravity compensation holds a posture,
// a free swing keeps its energy, friction only takes energy and Coulomb friction holds a joint
// below its breakaway torque, a joint stops at its limit, a payload adds the weight its mass
// predicts, and an external wrench accelerates the joints as M⁻¹·Jᵀ·w.
#include "sim/dynamics.hpp"

#include <gtest/gtest.h>

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <string>

#include "dynamics_fixture.hpp"

namespace korvo::sim {
namespace {

constexpr double kDt = 1e-3;

using Robot = test::DynamicsRobot;

Robot Make(vyr::ProductModel product, unsigned ext_axes = 0) {
  return test::MakeDynamicsRobot(product, ext_axes);
}

TEST(DynamicsTest, GravityCompensationHoldsAnyPosture) {
  for (const auto product : {vyr::ProductModel::Olvar_L, vyr::ProductModel::TAVU_Ultra}) {
    const Robot r = Make(product, product == vyr::ProductModel::TAVU_Ultra ? 6 : 0);
    Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
    const auto n = dynamics.dof();
    dynamics.SetFriction({Eigen::VectorXd::Constant(n, 0.5), Eigen::VectorXd::Constant(n, 0.2)});
    for (const double fraction : {0.3, 0.45, 0.7}) {
      JointState s{r.At(fraction), Eigen::VectorXd::Zero(n)};
      const Eigen::VectorXd start = s.q;
      for (int i = 0; i < 5000; ++i) dynamics.Step(s, dynamics.Gravity(s.q), kDt);
      EXPECT_LT((s.q - start).cwiseAbs().maxCoeff(), 1e-3) << r.model.product_name() << fraction;
    }
    // Without it the arm falls.
    JointState s{r.At(0.3), Eigen::VectorXd::Zero(n)};
    const Eigen::VectorXd start = s.q;
    for (int i = 0; i < 500; ++i) dynamics.Step(s, Eigen::VectorXd::Zero(n), kDt);
    EXPECT_GT((s.q - start).cwiseAbs().maxCoeff(), 1e-2) << r.model.product_name();
  }
}

TEST(DynamicsTest, AFreeSwingKeepsItsEnergy) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  const auto n = static_cast<Eigen::Index>(r.model.full_dof());
  // Stops far away: nothing but gravity acts.
  Dynamics dynamics(r.model.urdf(), Eigen::VectorXd::Constant(n, -1e3),
                    Eigen::VectorXd::Constant(n, 1e3));
  JointState s{r.At(0.62), Eigen::VectorXd::Constant(n, 0.3)};
  const double start = dynamics.Energy(s.q, s.dq);
  double drift = 0.0, exchanged = 0.0;
  for (int i = 0; i < 10000; ++i) {
    dynamics.Step(s, Eigen::VectorXd::Zero(n), kDt);
    const double e = dynamics.Energy(s.q, s.dq);
    drift = std::max(drift, std::abs(e - start));
    exchanged = std::max(exchanged, 0.5 * s.dq.dot(dynamics.MassMatrix(s.q) * s.dq));
  }
  // Measured against the largest kinetic energy of the swing: the energy that changes form.
  EXPECT_GT(exchanged, 1.0);
  EXPECT_LT(drift, 0.01 * exchanged);
}

TEST(DynamicsTest, FrictionOnlyTakesEnergyAndHoldsAJointBelowItsBreakaway) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  dynamics.SetFriction({Eigen::VectorXd::Constant(n, 2.0), Eigen::VectorXd::Constant(n, 1.0)});
  JointState s{r.At(0.5), Eigen::VectorXd::Constant(n, 0.5)};
  double energy = dynamics.Energy(s.q, s.dq);
  for (int i = 0; i < 3000; ++i) {
    // Gravity compensated: what is left to lose is the motion.
    dynamics.Step(s, dynamics.Gravity(s.q), kDt);
    const double e = dynamics.Energy(s.q, s.dq);
    ASSERT_LE(e, energy + 1e-9) << i;
    energy = e;
  }
  EXPECT_TRUE(s.dq.isZero(0.0));  // Coulomb friction brought every joint to rest

  // A torque below the breakaway moves nothing; one above it does.
  Eigen::VectorXd push = Eigen::VectorXd::Zero(n);
  push[0] = 0.9;
  const Eigen::VectorXd rest = s.q;
  for (int i = 0; i < 500; ++i) dynamics.Step(s, dynamics.Gravity(s.q) + push, kDt);
  EXPECT_TRUE(s.q.isApprox(rest, 0.0));
  push[0] = 1.5;
  for (int i = 0; i < 500; ++i) dynamics.Step(s, dynamics.Gravity(s.q) + push, kDt);
  EXPECT_GT(s.q[0] - rest[0], 1e-3);
}

TEST(DynamicsTest, AJointStopsAtItsLimit) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  JointState s{r.At(0.5), Eigen::VectorXd::Zero(n)};
  Eigen::VectorXd push = Eigen::VectorXd::Zero(n);
  push[0] = 20.0;
  for (int i = 0; i < 5000; ++i) dynamics.Step(s, dynamics.Gravity(s.q) + push, kDt);
  EXPECT_EQ(s.q[0], r.q_max[0]);
  EXPECT_EQ(s.dq[0], 0.0);
}

TEST(DynamicsTest, APayloadAddsTheWeightItsMassPredicts) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const Eigen::VectorXd q = r.At(0.4);
  const std::string flange = r.Flange();
  const Eigen::VectorXd bare = dynamics.Gravity(q);

  Payload payload;
  payload.mass = 2.5;
  payload.com = {0.01, -0.02, 0.1};
  payload.inertia = Eigen::Vector3d(0.01, 0.02, 0.005).asDiagonal();
  dynamics.SetPayload(flange, payload);
  // The weight m·g at the centre of mass, through the Jacobian of that point.
  const Eigen::MatrixXd j = dynamics.Jacobian(flange, q);
  const Eigen::Vector3d arm = dynamics.Pose(flange, q).linear() * payload.com;
  Eigen::Matrix3d cross;
  cross << 0, -arm.z(), arm.y(), arm.z(), 0, -arm.x(), -arm.y(), arm.x(), 0;
  const Eigen::MatrixXd j_com = j.topRows<3>() - cross * j.bottomRows<3>();
  const Eigen::VectorXd expected =
      bare - j_com.transpose() * (payload.mass * Eigen::Vector3d(0.0, 0.0, -9.81));
  EXPECT_LT((dynamics.Gravity(q) - expected).norm(), 1e-9);

  payload.mass = 0.0;
  dynamics.SetPayload(flange, payload);
  EXPECT_LT((dynamics.Gravity(q) - bare).norm(), 1e-12);

  Payload negative;
  negative.mass = -1.0;
  EXPECT_THROW(dynamics.SetPayload(flange, negative), std::invalid_argument);
  EXPECT_THROW(dynamics.SetPayload("nowhere", Payload{}), std::invalid_argument);
}

TEST(DynamicsTest, RotorInertiaAddsToEachJointAlone) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const Eigen::VectorXd q = r.At(0.4);
  const Eigen::MatrixXd bare = dynamics.MassMatrix(q);
  dynamics.SetArmature(r.Armature());
  EXPECT_LT((dynamics.MassMatrix(q) - bare - Eigen::MatrixXd(r.Armature().asDiagonal())).norm(),
            1e-12);
  // A joint pushed from rest accelerates by the inverse of the mass matrix that includes it.
  JointState s{q, Eigen::VectorXd::Zero(dynamics.dof())};
  Eigen::VectorXd push = Eigen::VectorXd::Zero(dynamics.dof());
  push[6] = 1.0;
  const Eigen::VectorXd ddq = dynamics.Step(s, dynamics.Gravity(q) + push, kDt);
  EXPECT_NEAR(ddq[6], dynamics.MassMatrix(q).ldlt().solve(push)[6], 1e-3);
  EXPECT_THROW(dynamics.SetArmature(-r.Armature()), std::invalid_argument);
}

TEST(DynamicsTest, AnExternalWrenchAcceleratesTheJointsThroughTheJacobian) {
  const Robot r = Make(vyr::ProductModel::Olvar_L);
  Dynamics dynamics(r.model.urdf(), r.q_min, r.q_max);
  const auto n = dynamics.dof();
  const std::string flange = r.Flange();
  JointState s{r.At(0.4), Eigen::VectorXd::Zero(n)};
  Eigen::Matrix<double, 6, 1> wrench;
  wrench << 10.0, -5.0, 20.0, 0.5, 0.0, -1.0;
  const Eigen::MatrixXd m = dynamics.MassMatrix(s.q);
  const Eigen::VectorXd expected =
      m.ldlt().solve(dynamics.Jacobian(flange, s.q).transpose() * wrench);
  // The step's mean acceleration: the one at its start, to the step's first order.
  const Eigen::VectorXd ddq = dynamics.Step(s, dynamics.Gravity(s.q), kDt, {{flange, wrench}});
  EXPECT_LT((ddq - expected).norm(), 1e-5 * expected.norm());
  EXPECT_GT(expected.norm(), 1.0);
}

}  // namespace
}  // namespace korvo::sim
