// What the benchmarks share to time things: a median, the step of a 1 kHz loop on absolute
// deadlines, a bare query waited for until it is over, and their command lines' flags.
#pragma once

#include <time.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "middleware/zenoh.hpp"

namespace korvo::bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Moves an absolute CLOCK_MONOTONIC deadline one millisecond on.
inline void AddMillisecond(timespec& t) {
  t.tv_nsec += 1'000'000;
  if (t.tv_nsec >= 1'000'000'000) {
    t.tv_nsec -= 1'000'000'000;
    ++t.tv_sec;
  }
}

// Issues a query and returns once it is over (its drop ran). `on_reply` runs on zenoh's thread
// for each reply; whatever it writes is visible to the caller on return.
inline void GetAndWait(const zenoh::Session& session, const zenoh::KeyExpr& key,
                       std::string_view parameters,
                       std::function<void(const zenoh::Reply&)> on_reply,
                       zenoh::GetOptions&& options) {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  session.get(
      key, parameters,
      [&](const zenoh::Reply& reply) {
        std::lock_guard lock(mutex);
        on_reply(reply);
      },
      [&] {
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_all();
      },
      std::move(options));
  std::unique_lock lock(mutex);
  cv.wait(lock, [&] { return done; });
}

// Whether `name` is one of the arguments after the program's name.
inline bool HasFlag(int argc, char** argv, const char* name) {
  return std::any_of(argv + 1, argv + argc,
                     [&](const char* a) { return std::strcmp(a, name) == 0; });
}

}  // namespace korvo::bench
