// Model: the robot's rigid-body model on Pinocchio. The only translation unit of the library that
// runs Pinocchio's algorithms (they are slow to compile).
#include "model/rigid_body_model.hpp"

// After Pinocchio's own headers (rigid_body_model.hpp includes pinocchio/fwd.hpp first).
#include <spdlog/spdlog.h>

#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <pinocchio/algorithm/crba.hpp>
#include <pinocchio/algorithm/frames.hpp>
#include <pinocchio/algorithm/jacobian.hpp>
#include <pinocchio/algorithm/kinematics.hpp>
#include <pinocchio/algorithm/rnea.hpp>
#include <pinocchio/multibody/data.hpp>
#include <stdexcept>
#include <string>
#include <utility>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/model.hpp"
#include "model/model_link.hpp"
#include "model/server_urdf.hpp"
#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

constexpr char kPrefix[] = "[korvo::vyr::Model] ";
constexpr char kNoTool[] = "Flange";

bool Finite(const ToolParams& p) {
  const auto finite = [](const auto& values) {
    for (const double v : values) {
      if (!std::isfinite(v)) return false;
    }
    return true;
  };
  return std::isfinite(p.mass) && finite(p.CoM) && finite(p.inertia) && finite(p.tcp_location);
}

// The tool of group `group_name` as a body at its TCP under the flange link `flange`: its centre
// of mass and its inertia both in TCP axes (the inertia is given about the centre of mass in
// flange axes).
vyr_impl::AttachedBody ToolBody(const std::string& group_name, const std::string& flange,
                                const ToolParams& p) {
  const auto& t = p.tcp_location;
  Eigen::Quaterniond q(t[3], t[4], t[5], t[6]);
  // A zero quaternion stands for no rotation, as in the streamed states.
  q = q.norm() > 0.0 ? q.normalized() : Eigen::Quaterniond::Identity();
  const Eigen::Matrix3d r = q.toRotationMatrix();
  const Eigen::Vector3d position(t[0], t[1], t[2]);
  Eigen::Matrix3d inertia;
  const auto& i = p.inertia;  // Ixx, Iyy, Izz, Ixy, Ixz, Iyz
  inertia << i[0], i[3], i[4], i[3], i[1], i[5], i[4], i[5], i[2];

  vyr_impl::AttachedBody body;
  body.name = group_name + ".tool";
  body.joint_name = group_name + ".tool_joint";
  body.parent_link = flange;
  body.placement.linear() = r;
  body.placement.translation() = position;
  body.mass = p.mass;
  body.com = r.transpose() * (Eigen::Vector3d(p.CoM[0], p.CoM[1], p.CoM[2]) - position);
  body.inertia = r.transpose() * inertia * r;
  return body;
}

}  // namespace

class Model::Impl {
 public:
  Impl(Robot& robot, const Eigen::Vector3d& gravity)
      : link(vyr_impl::RobotAccess::Link(robot, "Model")), gravity(gravity) {}
  virtual ~Impl() = default;

  // Everything a reload replaces, built aside and swapped in whole.
  struct Built {
    vyr_impl::RigidBodyModel rigid;
    pinocchio::Model no_gravity;  // the same tree without gravity, for the Coriolis torques
    // Built in place and moved only as a pointer: Eigen's LLT members inside leave their `info`
    // uninitialized until a decomposition runs, and a copy or move of the Data would read it.
    std::unique_ptr<pinocchio::Data> data;
    std::map<std::string, pinocchio::FrameIndex> frames;
    Eigen::VectorXd q, v;
  };

