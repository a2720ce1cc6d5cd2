#include "sim/robot_host.hpp"

#include <algorithm>

#include "middleware/serialization.hpp"
#include "sim/input_limits.hpp"

namespace korvo::sim {
namespace {

namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;
using Clock = std::chrono::steady_clock;

zenoh::PublisherOptions StreamOptions() {
  zenoh::PublisherOptions options;
  options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  options.priority = KORVO_PRIORITY_REAL_TIME;
  options.reliability = KORVO_RELIABILITY_BEST_EFFORT;
  return options;
}

// Events are reliable but never block the 1 kHz loop that publishes them.
zenoh::PublisherOptions EventOptions() {
  zenoh::PublisherOptions options;
  options.congestion_control = KORVO_CONGESTION_CONTROL_DROP;
  options.priority = KORVO_PRIORITY_DATA;
  options.reliability = KORVO_RELIABILITY_RELIABLE;
  return options;
}

void Reply(const zenoh::Query& query, const std::vector<std::uint8_t>& payload) {
  zenoh::ReplyOptions options;
  options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
  query.reply(payload, std::move(options));
}

}  // namespace

// ---- DelayedReplies -----------------------------------------------------------------------------

DelayedReplies::DelayedReplies() : thread_([this] { Run(); }) {}

DelayedReplies::~DelayedReplies() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void DelayedReplies::Add(Clock::time_point due, zenoh::Query query,
                         std::optional<std::vector<std::uint8_t>> payload) {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{due, std::move(query), std::move(payload)});
  }
  cv_.notify_all();
}

void DelayedReplies::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (entries_.empty()) {
      cv_.wait(lock);
      continue;
    }
    const auto next =
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.due < b.due; });
    if (Clock::now() < next->due) {
      cv_.wait_until(lock, next->due);
      continue;
    }
    Entry entry = std::move(*next);
    entries_.erase(next);
    lock.unlock();
    try {
      if (entry.payload) Reply(entry.query, *entry.payload);
    } catch (const std::exception&) {
      // The client is gone: nothing to answer.
    }
    { auto finished = std::move(entry.query); }  // the final response goes out here
    lock.lock();
  }
  // Queries still held are finished without a reply when the entries go.
}

// ---- RobotHost ----------------------------------------------------------------------------------

RobotHost::RobotHost(const std::shared_ptr<zenoh::Session>& session,
                     std::shared_ptr<SimRobot> robot, DelayedReplies& delayed)
    : robot_(std::move(robot)),
      delayed_(delayed),
      states_pub_(session, "korvo/vyr/" + robot_->serial() + "/states", StreamOptions()),
      basic_pub_(session, "korvo/robot/" + robot_->serial() + "/basic_stream_data",
                 StreamOptions()),
      extra_pub_(session, "korvo/robot/" + robot_->serial() + "/extra_stream_data",
                 StreamOptions()),
      events_pub_(session, "korvo/robot/" + robot_->serial() + "/event_log", EventOptions()) {
  const std::string& sn = robot_->serial();
  commands_sub_.emplace(session->declare_subscriber(
      zenoh::KeyExpr("korvo/vyr/" + sn + "/commands"),
      [this](const zenoh::Sample& sample) {
        const auto now = Clock::now();
        try {
          auto commands = zenoh_mdw::Decode<vyr_msg::MotionCommands>(sample.get_payload());
          // Sizes no client sends are not even kept: the robot counts them as ignored.
          if (!robot_->OnCommands(commands, now)) return;
          const auto bytes = HeldBytes(commands);
          std::lock_guard lock(mutex_);
          commands_.Push(CommandRecord{std::chrono::system_clock::now(), std::move(commands)},
                         bytes);
        } catch (const std::exception&) {
          // A malformed command is ignored, as the robot does.
        }
      },
      [] {}));
  heartbeat_sub_.emplace(session->declare_subscriber(
      zenoh::KeyExpr("korvo/vyr/" + sn + "/heartbeat"),
      [this](const zenoh::Sample&) { robot_->OnHeartbeat(Clock::now()); }, [] {}));
  vyr_queryable_.emplace(session->declare_queryable(
      zenoh::KeyExpr("korvo/vyr/" + sn + "/rpc"),
      [this](zenoh::Query& query) {
        Serve<vyr_msg::RPCRequest>(Server::kVyr, query, &SimRobot::HandleVyr, vyr_requests_);
      },
      [] {}));
  qel_queryable_.emplace(session->declare_queryable(
      zenoh::KeyExpr("korvo/robot/" + sn + "/rpc"),
      [this](zenoh::Query& query) {
        Serve<qel_msg::RPCRequest>(Server::kQel, query, &SimRobot::HandleQel, qel_requests_);
      },
      [] {}));
}

