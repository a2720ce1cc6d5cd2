#include "msgs/vyr_msg.hpp"

namespace korvo::zenoh_msgs::vyr_msg {

using zenoh_mdw::DeserializeFields;
using zenoh_mdw::SerializeFields;

bool Serialize(Serializer& s, const ToolInfo& m, ZResult* err) {
  return SerializeFields(s, err, m.name, m.mass, m.CoM, m.inertia, m.tcp_location);
}
bool Deserialize(Deserializer& d, ToolInfo& m, ZResult* err) {
  return DeserializeFields(d, err, m.name, m.mass, m.CoM, m.inertia, m.tcp_location);
}

bool Serialize(Serializer& s, const RPCRequest& m, ZResult* err) {
  return SerializeFields(s, err, m.op_code, m.joint_groups, m.bool_container, m.int_container,
                         m.float_container, m.string_container, m.byte_container,
                         m.float2d_container, m.tool);
}
bool Deserialize(Deserializer& d, RPCRequest& m, ZResult* err) {
  return DeserializeFields(d, err, m.op_code, m.joint_groups, m.bool_container, m.int_container,
                           m.float_container, m.string_container, m.byte_container,
                           m.float2d_container, m.tool);
}

bool Serialize(Serializer& s, const RPCReply& m, ZResult* err) {
  return SerializeFields(s, err, m.op_code, m.success, m.joint_groups, m.bool_container,
                         m.int_container, m.float_container, m.string_container, m.byte_container,
                         m.float2d_container, m.tool);
}
bool Deserialize(Deserializer& d, RPCReply& m, ZResult* err) {
  return DeserializeFields(d, err, m.op_code, m.success, m.joint_groups, m.bool_container,
                           m.int_container, m.float_container, m.string_container, m.byte_container,
                           m.float2d_container, m.tool);
}

bool Serialize(Serializer& s, const GripperStateEntry& m, ZResult* err) {
  return SerializeFields(s, err, m.width, m.force, m.is_moving);
}
bool Deserialize(Deserializer& d, GripperStateEntry& m, ZResult* err) {
  return DeserializeFields(d, err, m.width, m.force, m.is_moving);
}

bool Serialize(Serializer& s, const RealtimeStates& m, ZResult* err) {
  return SerializeFields(s, err, m.busy, m.timeliness_failure_count, m.mode, m.gripper_states);
}
bool Deserialize(Deserializer& d, RealtimeStates& m, ZResult* err) {
  return DeserializeFields(d, err, m.busy, m.timeliness_failure_count, m.mode, m.gripper_states);
}

bool Serialize(Serializer& s, const JointCommand& m, ZResult* err) {
  return SerializeFields(s, err, m.tau_d, m.q_d, m.dq_d, m.ddq_d, m.dq_max, m.ddq_max,
                         m.friction_comp_scale, m.disable_gravity_comp, m.disable_soft_limits);
}
bool Deserialize(Deserializer& d, JointCommand& m, ZResult* err) {
  return DeserializeFields(d, err, m.tau_d, m.q_d, m.dq_d, m.ddq_d, m.dq_max, m.ddq_max,
                           m.friction_comp_scale, m.disable_gravity_comp, m.disable_soft_limits);
}

bool Serialize(Serializer& s, const CartesianCommand& m, ZResult* err) {
  return SerializeFields(s, err, m.pose_d, m.wrench_d, m.twist_d, m.acc_d, m.max_linear_vel,
                         m.max_angular_vel, m.max_linear_acc, m.max_angular_acc);
}
bool Deserialize(Deserializer& d, CartesianCommand& m, ZResult* err) {
  return DeserializeFields(d, err, m.pose_d, m.wrench_d, m.twist_d, m.acc_d, m.max_linear_vel,
                           m.max_angular_vel, m.max_linear_acc, m.max_angular_acc);
}

bool Serialize(Serializer& s, const MotionCommands& m, ZResult* err) {
  return SerializeFields(s, err, m.stamp, m.joint_groups, m.joint_commands, m.cartesian_commands,
                         m.waypoint_commands);
}
bool Deserialize(Deserializer& d, MotionCommands& m, ZResult* err) {
  return DeserializeFields(d, err, m.stamp, m.joint_groups, m.joint_commands, m.cartesian_commands,
                           m.waypoint_commands);
}

}  // namespace korvo::zenoh_msgs::vyr_msg
