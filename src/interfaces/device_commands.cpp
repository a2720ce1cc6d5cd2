#include "interfaces/device_commands.hpp"

#include <cstdint>
#include <stdexcept>

namespace korvo::vyr_impl {

OperationArgs EncodeDeviceCommands(const std::string& device,
                                   const std::map<std::string, vyr::DeviceCommandValue>& commands) {
  OperationArgs args;
  args.ints.assign(commands.size(), 0);
  args.floats.assign(commands.size(), 0.0f);
  args.strings.reserve(commands.size() + 1);
  std::size_t i = 0;
  for (const auto& [name, value] : commands) {
    if (const auto* b = std::get_if<bool>(&value)) {
      args.ints[i] = *b ? 1 : 0;
      args.strings.push_back(name + "<bool>");
    } else if (const auto* n = std::get_if<int>(&value)) {
      args.ints[i] = static_cast<std::int32_t>(*n);
      args.strings.push_back(name + "<int>");
    } else if (const auto* d = std::get_if<double>(&value)) {
      args.floats[i] = static_cast<float>(*d);
      args.strings.push_back(name + "<double>");
    } else {
      throw std::logic_error(
          "[korvo::vyr::Device::Command] Input parameter [commands] contains unsupported data "
          "type");
    }
    ++i;
  }
  args.strings.push_back(device);
  return args;
}

}  // namespace korvo::vyr_impl
