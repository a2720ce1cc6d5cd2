#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "middleware/serialization.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/std_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::zenoh_msgs {
namespace {

using Bytes = std::vector<std::uint8_t>;
using zenoh_mdw::Decode;
using zenoh_mdw::Encode;

// Appends n zero bytes.
Bytes& Zeros(Bytes& b, std::size_t n) {
  b.insert(b.end(), n, 0);
  return b;
}

template <typename T>
std::string DecodeError(const Bytes& bytes) {
  try {
    Decode<T>(bytes);
  } catch (const zenoh::ZException& e) {
    return e.what();
  }
  return "";
}

TEST(VyrRpc, EmptyRequestIs81BytesWithTheZeroedTool) {
  vyr_msg::RPCRequest request;
  request.op_code = 7;
  Bytes expected{0x07, 0x00};
  Zeros(expected, 7);      // seven empty containers
  Zeros(expected, 1 + 4);  // tool name, mass
  expected.push_back(3);
  Zeros(expected, 12);
  expected.push_back(6);
  Zeros(expected, 24);
  expected.push_back(7);
  Zeros(expected, 28);
  EXPECT_EQ(expected.size(), 81u);
  EXPECT_EQ(Encode(request), expected);
}

TEST(VyrRpc, ZeroReplyWithSuccessByteDecodes) {
  // op(2) success(1) seven lengths(7) name(1) mass(4) CoM(1+12) inertia(1+24) tcp(1+28), all
  // zero but the success byte and the three fixed array lengths.
  Bytes bytes(82, 0);
  bytes[2] = 1;
  bytes[2 + 1 + 7 + 1 + 4] = 3;
  bytes[2 + 1 + 7 + 1 + 4 + 13] = 6;
  bytes[2 + 1 + 7 + 1 + 4 + 13 + 25] = 7;
  const auto reply = Decode<vyr_msg::RPCReply>(bytes);
  EXPECT_EQ(reply.op_code, 0);
  EXPECT_TRUE(reply.success);
  EXPECT_TRUE(reply.int_container.empty());
  EXPECT_TRUE(reply.tool.name.empty());
}

TEST(VyrRpc, ReplyWhoseCoMDeclaresFourValuesIsRejected) {
  vyr_msg::RPCReply reply;
  Bytes bytes = Encode(reply);
  const std::size_t com = 2 + 1 + 7 + 1 + 4;
  ASSERT_EQ(bytes[com], 3);
  bytes[com] = 4;
  bytes.insert(bytes.begin() + com + 1, 4, 0);
  EXPECT_EQ(DecodeError<vyr_msg::RPCReply>(bytes), "Incorrect sequence size(Error code: -7 )");
}

TEST(RealtimeStates, HeaderIs11BytesAndEachGripper9) {
  vyr_msg::RealtimeStates states;
  EXPECT_EQ(Encode(states).size(), 12u);
  states.busy = true;
  states.timeliness_failure_count = 0x0102;
  states.mode = 5;
  states.gripper_states = {{0.04f, -2.5f, true}};
  const Bytes bytes = Encode(states);
  EXPECT_EQ(bytes, (Bytes{1, 2,    1,    0,    0,    0, 0, 0,    0,    5, 0,
                          1, 0x0a, 0xd7, 0x23, 0x3d, 0, 0, 0x20, 0xc0, 1}));
  const auto decoded = Decode<vyr_msg::RealtimeStates>(bytes);
  EXPECT_EQ(decoded.mode, 5);
  ASSERT_EQ(decoded.gripper_states.size(), 1u);
  EXPECT_FLOAT_EQ(decoded.gripper_states[0].force, -2.5f);
}

TEST(MotionCommands, OneTorqueCommandForSevenJointsIs54Bytes) {
  vyr_msg::MotionCommands commands;
  commands.stamp = 1;
  commands.joint_groups = {3};
  vyr_msg::JointCommand torque;
  torque.tau_d.assign(7, 0.5f);
  torque.friction_comp_scale = 100.0f;
  commands.joint_commands = {torque};
  const Bytes bytes = Encode(commands);
  ASSERT_EQ(bytes.size(), 54u);
  // The two flags of a default torque command are sent as 0.
  EXPECT_EQ(bytes[8 + 3 + 1 + 29 + 5 + 4], 0);
  EXPECT_EQ(bytes[8 + 3 + 1 + 29 + 5 + 4 + 1], 0);
}

TEST(MotionCommands, EachCartesianCommandIs120Bytes) {
  vyr_msg::MotionCommands commands;
  const std::size_t empty = Encode(commands).size();
  commands.joint_groups = {3};
  commands.cartesian_commands.resize(1);
  EXPECT_EQ(Encode(commands).size(), empty + 2 + 120);
  commands.waypoint_commands = {std::vector<vyr_msg::CartesianCommand>(2)};
  EXPECT_EQ(Encode(commands).size(), empty + 2 + 120 + 1 + 240);
}

TEST(MotionCommands, RoundTripKeepsEveryList) {
  vyr_msg::MotionCommands commands;
  commands.stamp = 42;
  commands.joint_groups = {3, 4};
  commands.joint_commands.resize(2);
  commands.joint_commands[1].q_d = {1.0f, 2.0f};
  commands.joint_commands[1].disable_soft_limits = true;
  commands.cartesian_commands.resize(1);
  commands.cartesian_commands[0].pose_d[3] = 1.0f;
  commands.cartesian_commands[0].max_angular_acc = 5.0f;
  commands.waypoint_commands = {{}, std::vector<vyr_msg::CartesianCommand>(3)};
  const auto back = Decode<vyr_msg::MotionCommands>(Encode(commands));
  EXPECT_EQ(back.stamp, 42u);
  EXPECT_EQ(back.joint_commands[1].q_d, commands.joint_commands[1].q_d);
  EXPECT_TRUE(back.joint_commands[1].disable_soft_limits);
  EXPECT_EQ(back.cartesian_commands[0].pose_d, commands.cartesian_commands[0].pose_d);
  EXPECT_EQ(back.cartesian_commands[0].max_angular_acc, 5.0f);
  ASSERT_EQ(back.waypoint_commands.size(), 2u);
  EXPECT_EQ(back.waypoint_commands[1].size(), 3u);
}

TEST(VyrRpc, RequestRoundTripKeepsEveryContainer) {
  vyr_msg::RPCRequest request;
  request.op_code = 61;
  request.joint_groups = {3, 5};
  request.bool_container = {true, false};
  request.int_container = {-1, 7};
  request.float_container = {0.25f};
  request.string_container = {"traj.csv", ""};
  request.byte_container = Bytes(300, 0xab);
  request.float2d_container = {{1.0f}, {}, {2.0f, 3.0f}};
  request.tool = {"gripper", 1.5f, {0, 0, 0.1f}, {1, 2, 3, 4, 5, 6}, {0, 0, 0.2f, 1, 0, 0, 0}};
  const auto back = Decode<vyr_msg::RPCRequest>(Encode(request));
  EXPECT_EQ(back.bool_container, request.bool_container);
  EXPECT_EQ(back.int_container, request.int_container);
  EXPECT_EQ(back.string_container, request.string_container);
  EXPECT_EQ(back.byte_container, request.byte_container);
  EXPECT_EQ(back.float2d_container, request.float2d_container);
  EXPECT_EQ(back.tool.name, "gripper");
  EXPECT_EQ(back.tool.tcp_location, request.tool.tcp_location);
}

TEST(QelRpc, EmptyRequestIsOpCodeAndZeroLength) {
  qel_msg::RPCRequest request;
  request.op_code = 10;
  EXPECT_EQ(Encode(request), (Bytes{10, 0, 0}));
}

qel_msg::AllBasicStreamData TwoArmBasicStream() {
  qel_msg::AllBasicStreamData data;
  data.system_state = 5;
  data.safety_state = -1;
  data.estop_released = true;
  data.digital_inputs[19] = true;
  data.joint_groups = {3, 4};
  data.q.assign(14, 0.1f);
  data.multi_contact_forces = {{1, 2, 3}};
  data.cartesian_data.resize(2);
  data.cartesian_data[1].ft_sensor.raw[5] = -4.0f;
  data.timestamp_sec = 1700000000;
  data.timestamp_nanosec = 999999999u;
  return data;
}

TEST(BasicStream, RoundTripKeepsFieldsInOrder) {
  const auto back = Decode<qel_msg::AllBasicStreamData>(Encode(TwoArmBasicStream()));
  EXPECT_EQ(back.safety_state, -1);
  EXPECT_TRUE(back.digital_inputs[19]);
  EXPECT_EQ(back.q.size(), 14u);
  EXPECT_EQ(back.multi_contact_forces[0][2], 3.0f);
  EXPECT_EQ(back.cartesian_data[1].ft_sensor.raw[5], -4.0f);
  EXPECT_EQ(back.timestamp_nanosec, 999999999u);
}

TEST(BasicStream, DigitalInputsWithEighteenValuesAreRejected) {
  Bytes bytes = Encode(qel_msg::AllBasicStreamData{});
  // system(2) safety(2) estop(1) enabling(1) safety inputs(1+8), then the digital inputs.
  const std::size_t at = 2 + 2 + 1 + 1 + 9;
  ASSERT_EQ(bytes[at], 20);
  bytes[at] = 18;
  bytes.erase(bytes.begin() + at + 1, bytes.begin() + at + 3);
  EXPECT_EQ(DecodeError<qel_msg::AllBasicStreamData>(bytes),
            "Incorrect sequence size(Error code: -7 )");
}

TEST(BasicStream, EmptyGroupsAndCartesianDataDecode) {
  const auto back = Decode<qel_msg::AllBasicStreamData>(Encode(qel_msg::AllBasicStreamData{}));
  EXPECT_TRUE(back.joint_groups.empty());
  EXPECT_TRUE(back.cartesian_data.empty());
}

TEST(ExtraStreamAndEvents, RoundTrip) {
  qel_msg::AllExtraStreamData extra;
  extra.joint_groups = {3};
  extra.tau_d = {1, 2, 3, 4, 5, 6, 7};
  extra.cartesian_data.resize(1);
  extra.cartesian_data[0].tcp_wrench_d[0] = 9.0f;
  const auto extra_back = Decode<qel_msg::AllExtraStreamData>(Encode(extra));
  EXPECT_EQ(extra_back.tau_d, extra.tau_d);
  EXPECT_EQ(extra_back.cartesian_data[0].tcp_wrench_d[0], 9.0f);

  qel_msg::EventLog event{3,
                          1042,
                          "Joint 3 over temperature",
                          "Robot stopped",
                          "Blocked fan",
                          "Let the robot cool down"};
  const auto event_back = Decode<qel_msg::EventLog>(Encode(event));
  EXPECT_EQ(event_back.level, 3);
  EXPECT_EQ(event_back.id, 1042);
  EXPECT_EQ(event_back.recommended_actions, "Let the robot cool down");
}

TEST(QelRpc, ReplyRoundTrip) {
  qel_msg::RPCReply reply{10, true, {3, 5}, {0, 7}, {"v2.1"}, {0.5f}, {{1, 2}, {}}};
  const auto back = Decode<qel_msg::RPCReply>(Encode(reply));
  EXPECT_TRUE(back.success);
  EXPECT_EQ(back.int_container, reply.int_container);
  EXPECT_EQ(back.string_container, reply.string_container);
  EXPECT_EQ(back.float2d_container, reply.float2d_container);
}

TEST(Heartbeat, IsOneByte) {
  EXPECT_EQ(Encode(std_msg::Bool{}), (Bytes{0}));
  EXPECT_TRUE(Decode<std_msg::Bool>(Bytes{1}).data);
}

TEST(StateNames, CoverTheCodesOfBothLists) {
  EXPECT_EQ(qel_msg::SystemStateNames().size(), 19u);
  EXPECT_EQ(qel_msg::SystemStateNames().at(18), "RECOVERY_EXTERNAL_AUTO");
  EXPECT_EQ(qel_msg::SafetyStateNames().at(-1), "UNKNOWN");
  EXPECT_EQ(qel_msg::SafetyStateNames().at(136), "CAT_2_STOP");
}

}  // namespace
}  // namespace korvo::zenoh_msgs
