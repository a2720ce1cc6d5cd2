#include "sim/devices.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace korvo::sim {
namespace {

namespace vyr_msg = zenoh_msgs::vyr_msg;

// A double command arrives as a 32-bit float: a value sent exactly at a range end may land this
// far (relative to the range's magnitude) outside it and is still accepted.
constexpr double kFloatTolerance = 1e-6;

bool Within(double v, double low, double high) {
  const double tolerance = kFloatTolerance * std::max({1.0, std::abs(low), std::abs(high)});
  return v >= low - tolerance && v <= high + tolerance;
}

struct Tag {
  std::string_view text;
  CommandType type;
};
constexpr std::array<Tag, 3> kTags = {Tag{"<bool>", CommandType::kBool},
                                      Tag{"<int>", CommandType::kInt},
                                      Tag{"<double>", CommandType::kDouble}};

// Splits "name<type>" into the command name and its type. The name must be non-empty and carry
// no angle brackets of its own.
std::optional<std::pair<std::string, CommandType>> ParseWireName(std::string_view wire) {
  for (const auto& tag : kTags) {
    if (wire.size() <= tag.text.size() || !wire.ends_with(tag.text)) continue;
    const std::string_view name = wire.substr(0, wire.size() - tag.text.size());
    if (name.find_first_of("<>") != std::string_view::npos) return std::nullopt;
    return std::pair{std::string(name), tag.type};
  }
  return std::nullopt;
}

// A command's value from its two slots: a bool or int in the int slot, a double in the float slot,
// the other slot 0.
std::optional<double> SlotValue(CommandType type, std::int32_t int_slot, float float_slot) {
  if (!std::isfinite(float_slot)) return std::nullopt;
  switch (type) {
    case CommandType::kBool:
      if (float_slot != 0.0f || (int_slot != 0 && int_slot != 1)) return std::nullopt;
      return int_slot;
    case CommandType::kInt:
      if (float_slot != 0.0f) return std::nullopt;
      return int_slot;
    case CommandType::kDouble:
      if (int_slot != 0) return std::nullopt;
      return float_slot;
  }
  return std::nullopt;
}

bool WithinBounds(const vyr_msg::RPCRequest& request) {
  if (request.string_container.size() > Devices::kMaxCommands + 1 ||
      request.int_container.size() > Devices::kMaxCommands ||
      request.float_container.size() > Devices::kMaxCommands ||
      request.joint_groups.size() > Devices::kMaxCommands) {
    return false;
  }
  return std::all_of(request.string_container.begin(), request.string_container.end(),
                     [](const std::string& s) { return s.size() <= Devices::kMaxTextBytes; });
}

std::size_t Bytes(const std::vector<DeviceCommand>& commands) {
  std::size_t bytes = sizeof commands;
  for (const auto& c : commands) bytes += sizeof c + c.name.size();
  return bytes;
}

DeviceParams GripperParams(const GripperRanges& r) {
  const auto f = [](double v) { return DeviceParam::Float(static_cast<float>(v)); };
  return {{"maxWidth", f(r.max_width)},
          {"minWidth", f(r.min_width)},
          {"maxForce", f(r.max_force)},
          {"minForce", f(r.min_force)},
          {"maxVel", f(r.max_vel)},
          {"minVel", f(r.min_vel)},
          {"model", DeviceParam::Text("KG-100")},
          {"forceSensing", DeviceParam::Int(1)}};
}

DeviceParams ConveyorParams() {
  return {{"maxSpeed", DeviceParam::Int(Devices::kConveyorMaxSpeed)},
          {"reversible", DeviceParam::Int(1)},
          {"beltLength", DeviceParam::Float(2.5f)},
          {"conveyorName", DeviceParam::Text("conveyor0")},
          {"absolutePosition", DeviceParam::Floats({0.7f, -0.4f, 0.05f})},
          {"modes", DeviceParam::Texts({"continuous", "step"})},
          {"calibration", DeviceParam::Refused()}};
}

}  // namespace

Devices::Devices(const std::vector<vyr::JointGroup>& arms) {
  for (const auto arm : arms) {
    const auto group = static_cast<std::uint16_t>(arm);
    arms_.push_back(group);
    Device gripper("Gripper" + std::to_string(group == 3 ? 1 : 2), Kind::kGripper, {});
    gripper.gripper.emplace();
    gripper.params = GripperParams(gripper.gripper->ranges());
    devices_.push_back(std::move(gripper));
  }
  devices_.emplace_back("Conveyor0", Kind::kConveyor, ConveyorParams());
}

