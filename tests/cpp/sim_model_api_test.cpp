// Model against the simulated robot, checked by physics rather than against itself: Jacobians
// against finite differences of the link poses, their derivatives against finite differences of
// the Jacobians, dM/dt = C + Cᵀ and C·dq = c, the mass matrix positive definite, a tool's weight in
// g, the flange pose the simulator computes with its own kinematics; and the reload's failures.
#include <gtest/gtest.h>

#include <Eigen/Cholesky>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "korvo/vyr/model.hpp"
#include "korvo/vyr/robot.hpp"
#include "korvo/vyr/tool.hpp"
#include "model/urdf_reader.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using test::Eventually;
using test::Invalid;
using test::Logic;
using test::OutcomeOf;
using test::Runtime;

constexpr double kStep = 1e-6;

std::vector<double> Plus(const std::vector<double>& a, const std::vector<double>& b, double s) {
  std::vector<double> r = a;
  for (std::size_t i = 0; i < r.size(); ++i) r[i] += s * b[i];
  return r;
}

std::string Ending(const std::vector<std::string>& names, const std::string& suffix) {
  for (const auto& n : names) {
    if (n.size() >= suffix.size() &&
        n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
      return n;
  }
  return "";
}

class ModelTest : public test::SimulatorSuite {
 protected:
  void Start(ProductModel model = ProductModel::Olvar_L, unsigned ext_axes = 0) {
    host_ = &Host(model, ext_axes);
    sim().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
  }
  void TearDown() override {
    model_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  // A posture and a velocity within ±1 of zero, the same in every run.
  void RandomState(std::size_t n) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    q_.resize(n);
    dq_.resize(n);
    for (auto& v : q_) v = value(random);
    for (auto& v : dq_) v = value(random);
  }
  Eigen::MatrixXd MAt(const std::vector<double>& q) {
    model_->Update(q, dq_);
    return model_->M();
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Model> model_;
  std::vector<double> q_, dq_;
};

TEST_F(ModelTest, NamesFollowTheRobotsJointOrder) {
  Start(ProductModel::TAVU_Ultra, 2);
  model_ = std::make_unique<Model>(*robot_);
  std::vector<std::string> joints;
  for (const auto& j : sim().model().joints()) joints.push_back(j.name);
  EXPECT_EQ(model_->joint_names(), joints);
  const auto links = model_->link_names();
  EXPECT_EQ(links.front(), "world");
  EXPECT_NE(Ending(links, ".arm1.flange"), "");
  EXPECT_EQ(Ending(links, ".tool"), "");  // every arm holds "Flange": no tool body
}

TEST_F(ModelTest, QueriesAgreeWithFiniteDifferencesAndEachOther) {
  Start(ProductModel::TAVU_Ultra, 2);
  model_ = std::make_unique<Model>(*robot_);
  const auto n = model_->joint_names().size();
  RandomState(n);
  const std::string flange = Ending(model_->link_names(), ".arm2.flange");

  model_->Update(q_, dq_);
  const Eigen::MatrixXd j = model_->J(flange);
  const Eigen::MatrixXd dj = model_->dJ(flange);
  const Eigen::MatrixXd m = model_->M();
  const Eigen::MatrixXd c = model_->C();
  const Eigen::VectorXd cv = model_->c();
  ASSERT_EQ(j.rows(), 6);
  ASSERT_EQ(j.cols(), static_cast<Eigen::Index>(n));

  // J: column i is the motion of the link frame when coordinate i moves.
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> e(n, 0.0);
    e[i] = 1.0;
    model_->Update(Plus(q_, e, kStep), dq_);
    const Eigen::Isometry3d plus = model_->T(flange);
    model_->Update(Plus(q_, e, -kStep), dq_);
    const Eigen::Isometry3d minus = model_->T(flange);
    const Eigen::Vector3d linear = (plus.translation() - minus.translation()) / (2 * kStep);
    const Eigen::AngleAxisd turn(plus.linear() * minus.linear().transpose());
    const Eigen::Vector3d angular = turn.axis() * turn.angle() / (2 * kStep);
    EXPECT_LT((j.col(i).head<3>() - linear).norm(), 1e-6) << "column " << i;
    EXPECT_LT((j.col(i).tail<3>() - angular).norm(), 1e-6) << "column " << i;
  }
  // dJ and dM/dt along the velocity.
  model_->Update(Plus(q_, dq_, kStep), dq_);
  const Eigen::MatrixXd j_plus = model_->J(flange);
  const Eigen::MatrixXd m_plus = model_->M();
  model_->Update(Plus(q_, dq_, -kStep), dq_);
  const Eigen::MatrixXd j_minus = model_->J(flange);
  const Eigen::MatrixXd m_minus = model_->M();
  EXPECT_LT((dj - (j_plus - j_minus) / (2 * kStep)).norm(), 1e-5);
  EXPECT_LT(((c + c.transpose()) - (m_plus - m_minus) / (2 * kStep)).norm(), 1e-5);

  const Eigen::VectorXd v = Eigen::Map<const Eigen::VectorXd>(dq_.data(), n);
  EXPECT_LT((c * v - cv).norm(), 1e-9);
  EXPECT_LT((m - m.transpose()).norm(), 1e-12);
  EXPECT_EQ(m.llt().info(), Eigen::Success);
}

TEST_F(ModelTest, GravityAndVelocityTermsAreSeparate) {
  Start(ProductModel::Olvar_LL);
  model_ = std::make_unique<Model>(*robot_);
  const auto n = model_->joint_names().size();
  RandomState(n);
  model_->Update(q_, std::vector<double>(n, 0.0));
  const Eigen::VectorXd g_at_rest = model_->g();
  EXPECT_LT(model_->c().norm(), 1e-12);
  model_->Update(q_, dq_);
  EXPECT_LT((model_->g() - g_at_rest).norm(), 1e-12);
  EXPECT_GT(model_->c().norm(), 1e-3);
  // Upside-down gravity turns every gravity torque round.
  Model flipped(*robot_, Eigen::Vector3d(0, 0, 9.81));
  flipped.Update(q_, dq_);
  EXPECT_LT((flipped.g() + g_at_rest).norm(), 1e-9);
}

// g is the gradient of the potential energy, summed over the links of the URDF the robot serves
// at the poses the model gives them.
TEST_F(ModelTest, GravityIsTheGradientOfThePotentialEnergy) {
  Start(ProductModel::TAVU_Ultra, 2);
  model_ = std::make_unique<Model>(*robot_);
  const auto description = vyr_impl::ReadUrdf(sim().model().urdf());
  const auto n = model_->joint_names().size();
  RandomState(n);
  const auto potential = [&](const std::vector<double>& q) {
    model_->Update(q, dq_);
    double v = 0.0;
    for (const auto& link : description.links) {
      if (!link.inertial) continue;
      const Eigen::Vector3d com = model_->T(link.name) * link.inertial->origin.translation();
      v -= link.inertial->mass * Eigen::Vector3d(0, 0, -9.81).dot(com);
    }
    return v;
  };
  model_->Update(q_, dq_);
  const Eigen::VectorXd g = model_->g();
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> e(n, 0.0);
    e[i] = 1.0;
    constexpr double h = 1e-5;  // the potential is hundreds of joules: keep round-off small
    const double gradient = (potential(Plus(q_, e, h)) - potential(Plus(q_, e, -h))) / (2 * h);
    EXPECT_NEAR(g[i], gradient, 1e-5 * (1.0 + std::abs(gradient))) << model_->joint_names()[i];
  }
}

