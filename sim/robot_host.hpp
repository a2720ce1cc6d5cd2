// Connects one simulated robot to zenoh: its two servers' queryables, its streams, and the
// client's commands and heartbeat; applies the tests' reply rules and records what arrived.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "middleware/publisher.hpp"
#include "middleware/zenoh.hpp"
#include "sim/record_ring.hpp"
#include "sim/sim_robot.hpp"
#include "sim/sim_types.hpp"

namespace korvo::sim {

// Sends replies later, from a thread of its own: delayed replies, and dropped requests whose
// queries are held without a reply until the client has given up.
class DelayedReplies {
 public:
  DelayedReplies();
  ~DelayedReplies();
  DelayedReplies(const DelayedReplies&) = delete;
  DelayedReplies& operator=(const DelayedReplies&) = delete;

  // Replies with `payload` at `due`, or only finishes the query when there is none.
  void Add(std::chrono::steady_clock::time_point due, zenoh::Query query,
           std::optional<std::vector<std::uint8_t>> payload);

 private:
  struct Entry {
    std::chrono::steady_clock::time_point due;
    zenoh::Query query;
    std::optional<std::vector<std::uint8_t>> payload;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Entry> entries_;
  bool stop_ = false;
  std::thread thread_;
};

class RobotHost {
 public:
  // How long a dropped request's query is held: longer than the client's 2 s time-out.
  static constexpr std::chrono::milliseconds kDropHold{2500};
  // What the read-back records keep at most (the newest), in bytes: at 1 kHz, the commands of
  // about two minutes.
  static constexpr std::size_t kVyrRequestsKept = std::size_t{64} << 20;
  static constexpr std::size_t kQelRequestsKept = std::size_t{4} << 20;
  static constexpr std::size_t kCommandsKept = std::size_t{32} << 20;

  RobotHost(const std::shared_ptr<zenoh::Session>& session, std::shared_ptr<SimRobot> robot,
            DelayedReplies& delayed);
  RobotHost(const RobotHost&) = delete;
  RobotHost& operator=(const RobotHost&) = delete;
  ~RobotHost();

  SimRobot& robot() { return *robot_; }
  const std::shared_ptr<SimRobot>& shared_robot() const { return robot_; }

  // One control cycle's publications: real-time states, basic and extra stream data, events.
  void Publish();

  void SetReplyRule(Server server, std::uint16_t op_code, ReplyRule rule);
  void ClearReplyRules();
  void PauseStream(Stream stream, bool paused);

  std::vector<VyrRequestRecord> vyr_requests() const;
  std::vector<QelRequestRecord> qel_requests() const;
  std::vector<CommandRecord> commands() const;
  // How many records went to keep the newest within their budgets, since the last clear.
  RecordsDropped records_dropped() const;
  void ClearRecords();

 private:
  template <typename Request, typename Reply>
  void Serve(Server server, zenoh::Query& query, Reply (SimRobot::*handle)(const Request&),
             RecordRing<Received<Request>>& records);
  std::optional<ReplyRule> TakeRule(Server server, std::uint16_t op_code);

  std::shared_ptr<SimRobot> robot_;
  DelayedReplies& delayed_;

  mutable std::mutex mutex_;  // rules and records
  std::map<std::pair<Server, std::uint16_t>, ReplyRule> rules_;
  RecordRing<VyrRequestRecord> vyr_requests_{kVyrRequestsKept};
  RecordRing<QelRequestRecord> qel_requests_{kQelRequestsKept};
  RecordRing<CommandRecord> commands_{kCommandsKept};

  std::atomic<bool> states_paused_{false};
  std::atomic<bool> basic_paused_{false};
  std::atomic<bool> extra_paused_{false};

  zenoh_mdw::Publisher<zenoh_msgs::vyr_msg::RealtimeStates> states_pub_;
  zenoh_mdw::Publisher<zenoh_msgs::qel_msg::AllBasicStreamData> basic_pub_;
  zenoh_mdw::Publisher<zenoh_msgs::qel_msg::AllExtraStreamData> extra_pub_;
  zenoh_mdw::Publisher<zenoh_msgs::qel_msg::EventLog> events_pub_;
  // Declared last, so that they are undeclared first and no callback outlives the members.
  std::optional<zenoh::Subscriber<void>> commands_sub_;
  std::optional<zenoh::Subscriber<void>> heartbeat_sub_;
  std::optional<zenoh::Queryable<void>> vyr_queryable_;
  std::optional<zenoh::Queryable<void>> qel_queryable_;
};

}  // namespace korvo::sim
