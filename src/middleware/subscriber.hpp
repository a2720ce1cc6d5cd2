// Decodes every sample of one key expression into its owner's message record.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "middleware/serialization.hpp"
#include "middleware/zenoh.hpp"

namespace korvo::zenoh_mdw {

template <typename Message>
class Subscriber {
 public:
  // `message` is the owner's receive buffer: only this subscriber writes it, one sample at a
  // time, on zenoh's threads; the owner copies it under its own lock inside `notify`, and keeps
  // it alive for as long as the subscriber exists. A sample that does not decode whole leaves the
  // record untouched and does not notify. Throws zenoh::ZException when the key expression or
  // the declaration fails.
  Subscriber(const std::shared_ptr<zenoh::Session>& session, std::function<void()> notify,
             Message& message, const std::string& topic)
      : topic_(topic) {
    const zenoh::KeyExpr key_expr(topic_);
    // zenoh delivers the samples of different links concurrently: a second peer publishing on
    // the key must not make two calls write `message` at once. Samples decode in parallel and
    // take turns to land.
    auto turn = std::make_shared<std::mutex>();
    subscriber_.emplace(session->declare_subscriber(
        key_expr,
        [notify = std::move(notify), &message, turn](const zenoh::Sample& sample) {
          try {
            Message decoded = Decode<Message>(sample.get_payload());
            std::lock_guard lock(*turn);
            message = std::move(decoded);
            notify();
          } catch (...) {
            // A malformed sample is dropped.
          }
        },
        [] {}));
  }

  const std::string& topic() const { return topic_; }

 private:
  std::string topic_;
  std::optional<zenoh::Subscriber<void>> subscriber_;
};

}  // namespace korvo::zenoh_mdw