TEST_F(ModelTest, FlangePoseIsTheOneTheSimulatorComputes) {
  Start(ProductModel::Olvar_LL);
  model_ = std::make_unique<Model>(*robot_);
  RandomState(model_->joint_names().size());
  model_->Update(q_, dq_);
  for (const auto& [group, suffix] : {std::pair{JointGroup::ARM_1, ".arm1.flange"},
                                      std::pair{JointGroup::ARM_2, ".arm2.flange"}}) {
    const auto expected = sim().model().FlangePose(group, q_);
    const Eigen::Isometry3d t = model_->T(Ending(model_->link_names(), suffix));
    EXPECT_LT((t.translation() - Eigen::Vector3d(expected[0], expected[1], expected[2])).norm(),
              1e-9);
    const Eigen::Quaterniond r(expected[3], expected[4], expected[5], expected[6]);
    EXPECT_LT(Eigen::Quaterniond(t.linear()).angularDistance(r), 1e-9);
  }
  // The root is the world.
  EXPECT_TRUE(model_->T("world").matrix().isIdentity(0.0));
  EXPECT_TRUE(model_->J("world").isZero(0.0));
}

// A tool whose centre of mass is its TCP: its weight adds -J_linear(tool)ᵀ·m·gravity to g.
TEST_F(ModelTest, AToolAddsItsWeightAtItsTcpAfterReload) {
  Start();
  model_ = std::make_unique<Model>(*robot_);
  const auto n = model_->joint_names().size();
  RandomState(n);
  model_->Update(q_, dq_);
  const Eigen::VectorXd g_bare = model_->g();

  ToolParams gauge;
  gauge.mass = 1.5;
  gauge.CoM = {0.02, -0.01, 0.12};
  gauge.inertia = {0.01, 0.02, 0.005, 0.001, 0.0, 0.002};
  // The TCP at the centre of mass, turned a quarter about x.
  gauge.tcp_location = {0.02, -0.01, 0.12, std::sqrt(0.5), std::sqrt(0.5), 0.0, 0.0};
  Tool tools(*robot_);
  tools.Add("Gauge", gauge);
  tools.Switch(JointGroup::ARM_1, "Gauge");
  model_->Reload();
  EXPECT_NE(Ending(model_->link_names(), "ARM_1.tool"), "");
  EXPECT_EQ(model_->joint_names().size(), n);
  model_->Update(q_, dq_);
  const Eigen::MatrixXd j_tool = model_->J("ARM_1.tool");
  // Narrowed to floats on the way to the robot and back.
  const double mass = static_cast<float>(gauge.mass);
  const Eigen::VectorXd expected =
      g_bare - j_tool.topRows<3>().transpose() * (mass * Eigen::Vector3d(0, 0, -9.81));
  EXPECT_LT((model_->g() - expected).norm(), 1e-5);

  // Where the TCP frame points does not move the mass: the same tool with an unturned TCP has
  // the same mass matrix (its inertia is given in flange axes either way).
  const Eigen::MatrixXd m_turned = model_->M();
  gauge.tcp_location = {0.02, -0.01, 0.12, 1.0, 0.0, 0.0, 0.0};
  tools.Update("Gauge", gauge);
  model_->Reload();
  model_->Update(q_, dq_);
  EXPECT_LT((model_->M() - m_turned).norm(), 1e-6);

  // A zero quaternion is no rotation.
  gauge.tcp_location = {0.0, 0.0, 0.1, 0.0, 0.0, 0.0, 0.0};
  tools.Update("Gauge", gauge);
  model_->Reload();
  model_->Update(q_, dq_);
  const std::string flange = Ending(model_->link_names(), ".arm1.flange");
  EXPECT_TRUE(model_->T("ARM_1.tool").linear().isApprox(model_->T(flange).linear(), 1e-12));
}

