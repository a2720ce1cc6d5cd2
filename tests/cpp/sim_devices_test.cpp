// The simulated robot's devices as pure logic: the gripper's fingers stepped by hand, the device
// operations 40 to 46 answered from built requests (and what they refuse), and the gripper states
// the robot publishes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "case_name.hpp"
#include "sim/devices.hpp"
#include "sim/gripper_model.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"

namespace korvo::zenoh_msgs::vyr_msg {
// Failure messages name a refused request by its operation and its first strings.
void PrintTo(const RPCRequest& r, std::ostream* os) {
  *os << "op " << r.op_code;
  for (std::size_t i = 0; i < r.string_container.size() && i < 3; ++i) {
    *os << " '" << r.string_container[i].substr(0, 40) << "'";
  }
}
}  // namespace korvo::zenoh_msgs::vyr_msg

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::JointGroup;
namespace vyr_msg = zenoh_msgs::vyr_msg;

constexpr double kDt = 0.001;  // one control cycle
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- the gripper's fingers ----------------------------------------------------------------------

void StepFor(GripperModel& gripper, double seconds) {
  for (long i = 0; i < std::lround(seconds / kDt); ++i) gripper.Step(kDt);
}

// Steps until the fingers rest (at most a minute of simulated time).
void RunToRest(GripperModel& gripper) {
  for (int i = 0; i < 60000 && gripper.state().is_moving; ++i) gripper.Step(kDt);
  ASSERT_FALSE(gripper.state().is_moving);
}

TEST(GripperModel, StartsOpenAndHomesAtMaxVelocityBeforeCountingAsInitialized) {
  GripperModel gripper;
  EXPECT_EQ(gripper.state().width, 0.1);
  EXPECT_FALSE(gripper.state().initialized);

  gripper.Home();  // already open: nothing to travel
  EXPECT_FALSE(gripper.state().is_moving);
  EXPECT_TRUE(gripper.state().initialized);

  GripperModel closed;
  closed.SetVelocity(0.2);
  closed.Move(0.02, std::nullopt);
  RunToRest(closed);
  closed.Home();
  StepFor(closed, 0.1);
  EXPECT_NEAR(closed.state().width, 0.04, 1e-9);  // 0.2 m/s
  EXPECT_TRUE(closed.state().is_moving);
  EXPECT_FALSE(closed.state().initialized);
  RunToRest(closed);
  EXPECT_EQ(closed.state().width, 0.1);
  EXPECT_TRUE(closed.state().initialized);
}

struct MoveCase {
  const char* name;
  std::optional<double> velocity;  // commanded before the move; none keeps the initial one
  double target;
  double speed;  // what the fingers travel at
  double final_width;
};

class GripperMove : public ::testing::TestWithParam<MoveCase> {};

TEST_P(GripperMove, TravelsAtTheClampedVelocityToTheClampedTarget) {
  const MoveCase& c = GetParam();
  GripperModel gripper;
  if (c.velocity) gripper.SetVelocity(*c.velocity);
  gripper.Move(c.target, std::nullopt);
  StepFor(gripper, 0.01);
  EXPECT_NEAR(gripper.state().width, 0.1 - c.speed * 0.01, 1e-9);
  EXPECT_TRUE(gripper.state().is_moving);
  EXPECT_EQ(gripper.state().force, 0.0);
  RunToRest(gripper);
  EXPECT_NEAR(gripper.state().width, c.final_width, 1e-12);
  EXPECT_EQ(gripper.state().force, 0.0);
  EXPECT_FALSE(gripper.state().initialized);  // moving does not initialize
}

