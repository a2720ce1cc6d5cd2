// The request-reply channel to the robot-side QEL server, which answers data queries.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/kro_state.hpp"
#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"
#include "middleware/rpc_client.hpp"
#include "msgs/qel_msg.hpp"

namespace korvo::vyr_impl {

// Every operation makes one call, returns 100000 on success and 300000 on any failure, and logs
// why it failed. Only the number conversions of GetPlanInfo throw. Outputs may be partly written
// when a check fails after they were cleared.
class QELDataRpc {
 public:
  using RpcClient =
      zenoh_mdw::RpcClient<zenoh_msgs::qel_msg::RPCRequest, zenoh_msgs::qel_msg::RPCReply>;

  QELDataRpc() = default;
  QELDataRpc(const QELDataRpc&) = delete;
  QELDataRpc& operator=(const QELDataRpc&) = delete;
  virtual ~QELDataRpc() = default;

  // Creates the RPC client on "korvo/robot/" + sn + "/rpc", replacing any previous one.
  KroState Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  // Replaces `strings` with the reply's strings.
  KroState GetStringList(std::uint16_t op_code, std::vector<std::string>& strings);
  KroState SyncServerVersion(std::string& version);
  KroState GetPrimitiveStates(std::vector<std::string>& entries);
  // Throws std::invalid_argument or std::out_of_range when the velocity scale or the step flag
  // is not a number that fits.
  KroState GetPlanInfo(vyr::PlanInfo& info);
  // Six manipulability values per single-arm group.
  KroState GetManipulability(std::map<vyr::JointGroup, std::array<double, vyr::kCartDoF>>& values);
  // Start index in the full-DoF vectors and degrees of freedom of each group the robot reports
  // among `groups`. Both maps are replaced only by a well-formed reply.
  KroState GetStartIdsAndDoF(const std::vector<vyr::JointGroup>& groups,
                             std::map<vyr::JointGroup, std::int32_t>& start_ids,
                             std::map<vyr::JointGroup, int>& DoF);

 private:
  using Request = zenoh_msgs::qel_msg::RPCRequest;
  using Reply = zenoh_msgs::qel_msg::RPCReply;

  // One call; a reply must arrive and be accepted. Logs each failure.
  KroState Exchange(const Request& request, Reply& reply);

  std::shared_ptr<RpcClient> rpc_client_;
};

}  // namespace korvo::vyr_impl
