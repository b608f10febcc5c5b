#include "http/connection_pool.h"

#include <algorithm>

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSweepEvery = std::chrono::seconds(1);
// Sessions kept for resumption, over all servers.
constexpr size_t kMaxSessions = 4096;

}  // namespace

TConnectionPool::TConnectionPool(TConnectionPoolOptions options)
    : options_([&] {
        options.HostLimit = std::clamp(options.HostLimit, kLeastHostLimit, kMostHostLimit);
        options.RequestLimit = std::max(options.RequestLimit, 1);
        return options;
      }()),
      lastSweep_(Clock::now()) {}

TConnectionPool::~TConnectionPool() = default;

TConnectionPool::THost& TConnectionPool::HostLocked(const std::string& host) {
  return hosts_.try_emplace(host).first->second;
}

void TConnectionPool::CloseIdleLocked(TIdle& idle) {
  idle.Socket.reset();
  --idleCount_;
  THost& host = HostLocked(idle.Host);
  --host.Open;
  host.Room.notify_one();
}

bool TConnectionPool::CloseIdleOfHostLocked(const std::string& host) {
  for (auto& [key, list] : idle_) {
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->Host != host) continue;
      TIdle idle = std::move(*it);
      list.erase(it);
      CloseIdleLocked(idle);
      return true;
    }
  }
  return false;
}

void TConnectionPool::SweepLocked(Clock::time_point now) {
  if (now - lastSweep_ < kSweepEvery) return;
  lastSweep_ = now;
  for (auto it = idle_.begin(); it != idle_.end();) {
    std::vector<TIdle>& list = it->second;
    for (size_t i = 0; i < list.size();) {
      if (now - list[i].Since <= options_.IdleLimit) {
        ++i;
        continue;
      }
      TIdle idle = std::move(list[i]);
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      CloseIdleLocked(idle);
    }
    it = list.empty() ? idle_.erase(it) : std::next(it);
  }
}

TConnectionPool::TLease TConnectionPool::Acquire(const std::string& key, const std::string& host,
                                                 Clock::time_point deadline) {
  std::unique_lock lock(lock_);
  bool waited = false;
  for (;;) {
    const auto now = Clock::now();
    if (const auto found = idle_.find(key); found != idle_.end()) {
      std::vector<TIdle>& list = found->second;
      // The most recently used first: the least likely to have been closed by its server.
      while (!list.empty()) {
        TIdle idle = std::move(list.back());
        list.pop_back();
        // Readable while idle means closed by the server, or bytes nobody asked for.
        if (now - idle.Since > options_.IdleLimit || idle.Socket->WaitReadable(0) ||
            !idle.Socket->PendingInput.empty()) {
          CloseIdleLocked(idle);
          continue;
        }
        --idleCount_;
        ++stats_.Granted;
        ++stats_.Reused;
        idle.Socket->LastSocketError = 0;
        return {true, std::move(idle.Socket), idle.Requests};
      }
    }
    THost& entry = HostLocked(host);
    if (entry.Open < options_.HostLimit) {
      ++entry.Open;
      ++stats_.Granted;
      stats_.MostOpenToOneHost = std::max(stats_.MostOpenToOneHost, entry.Open);
      return {true, nullptr, 0};
    }
    if (CloseIdleOfHostLocked(host)) continue;
    if (!waited) {
      waited = true;
      ++stats_.Waited;
    }
    if (!entry.Room.wait_until(lock, deadline)) {
      // A wake meant for this waiter is passed on to the next one.
      entry.Room.notify_one();
      return {};
    }
  }
}

void TConnectionPool::GiveBack(const std::string& key, const std::string& host,
                               std::unique_ptr<TTlsSocket> socket, int requests) {
  const auto now = Clock::now();
  std::unique_ptr<TTlsSocket> closing;
  std::lock_guard guard(lock_);
  THost& entry = HostLocked(host);
  const bool keep = options_.KeepAlive && socket && socket->Handle != TBlockingSocket::kInvalidHandle &&
                    requests < options_.RequestLimit && socket->PendingInput.empty() &&
                    idleCount_ < options_.MaxIdle;
  if (!keep) {
    closing = std::move(socket);
    --entry.Open;
  } else {
    // A kept connection holds no buffer of its last answer.
    socket->PendingInput.Release();
    socket->Deadline = Clock::time_point::max();
    socket->MaxLineBytes = TBlockingSocket::kMaxLineBytes;
    idle_[key].push_back({std::move(socket), now, requests, host});
    ++idleCount_;
  }
  entry.Room.notify_one();
  SweepLocked(now);
}

void TConnectionPool::Closed(const std::string& host) {
  std::lock_guard guard(lock_);
  THost& entry = HostLocked(host);
  --entry.Open;
  entry.Room.notify_one();
}

std::shared_ptr<ssl_session_st> TConnectionPool::Session(const std::string& key) {
  if (!options_.KeepAlive) return nullptr;
  std::lock_guard guard(lock_);
  const auto found = sessions_.find(key);
  return found == sessions_.end() ? nullptr : found->second;
}

void TConnectionPool::KeepSession(const std::string& key,
                                  std::shared_ptr<ssl_session_st> session) {
  if (!options_.KeepAlive || !session) return;
  std::lock_guard guard(lock_);
  if (sessions_.size() >= kMaxSessions && sessions_.count(key) == 0) sessions_.clear();
  sessions_[key] = std::move(session);
}

void TConnectionPool::NoteRetry() {
  std::lock_guard guard(lock_);
  ++stats_.Retried;
}

void TConnectionPool::NoteResumed() {
  std::lock_guard guard(lock_);
  ++stats_.Resumed;
}

TConnectionPoolStats TConnectionPool::Stats() const {
  std::lock_guard guard(lock_);
  return stats_;
}

size_t TConnectionPool::IdleCount() const {
  std::lock_guard guard(lock_);
  return idleCount_;
}

}  // namespace qm
