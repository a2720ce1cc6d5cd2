// Peripheral devices configured on the robot: grippers, conveyors, lasers and the like.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace korvo::vyr {

class Robot;

/**
 * A device configuration parameter as the robot reports it: an int, a double, a string, a list of
 * doubles or a list of strings (in this alternative order). Booleans are reported as 1 and 0.
 */
using DeviceParamValue =
    std::variant<int, double, std::string, std::vector<double>, std::vector<std::string>>;

/** The value of one device command: a bool, an int or a double (in this alternative order). */
using DeviceCommandValue = std::variant<bool, int, double>;

/** Interface to control the peripheral device(s) connected to the robot. */
class Device {
 public:
  /**
   * [Blocking] Instantiate the device control interface; fetches the robot's device list once.
   * Throws std::runtime_error if `robot` holds no connection or the device list cannot be fetched.
   */
  explicit Device(Robot& robot);
  virtual ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  /** [Non-blocking] Names of all devices configured on the robot when this object was built. */
  std::vector<std::string> list() const;
  /** [Non-blocking] Whether `name` is in list() (exact, case-sensitive). */
  bool exist(const std::string& name) const;
  /**
   * [Blocking] Whether the device is enabled. Throws std::invalid_argument if it does not exist,
   * std::runtime_error if the robot does not reply.
   */
  bool enabled(const std::string& name) const;
  /**
   * [Blocking] Whether the device is connected. Throws std::invalid_argument if it does not
   * exist, std::runtime_error if the robot does not reply.
   */
  bool connected(const std::string& name) const;
  /**
   * [Blocking] Configuration parameters of the device by name; parameters of a type the robot
   * cannot report are left out. Throws std::invalid_argument if the device does not exist,
   * std::runtime_error if the request fails.
   */
  std::map<std::string, DeviceParamValue> params(const std::string& name) const;
  /**
   * [Blocking] Enable the device. Throws std::invalid_argument if it does not exist,
   * std::runtime_error if the request fails.
   */
  void Enable(const std::string& name);
  /**
   * [Blocking] Disable the device. Throws std::invalid_argument if it does not exist,
   * std::runtime_error if the request fails.
   */
  void Disable(const std::string& name);
  /**
   * [Blocking] Send all commands of the map to the device at once, e.g. {"setSpeed", 6000},
   * {"openLaser", true}; doubles travel as 32-bit floats. Throws std::invalid_argument if the
   * device does not exist, std::logic_error for a command value that holds no alternative,
   * std::runtime_error if the robot refuses the commands (e.g. a disabled device) or does not
   * reply.
   */
  void Command(const std::string& name, const std::map<std::string, DeviceCommandValue>& commands);

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
