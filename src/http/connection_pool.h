#pragma once
// Connections shared by every page of a run: kept alive between requests to the same
// scheme, host and port (TLS sessions too), and never more than a limit of them open to one
// host at once, over all pages. Any thread or fiber may call it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "http/fiber_scheduler.h"
#include "http/tls_socket.h"

namespace qm {

struct TConnectionPoolOptions {
  // Off: no connection outlives its page (a client still reuses its own for the page's
  // redirects); only the limit per host applies.
  bool KeepAlive = true;
  // Connections open to one host at once, idle ones included.
  int HostLimit = 8;
  // An idle connection older than this is closed rather than used.
  std::chrono::milliseconds IdleLimit{15000};
  // Requests one connection carries before it is closed.
  int RequestLimit = 100;
  // Idle connections kept over all hosts.
  size_t MaxIdle = 512;
};

struct TConnectionPoolStats {
  uint64_t Granted = 0;   // requests given a connection or room for one
  uint64_t Reused = 0;    // of them, given an idle connection
  uint64_t Retried = 0;   // requests sent again after a kept connection closed unanswered
  uint64_t Resumed = 0;   // TLS handshakes that resumed an earlier session
  uint64_t Waited = 0;    // requests that waited for room under the host limit
  int MostOpenToOneHost = 0;
};

class TConnectionPool {
 public:
  static constexpr int kLeastHostLimit = 1;
  static constexpr int kMostHostLimit = 64;
  static constexpr int kDefaultHostLimit = 8;

  explicit TConnectionPool(TConnectionPoolOptions options = {});
  ~TConnectionPool();
  TConnectionPool(const TConnectionPool&) = delete;
  TConnectionPool& operator=(const TConnectionPool&) = delete;

  const TConnectionPoolOptions& Options() const { return options_; }

  struct TLease {
    bool Granted = false;                // false: no room came before the deadline
    std::unique_ptr<TTlsSocket> Socket;  // an idle connection for the key, or null: open one
    int Requests = 0;                    // requests the idle connection has carried
  };
  // Room for one connection to `host`, for `key` (scheme, server and port): an idle
  // connection of the key when one is alive, else room to open one, waited for until
  // `deadline` while the host has all its connections open.
  TLease Acquire(const std::string& key, const std::string& host,
                 std::chrono::steady_clock::time_point deadline);
  // An open connection taken with Acquire, its last answer read whole: kept for the key's
  // next request, or closed when keep-alive is off, it has carried its requests or the
  // pool holds enough idle ones.
  void GiveBack(const std::string& key, const std::string& host,
                std::unique_ptr<TTlsSocket> socket, int requests);
  // Room taken with Acquire whose connection is closed (or was never opened).
  void Closed(const std::string& host);

  // The TLS session last kept for `key`, offered when a connection is opened again.
  std::shared_ptr<ssl_session_st> Session(const std::string& key);
  void KeepSession(const std::string& key, std::shared_ptr<ssl_session_st> session);

  void NoteRetry();
  void NoteResumed();
  TConnectionPoolStats Stats() const;
  size_t IdleCount() const;

 private:
  struct THost {
    int Open = 0;
    TWaitCondition Room;
  };
  struct TIdle {
    std::unique_ptr<TTlsSocket> Socket;
    std::chrono::steady_clock::time_point Since;
    int Requests = 0;
    std::string Host;
  };

  // With lock_ held: an idle connection of `host` under another key closed to make room.
  bool CloseIdleOfHostLocked(const std::string& host);
  void CloseIdleLocked(TIdle& idle);
  void SweepLocked(std::chrono::steady_clock::time_point now);
  THost& HostLocked(const std::string& host);

  const TConnectionPoolOptions options_;
  mutable std::mutex lock_;
  std::unordered_map<std::string, THost> hosts_;
  std::unordered_map<std::string, std::vector<TIdle>> idle_;
  std::unordered_map<std::string, std::shared_ptr<ssl_session_st>> sessions_;
  size_t idleCount_ = 0;
  std::chrono::steady_clock::time_point lastSweep_;
  TConnectionPoolStats stats_;
};

}  // namespace qm
