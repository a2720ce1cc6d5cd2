#include "client/segmentation.hpp"

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/name_tables.hpp"

namespace korvo::vyr_impl {
namespace {

using vyr::JointGroup;
using qel_msg = zenoh_msgs::qel_msg::AllBasicStreamData;

// Records what the default logger prints during a test.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64)) {
    previous_ = spdlog::default_logger();
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(spdlog::level::debug);
    logger->set_pattern("%v");
    spdlog::set_default_logger(logger);
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  std::vector<std::string> lines() const {
    auto lines = sink_->last_formatted();
    for (auto& line : lines) {
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    }
    return lines;
  }

 private:
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

struct Layout {
  const char* name;
  std::map<JointGroup, std::pair<int, int>> groups;  // start ID, DoF
  int full_dof;
};

// Full-DoF vectors whose value at index i is i, so a segment shows where it was cut.
qel_msg Numbered(int full_dof, const std::vector<std::uint16_t>& arms) {
  qel_msg data;
  for (auto* v : {&data.q, &data.theta, &data.dq, &data.dtheta, &data.tau, &data.tau_dot,
                  &data.tau_ext, &data.tau_interact, &data.temperature}) {
    for (int i = 0; i < full_dof; ++i) v->push_back(static_cast<float>(i));
  }
  for (int i = 0; i < full_dof; ++i) {
    data.multi_contact_forces.push_back({static_cast<float>(i), 0, 0});
    data.multi_contact_positions.push_back({0, static_cast<float>(i), 0});
  }
  data.joint_groups = arms;
  data.cartesian_data.resize(arms.size());
  data.timestamp_sec = 1700000000;
  data.timestamp_nanosec = 500;
  return data;
}

class SegmentationByModel : public ::testing::TestWithParam<Layout> {};

TEST_P(SegmentationByModel, CutsEveryGroupAtItsStartId) {
  GroupNames names;
  StartIds starts;
  GroupDoF dof;
  std::vector<std::uint16_t> arms;
  for (const auto& [g, layout] : GetParam().groups) {
    names[g] = vyr::kJointGroupNames.at(g);
    starts[g] = layout.first;
    dof[g] = layout.second;
    if (g == JointGroup::ARM_1 || g == JointGroup::ARM_2)
      arms.push_back(static_cast<std::uint16_t>(g));
  }
  const auto data = Numbered(GetParam().full_dof, arms);
  const auto states = SegmentStates(data, names, starts, dof);
  ASSERT_EQ(states.size(), names.size());
  for (const auto& [g, layout] : GetParam().groups) {
    const auto& s = states.at(g);
    ASSERT_EQ(s.q.size(), static_cast<std::size_t>(layout.second));
    for (int j = 0; j < layout.second; ++j) {
      EXPECT_EQ(s.q[j], layout.first + j);
      EXPECT_EQ(s.temperature[j], layout.first + j);
    }
    EXPECT_EQ(s.timestamp, (std::pair<std::int32_t, std::int32_t>{1700000000, 500}));
  }
  const auto forces = SegmentContacts(data, false, names, starts, dof);
  const auto positions = SegmentContacts(data, true, names, starts, dof);
  for (const auto& [g, layout] : GetParam().groups) {
    EXPECT_EQ(forces.at(g).back()[0], layout.first + layout.second - 1);
    EXPECT_EQ(positions.at(g).front()[1], layout.first);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SegmentationByModel,
    ::testing::Values(Layout{"OlvarL", {{JointGroup::ALL, {0, 7}}, {JointGroup::ARM_1, {0, 7}}}, 7},
                      Layout{"OlvarLLWithTrack",
                             {{JointGroup::ALL, {0, 15}},
                              {JointGroup::ARMS, {0, 14}},
                              {JointGroup::ARM_1, {0, 7}},
                              {JointGroup::ARM_2, {7, 7}},
                              {JointGroup::EXT_AXIS, {14, 1}}},
                             15},
                      Layout{"TavuCore",
                             {{JointGroup::ALL, {0, 14}},
                              {JointGroup::ARMS, {0, 14}},
                              {JointGroup::ARM_1, {0, 7}},
                              {JointGroup::ARM_2, {7, 7}}},
                             14},
                      Layout{"TavuPlus",
                             {{JointGroup::ALL, {0, 16}},
                              {JointGroup::ARMS, {2, 14}},
                              {JointGroup::ARM_1, {2, 7}},
                              {JointGroup::ARM_2, {9, 7}}},
                             16},
                      Layout{"TavuUltraSixAxes",
                             {{JointGroup::ALL, {0, 25}},
                              {JointGroup::ARMS, {5, 14}},
                              {JointGroup::ARM_1, {5, 7}},
                              {JointGroup::ARM_2, {12, 7}},
                              {JointGroup::EXT_AXIS, {19, 6}}},
                             25}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Segmentation, FailuresLogTheirMessageAndGiveAnEmptyMap) {
  LogCapture log;
  GroupNames names = {{JointGroup::ARM_2, "ARM_2"}};
  StartIds starts = {{JointGroup::ARM_2, 7}};
  GroupDoF dof = {{JointGroup::ARM_2, 7}};

  auto data = Numbered(14, {3});
  EXPECT_EQ(SegmentStates(data, names, starts, dof).at(JointGroup::ARM_2).q.front(), 7.0);

  data.cartesian_data.resize(2);
  EXPECT_TRUE(SegmentStates(data, names, starts, dof).empty());
  EXPECT_EQ(log.lines().back(),
            "[korvo::vyr::Robot] The received data has mismatched sizes: cartesian_data size is 2, "
            "expected number of joint groups is 1");

  data = Numbered(13, {3});
  EXPECT_TRUE(SegmentStates(data, names, starts, dof).empty());
  EXPECT_EQ(log.lines().back(),
            "[korvo::vyr::Robot] Failed to segment full-DoF joint data for joint group [4]");
  EXPECT_TRUE(SegmentContacts(data, true, names, starts, dof).empty());
  EXPECT_EQ(log.lines().back(),
            "[korvo::vyr::Robot] Failed to segment multi-contact positions for joint group [4]");

  EXPECT_TRUE(SegmentStates(Numbered(14, {3}), names, {}, dof).empty());
  EXPECT_EQ(log.lines().back(),
            "[korvo::vyr::Robot] Missing start ID or DoF metadata for joint group [4]");

  zenoh_msgs::qel_msg::AllExtraStreamData extra;
  extra.q_d.assign(10, 0.0f);
  extra.dq_d.assign(14, 0.0f);
  extra.tau_d.assign(14, 0.0f);
  EXPECT_TRUE(SegmentActions(extra, {}, names, starts, dof).empty());
  EXPECT_EQ(log.lines().back(),
            "[korvo::vyr::Robot] Failed to segment desired joint data for joint group [4]");
}

TEST(Segmentation, ActionsCarryTheGivenTimestampAndDesiredCartesianData) {
  zenoh_msgs::qel_msg::AllExtraStreamData extra;
  extra.q_d = {1, 2, 3, 4, 5, 6, 7};
  extra.dq_d.assign(7, 0.5f);
  extra.tau_d.assign(7, -1.0f);
  extra.joint_groups = {3};
  extra.cartesian_data.resize(1);
  extra.cartesian_data[0].tcp_pose_d[3] = 1.0f;
  const auto actions = SegmentActions(extra, {12, 34}, {{JointGroup::ARM_1, "ARM_1"}},
                                      {{JointGroup::ARM_1, 0}}, {{JointGroup::ARM_1, 7}});
  const auto& a = actions.at(JointGroup::ARM_1);
  EXPECT_EQ(a.timestamp, (std::pair<std::int32_t, std::int32_t>{12, 34}));
  EXPECT_EQ(a.q_d.back(), 7.0);
  EXPECT_EQ(a.tau_d.front(), -1.0);
  EXPECT_EQ(a.tcp_pose_d[3], 1.0);
}

struct WrenchCase {
  const char* name;
  std::array<double, 7> pose;
  std::array<double, 6> local;
  std::array<double, 6> world;
};

class WorldWrench : public ::testing::TestWithParam<WrenchCase> {};

TEST_P(WorldWrench, IsTheLocalWrenchRotatedByTheTcpOrientation) {
  const auto world = RotateWrench(GetParam().pose, GetParam().local);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(world[i], GetParam().world[i], 1e-4) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, WorldWrench,
                         ::testing::Values(WrenchCase{"QuarterTurnAboutZ",
                                                      {0, 0, 0, 0.7071, 0, 0, 0.7071},
                                                      {1, 0, 0, 0, 0, 2},
                                                      {0, 1, 0, 0, 0, 2}},
                                           WrenchCase{"UnnormalisedIdentity",
                                                      {0, 0, 0, 2, 0, 0, 0},
                                                      {1, 2, 3, 4, 5, 6},
                                                      {1, 2, 3, 4, 5, 6}},
                                           WrenchCase{"ZeroQuaternionIsIdentity",
                                                      {0, 0, 0, 0, 0, 0, 0},
                                                      {1, 2, 3, 4, 5, 6},
                                                      {1, 2, 3, 4, 5, 6}},
                                           WrenchCase{"HalfTurnAboutX",
                                                      {0, 0, 0, 0, 1, 0, 0},
                                                      {0, 1, 1, 0, 1, 0},
                                                      {0, -1, -1, 0, -1, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Segmentation, StatesRotateTheWrenchesOfEachArm) {
  auto data = Numbered(7, {3});
  data.cartesian_data[0].tcp_pose = {0, 0, 0, 0.7071f, 0, 0, 0.7071f};
  data.cartesian_data[0].tcp_wrench_local = {1, 0, 0, 0, 0, 0};
  data.cartesian_data[0].raw_tcp_wrench_local = {0, 0, 0, 1, 0, 0};
  data.cartesian_data[0].ft_sensor.raw = {0, 0, 0, 0, 0, 9};
  const auto s = SegmentStates(data, {{JointGroup::ARM_1, "ARM_1"}}, {{JointGroup::ARM_1, 0}},
                               {{JointGroup::ARM_1, 7}})
                     .at(JointGroup::ARM_1);
  EXPECT_NEAR(s.tcp_wrench[1], 1.0, 1e-4);
  EXPECT_NEAR(s.raw_tcp_wrench[4], 1.0, 1e-4);
  EXPECT_EQ(s.raw_ft_sensor[5], 9.0);
  EXPECT_EQ(s.tcp_wrench_local[0], 1.0);
}

}  // namespace
}  // namespace korvo::vyr_impl
