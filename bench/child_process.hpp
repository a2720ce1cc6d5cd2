// A program the benchmarks start beside themselves (korvo-sim), and what /proc tells of a process:
// its CPU time and its resident memory.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace korvo::bench {

// Blocks SIGINT in the calling thread and in every thread it starts afterwards, so that the
// program can sigwait for it: a child process that ChildProcess interrupts.
inline sigset_t BlockInterrupt() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  return interrupt;
}

// Starts `args[0]` with `args`; interrupts it (SIGINT, as Ctrl-C does) and waits for it when
// destroyed.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, args.at(0).c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start " + args.at(0));
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

  pid_t pid() const { return pid_; }

  // Waits for the program to end by itself; returns its wait status.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }

 private:
  pid_t pid_ = 0;
};

// User plus system CPU time of a process, in seconds.
inline double CpuSeconds(pid_t pid) {
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

// Resident memory of a process (VmRSS), in MiB; 0 when it is gone.
inline double ResidentMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0.0;
}

// korvo-sim next to the calling program in the build tree (bench/../sim/korvo-sim), unless given.
inline std::string SimulatorPath(const std::string& given) {
  if (!given.empty()) return given;
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  return self.substr(0, self.rfind('/')) + "/../sim/korvo-sim";
}

}  // namespace korvo::bench
