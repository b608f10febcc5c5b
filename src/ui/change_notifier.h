#pragma once
// Tells the shell that some control model of a window has changed, coalesced: after one
// notification no further one is sent until the shell has acknowledged it, so a million
// updates from the workers cost a handful of repaints.
#include <atomic>
#include <functional>
#include <mutex>

namespace qm::ui {

class ChangeNotifier {
 public:
  // The listener runs on the thread that made the change; it must only schedule a refresh.
  void SetListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
  }

  void Changed() {
    if (pending_.exchange(true, std::memory_order_acq_rel)) return;
    std::lock_guard lock(mutex_);
    if (listener_) listener_();
  }

  // A change the user should see at once, such as the end of a run: notifies even while a
  // notification is pending, and the shell refreshes without keeping to its pace.
  void ChangedUrgently() {
    urgent_.store(true, std::memory_order_release);
    pending_.store(true, std::memory_order_release);
    std::lock_guard lock(mutex_);
    if (listener_) listener_();
  }

  // True once after ChangedUrgently.
  bool TakeUrgent() { return urgent_.exchange(false, std::memory_order_acq_rel); }

  // Called by the shell just before it reads the models; changes made after this call
  // notify again.
  void Acknowledge() { pending_.store(false, std::memory_order_release); }

  bool Pending() const { return pending_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> pending_{false};
  std::atomic<bool> urgent_{false};
  std::mutex mutex_;
  std::function<void()> listener_;
};

}  // namespace qm::ui
