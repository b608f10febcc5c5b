#pragma once
// Whether a domain takes mail, asked of DNS with c-ares on a thread of its own: its MX
// records, its A records when it has no MX. Each domain is looked up once for the life of
// the resolver (a run), and every lookup ends within a deadline counted from its request:
// answered, or "unchecked" with the reason.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace qm::verify {

class EVerifyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "ADDR:PORT" (an IPv4 address, or an IPv6 one in brackets; port 1 to 65535) as c-ares
// takes it; nullopt when it is not one.
std::optional<std::string> ParseResolverAddress(std::string_view text);

enum class TMailAnswer {
  Pending,    // not answered yet
  Mail,       // MX records, or A records and no MX
  NoMail,     // no such domain, a null MX, neither MX nor A
  Unchecked,  // the resolver failed, answered garbage or not within the deadline
};

struct TDomainResult {
  TMailAnswer Answer = TMailAnswer::Pending;
  std::string Reason;  // for NoMail and Unchecked, in words
};

class TMailDomainResolver {
 public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    std::string Server;  // "ADDR:PORT"; empty: the system's resolvers
    std::chrono::milliseconds Deadline{5000};
    // Lookups sent and not yet answered: more only overrun a small resolver's socket buffer,
    // whose dropped questions then wait for a retry.
    size_t MaxInFlight = 64;
  };

  // Throws EVerifyError when the server is no "ADDR:PORT" or c-ares cannot start.
  explicit TMailDomainResolver(Options options);
  ~TMailDomainResolver();  // ends its thread; lookups not answered are dropped
  TMailDomainResolver(const TMailDomainResolver&) = delete;
  TMailDomainResolver& operator=(const TMailDomainResolver&) = delete;

  // Starts the domain's lookup unless it has one; never waits. The answer so far.
  TDomainResult Request(std::string_view domain);
  // Request's answer without its reason: no copy of it for a row that only shows flags.
  TMailAnswer RequestAnswer(std::string_view domain);
  // The answer so far; Pending also for a domain never requested.
  TDomainResult Result(std::string_view domain) const;
  // Waits for the domain's answer until `until` (its own deadline ends the wait sooner);
  // requests it first when needed.
  TDomainResult Wait(std::string_view domain, Clock::time_point until = Clock::time_point::max());

  struct Counts {
    uint64_t Requested = 0;  // domains
    uint64_t Queries = 0;    // DNS queries sent (MX, then A for a domain without MX)
    uint64_t TimedOut = 0;   // domains not answered within the deadline
    uint64_t Polls = 0;           // times the lookup thread waited for its sockets
    double ThreadCpuSeconds = 0;  // the lookup thread's CPU time so far
  };
  Counts Statistics() const;

 private:
  struct Entry {
    TDomainResult Result;
    Clock::time_point Deadline;
  };
  struct Query;
  friend struct Query;

  void Run();
  // The domain's entry when it has one; else starts its lookup, setting `wake` when the
  // thread is to be woken for it, and returns null.
  const Entry* StartLocked(std::string_view domain, bool& wake);
  // Ends lookups past their deadline, lowering `next` to the next deadline, and sends what
  // is queued as far as the limit allows.
  void SendQueued(Clock::time_point& next);
  void Send(const std::string& domain, bool addressQuery);
  void ExpireLocked(Clock::time_point now);
  void Settle(const std::string& domain, TMailAnswer answer, std::string reason);
  void OnAnswer(Query& query, int status, const unsigned char* answer, int length);
  void Wake();

  // Domains looked up without a copy of the name asked about.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  const Options options_;
  void* channel_ = nullptr;  // ares_channel, used on the thread only
  int wakeFd_ = -1;          // an eventfd: new requests, or the end

  mutable std::mutex mutex_;
  std::condition_variable settled_;
  std::unordered_map<std::string, Entry, NameHash, std::equal_to<>> entries_;
  std::deque<std::string> queued_;  // requested, not yet sent
  // Requests in order, so in order of their deadlines.
  std::deque<std::pair<Clock::time_point, std::string>> deadlines_;
  size_t inFlight_ = 0;  // queries c-ares holds (the thread only)
  // The thread is woken for a request only when it has taken the last wake and has room to
  // send: a wake per request would cost two system calls each, and a thread at its limit
  // sends as answers come in anyway.
  bool wakePending_ = false;
  bool full_ = false;
  bool stopping_ = false;
  Counts counts_;
  std::atomic<uint64_t> polls_{0};

  std::thread thread_;  // last: starts once everything it reads is made
};

}  // namespace qm::verify
