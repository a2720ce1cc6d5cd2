// The request-reply channel to the robot-side VYR server: one generic operation and the
// operations whose requests and replies have a fixed shape.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "client/kro_state.hpp"
#include "client/operation_args.hpp"
#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/device.hpp"
#include "korvo/vyr/enums.hpp"
#include "middleware/rpc_client.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::vyr_impl {

// A device parameter as the robot reports it; booleans arrive as the integers 1 and 0.
using vyr::DeviceParamValue;

// Every operation returns 100000 on success and 300000 on any failure and logs why it failed; none
// throws for a transport or server failure. A call that gets no reply is sent again, up to three
// calls in all; a refused reply is final. Output arguments are written only on the way to success,
// except where an operation says otherwise.
class OperationsRPC {
 public:
  using RpcClient =
      zenoh_mdw::RpcClient<zenoh_msgs::vyr_msg::RPCRequest, zenoh_msgs::vyr_msg::RPCReply>;

  OperationsRPC() = default;
  OperationsRPC(const OperationsRPC&) = delete;
  OperationsRPC& operator=(const OperationsRPC&) = delete;
  virtual ~OperationsRPC() = default;

  // Creates the RPC client on "korvo/vyr/" + sn + "/rpc", replacing any previous one.
  KroState Init(const std::shared_ptr<zenoh::Session>& session, const std::string& sn);

  // Sends `op_code` with the containers of `args`; success means the robot accepted it.
  KroState CallOperation(std::uint16_t op_code, const OperationArgs& args);

  // The robot's current control mode; a code above 12 reads as UNKNOWN.
  KroState GetMode(vyr::Mode& mode);
  KroState SetMode(vyr::Mode mode);

  // Replaces `strings` with the reply's strings.
  KroState GetStringList(std::uint16_t op_code, std::vector<std::string>& strings);
  KroState SyncServerVersion(std::string& version);

  // Fills the software version, joint limits and group names of `info` for the groups the robot
  // reports. `info.DoF` must already hold each group's degrees of freedom. Groups stored before a
  // failing check keep their new values.
  KroState SyncJointLimits(const std::vector<vyr::JointGroup>& groups, vyr::RobotInfo& info);

  // Asks the robot to solve inverse kinematics for single-arm groups. A failing reply check leaves
  // `result` as far as it got.
  KroState RequestReachability(const std::map<vyr::JointGroup, vyr::IKParams>& params_by_group,
                               vyr::IKResult& result);

  KroState GetActiveToolParams(vyr::JointGroup group, std::string& name, vyr::ToolParams& params);
  KroState GetToolParams(const std::string& name, vyr::ToolParams& params);
  // Leaves `params.tcp_location` untouched.
  KroState GetPayloadParams(vyr::ToolParams& params);
  // Sends a tool with its parameters, and `group` unless it is UNKNOWN (-1).
  KroState ToolOperation(std::uint16_t op_code, const std::string& name,
                         const vyr::ToolParams& params,
                         vyr::JointGroup group = vyr::JointGroup::UNKNOWN);

  KroState GetDeviceStatus(const std::string& device, bool& enabled, bool& connected);
  KroState GetPose(const std::string& name, std::array<double, vyr::kPoseSize>& pose);

  // Reads the names of a device's parameters, then each value with a request of its own.
  // Parameters the robot refuses to report are left out. Names read before a failure stay in
  // `params`.
  KroState GetDeviceParams(const std::string& device,
                           std::map<std::string, DeviceParamValue>& params);

  // Fetches a file and checks its name and CRC-32; `bytes` changes only on success.
  KroState DownloadFile(std::uint16_t op_code, const std::string& file_name,
                        std::vector<std::uint8_t>& bytes);
  // Sends a file with the CRC-32 of its bytes, computed by the caller. The bytes are taken by
  // value: a caller that moves them in spares a copy of a large file.
  KroState UploadFile(std::uint16_t op_code, const std::string& file_name, std::uint32_t checksum,
                      std::vector<std::uint8_t> bytes);

 private:
  using Request = zenoh_msgs::vyr_msg::RPCRequest;
  using Reply = zenoh_msgs::vyr_msg::RPCReply;

  // Up to three calls until a reply arrives; false when none did (or there is no client yet).
  bool SendWithRetries(const Request& request, Reply& reply);
  // The common pattern: a reply must arrive and be accepted. Logs each failure.
  KroState Exchange(const Request& request, Reply& reply);

  std::shared_ptr<RpcClient> rpc_client_;
};

}  // namespace korvo::vyr_impl
