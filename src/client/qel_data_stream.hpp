// Receives the basic and extra stream data, keeps the latest complete message of each, and
// answers the per-group queries and status readers from them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "client/kro_state.hpp"
#include "client/segmentation.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/qel_msg.hpp"

namespace korvo::vyr_impl {

class QELDataStream {
 public:
  QELDataStream() = default;
  QELDataStream(const QELDataStream&) = delete;
  QELDataStream& operator=(const QELDataStream&) = delete;
  virtual ~QELDataStream();

  // Subscribes to the basic, then the extra stream of robot `sn`. Declaration failures throw
  // zenoh::ZException.
  KroState Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  std::map<vyr::JointGroup, vyr::RobotStates> states(const GroupNames& all_groups,
                                                     const StartIds& start_ids,
                                                     const GroupDoF& dof) const;
  std::map<vyr::JointGroup, vyr::RobotActions> actions(const GroupNames& all_groups,
                                                       const StartIds& start_ids,
                                                       const GroupDoF& dof) const;
  ContactVectors multi_contact_forces(const GroupNames& all_groups, const StartIds& start_ids,
                                      const GroupDoF& dof) const;
  ContactVectors multi_contact_positions(const GroupNames& all_groups, const StartIds& start_ids,
                                         const GroupDoF& dof) const;

  std::uint16_t system_state() const;
  std::int16_t safety_state() const;
  bool estop_released() const;
  bool enabling_device_on() const;
  std::array<bool, 8> safety_inputs() const;
  std::array<bool, 20> digital_inputs() const;
  std::array<bool, 20> digital_outputs() const;

 private:
  std::shared_ptr<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::AllBasicStreamData>> basic_sub_;
  std::shared_ptr<zenoh_mdw::Subscriber<zenoh_msgs::qel_msg::AllExtraStreamData>> extra_sub_;
  zenoh_msgs::qel_msg::AllBasicStreamData basic_incoming_;
  zenoh_msgs::qel_msg::AllExtraStreamData extra_incoming_;
  zenoh_msgs::qel_msg::AllBasicStreamData basic_;
  zenoh_msgs::qel_msg::AllExtraStreamData extra_;
  mutable std::mutex basic_mutex_;
  mutable std::mutex extra_mutex_;
};

}  // namespace korvo::vyr_impl
