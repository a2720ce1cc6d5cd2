// The simulator's rigid-body dynamics on Pinocchio: the only translation unit of korvo-sim that
// runs Pinocchio's algorithms (they are slow to compile).
#include "sim/dynamics.hpp"

#include "model/rigid_body_model.hpp"

// After Pinocchio's own headers (rigid_body_model.hpp includes pinocchio/fwd.hpp first).
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <memory>
#include <pinocchio/algorithm/aba.hpp>
#include <pinocchio/algorithm/crba.hpp>
#include <pinocchio/algorithm/energy.hpp>
#include <pinocchio/algorithm/frames.hpp>
#include <pinocchio/algorithm/jacobian.hpp>
#include <pinocchio/algorithm/kinematics.hpp>
#include <pinocchio/algorithm/rnea.hpp>
#include <pinocchio/multibody/data.hpp>
#include <stdexcept>
#include <utility>

#include "model/urdf_reader.hpp"

namespace korvo::sim {

class Dynamics::Impl {
 public:
  void Build() {
    std::vector<vyr_impl::AttachedBody> bodies;
    for (const auto& [flange, payload] : payloads) {
      if (payload.mass <= 0.0) continue;
      vyr_impl::AttachedBody body;
      body.name = flange + ".payload";
      body.joint_name = flange + ".payload_joint";
      body.parent_link = flange;
      body.mass = payload.mass;
      body.com = payload.com;
      body.inertia = payload.inertia;
      bodies.push_back(std::move(body));
    }
    rigid = vyr_impl::BuildRigidBodyModel(description, bodies);
    rigid.model.gravity.linear(gravity);
    if (armature.size() == rigid.model.nv) rigid.model.armature = armature;
    data = std::make_unique<pinocchio::Data>(rigid.model);
    frames.clear();
    for (std::size_t i = 0; i < rigid.link_names.size(); ++i) {
      frames.emplace(rigid.link_names[i], rigid.link_frames[i]);
    }
  }

  pinocchio::FrameIndex Frame(const std::string& link) const {
    const auto it = frames.find(link);
    if (it == frames.end()) throw std::invalid_argument("No link [" + link + "] in the model");
    return it->second;
  }

  const Eigen::MatrixXd& MassMatrix(const Eigen::VectorXd& q) {
    pinocchio::crba(rigid.model, *data, q, pinocchio::Convention::WORLD);
    // crba fills the upper triangle only.
    data->M.triangularView<Eigen::StrictlyLower>() =
        data->M.transpose().triangularView<Eigen::StrictlyLower>();
    return data->M;
  }

  Eigen::MatrixXd Jacobian(pinocchio::FrameIndex frame, const Eigen::VectorXd& q) {
    Eigen::MatrixXd j = Eigen::MatrixXd::Zero(6, rigid.model.nv);
    pinocchio::computeFrameJacobian(rigid.model, *data, q, frame, pinocchio::LOCAL_WORLD_ALIGNED,
                                    j);
    return j;
  }

