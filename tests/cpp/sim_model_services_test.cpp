// Model against the simulated robot: template description files synced with the URDF it serves,
// constrained IK solved by it and checked by the local model's forward kinematics, configuration
// scores and the multi-contact estimates of its stream data.
#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/model.hpp"
#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

namespace fs = std::filesystem;
using test::Eventually;
using test::Invalid;
using test::OutcomeOf;
using test::Runtime;
using test::VyrRequestsOf;

constexpr std::uint16_t kOpReachability = 11;

std::string Printed(const tinyxml2::XMLDocument& doc) {
  tinyxml2::XMLPrinter printer(nullptr, false);
  doc.Print(&printer);
  return printer.CStr();
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each number of a blank-separated triple moved by `by`.
std::string Moved(const char* triple, double by) {
  double v[3];
  EXPECT_EQ(std::sscanf(triple, "%lf %lf %lf", &v[0], &v[1], &v[2]), 3) << triple;
  return std::to_string(v[0] + by) + " " + std::to_string(v[1] + by) + " " +
         std::to_string(v[2] + by);
}

class ModelServicesTest : public test::SimulatorSuite {
 protected:
  void Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    sim().MakeReady();
    robot_ = std::make_unique<Robot>(serial_, false);
    ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
    model_ = std::make_unique<Model>(*robot_);
    dir_ =
        fs::temp_directory_path() / ("korvo-model-" + std::to_string(::getpid()) + "-" + serial_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    model_.reset();
    robot_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
    SimulatorSuite::TearDown();
  }
  sim::SimRobot& sim() { return host_->robot(); }

  // The pose of `group`'s flange at `q` as the local model computes it: x y z qw qx qy qz.
  std::array<double, kPoseSize> FlangePose(JointGroup group, const std::vector<double>& q) {
    const std::string suffix = group == JointGroup::ARM_1 ? ".arm1.flange" : ".arm2.flange";
    std::string flange;
    for (const auto& name : model_->link_names()) {
      if (name.ends_with(suffix)) flange = name;
    }
    model_->Update(q, std::vector<double>(q.size(), 0.0));
    const Eigen::Isometry3d t = model_->T(flange);
    const Eigen::Quaterniond r(t.linear());
    return {
        t.translation().x(), t.translation().y(), t.translation().z(), r.w(), r.x(), r.y(), r.z()};
  }
  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Model> model_;
  fs::path dir_;
};

TEST_F(ModelServicesTest, APerturbedTemplateUrdfTakesTheRobotsOriginsOnly) {
  Start();
  tinyxml2::XMLDocument served;
  ASSERT_EQ(served.Parse(sim().model().urdf().c_str()), tinyxml2::XML_SUCCESS);
  const std::string expected = Printed(served);
  int perturbed = 0;
  for (auto* joint = served.FirstChildElement("robot")->FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    auto* origin = joint->FirstChildElement("origin");
    origin->SetAttribute("xyz", Moved(origin->Attribute("xyz"), 0.01).c_str());
    origin->SetAttribute("rpy", Moved(origin->Attribute("rpy"), -0.02).c_str());
    ++perturbed;
  }
  ASSERT_GT(perturbed, 7);
  const auto path = dir_ / "olvar.urdf";
  std::ofstream(path) << Printed(served);
  ASSERT_NE(Read(path), expected);

  const Eigen::MatrixXd before = model_->M();
  model_->SyncURDF(path.string());
  EXPECT_EQ(Read(path), expected);
  EXPECT_TRUE(model_->M().isApprox(before, 0.0));  // the local model is not changed
}

TEST_F(ModelServicesTest, APerturbedKinematicsYamlTakesTheRobotsOrigins) {
  Start();
  const auto& joints = sim().model().tree().joint_list();
  YAML::Node doc;
  doc["robot_model"] = "Olvar_L";
  for (const auto& joint : joints) {
    YAML::Node entry = doc["kinematics"][joint.name];
    for (const char* key : {"x", "y", "z", "roll", "pitch", "yaw"}) entry[key] = 0.5;
  }
  doc["kinematics"]["not_a_joint"]["x"] = 7.0;
  const auto path = dir_ / "default_kinematics.yaml";
  std::ofstream(path) << "# generated for the nominal robot\n" << doc;

  EXPECT_EQ(model_->SyncKinematicsYAML(path.string()), static_cast<int>(joints.size()));
  const YAML::Node synced = YAML::LoadFile(path.string());
  for (const auto& joint : joints) {
    const YAML::Node entry = synced["kinematics"][joint.name];
    const double values[] = {entry["x"].as<double>(),     entry["y"].as<double>(),
                             entry["z"].as<double>(),     entry["roll"].as<double>(),
                             entry["pitch"].as<double>(), entry["yaw"].as<double>()};
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(values[k], joint.xyz[k], 1e-9) << joint.name;
      EXPECT_NEAR(values[3 + k], joint.rpy[k], 1e-9) << joint.name;
    }
  }
  EXPECT_EQ(synced["kinematics"]["not_a_joint"]["x"].as<double>(), 7.0);
  EXPECT_EQ(synced["robot_model"].as<std::string>(), "Olvar_L");
}

