#pragma once
// Many pages in flight on one thread: each page's code runs as a fiber with a stack of its
// own, written as blocking code. Where it would block on a socket (the socket layer's poll)
// the fiber is suspended and the thread runs another one; one epoll set per scheduler tells
// which sockets are ready. Waits on locks held by other fibers of the same thread go
// through TWaitCondition, which parks the fiber instead of the thread.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <unordered_map>
#include <vector>

namespace qm {

class TFiberScheduler;

// Who waits: a fiber of a scheduler, or a plain thread. Unpark may be called from any
// thread; a permit given before Park makes that Park return at once.
struct TParkHandle {
  TFiberScheduler* Scheduler = nullptr;  // null: a plain thread
  uint64_t FiberId = 0;
  struct TThreadParker* Thread = nullptr;

  void Unpark() const;
};

// The handle of the calling fiber or thread.
TParkHandle CurrentParkHandle();
// Drops a permit left from an earlier wake, before a new wait is registered.
void ClearParkPermit();
// Waits until unparked or `deadline`; true when unparked.
bool ParkUntil(std::chrono::steady_clock::time_point deadline);

class TFiberScheduler {
 public:
  // Address space per fiber; only the pages a fiber touches take memory.
  static constexpr size_t kDefaultStackBytes = size_t{1} << 20;

  explicit TFiberScheduler(size_t stackBytes = kDefaultStackBytes);
  ~TFiberScheduler();
  TFiberScheduler(const TFiberScheduler&) = delete;
  TFiberScheduler& operator=(const TFiberScheduler&) = delete;

  // False when the scheduler has no epoll set or the fiber's stack cannot be had.
  bool Spawn(std::function<void()> body);
  // Runs the fibers on the calling thread until every one has ended.
  void Run();

  // The scheduler whose fiber is running on this thread; null on a plain thread.
  static TFiberScheduler* Current();

  // poll(2) of one descriptor from a fiber: 1 with `revents` set, 0 when `timeoutMs` ran
  // out (-1: none); -2 when the descriptor cannot be waited for this way.
  int WaitIo(int fd, short events, int timeoutMs, short& revents);
  // Parks the running fiber until Unpark or `deadline`; true when unparked.
  bool Park(std::chrono::steady_clock::time_point deadline);
  void Unpark(uint64_t fiberId);
  void ClearPermit();
  uint64_t RunningFiberId() const;

 private:
  struct TFiber;
  struct TTimer {
    std::chrono::steady_clock::time_point Due;
    uint64_t FiberId;
    uint64_t WaitSeq;
    bool operator>(const TTimer& other) const { return Due > other.Due; }
  };

  static void Trampoline(unsigned high, unsigned low);
  void SwitchTo(TFiber& fiber);
  void SwitchToScheduler();
  void MakeReady(TFiber& fiber);
  void UnparkHere(uint64_t fiberId);
  void TakeIncomingWakes();
  int NextTimeoutMs();
  void FireTimers();
  TFiber* Find(uint64_t id);

  size_t stackBytes_;
  int epoll_ = -1;
  int wakeFd_ = -1;
  uint64_t nextId_ = 1;
  std::unordered_map<uint64_t, std::unique_ptr<TFiber>> fibers_;
  std::queue<uint64_t> ready_;
  std::priority_queue<TTimer, std::vector<TTimer>, std::greater<TTimer>> timers_;
  TFiber* running_ = nullptr;
  struct TSchedulerContext;
  std::unique_ptr<TSchedulerContext> context_;
  // Wakes from other threads, taken by the scheduler's loop.
  std::mutex incomingLock_;
  std::vector<uint64_t> incoming_;
};

// A condition variable that parks fibers as well as threads: a fiber waiting on it lets
// the other fibers of its thread run, among them the one that will notify it.
class TWaitCondition {
 public:
  TWaitCondition() = default;
  TWaitCondition(const TWaitCondition&) = delete;
  TWaitCondition& operator=(const TWaitCondition&) = delete;

  void wait(std::unique_lock<std::mutex>& lock) {
    wait_until(lock, std::chrono::steady_clock::time_point::max());
  }
  template <class Predicate>
  void wait(std::unique_lock<std::mutex>& lock, Predicate ready) {
    while (!ready()) wait(lock);
  }
  // False when the deadline passed.
  bool wait_until(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline);
  template <class Predicate>
  bool wait_until(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline, Predicate ready) {
    while (!ready()) {
      if (!wait_until(lock, deadline)) return ready();
    }
    return true;
  }
  template <class Rep, class Period>
  bool wait_for(std::unique_lock<std::mutex>& lock, std::chrono::duration<Rep, Period> time) {
    return wait_until(lock, std::chrono::steady_clock::now() + time);
  }
  void notify_all();
  void notify_one();

 private:
  // A waiter's place in the queue, on its own stack: a thousand lanes waiting for one
  // condition leave it in constant time each, not by a search of all the others.
  struct TWaiter {
    TParkHandle Handle;
    TWaiter* Previous = nullptr;
    TWaiter* Next = nullptr;
    bool Queued = false;
  };
  // With lock_ held.
  void Append(TWaiter& waiter);
  void Remove(TWaiter& waiter);

  std::mutex lock_;
  TWaiter* first_ = nullptr;
  TWaiter* last_ = nullptr;
};

}  // namespace qm
