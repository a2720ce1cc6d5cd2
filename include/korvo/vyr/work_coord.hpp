// The robot's named work coordinates (user frames).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vyr/constants.hpp"

namespace korvo::vyr {

class Robot;

/**
 * Interface to manage work coordinates of the robot. All updates take effect immediately without
 * a power cycle; the robot must be in IDLE mode when applying changes.
 */
class WorkCoord {
 public:
  /**
   * [Non-blocking] Instantiate the work coordinate interface; sends nothing. Throws
   * std::runtime_error if `robot` holds no connection.
   */
  explicit WorkCoord(Robot& robot);
  virtual ~WorkCoord();
  WorkCoord(const WorkCoord&) = delete;
  WorkCoord& operator=(const WorkCoord&) = delete;

  /** [Blocking] Names of all work coordinates. Throws std::runtime_error without a reply. */
  std::vector<std::string> list() const;
  /** [Blocking] Whether the work coordinate exists (exact name). Throws std::runtime_error
   * without a reply. */
  bool exist(const std::string& name) const;
  /**
   * [Blocking] Pose [x, y, z, q_w, q_x, q_y, q_z] of a work coordinate in the world frame, with
   * 32-bit precision. Throws std::runtime_error if the robot does not report it.
   */
  std::array<double, kPoseSize> pose(const std::string& name) const;
  /**
   * [Blocking] Add a work coordinate with a unique name and a pose in the world frame (mode
   * IDLE). Throws std::logic_error outside IDLE, std::invalid_argument if the name exists,
   * std::runtime_error if the request fails.
   */
  void Add(const std::string& name, const std::array<double, kPoseSize>& pose);
  /**
   * [Blocking] Update the pose of an existing work coordinate (mode IDLE). Throws
   * std::logic_error outside IDLE, std::invalid_argument for an unknown name, std::runtime_error
   * if the request fails.
   */
  void Update(const std::string& name, const std::array<double, kPoseSize>& pose);
  /**
   * [Blocking] Remove an existing work coordinate (mode IDLE). Throws std::logic_error outside
   * IDLE, std::invalid_argument for an unknown name, std::runtime_error if the request fails.
   */
  void Remove(const std::string& name);

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
