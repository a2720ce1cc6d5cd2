// Receives the robot's event log and keeps every event in arrival order.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/kro_state.hpp"
#include "korvo/vyr/data.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/qel_msg.hpp"

namespace korvo::vyr_impl {

class QELLogEvent {
 public:
  QELLogEvent() = default;
  QELLogEvent(const QELLogEvent&) = delete;
  QELLogEvent& operator=(const QELLogEvent&) = delete;
  virtual ~QELLogEvent();

  // Subscribes to "korvo/robot/" + sn + "/event_log". Declaration failures throw
  // zenoh::ZException.
  KroState Initialize(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  // A copy of every event received so far, oldest first.
  std::vector<vyr::RobotEvent> events() const;

 private:
  void OnEvent();

  zenoh_msgs::qel_msg::EventLog incoming_;
  std::shared_ptr<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::EventLog>> subscriber_;
  // Guards `events_` for the append and for the copy only.
  mutable std::mutex mutex_;
  std::vector<vyr::RobotEvent> events_;
};

}  // namespace korvo::vyr_impl
