// The wire form of typed device commands (operation 42): one int and one float slot per command,
// the command names tagged with their value type, the device name last.
#pragma once

#include <map>
#include <string>

#include "client/operation_args.hpp"
#include "korvo/vyr/device.hpp"

namespace korvo::vyr_impl {

// Commands in ascending name order: a bool or int goes into its int slot, a double (narrowed to a
// 32-bit float) into its float slot, the other slot stays 0. Throws std::logic_error for a value
// that holds no alternative.
OperationArgs EncodeDeviceCommands(const std::string& device,
                                   const std::map<std::string, vyr::DeviceCommandValue>& commands);

}  // namespace korvo::vyr_impl