TEST_F(ModelTest, ArgumentsAreChecked) {
  Start();
  model_ = std::make_unique<Model>(*robot_);
  const auto n = model_->joint_names().size();
  const std::vector<double> short_vector(n - 1, 0.0), right(n, 0.0);
  EXPECT_EQ(OutcomeOf([&] { model_->Update(short_vector, right); }),
            Invalid("[korvo::vyr::Model::Update] Size of input vector [full_q] is 6, does not "
                    "match robot full DoF 7"));
  EXPECT_EQ(OutcomeOf([&] { model_->Update(right, short_vector); }),
            Invalid("[korvo::vyr::Model::Update] Size of input vector [full_dq] is 6, does not "
                    "match robot full DoF 7"));
  for (const auto& [op, call] : std::vector<std::pair<std::string, std::function<void()>>>{
           {"J", [&] { model_->J("nowhere"); }},
           {"dJ", [&] { model_->dJ("nowhere"); }},
           {"T", [&] { model_->T("nowhere"); }}}) {
    EXPECT_EQ(OutcomeOf(call), Invalid("[korvo::vyr::Model::" + op +
                                       "] The specified link [nowhere] does not exist"));
  }
}

TEST_F(ModelTest, AFailedReloadKeepsTheModelItHad) {
  Start();
  model_ = std::make_unique<Model>(*robot_);
  const auto links = model_->link_names();
  const std::string urdf = sim().model().urdf();
  std::string no_flange = urdf;
  for (std::size_t at; (at = no_flange.find(".arm1.flange")) != std::string::npos;) {
    no_flange.replace(at, 12, ".arm1.plate");
  }
  std::string extra_joint = urdf;
  extra_joint.insert(extra_joint.rfind("</robot>"),
                     "<link name=\"extra\"/><joint name=\"extra_joint\" type=\"revolute\"><parent "
                     "link=\"world\"/><child link=\"extra\"/><axis xyz=\"0 0 1\"/></joint>");
  ToolParams gauge;
  gauge.mass = 1.0;
  gauge.tcp_location = {0, 0, 0.1, 1, 0, 0, 0};
  Tool tools(*robot_);
  tools.Add("Gauge", gauge);
  tools.Switch(JointGroup::ARM_1, "Gauge");

  struct Case {
    const char* name;
    std::function<void()> arrange;
    test::Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"NotXml", [&] { sim().ServeUrdf("<robot"); },
       Runtime("[korvo::vyr::Model] Failed to parse the URDF obtained from server")},
      {"NoRobotElement", [&] { sim().ServeUrdf("<model/>"); },
       Runtime("[korvo::vyr::Model] Failed to parse the URDF obtained from server")},
      {"FloatingJoint",
       [&] {
         std::string text = urdf;
         text.replace(text.find("type=\"revolute\""), 15, "type=\"floating\"");
         sim().ServeUrdf(text);
       },
       Runtime("[korvo::vyr::Model] Failed to parse the URDF obtained from server")},
      {"ALoopAwayFromTheRoot",
       [&] {
         // Two extra links that only reach each other: every link still has one parent.
         std::string text = urdf;
         text.insert(text.rfind("</robot>"),
                     "<link name=\"p\"/><link name=\"r\"/><joint name=\"pr\" type=\"fixed\">"
                     "<parent link=\"p\"/><child link=\"r\"/></joint><joint name=\"rp\" "
                     "type=\"fixed\"><parent link=\"r\"/><child link=\"p\"/></joint>");
         sim().ServeUrdf(text);
       },
       Runtime("[korvo::vyr::Model] Failed to parse the URDF obtained from server")},
      {"AnotherDoF", [&] { sim().ServeUrdf(extra_joint); },
       Logic("[korvo::vyr::Model] Incorrect robot degrees of freedom parsed from URDF: [8], "
             "expecting [7]")},
      {"NoFlangeForTheTool", [&] { sim().ServeUrdf(no_flange); },
       Logic("[korvo::vyr::Model] Failed to find flange link with suffix [.arm1.flange] for joint "
             "group [ARM_1]")},
      {"ToolsRefused",
       [&] {
         sim().ServeUrdf(std::nullopt);
         host_->SetReplyRule(sim::Server::kVyr, 34, {sim::ReplyAction::kRefuse, {}, 1});
       },
       Runtime("[korvo::vyr::Model] Failed to sync tool model data for joint group [ARM_1]")},
      {"UrdfRefused",
       [&] {
         host_->SetReplyRule(sim::Server::kVyr, 5, {sim::ReplyAction::kRefuse, {}, 1});
       },
       Runtime("[korvo::vyr::Model] Failed to sync robot model data")},
  };
  for (const auto& c : cases) {
    c.arrange();
    EXPECT_EQ(OutcomeOf([&] { model_->Reload(); }), c.outcome) << c.name;
    // Still the model of before: no tool body, and queries answer.
    EXPECT_EQ(model_->link_names(), links) << c.name;
    EXPECT_NO_THROW(model_->T(links.back())) << c.name;
  }
  sim().ServeUrdf(std::nullopt);
  model_->Reload();
  EXPECT_EQ(model_->link_names().size(), links.size() + 1);
}

}  // namespace
}  // namespace korvo::vyr
