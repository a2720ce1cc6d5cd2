// The robot's tool table: the tools of each arm, and the calibration of a payload.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/data.hpp"
#include "korvo/vyr/enums.hpp"

namespace korvo::vyr {

class Robot;

/**
 * Interface to manage tools of the robot. All updates take effect immediately without a power
 * cycle; the robot must be in IDLE mode when applying changes.
 */
class Tool {
 public:
  /**
   * [Non-blocking] Instantiate the tool interface; sends nothing. Throws std::runtime_error if
   * `robot` holds no connection.
   */
  explicit Tool(Robot& robot);
  virtual ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  /** [Blocking] Names of all configured tools. Throws std::runtime_error without a reply. */
  std::vector<std::string> list() const;
  /**
   * [Blocking] Name of the active tool of a single-arm group, "Flange" when none is. Throws
   * std::invalid_argument for another group, std::runtime_error without a reply.
   */
  std::string name(JointGroup group) const;
  /** [Blocking] Whether the tool exists (exact name). Throws std::runtime_error without a reply. */
  bool exist(const std::string& name) const;
  /**
   * [Blocking] Parameters of the active tool of a single-arm group. Throws std::invalid_argument
   * for another group, std::runtime_error without a reply.
   */
  ToolParams params(JointGroup group) const;
  /**
   * [Blocking] Parameters of the named tool. Throws std::invalid_argument if it does not exist,
   * std::runtime_error without a reply.
   */
  ToolParams params(const std::string& name) const;
  /**
   * [Blocking] Add a new tool with a unique name (mode IDLE). Throws std::logic_error outside
   * IDLE, std::invalid_argument if the name exists, std::runtime_error if the request fails.
   */
  void Add(const std::string& name, const ToolParams& params);
  /**
   * [Blocking] Make the named tool the active one of a single-arm group (mode IDLE). Throws
   * std::invalid_argument for another group or an unknown tool, std::logic_error outside IDLE,
   * std::runtime_error if the request fails.
   */
  void Switch(JointGroup group, const std::string& name);
  /**
   * [Blocking] Update the parameters of an existing tool (mode IDLE). Throws std::logic_error
   * outside IDLE, std::invalid_argument for an unknown tool, std::runtime_error if the request
   * fails.
   */
  void Update(const std::string& name, const ToolParams& params);
  /**
   * [Blocking] Remove an existing tool other than "Flange" (mode IDLE). Throws std::logic_error
   * outside IDLE or for "Flange", std::invalid_argument for an unknown tool, std::runtime_error
   * if the request fails.
   */
  void Remove(const std::string& name);
  /**
   * [Blocking] Run the robot's payload identification plan, with the tool mounted or not, and
   * return the identified mass, centre of mass and inertia (tcp_location all zeros). Starts in
   * IDLE, ends in IDLE. Throws std::logic_error outside IDLE or on a lite instance,
   * std::runtime_error if the robot faults, stops or loses the connection during the
   * calibration, or the result cannot be read; also what SwitchMode and ExecutePlan throw.
   */
  ToolParams CalibratePayloadParams(bool tool_mounted);

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
