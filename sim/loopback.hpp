// Loopback-only zenoh configurations (DESIGN section 4): a listener on tcp/127.0.0.1:PORT and a
// connector to it, multicast scouting and gossip off, so that the simulator, its tests and its
// demos never send multicast or non-loopback traffic. Header-only, so that tests and benchmarks
// that do not link the simulator can use it too.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace korvo::sim {

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

// The listener of a loopback pair: the simulator's side.
inline std::string ListenerConfig(int port) {
  return R"({ mode: "peer", listen: { endpoints: [")" + LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false }, gossip: { enabled: false } } })";
}

// The connector of a loopback pair: the client's side. It listens nowhere.
inline std::string ConnectorConfig(int port) {
  return R"({ mode: "peer", listen: { endpoints: [] }, connect: { endpoints: [")" +
         LoopbackEndpoint(port) +
         R"("] }, scouting: { multicast: { enabled: false }, gossip: { enabled: false } } })";
}

}  // namespace korvo::sim
