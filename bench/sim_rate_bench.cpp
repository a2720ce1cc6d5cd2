// The simulator as a separate process: the rate of its real-time states and its CPU use over a
// window, for one Olvar-L and one TAVU-Ultra moving kinematically (--kinematic), then for both
// as the physical twin, ready and holding their posture (TAVU-Ultra with 6 external axes).
//
//   sim_rate_bench [seconds] [path to korvo-sim]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback.hpp"
#include "middleware/subscriber.hpp"
#include "msgs/vyr_msg.hpp"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// User plus system CPU time of a process, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  // Fields after the command name, which is in parentheses and may hold blanks.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::vector<std::string> fields;
  for (std::string f; rest >> f;) fields.push_back(f);
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::stod(fields.at(11)) + std::stod(fields.at(12))) / ticks;
}

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
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, sim.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return;
  }
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
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 30.0;
  std::string sim = argc > 2 ? argv[2] : "";
  if (sim.empty()) {
    // Next to this program in the build tree: bench/../sim/korvo-sim.
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    sim = self.substr(0, self.rfind('/')) + "/../sim/korvo-sim";
  }
  for (const bool physics : {false, true}) {
    for (const char* model : {"Olvar-L", "TAVU-Ultra"}) Measure(sim, model, seconds, physics);
  }
  return 0;
}