  vyr_impl::UrdfDescription description;
  std::map<std::string, Payload> payloads;  // by flange link
  vyr_impl::RigidBodyModel rigid;
  // Built in place and never copied or moved: Eigen's LLT members inside leave their `info`
  // uninitialized until a decomposition runs, and a copy would read it.
  std::unique_ptr<pinocchio::Data> data;
  std::map<std::string, pinocchio::FrameIndex> frames;
  Eigen::Vector3d gravity;
  Eigen::VectorXd q_min, q_max;
  Eigen::VectorXd armature;
  JointFriction friction;
};

Dynamics::Dynamics(std::string_view urdf, const Eigen::VectorXd& q_min,
                   const Eigen::VectorXd& q_max, const Eigen::Vector3d& gravity)
    : impl_(std::make_unique<Impl>()) {
  try {
    impl_->description = vyr_impl::ReadUrdf(urdf);
    impl_->gravity = gravity;
    impl_->Build();
  } catch (const vyr_impl::UrdfError& e) {
    throw std::invalid_argument(std::string("The URDF cannot be modelled: ") + e.what());
  }
  const auto n = impl_->rigid.model.nv;
  if (q_min.size() != n || q_max.size() != n) {
    throw std::invalid_argument("Joint limits of another size than the model's coordinates");
  }
  impl_->q_min = q_min;
  impl_->q_max = q_max;
  impl_->friction = {Eigen::VectorXd::Zero(n), Eigen::VectorXd::Zero(n)};
}

Dynamics::~Dynamics() = default;

int Dynamics::dof() const { return impl_->rigid.model.nv; }

void Dynamics::SetPayload(const std::string& flange, const Payload& payload) {
  const auto& links = impl_->description.links;
  if (std::none_of(links.begin(), links.end(), [&](const auto& l) { return l.name == flange; })) {
    throw std::invalid_argument("No link [" + flange + "] to carry a payload");
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(payload.inertia,
                                                             Eigen::EigenvaluesOnly);
  const bool physical = std::isfinite(payload.mass) && payload.mass >= 0.0 &&
                        payload.com.allFinite() && payload.inertia.allFinite() &&
                        payload.inertia.isApprox(payload.inertia.transpose()) &&
                        eigen.eigenvalues().minCoeff() >= -1e-12;
  if (!physical) throw std::invalid_argument("A payload that is not physical");
  auto previous = impl_->payloads;
  impl_->payloads[flange] = payload;
  try {
    impl_->Build();
  } catch (...) {
    impl_->payloads = std::move(previous);
    impl_->Build();
    throw;
  }
}

void Dynamics::SetFriction(JointFriction friction) {
  const auto n = dof();
  if (friction.viscous.size() != n || friction.coulomb.size() != n ||
      !(friction.viscous.array() >= 0.0).all() || !(friction.coulomb.array() >= 0.0).all() ||
      !friction.viscous.allFinite() || !friction.coulomb.allFinite()) {
    throw std::invalid_argument("Friction of another size than the model's, or not physical");
  }
  impl_->friction = std::move(friction);
}

const JointFriction& Dynamics::friction() const { return impl_->friction; }

void Dynamics::SetArmature(const Eigen::VectorXd& armature) {
  if (armature.size() != dof() || !armature.allFinite() || (armature.array() < 0.0).any()) {
    throw std::invalid_argument("Armature of another size than the model's, or negative");
  }
  impl_->armature = armature;
  impl_->rigid.model.armature = armature;
}

Eigen::VectorXd Dynamics::Gravity(const Eigen::VectorXd& q) const {
  return pinocchio::computeGeneralizedGravity(impl_->rigid.model, *impl_->data, q);
}

Eigen::MatrixXd Dynamics::MassMatrix(const Eigen::VectorXd& q) const {
  return impl_->MassMatrix(q);
}

Eigen::VectorXd Dynamics::Bias(const Eigen::VectorXd& q, const Eigen::VectorXd& dq) const {
  return pinocchio::rnea(impl_->rigid.model, *impl_->data, q, dq,
                         Eigen::VectorXd::Zero(impl_->rigid.model.nv));
}

Eigen::VectorXd Dynamics::FrictionTorque(const Eigen::VectorXd& dq) const {
  const auto& f = impl_->friction;
  return -(f.viscous.array() * dq.array() + f.coulomb.array() * dq.array().sign()).matrix();
}

Eigen::Isometry3d Dynamics::Pose(const std::string& link, const Eigen::VectorXd& q) const {
  const auto frame = impl_->Frame(link);
  pinocchio::forwardKinematics(impl_->rigid.model, *impl_->data, q);
  const auto& f = impl_->rigid.model.frames[frame];
  const pinocchio::SE3 pose = impl_->data->oMi[f.parentJoint] * f.placement;
  Eigen::Isometry3d t = Eigen::Isometry3d::Identity();
  t.linear() = pose.rotation();
  t.translation() = pose.translation();
  return t;
}

Eigen::MatrixXd Dynamics::Jacobian(const std::string& link, const Eigen::VectorXd& q) const {
  return impl_->Jacobian(impl_->Frame(link), q);
}

double Dynamics::Energy(const Eigen::VectorXd& q, const Eigen::VectorXd& dq) const {
  return 0.5 * dq.dot(impl_->MassMatrix(q) * dq) +
         pinocchio::computePotentialEnergy(impl_->rigid.model, *impl_->data, q);
}

Eigen::VectorXd Dynamics::Step(JointState& state, const Eigen::VectorXd& tau, double dt,
                               const std::map<std::string, Eigen::Matrix<double, 6, 1>>& wrenches) {
  auto& s = *impl_;
  const auto& model = s.rigid.model;
  const Eigen::VectorXd q0 = state.q, v0 = state.dq;
  const Eigen::Index n = q0.size();
  // Joint torques and the external wrenches at the start posture, held over the step.
  Eigen::VectorXd drive = tau;
  for (const auto& [link, wrench] : wrenches) {
    drive += s.Jacobian(s.Frame(link), q0).transpose() * wrench;
  }

  // Friction and the hard stops first, as impulses on the coupled joints over the step: viscous
  // friction implicit, (M + dt·B)·v = M·v0 + dt·(drive - h); then, by projected Gauss-Seidel,
  // Coulomb impulses of at most dt·fc that hold a joint below its breakaway torque at rest, and
  // stops that keep a joint from passing its limit.
  const Eigen::MatrixXd mass = s.MassMatrix(q0);
  const Eigen::VectorXd free_momentum = mass * v0 + dt * (drive - Bias(q0, v0));
  Eigen::MatrixXd a = mass;
  a.diagonal() += dt * s.friction.viscous;
  const Eigen::LDLT<Eigen::MatrixXd> ldlt(a);
  Eigen::VectorXd v = ldlt.solve(free_momentum);
  std::vector<bool> stuck(static_cast<std::size_t>(n), false);
  std::vector<Eigen::Index> to_max, to_min;
  for (Eigen::Index j = 0; j < n; ++j) {
    if (q0[j] + dt * v[j] > s.q_max[j]) to_max.push_back(j);
    if (q0[j] + dt * v[j] < s.q_min[j]) to_min.push_back(j);
  }
  const bool coulomb = (s.friction.coulomb.array() > 0.0).any();
  if (coulomb || !to_max.empty() || !to_min.empty()) {
    const Eigen::MatrixXd w = ldlt.solve(Eigen::MatrixXd::Identity(n, n));
    Eigen::VectorXd friction = Eigen::VectorXd::Zero(n), stop = Eigen::VectorXd::Zero(n);
    const auto apply = [&](Eigen::VectorXd& impulses, Eigen::Index j, double next) {
      v += w.col(j) * (next - impulses[j]);
      impulses[j] = next;
    };
    for (int sweep = 0; sweep < 10; ++sweep) {
      for (Eigen::Index j = 0; j < n; ++j) {
        const double bound = dt * s.friction.coulomb[j];
        if (bound > 0.0)
          apply(friction, j, std::clamp(friction[j] - v[j] / w(j, j), -bound, bound));
      }
      // A stop lets a joint reach its limit within the step, no further.
      for (const auto j : to_max) {
        const double over = v[j] - (s.q_max[j] - q0[j]) / dt;
        apply(stop, j, std::min(0.0, stop[j] - over / w(j, j)));
      }
      for (const auto j : to_min) {
        const double under = v[j] - (s.q_min[j] - q0[j]) / dt;
        apply(stop, j, std::max(0.0, stop[j] - under / w(j, j)));
      }
    }
    for (Eigen::Index j = 0; j < n; ++j) {
      const double bound = dt * s.friction.coulomb[j];
      stuck[static_cast<std::size_t>(j)] = bound > 0.0 && std::abs(friction[j]) < bound;
    }
  }
  // The generalized force that stands for all of them over the step.
  const Eigen::VectorXd held = (mass * v - free_momentum) / dt;

  // The dynamics with that force by fourth-order Runge-Kutta: a fast swing of light wrist links
  // keeps its energy at 1 kHz, where a first-order step gains or loses several per cent.
  const Eigen::VectorXd force = drive + held;
  const auto acceleration = [&](const Eigen::VectorXd& q, const Eigen::VectorXd& dq) {
    return Eigen::VectorXd(pinocchio::aba(model, *s.data, q, dq, force));
  };
  const Eigen::VectorXd a1 = acceleration(q0, v0);
  const Eigen::VectorXd v1 = v0 + 0.5 * dt * a1;
  const Eigen::VectorXd a2 = acceleration(q0 + 0.5 * dt * v0, v1);
  const Eigen::VectorXd v2 = v0 + 0.5 * dt * a2;
  const Eigen::VectorXd a3 = acceleration(q0 + 0.5 * dt * v1, v2);
  const Eigen::VectorXd v3 = v0 + dt * a3;
  const Eigen::VectorXd a4 = acceleration(q0 + dt * v2, v3);
  Eigen::VectorXd q = q0 + dt / 6.0 * (v0 + 2.0 * v1 + 2.0 * v2 + v3);
  Eigen::VectorXd dq = v0 + dt / 6.0 * (a1 + 2.0 * a2 + 2.0 * a3 + a4);

  // A joint friction holds stays where it was; one at a stop stays there.
  for (Eigen::Index j = 0; j < n; ++j) {
    if (stuck[static_cast<std::size_t>(j)]) {
      q[j] = q0[j];
      dq[j] = 0.0;
    }
    if (q[j] >= s.q_max[j]) {
      q[j] = s.q_max[j];
      dq[j] = std::min(dq[j], 0.0);
    } else if (q[j] <= s.q_min[j]) {
      q[j] = s.q_min[j];
      dq[j] = std::max(dq[j], 0.0);
    }
  }
  const Eigen::VectorXd ddq = (dq - v0) / dt;
  state.q = q;
  state.dq = dq;
  return ddq;
}

}  // namespace korvo::sim
