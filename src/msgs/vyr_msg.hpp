// Messages exchanged with the robot-side VYR server: requests and replies, real-time states and
// motion commands. Fields are in wire order; floats are 32-bit on the wire.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "middleware/serialization.hpp"

namespace korvo::zenoh_msgs::vyr_msg {

using zenoh::ZResult;
using zenoh_mdw::Deserializer;
using zenoh_mdw::Serializer;

// Tool description carried by every request and reply, used or not.
struct ToolInfo {
  std::string name;
  float mass = 0.0f;
  std::array<float, 3> CoM{};
  std::array<float, 6> inertia{};
  std::array<float, 7> tcp_location{};
};

struct RPCRequest {
  std::uint16_t op_code = 0;
  std::vector<std::uint16_t> joint_groups;
  std::vector<bool> bool_container;
  std::vector<std::int32_t> int_container;
  std::vector<float> float_container;
  std::vector<std::string> string_container;
  std::vector<std::uint8_t> byte_container;
  std::vector<std::vector<float>> float2d_container;
  ToolInfo tool;
};

struct RPCReply {
  std::uint16_t op_code = 0;
  bool success = false;
  std::vector<std::uint16_t> joint_groups;
  std::vector<bool> bool_container;
  std::vector<std::int32_t> int_container;
  std::vector<float> float_container;
  std::vector<std::string> string_container;
  std::vector<std::uint8_t> byte_container;
  std::vector<std::vector<float>> float2d_container;
  ToolInfo tool;
};

struct GripperStateEntry {
  float width = 0.0f;
  float force = 0.0f;
  bool is_moving = false;
};

// Published by the robot on ".../states" at its control rate.
struct RealtimeStates {
  bool busy = false;
  std::uint64_t timeliness_failure_count = 0;
  std::uint16_t mode = 0;
  std::vector<GripperStateEntry> gripper_states;
};

struct JointCommand {
  std::vector<float> tau_d;
  std::vector<float> q_d;
  std::vector<float> dq_d;
  std::vector<float> ddq_d;
  std::vector<float> dq_max;
  std::vector<float> ddq_max;
  float friction_comp_scale = 0.0f;
  bool disable_gravity_comp = false;
  bool disable_soft_limits = false;
};

struct CartesianCommand {
  std::array<float, 7> pose_d{};
  std::array<float, 6> wrench_d{};
  std::array<float, 6> twist_d{};
  std::array<float, 6> acc_d{};
  float max_linear_vel = 0.0f;
  float max_angular_vel = 0.0f;
  float max_linear_acc = 0.0f;
  float max_angular_acc = 0.0f;
};

// Sent by the client on ".../commands": one entry per commanded joint group.
struct MotionCommands {
  std::uint64_t stamp = 0;
  std::vector<std::uint16_t> joint_groups;
  std::vector<JointCommand> joint_commands;
  std::vector<CartesianCommand> cartesian_commands;
  std::vector<std::vector<CartesianCommand>> waypoint_commands;
};

bool Serialize(Serializer& s, const ToolInfo& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, ToolInfo& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const RPCRequest& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, RPCRequest& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const RPCReply& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, RPCReply& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const GripperStateEntry& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, GripperStateEntry& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const RealtimeStates& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, RealtimeStates& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const JointCommand& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, JointCommand& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const CartesianCommand& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, CartesianCommand& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const MotionCommands& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, MotionCommands& m, ZResult* err = nullptr);

}  // namespace korvo::zenoh_msgs::vyr_msg
