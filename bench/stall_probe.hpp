// A probe of the machine's own stalls: a thread that does nothing but sleep to 1 ms absolute
// deadlines under SCHED_FIFO 99 (when permitted), pinned to one core, and records every wake-up
// that came more than a millisecond late. A stall it sees is one that no program on that core
// could have escaped: the core, or the whole virtual machine, was not running.
#pragma once

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace korvo::bench {

class StallProbe {
 public:
  struct Stall {
    std::int64_t deadline_ns;  // CLOCK_REALTIME, when the wake-up was due
    std::int64_t late_ns;      // how late it came
  };

  explicit StallProbe(int cpu) : thread_([this, cpu] { Run(cpu); }) {}
  StallProbe(const StallProbe&) = delete;
  StallProbe& operator=(const StallProbe&) = delete;
  ~StallProbe() { Stop(); }

  // Stops the probe; returns what it saw, in order.
  const std::vector<Stall>& Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    return stalls_;
  }

  bool realtime() const { return realtime_; }

 private:
  static std::int64_t Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
  }

  void Run(int cpu) {
    sched_param param{};
    param.sched_priority = 99;
    realtime_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    if (cpu >= 0) {
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET(cpu, &set);
      pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    }
    std::int64_t deadline = Now(CLOCK_MONOTONIC);
    while (running_) {
      deadline += 1'000'000;
      const timespec next{static_cast<time_t>(deadline / 1'000'000'000),
                          static_cast<long>(deadline % 1'000'000'000)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
      const std::int64_t late = Now(CLOCK_MONOTONIC) - deadline;
      if (late > 1'000'000) {
        stalls_.push_back({Now(CLOCK_REALTIME) - late, late});
        deadline += late / 1'000'000 * 1'000'000;  // one stall, not one per missed deadline
      }
    }
  }

  std::atomic<bool> running_{true};
  std::atomic<bool> realtime_{false};
  std::vector<Stall> stalls_;
  std::thread thread_;  // last: starts once the members above exist
};

// One probe on each core of the machine.
inline std::vector<std::unique_ptr<StallProbe>> ProbeEveryCore() {
  std::vector<std::unique_ptr<StallProbe>> probes;
  for (int cpu = 0; cpu < static_cast<int>(std::thread::hardware_concurrency()); ++cpu) {
    probes.push_back(std::make_unique<StallProbe>(cpu));
  }
  return probes;
}

// Whether [from, to] (CLOCK_REALTIME nanoseconds) overlaps one of `stalls`.
inline bool DuringStall(const std::vector<StallProbe::Stall>& stalls, std::int64_t from,
                        std::int64_t to) {
  for (const auto& s : stalls) {
    if (s.deadline_ns < to && s.deadline_ns + s.late_ns > from) return true;
  }
  return false;
}

}  // namespace korvo::bench
