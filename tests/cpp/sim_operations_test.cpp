// The two operation layers against korvo-sim over loopback zenoh, as the robot interface will use
// them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "client/operations_rpc.hpp"
#include "client/qel_data_rpc.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "loopback.hpp"
#include "rpc_test_support.hpp"
#include "sim/simulator.hpp"

namespace korvo::vyr_impl {
namespace {

using namespace std::chrono_literals;
using sim::ReplyAction;
using sim::ReplyRule;
using vyr::JointGroup;
using vyr::Mode;
using vyr::ProductModel;

const std::vector<JointGroup> kAllGroups = {JointGroup::ALL, JointGroup::ARMS, JointGroup::ARM_1,
                                            JointGroup::ARM_2, JointGroup::EXT_AXIS};

class SimOperationsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = test::FreeTcpPort();
    simulator_ =
        std::make_unique<sim::Simulator>(zenoh::Config::from_str(test::ListenerConfig(port)));
    client_ =
        std::make_shared<zenoh::Session>(zenoh::Config::from_str(test::ConnectorConfig(port)));
  }
  static void TearDownTestSuite() {
    client_.reset();
    simulator_.reset();
  }

  // A robot of its own for every test, with both layers connected to it.
  sim::RobotHost& Host(ProductModel model, unsigned ext_axes = 0) {
    serial_ = test::SerialOfThisTest(vyr::kProductModelNames.at(model));
    auto& host = simulator_->AddRobot(model, serial_, ext_axes);
    ops_.Init(client_, serial_);
    qel_.Init(client_, serial_);
    // Until the client knows the robot's queryables, queries finish without a reply.
    std::string version;
    EXPECT_TRUE(test::Eventually([&] { return ops_.SyncServerVersion(version).ok(); }));
    EXPECT_TRUE(test::Eventually([&] { return qel_.SyncServerVersion(version).ok(); }));
    host.ClearRecords();
    return host;
  }
  void TearDown() override {
    if (!serial_.empty()) simulator_->RemoveRobot(serial_);
  }

  static inline std::unique_ptr<sim::Simulator> simulator_;
  static inline std::shared_ptr<zenoh::Session> client_;
  std::string serial_;
  OperationsRPC ops_;
  QELDataRpc qel_;
};

struct LayoutCase {
  ProductModel model;
  unsigned ext_axes;
  friend void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << vyr::kProductModelNames.at(c.model) << " with " << c.ext_axes << " external axes";
  }
};

class SimLayoutOperationsTest : public SimOperationsTest,
                                public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SimLayoutOperationsTest, StartIdsDoFAndJointLimitsDescribeTheRobot) {
  auto& host = Host(GetParam().model, GetParam().ext_axes);
  const auto& model = host.robot().model();

  std::map<JointGroup, std::int32_t> start_ids;
  vyr::RobotInfo info;
  ASSERT_TRUE(qel_.GetStartIdsAndDoF(kAllGroups, start_ids, info.DoF).ok());
  std::map<JointGroup, std::int32_t> expected_ids;
  std::map<JointGroup, int> expected_dof;
  for (const auto& [group, layout] : model.groups()) {
    expected_ids[group] = layout.first;
    expected_dof[group] = static_cast<int>(layout.second);
  }
  EXPECT_EQ(start_ids, expected_ids);
  EXPECT_EQ(info.DoF, expected_dof);

  ASSERT_TRUE(ops_.SyncJointLimits(kAllGroups, info).ok());
  EXPECT_FALSE(info.software_ver.empty());
  std::map<JointGroup, std::string> expected_names, expected_arms;
  for (const auto& [group, dof] : expected_dof) {
    expected_names[group] = vyr::kJointGroupNames.at(group);
  }
  for (const auto arm : model.arms()) expected_arms[arm] = vyr::kJointGroupNames.at(arm);
  EXPECT_EQ(info.all_groups, expected_names);
  EXPECT_EQ(info.single_arm_groups, expected_arms);

  // The robot's own limits, block by block, at the group's place in the full-DoF joint list.
  const auto& joints = model.joints();
  for (const auto& [group, dof] : info.DoF) {
    const int start = start_ids[group];
    ASSERT_EQ(info.q_max[group].size(), static_cast<std::size_t>(dof));
    for (int j = 0; j < dof; ++j) {
      const auto& joint = joints.at(start + j);
      EXPECT_FLOAT_EQ(info.q_max[group][j], joint.q_max) << joint.name;
      EXPECT_FLOAT_EQ(info.q_min[group][j], joint.q_min) << joint.name;
      EXPECT_FLOAT_EQ(info.dq_max[group][j], joint.dq_max) << joint.name;
      EXPECT_FLOAT_EQ(info.tau_max[group][j], joint.tau_max) << joint.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, SimLayoutOperationsTest,
                         ::testing::Values(LayoutCase{ProductModel::Olvar_L, 2},
                                           LayoutCase{ProductModel::Olvar_LL, 0},
                                           LayoutCase{ProductModel::TAVU_Ultra, 6}));

TEST_F(SimOperationsTest, ModeChangesAreReadBackAndRefusalsAreNotRetried) {
  auto& host = Host(ProductModel::Olvar_L);
  host.robot().MakeReady();
  ASSERT_TRUE(ops_.SetMode(Mode::NRT_JOINT_POSITION).ok());
  Mode mode = Mode::UNKNOWN;
  ASSERT_TRUE(ops_.GetMode(mode).ok());
  EXPECT_EQ(mode, Mode::NRT_JOINT_POSITION);

  // Another mode only through IDLE: the robot refuses, once.
  host.ClearRecords();
  EXPECT_EQ(ops_.SetMode(Mode::RT_JOINT_POSITION).code, kKroFault);
  EXPECT_EQ(host.vyr_requests().size(), 1u);
  EXPECT_EQ(host.robot().mode(), Mode::NRT_JOINT_POSITION);
}

TEST_F(SimOperationsTest, TheCurrentFlangePosesAreReachable) {
  auto& host = Host(ProductModel::Olvar_LL);
  const auto& model = host.robot().model();
  const auto q = host.robot().q();
  std::map<JointGroup, vyr::IKParams> params;
  for (const auto arm : {JointGroup::ARM_2, JointGroup::ARM_1}) {
    const auto [start, dof] = model.groups().at(arm);
    params[arm].cartesian_pose = model.FlangePose(arm, q);
    params[arm].seed_q.assign(q.begin() + start, q.begin() + start + dof);
  }
  vyr::IKResult result;
  ASSERT_TRUE(ops_.RequestReachability(params, result).ok());
  EXPECT_TRUE(result.success);
  ASSERT_EQ(result.solved_q.size(), 2u);
  for (const auto& [arm, solved] : result.solved_q) {
    ASSERT_EQ(solved.size(), params[arm].seed_q.size());
    for (std::size_t j = 0; j < solved.size(); ++j) {
      EXPECT_NEAR(solved[j], params[arm].seed_q[j], 1e-3);
    }
  }
  const auto requests = host.vyr_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].request.joint_groups, (std::vector<std::uint16_t>{3, 4}));
}

