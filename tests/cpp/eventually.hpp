// Waiting in tests for something that happens on other threads or processes.
#pragma once

#include <chrono>
#include <thread>

namespace korvo::test {

// Polls `done` until it holds or a generous deadline passes; false at the deadline.
template <typename Predicate>
bool Eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace korvo::test
