// Device against the simulated robot: the device list, status, parameters of
// every value type, enabling and typed commands, the order of the checks and
// their messages, and what the robot receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/device.hpp"
#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

using test::Invalid;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;
using zenoh_msgs::vyr_msg::RPCRequest;

float F32(double v) { return static_cast<float>(v); }

class DeviceTest : public test::SimulatorSuite {
 protected:
  Device& Start(ProductModel model = ProductModel::Olvar_L) {
    host_ = &Host(model);
    robot_ = std::make_unique<Robot>(serial_, false);
    device_ = std::make_unique<Device>(*robot_);
    host_->ClearRecords();
    return *device_;
  }
  void TearDown() override {
    device_.reset();
    robot_.reset();
    SimulatorSuite::TearDown();
  }
  // The requests of operation `op_code` received since the last ClearRecords.
  std::vector<RPCRequest> Requests(std::uint16_t op_code) const {
    return test::VyrRequestsOf(*host_, op_code);
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<Device> device_;
};

TEST_F(DeviceTest, ListsTheRobotsDevicesOnceAndAnswersExistLocally) {
  auto& device = Start(ProductModel::Olvar_LL);
  const auto names = device.list();
  EXPECT_EQ(names, sim().devices());
  EXPECT_NE(std::find(names.begin(), names.end(), "Gripper2"), names.end());
  EXPECT_TRUE(device.exist("Conveyor0"));
  EXPECT_FALSE(device.exist("conveyor0"));  // names are case-sensitive
  EXPECT_FALSE(device.exist(""));
  // A device configured later does not exist for this object.
  sim().AddDevice("Laser9", {});
  EXPECT_FALSE(device.exist("Laser9"));
  EXPECT_EQ(device.list(), names);
  EXPECT_TRUE(host_->vyr_requests().empty());
  EXPECT_THROW(device.Enable("Laser9"), std::invalid_argument);
}

TEST_F(DeviceTest, ConstructionFailsWhenTheDeviceListIsRefused) {
  host_ = &Host();
  robot_ = std::make_unique<Robot>(serial_, false);
  host_->SetReplyRule(sim::Server::kVyr, 40, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(OutcomeOf([&] { Device device(*robot_); }),
            Runtime("[korvo::vyr::Device] Failed to initialize device list"));
}

// Every operation that names a device refuses an unknown one before sending
// anything.
struct NamedOperation {
  const char* name;
  std::function<void(Device&, const std::string&)> call;
};

class UnknownDeviceTest : public DeviceTest,
                          public ::testing::WithParamInterface<NamedOperation> {};

TEST_P(UnknownDeviceTest, IsReportedBeforeAnythingIsSent) {
  auto& device = Start();
  EXPECT_EQ(OutcomeOf([&] { GetParam().call(device, "Gripper1 "); }),
            Invalid(std::string("[korvo::vyr::Device::") + GetParam().name +
                    "] The specified device [Gripper1 ] does not exist"));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, UnknownDeviceTest,
    ::testing::Values(
        NamedOperation{"enabled", [](Device& d, const std::string& n) { d.enabled(n); }},
        NamedOperation{"connected", [](Device& d, const std::string& n) { d.connected(n); }},
        NamedOperation{"params", [](Device& d, const std::string& n) { d.params(n); }},
        NamedOperation{"Enable", [](Device& d, const std::string& n) { d.Enable(n); }},
        NamedOperation{"Disable", [](Device& d, const std::string& n) { d.Disable(n); }},
        NamedOperation{"Command",
                       [](Device& d, const std::string& n) {
                         d.Command(n, {{"run", true}});
                       }}),
    [](const auto& info) { return std::string(info.param.name); });

// A refused request surfaces as the operation's runtime error.
struct RefusedCase {
  const char* name;
  std::uint16_t op_code;
  const char* message;
  std::function<void(Device&)> call;
};

class RefusedRequestTest : public DeviceTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRequestTest, RaisesTheOperationsRuntimeError) {
  auto& device = Start();
  host_->SetReplyRule(sim::Server::kVyr, GetParam().op_code, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(
      OutcomeOf([&] { GetParam().call(device); }),
      Runtime(std::string("[korvo::vyr::Device::") + GetParam().name + "] " + GetParam().message));
  EXPECT_EQ(Requests(GetParam().op_code).size(),
            1u);  // a refusal is not retried
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RefusedRequestTest,
    ::testing::Values(RefusedCase{"enabled", 45, "No reply from the robot",
                                  [](Device& d) { d.enabled("Conveyor0"); }},
                      RefusedCase{"connected", 45, "No reply from the robot",
                                  [](Device& d) { d.connected("Conveyor0"); }},
                      RefusedCase{"params", 43, "Failed to deliver the request",
                                  [](Device& d) { d.params("Conveyor0"); }},
                      RefusedCase{"Enable", 41, "Failed to deliver the request",
                                  [](Device& d) { d.Enable("Conveyor0"); }},
                      RefusedCase{"Disable", 41, "Failed to deliver the request",
                                  [](Device& d) { d.Disable("Conveyor0"); }},
                      RefusedCase{"Command", 42, "Failed to deliver the request",
                                  [](Device& d) { d.Command("Conveyor0", {}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, EnabledAndConnectedFollowTheRobotEachWithItsOwnRequest) {
  auto& device = Start();
  EXPECT_FALSE(device.enabled("Conveyor0"));
  EXPECT_TRUE(device.connected("Conveyor0"));
  const auto status = Requests(45);
  ASSERT_EQ(status.size(), 2u);
  for (const auto& r : status) EXPECT_EQ(r.string_container, std::vector<std::string>{"Conveyor0"});

  device.Enable("Conveyor0");
  sim().SetDeviceConnected("Conveyor0", false);
  EXPECT_TRUE(device.enabled("Conveyor0"));
  EXPECT_FALSE(device.connected("Conveyor0"));
  device.Disable("Conveyor0");
  EXPECT_FALSE(device.enabled("Conveyor0"));

  const auto toggles = Requests(41);
  ASSERT_EQ(toggles.size(), 2u);
  EXPECT_EQ(toggles[0].int_container, std::vector<std::int32_t>{1});
  EXPECT_EQ(toggles[1].int_container, std::vector<std::int32_t>{0});
  for (const auto& r : toggles) {
    EXPECT_EQ(r.string_container, std::vector<std::string>{"Conveyor0"});
    EXPECT_TRUE(r.float_container.empty());
    EXPECT_TRUE(r.joint_groups.empty());
  }
}

TEST_F(DeviceTest, ParamsDecodesEveryValueTypeAndLeavesOutUnsupportedOnes) {
  auto& device = Start();
  const auto params = device.params("Conveyor0");
  const std::map<std::string, DeviceParamValue> expected = {
      {"absolutePosition", std::vector<double>{F32(0.7), F32(-0.4), F32(0.05)}},
      {"beltLength", 2.5},
      {"conveyorName", std::string("conveyor0")},
      {"maxSpeed", 6000},
      {"modes", std::vector<std::string>{"continuous", "step"}},
      {"reversible", 1},
  };
  EXPECT_EQ(params,
            expected);  // "calibration" is of a type the robot cannot report
  const auto names = Requests(43);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].string_container, std::vector<std::string>{"Conveyor0"});
  const auto values = Requests(44);
  ASSERT_EQ(values.size(), expected.size() + 1);
  EXPECT_EQ(values[0].string_container.size(), 2u);
  EXPECT_EQ(values[0].string_container[0], "Conveyor0");
}

TEST_F(DeviceTest, ParamsFailsAsAWholeForAParameterOfSeveralIntegers) {
  auto& device = Start();
  sim().SetDeviceParams("Conveyor0", {{"limits", sim::DeviceParam::Ints({1, 2})},
                                      {"maxSpeed", sim::DeviceParam::Int(6000)},
                                      {"nothing", sim::DeviceParam::Nothing()}});
  EXPECT_EQ(OutcomeOf([&] { device.params("Conveyor0"); }),
            Runtime("[korvo::vyr::Device::params] Failed to deliver the request"));
  sim().SetDeviceParams("Conveyor0", {{"maxSpeed", sim::DeviceParam::Int(6000)},
                                      {"nothing", sim::DeviceParam::Nothing()}});
  const std::map<std::string, DeviceParamValue> expected = {{"maxSpeed", 6000}};
  EXPECT_EQ(device.params("Conveyor0"),
            expected);  // a value without content is skipped
}

TEST_F(DeviceTest, CommandSendsTypedSlotsAndTheDeviceNameLast) {
  auto& device = Start();
  device.Enable("Conveyor0");
  host_->ClearRecords();
  device.Command("Conveyor0", {{"setSpeed", 6000}, {"openLaser", true}, {"rampTime", 0.1}});
  const auto sent = Requests(42);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].int_container, (std::vector<std::int32_t>{1, 0, 6000}));
  EXPECT_EQ(sent[0].float_container, (std::vector<float>{0.0f, 0.1f, 0.0f}));
  EXPECT_EQ(sent[0].string_container,
            (std::vector<std::string>{"openLaser<bool>", "rampTime<double>", "setSpeed<int>",
                                      "Conveyor0"}));
  EXPECT_TRUE(sent[0].joint_groups.empty());
  EXPECT_TRUE(sent[0].bool_container.empty());
}

TEST_F(DeviceTest, CommandsTheRobotRefusesSurfaceAsDeliveryFailures) {
  auto& device = Start();
  const auto refused = Runtime("[korvo::vyr::Device::Command] Failed to deliver the request");
  // Not enabled yet: the library does not check, the robot refuses.
  EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"run", true}}); }), refused);
  device.Enable("Conveyor0");
  EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"run", true}}); }), Outcome{});
  EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"fly", true}}); }), refused);
  EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"setSpeed", 1.5}}); }), refused);
  // Values that are no numbers once they travel as 32-bit floats.
  for (const double v : {std::nan(""), 1e39}) {
    EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"rampTime", v}}); }), refused);
  }
  sim().SetDeviceConnected("Conveyor0", false);
  EXPECT_EQ(OutcomeOf([&] { device.Command("Conveyor0", {{"run", true}}); }), refused);
}

}  // namespace
}  // namespace korvo::vyr