// ---- lookup -------------------------------------------------------------------------------------

const Devices::Device* Devices::Find(const std::string& name) const {
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Device& d) { return d.name == name; });
  return it == devices_.end() ? nullptr : &*it;
}

Devices::Device* Devices::Find(const std::string& name) {
  return const_cast<Device*>(std::as_const(*this).Find(name));
}

const Devices::Device& Devices::Get(const std::string& name) const {
  const Device* device = Find(name);
  if (!device) throw std::invalid_argument("No device named '" + name + "'");
  return *device;
}

Devices::Device& Devices::Get(const std::string& name) {
  return const_cast<Device&>(std::as_const(*this).Get(name));
}

const GripperModel& Devices::GetGripper(const std::string& name) const {
  const Device& device = Get(name);
  if (!device.gripper) throw std::invalid_argument("Device '" + name + "' is no gripper");
  return *device.gripper;
}

GripperModel& Devices::GetGripper(const std::string& name) {
  return const_cast<GripperModel&>(std::as_const(*this).GetGripper(name));
}

// ---- operations ---------------------------------------------------------------------------------

bool Devices::Handle(const Request& request, Reply& reply) {
  if (!WithinBounds(request)) return false;
  switch (request.op_code) {
    case 40:
      reply.string_container = names();
      return true;
    case 41:
      return Enable(request);
    case 42:
      return Command(request);
    case 43:
      return ParamNames(request, reply);
    case 44:
      return ParamValue(request, reply);
    case 45:
      return Status(request, reply);
    case 46:
      return MapGrippers(request);
    default:
      return false;
  }
}

bool Devices::Enable(const Request& request) {
  const auto& ints = request.int_container;
  if (ints.size() != 1 || (ints[0] != 0 && ints[0] != 1) || request.string_container.size() != 1) {
    return false;
  }
  Device* device = Find(request.string_container[0]);
  if (!device) return false;
  device->enabled = ints[0] == 1;
  return true;
}

bool Devices::Command(const Request& request) {
  const auto& strings = request.string_container;
  if (strings.empty()) return false;
  const std::size_t n = strings.size() - 1;
  if (request.int_container.size() != n || request.float_container.size() != n) return false;
  Device* device = Find(strings.back());
  if (!device || !device->enabled || !device->connected) return false;

  // Checked whole before anything is applied: a list is taken all at once or not at all.
  std::vector<DeviceCommand> commands;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < n; ++i) {
    auto parsed = ParseWireName(strings[i]);
    if (!parsed) return false;
    const auto value =
        SlotValue(parsed->second, request.int_container[i], request.float_container[i]);
    if (!value) return false;
    DeviceCommand command{std::move(parsed->first), parsed->second, *value};
    if (!seen.insert(command.name).second || !Accepts(*device, command)) return false;
    commands.push_back(std::move(command));
  }
  Apply(*device, std::move(commands));
  return true;
}

bool Devices::Accepts(const Device& device, const DeviceCommand& c) {
  const auto is = [&](std::string_view name, CommandType type) {
    return c.name == name && c.type == type;
  };
  switch (device.kind) {
    case Kind::kGeneric:
      return true;
    case Kind::kGripper: {
      const GripperRanges& r = device.gripper->ranges();
      return is("isInit", CommandType::kBool) ||
             (is("targetWidth", CommandType::kDouble) &&
              Within(c.value, r.min_width, r.max_width)) ||
             (is("targetVel", CommandType::kDouble) && Within(c.value, r.min_vel, r.max_vel)) ||
             (is("targetForce", CommandType::kDouble) && Within(c.value, r.min_force, r.max_force));
    }
    case Kind::kConveyor:
      return (is("setSpeed", CommandType::kInt) && std::abs(c.value) <= kConveyorMaxSpeed) ||
             is("openLaser", CommandType::kBool) || is("run", CommandType::kBool) ||
             (is("rampTime", CommandType::kDouble) && c.value >= 0.0);
  }
  return false;
}

void Devices::Apply(Device& device, std::vector<DeviceCommand> commands) {
  if (device.gripper) {
    bool home = false;
    std::optional<double> width, velocity, force;
    for (const auto& c : commands) {
      if (c.name == "isInit") home = c.value != 0.0;
      if (c.name == "targetWidth") width = c.value;
      if (c.name == "targetVel") velocity = c.value;
      if (c.name == "targetForce") force = c.value;
    }
    GripperModel& gripper = *device.gripper;
    if (velocity) gripper.SetVelocity(*velocity);
    // Homing takes precedence over a motion sent in the same list.
    if (home) {
      gripper.Home();
    } else if (width) {
      gripper.Move(*width, force);
    } else if (force) {
      gripper.Grasp(*force);
    }
  }
  device.applied_bytes += Bytes(commands);
  device.applied.push_back(std::move(commands));
  while (device.applied_bytes > kAppliedBytesKept) {
    device.applied_bytes -= Bytes(device.applied.front());
    device.applied.pop_front();
  }
}

