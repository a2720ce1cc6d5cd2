// Messages of the robot-side QEL server: data queries, the basic and extra streams and the
// event log. Fields are in wire order; floats are 32-bit on the wire.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "middleware/serialization.hpp"

namespace korvo::zenoh_msgs::qel_msg {

using zenoh::ZResult;
using zenoh_mdw::Deserializer;
using zenoh_mdw::Serializer;

struct RPCRequest {
  std::uint16_t op_code = 0;
  std::vector<std::uint16_t> joint_groups;
};

struct RPCReply {
  std::uint16_t op_code = 0;
  bool success = false;
  std::vector<std::uint16_t> joint_groups;
  std::vector<std::int32_t> int_container;
  std::vector<std::string> string_container;
  std::vector<float> float_container;
  std::vector<std::vector<float>> float2d_container;
};

// Force-torque sensor reading in the flange frame, carried as a record of its own.
struct FtSensorData {
  std::array<float, 6> raw{};
};

// Cartesian states of one single-arm joint group.
struct CartesianData {
  std::array<float, 7> flange_pose{};
  std::array<float, 7> tcp_pose{};
  std::array<float, 6> tcp_twist{};
  std::array<float, 6> tcp_wrench_local{};
  std::array<float, 6> reserved_wrench{};  // decoded and not used
  std::array<float, 6> raw_tcp_wrench_local{};
  FtSensorData ft_sensor;
};

// Joint vectors hold the whole robot ("full DoF"): a group's values start at its start ID.
struct AllBasicStreamData {
  std::uint16_t system_state = 0;
  std::int16_t safety_state = 0;
  bool estop_released = false;
  bool enabling_device_on = false;
  std::array<bool, 8> safety_inputs{};
  std::array<bool, 20> digital_inputs{};
  std::array<bool, 20> digital_outputs{};
  std::vector<std::uint16_t> joint_groups;
  std::vector<float> q;
  std::vector<float> theta;
  std::vector<float> dq;
  std::vector<float> dtheta;
  std::vector<float> tau;
  std::vector<float> tau_dot;
  std::vector<float> tau_ext;
  std::vector<float> tau_interact;
  std::vector<float> temperature;
  std::vector<std::array<float, 3>> multi_contact_forces;
  std::vector<std::array<float, 3>> multi_contact_positions;
  std::vector<CartesianData> cartesian_data;
  std::int32_t timestamp_sec = 0;
  std::uint32_t timestamp_nanosec = 0;
};

// Desired Cartesian states of one single-arm joint group.
struct DesiredCartesianData {
  std::array<float, 7> tcp_pose_d{};
  std::array<float, 6> tcp_twist_d{};
  std::array<float, 6> tcp_wrench_d{};
};

struct AllExtraStreamData {
  std::vector<std::uint16_t> joint_groups;
  std::vector<float> q_d;
  std::vector<float> dq_d;
  std::vector<float> tau_d;
  std::vector<DesiredCartesianData> cartesian_data;
};

struct EventLog {
  std::uint16_t level = 0;
  std::int32_t id = 0;
  std::string description;
  std::string consequences;
  std::string probable_causes;
  std::string recommended_actions;
};

// Robot operating states of the basic stream, code to name.
const std::map<std::uint16_t, std::string>& SystemStateNames();
// Safety controller states of the basic stream, code to name.
const std::map<std::int16_t, std::string>& SafetyStateNames();

bool Serialize(Serializer& s, const RPCRequest& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, RPCRequest& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const RPCReply& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, RPCReply& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const FtSensorData& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, FtSensorData& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const CartesianData& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, CartesianData& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const AllBasicStreamData& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, AllBasicStreamData& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const DesiredCartesianData& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, DesiredCartesianData& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const AllExtraStreamData& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, AllExtraStreamData& m, ZResult* err = nullptr);
bool Serialize(Serializer& s, const EventLog& m, ZResult* err = nullptr);
bool Deserialize(Deserializer& d, EventLog& m, ZResult* err = nullptr);

}  // namespace korvo::zenoh_msgs::qel_msg
