#include "http/fiber_scheduler.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define QM_FIBER_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define QM_FIBER_TSAN 1
#endif

namespace qm {

using Clock = std::chrono::steady_clock;

struct TThreadParker {
  std::mutex Lock;
  std::condition_variable Woken;
  bool Permit = false;
};

namespace {

thread_local TFiberScheduler* tScheduler = nullptr;

TThreadParker& ThisThreadParker() {
  thread_local TThreadParker parker;
  return parker;
}

uint32_t ToEpoll(short events) {
  uint32_t out = 0;
  if (events & POLLIN) out |= EPOLLIN;
  if (events & POLLOUT) out |= EPOLLOUT;
  if (events & POLLPRI) out |= EPOLLPRI;
  return out;
}

short FromEpoll(uint32_t events) {
  short out = 0;
  if (events & EPOLLIN) out |= POLLIN;
  if (events & EPOLLOUT) out |= POLLOUT;
  if (events & EPOLLPRI) out |= POLLPRI;
  if (events & EPOLLERR) out |= POLLERR;
  if (events & EPOLLHUP) out |= POLLHUP;
  return out;
}

size_t PageBytes() {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

}  // namespace

struct TFiberScheduler::TFiber {
  enum class TState : uint8_t { Ready, Running, WaitingIo, Parked, Ended };
  uint64_t Id = 0;
  ucontext_t Context{};
  void* Mapping = nullptr;
  size_t MappingBytes = 0;
  std::function<void()> Body;
  TState State = TState::Ready;
  bool Permit = false;
  uint64_t WaitSeq = 0;
  short Revents = 0;
  void* SanitizerFiber = nullptr;
  void* FakeStack = nullptr;

  char* StackBottom() const { return static_cast<char*>(Mapping) + PageBytes(); }
  size_t StackBytes() const { return MappingBytes - PageBytes(); }
  ~TFiber() {
    if (Mapping != nullptr) ::munmap(Mapping, MappingBytes);
  }
};

struct TFiberScheduler::TSchedulerContext {
  ucontext_t Context{};
  void* SanitizerFiber = nullptr;
  void* FakeStack = nullptr;
  const void* StackBottom = nullptr;
  size_t StackBytes = 0;
};

void TParkHandle::Unpark() const {
  if (Scheduler != nullptr) {
    Scheduler->Unpark(FiberId);
    return;
  }
  std::lock_guard guard(Thread->Lock);
  Thread->Permit = true;
  Thread->Woken.notify_all();
}

TParkHandle CurrentParkHandle() {
  TParkHandle handle;
  if (TFiberScheduler* scheduler = TFiberScheduler::Current()) {
    handle.Scheduler = scheduler;
    handle.FiberId = scheduler->RunningFiberId();
  } else {
    handle.Thread = &ThisThreadParker();
  }
  return handle;
}

void ClearParkPermit() {
  if (TFiberScheduler* scheduler = TFiberScheduler::Current()) {
    scheduler->ClearPermit();
    return;
  }
  TThreadParker& parker = ThisThreadParker();
  std::lock_guard guard(parker.Lock);
  parker.Permit = false;
}

bool ParkUntil(Clock::time_point deadline) {
  if (TFiberScheduler* scheduler = TFiberScheduler::Current()) return scheduler->Park(deadline);
  TThreadParker& parker = ThisThreadParker();
  std::unique_lock lock(parker.Lock);
  if (deadline == Clock::time_point::max()) {
    parker.Woken.wait(lock, [&] { return parker.Permit; });
  } else {
    parker.Woken.wait_until(lock, deadline, [&] { return parker.Permit; });
  }
  const bool woken = parker.Permit;
  parker.Permit = false;
  return woken;
}

TFiberScheduler::TFiberScheduler(size_t stackBytes)
    : stackBytes_((stackBytes + PageBytes() - 1) / PageBytes() * PageBytes()),
      context_(std::make_unique<TSchedulerContext>()) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ >= 0 && wakeFd_ >= 0) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = 0;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &event) != 0) {
      ::close(epoll_);
      epoll_ = -1;
    }
  }
}