RobotHost::~RobotHost() {
  // Stop every callback before the members they use go.
  qel_queryable_.reset();
  vyr_queryable_.reset();
  heartbeat_sub_.reset();
  commands_sub_.reset();
}

std::optional<ReplyRule> RobotHost::TakeRule(Server server, std::uint16_t op_code) {
  std::lock_guard lock(mutex_);
  const auto it = rules_.find({server, op_code});
  if (it == rules_.end()) return std::nullopt;
  if (it->second.after > 0) {
    --it->second.after;
    return std::nullopt;
  }
  ReplyRule rule = it->second;
  if (it->second.count > 0 && --it->second.count == 0) rules_.erase(it);
  return rule;
}

template <typename Request, typename Reply>
void RobotHost::Serve(Server server, zenoh::Query& query, Reply (SimRobot::*handle)(const Request&),
                      RecordRing<Received<Request>>& records) {
  const auto payload = query.get_payload();
  if (!payload) return;
  Request request;
  try {
    request = zenoh_mdw::Decode<Request>(*payload);
  } catch (const std::exception&) {
    return;  // a request that does not decode gets no reply
  }
  if (!WithinLimits(request)) {
    // Served by no handler and not kept: the robot refuses it and says so.
    robot_->RefuseOversized(server == Server::kVyr ? "VYR" : "QEL", request.op_code);
    Reply refusal;
    refusal.op_code = request.op_code;
    refusal.success = false;
    try {
      sim::Reply(query, zenoh_mdw::Encode(refusal));
    } catch (const std::exception&) {
      // The client is gone.
    }
    return;
  }
  {
    const auto bytes = HeldBytes(request);
    std::lock_guard lock(mutex_);
    records.Push(Received<Request>{std::chrono::system_clock::now(), request}, bytes);
  }
  const auto rule = TakeRule(server, request.op_code).value_or(ReplyRule{});
  Reply reply;
  if (rule.action == ReplyAction::kRefuse) {
    reply.op_code = request.op_code;
    reply.success = false;
  } else {
    reply = ((*robot_).*handle)(request);
  }
  if (rule.action == ReplyAction::kDrop) {
    // The robot carried the operation out; only its answer is lost.
    delayed_.Add(Clock::now() + kDropHold, std::move(query), std::nullopt);
    return;
  }
  if (rule.action == ReplyAction::kWrongOpCode) {
    reply.op_code = static_cast<std::uint16_t>(request.op_code + 1);
    reply.success = true;
  }
  auto bytes = zenoh_mdw::Encode(reply);
  if (rule.action == ReplyAction::kCorrupt) bytes.push_back(0xA5);
  if (rule.action == ReplyAction::kDelay) {
    delayed_.Add(Clock::now() + rule.delay, std::move(query), std::move(bytes));
    return;
  }
  try {
    sim::Reply(query, bytes);
  } catch (const std::exception&) {
    // The client is gone.
  }
}

void RobotHost::Publish() {
  if (!states_paused_) states_pub_.Publish(robot_->RealtimeStates());
  if (!basic_paused_) basic_pub_.Publish(robot_->BasicStreamData());
  if (!extra_paused_) extra_pub_.Publish(robot_->ExtraStreamData());
  for (const auto& event : robot_->TakeEvents()) events_pub_.Publish(event);
}

void RobotHost::SetReplyRule(Server server, std::uint16_t op_code, ReplyRule rule) {
  std::lock_guard lock(mutex_);
  if (rule.action == ReplyAction::kNormal || rule.count == 0) {
    rules_.erase({server, op_code});
  } else {
    rules_[{server, op_code}] = rule;
  }
}

void RobotHost::ClearReplyRules() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

void RobotHost::PauseStream(Stream stream, bool paused) {
  switch (stream) {
    case Stream::kStates:
      states_paused_ = paused;
      break;
    case Stream::kBasic:
      basic_paused_ = paused;
      break;
    case Stream::kExtra:
      extra_paused_ = paused;
      break;
  }
}

std::vector<VyrRequestRecord> RobotHost::vyr_requests() const {
  std::lock_guard lock(mutex_);
  return vyr_requests_.Snapshot();
}

std::vector<QelRequestRecord> RobotHost::qel_requests() const {
  std::lock_guard lock(mutex_);
  return qel_requests_.Snapshot();
}

std::vector<CommandRecord> RobotHost::commands() const {
  std::lock_guard lock(mutex_);
  return commands_.Snapshot();
}

RecordsDropped RobotHost::records_dropped() const {
  std::lock_guard lock(mutex_);
  return {vyr_requests_.dropped(), qel_requests_.dropped(), commands_.dropped()};
}

void RobotHost::ClearRecords() {
  std::lock_guard lock(mutex_);
  vyr_requests_.Clear();
  qel_requests_.Clear();
  commands_.Clear();
}

}  // namespace korvo::sim
