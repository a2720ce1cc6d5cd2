#include "client/qel_log_event.hpp"

#include <spdlog/spdlog.h>

#include <chrono>

#include "client/topics.hpp"

namespace korvo::vyr_impl {

QELLogEvent::~QELLogEvent() { subscriber_.reset(); }

KroState QELLogEvent::Initialize(const std::shared_ptr<zenoh::Session>& session,
                                 const std::string& sn) {
  const std::string topic = std::string(kQelPrefix) + sn + kEventLogSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating subscriber on topic: {}", topic);
  subscriber_ = std::make_shared<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::EventLog>>(
      session, [this] { OnEvent(); }, incoming_, topic);
  return MakeKroState(kKroOk);
}

void QELLogEvent::OnEvent() {
  vyr::RobotEvent event;
  event.level = static_cast<vyr::RobotEvent::Level>(incoming_.level);
  event.id = incoming_.id;
  event.description = incoming_.description;
  event.consequences = incoming_.consequences;
  event.probable_causes = incoming_.probable_causes;
  event.recommended_actions = incoming_.recommended_actions;
  event.timestamp = std::chrono::system_clock::now();
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  switch (incoming_.level) {
    case 1:
      spdlog::info("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 2:
      spdlog::warn("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 3:
      spdlog::error("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 4:
      spdlog::critical("[Event Log] [{}] {}", event.id, event.description);
      break;
    default:
      break;  // stored, not logged
  }
}

std::vector<vyr::RobotEvent> QELLogEvent::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

}  // namespace korvo::vyr_impl
