// Holds the motion commands message that the robot interface fills, and publishes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/kro_state.hpp"
#include "middleware/publisher.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::vyr_impl {

class MotionCommandsPub {
 public:
  MotionCommandsPub() = default;
  MotionCommandsPub(const MotionCommandsPub&) = delete;
  MotionCommandsPub& operator=(const MotionCommandsPub&) = delete;
  virtual ~MotionCommandsPub() = default;

  // Declares the publisher on "korvo/vyr/" + sn + "/commands": drop under congestion, real-time
  // priority, best effort. Declaration failures throw zenoh::ZException.
  KroState Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  // Each fill replaces the stamp, the groups and its own list; the other two lists keep what
  // their last fill put there and travel along.
  void SetJointCommands(const std::vector<zenoh_msgs::vyr_msg::JointCommand>& joint_commands,
                        const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp);
  void SetCartesianCommands(
      const std::vector<zenoh_msgs::vyr_msg::CartesianCommand>& cartesian_commands,
      const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp);
  void SetWaypointCommands(
      const std::vector<std::vector<zenoh_msgs::vyr_msg::CartesianCommand>>& waypoint_commands,
      const std::vector<std::uint16_t>& joint_groups, std::uint64_t stamp);
  // Back to the default message: stamp 0 and no commands.
  void Reset();
  // Publishes the message; never throws.
  KroState Publish();

  const zenoh_msgs::vyr_msg::MotionCommands& commands() const { return commands_; }

 private:
  std::shared_ptr<zenoh_mdw::Publisher<zenoh_msgs::vyr_msg::MotionCommands>> publisher_;
  zenoh_msgs::vyr_msg::MotionCommands commands_;
};

}  // namespace korvo::vyr_impl
