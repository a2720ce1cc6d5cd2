// Large files through FileIO against korvo-sim, next to a bare zenoh query/reply of the same bytes
// between the same two processes, and the client's peak memory.
//
//   file_transfer_bench [sizes in MB ...]        (default: 10 50)
//
// The process starts itself twice more: once as the robot side (korvo-sim's simulator and a bare
// queryable on its session) and once per size as the client, whose peak resident memory the
// parent reads when it ends. A client with size 0 only connects: its peak is the baseline.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "korvo/vyr/file_io.hpp"
#include "korvo/vyr/robot.hpp"
#include "loopback.hpp"
#include "measure.hpp"
#include "middleware/zenoh.hpp"
#include "sim/simulator.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr char kSerial[] = "Olvar-L-100001";
constexpr char kRawKey[] = "bench/raw";
constexpr int kRounds = 3;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- the robot side ---------------------------------------------------------------------------

int Serve(int port, std::size_t max_bytes) {
  korvo::sim::Simulator simulator(zenoh::Config::from_str(korvo::test::ListenerConfig(port)));
  simulator.AddRobot(korvo::vyr::ProductModel::Olvar_L, kSerial);
  const std::vector<std::uint8_t> payload(max_bytes, 0x5A);
  // "n=N": reply with N bytes; a query carrying bytes gets one byte back.
  auto raw = simulator.session()->declare_queryable(
      zenoh::KeyExpr(kRawKey),
      [&](zenoh::Query& query) {
        const std::string_view params = query.get_parameters();
        std::size_t n = 1;
        if (params.rfind("n=", 0) == 0)
          n = std::min<std::size_t>(std::stoul(std::string(params.substr(2))), max_bytes);
        query.reply(std::span<const std::uint8_t>(payload.data(), n));
      },
      [] {});
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);  // until the parent closes our input
  return 0;
}

// ---- the client -------------------------------------------------------------------------------

// One bare query; true when a reply of `expect` bytes arrived.
bool RawQuery(zenoh::Session& session, std::size_t send, std::size_t expect,
              const std::vector<std::uint8_t>& bytes) {
  bool ok = false;
  zenoh::GetOptions options;
  if (send > 0) options.payload = std::span<const std::uint8_t>(bytes.data(), send);
  options.timeout_ms = 60000;
  korvo::bench::GetAndWait(
      session, zenoh::KeyExpr(kRawKey), send > 0 ? "" : "n=" + std::to_string(expect),
      [&](const zenoh::Reply& reply) {
        if (reply.is_ok() && reply.get_ok().get_payload().size() == expect) ok = true;
      },
      std::move(options));
  return ok;
}

// Runs `transfer` kRounds times; the median seconds, or a negative value when one failed.
double Time(const std::function<bool()>& transfer) {
  std::vector<double> seconds;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = Clock::now();
    if (!transfer()) return -1.0;
    seconds.push_back(Seconds(Clock::now() - start));
  }
  return korvo::bench::Median(seconds);
}

int Client(int port, std::size_t bytes) {
  const fs::path dir = fs::temp_directory_path() / ("korvo-transfer-" + std::to_string(::getpid()));
  fs::create_directories(dir / "out");
  const std::string name = "bench" + std::to_string(bytes) + ".traj";
  {
    korvo::vyr::Robot robot(kSerial, false);
    korvo::vyr::FileIO files(robot);
    if (bytes > 0) {
      std::vector<std::uint8_t> content(bytes);
      for (std::size_t i = 0; i < bytes; ++i) content[i] = static_cast<std::uint8_t>(i * 131);
      std::ofstream(dir / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()), content.size());
      const auto attempt = [](const std::function<void()>& call) {
        try {
          call();
          return true;
        } catch (const std::exception& e) {
          std::fprintf(stderr, "  %s\n", e.what());
          return false;
        }
      };
      const double up = Time([&] { return attempt([&] { files.UploadTrajFile(dir, name); }); });
      const double down_mem = Time([&] { return attempt([&] { files.DownloadTrajFile(name); }); });
      const double down_file =
          Time([&] { return attempt([&] { files.DownloadTrajFile(name, dir / "out"); }); });
      zenoh::Session raw(zenoh::Config::from_str(korvo::test::ConnectorConfig(port)));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // routes settle
      const double raw_up = Time([&] { return RawQuery(raw, bytes, 1, content); });
      const double raw_down = Time([&] { return RawQuery(raw, 0, bytes, content); });
      raw.close();
      std::printf("%.6f %.6f %.6f %.6f %.6f\n", up, down_mem, down_file, raw_up, raw_down);
    } else {
      std::printf("0 0 0 0 0\n");
    }
  }
  fs::remove_all(dir);
  return 0;
}

