// Records of the simulator's test controls and inspection.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

// The two robot-side servers whose replies a test can alter.
enum class Server { kVyr, kQel };

// What the simulator does with the reply to a request.
enum class ReplyAction {
  kNormal,       // reply as the robot would
  kRefuse,       // reply with success false
  kDrop,         // carry the request out but never reply: the query is held past the
                 // client's time-out
  kDelay,        // reply after `delay`
  kCorrupt,      // reply with a payload that does not decode (one byte too many)
  kWrongOpCode,  // reply with success true but another operation code
};

// A rule for the replies to one operation code of one server. `count` requests are affected
// (negative: every request until the rule is cleared), after `after` requests that pass unaltered
// (the second of two downloads, say).
struct ReplyRule {
  ReplyAction action = ReplyAction::kNormal;
  std::chrono::milliseconds delay{0};
  int count = -1;
  int after = 0;
};

// How an armed interruption stops a primitive: a minor, clearable fault, or the E-stop pressed.
enum class Interruption { kFault, kEstop };

// The streams the simulator publishes.
enum class Stream { kStates, kBasic, kExtra };

// Safety and system state codes of the basic stream.
namespace safety {
inline constexpr std::int16_t kStartup = 0;
inline constexpr std::int16_t kRecovery = 9;
inline constexpr std::int16_t kReduced = 10;
inline constexpr std::int16_t kNormal = 12;
inline constexpr std::int16_t kReleaseBrake = 24;
inline constexpr std::int16_t kCat0Stop = 40;
inline constexpr std::int16_t kCat1Stop = 72;
inline constexpr std::int16_t kCat2Stop = 136;
}  // namespace safety

namespace system_state {
inline constexpr std::uint16_t kStoppedExternalAuto = 4;
inline constexpr std::uint16_t kWorkingExternalAuto = 5;
inline constexpr std::uint16_t kFaultExternalAuto = 15;
inline constexpr std::uint16_t kRecoveryExternalAuto = 18;
}  // namespace system_state

// A request as the simulator received it, with the time it arrived.
template <typename Request>
struct Received {
  std::chrono::system_clock::time_point time;
  Request request;
};

using VyrRequestRecord = Received<zenoh_msgs::vyr_msg::RPCRequest>;
using QelRequestRecord = Received<zenoh_msgs::qel_msg::RPCRequest>;
using CommandRecord = Received<zenoh_msgs::vyr_msg::MotionCommands>;

// Records dropped from the read-back records, per kind.
struct RecordsDropped {
  std::uint64_t vyr_requests = 0;
  std::uint64_t qel_requests = 0;
  std::uint64_t commands = 0;
};

}  // namespace korvo::sim