TEST_F(ModelServicesTest, SyncsReportWhatTheRobotServes) {
  Start();
  const auto urdf = dir_ / "olvar.urdf";
  const auto yaml = dir_ / "kinematics.yaml";
  std::ofstream(urdf) << sim().model().urdf();
  std::ofstream(yaml) << "kinematics: {}\n";
  const std::string urdf_text = Read(urdf), yaml_text = Read(yaml);

  sim().CorruptNextDownload(sim::DownloadFault::kCrc);
  EXPECT_EQ(OutcomeOf([&] { model_->SyncURDF(urdf.string()); }),
            Runtime("[korvo::vyr::Model::SyncURDF] Failed to obtain URDF from server"));
  sim().ServeUrdf("<model/>");
  EXPECT_EQ(OutcomeOf([&] { model_->SyncURDF(urdf.string()); }),
            Runtime("[korvo::vyr::Model::SyncURDF] Failed to parse the URDF obtained from server"));
  EXPECT_EQ(OutcomeOf([&] { model_->SyncKinematicsYAML(yaml.string()); }),
            Runtime("[korvo::vyr::Model::SyncKinematicsYAML] Failed to find <robot> element in "
                    "URDF"));
  EXPECT_EQ(Read(urdf), urdf_text);
  EXPECT_EQ(Read(yaml), yaml_text);

  // A template that cannot be used fails before the robot is asked for anything.
  const auto requests = host_->vyr_requests().size();
  const std::string missing = (dir_ / "missing.urdf").string();
  EXPECT_EQ(
      OutcomeOf([&] { model_->SyncURDF(missing); }),
      Invalid("[korvo::vyr::Model::SyncURDF] Failed to load template URDF at [" + missing + "]"));
  std::ofstream(yaml) << "robot: Olvar_L\n";
  EXPECT_EQ(OutcomeOf([&] { model_->SyncKinematicsYAML(yaml.string()); }),
            Invalid("[korvo::vyr::Model::SyncKinematicsYAML] Missing <kinematics> root node in "
                    "the template YAML"));
  EXPECT_EQ(host_->vyr_requests().size(), requests);
}

TEST_F(ModelServicesTest, AReachableTargetIsSolvedWithinTheLimits) {
  Start();
  const auto& info = robot_->info();
  const auto& lower = info.q_min.at(JointGroup::ARM_1);
  const auto& upper = info.q_max.at(JointGroup::ARM_1);
  std::vector<double> target(lower.size()), seed(lower.size());
  for (std::size_t j = 0; j < target.size(); ++j) {
    target[j] = lower[j] + 0.6 * (upper[j] - lower[j]);
    seed[j] = lower[j] + 0.5 * (upper[j] - lower[j]);
  }
  const auto pose = FlangePose(JointGroup::ARM_1, target);

  for (const bool free_orientation : {false, true}) {
    SCOPED_TRACE(free_orientation ? "position only" : "full pose");
    IKParams params;
    params.cartesian_pose = pose;
    params.seed_q = seed;
    params.free_orientation = free_orientation;
    const IKResult result = model_->SolveConstrainedIK({{JointGroup::ARM_1, params}});
    ASSERT_TRUE(result.success);
    ASSERT_EQ(result.solved_q.size(), 1u);
    const auto& q = result.solved_q.at(JointGroup::ARM_1);
    ASSERT_EQ(q.size(), seed.size());
    for (std::size_t j = 0; j < q.size(); ++j) {
      EXPECT_GE(q[j], lower[j] - 1e-6);
      EXPECT_LE(q[j], upper[j] + 1e-6);
    }
    const auto reached = FlangePose(JointGroup::ARM_1, q);
    const Eigen::Vector3d error(reached[0] - pose[0], reached[1] - pose[1], reached[2] - pose[2]);
    EXPECT_LT(error.norm(), 1e-4);
    if (!free_orientation) {
      const Eigen::Quaterniond a(reached[3], reached[4], reached[5], reached[6]);
      const Eigen::Quaterniond b(pose[3], pose[4], pose[5], pose[6]);
      EXPECT_LT(a.angularDistance(b), 1e-3);
    }
  }

  IKParams far;
  far.cartesian_pose = {10.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0};
  far.seed_q = seed;
  const IKResult unreachable = model_->SolveConstrainedIK({{JointGroup::ARM_1, far}});
  EXPECT_FALSE(unreachable.success);
}