// ---- the driver -------------------------------------------------------------------------------

struct Child {
  pid_t pid = 0;
  FILE* out = nullptr;  // its standard output
  FILE* in = nullptr;   // its standard input
};

Child Start(const std::vector<std::string>& args) {
  int to_child[2], from_child[2];
  if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawn_file_actions_addclose(&actions, to_child[1]);
  posix_spawn_file_actions_addclose(&actions, from_child[0]);
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  Child child;
  if (posix_spawn(&child.pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) {
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(to_child[0]);
  ::close(from_child[1]);
  child.in = ::fdopen(to_child[1], "w");
  child.out = ::fdopen(from_child[0], "r");
  return child;
}

std::string ReadLine(FILE* f) {
  char buffer[512] = {};
  return std::fgets(buffer, sizeof buffer, f) ? buffer : "";
}

// Runs a client for `bytes`; its figures and its peak resident memory in bytes.
std::pair<std::vector<double>, double> RunClient(int port, std::size_t bytes) {
  Child child =
      Start({"file_transfer_bench", "--client", std::to_string(port), std::to_string(bytes)});
  std::istringstream line(ReadLine(child.out));
  std::vector<double> figures;
  for (double v; line >> v;) figures.push_back(v);
  std::fclose(child.in);
  std::fclose(child.out);
  int status = 0;
  rusage usage{};
  ::wait4(child.pid, &status, 0, &usage);
  return {figures, usage.ru_maxrss * 1024.0};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--serve") {
    return Serve(std::atoi(argv[2]), std::stoull(argv[3]));
  }
  if (argc == 4 && std::string(argv[1]) == "--client") {
    return Client(std::atoi(argv[2]), std::stoull(argv[3]));
  }
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::stoull(argv[i]) * 1000 * 1000);
  if (sizes.empty()) sizes = {10'000'000, 50'000'000};
  const int port = korvo::test::FreeTcpPort();
  korvo::test::TempFile config(korvo::test::ConnectorConfig(port));
  ::setenv("ZENOH_CONFIG", config.path().c_str(), 1);
  Child server = Start({"file_transfer_bench", "--serve", std::to_string(port),
                        std::to_string(*std::max_element(sizes.begin(), sizes.end()))});
  if (ReadLine(server.out).rfind("ready", 0) != 0) return 1;

  const double baseline = RunClient(port, 0).second;
  std::printf("client baseline peak memory: %.1f MB\n", baseline / 1e6);
  std::printf("%8s %12s %14s %14s %12s %12s %10s %10s %12s\n", "size MB", "upload MB/s",
              "download MB/s", "to file MB/s", "raw up MB/s", "raw dn MB/s", "up ratio", "dn ratio",
              "peak/size");
  for (const std::size_t bytes : sizes) {
    const auto [f, peak] = RunClient(port, bytes);
    const double mb = bytes / 1e6;
    if (f.size() != 5 || f[0] < 0 || f[1] < 0 || f[2] < 0 || f[3] < 0 || f[4] < 0) {
      std::printf("%8.0f  a transfer failed (figures: %zu)\n", mb, f.size());
      continue;
    }
    std::printf("%8.0f %12.1f %14.1f %14.1f %12.1f %12.1f %10.2f %10.2f %12.2f\n", mb, mb / f[0],
                mb / f[1], mb / f[2], mb / f[3], mb / f[4], f[3] / f[0], f[4] / f[1],
                (peak - baseline) / bytes);
  }
  std::fclose(server.in);
  std::fclose(server.out);
  int status = 0;
  ::waitpid(server.pid, &status, 0);
  return 0;
}
