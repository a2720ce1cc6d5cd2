#include "client/realtime_states_sub.hpp"

#include <spdlog/spdlog.h>

#include "client/topics.hpp"

namespace korvo::vyr_impl {

RealtimeStatesSub::~RealtimeStatesSub() {
  // No notification starts after this, and one still inside the lock finishes first.
  subscriber_.reset();
  std::lock_guard lock(mutex_);
}

KroState RealtimeStatesSub::Init(const std::shared_ptr<zenoh::Session>& session,
                                 const std::string& sn) {
  const std::string topic = std::string(kVyrPrefix) + sn + kStatesSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating subscriber on topic: {}", topic);
  subscriber_ = std::make_shared<zenoh_mdw::Subscriber<zenoh_msgs::vyr_msg::RealtimeStates>>(
      session, [this] { OnStates(); }, incoming_, topic);
  return MakeKroState(kKroOk);
}

void RealtimeStatesSub::OnStates() {
  {
    std::lock_guard lock(mutex_);
    latest_.busy = incoming_.busy;
    latest_.timeliness_failure_count = incoming_.timeliness_failure_count;
    latest_.mode = incoming_.mode;
    latest_.gripper_states.assign(incoming_.gripper_states.begin(), incoming_.gripper_states.end());
  }
  received_count_.fetch_add(1);
}

std::uint16_t RealtimeStatesSub::mode() const {
  std::lock_guard lock(mutex_);
  return latest_.mode > 12 ? 0 : latest_.mode;
}

bool RealtimeStatesSub::busy() const {
  std::lock_guard lock(mutex_);
  return latest_.busy;
}

std::uint64_t RealtimeStatesSub::timeliness_failure_count() const {
  std::lock_guard lock(mutex_);
  return latest_.timeliness_failure_count;
}

std::vector<vyr::GripperStates> RealtimeStatesSub::gripper_states() const {
  std::lock_guard lock(mutex_);
  std::vector<vyr::GripperStates> out;
  out.reserve(latest_.gripper_states.size());
  for (const auto& g : latest_.gripper_states) {
    vyr::GripperStates s;
    s.width = g.width;
    s.force = g.force;
    s.is_moving = g.is_moving;
    out.push_back(s);
  }
  return out;
}

}  // namespace korvo::vyr_impl
