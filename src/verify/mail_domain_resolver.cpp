#include "verify/mail_domain_resolver.h"

#include <arpa/inet.h>
#include <ares.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <vector>

namespace qm::verify {
namespace {

constexpr int kClassIn = 1;
constexpr int kTypeA = 1;
constexpr int kTypeMx = 15;
constexpr int kReceiveBuffer = 1 << 20;

void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

std::string FailureText(int status) {
  switch (status) {
    case ARES_ETIMEOUT:
      return "the resolver did not answer";
    case ARES_ECONNREFUSED:
      return "the resolver could not be reached";
    case ARES_ESERVFAIL:
      return "the resolver failed (SERVFAIL)";
    case ARES_EREFUSED:
      return "the resolver refused the question (REFUSED)";
    case ARES_EBADRESP:
    case ARES_EFORMERR:
      return "a garbled answer";
    default:
      return ares_strerror(status);
  }
}

int MillisecondsUntil(TMailDomainResolver::Clock::time_point when,
                      TMailDomainResolver::Clock::time_point now) {
  if (when <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::min<int64_t>(ms, 1000));
}

}  // namespace

struct TMailDomainResolver::Query {
  TMailDomainResolver* Resolver;
  std::string Domain;
  bool AddressQuery;

  static void Answered(void* arg, int status, int /*timeouts*/, unsigned char* answer, int length) {
    Query* query = static_cast<Query*>(arg);
    if (status != ARES_EDESTRUCTION && status != ARES_ECANCELLED) {
      query->Resolver->OnAnswer(*query, status, answer, length);
    }
    delete query;
  }
};

std::optional<std::string> ParseResolverAddress(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view address = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return std::nullopt;
  int portNumber = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
    portNumber = portNumber * 10 + (c - '0');
  }
  if (portNumber < 1 || portNumber > 65535) return std::nullopt;
  unsigned char binary[16];
  if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
    const std::string inner(address.substr(1, address.size() - 2));
    if (inet_pton(AF_INET6, inner.c_str(), binary) != 1) return std::nullopt;
  } else {
    const std::string plain(address);
    if (inet_pton(AF_INET, plain.c_str(), binary) != 1) return std::nullopt;
  }
  return std::string(address) + ":" + std::to_string(portNumber);
}

TMailDomainResolver::TMailDomainResolver(Options options) : options_(std::move(options)) {
  InitLibraryOnce();
  std::string servers;
  if (!options_.Server.empty()) {
    std::optional<std::string> parsed = ParseResolverAddress(options_.Server);
    if (!parsed) {
      throw EVerifyError("the resolver '" + options_.Server +
                         "' is no ADDR:PORT (an IPv4 address or [IPv6] and a port)");
    }
    servers = *parsed;
  }
  ares_options aresOptions{};
  // Answers that come in while the thread waits for the CPU queue up rather than being
  // dropped and asked again a timeout later.
  aresOptions.socket_receive_buffer_size = kReceiveBuffer;
  // Tries within the deadline: c-ares doubles the wait of each retry.
  const auto deadlineMs = options_.Deadline.count();
  aresOptions.timeout = static_cast<int>(std::clamp<int64_t>(deadlineMs / 3, 50, 2000));
  aresOptions.tries = 2;
  // A failing or refusing resolver is reported as such, not as one that could not be reached.
  aresOptions.flags = ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES | ARES_FLAG_NOCHECKRESP;
  ares_channel channel = nullptr;
  int status = ares_init_options(&channel, &aresOptions,
                                 ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS |
                                     ARES_OPT_SOCK_RCVBUF);
  if (status != ARES_SUCCESS) {
    throw EVerifyError(std::string("cannot start the DNS resolver: ") + ares_strerror(status));
  }
  if (!servers.empty() &&
      (status = ares_set_servers_ports_csv(channel, servers.c_str())) != ARES_SUCCESS) {
    ares_destroy(channel);
    throw EVerifyError("cannot use the resolver " + servers + ": " + ares_strerror(status));
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    ares_destroy(channel);
    throw EVerifyError("cannot start the DNS resolver: no event descriptor");
  }
  channel_ = channel;
  thread_ = std::thread([this] { Run(); });
}