TEST_F(ModelServicesTest, OnlyTheRequestedArmsAreSolvedAndSentInOrder) {
  Start(ProductModel::Olvar_LL);
  const auto& info = robot_->info();
  std::vector<double> home(static_cast<std::size_t>(info.DoF.at(JointGroup::ALL)), 0.0);
  const auto& lower = info.q_min.at(JointGroup::ARM_2);
  const auto& upper = info.q_max.at(JointGroup::ARM_2);
  std::vector<double> arm(lower.size()), seed(lower.size());
  for (std::size_t j = 0; j < arm.size(); ++j) {
    arm[j] = lower[j] + 0.4 * (upper[j] - lower[j]);
    seed[j] = lower[j] + 0.5 * (upper[j] - lower[j]);
  }
  IKParams params;
  // The second arm's joints are the last of the robot.
  std::vector<double> full = home;
  std::copy(arm.begin(), arm.end(), full.end() - static_cast<std::ptrdiff_t>(arm.size()));
  params.cartesian_pose = FlangePose(JointGroup::ARM_2, full);
  params.seed_q = seed;
  const IKResult one = model_->SolveConstrainedIK({{JointGroup::ARM_2, params}});
  EXPECT_TRUE(one.success);
  ASSERT_EQ(one.solved_q.size(), 1u);
  EXPECT_EQ(one.solved_q.count(JointGroup::ARM_2), 1u);
  EXPECT_EQ(VyrRequestsOf(*host_, kOpReachability).back().joint_groups,
            (std::vector<std::uint16_t>{static_cast<std::uint16_t>(JointGroup::ARM_2)}));

  std::map<JointGroup, IKParams> both;
  both[JointGroup::ARM_2] = params;
  IKParams left = params;
  left.cartesian_pose = FlangePose(JointGroup::ARM_1, home);
  both[JointGroup::ARM_1] = left;
  const IKResult two = model_->SolveConstrainedIK(both);
  EXPECT_EQ(two.solved_q.size(), 2u);
  EXPECT_EQ(VyrRequestsOf(*host_, kOpReachability).back().joint_groups,
            (std::vector<std::uint16_t>{static_cast<std::uint16_t>(JointGroup::ARM_1),
                                        static_cast<std::uint16_t>(JointGroup::ARM_2)}));
}

TEST_F(ModelServicesTest, IkInputsAreCheckedBeforeAnythingIsSent) {
  Start();
  const std::string prefix = "[korvo::vyr::Model::SolveConstrainedIK] ";
  IKParams right;
  right.seed_q.assign(7, 0.0);
  right.cartesian_pose = {0.5, 0.0, 0.5, 1.0, 0.0, 0.0, 0.0};
  IKParams six = right, empty = right;
  six.seed_q.assign(6, 0.0);
  empty.seed_q.clear();
  const std::string size = prefix + "Size of input vector [seed_q] does not match joint group DoF";
  const auto not_arm = [&](const std::string& name) {
    return Invalid(prefix + "The specified joint group [" + name +
                   "] is not an existing single-arm joint group in the connected robot");
  };
  struct Case {
    const char* name;
    std::map<JointGroup, IKParams> params;
    test::Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"empty", {}, Invalid(prefix + "Input [ik_params_by_group] is empty")},
      {"six of seven", {{JointGroup::ARM_1, six}}, Invalid(size)},
      {"no seed", {{JointGroup::ARM_1, empty}}, Invalid(size)},
      {"the whole robot", {{JointGroup::ALL, right}}, not_arm("ALL")},
      {"an arm it lacks", {{JointGroup::ARM_2, right}}, not_arm("ARM_2")},
      {"a group without a name", {{static_cast<JointGroup>(99), right}}, not_arm("UNKNOWN")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OutcomeOf([&] { model_->SolveConstrainedIK(c.params); }), c.outcome) << c.name;
  }
  EXPECT_TRUE(VyrRequestsOf(*host_, kOpReachability).empty());
}

