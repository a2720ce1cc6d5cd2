#include "client/qel_data_rpc.hpp"

#include <spdlog/spdlog.h>

#include <cmath>
#include <limits>
#include <utility>

#include "client/topics.hpp"

namespace korvo::vyr_impl {
namespace {

using vyr::JointGroup;

constexpr double kReplyTimeoutSeconds = 2.0;

constexpr std::uint16_t kOpSyncServerVersion = 1;
constexpr std::uint16_t kOpGetPrimitiveStates = 3;
constexpr std::uint16_t kOpGetPlanInfo = 4;
constexpr std::uint16_t kOpGetManipulability = 9;
constexpr std::uint16_t kOpGetStartIdsAndDoF = 10;

constexpr std::size_t kPlanInfoTexts = 8;
// A manipulability row: two leading values the client does not use, then six values.
constexpr std::size_t kManipulabilityRow = 8;
constexpr std::size_t kManipulabilitySkipped = 2;

KroState Ok() { return MakeKroState(kKroOk); }
KroState Fault() { return MakeKroState(kKroFault); }

JointGroup FromWire(std::uint16_t group) {
  return static_cast<JointGroup>(static_cast<std::int32_t>(group));
}

// A DoF travels as a float and is truncated toward zero. Values that are no count at all (negative,
// not finite, too large) are not converted, since their conversion would be undefined.
bool IsCount(float dof) {
  return std::isfinite(dof) && dof > -1.0f &&
         dof < static_cast<float>(std::numeric_limits<int>::max());
}

}  // namespace

KroState QELDataRpc::Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn) {
  const std::string topic = std::string(kQelPrefix) + sn + kRpcSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating RPC client on topic: {}", topic);
  rpc_client_ = std::make_shared<RpcClient>(session, topic);
  return Ok();
}

KroState QELDataRpc::Exchange(const Request& request, Reply& reply) {
  if (!rpc_client_ || !rpc_client_->SendRequestAndGetReply(request, reply, kReplyTimeoutSeconds)) {
    spdlog::debug("Failed to send remote call or server reply timeout");
    return Fault();
  }
  if (!reply.success || reply.op_code != request.op_code) {
    spdlog::debug("Remote procedure failed");
    return Fault();
  }
  return Ok();
}

KroState QELDataRpc::GetStringList(std::uint16_t op_code, std::vector<std::string>& strings) {
  Request request;
  request.op_code = op_code;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  strings = std::move(reply.string_container);
  return Ok();
}

KroState QELDataRpc::SyncServerVersion(std::string& version) {
  std::vector<std::string> list;
  if (const auto state = GetStringList(kOpSyncServerVersion, list); !state.ok()) return state;
  if (list.empty()) {
    spdlog::debug("Reply lacks string_container[0]");
    return Fault();
  }
  version = list[0];
  spdlog::debug("Received QEL server version = {}", version);
  return Ok();
}

KroState QELDataRpc::GetPrimitiveStates(std::vector<std::string>& entries) {
  return GetStringList(kOpGetPrimitiveStates, entries);
}

KroState QELDataRpc::GetPlanInfo(vyr::PlanInfo& info) {
  std::vector<std::string> list;
  if (const auto state = GetStringList(kOpGetPlanInfo, list); !state.ok()) return state;
  if (list.size() != kPlanInfoTexts) {
    spdlog::error("[korvo::vyr::Robot] Size of plan info container is incorrect");
    return Fault();
  }
  info.pt_name = list[0];
  info.node_name = list[1];
  info.node_path = list[2];
  info.node_path_time_period = list[3];
  info.node_path_number = list[4];
  info.assigned_plan_name = list[5];
  info.velocity_scale = std::stod(list[6]);
  info.waiting_for_step = std::stoi(list[7]) != 0;
  return Ok();
}

KroState QELDataRpc::GetManipulability(
    std::map<JointGroup, std::array<double, vyr::kCartDoF>>& values) {
  Request request;
  request.op_code = kOpGetManipulability;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (reply.joint_groups.size() != reply.float2d_container.size()) {
    spdlog::error(
        "Malformed manipulability reply: size mismatch between joint_groups and float2d_container");
    return Fault();
  }
  values.clear();
  for (std::size_t i = 0; i < reply.joint_groups.size(); ++i) {
    const auto& row = reply.float2d_container[i];
    if (row.size() < kManipulabilityRow) {
      spdlog::error(
          "Malformed manipulability reply: packed vector size [{}], expecting at least [{}]",
          row.size(), kManipulabilityRow);
      return Fault();
    }
    std::array<double, vyr::kCartDoF> entry{};
    for (std::size_t k = 0; k < entry.size(); ++k) entry[k] = row[kManipulabilitySkipped + k];
    values[FromWire(reply.joint_groups[i])] = entry;
  }
  return Ok();
}

KroState QELDataRpc::GetStartIdsAndDoF(const std::vector<JointGroup>& groups,
                                       std::map<JointGroup, std::int32_t>& start_ids,
                                       std::map<JointGroup, int>& DoF) {
  Request request;
  request.op_code = kOpGetStartIdsAndDoF;
  for (const auto group : groups) request.joint_groups.push_back(static_cast<std::uint16_t>(group));
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (reply.joint_groups.size() != reply.int_container.size() ||
      reply.joint_groups.size() != reply.float_container.size()) {
    spdlog::error(
        "Malformed start ID reply: size mismatch between joint_groups, int_container, and "
        "float_container");
    return Fault();
  }
  for (const float dof : reply.float_container) {
    if (!IsCount(dof)) {
      spdlog::error("Malformed start ID reply: DoF [{}] is not a count", dof);
      return Fault();
    }
  }
  start_ids.clear();
  DoF.clear();
  for (std::size_t i = 0; i < reply.joint_groups.size(); ++i) {
    const JointGroup group = FromWire(reply.joint_groups[i]);
    start_ids[group] = reply.int_container[i];
    DoF[group] = static_cast<int>(reply.float_container[i]);
  }
  return Ok();
}

}  // namespace korvo::vyr_impl