TMailDomainResolver::~TMailDomainResolver() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  ares_destroy(static_cast<ares_channel>(channel_));
  close(wakeFd_);
}

void TMailDomainResolver::Wake() {
  const uint64_t one = 1;
  // A full counter already wakes the thread.
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

const TMailDomainResolver::Entry* TMailDomainResolver::StartLocked(std::string_view domain,
                                                                  bool& wake) {
  if (const auto found = entries_.find(domain); found != entries_.end()) return &found->second;
  const Clock::time_point deadline = Clock::now() + options_.Deadline;
  entries_.emplace(std::string(domain), Entry{{}, deadline});
  queued_.emplace_back(domain);
  deadlines_.emplace_back(deadline, std::string(domain));
  ++counts_.Requested;
  if (!wakePending_ && !full_) wake = wakePending_ = true;
  return nullptr;
}

TDomainResult TMailDomainResolver::Request(std::string_view domain) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (const Entry* entry = StartLocked(domain, wake)) return entry->Result;
  }
  if (wake) Wake();
  return {};
}

TMailAnswer TMailDomainResolver::RequestAnswer(std::string_view domain) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (const Entry* entry = StartLocked(domain, wake)) return entry->Result.Answer;
  }
  if (wake) Wake();
  return TMailAnswer::Pending;
}

TDomainResult TMailDomainResolver::Result(std::string_view domain) const {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(domain);
  return found == entries_.end() ? TDomainResult{} : found->second.Result;
}

TDomainResult TMailDomainResolver::Wait(std::string_view domain, Clock::time_point until) {
  Request(domain);
  std::unique_lock lock(mutex_);
  Entry& entry = entries_.find(domain)->second;  // never erased while the resolver lives
  const auto pending = [&entry] { return entry.Result.Answer == TMailAnswer::Pending; };
  settled_.wait_until(lock, std::min(until, entry.Deadline), [&] { return !pending(); });
  // The thread settles at the deadline; a thread running late does not hold the caller.
  if (pending()) ExpireLocked(Clock::now());
  return entry.Result;
}

TMailDomainResolver::Counts TMailDomainResolver::Statistics() const {
  Counts counts;
  {
    std::lock_guard lock(mutex_);
    counts = counts_;
  }
  counts.Polls = polls_.load(std::memory_order_relaxed);
  clockid_t clock{};
  timespec used{};
  if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) == 0 &&
      clock_gettime(clock, &used) == 0) {
    counts.ThreadCpuSeconds = static_cast<double>(used.tv_sec) + used.tv_nsec * 1e-9;
  }
  return counts;
}

void TMailDomainResolver::ExpireLocked(Clock::time_point now) {
  bool any = false;
  while (!deadlines_.empty() && deadlines_.front().first <= now) {
    Entry& entry = entries_.find(deadlines_.front().second)->second;
    if (entry.Result.Answer == TMailAnswer::Pending) {
      entry.Result = {TMailAnswer::Unchecked,
                      "no answer within " + std::to_string(options_.Deadline.count()) + " ms"};
      ++counts_.TimedOut;
      any = true;
    }
    deadlines_.pop_front();
  }
  if (any) settled_.notify_all();
}

void TMailDomainResolver::Settle(const std::string& domain, TMailAnswer answer,
                                 std::string reason) {
  std::lock_guard lock(mutex_);
  Entry& entry = entries_.find(domain)->second;
  // An answer after the deadline comes too late: the row was told "unchecked" already.
  if (entry.Result.Answer != TMailAnswer::Pending) return;
  entry.Result = {answer, std::move(reason)};
  settled_.notify_all();
}

void TMailDomainResolver::SendQueued(Clock::time_point& next) {
  std::vector<std::string> sending;
  {
    std::lock_guard lock(mutex_);
    ExpireLocked(Clock::now());
    if (!deadlines_.empty()) next = std::min(next, deadlines_.front().first);
    wakePending_ = false;
    while (!queued_.empty() && inFlight_ + sending.size() < options_.MaxInFlight) {
      std::string domain = std::move(queued_.front());
      queued_.pop_front();
      if (entries_.find(domain)->second.Result.Answer == TMailAnswer::Pending) {
        sending.push_back(std::move(domain));
      }
    }
    full_ = !queued_.empty();
  }
  for (const std::string& domain : sending) Send(domain, false);
}

