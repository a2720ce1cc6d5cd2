#include "client/motion_commands_pub.hpp"

#include <spdlog/spdlog.h>

#include "client/topics.hpp"

namespace korvo::vyr_impl {

KroState MotionCommandsPub::Init(const std::shared_ptr<zenoh::Session>& session,
                                 const std::string& sn) {
  const std::string topic = std::string(kVyrPrefix) + sn + kCommandsSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating publisher on topic: {}", topic);
  zenoh::PublisherOptions options;
  options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  options.priority = KORVO_PRIORITY_REAL_TIME;
  options.is_express = false;
  options.reliability = KORVO_RELIABILITY_BEST_EFFORT;
  publisher_ = std::make_shared<zenoh_mdw::Publisher<zenoh_msgs::vyr_msg::MotionCommands>>(
      session, topic, options);
  return MakeKroState(kKroOk);
}

void MotionCommandsPub::SetJointCommands(
    const std::vector<zenoh_msgs::vyr_msg::JointCommand>& joint_commands,
    const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp) {
  commands_.stamp = stamp;
  commands_.joint_groups = joint_groups;
  commands_.joint_commands = joint_commands;
}

void MotionCommandsPub::SetCartesianCommands(
    const std::vector<zenoh_msgs::vyr_msg::CartesianCommand>& cartesian_commands,
    const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp) {
  commands_.stamp = stamp;
  commands_.joint_groups = joint_groups;
  commands_.cartesian_commands = cartesian_commands;
}

void MotionCommandsPub::SetWaypointCommands(
    const std::vector<std::vector<zenoh_msgs::vyr_msg::CartesianCommand>>& waypoint_commands,
    const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp) {
  commands_.stamp = stamp;
  commands_.joint_groups = joint_groups;
  commands_.waypoint_commands = waypoint_commands;
}

void MotionCommandsPub::Reset() { commands_ = zenoh_msgs::vyr_msg::MotionCommands{}; }

KroState MotionCommandsPub::Publish() {
  if (publisher_ && publisher_->Publish(commands_)) return MakeKroState(kKroOk);
  spdlog::error("[korvo::vyr::Robot] Failed to publish motion commands message");
  return MakeKroState(kKroFault);
}

}  // namespace korvo::vyr_impl
