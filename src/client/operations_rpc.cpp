#include "client/operations_rpc.hpp"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "client/crc32.hpp"
#include "client/topics.hpp"
#include "korvo/vyr/name_tables.hpp"

namespace korvo::vyr_impl {
namespace {

using vyr::JointGroup;
using zenoh_msgs::vyr_msg::RPCReply;
using zenoh_msgs::vyr_msg::RPCRequest;
using zenoh_msgs::vyr_msg::ToolInfo;

constexpr double kReplyTimeoutSeconds = 2.0;
constexpr int kCallsPerRequest = 3;

// Operation codes with a fixed purpose; the others are chosen by the callers.
constexpr std::uint16_t kOpSyncServerVersion = 3;
constexpr std::uint16_t kOpSyncJointLimits = 6;
constexpr std::uint16_t kOpGetMode = 7;
constexpr std::uint16_t kOpSetMode = 8;
constexpr std::uint16_t kOpRequestReachability = 11;
constexpr std::uint16_t kOpGetActiveToolParams = 34;
constexpr std::uint16_t kOpGetToolParams = 35;
constexpr std::uint16_t kOpGetPayloadParams = 37;
constexpr std::uint16_t kOpDeviceParamNames = 43;
constexpr std::uint16_t kOpDeviceParamValue = 44;
constexpr std::uint16_t kOpGetDeviceStatus = 45;
constexpr std::uint16_t kOpGetPose = 53;

// The highest mode code the robot may report; anything above reads as UNKNOWN.
constexpr std::uint32_t kHighestModeCode = 12;

KroState Ok() { return MakeKroState(kKroOk); }
KroState Fault() { return MakeKroState(kKroFault); }

bool Accepted(const RPCRequest& request, const RPCReply& reply) {
  return reply.success && reply.op_code == request.op_code;
}

std::uint16_t ToWire(JointGroup group) { return static_cast<std::uint16_t>(group); }
JointGroup FromWire(std::uint16_t group) {
  return static_cast<JointGroup>(static_cast<std::int32_t>(group));
}

std::vector<double> Widen(std::vector<float>::const_iterator first,
                          std::vector<float>::const_iterator last) {
  return std::vector<double>(first, last);
}

template <std::size_t N>
std::array<double, N> Widen(const std::array<float, N>& values) {
  std::array<double, N> widened{};
  std::copy(values.begin(), values.end(), widened.begin());
  return widened;
}

template <std::size_t N>
std::array<float, N> Narrow(const std::array<double, N>& values) {
  std::array<float, N> narrowed{};
  std::transform(values.begin(), values.end(), narrowed.begin(),
                 [](double v) { return static_cast<float>(v); });
  return narrowed;
}

const std::string& GroupName(JointGroup group) {
  const auto it = vyr::kJointGroupNames.find(group);
  return it != vyr::kJointGroupNames.end() ? it->second
                                           : vyr::kJointGroupNames.at(JointGroup::UNKNOWN);
}

// Operations read some reply positions unconditionally; a reply without them counts as a failed
// call rather than an out-of-range read.
bool HasValues(std::size_t size, std::size_t needed, const char* container) {
  if (size >= needed) return true;
  spdlog::debug("Reply lacks {}[{}]", container, size);
  return false;
}

ToolInfo MakeToolInfo(const std::string& name, const vyr::ToolParams& params) {
  ToolInfo tool;
  tool.name = name;
  tool.mass = static_cast<float>(params.mass);
  tool.CoM = Narrow(params.CoM);
  tool.inertia = Narrow(params.inertia);
  tool.tcp_location = Narrow(params.tcp_location);
  return tool;
}

void ReadMassProperties(const ToolInfo& tool, vyr::ToolParams& params) {
  params.mass = tool.mass;
  params.CoM = Widen(tool.CoM);
  params.inertia = Widen(tool.inertia);
}

void ReadToolParams(const ToolInfo& tool, vyr::ToolParams& params) {
  ReadMassProperties(tool, params);
  params.tcp_location = Widen(tool.tcp_location);
}

}  // namespace

KroState OperationsRPC::Init(const std::shared_ptr<zenoh::Session>& session,
                             const std::string& sn) {
  const std::string topic = std::string(kVyrPrefix) + sn + kRpcSuffix;
  spdlog::debug("[korvo::vyr::Robot] Creating RPC client on topic: {}", topic);
  rpc_client_ = std::make_shared<RpcClient>(session, topic);
  return Ok();
}

bool OperationsRPC::SendWithRetries(const Request& request, Reply& reply) {
  if (!rpc_client_) return false;
  for (int call = 0; call < kCallsPerRequest; ++call) {
    if (rpc_client_->SendRequestAndGetReply(request, reply, kReplyTimeoutSeconds)) return true;
  }
  return false;
}

KroState OperationsRPC::Exchange(const Request& request, Reply& reply) {
  if (!SendWithRetries(request, reply)) {
    spdlog::debug("Failed to send remote call or server reply timeout");
    return Fault();
  }
  if (!Accepted(request, reply)) {
    spdlog::debug("Remote procedure failed");
    return Fault();
  }
  return Ok();
}

KroState OperationsRPC::CallOperation(std::uint16_t op_code, const OperationArgs& args) {
  Request request;
  request.op_code = op_code;
  request.joint_groups.reserve(args.joint_groups.size());
  for (const auto group : args.joint_groups) request.joint_groups.push_back(ToWire(group));
  request.bool_container = args.bools;
  request.int_container = args.ints;
  request.float_container = args.floats;
  request.string_container = args.strings;
  Reply reply;
  return Exchange(request, reply);
}

KroState OperationsRPC::GetMode(vyr::Mode& mode) {
  Request request;
  request.op_code = kOpGetMode;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (!HasValues(reply.int_container.size(), 1, "int_container")) return Fault();
  const std::int32_t code = reply.int_container[0];
  mode = static_cast<std::uint32_t>(code) > kHighestModeCode ? vyr::Mode::UNKNOWN
                                                             : static_cast<vyr::Mode>(code);
  return Ok();
}

KroState OperationsRPC::SetMode(vyr::Mode mode) {
  OperationArgs args;
  args.ints = {static_cast<std::int32_t>(mode)};
  return CallOperation(kOpSetMode, args);
}

KroState OperationsRPC::GetStringList(std::uint16_t op_code, std::vector<std::string>& strings) {
  Request request;
  request.op_code = op_code;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  strings = std::move(reply.string_container);
  return Ok();
}

KroState OperationsRPC::SyncServerVersion(std::string& version) {
  std::vector<std::string> list;
  if (const auto state = GetStringList(kOpSyncServerVersion, list); !state.ok()) return state;
  if (!HasValues(list.size(), 1, "string_container")) return Fault();
  version = list[0];
  spdlog::debug("Received VYR server version = {}", version);
  return Ok();
}

KroState OperationsRPC::SyncJointLimits(const std::vector<JointGroup>& groups,
                                        vyr::RobotInfo& info) {
  Request request;
  request.op_code = kOpSyncJointLimits;
  for (const auto group : groups) request.joint_groups.push_back(ToWire(group));
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;

  if (!HasValues(reply.string_container.size(), 1, "string_container")) return Fault();
  info.software_ver = reply.string_container[0];
  if (reply.float2d_container.size() != reply.joint_groups.size()) {
    spdlog::error("[korvo::vyr::Robot] float2d_container size mismatch with joint_groups");
    return Fault();
  }
  for (std::size_t j = 0; j < reply.joint_groups.size(); ++j) {
    const JointGroup group = FromWire(reply.joint_groups[j]);
    const auto dof = info.DoF.find(group);
    if (dof == info.DoF.end()) {
      spdlog::error("[korvo::vyr::Robot] Joint group DoF is missing for this group");
      return Fault();
    }
    const auto& row = reply.float2d_container[j];
    const int n = dof->second;
    if (n < 0 || row.size() != 4 * static_cast<std::size_t>(n)) {
      spdlog::error("[korvo::vyr::Robot] Joint limits vector has invalid size for a group");
      return Fault();
    }
    // Blocks of n values: upper position limits first, then lower, velocity and torque limits.
    const auto block = [&row, n](int k) {
      return Widen(row.begin() + k * n, row.begin() + (k + 1) * n);
    };
    info.q_max[group] = block(0);
    info.q_min[group] = block(1);
    info.dq_max[group] = block(2);
    info.tau_max[group] = block(3);
    const std::string& name = GroupName(group);
    info.all_groups[group] = name;
    if (group == JointGroup::ARM_1 || group == JointGroup::ARM_2) {
      info.single_arm_groups[group] = name;
    }
  }
  return Ok();
}

KroState OperationsRPC::RequestReachability(
    const std::map<JointGroup, vyr::IKParams>& params_by_group, vyr::IKResult& result) {
  if (params_by_group.empty()) {
    spdlog::debug("No active joint groups specified for reachability request");
    return Fault();
  }
  for (const auto& entry : params_by_group) {
    const JointGroup group = entry.first;
    if (group != JointGroup::ARM_1 && group != JointGroup::ARM_2) {
      spdlog::debug("Invalid arm group [{}] in reachability request",
                    static_cast<std::int32_t>(group));
      return Fault();
    }
  }

  Request request;
  request.op_code = kOpRequestReachability;
  for (const auto& [group, params] : params_by_group) {
    request.joint_groups.push_back(ToWire(group));
    request.int_container.push_back(params.free_orientation ? 1 : 0);
    std::vector<float> row;
    row.reserve(params.cartesian_pose.size() + params.seed_q.size());
    for (const double v : params.cartesian_pose) row.push_back(static_cast<float>(v));
    for (const double v : params.seed_q) row.push_back(static_cast<float>(v));
    request.float2d_container.push_back(std::move(row));
  }
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;

  if (reply.int_container.size() != 1) {
    spdlog::debug("Size of int container is {}, expecting 1", reply.int_container.size());
    return Fault();
  }
  if (reply.joint_groups.size() != reply.float2d_container.size()) {
    spdlog::debug("Size mismatch between reply joint_groups [{}] and float2d_container [{}]",
                  reply.joint_groups.size(), reply.float2d_container.size());
    return Fault();
  }
  result.success = reply.int_container[0] != 0;
  result.solved_q.clear();
  for (std::size_t j = 0; j < reply.joint_groups.size(); ++j) {
    const JointGroup group = FromWire(reply.joint_groups[j]);
    const auto params = params_by_group.find(group);
    if (params == params_by_group.end()) {
      spdlog::debug("Reply contains unexpected group [{}]", reply.joint_groups[j]);
      return Fault();
    }
    const auto& row = reply.float2d_container[j];
    if (row.size() != params->second.seed_q.size()) {
      spdlog::debug("Reply group [{}] solution size [{}] does not match expected [{}]",
                    reply.joint_groups[j], row.size(), params->second.seed_q.size());
      return Fault();
    }
    // A solution is joint positions to move to: one that is not a number is no solution.
    if (!std::all_of(row.begin(), row.end(), [](float v) { return std::isfinite(v); })) {
      spdlog::debug("Reply group [{}] solution holds a value that is not finite",
                    reply.joint_groups[j]);
      return Fault();
    }
    result.solved_q[group] = Widen(row.begin(), row.end());
  }
  return Ok();
}

KroState OperationsRPC::GetActiveToolParams(JointGroup group, std::string& name,
                                            vyr::ToolParams& params) {
  Request request;
  request.op_code = kOpGetActiveToolParams;
  request.joint_groups = {ToWire(group)};
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  name = reply.tool.name;
  ReadToolParams(reply.tool, params);
  return Ok();
}

KroState OperationsRPC::GetToolParams(const std::string& name, vyr::ToolParams& params) {
  Request request;
  request.op_code = kOpGetToolParams;
  request.tool.name = name;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  ReadToolParams(reply.tool, params);
  return Ok();
}

KroState OperationsRPC::GetPayloadParams(vyr::ToolParams& params) {
  Request request;
  request.op_code = kOpGetPayloadParams;
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  ReadMassProperties(reply.tool, params);
  return Ok();
}

KroState OperationsRPC::ToolOperation(std::uint16_t op_code, const std::string& name,
                                      const vyr::ToolParams& params, JointGroup group) {
  Request request;
  request.op_code = op_code;
  request.tool = MakeToolInfo(name, params);
  if (group != JointGroup::UNKNOWN) request.joint_groups = {ToWire(group)};
  Reply reply;
  return Exchange(request, reply);
}

KroState OperationsRPC::GetDeviceStatus(const std::string& device, bool& enabled, bool& connected) {
  Request request;
  request.op_code = kOpGetDeviceStatus;
  request.string_container = {device};
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (!HasValues(reply.int_container.size(), 2, "int_container")) return Fault();
  enabled = reply.int_container[0] != 0;
  connected = reply.int_container[1] != 0;
  return Ok();
}

KroState OperationsRPC::GetPose(const std::string& name, std::array<double, vyr::kPoseSize>& pose) {
  Request request;
  request.op_code = kOpGetPose;
  request.string_container = {name};
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (reply.float_container.size() != pose.size()) {
    spdlog::debug("Size mismatch between float_container and pose_output");
    return Fault();
  }
  std::copy(reply.float_container.begin(), reply.float_container.end(), pose.begin());
  return Ok();
}

KroState OperationsRPC::GetDeviceParams(const std::string& device,
                                        std::map<std::string, DeviceParamValue>& params) {
  Request names_request;
  names_request.op_code = kOpDeviceParamNames;
  names_request.string_container = {device};
  Reply names;
  if (const auto state = Exchange(names_request, names); !state.ok()) return state;
  params.clear();

  for (const auto& name : names.string_container) {
    Request request;
    request.op_code = kOpDeviceParamValue;
    request.string_container = {device, name};
    Reply reply;
    if (!SendWithRetries(request, reply)) {
      spdlog::debug("Failed to send remote call or server reply timeout");
      return Fault();
    }
    // The robot refuses the parameters whose type it cannot report.
    if (!Accepted(request, reply)) {
      spdlog::warn(
          "[korvo::vyr::Device::params] Data type of parameter [{}] is not supported yet and will "
          "be omitted",
          name);
      continue;
    }
    // The first non-empty container carries the value.
    std::optional<DeviceParamValue> value;
    if (!reply.int_container.empty()) {
      if (reply.int_container.size() > 1) {
        spdlog::debug("int vector is not a supported variant");
        return Fault();
      }
      value.emplace(std::in_place_index<0>, reply.int_container[0]);
    } else if (reply.float_container.size() == 1) {
      value.emplace(std::in_place_index<1>, reply.float_container[0]);
    } else if (!reply.float_container.empty()) {
      value.emplace(std::in_place_index<3>,
                    Widen(reply.float_container.begin(), reply.float_container.end()));
    } else if (reply.string_container.size() == 1) {
      value.emplace(std::in_place_index<2>, std::move(reply.string_container[0]));
    } else if (!reply.string_container.empty()) {
      value.emplace(std::in_place_index<4>, std::move(reply.string_container));
    } else {
      continue;
    }
    params.try_emplace(name, std::move(*value));
  }
  return Ok();
}

KroState OperationsRPC::DownloadFile(std::uint16_t op_code, const std::string& file_name,
                                     std::vector<std::uint8_t>& bytes) {
  Request request;
  request.op_code = op_code;
  request.string_container = {file_name};
  Reply reply;
  if (const auto state = Exchange(request, reply); !state.ok()) return state;
  if (!HasValues(reply.string_container.size(), 1, "string_container")) return Fault();
  if (reply.string_container[0] != file_name) {
    spdlog::debug("Wrong filename is returned");
    return Fault();
  }
  if (!HasValues(reply.int_container.size(), 1, "int_container")) return Fault();
  if (Crc32(reply.byte_container) != static_cast<std::uint32_t>(reply.int_container[0])) {
    spdlog::debug("CRC32 checksum mismatch");
    return Fault();
  }
  bytes = std::move(reply.byte_container);
  return Ok();
}

KroState OperationsRPC::UploadFile(std::uint16_t op_code, const std::string& file_name,
                                   std::uint32_t checksum, std::vector<std::uint8_t> bytes) {
  Request request;
  request.op_code = op_code;
  request.string_container = {file_name};
  // The checksum travels as the bit pattern of a signed 32-bit value.
  request.int_container = {static_cast<std::int32_t>(checksum)};
  request.byte_container = std::move(bytes);
  Reply reply;
  return Exchange(request, reply);
}

}  // namespace korvo::vyr_impl
