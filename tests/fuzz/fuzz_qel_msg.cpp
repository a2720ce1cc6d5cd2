// The decoders of the QEL messages. The first byte picks the message type, the rest is its
// payload.
#include <cstddef>
#include <cstdint>
#include <span>

#include "msgs/qel_msg.hpp"
#include "round_trip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace qel_msg = korvo::zenoh_msgs::qel_msg;
  using korvo::fuzz::CheckRoundTrip;
  if (size == 0) return 0;
  const std::span<const std::uint8_t> payload(data + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      CheckRoundTrip<qel_msg::RPCRequest>(payload);
      break;
    case 1:
      CheckRoundTrip<qel_msg::RPCReply>(payload);
      break;
    case 2:
      CheckRoundTrip<qel_msg::AllBasicStreamData>(payload);
      break;
    case 3:
      CheckRoundTrip<qel_msg::AllExtraStreamData>(payload);
      break;
    default:
      CheckRoundTrip<qel_msg::EventLog>(payload);
      break;
  }
  return 0;
}
