#include "msgs/qel_msg.hpp"

namespace korvo::zenoh_msgs::qel_msg {

using zenoh_mdw::DeserializeFields;
using zenoh_mdw::SerializeFields;

const std::map<std::uint16_t, std::string>& SystemStateNames() {
  static const std::map<std::uint16_t, std::string> names = {
      {0, "UNKNOWN"},
      {1, "INIT"},
      {2, "STOPPED_MANUAL"},
      {3, "STOPPED_AUTO"},
      {4, "STOPPED_EXTERNAL_AUTO"},
      {5, "WORKING_EXTERNAL_AUTO"},
      {6, "WORKING_MANUAL_EXECUTE"},
      {7, "WORKING_AUTO_EXECUTE"},
      {8, "REWIND_EXTERNAL_AUTO"},
      {9, "REWIND_MANUAL"},
      {10, "REWIND_AUTO"},
      {11, "FREEDRIVE_MANUAL"},
      {12, "FREEDRIVE_AUTO"},
      {13, "FAULT_MANUAL"},
      {14, "FAULT_AUTO"},
      {15, "FAULT_EXTERNAL_AUTO"},
      {16, "RECOVERY_MANUAL"},
      {17, "RECOVERY_AUTO"},
      {18, "RECOVERY_EXTERNAL_AUTO"},
  };
  return names;
}

const std::map<std::int16_t, std::string>& SafetyStateNames() {
  static const std::map<std::int16_t, std::string> names = {
      {-1, "UNKNOWN"},    {0, "STARTUP"},     {8, "SYNC"},         {9, "RECOVERY"},
      {10, "REDUCED"},    {12, "NORMAL"},     {14, "TRANSITION"},  {24, "RELEASE_BRAKE"},
      {40, "CAT_0_STOP"}, {72, "CAT_1_STOP"}, {136, "CAT_2_STOP"},
  };
  return names;
}

bool Serialize(Serializer& s, const RPCRequest& m, ZResult* err) {
  return SerializeFields(s, err, m.op_code, m.joint_groups);
}
bool Deserialize(Deserializer& d, RPCRequest& m, ZResult* err) {
  return DeserializeFields(d, err, m.op_code, m.joint_groups);
}

bool Serialize(Serializer& s, const RPCReply& m, ZResult* err) {
  return SerializeFields(s, err, m.op_code, m.success, m.joint_groups, m.int_container,
                         m.string_container, m.float_container, m.float2d_container);
}
bool Deserialize(Deserializer& d, RPCReply& m, ZResult* err) {
  return DeserializeFields(d, err, m.op_code, m.success, m.joint_groups, m.int_container,
                           m.string_container, m.float_container, m.float2d_container);
}

bool Serialize(Serializer& s, const FtSensorData& m, ZResult* err) {
  return SerializeFields(s, err, m.raw);
}
bool Deserialize(Deserializer& d, FtSensorData& m, ZResult* err) {
  return DeserializeFields(d, err, m.raw);
}

bool Serialize(Serializer& s, const CartesianData& m, ZResult* err) {
  return SerializeFields(s, err, m.flange_pose, m.tcp_pose, m.tcp_twist, m.tcp_wrench_local,
                         m.reserved_wrench, m.raw_tcp_wrench_local, m.ft_sensor);
}
bool Deserialize(Deserializer& d, CartesianData& m, ZResult* err) {
  return DeserializeFields(d, err, m.flange_pose, m.tcp_pose, m.tcp_twist, m.tcp_wrench_local,
                           m.reserved_wrench, m.raw_tcp_wrench_local, m.ft_sensor);
}

bool Serialize(Serializer& s, const AllBasicStreamData& m, ZResult* err) {
  return SerializeFields(
      s, err, m.system_state, m.safety_state, m.estop_released, m.enabling_device_on,
      m.safety_inputs, m.digital_inputs, m.digital_outputs, m.joint_groups, m.q, m.theta, m.dq,
      m.dtheta, m.tau, m.tau_dot, m.tau_ext, m.tau_interact, m.temperature, m.multi_contact_forces,
      m.multi_contact_positions, m.cartesian_data, m.timestamp_sec, m.timestamp_nanosec);
}
bool Deserialize(Deserializer& d, AllBasicStreamData& m, ZResult* err) {
  return DeserializeFields(
      d, err, m.system_state, m.safety_state, m.estop_released, m.enabling_device_on,
      m.safety_inputs, m.digital_inputs, m.digital_outputs, m.joint_groups, m.q, m.theta, m.dq,
      m.dtheta, m.tau, m.tau_dot, m.tau_ext, m.tau_interact, m.temperature, m.multi_contact_forces,
      m.multi_contact_positions, m.cartesian_data, m.timestamp_sec, m.timestamp_nanosec);
}

bool Serialize(Serializer& s, const DesiredCartesianData& m, ZResult* err) {
  return SerializeFields(s, err, m.tcp_pose_d, m.tcp_twist_d, m.tcp_wrench_d);
}
bool Deserialize(Deserializer& d, DesiredCartesianData& m, ZResult* err) {
  return DeserializeFields(d, err, m.tcp_pose_d, m.tcp_twist_d, m.tcp_wrench_d);
}

bool Serialize(Serializer& s, const AllExtraStreamData& m, ZResult* err) {
  return SerializeFields(s, err, m.joint_groups, m.q_d, m.dq_d, m.tau_d, m.cartesian_data);
}
bool Deserialize(Deserializer& d, AllExtraStreamData& m, ZResult* err) {
  return DeserializeFields(d, err, m.joint_groups, m.q_d, m.dq_d, m.tau_d, m.cartesian_data);
}

bool Serialize(Serializer& s, const EventLog& m, ZResult* err) {
  return SerializeFields(s, err, m.level, m.id, m.description, m.consequences, m.probable_causes,
                         m.recommended_actions);
}
bool Deserialize(Deserializer& d, EventLog& m, ZResult* err) {
  return DeserializeFields(d, err, m.level, m.id, m.description, m.consequences, m.probable_causes,
                           m.recommended_actions);
}

}  // namespace korvo::zenoh_msgs::qel_msg
