// Publishes message records on one key expression.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "middleware/serialization.hpp"
#include "middleware/zenoh.hpp"

namespace korvo::zenoh_mdw {

template <typename Message>
class Publisher {
 public:
  // Throws zenoh::ZException when the key expression or the declaration fails. The session is
  // needed only while declaring.
  Publisher(const std::shared_ptr<zenoh::Session>& session, const std::string& topic,
            zenoh::PublisherOptions options)
      : topic_(topic),
        publisher_(session->declare_publisher(zenoh::KeyExpr(topic_), std::move(options))) {}

  // Encodes and puts one message. Returns false instead of throwing when either step fails.
  bool Publish(const Message& message) const {
    // One buffer per thread, reused: a steady publishing loop allocates nothing here.
    static thread_local std::vector<std::uint8_t> buffer;
    static const zenoh::Encoding serialized = zenoh::Encoding::Predefined::zenoh_serialized();
    try {
      Serializer s(std::move(buffer));
      Serialize(s, message);
      buffer = std::move(s).finish();
      publisher_.put(buffer, serialized);
      return true;
    } catch (...) {
      return false;
    }
  }

  const std::string& topic() const { return topic_; }

 private:
  std::string topic_;
  zenoh::Publisher publisher_;
};

}  // namespace korvo::zenoh_mdw
