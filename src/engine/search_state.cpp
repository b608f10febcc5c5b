#include "engine/search_state.h"

#include <algorithm>

namespace qm {

bool TSearchRun::ClaimLocked() {
  if (Closed || CompletionClaimed) return false;
  if (std::any_of(RunningMarks.begin(), RunningMarks.end(), [](int32_t m) { return m != 0; })) {
    return false;
  }
  CompletionClaimed = true;
  return true;
}

bool TSearchRun::ClaimIfIdle() {
  std::lock_guard lock(ListLock);
  return ClaimLocked();
}

void TSearchRun::Close() {
  std::unique_ptr<TUrlListReader> list;
  {
    std::lock_guard lock(ListLock);
    Closed = true;
    ClosedFlag.store(true, std::memory_order_release);
    list = std::move(ListFile);
  }
  // Lanes waiting for room for a page give up at once.
  if (Memory) Memory->Cancel();
  // Scanners see ClosedFlag at their next line and leave; this waits for the last of them.
  std::unique_lock gate(ScanGate);
}

smtpthread::smtpthread(std::function<void()> click)
    : thread_([this, click = std::move(click)] {
        try {
          click();
        } catch (...) {
        }
        finished_.store(true, std::memory_order_release);
      }) {}

smtpthread::~smtpthread() {
  Join();
}

void smtpthread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace qm
