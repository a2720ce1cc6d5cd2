// The client root object and its stream services against korvo-sim over loopback.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/topics.hpp"
#include "client/vyr_client.hpp"
#include "middleware/session.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr_impl {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using vyr::JointGroup;

// The names of this process's threads.
std::vector<std::string> ThreadNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
      std::string name;
      std::getline(comm, name);
      names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

int Count(const std::vector<std::string>& names, const std::string& name) {
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

class ClientTest : public test::SimulatorSuite {};

TEST_F(ClientTest, ConnectsPublishesTheHeartbeatAndFollowsTheStates) {
  auto& host = Host();
  VYRClient client(false);
  client.Connect(serial_, false);
  EXPECT_TRUE(client.connected());
  EXPECT_TRUE(Eventually([&] { return host.robot().heartbeat_count() >= 3; }));
  EXPECT_EQ(client.realtime_states_sub().mode(), 1);

  // A silence of more than a second disconnects; the next message reconnects.
  host.PauseStream(sim::Stream::kStates, true);
  EXPECT_TRUE(Eventually([&] { return !client.connected(); }));
  host.PauseStream(sim::Stream::kStates, false);
  EXPECT_TRUE(Eventually([&] { return client.connected(); }));
}

TEST_F(ClientTest, ConnectWithoutARobotFailsWithTheChecklist) {
  VYRClient client(false);
  try {
    client.Connect("Olvar-L-nobody", false);
    FAIL() << "connected to nobody";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "[korvo::vyr::Robot] Failed to connect to [Olvar-L-nobody]. Please check that: a) "
              "Remote mode (Ethernet) is enabled on the target robot; b) Ethernet connection with "
              "the target robot is established; c) The specified serial number of the target "
              "robot is correct; d) No firewall is active or this VYR program is whitelisted; e) "
              "VYR version is compatible with the target robot's software version");
  }
}

