// Loopback-only zenoh configurations for tests (DESIGN section 4): a listener on
// tcp/127.0.0.1:PORT and a connector to it, multicast scouting and gossip off, so that tests never
// send multicast or non-loopback traffic.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace korvo::test {

// A TCP port on 127.0.0.1 that was free when asked (the kernel picks it; a listener opened right
// after gets it unless another process races for it).
inline int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const std::string error = std::strerror(errno);
    ::close(fd);
    throw std::runtime_error("bind/getsockname on 127.0.0.1: " + error);
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

inline std::string LoopbackEndpoint(int port) { return "tcp/127.0.0.1:" + std::to_string(port); }

// The listener of a loopback pair (DESIGN section 4).
inline std::string ListenerConfig(int port) {
  return R"({ mode: "peer", listen: { endpoints: [")" + LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false }, gossip: { enabled: false } } })";
}

// The connector of a loopback pair (DESIGN section 4).
inline std::string ConnectorConfig(int port) {
  return R"({ mode: "peer", listen: { endpoints: [] }, connect: { endpoints: [")" +
         LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false }, gossip: { enabled: false } } })";
}

// A file in the temporary directory holding `content`, removed when the object goes away.
class TempFile {
 public:
  explicit TempFile(const std::string& content, const std::string& suffix = ".json5") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("korvo-test-XXXXXX" + suffix)).string();
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw std::runtime_error(std::string("mkstemps: ") + std::strerror(errno));
    ::close(fd);
    path_ = pattern;
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace korvo::test
