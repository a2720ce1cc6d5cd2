// The root of all communication with one robot: owns the services, the heartbeat and the two
// supervision threads (connection and timeliness monitors).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "client/kro_state.hpp"
#include "client/motion_commands_pub.hpp"
#include "client/operations_rpc.hpp"
#include "client/qel_data_rpc.hpp"
#include "client/qel_data_stream.hpp"
#include "client/qel_log_event.hpp"
#include "client/realtime_states_sub.hpp"
#include "client/timeliness.hpp"
#include "middleware/publisher.hpp"
#include "msgs/std_msg.hpp"

namespace korvo::vyr_impl {

class VYRClient {
 public:
  // Obtains the process-wide session (zenoh::ZException when it cannot be opened); nothing is
  // declared yet.
  explicit VYRClient(bool verbose);
  VYRClient(const VYRClient&) = delete;
  VYRClient& operator=(const VYRClient&) = delete;
  // Stops and joins both threads, then releases the services. Nothing is sent to the robot.
  ~VYRClient();

  // Declares the services of robot `sn` in their fixed order; a lite client only the two
  // request-reply services.
  KroState StartServices(const std::string& sn, bool lite);
  // Starts the services and, unless `lite`, the monitors, then waits up to about 2 s for the
  // robot's real-time states. Throws std::runtime_error when either fails.
  void Connect(const std::string& sn, bool lite);

  bool connected() const { return connected_.load(); }
  bool timeliness_failed() const { return timeliness_failed_.load(); }
  double timeliness_limit() const { return timeliness_limit_.load(); }
  void set_timeliness_limit(double percent) { timeliness_limit_.store(percent); }
  bool verbose() const { return verbose_; }

  QELDataRpc& qel_data_rpc() { return qel_data_rpc_; }
  QELDataStream& qel_data_stream() { return qel_data_stream_; }
  QELLogEvent& qel_log_event() { return qel_log_event_; }
  RealtimeStatesSub& realtime_states_sub() { return realtime_states_sub_; }
  MotionCommandsPub& motion_commands_pub() { return motion_commands_pub_; }
  OperationsRPC& operations_rpc() { return operations_rpc_; }

 private:
  void MonitorConnection();
  void MonitorTimeliness();

  QELDataRpc qel_data_rpc_;
  QELDataStream qel_data_stream_;
  QELLogEvent qel_log_event_;
  RealtimeStatesSub realtime_states_sub_;
  MotionCommandsPub motion_commands_pub_;
  OperationsRPC operations_rpc_;
  std::shared_ptr<zenoh::Session> rpc_session_;
  std::shared_ptr<zenoh::Session> stream_session_;
  std::thread connection_monitor_;
  std::thread timeliness_monitor_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> timeliness_failed_{false};
  std::atomic<bool> stop_requested_{false};
  std::shared_ptr<zenoh_mdw::Publisher<zenoh_msgs::std_msg::Bool>> heartbeat_publisher_;
  bool verbose_;
  std::atomic<double> timeliness_limit_{2.0};
  TimelinessWindow timeliness_window_;
};

}  // namespace korvo::vyr_impl
