// The decoder of the std messages (the client's heartbeat): the whole input is the payload.
#include <cstddef>
#include <cstdint>
#include <span>

#include "msgs/std_msg.hpp"
#include "round_trip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korvo::fuzz::CheckRoundTrip<korvo::zenoh_msgs::std_msg::Bool>(
      std::span<const std::uint8_t>(data, size));
  return 0;
}