TFiberScheduler::~TFiberScheduler() {
#ifdef QM_FIBER_TSAN
  for (auto& [id, fiber] : fibers_) {
    if (fiber->SanitizerFiber != nullptr) __tsan_destroy_fiber(fiber->SanitizerFiber);
  }
#endif
  fibers_.clear();
  if (epoll_ >= 0) ::close(epoll_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

TFiberScheduler* TFiberScheduler::Current() {
  return tScheduler != nullptr && tScheduler->running_ != nullptr ? tScheduler : nullptr;
}

uint64_t TFiberScheduler::RunningFiberId() const {
  return running_ != nullptr ? running_->Id : 0;
}

bool TFiberScheduler::Spawn(std::function<void()> body) {
  if (epoll_ < 0 || wakeFd_ < 0) return false;
  auto fiber = std::make_unique<TFiber>();
  fiber->MappingBytes = stackBytes_ + PageBytes();
  void* mapping = ::mmap(nullptr, fiber->MappingBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return false;
  fiber->Mapping = mapping;
  // A fiber that runs past its stack faults on the guard page instead of writing over
  // whatever lies below.
  if (::mprotect(mapping, PageBytes(), PROT_NONE) != 0) return false;
  if (::getcontext(&fiber->Context) != 0) return false;
  fiber->Context.uc_stack.ss_sp = fiber->StackBottom();
  fiber->Context.uc_stack.ss_size = fiber->StackBytes();
  fiber->Context.uc_link = nullptr;
  const auto self = reinterpret_cast<uintptr_t>(this);
  ::makecontext(&fiber->Context, reinterpret_cast<void (*)()>(&TFiberScheduler::Trampoline), 2,
                static_cast<unsigned>(self >> 32), static_cast<unsigned>(self & 0xffffffffu));
  fiber->Body = std::move(body);
  fiber->Id = nextId_++;
#ifdef QM_FIBER_TSAN
  fiber->SanitizerFiber = __tsan_create_fiber(0);
#endif
  ready_.push(fiber->Id);
  fibers_.emplace(fiber->Id, std::move(fiber));
  return true;
}

void TFiberScheduler::Trampoline(unsigned high, unsigned low) {
  auto* self = reinterpret_cast<TFiberScheduler*>((static_cast<uintptr_t>(high) << 32) | low);
#ifdef QM_FIBER_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &self->context_->StackBottom,
                                  &self->context_->StackBytes);
#endif
  TFiber* fiber = self->running_;
  try {
    fiber->Body();
  } catch (...) {
    // A fiber's body ends its own failures; nothing may unwind past its stack.
  }
  fiber->Body = nullptr;
  fiber->State = TFiber::TState::Ended;
  self->SwitchToScheduler();
}

void TFiberScheduler::SwitchTo(TFiber& fiber) {
  running_ = &fiber;
  fiber.State = TFiber::TState::Running;
#ifdef QM_FIBER_TSAN
  __tsan_switch_to_fiber(fiber.SanitizerFiber, 0);
#endif
#ifdef QM_FIBER_ASAN
  __sanitizer_start_switch_fiber(&context_->FakeStack, fiber.StackBottom(), fiber.StackBytes());
#endif
  ::swapcontext(&context_->Context, &fiber.Context);
#ifdef QM_FIBER_ASAN
  __sanitizer_finish_switch_fiber(context_->FakeStack, nullptr, nullptr);
#endif
  running_ = nullptr;
}

void TFiberScheduler::SwitchToScheduler() {
  TFiber& fiber = *running_;
#ifdef QM_FIBER_TSAN
  __tsan_switch_to_fiber(context_->SanitizerFiber, 0);
#endif
#ifdef QM_FIBER_ASAN
  const bool ending = fiber.State == TFiber::TState::Ended;
  __sanitizer_start_switch_fiber(ending ? nullptr : &fiber.FakeStack, context_->StackBottom,
                                 context_->StackBytes);
#endif
  ::swapcontext(&fiber.Context, &context_->Context);
#ifdef QM_FIBER_ASAN
  __sanitizer_finish_switch_fiber(fiber.FakeStack, &context_->StackBottom, &context_->StackBytes);
#endif
}

void TFiberScheduler::MakeReady(TFiber& fiber) {
  fiber.State = TFiber::TState::Ready;
  ready_.push(fiber.Id);
}

TFiberScheduler::TFiber* TFiberScheduler::Find(uint64_t id) {
  const auto found = fibers_.find(id);
  return found == fibers_.end() ? nullptr : found->second.get();
}

int TFiberScheduler::WaitIo(int fd, short events, int timeoutMs, short& revents) {
  TFiber* fiber = running_;
  if (fiber == nullptr) return -2;
  epoll_event event{};
  event.events = ToEpoll(events);
  event.data.u64 = fiber->Id;
  if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return -2;
  fiber->State = TFiber::TState::WaitingIo;
  fiber->Revents = 0;
  ++fiber->WaitSeq;
  if (timeoutMs >= 0) {
    timers_.push({Clock::now() + std::chrono::milliseconds(timeoutMs), fiber->Id, fiber->WaitSeq});
  }
  SwitchToScheduler();
  ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  revents = fiber->Revents;
  return revents != 0 ? 1 : 0;
}

bool TFiberScheduler::Park(Clock::time_point deadline) {
  TFiber* fiber = running_;
  if (fiber->Permit) {
    fiber->Permit = false;
    return true;
  }
  if (deadline <= Clock::now()) return false;
  fiber->State = TFiber::TState::Parked;
  ++fiber->WaitSeq;
  if (deadline != Clock::time_point::max()) timers_.push({deadline, fiber->Id, fiber->WaitSeq});
  SwitchToScheduler();
  const bool woken = fiber->Permit;
  fiber->Permit = false;
  return woken;
}

void TFiberScheduler::ClearPermit() {
  if (running_ != nullptr) running_->Permit = false;
}

void TFiberScheduler::UnparkHere(uint64_t fiberId) {
  TFiber* fiber = Find(fiberId);
  if (fiber == nullptr || fiber->State == TFiber::TState::Ended) return;
  fiber->Permit = true;
  if (fiber->State == TFiber::TState::Parked) MakeReady(*fiber);
}

void TFiberScheduler::Unpark(uint64_t fiberId) {
  if (tScheduler == this) {
    UnparkHere(fiberId);
    return;
  }
  {
    std::lock_guard guard(incomingLock_);
    incoming_.push_back(fiberId);
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void TFiberScheduler::TakeIncomingWakes() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
  std::vector<uint64_t> wakes;
  {
    std::lock_guard guard(incomingLock_);
    wakes.swap(incoming_);
  }
  for (const uint64_t id : wakes) UnparkHere(id);
}

int TFiberScheduler::NextTimeoutMs() {
  while (!timers_.empty()) {
    const TTimer& top = timers_.top();
    const TFiber* fiber = Find(top.FiberId);
    if (fiber != nullptr && fiber->WaitSeq == top.WaitSeq &&
        (fiber->State == TFiber::TState::WaitingIo || fiber->State == TFiber::TState::Parked)) {
      const auto left = top.Due - Clock::now();
      if (left <= Clock::duration::zero()) return 0;
      // Rounded up, so the wait does not end just before the timer is due.
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
    }
    timers_.pop();
  }
  return -1;
}

void TFiberScheduler::FireTimers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.top().Due <= now) {
    const TTimer timer = timers_.top();
    timers_.pop();
    TFiber* fiber = Find(timer.FiberId);
    if (fiber == nullptr || fiber->WaitSeq != timer.WaitSeq) continue;
    if (fiber->State == TFiber::TState::WaitingIo || fiber->State == TFiber::TState::Parked) {
      MakeReady(*fiber);
    }
  }
}

void TFiberScheduler::Run() {
  TFiberScheduler* const outer = tScheduler;
  tScheduler = this;
#ifdef QM_FIBER_TSAN
  context_->SanitizerFiber = __tsan_get_current_fiber();
#endif
  epoll_event events[256];
  while (!fibers_.empty()) {
    while (!ready_.empty()) {
      const uint64_t id = ready_.front();
      ready_.pop();
      TFiber* fiber = Find(id);
      if (fiber == nullptr || fiber->State != TFiber::TState::Ready) continue;
      SwitchTo(*fiber);
      if (fiber->State == TFiber::TState::Ended) {
#ifdef QM_FIBER_TSAN
        __tsan_destroy_fiber(fiber->SanitizerFiber);
        fiber->SanitizerFiber = nullptr;
#endif
        fibers_.erase(id);
      }
    }
    if (fibers_.empty()) break;
    const int count = ::epoll_wait(epoll_, events, 256, NextTimeoutMs());
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u64 == 0) {
        TakeIncomingWakes();
        continue;
      }
      TFiber* fiber = Find(events[i].data.u64);
      if (fiber == nullptr || fiber->State != TFiber::TState::WaitingIo) continue;
      fiber->Revents = FromEpoll(events[i].events);
      MakeReady(*fiber);
    }
    FireTimers();
  }
  tScheduler = outer;
}