INSTANTIATE_TEST_SUITE_P(Cases, GripperMove,
                         ::testing::Values(MoveCase{"InitialVelocity", std::nullopt, 0.04, 0.05,
                                                    0.04},
                                           MoveCase{"CommandedVelocity", 0.02, 0.06, 0.02, 0.06},
                                           MoveCase{"VelocityAboveMax", 1.0, 0.05, 0.2, 0.05},
                                           MoveCase{"VelocityBelowMin", 1e-5, 0.09, 0.001, 0.09},
                                           MoveCase{"TargetBelowMin", 0.1, -0.05, 0.1, 0.0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ContactCase {
  const char* name;
  std::function<void(GripperModel&)> command;
  double width;
  double force;
};

class GripperContact : public ::testing::TestWithParam<ContactCase> {};

TEST_P(GripperContact, StopsOnTheObjectWithTheCommandedForce) {
  GripperModel gripper;
  gripper.SetObject(0.03);
  GetParam().command(gripper);
  RunToRest(gripper);
  EXPECT_DOUBLE_EQ(gripper.state().width, GetParam().width);
  EXPECT_EQ(gripper.state().force, GetParam().force);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GripperContact,
    ::testing::Values(
        ContactCase{"Grasp", [](GripperModel& g) { g.Grasp(30.0); }, 0.03, 30.0},
        ContactCase{"GraspAboveMaxForce", [](GripperModel& g) { g.Grasp(500.0); }, 0.03, 80.0},
        ContactCase{"MoveWithForceLimit", [](GripperModel& g) { g.Move(0.0, 20.0); }, 0.03, 20.0},
        ContactCase{"MoveWithoutForce", [](GripperModel& g) { g.Move(0.0, std::nullopt); }, 0.03,
                    0.0},
        ContactCase{"MoveToAboveTheObject", [](GripperModel& g) { g.Move(0.05, 20.0); }, 0.05,
                    0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GripperModel, OpeningReleasesTheObjectAndClampsTheTarget) {
  GripperModel gripper;
  gripper.SetVelocity(0.1);
  gripper.SetObject(0.03);
  gripper.Grasp(25.0);
  RunToRest(gripper);
  ASSERT_EQ(gripper.state().force, 25.0);

  gripper.Grasp(-10.0);  // negative force opens
  EXPECT_EQ(gripper.state().force, 0.0);
  StepFor(gripper, 0.01);
  EXPECT_NEAR(gripper.state().width, 0.031, 1e-9);
  EXPECT_TRUE(gripper.state().is_moving);
  RunToRest(gripper);
  EXPECT_EQ(gripper.state().width, 0.1);

  gripper.Move(0.01, std::nullopt);  // the object is still there
  RunToRest(gripper);
  EXPECT_EQ(gripper.state().width, 0.03);
  gripper.Move(0.5, std::nullopt);
  RunToRest(gripper);
  EXPECT_EQ(gripper.state().width, 0.1);
  EXPECT_EQ(gripper.state().force, 0.0);
}

TEST(GripperModel, StopHoldsWhereTheFingersAre) {
  GripperModel gripper;
  gripper.Move(0.0, std::nullopt);
  StepFor(gripper, 0.2);
  const double moving_width = gripper.state().width;
  // A stop sends the measured width back as a 32-bit float at a tiny velocity.
  gripper.SetVelocity(0.0011);
  gripper.Move(static_cast<float>(moving_width), std::nullopt);
  EXPECT_FALSE(gripper.state().is_moving);
  StepFor(gripper, 0.1);
  EXPECT_EQ(gripper.state().width, moving_width);

  gripper.SetObject(0.02);
  gripper.SetVelocity(0.2);
  gripper.Grasp(40.0);
  RunToRest(gripper);
  gripper.Move(static_cast<float>(gripper.state().width), std::nullopt);
  EXPECT_EQ(gripper.state().force, 40.0);  // still holding
  EXPECT_FALSE(gripper.state().is_moving);
  gripper.SetObject(std::nullopt);  // nothing to go on toward after the stop
  EXPECT_FALSE(gripper.state().is_moving);
  EXPECT_EQ(gripper.state().force, 0.0);
}

TEST(GripperModel, TakingTheObjectAwayLetsAGraspCloseOnToTheNextObject) {
  GripperModel gripper;
  gripper.SetObject(0.05);
  gripper.Grasp(30.0);
  RunToRest(gripper);
  gripper.SetObject(std::nullopt);
  EXPECT_TRUE(gripper.state().is_moving);
  EXPECT_EQ(gripper.state().force, 0.0);
  gripper.SetObject(0.01);
  RunToRest(gripper);
  EXPECT_EQ(gripper.state().width, 0.01);
  EXPECT_EQ(gripper.state().force, 30.0);
}

// ---- device operations --------------------------------------------------------------------------

struct Answer {
  bool ok;
  vyr_msg::RPCReply reply;
};

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::string> strings = {},
                            std::vector<std::int32_t> ints = {}, std::vector<float> floats = {},
                            std::vector<std::uint16_t> groups = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.string_container = std::move(strings);
  r.int_container = std::move(ints);
  r.float_container = std::move(floats);
  r.joint_groups = std::move(groups);
  return r;
}

struct Slot {
  std::string wire_name;
  std::int32_t int_slot = 0;
  float float_slot = 0.0f;
};

// An op 42 request: one slot per command, the device name last.
vyr_msg::RPCRequest Commands(const std::string& device, const std::vector<Slot>& slots) {
  vyr_msg::RPCRequest r = Request(42);
  for (const auto& s : slots) {
    r.string_container.push_back(s.wire_name);
    r.int_container.push_back(s.int_slot);
    r.float_container.push_back(s.float_slot);
  }
  r.string_container.push_back(device);
  return r;
}

Answer Call(Devices& devices, const vyr_msg::RPCRequest& request) {
  Answer answer{false, {}};
  answer.reply.op_code = request.op_code;
  answer.ok = devices.Handle(request, answer.reply);
  return answer;
}

void StepFor(Devices& devices, double seconds) {
  for (long i = 0; i < std::lround(seconds / kDt); ++i) devices.Step(kDt);
}

class DevicesTest : public ::testing::Test {
 protected:
  Devices devices_{{JointGroup::ARM_1, JointGroup::ARM_2}};
};

TEST(DeviceList, HasOneGripperPerArmAndTheConveyor) {
  Devices one({JointGroup::ARM_1});
  EXPECT_EQ(Call(one, Request(40)).reply.string_container,
            (std::vector<std::string>{"Gripper1", "Conveyor0"}));
  Devices two({JointGroup::ARM_1, JointGroup::ARM_2});
  const auto answer = Call(two, Request(40));
  EXPECT_TRUE(answer.ok);
  EXPECT_EQ(answer.reply.string_container,
            (std::vector<std::string>{"Gripper1", "Gripper2", "Conveyor0"}));
  EXPECT_EQ(two.names(), answer.reply.string_container);
}

TEST_F(DevicesTest, ListsParameterNamesInNameOrder) {
  EXPECT_EQ(Call(devices_, Request(43, {"Gripper2"})).reply.string_container,
            (std::vector<std::string>{"forceSensing", "maxForce", "maxVel", "maxWidth", "minForce",
                                      "minVel", "minWidth", "model"}));
  EXPECT_EQ(Call(devices_, Request(43, {"Conveyor0"})).reply.string_container,
            (std::vector<std::string>{"absolutePosition", "beltLength", "calibration",
                                      "conveyorName", "maxSpeed", "modes", "reversible"}));
}

struct ParamCase {
  const char* name;
  std::string device;
  std::string param;
  DeviceParam reply;  // the three containers of the reply
};

class DeviceParamValue : public DevicesTest, public ::testing::WithParamInterface<ParamCase> {};

TEST_P(DeviceParamValue, RepliesWithTheContainerOfItsType) {
  const auto answer = Call(devices_, Request(44, {GetParam().device, GetParam().param}));
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(answer.reply.op_code, 44);
  EXPECT_EQ(answer.reply.int_container, GetParam().reply.ints);
  EXPECT_EQ(answer.reply.float_container, GetParam().reply.floats);
  EXPECT_EQ(answer.reply.string_container, GetParam().reply.strings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceParamValue,
    ::testing::Values(
        ParamCase{"GripperFloat", "Gripper1", "maxWidth", DeviceParam::Float(0.1f)},
        ParamCase{"GripperNegativeFloat", "Gripper2", "minForce", DeviceParam::Float(-80.0f)},
        ParamCase{"GripperString", "Gripper1", "model", DeviceParam::Text("KG-100")},
        ParamCase{"GripperBoolAsInt", "Gripper1", "forceSensing", DeviceParam::Int(1)},
        ParamCase{"ConveyorInt", "Conveyor0", "maxSpeed", DeviceParam::Int(6000)},
        ParamCase{"ConveyorFloats", "Conveyor0", "absolutePosition",
                  DeviceParam::Floats({0.7f, -0.4f, 0.05f})},
        ParamCase{"ConveyorStrings", "Conveyor0", "modes",
                  DeviceParam::Texts({"continuous", "step"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevicesTest, ReportedParametersAreReplacedWithoutChangingThePhysics) {
  devices_.SetParams("Gripper1", {{"maxWidth", DeviceParam::Float(0.05f)},
                                  {"several", DeviceParam::Ints({1, 2})},
                                  {"silent", DeviceParam::Nothing()},
                                  {"secret", DeviceParam::Refused()}});
  EXPECT_EQ(Call(devices_, Request(43, {"Gripper1"})).reply.string_container,
            (std::vector<std::string>{"maxWidth", "secret", "several", "silent"}));
  EXPECT_EQ(Call(devices_, Request(44, {"Gripper1", "maxWidth"})).reply.float_container,
            std::vector<float>{0.05f});
  EXPECT_EQ(Call(devices_, Request(44, {"Gripper1", "several"})).reply.int_container,
            (std::vector<std::int32_t>{1, 2}));
  const auto silent = Call(devices_, Request(44, {"Gripper1", "silent"}));
  EXPECT_TRUE(silent.ok);
  EXPECT_TRUE(silent.reply.int_container.empty() && silent.reply.float_container.empty() &&
              silent.reply.string_container.empty());
  EXPECT_FALSE(Call(devices_, Request(44, {"Gripper1", "secret"})).ok);
  EXPECT_FALSE(Call(devices_, Request(44, {"Gripper1", "model"})).ok);  // gone with the old map

  ASSERT_TRUE(Call(devices_, Request(41, {"Gripper1"}, {1})).ok);
  EXPECT_TRUE(Call(devices_, Commands("Gripper1", {{"targetWidth<double>", 0, 0.08f}})).ok);
}

TEST_F(DevicesTest, EnableDisableAndConnectionShowInTheStatus) {
  const auto status = [&] {
    return Call(devices_, Request(45, {"Conveyor0"})).reply.int_container;
  };
  EXPECT_EQ(status(), (std::vector<std::int32_t>{0, 1}));  // disabled and connected at start
  ASSERT_TRUE(Call(devices_, Request(41, {"Conveyor0"}, {1})).ok);
  EXPECT_EQ(status(), (std::vector<std::int32_t>{1, 1}));
  EXPECT_TRUE(devices_.enabled("Conveyor0"));
  devices_.SetConnected("Conveyor0", false);
  EXPECT_EQ(status(), (std::vector<std::int32_t>{1, 0}));
  ASSERT_TRUE(Call(devices_, Request(41, {"Conveyor0"}, {0})).ok);
  EXPECT_EQ(status(), (std::vector<std::int32_t>{0, 0}));
  EXPECT_FALSE(devices_.enabled("Gripper1"));  // only the named device changed
}

// A robot with every kind of device in every state a refusal depends on: Gripper1 and Conveyor0
// enabled, "Probe" an enabled device that takes any command, "Unplugged" enabled but
// disconnected, "Off" and Gripper2 disabled.
class DeviceRefusal : public ::testing::TestWithParam<std::pair<const char*, vyr_msg::RPCRequest>> {
 protected:
  void SetUp() override {
    devices_.AddDevice("Probe", {});
    devices_.AddDevice("Unplugged", {});
    devices_.AddDevice("Off", {});
    for (const char* name : {"Gripper1", "Conveyor0", "Probe", "Unplugged"}) {
      ASSERT_TRUE(Call(devices_, Request(41, {name}, {1})).ok);
    }
    devices_.SetConnected("Unplugged", false);
    ASSERT_TRUE(Call(devices_, Request(46, {"Gripper1"}, {}, {}, {3})).ok);
  }
  Devices devices_{{JointGroup::ARM_1, JointGroup::ARM_2}};
};

TEST_P(DeviceRefusal, IsRefusedAndChangesNothing) {
  const auto answer = Call(devices_, GetParam().second);
  EXPECT_FALSE(answer.ok);
  EXPECT_TRUE(answer.reply.int_container.empty() && answer.reply.float_container.empty() &&
              answer.reply.string_container.empty());
  for (const auto& name : devices_.names()) {
    EXPECT_TRUE(devices_.applied_commands(name).empty()) << name;
    EXPECT_EQ(devices_.enabled(name), name != "Gripper2" && name != "Off") << name;
  }
  StepFor(devices_, 0.01);
  EXPECT_FALSE(devices_.gripper_state("Gripper1").is_moving);
  EXPECT_EQ(devices_.gripper_map(), (std::map<std::uint16_t, std::string>{{3, "Gripper1"}}));
}

std::vector<Slot> ManyCommands(std::size_t n) {
  std::vector<Slot> slots;
  for (std::size_t i = 0; i < n; ++i) {
    std::string wire_name = std::to_string(i);
    wire_name.insert(0, 1, 'c');
    slots.push_back({wire_name.append("<int>"), 1});
  }
  return slots;
}

INSTANTIATE_TEST_SUITE_P(
    Enable, DeviceRefusal,
    ::testing::Values(std::pair{"UnknownDevice", Request(41, {"Gripper3"}, {1})},
                      std::pair{"DeviceNameInOtherCase", Request(41, {"gripper2"}, {1})},
                      std::pair{"ValueTwo", Request(41, {"Off"}, {2})},
                      std::pair{"NoValue", Request(41, {"Off"})},
                      std::pair{"TwoValues", Request(41, {"Off"}, {1, 1})},
                      std::pair{"TwoNames", Request(41, {"Off", "Gripper2"}, {1})},
                      std::pair{"NoName", Request(41, {}, {1})}),
    [](const auto& info) { return std::string(info.param.first); });

INSTANTIATE_TEST_SUITE_P(
    Command, DeviceRefusal,
    ::testing::Values(
        std::pair{"NoStrings", Request(42)}, std::pair{"UnknownDevice", Commands("Gripper3", {})},
        std::pair{"DisabledDevice", Commands("Off", {})},
        std::pair{"DisabledGripper", Commands("Gripper2", {{"isInit<bool>", 1}})},
        std::pair{"DisconnectedDevice", Commands("Unplugged", {{"on<bool>", 1}})},
        std::pair{"UnknownCommand", Commands("Gripper1", {{"targetSpeed<double>", 0, 0.1f}})},
        std::pair{"TagOfAnotherType", Commands("Gripper1", {{"targetWidth<int>", 0}})},
        std::pair{"NoTag", Commands("Gripper1", {{"targetWidth", 0, 0.05f}})},
        std::pair{"UnknownTag", Commands("Gripper1", {{"targetWidth<float>", 0, 0.05f}})},
        std::pair{"TagOnly", Commands("Probe", {{"<double>", 0, 0.05f}})},
        std::pair{"TwoTags", Commands("Probe", {{"a<int><double>", 0, 0.05f}})},
        std::pair{"MissingIntSlot", Request(42, {"run<bool>", "Conveyor0"}, {}, {0.0f})},
        std::pair{"MissingFloatSlot", Request(42, {"run<bool>", "Conveyor0"}, {1})},
        std::pair{"ExtraSlots", Request(42, {"run<bool>", "Conveyor0"}, {1, 0}, {0.0f, 0.0f})},
        std::pair{"BoolSlotTwo", Commands("Conveyor0", {{"run<bool>", 2}})},
        std::pair{"BoolWithFloatSlot", Commands("Conveyor0", {{"run<bool>", 1, 1.0f}})},
        std::pair{"IntWithFloatSlot", Commands("Conveyor0", {{"setSpeed<int>", 10, 10.0f}})},
        std::pair{"DoubleWithIntSlot", Commands("Gripper1", {{"targetWidth<double>", 1, 0.05f}})},
        std::pair{"NaN", Commands("Gripper1", {{"targetWidth<double>", 0, kNaN}})},
        std::pair{"Infinity", Commands("Probe", {{"x<double>", 0, kInf}})},
        std::pair{"NaNInABoolsFloatSlot", Commands("Probe", {{"x<bool>", 1, kNaN}})},
        std::pair{"WidthAboveMax", Commands("Gripper1", {{"targetWidth<double>", 0, 0.1001f}})},
        std::pair{"WidthBelowMin", Commands("Gripper1", {{"targetWidth<double>", 0, -0.0001f}})},
        std::pair{"VelocityZero", Commands("Gripper1", {{"targetVel<double>", 0, 0.0f}})},
        std::pair{"VelocityAboveMax", Commands("Gripper1", {{"targetVel<double>", 0, 0.21f}})},
        std::pair{"ForceAboveMax", Commands("Gripper1", {{"targetForce<double>", 0, 80.1f}})},
        std::pair{"ForceBelowMin", Commands("Gripper1", {{"targetForce<double>", 0, -80.1f}})},
        std::pair{"SpeedAboveMax", Commands("Conveyor0", {{"setSpeed<int>", 6001}})},
        std::pair{"SpeedBelowMinusMax", Commands("Conveyor0", {{"setSpeed<int>", -6001}})},
        std::pair{"NegativeRampTime", Commands("Conveyor0", {{"rampTime<double>", 0, -0.5f}})},
        std::pair{"SameCommandTwice",
                  Commands("Conveyor0", {{"setSpeed<int>", 10}, {"setSpeed<int>", 20}})},
        // A list is applied whole or not at all.
        std::pair{"OneBadCommandAmongGoodOnes",
                  Commands("Gripper1", {{"targetWidth<double>", 0, 0.05f},
                                        {"targetForce<double>", 0, 90.0f},
                                        {"targetVel<double>", 0, 0.1f}})},
        std::pair{"TooManyCommands", Commands("Probe", ManyCommands(Devices::kMaxCommands + 1))},
        std::pair{"OverlongCommandName",
                  Commands("Probe", {{std::string(Devices::kMaxTextBytes, 'x') + "<int>", 1}})}),
    [](const auto& info) { return std::string(info.param.first); });

INSTANTIATE_TEST_SUITE_P(
    Parameters, DeviceRefusal,
    ::testing::Values(std::pair{"NamesOfUnknownDevice", Request(43, {"Gripper3"})},
                      std::pair{"NamesWithoutDevice", Request(43)},
                      std::pair{"NamesWithTwoStrings", Request(43, {"Gripper1", "model"})},
                      std::pair{"ValueOfUnknownDevice", Request(44, {"Gripper3", "model"})},
                      std::pair{"ValueOfUnknownParameter", Request(44, {"Gripper1", "mass"})},
                      std::pair{"ValueOfUnsupportedType",
                                Request(44, {"Conveyor0", "calibration"})},
                      std::pair{"ValueWithoutParameter", Request(44, {"Gripper1"})},
                      std::pair{"StatusOfUnknownDevice", Request(45, {"Gripper3"})},
                      std::pair{"StatusWithoutDevice", Request(45)}),
    [](const auto& info) { return std::string(info.param.first); });

INSTANTIATE_TEST_SUITE_P(
    GripperMap, DeviceRefusal,
    ::testing::Values(
        std::pair{"MoreNamesThanGroups", Request(46, {"Gripper1", "Gripper2"}, {}, {}, {3})},
        std::pair{"MoreGroupsThanNames", Request(46, {"Gripper1"}, {}, {}, {3, 4})},
        std::pair{"GroupOfBothArms", Request(46, {"Gripper1"}, {}, {}, {2})},
        std::pair{"GroupAll", Request(46, {"Gripper1"}, {}, {}, {0})},
        std::pair{"ExternalAxes", Request(46, {"Gripper1"}, {}, {}, {5})},
        std::pair{"RepeatedGroup", Request(46, {"Gripper1", "Gripper2"}, {}, {}, {4, 4})},
        std::pair{"NotAGripper", Request(46, {"Conveyor0"}, {}, {}, {4})},
        std::pair{"UnknownName", Request(46, {"Gripper3"}, {}, {}, {4})}),
    [](const auto& info) { return std::string(info.param.first); });

TEST(DeviceGripperMap, RefusesTheArmAndTheGripperAOneArmRobotLacks) {
  Devices one({JointGroup::ARM_1});
  EXPECT_FALSE(Call(one, Request(46, {"Gripper1"}, {}, {}, {4})).ok);
  EXPECT_FALSE(Call(one, Request(46, {"Gripper2"}, {}, {}, {3})).ok);
  EXPECT_TRUE(Call(one, Request(46, {"Gripper1"}, {}, {}, {3})).ok);
}

struct RangeEndCase {
  const char* name;
  std::string device;
  Slot slot;
};

class DeviceRangeEnd : public DevicesTest, public ::testing::WithParamInterface<RangeEndCase> {};

TEST_P(DeviceRangeEnd, IsAcceptedAsItArrives) {
  ASSERT_TRUE(Call(devices_, Request(41, {GetParam().device}, {1})).ok);
  EXPECT_TRUE(Call(devices_, Commands(GetParam().device, {GetParam().slot})).ok);
  EXPECT_EQ(devices_.applied_commands(GetParam().device).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceRangeEnd,
    ::testing::Values(
        // 0.1, 0.001 and 0.2 are not exact as 32-bit floats: they arrive slightly outside.
        RangeEndCase{"MaxWidth", "Gripper1", {"targetWidth<double>", 0, 0.1f}},
        RangeEndCase{"MinWidth", "Gripper1", {"targetWidth<double>", 0, 0.0f}},
        RangeEndCase{"MinVelocity", "Gripper1", {"targetVel<double>", 0, 0.001f}},
        RangeEndCase{"MaxVelocity", "Gripper1", {"targetVel<double>", 0, 0.2f}},
        RangeEndCase{"MaxForce", "Gripper2", {"targetForce<double>", 0, 80.0f}},
        RangeEndCase{"MinForce", "Gripper2", {"targetForce<double>", 0, -80.0f}},
        RangeEndCase{"MaxSpeed", "Conveyor0", {"setSpeed<int>", 6000}},
        RangeEndCase{"ReverseMaxSpeed", "Conveyor0", {"setSpeed<int>", -6000}},
        RangeEndCase{"NoRampTime", "Conveyor0", {"rampTime<double>", 0, 0.0f}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevicesTest, CommandsDriveTheGripper) {
  ASSERT_TRUE(Call(devices_, Request(41, {"Gripper1"}, {1})).ok);
  ASSERT_TRUE(Call(devices_, Commands("Gripper1", {{"isInit<bool>", 0}})).ok);
  EXPECT_FALSE(devices_.gripper_state("Gripper1").is_moving);  // false does nothing
  EXPECT_FALSE(devices_.gripper_state("Gripper1").initialized);

  devices_.SetObjectWidth("Gripper1", 0.02);
  ASSERT_TRUE(Call(devices_, Commands("Gripper1", {{"targetForce<double>", 0, 15.0f},
                                                   {"targetVel<double>", 0, 0.1f},
                                                   {"targetWidth<double>", 0, 0.04f}}))
                  .ok);
  StepFor(devices_, 0.1);
  EXPECT_NEAR(devices_.gripper_state("Gripper1").width, 0.09, 1e-6);  // at 0.1 m/s
  EXPECT_TRUE(devices_.gripper_state("Gripper1").is_moving);
  StepFor(devices_, 1.0);
  EXPECT_NEAR(devices_.gripper_state("Gripper1").width, 0.04, 1e-6);  // short of the object
  EXPECT_FALSE(devices_.gripper_state("Gripper1").is_moving);

  // A grasp alone closes at the last commanded velocity and presses with its force.
  ASSERT_TRUE(Call(devices_, Commands("Gripper1", {{"targetForce<double>", 0, 35.0f}})).ok);
  StepFor(devices_, 0.1);
  EXPECT_NEAR(devices_.gripper_state("Gripper1").width, 0.03, 1e-6);
  StepFor(devices_, 1.0);
  EXPECT_FLOAT_EQ(devices_.gripper_state("Gripper1").width, 0.02);
  EXPECT_EQ(devices_.gripper_state("Gripper1").force, 35.0);

  ASSERT_TRUE(Call(devices_, Commands("Gripper1", {{"isInit<bool>", 1}})).ok);
  StepFor(devices_, 0.1);  // homing at 0.2 m/s
  EXPECT_NEAR(devices_.gripper_state("Gripper1").width, 0.04, 1e-6);
  EXPECT_EQ(devices_.gripper_state("Gripper1").force, 0.0);
  StepFor(devices_, 1.0);
  EXPECT_TRUE(devices_.gripper_state("Gripper1").initialized);
  EXPECT_EQ(devices_.gripper_state("Gripper2").width, 0.1);  // the other gripper never moved
}

TEST_F(DevicesTest, AnAddedDeviceTakesAnyWellFormedCommandAndAnEmptyListDoesNothing) {
  devices_.AddDevice("Probe", {{"k", DeviceParam::Int(3)}});
  EXPECT_EQ(devices_.names().back(), "Probe");
  ASSERT_TRUE(Call(devices_, Request(41, {"Probe"}, {1})).ok);
  ASSERT_TRUE(
      Call(devices_,
           Commands("Probe", {{"zeta<bool>", 1}, {"alpha<int>", -7}, {"mid<double>", 0, 2.5f}}))
          .ok);
  ASSERT_TRUE(Call(devices_, Commands("Probe", {})).ok);
  const auto applied = devices_.applied_commands("Probe");
  ASSERT_EQ(applied.size(), 2u);
  EXPECT_EQ(applied[0], (std::vector<DeviceCommand>{{"zeta", CommandType::kBool, 1.0},
                                                    {"alpha", CommandType::kInt, -7.0},
                                                    {"mid", CommandType::kDouble, 2.5}}));
  EXPECT_TRUE(applied[1].empty());
  EXPECT_EQ(Call(devices_, Request(44, {"Probe", "k"})).reply.int_container,
            std::vector<std::int32_t>{3});
}

TEST_F(DevicesTest, GripperStatesFollowTheMapInAscendingGroupOrder) {
  EXPECT_TRUE(devices_.GripperStates().empty());
  ASSERT_TRUE(Call(devices_, Request(41, {"Gripper1"}, {1})).ok);
  ASSERT_TRUE(Call(devices_, Commands("Gripper1", {{"targetWidth<double>", 0, 0.02f}})).ok);
  StepFor(devices_, 0.1);  // Gripper1 moves whether mapped or not

  ASSERT_TRUE(Call(devices_, Request(46, {"Gripper2", "Gripper1"}, {}, {}, {4, 3})).ok);
  EXPECT_EQ(devices_.gripper_map(),
            (std::map<std::uint16_t, std::string>{{3, "Gripper1"}, {4, "Gripper2"}}));
  auto states = devices_.GripperStates();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_NEAR(states[0].width, 0.095, 1e-6);
  EXPECT_TRUE(states[0].is_moving);
  EXPECT_FLOAT_EQ(states[1].width, 0.1f);
  EXPECT_FALSE(states[1].is_moving);

  ASSERT_TRUE(Call(devices_, Request(46, {"Gripper2"}, {}, {}, {4})).ok);  // replaced, not merged
  states = devices_.GripperStates();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_FLOAT_EQ(states[0].width, 0.1f);
  ASSERT_TRUE(Call(devices_, Request(46)).ok);
  EXPECT_TRUE(devices_.GripperStates().empty());
  EXPECT_TRUE(devices_.gripper_map().empty());
}

// ---- the devices inside the simulated robot -----------------------------------------------------

TEST(SimRobotDevices, AnswersDeviceOperationsAndPublishesTheMappedGrippers) {
  SimRobot robot("SN-devices", MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  EXPECT_EQ(robot.HandleVyr(Request(40)).string_container, robot.devices());
  ASSERT_TRUE(robot.HandleVyr(Request(41, {"Gripper2"}, {1})).success);
  const auto move = robot.HandleVyr(
      Commands("Gripper2", {{"targetWidth<double>", 0, 0.05f}, {"targetVel<double>", 0, 0.2f}}));
  EXPECT_TRUE(move.success);
  EXPECT_EQ(move.op_code, 42);
  const auto refused = robot.HandleVyr(Commands("Gripper1", {{"isInit<bool>", 1}}));  // disabled
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.op_code, 42);
  ASSERT_TRUE(robot.HandleVyr(Request(46, {"Gripper2"}, {}, {}, {4})).success);

  // Cycles of a stalled loop still move the fingers, at most 0.1 s at a time.
  const auto start = SimRobot::Clock::now();
  robot.Step(start);
  robot.Step(start + std::chrono::milliseconds(100));
  const auto states = robot.RealtimeStates().gripper_states;
  ASSERT_EQ(states.size(), 1u);
  EXPECT_NEAR(states[0].width, 0.08, 1e-6);
  EXPECT_TRUE(states[0].is_moving);
  robot.Step(start + std::chrono::seconds(60));
  EXPECT_NEAR(robot.gripper_state("Gripper2").width, 0.06, 1e-6);
  EXPECT_EQ(robot.gripper_map(), (std::map<std::uint16_t, std::string>{{4, "Gripper2"}}));
  EXPECT_TRUE(robot.device_enabled("Gripper2"));
  EXPECT_TRUE(robot.device_connected("Gripper2"));
}

class SimRobotDeviceControl
    : public ::testing::TestWithParam<std::pair<const char*, std::function<void(SimRobot&)>>> {};

TEST_P(SimRobotDeviceControl, ThrowsInvalidArgument) {
  SimRobot robot("SN-controls", MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  EXPECT_THROW(GetParam().second(robot), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimRobotDeviceControl,
    ::testing::Values(
        std::pair{"ParamsOfUnknownDevice",
                  std::function<void(SimRobot&)>([](SimRobot& r) { r.SetDeviceParams("X", {}); })},
        std::pair{"ObjectInUnknownGripper", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetObjectWidth("Gripper2", 0.02);
                  })},
        std::pair{"ObjectInConveyor", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetObjectWidth("Conveyor0", 0.02);
                  })},
        std::pair{"NegativeObjectWidth", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetObjectWidth("Gripper1", -0.01);
                  })},
        std::pair{"NaNObjectWidth", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetObjectWidth("Gripper1", std::nan(""));
                  })},
        std::pair{"ConnectUnknownDevice", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.SetDeviceConnected("X", true);
                  })},
        std::pair{"AddTakenName", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.AddDevice("Conveyor0", {});
                  })},
        std::pair{"AddEmptyName",
                  std::function<void(SimRobot&)>([](SimRobot& r) { r.AddDevice("", {}); })},
        std::pair{"AddOverlongName", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.AddDevice(std::string(Devices::kMaxTextBytes + 1, 'd'), {});
                  })},
        std::pair{"AddPastTheLimit", std::function<void(SimRobot&)>([](SimRobot& r) {
                    for (std::size_t i = 0; i < Devices::kMaxDevices; ++i) {
                      r.AddDevice(std::to_string(i).insert(0, 1, 'D'), {});
                    }
                  })},
        std::pair{"EnabledOfUnknownDevice",
                  std::function<void(SimRobot&)>([](SimRobot& r) { r.device_enabled("X"); })},
        std::pair{"ConnectedOfUnknownDevice",
                  std::function<void(SimRobot&)>([](SimRobot& r) { r.device_connected("X"); })},
        std::pair{"StateOfConveyor", std::function<void(SimRobot&)>([](SimRobot& r) {
                    r.gripper_state("Conveyor0");
                  })},
        std::pair{"CommandsOfUnknownDevice",
                  std::function<void(SimRobot&)>([](SimRobot& r) { r.device_commands("X"); })}),
    [](const auto& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace korvo::sim
