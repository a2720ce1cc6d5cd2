// The late-command statistics of the timeliness monitor: samples of the robot's late-command
// counter over a moving one-second window.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>

namespace korvo::vyr_impl {

// (time in ns on the monotonic clock, counter value)
using TimelinessWindow = std::deque<std::pair<std::int64_t, std::int64_t>>;

// Adds the sample (now_ns, count), drops the samples older than one second, and tells whether
// the counter rose by more than `limit_percent` of the 1000 commands of one second at 1 kHz
// within the window. The increase is taken on the low 32 bits, so a counter that restarts lower
// reads as a large increase until its old samples have left the window.
bool UpdateTimeliness(TimelinessWindow& window, std::int64_t now_ns, std::uint64_t count,
                      double limit_percent);

}  // namespace korvo::vyr_impl
