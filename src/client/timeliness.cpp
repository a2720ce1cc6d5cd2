#include "client/timeliness.hpp"

namespace korvo::vyr_impl {

bool UpdateTimeliness(TimelinessWindow& window, std::int64_t now_ns, std::uint64_t count,
                      double limit_percent) {
  window.emplace_back(now_ns, static_cast<std::int64_t>(count));
  while (!window.empty() && window.front().first < now_ns - 1'000'000'000) window.pop_front();
  std::uint32_t increase = 0;
  if (!window.empty()) {
    increase = static_cast<std::uint32_t>(window.back().second) -
               static_cast<std::uint32_t>(window.front().second);
  }
  return increase > limit_percent * 1000.0 * 0.01;
}

}  // namespace korvo::vyr_impl
