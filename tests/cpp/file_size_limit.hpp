// A limit on the size of any file this process writes, for as long as the object lives: writes
// beyond it fail (EFBIG, with SIGXFSZ ignored). It makes a save fail half-way even for root, whom
// read-only folders do not stop.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace korvo::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous_action_);
    ::getrlimit(RLIMIT_FSIZE, &previous_limit_);
    rlimit limit = previous_limit_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_limit_);
    ::sigaction(SIGXFSZ, &previous_action_, nullptr);
  }

 private:
  struct sigaction previous_action_ {};
  rlimit previous_limit_{};
};

}  // namespace korvo::test