bool Devices::ParamNames(const Request& request, Reply& reply) const {
  if (request.string_container.size() != 1) return false;
  const Device* device = Find(request.string_container[0]);
  if (!device) return false;
  for (const auto& [name, param] : device->params) reply.string_container.push_back(name);
  return true;
}

bool Devices::ParamValue(const Request& request, Reply& reply) const {
  if (request.string_container.size() != 2) return false;
  const Device* device = Find(request.string_container[0]);
  if (!device) return false;
  const auto it = device->params.find(request.string_container[1]);
  if (it == device->params.end() || it->second.refused) return false;
  reply.int_container = it->second.ints;
  reply.float_container = it->second.floats;
  reply.string_container = it->second.strings;
  return true;
}

bool Devices::Status(const Request& request, Reply& reply) const {
  if (request.string_container.size() != 1) return false;
  const Device* device = Find(request.string_container[0]);
  if (!device) return false;
  reply.int_container = {device->enabled ? 1 : 0, device->connected ? 1 : 0};
  return true;
}

bool Devices::MapGrippers(const Request& request) {
  const auto& groups = request.joint_groups;
  const auto& names = request.string_container;
  if (groups.size() != names.size()) return false;
  std::map<std::uint16_t, std::string> map;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (std::find(arms_.begin(), arms_.end(), groups[i]) == arms_.end()) return false;
    const Device* device = Find(names[i]);
    if (!device || !device->gripper) return false;
    if (!map.emplace(groups[i], names[i]).second) return false;  // a group named twice
  }
  gripper_map_ = std::move(map);
  return true;
}

// ---- simulation ---------------------------------------------------------------------------------

void Devices::Step(double dt) {
  for (auto& device : devices_) {
    if (device.gripper) device.gripper->Step(dt);
  }
}

std::vector<vyr_msg::GripperStateEntry> Devices::GripperStates() const {
  std::vector<vyr_msg::GripperStateEntry> states;
  for (const auto& [group, name] : gripper_map_) {
    const GripperState s = Find(name)->gripper->state();
    states.push_back({static_cast<float>(s.width), static_cast<float>(s.force), s.is_moving});
  }
  return states;
}

// ---- test controls ------------------------------------------------------------------------------

void Devices::SetParams(const std::string& device, DeviceParams params) {
  Get(device).params = std::move(params);
}

void Devices::SetObjectWidth(const std::string& gripper, std::optional<double> width) {
  GripperModel& model = GetGripper(gripper);
  if (width && (!std::isfinite(*width) || *width < 0.0)) {
    throw std::invalid_argument("An object width must be finite and not negative");
  }
  model.SetObject(width);
}

void Devices::SetConnected(const std::string& device, bool connected) {
  Get(device).connected = connected;
}

void Devices::AddDevice(const std::string& name, DeviceParams params) {
  if (name.empty() || name.size() > kMaxTextBytes) {
    throw std::invalid_argument("A device name has 1 to " + std::to_string(kMaxTextBytes) +
                                " bytes");
  }
  if (Find(name)) throw std::invalid_argument("A device named '" + name + "' exists already");
  if (devices_.size() >= kMaxDevices) {
    throw std::invalid_argument("A robot has at most " + std::to_string(kMaxDevices) + " devices");
  }
  devices_.emplace_back(name, Kind::kGeneric, std::move(params));
}

// ---- read-backs ---------------------------------------------------------------------------------

std::vector<std::string> Devices::names() const {
  std::vector<std::string> out;
  for (const auto& device : devices_) out.push_back(device.name);
  return out;
}

bool Devices::enabled(const std::string& device) const { return Get(device).enabled; }

bool Devices::connected(const std::string& device) const { return Get(device).connected; }

std::map<std::uint16_t, std::string> Devices::gripper_map() const { return gripper_map_; }

GripperState Devices::gripper_state(const std::string& gripper) const {
  return GetGripper(gripper).state();
}

std::vector<std::vector<DeviceCommand>> Devices::applied_commands(const std::string& device) const {
  const auto& applied = Get(device).applied;
  return {applied.begin(), applied.end()};
}

}  // namespace korvo::sim