  void Reload() {
    const Robot::Impl& robot = link.Robot();
    const RobotInfo info = robot.info();
    auto& rpc = link.client->operations_rpc();

    std::map<JointGroup, std::pair<std::string, ToolParams>> tools;
    for (const auto& [group, name] : info.single_arm_groups) {
      std::string tool;
      ToolParams params;
      if (!rpc.GetActiveToolParams(group, tool, params).ok() || !Finite(params)) {
        throw std::runtime_error(std::string(kPrefix) +
                                 "Failed to sync tool model data for joint group [" +
                                 Robot::Impl::GroupName(group) + "]");
      }
      tools.emplace(group, std::pair{tool, params});
    }
    spdlog::debug("[korvo::vyr::Model::Reload] Synced tool model data for all single-arm groups");

    const auto bytes = vyr_impl::DownloadServerUrdf(link);
    if (!bytes) throw std::runtime_error(std::string(kPrefix) + "Failed to sync robot model data");
    spdlog::debug("[korvo::vyr::Model::Reload] Synced robot model data");

    // The robot's own tree: it gives the degrees of freedom and the flange links (tool bodies
    // are not searched). A description the builder refuses is as unreadable as bad XML.
    vyr_impl::UrdfDescription description;
    vyr_impl::RigidBodyModel plain;
    try {
      description = vyr_impl::ReadUrdf(
          std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
      plain = vyr_impl::BuildRigidBodyModel(description);
    } catch (const vyr_impl::UrdfError& e) {
      spdlog::debug("[korvo::vyr::Model] {}", e.what());
      throw std::runtime_error(std::string(kPrefix) +
                               "Failed to parse the URDF obtained from server");
    }

    std::vector<vyr_impl::AttachedBody> bodies;
    const auto dof = info.DoF.at(JointGroup::ALL);
    if (plain.model.nq != dof) {
      throw std::logic_error(
          std::string(kPrefix) + "Incorrect robot degrees of freedom parsed from URDF: [" +
          std::to_string(plain.model.nq) + "], expecting [" + std::to_string(dof) + "]");
    }
    spdlog::debug("[korvo::vyr::Model] Robot degrees of freedom parsed from URDF: [{}]", dof);
    for (const auto& [group, tool] : tools) {
      const std::string g = Robot::Impl::GroupName(group);
      if (tool.first == kNoTool) {
        spdlog::debug("[korvo::vyr::Model] No end-effector tool installed for group [{}]", g);
        continue;
      }
      std::string suffix;
      if (group == JointGroup::ARM_1) {
        suffix = ".arm1.flange";
      } else if (group == JointGroup::ARM_2) {
        suffix = ".arm2.flange";
      } else {
        throw std::logic_error(std::string(kPrefix) +
                               "Unsupported joint group for tool model: " + g);
      }
      const std::string* flange = nullptr;
      for (const auto& name : plain.link_names) {
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
          flange = &name;
          break;
        }
      }
      if (!flange) {
        throw std::logic_error(std::string(kPrefix) + "Failed to find flange link with suffix [" +
                               suffix + "] for joint group [" + g + "]");
      }
      bodies.push_back(ToolBody(g, *flange, tool.second));
      spdlog::debug("[korvo::vyr::Model] Added tool model for group [{}]", g);
    }

    Built built;
    built.rigid = bodies.empty() ? plain : vyr_impl::BuildRigidBodyModel(description, bodies);
    built.rigid.model.gravity.linear(gravity);
    built.no_gravity = built.rigid.model;
    built.no_gravity.gravity.setZero();
    built.data = std::make_unique<pinocchio::Data>(built.rigid.model);
    for (std::size_t i = 0; i < built.rigid.link_names.size(); ++i) {
      built.frames.emplace(built.rigid.link_names[i], built.rigid.link_frames[i]);
    }
    built.q = Eigen::VectorXd::Zero(built.rigid.model.nq);
    built.v = Eigen::VectorXd::Zero(built.rigid.model.nv);
    pinocchio::forwardKinematics(built.rigid.model, *built.data, built.q, built.v);
    state = std::move(built);
    last_frame.reset();
    spdlog::debug("[korvo::vyr::Model] Reload complete");
  }

  const pinocchio::Model& model() const { return state.rigid.model; }
  Eigen::Index n() const { return state.rigid.model.nv; }

  pinocchio::FrameIndex Frame(const char* operation, const std::string& link_name) {
    // A control loop asks for the same link again and again: compare before looking it up.
    if (last_frame && last_frame->first == link_name) return last_frame->second;
    const auto it = state.frames.find(link_name);
    if (it == state.frames.end()) {
      throw std::invalid_argument(std::string("[korvo::vyr::Model::") + operation +
                                  "] The specified link [" + link_name + "] does not exist");
    }
    last_frame = *it;
    return it->second;
  }

  vyr_impl::RobotLink link;
  Eigen::Vector3d gravity;
  Built state;
  // The link found last, valid for the model in `state`.
  std::optional<std::pair<std::string, pinocchio::FrameIndex>> last_frame;
};

