// The simulated robot's peripheral devices (operations 40 to 46): the device list, each device's
// reported parameters, its enabled and connected states, the typed commands it accepts, the
// grippers' fingers and which gripper each arm uses. Pure logic without any network and without
// a lock: the owner serializes every call.
//
// Every robot has one gripper per single arm ("Gripper1" on ARM_1, "Gripper2" on ARM_2) and the
// conveyor "Conveyor0"; tests may add devices that accept any well-formed command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/device_records.hpp"
#include "sim/gripper_model.hpp"

namespace korvo::sim {

class Devices {
 public:
  // Requests beyond these sizes are refused: no robot is configured with more.
  static constexpr std::size_t kMaxCommands = 64;    // commands in one command list
  static constexpr std::size_t kMaxTextBytes = 256;  // any name in a request
  static constexpr std::size_t kMaxDevices = 64;     // devices on one robot
  // Accepted command lists kept per device for read-back, by their approximate size in memory.
  static constexpr std::size_t kAppliedBytesKept = 256 * 1024;
  static constexpr std::int32_t kConveyorMaxSpeed = 6000;

  // The devices of a robot whose single arms are `arms` (ARM_1, and ARM_2 on two-arm models).
  explicit Devices(const std::vector<vyr::JointGroup>& arms);

  static bool Handles(std::uint16_t op_code) { return op_code >= 40 && op_code <= 46; }
  // Answers one of the operations 40 to 46 into `reply` (whose op_code the caller sets). Returns
  // false when the robot refuses it; a refused request changes nothing and fills no container.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request, zenoh_msgs::vyr_msg::RPCReply& reply);

  // Advances every gripper by `dt` seconds, mapped to an arm or not.
  void Step(double dt);
  // One entry per mapped arm in ascending group order.
  std::vector<zenoh_msgs::vyr_msg::GripperStateEntry> GripperStates() const;

  // ---- test controls: std::invalid_argument for an unknown device ----
  // Replaces what the device reports as its parameters (its physics stay as they are).
  void SetParams(const std::string& device, DeviceParams params);
  // Places an object of `width` [m] between a gripper's fingers, or takes it away.
  // std::invalid_argument also for a device that is no gripper or a negative or non-finite width.
  void SetObjectWidth(const std::string& gripper, std::optional<double> width);
  void SetConnected(const std::string& device, bool connected);
  // Adds a device that accepts every well-formed command. std::invalid_argument for a name that
  // is taken, empty or longer than kMaxTextBytes, or for a robot that has kMaxDevices already.
  void AddDevice(const std::string& name, DeviceParams params);

  // ---- read-backs: std::invalid_argument for an unknown device ----
  std::vector<std::string> names() const;
  bool enabled(const std::string& device) const;
  bool connected(const std::string& device) const;
  std::map<std::uint16_t, std::string> gripper_map() const;
  GripperState gripper_state(const std::string& gripper) const;
  // The command lists the device accepted, oldest first (the newest that fit kAppliedBytesKept).
  std::vector<std::vector<DeviceCommand>> applied_commands(const std::string& device) const;

 private:
  enum class Kind { kGripper, kConveyor, kGeneric };
  struct Device {
    Device(std::string name, Kind kind, DeviceParams params)
        : name(std::move(name)), kind(kind), params(std::move(params)) {}
    std::string name;
    Kind kind;
    DeviceParams params;
    std::optional<GripperModel> gripper;  // grippers only
    bool enabled = false;
    bool connected = true;
    std::deque<std::vector<DeviceCommand>> applied;
    std::size_t applied_bytes = 0;
  };

  using Request = zenoh_msgs::vyr_msg::RPCRequest;
  using Reply = zenoh_msgs::vyr_msg::RPCReply;

  Device* Find(const std::string& name);
  const Device* Find(const std::string& name) const;
  Device& Get(const std::string& name);
  const Device& Get(const std::string& name) const;
  GripperModel& GetGripper(const std::string& name);
  const GripperModel& GetGripper(const std::string& name) const;

  bool Enable(const Request& request);
  bool Command(const Request& request);
  bool ParamNames(const Request& request, Reply& reply) const;
  bool ParamValue(const Request& request, Reply& reply) const;
  bool Status(const Request& request, Reply& reply) const;
  bool MapGrippers(const Request& request);
  static bool Accepts(const Device& device, const DeviceCommand& command);
  static void Apply(Device& device, std::vector<DeviceCommand> commands);

  std::vector<std::uint16_t> arms_;
  std::vector<Device> devices_;  // in the order the robot lists them
  std::map<std::uint16_t, std::string> gripper_map_;
};

}  // namespace korvo::sim