void TWaitCondition::Append(TWaiter& waiter) {
  waiter.Previous = last_;
  waiter.Next = nullptr;
  (last_ != nullptr ? last_->Next : first_) = &waiter;
  last_ = &waiter;
  waiter.Queued = true;
}

void TWaitCondition::Remove(TWaiter& waiter) {
  (waiter.Previous != nullptr ? waiter.Previous->Next : first_) = waiter.Next;
  (waiter.Next != nullptr ? waiter.Next->Previous : last_) = waiter.Previous;
  waiter.Previous = waiter.Next = nullptr;
  waiter.Queued = false;
}

bool TWaitCondition::wait_until(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
  TWaiter self;
  self.Handle = CurrentParkHandle();
  ClearParkPermit();
  {
    std::lock_guard guard(lock_);
    Append(self);
  }
  lock.unlock();
  const bool woken = ParkUntil(deadline);
  {
    // A notify takes the waiter out before it unparks it, under this lock: once the lock is
    // ours, nobody looks at `self` any more.
    std::lock_guard guard(lock_);
    if (self.Queued) Remove(self);
  }
  lock.lock();
  return woken || Clock::now() < deadline;
}

void TWaitCondition::notify_all() {
  std::lock_guard guard(lock_);
  while (first_ != nullptr) {
    TWaiter& waiter = *first_;
    Remove(waiter);
    waiter.Handle.Unpark();
  }
}

void TWaitCondition::notify_one() {
  std::lock_guard guard(lock_);
  if (first_ == nullptr) return;
  TWaiter& waiter = *first_;
  Remove(waiter);
  waiter.Handle.Unpark();
}

}  // namespace qm
