// korvo-sim: runs a simulated Korvo robot until interrupted.
//
//   korvo-sim --model MODEL --serial SN [--ext-axes N] [--config FILE] [--kinematic] [--ready]
//             [--realtime] [--verbose]
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

#include <spdlog/spdlog.h>

#include "middleware/zenoh.hpp"
#include "sim/robot_model.hpp"
#include "sim/simulator.hpp"

namespace {

constexpr const char* kUsage =
    "usage: korvo-sim --model MODEL --serial SN [--ext-axes N] [--config FILE] [--kinematic]\n"
    "                 [--ready] [--realtime] [--verbose]\n"
    "  MODEL  one of Olvar-L, Olvar-LL, TAVU-Core, TAVU-Plus, TAVU-Ultra\n"
    "  SN     the robot's serial number, e.g. Olvar-L-000001\n"
    "  N      external axes, 0 to 6 (default 0)\n"
    "  FILE   zenoh configuration (.json5, .json or .yaml); default: ZENOH_CONFIG, else zenoh's "
    "default\n"
    "  --kinematic  the joints follow their commands kinematically instead of moving as the\n"
    "               robot's dynamics and controllers make them (the physical twin, the default)\n"
    "  --ready    start servoed on: brakes released, ready to operate\n"
    "  --realtime every thread under SCHED_FIFO (priority 80) and memory locked, so that the\n"
    "             simulator's receive and its 1 kHz loop never make a command late (needs root\n"
    "             or CAP_SYS_NICE and CAP_IPC_LOCK; without them, a warning and as usual)\n";

struct Options {
  std::string model;
  std::string serial;
  unsigned ext_axes = 0;
  std::optional<std::string> config;
  bool verbose = false;
  bool physics = true;
  bool ready = false;
  bool realtime = false;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "korvo-sim: " << message << "\n" << kUsage;
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail("missing value after " + arg);
      return argv[++i];
    };
    if (arg == "--model") {
      options.model = value();
    } else if (arg == "--serial") {
      options.serial = value();
    } else if (arg == "--ext-axes") {
      const std::string text = value();
      if (text.empty() || text.size() > 1 || text[0] < '0' || text[0] > '6') {
        Fail("--ext-axes takes a number from 0 to 6");
      }
      options.ext_axes = static_cast<unsigned>(text[0] - '0');
    } else if (arg == "--config") {
      options.config = value();
    } else if (arg == "--physics") {
      options.physics = true;  // the default; accepted as before
    } else if (arg == "--kinematic") {
      options.physics = false;
    } else if (arg == "--ready") {
      options.ready = true;
    } else if (arg == "--realtime") {
      options.realtime = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      Fail("unknown argument " + arg);
    }
  }
  if (options.model.empty()) Fail("--model is required");
  if (options.serial.empty()) Fail("--serial is required");
  return options;
}

// Where the session listens, as its configuration file says.
std::string ListenEndpoints(const std::optional<std::string>& path) {
  if (!path) return "zenoh's default configuration";
  std::ifstream in(*path);
  std::stringstream text;
  text << in.rdbuf();
  static const std::regex kListen(R"(listen\s*:\s*\{[^}]*endpoints\s*:\s*\[([^\]]*)\])");
  std::smatch m;
  const std::string content = text.str();
  if (!std::regex_search(content, m, kListen)) return "the endpoints of " + *path;
  static const std::regex kEndpoint(R"(["']([^"']+)["'])");
  std::string endpoints;
  const std::string list = m[1];
  for (auto it = std::sregex_iterator(list.begin(), list.end(), kEndpoint);
       it != std::sregex_iterator(); ++it) {
    if (!endpoints.empty()) endpoints += ", ";
    endpoints += (*it)[1].str();
  }
  return endpoints.empty() ? "no endpoint (connects only)" : endpoints;
}

// Locks memory and puts the calling thread, and every thread it starts afterwards (the
// simulator's loop and zenoh's), under SCHED_FIFO. A refusal is a warning: the simulator runs
// as usual.
void EnterRealtime() {
  if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    std::cerr << "korvo-sim: warning: memory not locked (" << std::strerror(errno) << ")\n";
  }
  sched_param param{};
  param.sched_priority = 80;
  if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); error != 0) {
    std::cerr << "korvo-sim: warning: no real-time priority (" << std::strerror(error)
              << "; needs root or CAP_SYS_NICE): other programs may delay commands\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  const auto model = korvo::sim::ProductModelFromName(options.model);
  if (!model) Fail("unknown model " + options.model);
  if (options.verbose) spdlog::set_level(spdlog::level::debug);
  if (options.realtime) EnterRealtime();

  // Every thread started from here on inherits the blocked signals; main waits for them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::optional<std::string> config_path = options.config;
  if (!config_path) {
    if (const char* env = std::getenv("ZENOH_CONFIG"); env != nullptr && *env != '\0') {
      config_path = env;
    }
  }
  try {
    auto config = options.config ? zenoh::Config::from_file(*options.config)
                                 : zenoh::Config::create_default();
    korvo::sim::Simulator simulator(std::move(config));
    auto& host = simulator.AddRobot(*model, options.serial, options.ext_axes);
    if (options.physics) host.robot().EnablePhysics(true);
    if (options.ready) host.robot().MakeReady();
    std::cout << "korvo-sim: hosting " << options.serial << " (" << options.model << ", "
              << host.robot().model().full_dof() << " joints) on " << ListenEndpoints(config_path)
              << std::endl;

    int signal = 0;
    sigwait(&signals, &signal);
    std::cout << "korvo-sim: stopping; late commands (more than 3 ms after the one before): "
              << host.robot().timeliness_failure_count() << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "korvo-sim: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
