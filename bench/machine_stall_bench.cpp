// How long this machine itself stops: one probe thread per core (bench/stall_probe.hpp) sleeps
// to 1 ms deadlines under SCHED_FIFO 99 for SECONDS, doing nothing else. A wake-up more than
// 2 ms late leaves a gap of more than 3 ms in any 1 kHz stream, whatever its priority: a late
// command. One seen on every core at once is the whole machine stopping (a virtual machine
// whose host did not run it).
//
//   machine_stall_bench [SECONDS]   (default 60)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "stall_probe.hpp"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const auto probes = korvo::bench::ProbeEveryCore();
  const int cores = static_cast<int>(probes.size());
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  std::vector<std::vector<korvo::bench::StallProbe::Stall>> seen;
  for (auto& probe : probes) seen.push_back(probe->Stop());

  std::printf("%.0f s, one SCHED_FIFO 99 thread per core (%s), 1 ms deadlines\n", seconds,
              probes[0]->realtime() ? "granted" : "refused: ordinary scheduling");
  std::printf("%5s %12s %12s %14s\n", "core", "late > 1 ms", "late > 2 ms", "longest [ms]");
  for (int cpu = 0; cpu < cores; ++cpu) {
    long over1 = 0, over2 = 0;
    double longest = 0;
    for (const auto& s : seen[cpu]) {
      ++over1;
      if (s.late_ns > 2'000'000) ++over2;
      longest = std::max(longest, static_cast<double>(s.late_ns) / 1e6);
    }
    std::printf("%5d %12ld %12ld %14.1f\n", cpu, over1, over2, longest);
  }
  // Stalls of more than 2 ms on the first core that every other core saw too.
  long everywhere = 0;
  for (const auto& s : seen[0]) {
    if (s.late_ns <= 2'000'000) continue;
    bool all = true;
    for (int cpu = 1; cpu < cores; ++cpu) {
      all = all && korvo::bench::DuringStall(seen[cpu], s.deadline_ns, s.deadline_ns + s.late_ns);
    }
    if (all) ++everywhere;
  }
  std::printf("stalls of more than 2 ms on core 0 that every core saw at once: %ld\n", everywhere);
  return 0;
}
