// Test helpers for loopback-only zenoh sessions (DESIGN section 4): free ports and the
// listener/connector configurations (from sim/loopback.hpp), temporary configuration files and
// scoped environment variables for ZENOH_CONFIG.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "../../sim/loopback.hpp"

namespace korvo::test {

// The loopback helpers live with the simulator, which starts from them too; tests and
// benchmarks keep their names here.
using sim::ConnectorConfig;
using sim::FreeTcpPort;
using sim::ListenerConfig;
using sim::LoopbackEndpoint;

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
