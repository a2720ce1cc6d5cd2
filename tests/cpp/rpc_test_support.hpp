// Helpers for the tests of the operation layers: a robot-side RPC server whose answers a test
// scripts, and a recorder of what the layers write to spdlog's default logger.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loopback.hpp"
#include "middleware/rpc_client.hpp"
#include "middleware/serialization.hpp"
#include "middleware/zenoh.hpp"

namespace korvo::test {

// A test suite with two sessions on loopback: the robot's, which listens, and the client's.
class LoopbackSessionsSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int port = FreeTcpPort();
    robot_ = std::make_unique<zenoh::Session>(zenoh::Config::from_str(ListenerConfig(port)));
    client_ = std::make_shared<zenoh::Session>(zenoh::Config::from_str(ConnectorConfig(port)));
  }
  static void TearDownTestSuite() {
    client_.reset();
    robot_.reset();
  }

  static inline std::unique_ptr<zenoh::Session> robot_;
  static inline std::shared_ptr<zenoh::Session> client_;
};

using Bytes = std::vector<std::uint8_t>;

// Polls `done` until it holds or a generous deadline passes.
template <typename Predicate>
bool Eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A queryable on the robot's session that records every request and answers it with what the
// script returns: a payload, or nothing. A query left without an answer is finished at once, so
// the client sees "no reply" immediately; with HoldUnanswered(true) it is kept open instead and
// the client waits out its own time-out.
template <typename Request, typename Reply>
class ScriptedServer {
 public:
  using Script = std::function<std::optional<Bytes>(const Request&)>;

  ScriptedServer(zenoh::Session& session, std::string topic) : topic_(std::move(topic)) {
    SetReplies([](const Request& request) { return AcceptedReply(request); });
    queryable_.emplace(session.declare_queryable(
        zenoh::KeyExpr(topic_), [this](zenoh::Query& query) { OnQuery(query); }, [] {}));
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  ~ScriptedServer() {
    queryable_.reset();  // no callback runs past this point
    std::lock_guard lock(mutex_);
    held_.clear();
  }

  // An empty reply that reports success and echoes the request's operation code.
  static Reply AcceptedReply(const Request& request) {
    Reply reply;
    reply.op_code = request.op_code;
    reply.success = true;
    return reply;
  }

  void SetScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
  }
  // A script in terms of reply records.
  void SetReplies(std::function<std::optional<Reply>(const Request&)> replies) {
    SetScript([replies = std::move(replies)](const Request& request) -> std::optional<Bytes> {
      auto reply = replies(request);
      if (!reply) return std::nullopt;
      return zenoh_mdw::Encode(*reply);
    });
  }
  void HoldUnanswered(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
  }

  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

  // Waits until `session` routes queries to this server, then forgets the probing requests.
  bool WaitUntilKnown(const std::shared_ptr<zenoh::Session>& session) {
    zenoh_mdw::RpcClient<Request, Reply> probe(session, topic_);
    const bool known = Eventually([&] {
      Reply reply;
      return probe.SendRequestAndGetReply(Request{}, reply, 2.0);
    });
    ClearRequests();
    return known;
  }

 private:
  void OnQuery(zenoh::Query& query) {
    const auto payload = query.get_payload();
    if (!payload) return;
    Request request;
    try {
      request = zenoh_mdw::Decode<Request>(*payload);
    } catch (...) {
      return;
    }
    std::optional<Bytes> answer;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      answer = script_(request);
      if (!answer && hold_) {
        held_.push_back(std::move(query));
        return;
      }
    }
    if (!answer) return;
    zenoh::ReplyOptions options;
    options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
    try {
      query.reply(*answer, std::move(options));
    } catch (const zenoh::ZException&) {
      // The client went away; nothing to answer.
    }
  }

  std::string topic_;
  mutable std::mutex mutex_;
  Script script_;
  bool hold_ = false;
  std::vector<Request> requests_;
  std::vector<zenoh::Query> held_;
  std::optional<zenoh::Queryable<void>> queryable_;
};

// One line written to the default logger.
struct LogLine {
  spdlog::level::level_enum level;
  std::string text;
  bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  const auto level = spdlog::level::to_string_view(line.level);
  return out << std::string(level.data(), level.size()) << " \"" << line.text << "\"";
}

inline LogLine Debug(std::string text) { return {spdlog::level::debug, std::move(text)}; }
inline LogLine Warn(std::string text) { return {spdlog::level::warn, std::move(text)}; }
inline LogLine Error(std::string text) { return {spdlog::level::err, std::move(text)}; }

// Makes a logger at debug level the default for its lifetime and records its lines.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
    auto logger = std::make_shared<spdlog::logger>("korvo-test-capture", sink_);
    logger->set_level(spdlog::level::debug);
    spdlog::set_default_logger(std::move(logger));
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture() { spdlog::set_default_logger(previous_); }

  std::vector<LogLine> lines() const { return sink_->lines(); }
  void Clear() { sink_->Clear(); }

 private:
  class Sink : public spdlog::sinks::base_sink<std::mutex> {
   public:
    std::vector<LogLine> lines() {
      std::lock_guard lock(mutex_);
      return lines_;
    }
    void Clear() {
      std::lock_guard lock(mutex_);
      lines_.clear();
    }

   protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
      lines_.push_back({msg.level, std::string(msg.payload.begin(), msg.payload.end())});
    }
    void flush_() override {}

   private:
    std::vector<LogLine> lines_;
  };

  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

// A serial number made of the running test's name, so that every test talks to a key expression
// of its own.
inline std::string SerialOfThisTest(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string serial = prefix + "-" + info->test_suite_name() + "-" + info->name();
  for (auto& c : serial) {
    if (c == '/' || c == '*' || c == '$' || c == '?' || c == '#') c = 'x';
  }
  return serial;
}

}  // namespace korvo::test
