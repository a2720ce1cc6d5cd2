// The simulated robot's model services as pure logic: constrained IK (operation 11) answered from
// built requests and checked by the TCP pose the stream reports, the requests it refuses, the
// manipulability values of QEL operation 9, and the multi-contact values of the basic stream as
// the client segments them.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "case_name.hpp"
#include "client/segmentation.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "sim/manipulability.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::JointGroup;
using vyr::ProductModel;
namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;
using Pose = std::array<double, 7>;
using Vec3 = std::array<double, 3>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::uint16_t kArm1 = 3, kArm2 = 4;

// ---- helpers ------------------------------------------------------------------------------------

// The stream's TCP pose of `arm`, as the client reads it.
Pose StreamTcp(const SimRobot& robot, std::uint16_t arm) {
  const auto data = robot.BasicStreamData();
  for (std::size_t i = 0; i < data.joint_groups.size(); ++i) {
    if (data.joint_groups[i] != arm) continue;
    const auto& tcp = data.cartesian_data[i].tcp_pose;
    return {tcp[0], tcp[1], tcp[2], tcp[3], tcp[4], tcp[5], tcp[6]};
  }
  ADD_FAILURE() << "no Cartesian data for group " << arm;
  return {};
}

std::vector<float> ArmOf(const SimRobot& robot, std::uint16_t arm, const std::vector<double>& q) {
  const auto [start, n] = robot.model().groups().at(static_cast<JointGroup>(arm));
  return {q.begin() + start, q.begin() + start + n};
}

// One request row: the pose, then the seed.
std::vector<float> Row(const Pose& pose, const std::vector<float>& seed) {
  std::vector<float> row(pose.begin(), pose.end());
  row.insert(row.end(), seed.begin(), seed.end());
  return row;
}

vyr_msg::RPCRequest Reach(std::vector<std::uint16_t> groups, std::vector<std::int32_t> free,
                          std::vector<std::vector<float>> rows) {
  vyr_msg::RPCRequest r;
  r.op_code = 11;
  r.joint_groups = std::move(groups);
  r.int_container = std::move(free);
  r.float2d_container = std::move(rows);
  return r;
}

// `q` with the arm's joints replaced by a reply row.
std::vector<double> WithArm(const SimRobot& robot, std::vector<double> q, std::uint16_t arm,
                            const std::vector<float>& row) {
  const auto [start, n] = robot.model().groups().at(static_cast<JointGroup>(arm));
  EXPECT_EQ(row.size(), n);
  for (unsigned j = 0; j < n && j < row.size(); ++j) q[start + j] = row[j];
  return q;
}

// Adds `tool` to the robot (operation 30) and makes it the active tool of `arm` (operation 33).
void MountTool(SimRobot& robot, std::uint16_t arm, const vyr_msg::ToolInfo& tool) {
  vyr_msg::RPCRequest request;
  request.op_code = 30;
  request.tool = tool;
  ASSERT_TRUE(robot.HandleVyr(request).success);
  request.op_code = 33;
  request.joint_groups = {arm};
  ASSERT_TRUE(robot.HandleVyr(request).success);
}

void ExpectPoseReached(const Pose& pose, const Pose& target) {
  const Eigen::Vector3d p(pose[0], pose[1], pose[2]), t(target[0], target[1], target[2]);
  // The stream carries floats: a few 1e-7 of rounding on top of the solver's tolerance.
  EXPECT_LE((p - t).norm(), 2e-5) << p.transpose() << " vs " << t.transpose();
  const Eigen::Quaterniond r(pose[3], pose[4], pose[5], pose[6]);
  const Eigen::Quaterniond s(target[3], target[4], target[5], target[6]);
  EXPECT_LE(r.normalized().angularDistance(s.normalized()), 2e-4);
}

