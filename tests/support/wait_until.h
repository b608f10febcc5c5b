#pragma once
// Waits in tests are a predicate with a deadline, never a sleep of a guessed length.
#include <chrono>
#include <functional>
#include <thread>

namespace qm::test {

// Polls `condition` until it holds or `timeout` has passed; returns its last answer.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace qm::test
