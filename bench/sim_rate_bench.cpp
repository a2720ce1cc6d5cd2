// The simulator as a separate process: the rate of its real-time states and its CPU use over a
// window, for one Olvar-L and one TAVU-Ultra moving kinematically (--kinematic), then for both
// as the physical twin, ready and holding their posture (TAVU-Ultra with 6 external axes).
//
//   sim_rate_bench [seconds] [path to korvo-sim]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "loopback.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/vyr_msg.hpp"

namespace {

using namespace std::chrono_literals;
using korvo::bench::CpuSeconds;

void Measure(const std::string& sim, const std::string& model, double seconds,
             bool physics = false) {
  const int port = korvo::test::FreeTcpPort();
  korvo::test::TempFile config(korvo::test::ListenerConfig(port));
  const std::string serial = model + "-000001";
  std::vector<std::string> args = {sim,    "--model",  model,        "--serial",
                                   serial, "--config", config.path()};
  if (!physics) args.emplace_back("--kinematic");
  if (physics) {
    args.emplace_back("--ready");
    if (model == "TAVU-Ultra") {
      for (const char* a : {"--ext-axes", "6"}) args.emplace_back(a);
    }
  }
  korvo::bench::ChildProcess child(args);
  const pid_t pid = child.pid();
  {
    auto session = std::make_shared<zenoh::Session>(
        zenoh::Config::from_str(korvo::test::ConnectorConfig(port)));
    korvo::zenoh_msgs::vyr_msg::RealtimeStates incoming;
    std::atomic<std::uint64_t> received{0};
    korvo::zenoh_mdw::Subscriber<korvo::zenoh_msgs::vyr_msg::RealtimeStates> states(
        session, [&] { ++received; }, incoming, "korvo/vyr/" + serial + "/states");
    // Let the link come up and the first messages flow before the window opens.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (received < 100 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds(pid);
    const std::uint64_t n0 = received;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::uint64_t n1 = received;
    const double cpu1 = CpuSeconds(pid);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-12s %-8s states rate %8.1f Hz   simulator CPU %5.1f %% of one core   (%.0f s)\n",
                model.c_str(), physics ? "physics" : "", static_cast<double>(n1 - n0) / elapsed,
                100.0 * (cpu1 - cpu0) / elapsed, elapsed);
    session->close();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 30.0;
  const std::string sim = korvo::bench::SimulatorPath(argc > 2 ? argv[2] : "");
  for (const bool physics : {false, true}) {
    for (const char* model : {"Olvar-L", "TAVU-Ultra"}) Measure(sim, model, seconds, physics);
  }
  return 0;
}