TEST_F(ModelServicesTest, ATargetThatIsNotANumberIsRefusedByTheRobot) {
  Start();
  IKParams params;
  params.cartesian_pose = {std::nan(""), 0.0, 0.5, 1.0, 0.0, 0.0, 0.0};
  params.seed_q.assign(7, 0.0);
  EXPECT_EQ(OutcomeOf([&] {
              model_->SolveConstrainedIK({{JointGroup::ARM_1, params}});
            }),
            Runtime("[korvo::vyr::Model::SolveConstrainedIK] No reply from the robot"));
  EXPECT_EQ(VyrRequestsOf(*host_, kOpReachability).size(), 1u);
}

TEST_F(ModelServicesTest, AnUprightArmScoresPoorInOrientationAndABentOneGood) {
  Start(ProductModel::Olvar_LL);
  const auto n = static_cast<std::size_t>(robot_->info().DoF.at(JointGroup::ALL));
  const auto scores_at = [&](double angle) {
    sim().SetJointPositions(std::vector<double>(n, angle));
    return model_->configuration_score();
  };
  const auto upright = scores_at(0.0);
  ASSERT_EQ(upright.size(), 2u);
  for (const auto& [group, score] : upright) {
    EXPECT_LT(score.second, 20.0) << static_cast<int>(group);
    EXPECT_GE(score.first, 0.0);
  }
  for (const auto& [group, score] : scores_at(0.6)) {
    EXPECT_GE(score.second, 40.0) << static_cast<int>(group);
    EXPECT_GT(score.first, 0.0);
    EXPECT_LE(score.first, 100.0);
  }
}

TEST_F(ModelServicesTest, ContactEstimatesFollowTheStreamPerGroup) {
  Start(ProductModel::Olvar_LL);
  const auto& info = robot_->info();
  const auto n = static_cast<std::size_t>(info.DoF.at(JointGroup::ALL));
  std::vector<std::array<double, 3>> forces(n), positions(n);
  for (std::size_t i = 0; i < n; ++i) {
    forces[i] = {1.0 * i, -2.0, 0.5};
    positions[i] = {0.0, 0.25 * i, -0.125};
  }
  sim().SetMultiContact(forces, positions);
  ASSERT_TRUE(Eventually([&] {
    return !model_->multi_contact_forces().empty() &&
           model_->multi_contact_forces().at(JointGroup::ARM_2)[0].x() == 7.0;
  }));
  const auto by_group = model_->multi_contact_forces();
  const auto where = model_->multi_contact_positions();
  EXPECT_EQ(by_group.size(), info.all_groups.size());
  ASSERT_EQ(by_group.at(JointGroup::ARM_1).size(), 7u);
  ASSERT_EQ(by_group.at(JointGroup::ARM_2).size(), 7u);
  for (std::size_t j = 0; j < 7; ++j) {
    EXPECT_EQ(by_group.at(JointGroup::ARM_1)[j], Eigen::Vector3d(1.0 * j, -2.0, 0.5));
    EXPECT_EQ(by_group.at(JointGroup::ARM_2)[j], Eigen::Vector3d(1.0 * (7 + j), -2.0, 0.5));
    EXPECT_EQ(where.at(JointGroup::ARM_2)[j], Eigen::Vector3d(0.0, 0.25 * (7 + j), -0.125));
  }

  // A robot without the estimation sends too few values: no group has any.
  sim().SetMultiContact({{1.0, 1.0, 1.0}}, {});
  EXPECT_TRUE(Eventually([&] { return model_->multi_contact_forces().empty(); }));
  EXPECT_TRUE(model_->multi_contact_positions().empty());
  sim().ResetMultiContact();
  EXPECT_TRUE(Eventually([&] {
    const auto zero = model_->multi_contact_forces();
    return zero.size() == info.all_groups.size() && zero.at(JointGroup::ARM_1)[6].isZero(0.0);
  }));
}

}  // namespace
}  // namespace korvo::vyr
