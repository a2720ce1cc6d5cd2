#include "sim/simulator.hpp"

#include <time.h>

#include <stdexcept>

#include "sim/robot_model.hpp"

namespace korvo::sim {
namespace {

constexpr long kCycleNs = 1'000'000;  // 1 kHz

void AddNs(timespec& t, long ns) {
  t.tv_nsec += ns;
  while (t.tv_nsec >= 1'000'000'000L) {
    t.tv_nsec -= 1'000'000'000L;
    ++t.tv_sec;
  }
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

Simulator::Simulator(zenoh::Config config)
    : session_(std::make_shared<zenoh::Session>(std::move(config))), loop_([this] { Loop(); }) {}

Simulator::~Simulator() {
  stop_ = true;
  loop_.join();
  std::lock_guard lock(mutex_);
  hosts_.clear();
}

RobotHost& Simulator::AddRobot(vyr::ProductModel model, const std::string& serial,
                               unsigned ext_axes) {
  auto robot = std::make_shared<SimRobot>(serial, MakeRobotModel(model, ext_axes));
  std::lock_guard lock(mutex_);
  if (hosts_.count(serial) != 0) {
    throw std::invalid_argument("A robot with serial number [" + serial + "] is already hosted");
  }
  auto host = std::make_unique<RobotHost>(session_, std::move(robot), delayed_);
  auto& ref = *host;
  hosts_.emplace(serial, std::move(host));
  return ref;
}

RobotHost& Simulator::robot(const std::string& serial) {
  std::lock_guard lock(mutex_);
  const auto it = hosts_.find(serial);
  if (it == hosts_.end()) {
    throw std::out_of_range("No robot with serial number [" + serial + "] is hosted");
  }
  return *it->second;
}

void Simulator::RemoveRobot(const std::string& serial) {
  std::unique_ptr<RobotHost> host;
  {
    std::lock_guard lock(mutex_);
    const auto it = hosts_.find(serial);
    if (it == hosts_.end()) return;
    host = std::move(it->second);
    hosts_.erase(it);
  }
}

void Simulator::Loop() {
  // Absolute deadlines on the monotonic clock: the rate does not drift with the work done.
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!stop_) {
    AddNs(next, kCycleNs);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    const auto now = SimRobot::Clock::now();
    {
      std::lock_guard lock(mutex_);
      for (auto& [serial, host] : hosts_) {
        host->robot().Step(now);
        host->Publish();
      }
    }
    cycles_.fetch_add(1);
    // After a stall, skip the missed cycles instead of running them in a burst.
    timespec current{};
    clock_gettime(CLOCK_MONOTONIC, &current);
    timespec limit = next;
    AddNs(limit, 10 * kCycleNs);
    if (Before(limit, current)) next = current;
  }
}

}  // namespace korvo::sim
