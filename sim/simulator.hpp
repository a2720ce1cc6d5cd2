// korvo-sim: one zenoh session hosting any number of simulated robots, one per serial number,
// stepped and published at 1 kHz by a loop thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "korvo/vyr/enums.hpp"
#include "middleware/zenoh.hpp"
#include "sim/robot_host.hpp"

namespace korvo::sim {

class Simulator {
 public:
  // Opens the simulator's session with `config`. Throws zenoh::ZException when it cannot.
  explicit Simulator(zenoh::Config config);
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  // Stops the loop, removes every robot and closes the session.
  ~Simulator();

  // Hosts a new robot under `serial` (as the client normalises it). Throws std::invalid_argument
  // for a serial number already hosted, an unknown model or too many external axes.
  RobotHost& AddRobot(vyr::ProductModel model, const std::string& serial, unsigned ext_axes = 0);
  // The robot hosted under `serial`; std::out_of_range when there is none. The reference stays
  // valid until the robot is removed.
  RobotHost& robot(const std::string& serial);
  void RemoveRobot(const std::string& serial);

  // Control cycles run so far.
  std::uint64_t cycles() const { return cycles_.load(); }
  const std::shared_ptr<zenoh::Session>& session() const { return session_; }

 private:
  void Loop();

  std::shared_ptr<zenoh::Session> session_;
  DelayedReplies delayed_;
  std::mutex mutex_;  // the hosted robots
  std::map<std::string, std::unique_ptr<RobotHost>> hosts_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> cycles_{0};
  std::thread loop_;
};

}  // namespace korvo::sim