TEST_F(ClientTest, LiteClientStartsNoThreadSubscribesNothingAndSendsNoHeartbeat) {
  auto& host = Host();
  {
    VYRClient client(false);
    client.Connect(serial_, true);
    EXPECT_EQ(Count(ThreadNames(), "korvo-connect"), 0);
    EXPECT_EQ(Count(ThreadNames(), "korvo-timely"), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(client.realtime_states_sub().received_count(), 0u);
    EXPECT_EQ(host.robot().heartbeat_count(), 0u);
    EXPECT_TRUE(client.qel_log_event().events().empty());
    // The request-reply services work.
    std::string version;
    EXPECT_TRUE(
        Eventually([&] { return client.operations_rpc().SyncServerVersion(version).ok(); }));
    EXPECT_EQ(version, "v2.1");
  }
}

TEST_F(ClientTest, DestroyingTheClientJoinsItsThreadsAndReleasesTheSession) {
  Host();
  std::weak_ptr<zenoh::Session> session;
  {
    VYRClient client(false);
    client.Connect(serial_, false);
    session = zenoh_mdw::GetSharedSession();
    EXPECT_EQ(Count(ThreadNames(), "korvo-connect"), 1);
    EXPECT_EQ(Count(ThreadNames(), "korvo-timely"), 1);
  }
  EXPECT_TRUE(session.expired());
  EXPECT_EQ(Count(ThreadNames(), "korvo-connect"), 0);
  EXPECT_EQ(Count(ThreadNames(), "korvo-timely"), 0);
}

TEST_F(ClientTest, TimelinessFlagFollowsTheLateCommandsOfTheLastSecond) {
  auto& host = Host();
  VYRClient client(false);
  client.Connect(serial_, false);
  std::this_thread::sleep_for(50ms);
  host.robot().AddTimelinessFailures(20);
  EXPECT_TRUE(
      Eventually([&] { return client.realtime_states_sub().timeliness_failure_count() >= 20; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(client.timeliness_failed());
  host.robot().AddTimelinessFailures(1);
  EXPECT_TRUE(Eventually([&] { return client.timeliness_failed(); }));
  EXPECT_TRUE(Eventually([&] { return !client.timeliness_failed(); }));
}

TEST_F(ClientTest, EventLogKeepsArrivalOrderAndDropsMalformedMessages) {
  auto& host = Host();
  VYRClient client(false);
  client.Connect(serial_, false);
  auto publisher = simulator_->session()->declare_publisher(
      zenoh::KeyExpr(std::string(kQelPrefix) + serial_ + kEventLogSuffix));
  // The subscriber may not be known yet: wait until a first event arrives.
  ASSERT_TRUE(Eventually([&] {
    host.robot().EmitEvent({1, 1, "first", "", "", ""});
    std::this_thread::sleep_for(20ms);
    return !client.qel_log_event().events().empty();
  }));
  const auto before = client.qel_log_event().events().size();
  auto bytes = zenoh_mdw::Encode(zenoh_msgs::qel_msg::EventLog{3, 99, "bad", "", "", ""});
  bytes.push_back(0);
  publisher.put(bytes);
  host.robot().EmitEvent({0, 2, "second", "", "", ""});
  host.robot().EmitEvent({4, 3, "third", "", "", ""});
  ASSERT_TRUE(Eventually([&] { return client.qel_log_event().events().size() >= before + 2; }));
  const auto events = client.qel_log_event().events();
  ASSERT_EQ(events.size(), before + 2);
  EXPECT_EQ(events[before].id, 2);
  EXPECT_EQ(events[before].level, vyr::RobotEvent::UNKNOWN);
  EXPECT_EQ(events[before + 1].description, "third");
  EXPECT_EQ(events[before + 1].level, vyr::RobotEvent::CRITICAL);
  for (std::size_t i = 1; i < events.size(); ++i) {
    EXPECT_LE(events[i - 1].timestamp, events[i].timestamp);
  }
}

TEST_F(ClientTest, StreamServiceSegmentsTheSimulatorsData) {
  auto& host = Host(vyr::ProductModel::Olvar_LL);
  VYRClient client(false);
  client.Connect(serial_, false);
  const GroupNames names = {{JointGroup::ALL, "ALL"},
                            {JointGroup::ARMS, "ARMS"},
                            {JointGroup::ARM_1, "ARM_1"},
                            {JointGroup::ARM_2, "ARM_2"}};
  const StartIds starts = {
      {JointGroup::ALL, 0}, {JointGroup::ARMS, 0}, {JointGroup::ARM_1, 0}, {JointGroup::ARM_2, 7}};
  const GroupDoF dof = {{JointGroup::ALL, 14},
                        {JointGroup::ARMS, 14},
                        {JointGroup::ARM_1, 7},
                        {JointGroup::ARM_2, 7}};
  std::map<JointGroup, vyr::RobotStates> states;
  ASSERT_TRUE(Eventually([&] {
    states = client.qel_data_stream().states(names, starts, dof);
    return !states.empty();
  }));
  const auto q = host.robot().q();
  for (int j = 0; j < 7; ++j) EXPECT_NEAR(states.at(JointGroup::ARM_2).q[j], q[7 + j], 1e-5);
  EXPECT_NEAR(
      states.at(JointGroup::ARM_1).tcp_pose[3] * states.at(JointGroup::ARM_1).tcp_pose[3] +
          states.at(JointGroup::ARM_1).tcp_pose[4] * states.at(JointGroup::ARM_1).tcp_pose[4] +
          states.at(JointGroup::ARM_1).tcp_pose[5] * states.at(JointGroup::ARM_1).tcp_pose[5] +
          states.at(JointGroup::ARM_1).tcp_pose[6] * states.at(JointGroup::ARM_1).tcp_pose[6],
      1.0, 1e-4);
  EXPECT_EQ(client.qel_data_stream().safety_state(), sim::safety::kCat1Stop);
  EXPECT_TRUE(client.qel_data_stream().estop_released());
  EXPECT_FALSE(client.qel_data_stream().actions(names, starts, dof).empty());
}

}  // namespace
}  // namespace korvo::vyr_impl
