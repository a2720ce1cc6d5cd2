// Receives the robot's real-time states and keeps the latest complete message.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/kro_state.hpp"
#include "korvo/vyr/data.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::vyr_impl {

class RealtimeStatesSub {
 public:
  RealtimeStatesSub() = default;
  RealtimeStatesSub(const RealtimeStatesSub&) = delete;
  RealtimeStatesSub& operator=(const RealtimeStatesSub&) = delete;
  virtual ~RealtimeStatesSub();

  // Subscribes to "korvo/vyr/" + sn + "/states". Declaration failures throw zenoh::ZException.
  KroState Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  // The mode code of the latest message; a code above 12 reads as 0 (UNKNOWN).
  std::uint16_t mode() const;
  bool busy() const;
  std::uint64_t timeliness_failure_count() const;
  std::vector<vyr::GripperStates> gripper_states() const;
  // Complete messages received so far.
  std::uint64_t received_count() const { return received_count_.load(); }

 private:
  void OnStates();

  zenoh_msgs::vyr_msg::RealtimeStates incoming_;
  zenoh_msgs::vyr_msg::RealtimeStates latest_;
  std::shared_ptr<zenoh_mdw::Subscriber<zenoh_msgs::vyr_msg::RealtimeStates>> subscriber_;
  mutable std::mutex mutex_;
  std::atomic<std::uint64_t> received_count_{0};
};

}  // namespace korvo::vyr_impl