TEST_F(SimOperationsTest, PlanInfoPrimitiveStatesAndManipulability) {
  auto& host = Host(ProductModel::Olvar_LL);
  vyr::PlanInfo info;
  ASSERT_TRUE(qel_.GetPlanInfo(info).ok());
  EXPECT_EQ(info.velocity_scale, 100.0);
  EXPECT_FALSE(info.waiting_for_step);

  std::vector<std::string> entries;
  EXPECT_TRUE(qel_.GetPrimitiveStates(entries).ok());

  std::map<JointGroup, std::array<double, 6>> values;
  ASSERT_TRUE(qel_.GetManipulability(values).ok());
  std::vector<JointGroup> groups;
  for (const auto& [group, value] : values) {
    groups.push_back(group);
    // Smallest and largest singular values of the linear and the angular part, then products.
    EXPECT_GT(value[0], 0.0);
    EXPECT_LE(value[0], value[1]);
    EXPECT_GT(value[3], 0.0);
    EXPECT_LE(value[3], value[4]);
  }
  EXPECT_EQ(groups, host.robot().model().arms());
}

struct RuleCase {
  const char* name;
  sim::Server server;
  ReplyAction action;
  int count;
  bool ok;
  std::size_t requests;
  friend void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.name; }
};

class SimReplyRuleOperationsTest : public SimOperationsTest,
                                   public ::testing::WithParamInterface<RuleCase> {};

TEST_P(SimReplyRuleOperationsTest, EachLayerHandlesAnAlteredReply) {
  const auto& c = GetParam();
  auto& host = Host(ProductModel::Olvar_L);
  // The version operations: code 3 on the VYR server, code 1 on the QEL server.
  const bool vyr = c.server == sim::Server::kVyr;
  host.SetReplyRule(c.server, vyr ? 3 : 1, ReplyRule{c.action, 300ms, c.count});
  std::string version;
  const auto state = vyr ? ops_.SyncServerVersion(version) : qel_.SyncServerVersion(version);
  EXPECT_EQ(state.code, c.ok ? kKroOk : kKroFault);
  EXPECT_EQ(version, c.ok ? "v2.1" : "");
  EXPECT_EQ(vyr ? host.vyr_requests().size() : host.qel_requests().size(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SimReplyRuleOperationsTest,
    ::testing::Values(
        RuleCase{"VyrRefused", sim::Server::kVyr, ReplyAction::kRefuse, -1, false, 1},
        RuleCase{"VyrOtherOpCode", sim::Server::kVyr, ReplyAction::kWrongOpCode, -1, false, 1},
        RuleCase{"VyrTwoCorruptReplies", sim::Server::kVyr, ReplyAction::kCorrupt, 2, true, 3},
        RuleCase{"VyrOnlyCorruptReplies", sim::Server::kVyr, ReplyAction::kCorrupt, -1, false, 3},
        RuleCase{"VyrDelayed", sim::Server::kVyr, ReplyAction::kDelay, 1, true, 1},
        RuleCase{"QelRefused", sim::Server::kQel, ReplyAction::kRefuse, -1, false, 1},
        RuleCase{"QelOtherOpCode", sim::Server::kQel, ReplyAction::kWrongOpCode, -1, false, 1},
        RuleCase{"QelOneCorruptReply", sim::Server::kQel, ReplyAction::kCorrupt, 1, false, 1},
        RuleCase{"QelDelayed", sim::Server::kQel, ReplyAction::kDelay, 1, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr_impl
