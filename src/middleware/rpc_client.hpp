// A blocking remote call over a zenoh query: one request out, the first good reply back.
#pragma once

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "middleware/serialization.hpp"
#include "middleware/zenoh.hpp"

namespace korvo::zenoh_mdw {

template <typename Request, typename Reply>
class RpcClient {
 public:
  RpcClient(std::shared_ptr<zenoh::Session> session, std::string topic)
      : session_(std::move(session)), topic_(std::move(topic)) {}

  RpcClient(const RpcClient&) = delete;
  RpcClient& operator=(const RpcClient&) = delete;

  // Sends `request` and waits at most `timeout` seconds for the first reply that decodes whole.
  // Returns true and fills `reply` when one arrived; false, with `reply` untouched, when none did
  // before zenoh finished the query or the time ran out. Calls on one client take turns. Only an
  // encoding failure of the request throws.
  bool SendRequestAndGetReply(const Request& request, Reply& reply, double timeout) {
    std::lock_guard call_lock(mutex_);
    auto state = std::make_shared<RequestState>();
    const std::int64_t timeout_ms = TimeoutMs(timeout);

    const auto payload = Encode(request);
    zenoh::GetOptions options;
    options.target = KORVO_QUERY_TARGET_BEST_MATCHING;
    options.priority = KORVO_PRIORITY_DATA;
    options.congestion_control = KORVO_CONGESTION_CONTROL_BLOCK;
    options.is_express = false;
    options.payload = std::span<const std::uint8_t>(payload);
    options.encoding = zenoh::Encoding::Predefined::zenoh_serialized();
    options.timeout_ms = static_cast<std::uint64_t>(timeout_ms);

    try {
      const zenoh::KeyExpr key_expr(topic_);
      session_->get(
          key_expr, "", [state](const zenoh::Reply& r) { OnReply(*state, r); },
          [state] { OnDrop(*state); }, std::move(options));
    } catch (...) {
      return false;
    }

    std::unique_lock lock(state->mutex);
    state->cv.wait_until(lock,
                         std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms),
                         [&] { return state->done; });
    if (state->received) reply = std::move(state->reply);
    return state->received;
  }

  const std::string& topic() const { return topic_; }

 private:
  // Shared by the waiting caller and the query's callbacks, so that a late reply lands here and
  // is freed with it, never in a later call.
  struct RequestState {
    std::mutex mutex;
    std::condition_variable cv;
    Reply reply{};
    bool done = false;
    bool received = false;
  };

  static std::int64_t TimeoutMs(double timeout) {
    const double ms = timeout * 1000.0;
    if (!(ms > 0.0)) return 0;
    if (ms >= 1.0e12) return static_cast<std::int64_t>(1.0e12);  // about 30 years
    return static_cast<std::int64_t>(ms);
  }

  static void OnReply(RequestState& state, const zenoh::Reply& r) {
    if (!r.is_ok()) return;
    try {
      Reply decoded = Decode<Reply>(r.get_ok().get_payload());
      std::lock_guard lock(state.mutex);
      if (state.done && state.received) return;  // only the first good reply counts
      state.reply = std::move(decoded);
      state.received = true;
      state.done = true;
      state.cv.notify_all();
    } catch (...) {
      // A malformed reply is ignored.
    }
  }

  static void OnDrop(RequestState& state) {
    std::lock_guard lock(state.mutex);
    state.done = true;
    state.cv.notify_all();
  }

  std::mutex mutex_;
  std::shared_ptr<zenoh::Session> session_;
  std::string topic_;
};

}  // namespace korvo::zenoh_mdw