// Every value of a reply row within the robot's joint limits of `arm`, as the client reads them.
void ExpectWithinLimits(const SimRobot& robot, std::uint16_t arm, const std::vector<float>& row) {
  const auto [start, n] = robot.model().groups().at(static_cast<JointGroup>(arm));
  ASSERT_EQ(row.size(), n);
  for (unsigned j = 0; j < n; ++j) {
    const auto& joint = robot.model().joints()[start + j];
    EXPECT_TRUE(std::isfinite(row[j])) << joint.name;
    EXPECT_GE(row[j], static_cast<float>(joint.q_min)) << joint.name;
    EXPECT_LE(row[j], static_cast<float>(joint.q_max)) << joint.name;
  }
}

// ---- constrained IK -----------------------------------------------------------------------------

TEST(SimRobotConstrainedIk, SolvesEachRequestedArmForItsTcpInRequestOrder) {
  SimRobot robot("SN-ik-both", MakeRobotModel(ProductModel::Olvar_LL, 0));
  // The second arm carries a tool: its TCP is what is solved for.
  MountTool(robot, kArm2,
            {"Probe",
             0.3f,
             {0, 0, 0.05f},
             {1e-3f, 1e-3f, 1e-3f, 0, 0, 0},
             {0.03f, 0, 0.18f, 1, 0, 0, 0}});

  // Targets: the TCP poses the stream reports at one posture; seeds: another posture.
  const std::vector<double> home = robot.q();
  std::vector<double> posture = home, seed = home;
  for (std::size_t k = 0; k < posture.size(); ++k) {
    posture[k] += 0.25 * std::sin(1.0 + 2.0 * k);
    seed[k] += 0.3 * std::cos(0.5 + 3.0 * k);
  }
  robot.SetJointPositions(posture);
  const Pose target1 = StreamTcp(robot, kArm1), target2 = StreamTcp(robot, kArm2);
  robot.SetJointPositions(home);

  const auto reply = robot.HandleVyr(
      Reach({kArm2, kArm1}, {0, 0},
            {Row(target2, ArmOf(robot, kArm2, seed)), Row(target1, ArmOf(robot, kArm1, seed))}));
  ASSERT_TRUE(reply.success);
  EXPECT_EQ(reply.op_code, 11);
  EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{1});
  ASSERT_EQ(reply.joint_groups, (std::vector<std::uint16_t>{kArm2, kArm1}));
  ASSERT_EQ(reply.float2d_container.size(), 2u);
  ExpectWithinLimits(robot, kArm2, reply.float2d_container[0]);
  ExpectWithinLimits(robot, kArm1, reply.float2d_container[1]);
  EXPECT_EQ(robot.q(), home) << "a reachability query moves nothing";

  // Each arm at its solution puts its TCP where it was asked.
  auto solved = WithArm(robot, home, kArm2, reply.float2d_container[0]);
  solved = WithArm(robot, solved, kArm1, reply.float2d_container[1]);
  robot.SetJointPositions(solved);
  ExpectPoseReached(StreamTcp(robot, kArm1), target1);
  ExpectPoseReached(StreamTcp(robot, kArm2), target2);
}

TEST(SimRobotConstrainedIk, AnyArmOutOfReachMakesTheAnswerZero) {
  SimRobot robot("SN-ik-far", MakeRobotModel(ProductModel::Olvar_LL, 0));
  const auto q = robot.q();
  const Pose far = {3.0, 0.0, 0.8, 1, 0, 0, 0};
  const auto reply = robot.HandleVyr(Reach(
      {kArm1, kArm2}, {0, 0},
      {Row(StreamTcp(robot, kArm1), ArmOf(robot, kArm1, q)), Row(far, ArmOf(robot, kArm2, q))}));
  ASSERT_TRUE(reply.success);
  EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{0});
  ASSERT_EQ(reply.joint_groups, (std::vector<std::uint16_t>{kArm1, kArm2}));
  ASSERT_EQ(reply.float2d_container.size(), 2u);
  ExpectWithinLimits(robot, kArm1, reply.float2d_container[0]);
  ExpectWithinLimits(robot, kArm2, reply.float2d_container[1]);

  // The same far target alone: zero too.
  const auto alone = robot.HandleVyr(Reach({kArm2}, {1}, {Row(far, ArmOf(robot, kArm2, q))}));
  ASSERT_TRUE(alone.success);
  EXPECT_EQ(alone.int_container, std::vector<std::int32_t>{0});
}

