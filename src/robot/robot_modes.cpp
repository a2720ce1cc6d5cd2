#include <spdlog/spdlog.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kDecelerationPoll = 10ms;
constexpr int kDecelerationLimitMs = 700;
constexpr auto kLiteStopWait = 100ms;
constexpr auto kFaultPoll = 1s;
constexpr auto kModeReportWait = 200ms;

}  // namespace

void Robot::Impl::RequireMode(const char* prefix, std::initializer_list<Mode> modes) const {
  // A failed request of a lite instance reads as UNKNOWN, which no operation accepts.
  const Mode current = mode();
  for (const Mode m : modes) {
    if (current == m) return;
  }
  throw std::logic_error(std::string(prefix) + " Robot is not in an applicable control mode");
}

void Robot::Impl::ServoOn() {
  if (!connected()) throw std::logic_error("[korvo::vyr::Robot::ServoOn] Robot is not connected");
  if (!estop_released()) {
    throw std::logic_error("[korvo::vyr::Robot::ServoOn] E-stop is not released");
  }
  if (!client->operations_rpc().CallOperation(1, {}).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot::ServoOn] Failed to deliver the request");
  }
}

void Robot::Impl::Brake(bool engage) {
  switch (product_model) {
    case ProductModel::Olvar_L:
    case ProductModel::Olvar_LL:
    case ProductModel::TAVU_Core:
    case ProductModel::TAVU_Plus:
    case ProductModel::TAVU_Ultra:
      break;
    default:
      throw std::logic_error(
          "[korvo::vyr::Robot::Brake] Soft brake is not supported on the current product model");
  }
  if (!all_stopped())
    throw std::logic_error("[korvo::vyr::Robot::Brake] Robot is not fully stopped");
  vyr_impl::OperationArgs args;
  args.ints = {engage ? 1 : 0};
  if (!client->operations_rpc().CallOperation(10, args).ok()) {
    throw std::runtime_error(std::string("[korvo::vyr::Robot::Brake] Failed to ") +
                             (engage ? "engage" : "release") + " the robot brakes");
  }
}

void Robot::Impl::SwitchMode(Mode mode) {
  const int value = static_cast<int>(mode);
  if (value < 1 || value > 11) {
    throw std::invalid_argument("[korvo::vyr::Robot::SwitchMode] Invalid control mode input");
  }
  if (!lite_ && !operational()) {
    throw std::logic_error("[korvo::vyr::Robot::SwitchMode] " + NotOperationalText());
  }
  const Mode current = this->mode();
  if (current == Mode::UNKNOWN) {
    throw std::logic_error("[korvo::vyr::Robot::SwitchMode] Robot is in an unknown control mode");
  }
  auto& rpc = client->operations_rpc();
  if (current != Mode::IDLE) {
    if (!rpc.SetMode(Mode::IDLE).ok()) {
      throw std::runtime_error(
          "[korvo::vyr::Robot::SwitchMode] Failed to switch control mode to IDLE");
    }
    if (lite_) {
      std::this_thread::sleep_for(kLiteStopWait);
    } else {
      int elapsed = 0;
      auto next = Clock::now();
      do {
        next += kDecelerationPoll;
        std::this_thread::sleep_until(next);
        elapsed += 10;
      } while (elapsed < kDecelerationLimitMs && !all_stopped());
      spdlog::debug("[korvo::vyr::Robot] Time taken to decelerate and stop the robot: {} ms",
                    elapsed);
    }
  }
  if (mode != Mode::IDLE && !rpc.SetMode(mode).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot::SwitchMode] Failed to switch control mode to [" +
                             kModeNames.at(mode) + "]");
  }
  // The robot reports its new mode with its next real-time states, a millisecond or so later:
  // wait for it, so that a command right after the switch is checked against the new mode.
  if (!lite_) {
    const auto deadline = Clock::now() + kModeReportWait;
    while (this->mode() != mode && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  }
  command_counter = 0;
  client->motion_commands_pub().Reset();
  if (verbose_)
    spdlog::info("[korvo::vyr::Robot] Control mode switched to [{}]", kModeNames.at(mode));
}

bool Robot::Impl::ClearFault(unsigned int timeout_sec) {
  if (!client->operations_rpc().CallOperation(2, {}).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot::ClearFault] Failed to deliver the request");
  }
  auto next = Clock::now();
  for (unsigned int i = 1; i <= timeout_sec; ++i) {
    next += kFaultPoll;
    std::this_thread::sleep_until(next);
    if (!fault()) return true;
  }
  return false;
}

}  // namespace korvo::vyr
