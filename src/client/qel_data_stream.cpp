#include "client/qel_data_stream.hpp"

#include <spdlog/spdlog.h>

#include "client/topics.hpp"

namespace korvo::vyr_impl {

QELDataStream::~QELDataStream() {
  // The subscribers go first, so no callback touches the buffers while they are destroyed.
  extra_sub_.reset();
  basic_sub_.reset();
}

KroState QELDataStream::Init(const std::shared_ptr<zenoh::Session>& session,
                             const std::string& sn) {
  const std::string basic = std::string(kQelPrefix) + sn + kBasicStreamSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating subscriber on topic: {}", basic);
  basic_sub_ = std::make_shared<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::AllBasicStreamData>>(
      session,
      [this] {
        std::lock_guard lock(basic_mutex_);
        basic_ = basic_incoming_;
      },
      basic_incoming_, basic);
  const std::string extra = std::string(kQelPrefix) + sn + kExtraStreamSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating subscriber on topic: {}", extra);
  extra_sub_ = std::make_shared<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::AllExtraStreamData>>(
      session,
      [this] {
        std::lock_guard lock(extra_mutex_);
        extra_ = extra_incoming_;
      },
      extra_incoming_, extra);
  return MakeKroState(kKroOk);
}

std::map<vyr::JointGroup, vyr::RobotStates> QELDataStream::states(const GroupNames& all_groups,
                                                                  const StartIds& start_ids,
                                                                  const GroupDoF& dof) const {
  std::lock_guard lock(basic_mutex_);
  return SegmentStates(basic_, all_groups, start_ids, dof);
}

std::map<vyr::JointGroup, vyr::RobotActions> QELDataStream::actions(const GroupNames& all_groups,
                                                                    const StartIds& start_ids,
                                                                    const GroupDoF& dof) const {
  std::pair<std::int32_t, std::int32_t> stamp;
  {
    std::lock_guard lock(basic_mutex_);
    stamp = {basic_.timestamp_sec, static_cast<std::int32_t>(basic_.timestamp_nanosec)};
  }
  std::lock_guard lock(extra_mutex_);
  return SegmentActions(extra_, stamp, all_groups, start_ids, dof);
}

ContactVectors QELDataStream::multi_contact_forces(const GroupNames& all_groups,
                                                   const StartIds& start_ids,
                                                   const GroupDoF& dof) const {
  std::lock_guard lock(basic_mutex_);
  return SegmentContacts(basic_, false, all_groups, start_ids, dof);
}

ContactVectors QELDataStream::multi_contact_positions(const GroupNames& all_groups,
                                                      const StartIds& start_ids,
                                                      const GroupDoF& dof) const {
  std::lock_guard lock(basic_mutex_);
  return SegmentContacts(basic_, true, all_groups, start_ids, dof);
}

std::uint16_t QELDataStream::system_state() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.system_state;
}
std::int16_t QELDataStream::safety_state() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.safety_state;
}
bool QELDataStream::estop_released() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.estop_released;
}
bool QELDataStream::enabling_device_on() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.enabling_device_on;
}
std::array<bool, 8> QELDataStream::safety_inputs() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.safety_inputs;
}
std::array<bool, 20> QELDataStream::digital_inputs() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.digital_inputs;
}
std::array<bool, 20> QELDataStream::digital_outputs() const {
  std::lock_guard lock(basic_mutex_);
  return basic_.digital_outputs;
}

}  // namespace korvo::vyr_impl
