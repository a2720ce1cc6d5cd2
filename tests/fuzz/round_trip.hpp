// What every decoder target checks of one message type: a payload either decodes or is refused
// with zenoh::ZException (anything else escaping is a finding), and a decoded record survives its
// own encoding: the encoding decodes again to a record of the same encoding, it is never longer
// than the payload, and when it is as long (every length was written in its shortest form) it is
// the payload itself.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "middleware/serialization.hpp"

namespace korvo::fuzz {

template <typename Message>
void CheckRoundTrip(std::span<const std::uint8_t> payload) {
  Message message;
  try {
    message = zenoh_mdw::Decode<Message>(payload);
  } catch (const zenoh::ZException&) {
    return;  // refused, as a malformed payload must be
  }
  const std::vector<std::uint8_t> bytes = zenoh_mdw::Encode(message);
  if (bytes.size() > payload.size()) std::abort();
  if (bytes.size() == payload.size() && !std::equal(bytes.begin(), bytes.end(), payload.begin())) {
    std::abort();
  }
  Message again;
  try {
    again = zenoh_mdw::Decode<Message>(bytes);
  } catch (const zenoh::ZException&) {
    std::abort();  // our own encoding refused
  }
  if (zenoh_mdw::Encode(again) != bytes) std::abort();
}

}  // namespace korvo::fuzz
