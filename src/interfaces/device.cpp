#include "korvo/vyr/device.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "interfaces/device_commands.hpp"
#include "robot/robot_access.hpp"

namespace korvo::vyr {
namespace {

constexpr std::uint16_t kOpDeviceList = 40;
constexpr std::uint16_t kOpEnableDevice = 41;
constexpr std::uint16_t kOpDeviceCommands = 42;

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::Device::") + operation + "] ";
}

}  // namespace

class Device::Impl {
 public:
  // Attaches to `robot` and fetches the device list.
  explicit Impl(Robot& robot);
  virtual ~Impl() = default;

  // Throws std::invalid_argument "[korvo::vyr::Device::<operation>] The specified device [<name>]
  // does not exist" unless `name` is in the device list.
  void RequireExisting(const char* operation, const std::string& name) const;
  vyr_impl::OperationsRPC& rpc() const { return link.client->operations_rpc(); }
  // (enabled, connected) of an existing device, with the errors of `operation`.
  std::pair<bool, bool> Status(const char* operation, const std::string& name) const;
  // Enables or disables an existing device, with the errors of `operation`.
  void SetEnabled(const char* operation, const std::string& name, bool enable);

  vyr_impl::RobotLink link;
  // Fetched once: devices configured on the robot later do not exist for this object.
  std::vector<std::string> devices;
};

Device::Impl::Impl(Robot& robot) : link(vyr_impl::RobotAccess::Link(robot, "Device")) {
  if (!rpc().GetStringList(kOpDeviceList, devices).ok()) {
    throw std::runtime_error("[korvo::vyr::Device] Failed to initialize device list");
  }
}

void Device::Impl::RequireExisting(const char* operation, const std::string& name) const {
  if (std::find(devices.begin(), devices.end(), name) == devices.end()) {
    throw std::invalid_argument(Prefix(operation) + "The specified device [" + name +
                                "] does not exist");
  }
}

std::pair<bool, bool> Device::Impl::Status(const char* operation, const std::string& name) const {
  RequireExisting(operation, name);
  bool enabled = false;
  bool connected = false;
  if (!rpc().GetDeviceStatus(name, enabled, connected).ok()) {
    throw std::runtime_error(Prefix(operation) + "No reply from the robot");
  }
  return {enabled, connected};
}

void Device::Impl::SetEnabled(const char* operation, const std::string& name, bool enable) {
  RequireExisting(operation, name);
  vyr_impl::OperationArgs args;
  args.ints = {enable ? 1 : 0};
  args.strings = {name};
  if (!rpc().CallOperation(kOpEnableDevice, args).ok()) {
    throw std::runtime_error(Prefix(operation) + "Failed to deliver the request");
  }
}

Device::Device(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

Device::~Device() = default;

std::vector<std::string> Device::list() const { return pimpl_->devices; }

bool Device::exist(const std::string& name) const {
  const auto& devices = pimpl_->devices;
  return std::find(devices.begin(), devices.end(), name) != devices.end();
}

bool Device::enabled(const std::string& name) const {
  return pimpl_->Status("enabled", name).first;
}

bool Device::connected(const std::string& name) const {
  return pimpl_->Status("connected", name).second;
}

std::map<std::string, DeviceParamValue> Device::params(const std::string& name) const {
  pimpl_->RequireExisting("params", name);
  std::map<std::string, DeviceParamValue> params;
  if (!pimpl_->rpc().GetDeviceParams(name, params).ok()) {
    throw std::runtime_error(Prefix("params") + "Failed to deliver the request");
  }
  return params;
}

void Device::Enable(const std::string& name) { pimpl_->SetEnabled("Enable", name, true); }

void Device::Disable(const std::string& name) { pimpl_->SetEnabled("Disable", name, false); }

void Device::Command(const std::string& name,
                     const std::map<std::string, DeviceCommandValue>& commands) {
  pimpl_->RequireExisting("Command", name);
  const auto args = vyr_impl::EncodeDeviceCommands(name, commands);
  if (!pimpl_->rpc().CallOperation(kOpDeviceCommands, args).ok()) {
    throw std::runtime_error(Prefix("Command") + "Failed to deliver the request");
  }
}

}  // namespace korvo::vyr
