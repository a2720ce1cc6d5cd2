// Records of the simulated robot's peripheral devices: a parameter as the robot reports it and a
// typed command as the robot applied it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvo::sim {

// One parameter's answer to a value request: the reply carries these three containers as they
// are, or the request is refused (a parameter whose type the robot cannot report).
struct DeviceParam {
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<std::string> strings;
  bool refused = false;

  static DeviceParam Int(std::int32_t v) { return {{v}, {}, {}, false}; }
  static DeviceParam Float(float v) { return {{}, {v}, {}, false}; }
  static DeviceParam Text(std::string v) { return {{}, {}, {std::move(v)}, false}; }
  static DeviceParam Ints(std::vector<std::int32_t> v) { return {std::move(v), {}, {}, false}; }
  static DeviceParam Floats(std::vector<float> v) { return {{}, std::move(v), {}, false}; }
  static DeviceParam Texts(std::vector<std::string> v) { return {{}, {}, std::move(v), false}; }
  static DeviceParam Nothing() { return {}; }
  static DeviceParam Refused() { return {{}, {}, {}, true}; }

  bool operator==(const DeviceParam&) const = default;
};

// Parameters by name; the robot lists them in this (name) order.
using DeviceParams = std::map<std::string, DeviceParam>;

// The value types of device commands, as tagged on the wire.
enum class CommandType { kBool, kInt, kDouble };

// One command of an accepted command list. `value` holds a bool as 0 or 1, an int exactly and a
// double as the 32-bit float it arrived as.
struct DeviceCommand {
  std::string name;
  CommandType type = CommandType::kBool;
  double value = 0.0;

  bool operator==(const DeviceCommand&) const = default;
};

}  // namespace korvo::sim
