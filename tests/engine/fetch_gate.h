#pragma once
// Holds the workers' page fetches until the test opens it.
#include <condition_variable>
#include <memory>
#include <mutex>

namespace qm::test {

class FetchGate {
 public:
  void Pass() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    --waiting_;
  }
  // Fetches held now.
  int Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

// Opens the gate when the test ends, however it ends, so no worker is left waiting.
struct OpenOnExit {
  std::shared_ptr<FetchGate> gate;
  ~OpenOnExit() { gate->Open(); }
};

}  // namespace qm::test