void TMailDomainResolver::Send(const std::string& domain, bool addressQuery) {
  {
    std::lock_guard lock(mutex_);
    ++counts_.Queries;
  }
  ++inFlight_;
  ares_query(static_cast<ares_channel>(channel_), domain.c_str(), kClassIn,
             addressQuery ? kTypeA : kTypeMx, &Query::Answered,
             new Query{this, domain, addressQuery});
}

void TMailDomainResolver::OnAnswer(Query& query, int status, const unsigned char* answer,
                                   int length) {
  --inFlight_;
  if (status == ARES_ENOTFOUND) {
    Settle(query.Domain, TMailAnswer::NoMail, "no such domain");
    return;
  }
  if (!query.AddressQuery) {
    if (status == ARES_SUCCESS) {
      ares_mx_reply* records = nullptr;
      status = ares_parse_mx_reply(answer, length, &records);
      if (status == ARES_SUCCESS) {
        bool exchange = false;
        for (const ares_mx_reply* record = records; record; record = record->next) {
          if (record->host != nullptr && record->host[0] != '\0') exchange = true;
        }
        ares_free_data(records);
        // A null MX (exchange ".") says the domain takes no mail.
        if (exchange) {
          Settle(query.Domain, TMailAnswer::Mail, {});
        } else {
          Settle(query.Domain, TMailAnswer::NoMail, "a null MX");
        }
        return;
      }
    }
    if (status == ARES_ENODATA) {
      Send(query.Domain, true);
      return;
    }
    Settle(query.Domain, TMailAnswer::Unchecked, FailureText(status));
    return;
  }
  if (status == ARES_SUCCESS) {
    ares_addrttl addresses[4];
    int count = 4;
    status = ares_parse_a_reply(answer, length, nullptr, addresses, &count);
    if (status == ARES_SUCCESS && count > 0) {
      Settle(query.Domain, TMailAnswer::Mail, {});
      return;
    }
    if (status == ARES_SUCCESS) status = ARES_ENODATA;
  }
  if (status == ARES_ENODATA) {
    Settle(query.Domain, TMailAnswer::NoMail, "neither MX nor A records");
    return;
  }
  Settle(query.Domain, TMailAnswer::Unchecked, FailureText(status));
}

void TMailDomainResolver::Run() {
  const ares_channel channel = static_cast<ares_channel>(channel_);
  while (true) {
    Clock::time_point next = Clock::now() + std::chrono::seconds(1);
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    SendQueued(next);

    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    pollfd fds[ARES_GETSOCK_MAXNUM + 1];
    nfds_t count = 0;
    fds[count++] = {wakeFd_, POLLIN, 0};
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      const bool readable = ARES_GETSOCK_READABLE(bits, i);
      const bool writable = ARES_GETSOCK_WRITABLE(bits, i);
      if (!readable && !writable) break;
      fds[count++] = {sockets[i], static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)),
                      0};
    }
    const Clock::time_point now = Clock::now();
    int waitMs = MillisecondsUntil(next, now);
    timeval longest{waitMs / 1000, (waitMs % 1000) * 1000};
    timeval chosen{};
    if (const timeval* aresWait = ares_timeout(channel, &longest, &chosen)) {
      waitMs = static_cast<int>(aresWait->tv_sec * 1000 + (aresWait->tv_usec + 999) / 1000);
    }
    polls_.fetch_add(1, std::memory_order_relaxed);
    if (poll(fds, count, waitMs) < 0 && errno != EINTR) waitMs = 0;

    if (fds[0].revents != 0) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
    }
    bool processed = false;
    for (nfds_t i = 1; i < count; ++i) {
      const short events = fds[i].revents;
      if (events == 0) continue;
      const bool in = (events & (POLLIN | POLLERR | POLLHUP)) != 0;
      const bool out = (events & POLLOUT) != 0;
      ares_process_fd(channel, in ? fds[i].fd : ARES_SOCKET_BAD, out ? fds[i].fd : ARES_SOCKET_BAD);
      processed = true;
    }
    // Retries and c-ares's own time-outs, which every call above has looked at already.
    if (!processed) ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
  }
}

}  // namespace qm::verify