TEST(SimRobotConstrainedIk, FreeOrientationSolvesThePositionWhateverTheQuaternion) {
  SimRobot robot("SN-ik-free", MakeRobotModel(ProductModel::Olvar_L, 0));
  const auto seed = ArmOf(robot, kArm1, robot.q());
  // 1.25 m above the base, reachable only with the wrist stretched upwards, not pointing down.
  const Pose down = {0, 0, 1.25, 0, 1, 0, 0};
  const Pose no_orientation = {0, 0, 1.25, 0, 0, 0, 0};

  const auto constrained = robot.HandleVyr(Reach({kArm1}, {0}, {Row(down, seed)}));
  ASSERT_TRUE(constrained.success);
  EXPECT_EQ(constrained.int_container, std::vector<std::int32_t>{0});

  for (const Pose& pose : {down, no_orientation}) {
    const auto free = robot.HandleVyr(Reach({kArm1}, {1}, {Row(pose, seed)}));
    ASSERT_TRUE(free.success);
    EXPECT_EQ(free.int_container, std::vector<std::int32_t>{1});
    ASSERT_EQ(free.float2d_container.size(), 1u);
    ExpectWithinLimits(robot, kArm1, free.float2d_container[0]);
    robot.SetJointPositions(WithArm(robot, robot.q(), kArm1, free.float2d_container[0]));
    const Pose tcp = StreamTcp(robot, kArm1);
    EXPECT_LE(Eigen::Vector3d(tcp[0], tcp[1], tcp[2] - 1.25).norm(), 2e-5);
  }
}

// A request for the current TCP pose of ARM_1 of an Olvar-L from its current posture, altered.
struct ReachCase {
  const char* name;
  std::function<void(vyr_msg::RPCRequest&)> alter;
  bool answered;
};

class SimRobotReachRequests : public ::testing::TestWithParam<ReachCase> {};

TEST_P(SimRobotReachRequests, AreAnsweredOnlyWhenWellFormed) {
  SimRobot robot("SN-ik-refusals", MakeRobotModel(ProductModel::Olvar_L, 0));
  const auto row = Row(StreamTcp(robot, kArm1), ArmOf(robot, kArm1, robot.q()));
  auto request = Reach({kArm1}, {0}, {row});
  GetParam().alter(request);
  const auto reply = robot.HandleVyr(request);
  EXPECT_EQ(reply.success, GetParam().answered);
  if (GetParam().answered) {
    EXPECT_EQ(reply.int_container, std::vector<std::int32_t>{1});
  } else {
    EXPECT_TRUE(reply.int_container.empty());
    EXPECT_TRUE(reply.joint_groups.empty());
    EXPECT_TRUE(reply.float2d_container.empty());
  }
}

