#include "client/vyr_client.hpp"

#include <pthread.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <stdexcept>

#include "client/topics.hpp"
#include "middleware/session.hpp"

namespace korvo::vyr_impl {

using namespace std::chrono_literals;

VYRClient::VYRClient(bool verbose)
    : rpc_session_(zenoh_mdw::GetSharedSession()),
      stream_session_(zenoh_mdw::GetSharedSession()),
      verbose_(verbose) {}

VYRClient::~VYRClient() {
  stop_requested_.exchange(true);
  if (connection_monitor_.joinable()) {
    connection_monitor_.join();
    spdlog::debug("Connection monitor thread exited");
  }
  if (timeliness_monitor_.joinable()) {
    timeliness_monitor_.join();
    spdlog::debug("Timeliness monitor thread exited");
  }
  if (verbose_) spdlog::info(">>>>> Korvo VYR exited <<<<<");
}

KroState VYRClient::StartServices(const std::string& sn, bool lite) {
  spdlog::debug("[korvo::vyr::Robot] Middleware topic suffix: [{}]", sn);
  spdlog::debug("[korvo::vyr::Robot] Starting communication services ...");
  const auto failed = [](const KroState& s) { return s.code >= kKroFault; };
  if (!lite) {
    zenoh::PublisherOptions options;
    options.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
    options.priority = KORVO_PRIORITY_DATA;
    options.is_express = false;
    options.reliability = KORVO_RELIABILITY_RELIABLE;
    heartbeat_publisher_ = std::make_shared<zenoh_mdw::Publisher<zenoh_msgs::std_msg::Bool>>(
        rpc_session_, std::string(kVyrPrefix) + sn + kHeartbeatSuffix, options);
    if (auto s = motion_commands_pub_.Init(stream_session_, sn); failed(s)) return s;
    if (auto s = realtime_states_sub_.Init(stream_session_, sn); failed(s)) return s;
  }
  if (auto s = operations_rpc_.Init(rpc_session_, sn); failed(s)) return s;
  if (!lite) {
    if (auto s = qel_data_stream_.Init(stream_session_, sn); failed(s)) return s;
    if (auto s = qel_log_event_.Initialize(rpc_session_, sn); failed(s)) return s;
  }
  if (auto s = qel_data_rpc_.Init(rpc_session_, sn); failed(s)) return s;
  spdlog::debug("[korvo::vyr::Robot] Communication services started");
  return MakeKroState(kKroOk);
}

void VYRClient::Connect(const std::string& sn, bool lite) {
  if (StartServices(sn, lite).code != kKroOk) {
    throw std::runtime_error("[korvo::vyr::Robot] Failed to start communication services");
  }
  if (lite) return;
  connection_monitor_ = std::thread([this] { MonitorConnection(); });
  pthread_setname_np(connection_monitor_.native_handle(), "korvo-connect");
  timeliness_monitor_ = std::thread([this] { MonitorTimeliness(); });
  pthread_setname_np(timeliness_monitor_.native_handle(), "korvo-timely");
  if (verbose_) spdlog::info("[korvo::vyr::Robot] Searching for [{}] ...", sn);
  for (int sleeps = 0; !connected_.load() && sleeps < 10; ++sleeps) {
    std::this_thread::sleep_for(200ms);
  }
  if (!connected_.load()) {
    throw std::runtime_error(
        "[korvo::vyr::Robot] Failed to connect to [" + sn +
        "]. Please check that: a) Remote mode (Ethernet) is enabled on the target robot; b) "
        "Ethernet connection with the target robot is established; c) The specified serial "
        "number of the target robot is correct; d) No firewall is active or this VYR program is "
        "whitelisted; e) VYR version is compatible with the target robot's software version");
  }
}

void VYRClient::MonitorConnection() {
  if (stop_requested_.load()) return;
  std::uint64_t last_count = 0;
  int silence = 1000;
  bool was_connected = false;
  do {
    std::this_thread::sleep_for(50ms);
    if (!heartbeat_publisher_->Publish(zenoh_msgs::std_msg::Bool{false}) && verbose_) {
      spdlog::warn("[korvo::vyr::Robot] Missed 1 heartbeat signal transmission");
    }
    const std::uint64_t count = realtime_states_sub_.received_count();
    if (count != last_count) {
      last_count = count;
      silence = 0;
    } else if (silence <= 1000) {
      silence += 50;
    }
    const bool now_connected = silence <= 1000;
    if (now_connected != was_connected && verbose_) {
      if (now_connected) {
        spdlog::info("[korvo::vyr::Robot] Connected to the robot");
      } else {
        spdlog::warn(
            "[korvo::vyr::Robot] Disconnected from the robot, waiting for reconnection ...");
      }
    }
    was_connected = now_connected;
    connected_.exchange(now_connected);
  } while (!stop_requested_.load());
}

void VYRClient::MonitorTimeliness() {
  if (stop_requested_.load()) return;
  do {
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    timeliness_failed_.exchange(UpdateTimeliness(timeliness_window_, now,
                                                 realtime_states_sub_.timeliness_failure_count(),
                                                 timeliness_limit_.load()));
    std::this_thread::sleep_for(1ms);
  } while (!stop_requested_.load());
}

}  // namespace korvo::vyr_impl
