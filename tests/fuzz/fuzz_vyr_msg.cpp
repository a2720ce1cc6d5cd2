// The decoders of the VYR messages. The first byte picks the message type, the rest is its
// payload.
#include <cstddef>
#include <cstdint>
#include <span>

#include "msgs/vyr_msg.hpp"
#include "round_trip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
  using korvo::fuzz::CheckRoundTrip;
  if (size == 0) return 0;
  const std::span<const std::uint8_t> payload(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      CheckRoundTrip<vyr_msg::RPCRequest>(payload);
      break;
    case 1:
      CheckRoundTrip<vyr_msg::RPCReply>(payload);
      break;
    case 2:
      CheckRoundTrip<vyr_msg::RealtimeStates>(payload);
      break;
    default:
      CheckRoundTrip<vyr_msg::MotionCommands>(payload);
      break;
  }
  return 0;
}