// Sets value `index` of the first row.
std::function<void(vyr_msg::RPCRequest&)> SetValue(std::size_t index, float value) {
  return [=](vyr_msg::RPCRequest& r) { r.float2d_container[0][index] = value; };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimRobotReachRequests,
    ::testing::Values(
        ReachCase{"Unaltered", [](auto&) {}, true},
        ReachCase{"FreeOrientation", [](auto& r) { r.int_container = {1}; }, true},
        ReachCase{"NoGroups",
                  [](auto& r) {
                    r.joint_groups.clear();
                    r.int_container.clear();
                    r.float2d_container.clear();
                  },
                  false},
        ReachCase{"NoFlag", [](auto& r) { r.int_container.clear(); }, false},
        ReachCase{"TwoFlags",
                  [](auto& r) {
                    r.int_container = {0, 0};
                  },
                  false},
        ReachCase{"FlagTwo", [](auto& r) { r.int_container = {2}; }, false},
        ReachCase{"NoRow", [](auto& r) { r.float2d_container.clear(); }, false},
        ReachCase{"ShortRow", [](auto& r) { r.float2d_container[0].pop_back(); }, false},
        ReachCase{"LongRow", [](auto& r) { r.float2d_container[0].push_back(0.0f); }, false},
        ReachCase{"PoseOnly", [](auto& r) { r.float2d_container[0].resize(7); }, false},
        ReachCase{"SameArmTwice",
                  [](auto& r) {
                    r.joint_groups = {kArm1, kArm1};
                    r.int_container = {0, 0};
                    r.float2d_container.push_back(r.float2d_container[0]);
                  },
                  false},
        ReachCase{"ArmTheRobotLacks",
                  [](auto& r) {
                    r.joint_groups = {kArm1, kArm2};
                    r.int_container = {0, 0};
                    r.float2d_container.push_back(r.float2d_container[0]);
                  },
                  false},
        ReachCase{"GroupAll", [](auto& r) { r.joint_groups = {0}; }, false},
        ReachCase{"GroupArms", [](auto& r) { r.joint_groups = {2}; }, false},
        ReachCase{"GroupExtAxis", [](auto& r) { r.joint_groups = {5}; }, false},
        ReachCase{"GroupBeyondTheTable", [](auto& r) { r.joint_groups = {999}; }, false},
        ReachCase{"NaNPosition", SetValue(1, kNaN), false},
        ReachCase{"InfinitePosition", SetValue(2, -kInf), false},
        ReachCase{"NaNQuaternion", SetValue(4, kNaN), false},
        ReachCase{"NaNSeed", SetValue(9, kNaN), false},
        ReachCase{"InfiniteSeed", SetValue(13, kInf), false},
        ReachCase{"ZeroQuaternion",
                  [](auto& r) {
                    for (std::size_t i = 3; i < 7; ++i) r.float2d_container[0][i] = 0.0f;
                  },
                  false},
        ReachCase{"NearZeroQuaternion",
                  [](auto& r) {
                    for (std::size_t i = 3; i < 7; ++i) r.float2d_container[0][i] = 1e-9f;
                  },
                  false},
        // With a free orientation the quaternion goes unused, but must still be finite.
        ReachCase{"FreeWithNaNQuaternion",
                  [](auto& r) {
                    r.int_container = {1};
                    r.float2d_container[0][3] = kNaN;
                  },
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- manipulability -----------------------------------------------------------------------------

TEST(Manipulability, SmallestLargestAndProductOfTheSingularValuesOfEachPart) {
  // Linear part: singular values 3, 2 and 0.5 (scaled axes); angular part: rank 2.
  Eigen::Matrix<double, 6, Eigen::Dynamic> J = Eigen::Matrix<double, 6, Eigen::Dynamic>::Zero(6, 7);
  J.block<3, 3>(0, 0) = Eigen::Vector3d(0.5, 3.0, 2.0).asDiagonal();
  J(3, 4) = 1.0;
  J(4, 5) = 4.0;
  J(3, 6) = 1.0;  // the same axis again: adds to the first value, not the rank
  const auto values = Manipulability(J);
  EXPECT_NEAR(values[0], 0.5, 1e-12);
  EXPECT_NEAR(values[1], 3.0, 1e-12);
  EXPECT_NEAR(values[2], 3.0, 1e-12);
  EXPECT_NEAR(values[3], 0.0, 1e-12);
  EXPECT_NEAR(values[4], 4.0, 1e-12);
  EXPECT_NEAR(values[5], 0.0, 1e-12);

  // Fewer than three joints: the missing singular values are zero.
  const auto two = Manipulability(J.leftCols(2));
  EXPECT_NEAR(two[0], 0.0, 1e-12);
  EXPECT_NEAR(two[1], 3.0, 1e-12);
  EXPECT_NEAR(two[2], 0.0, 1e-12);
}

// The six values per arm that operation 9 reports, by group.
std::map<std::uint16_t, std::array<float, 6>> ManipulabilityOf(SimRobot& robot) {
  qel_msg::RPCRequest request;
  request.op_code = 9;
  const auto reply = robot.HandleQel(request);
  EXPECT_TRUE(reply.success);
  EXPECT_EQ(reply.joint_groups.size(), reply.float2d_container.size());
  std::map<std::uint16_t, std::array<float, 6>> values;
  for (std::size_t i = 0; i < reply.joint_groups.size() && i < reply.float2d_container.size();
       ++i) {
    const auto& row = reply.float2d_container[i];
    EXPECT_EQ(row.size(), 8u);  // the group and a value the client skips, then the six
    if (row.size() != 8u) continue;
    auto& v = values[reply.joint_groups[i]];
    std::copy(row.begin() + 2, row.end(), v.begin());
    for (const float x : v) EXPECT_TRUE(std::isfinite(x)) << "group " << reply.joint_groups[i];
  }
  return values;
}

TEST(SimRobotManipulability, FollowsThePostureAndVanishesWhereTheWristAxesLineUp) {
  SimRobot robot("SN-manipulability", MakeRobotModel(ProductModel::Olvar_LL, 0));
  const auto home = ManipulabilityOf(robot);
  ASSERT_EQ(home.size(), 2u);
  for (const auto& [group, v] : home) {
    SCOPED_TRACE(group);
    EXPECT_GT(v[0], 0.05f);  // well away from a singularity at home
    EXPECT_LE(v[0], v[1]);
    EXPECT_GT(v[2], 0.0f);
    EXPECT_GT(v[3], 0.05f);
    EXPECT_LE(v[3], v[4]);
    EXPECT_GT(v[5], 0.0f);
  }

  // ARM_1 upright (every joint at zero): its first, third, fifth and seventh axes are parallel,
  // and so are the second, fourth and sixth, so it can turn about two directions only.
  auto q = robot.q();
  const auto [start, n] = robot.model().groups().at(JointGroup::ARM_1);
  std::fill(q.begin() + start, q.begin() + start + n, 0.0);
  robot.SetJointPositions(q);
  const auto upright = ManipulabilityOf(robot);
  ASSERT_EQ(upright.size(), 2u);
  EXPECT_LT(upright.at(kArm1)[3], 1e-6f);
  EXPECT_LT(upright.at(kArm1)[5], 1e-6f);
  EXPECT_GT(upright.at(kArm1)[2], 0.0f);  // the wrist offset still moves the flange every way
  EXPECT_NE(upright.at(kArm1)[2], home.at(kArm1)[2]);
  EXPECT_EQ(upright.at(kArm2), home.at(kArm2));
}

TEST(SimRobotManipulability, TranslationIsThatOfTheToolCentrePoint) {
  SimRobot robot("SN-manipulability-tool", MakeRobotModel(ProductModel::Olvar_L, 0));
  const auto flange = ManipulabilityOf(robot).at(kArm1);
  MountTool(robot, kArm1,
            {"Long", 1.0f, {0, 0, 0.2f}, {1e-2f, 1e-2f, 1e-2f, 0, 0, 0}, {0, 0, 0.4f, 1, 0, 0, 0}});
  const auto tcp = ManipulabilityOf(robot).at(kArm1);
  EXPECT_GT(std::abs(tcp[2] - flange[2]), 1e-3f);  // a point 0.4 m further out moves otherwise
  for (int i = 3; i < 6; ++i) EXPECT_FLOAT_EQ(tcp[i], flange[i]);  // turning does not depend on it
}

// ---- multi-contact values -----------------------------------------------------------------------

// The client's view of the stream: the robot's groups, start IDs and DoF as the robot reports them.
struct Layout {
  vyr_impl::GroupNames names;
  vyr_impl::StartIds starts;
  vyr_impl::GroupDoF dof;
};

Layout LayoutOf(const RobotModel& model) {
  Layout layout;
  for (const auto& [group, range] : model.groups()) {
    layout.names[group] = vyr::kJointGroupNames.at(group);
    layout.starts[group] = range.first;
    layout.dof[group] = static_cast<int>(range.second);
  }
  return layout;
}

std::vector<std::array<float, 3>> Floats(const std::vector<Vec3>& v) {
  std::vector<std::array<float, 3>> out;
  for (const auto& x : v) {
    out.push_back({static_cast<float>(x[0]), static_cast<float>(x[1]), static_cast<float>(x[2])});
  }
  return out;
}

TEST(SimRobotMultiContact, PublishedAsSetAndRestoredToZeros) {
  SimRobot robot("SN-multi-contact", MakeRobotModel(ProductModel::Olvar_LL, 1));
  const unsigned dof = robot.model().full_dof();
  const Layout layout = LayoutOf(robot.model());
  const std::vector<std::array<float, 3>> zeros(dof, {0.0f, 0.0f, 0.0f});
  const auto expect_zeros = [&] {
    const auto data = robot.BasicStreamData();
    EXPECT_EQ(data.multi_contact_forces, zeros);
    EXPECT_EQ(data.multi_contact_positions, zeros);
  };
  expect_zeros();

  std::vector<Vec3> forces, positions;
  for (unsigned k = 0; k < dof; ++k) {
    forces.push_back({1.0 + k, -2.0 * k, 0.1 * k});
    positions.push_back({0.01 * k, 0.3, -0.02 * k});
  }
  robot.SetMultiContact(forces, positions);
  auto data = robot.BasicStreamData();
  EXPECT_EQ(data.multi_contact_forces, Floats(forces));
  EXPECT_EQ(data.multi_contact_positions, Floats(positions));
  // The client cuts them per group at the group's start.
  const auto by_group =
      vyr_impl::SegmentContacts(data, false, layout.names, layout.starts, layout.dof);
  ASSERT_EQ(by_group.size(), robot.model().groups().size());
  for (const auto& [group, vectors] : by_group) {
    const auto [start, n] = robot.model().groups().at(group);
    ASSERT_EQ(vectors.size(), n) << vyr::kJointGroupNames.at(group);
    for (unsigned j = 0; j < n; ++j) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(vectors[j][c], static_cast<float>(forces[start + j][c]));
      }
    }
  }

  // Shorter than the full DoF, as from a robot without the estimation: published as they are,
  // and the client has no group to give.
  robot.SetMultiContact({{1, 2, 3}, {4, 5, 6}}, {{0.5, 0.5, 0.5}});
  data = robot.BasicStreamData();
  EXPECT_EQ(data.multi_contact_forces.size(), 2u);
  EXPECT_EQ(data.multi_contact_forces[1], (std::array<float, 3>{4, 5, 6}));
  EXPECT_EQ(data.multi_contact_positions, (std::vector<std::array<float, 3>>{{0.5f, 0.5f, 0.5f}}));
  EXPECT_TRUE(
      vyr_impl::SegmentContacts(data, false, layout.names, layout.starts, layout.dof).empty());
  EXPECT_TRUE(
      vyr_impl::SegmentContacts(data, true, layout.names, layout.starts, layout.dof).empty());
  robot.SetMultiContact({}, {});
  EXPECT_TRUE(robot.BasicStreamData().multi_contact_forces.empty());

  robot.ResetMultiContact();
  expect_zeros();
}

}  // namespace
}  // namespace korvo::sim