Model::Model(Robot& robot, const Eigen::Vector3d& gravity_vector)
    : pimpl_(std::make_unique<Impl>(robot, gravity_vector)) {
  pimpl_->Reload();
}

Model::~Model() = default;

void Model::Reload() { pimpl_->Reload(); }

std::vector<std::string> Model::link_names() const { return pimpl_->state.rigid.link_names; }

std::vector<std::string> Model::joint_names() const { return pimpl_->state.rigid.joint_names; }

void Model::Update(const std::vector<double>& full_q, const std::vector<double>& full_dq) {
  auto& s = pimpl_->state;
  const auto n = static_cast<std::size_t>(pimpl_->n());
  const auto check = [n](const std::vector<double>& values, const char* name) {
    if (values.size() != n) {
      throw std::invalid_argument(
          std::string("[korvo::vyr::Model::Update] Size of input vector [") + name + "] is " +
          std::to_string(values.size()) + ", does not match robot full DoF " + std::to_string(n));
    }
  };
  check(full_q, "full_q");
  check(full_dq, "full_dq");
  s.q = Eigen::Map<const Eigen::VectorXd>(full_q.data(), pimpl_->n());
  s.v = Eigen::Map<const Eigen::VectorXd>(full_dq.data(), pimpl_->n());
  pinocchio::forwardKinematics(pimpl_->model(), *s.data, s.q, s.v);
}

Eigen::MatrixXd Model::J(const std::string& link_name) {
  auto& s = pimpl_->state;
  const auto frame = pimpl_->Frame("J", link_name);
  Eigen::MatrixXd jacobian = Eigen::MatrixXd::Zero(6, pimpl_->n());
  pinocchio::computeFrameJacobian(pimpl_->model(), *s.data, s.q, frame,
                                  pinocchio::LOCAL_WORLD_ALIGNED, jacobian);
  return jacobian;
}

Eigen::MatrixXd Model::dJ(const std::string& link_name) {
  auto& s = pimpl_->state;
  const auto frame = pimpl_->Frame("dJ", link_name);
  pinocchio::computeJointJacobiansTimeVariation(pimpl_->model(), *s.data, s.q, s.v);
  Eigen::MatrixXd rate = Eigen::MatrixXd::Zero(6, pimpl_->n());
  pinocchio::getFrameJacobianTimeVariation(pimpl_->model(), *s.data, frame,
                                           pinocchio::LOCAL_WORLD_ALIGNED, rate);
  return rate;
}

Eigen::MatrixXd Model::M() {
  auto& s = pimpl_->state;
  pinocchio::crba(pimpl_->model(), *s.data, s.q, pinocchio::Convention::WORLD);
  // crba fills the upper triangle only.
  s.data->M.triangularView<Eigen::StrictlyLower>() =
      s.data->M.transpose().triangularView<Eigen::StrictlyLower>();
  return s.data->M;
}

Eigen::MatrixXd Model::C() {
  auto& s = pimpl_->state;
  return pinocchio::computeCoriolisMatrix(pimpl_->model(), *s.data, s.q, s.v);
}

Eigen::VectorXd Model::g() {
  auto& s = pimpl_->state;
  return pinocchio::computeGeneralizedGravity(pimpl_->model(), *s.data, s.q);
}

Eigen::VectorXd Model::c() {
  auto& s = pimpl_->state;
  // Inverse dynamics without gravity and at rest in acceleration: the Coriolis and centrifugal
  // torques in one pass.
  return pinocchio::rnea(s.no_gravity, *s.data, s.q, s.v, Eigen::VectorXd::Zero(pimpl_->n()));
}

Eigen::Isometry3d Model::T(const std::string& link_name) {
  auto& s = pimpl_->state;
  const auto frame = pimpl_->Frame("T", link_name);
  // Every algorithm above leaves the joint placements of the current posture in data.oMi.
  const auto& f = pimpl_->model().frames[frame];
  const pinocchio::SE3 pose = s.data->oMi[f.parentJoint] * f.placement;
  Eigen::Isometry3d t = Eigen::Isometry3d::Identity();
  t.linear() = pose.rotation();
  t.translation() = pose.translation();
  return t;
}

}  // namespace korvo::vyr

namespace korvo::vyr_impl {

const RobotLink& LinkOf(const vyr::Model::Impl& impl) { return impl.link; }

}  // namespace korvo::vyr_impl
