// How a 1 kHz control loop runs so that the robot never sees it late. Copy it into your program.
//
//   int main() {
//     korvo::examples::PrepareRealtime(80);  // first, before connecting
//     korvo::vyr::Robot robot(serial);
//     korvo::examples::PinToCpu(1);           // optional: the loop's thread on a core of its own
//     korvo::examples::Period period(std::chrono::milliseconds(1));
//     while (running) { ...; robot.StreamJointTorque(cmds); period.Wait(); }
//   }
//
// The loop's thread is only half of it: each command leaves through zenoh's transmit thread in
// your process, and a thread of the ordinary scheduler can wait several milliseconds for a core
// on a busy machine. A thread inherits its scheduling policy from the thread that starts it, so
// PrepareRealtime is called before the first Robot opens the session: zenoh's threads then run
// under SCHED_FIFO too.
#pragma once

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace korvo::examples {

// Locks the process's memory (no page fault in the loop) and puts the calling thread, and every
// thread it starts from now on, under SCHED_FIFO at `priority` (1 to 99). Each step that the
// system refuses is reported on stderr and skipped: the loop still runs, without that
// guarantee. Both need root or the capabilities CAP_SYS_NICE and CAP_IPC_LOCK (or the limits
// rtprio and memlock in /etc/security/limits.conf). Returns whether both succeeded.
inline bool PrepareRealtime(int priority) {
  bool all = true;
  if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    std::fprintf(stderr, "warning: memory not locked (%s): page faults may delay the loop\n",
                 std::strerror(errno));
    all = false;
  }
  sched_param param{};
  param.sched_priority = priority;
  if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); error != 0) {
    std::fprintf(stderr,
                 "warning: no real-time priority (%s; needs root or CAP_SYS_NICE): other "
                 "programs may delay the loop and its commands by milliseconds\n",
                 std::strerror(error));
    all = false;
  }
  return all;
}

// Pins the calling thread to `cpu`. Called after connecting, so that zenoh's threads keep every
// core. Reports a refusal on stderr; returns whether it succeeded.
inline bool PinToCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (const int error = pthread_setaffinity_np(pthread_self(), sizeof set, &set); error != 0) {
    std::fprintf(stderr, "warning: not pinned to CPU %d (%s)\n", cpu, std::strerror(error));
    return false;
  }
  return true;
}

// A period kept on absolute deadlines of CLOCK_MONOTONIC: the time the loop's body takes does
// not add up. After an overrun of more than `max_behind` periods, the next deadline starts
// again from now instead of firing the missed periods back to back (a burst of commands that
// the robot would see as a jump).
class Period {
 public:
  explicit Period(std::chrono::nanoseconds period, int max_behind = 3)
      : period_ns_(period.count()), max_behind_(max_behind) {
    clock_gettime(CLOCK_MONOTONIC, &next_);
  }

  // Sleeps until the next deadline.
  void Wait() {
    Advance(next_, period_ns_);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (Nanoseconds(now) - Nanoseconds(next_) > max_behind_ * period_ns_) {
      ++overruns_;
      next_ = now;
      Advance(next_, period_ns_);
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next_, nullptr) == EINTR) {
    }
  }

  // How many times the loop fell more than `max_behind` periods behind.
  long overruns() const { return overruns_; }

 private:
  static long long Nanoseconds(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
  }
  static void Advance(timespec& t, long long ns) {
    const long long total = Nanoseconds(t) + ns;
    t.tv_sec = static_cast<time_t>(total / 1'000'000'000);
    t.tv_nsec = static_cast<long>(total % 1'000'000'000);
  }

  long long period_ns_;
  int max_behind_;
  timespec next_{};
  long overruns_ = 0;
};

}  // namespace korvo::examples
