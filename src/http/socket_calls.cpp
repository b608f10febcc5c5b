#include "http/socket_calls.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <thread>

#include "http/fiber_scheduler.h"
#include "http/socket_errors.h"

namespace qm::sockets {
namespace {

int32_t ResolveHere(const std::string& host, in_addr& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  const int savedErrno = errno;
  if (result != 0) return WinsockErrorFromResolver(result, savedErrno);
  int32_t code = kWsaNoData;
  for (const addrinfo* entry = answer; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
      code = 0;
      break;
    }
  }
  ::freeaddrinfo(answer);
  return code;
}

// Name lookups of fibers run on these threads: a slow resolver must not hold up the other
// pages of a fiber's thread.
class TLookupThreads {
 public:
  static constexpr int kMaxThreads = 16;

  int32_t Resolve(const std::string& host, in_addr& address) {
    auto job = std::make_shared<TJob>();
    job->Host = host;
    {
      std::lock_guard guard(lock_);
      jobs_.push_back(job);
      if (idle_ == 0 && threads_ < kMaxThreads) {
        try {
          std::thread([this] { Serve(); }).detach();
          ++threads_;
        } catch (...) {
          if (threads_ == 0) {
            jobs_.pop_back();
            return ResolveHere(host, address);
          }
        }
      }
    }
    work_.notify_one();
    std::unique_lock wait(job->Lock);
    job->Finished.wait(wait, [&] { return job->Done; });
    address = job->Address;
    return job->Code;
  }

 private:
  struct TJob {
    std::string Host;
    in_addr Address{};
    int32_t Code = 0;
    bool Done = false;
    std::mutex Lock;
    TWaitCondition Finished;
  };

  void Serve() {
    for (;;) {
      std::shared_ptr<TJob> job;
      {
        std::unique_lock wait(lock_);
        ++idle_;
        work_.wait(wait, [&] { return !jobs_.empty(); });
        --idle_;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      in_addr address{};
      const int32_t code = ResolveHere(job->Host, address);
      {
        std::lock_guard guard(job->Lock);
        job->Address = address;
        job->Code = code;
        job->Done = true;
      }
      job->Finished.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable work_;
  std::deque<std::shared_ptr<TJob>> jobs_;
  int threads_ = 0;
  int idle_ = 0;
};

TLookupThreads& LookupThreads() {
  // Never destroyed: its threads run until the process ends.
  static auto* const threads = new TLookupThreads();
  return *threads;
}

}  // namespace

bool PrepareEntryPoints() {
  return true;
}
bool ReleaseEntryPoints() {
  return true;
}

int32_t LastError() {
  const int32_t code = WinsockErrorFromErrno(errno);
  return code != 0 ? code : kWsaNoRecovery;
}

int Socket(int domain, int type, int protocol) {
  return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

int Close(int fd) {
  return ::close(fd);
}

int Shutdown(int fd, int how) {
  return ::shutdown(fd, how);
}

int Connect(int fd, const sockaddr* address, socklen_t length) {
  return ::connect(fd, address, length);
}

ssize_t Send(int fd, const void* data, size_t length, int flags) {
  // A peer that has gone must show as an error code, not as SIGPIPE ending the program.
  return ::send(fd, data, length, flags | MSG_NOSIGNAL);
}

ssize_t Recv(int fd, void* data, size_t length, int flags) {
  return ::recv(fd, data, length, flags);
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  // A fiber's wait lets the other fibers of its thread run meanwhile.
  if (count == 1 && timeoutMs != 0) {
    if (TFiberScheduler* scheduler = TFiberScheduler::Current()) {
      short revents = 0;
      const int ready = scheduler->WaitIo(fds[0].fd, fds[0].events, timeoutMs, revents);
      if (ready != -2) {
        fds[0].revents = revents;
        return ready;
      }
    }
  }
  return ::poll(fds, count, timeoutMs);
}

int SetOption(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}

int GetOption(int fd, int level, int name, void* value, socklen_t* length) {
  return ::getsockopt(fd, level, name, value, length);
}

int GetSockName(int fd, sockaddr* address, socklen_t* length) {
  return ::getsockname(fd, address, length);
}

int GetPeerName(int fd, sockaddr* address, socklen_t* length) {
  return ::getpeername(fd, address, length);
}

int BytesWaiting(int fd, int* count) {
  return ::ioctl(fd, FIONREAD, count);
}

int32_t ResolveIPv4(const std::string& host, in_addr& address) {
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return 0;
  if (TFiberScheduler::Current() != nullptr) return LookupThreads().Resolve(host, address);
  return ResolveHere(host, address);
}

uint16_t ServicePort(const std::string& name, int protocol) {
  char buffer[1024];
  protoent protocolEntry{};
  protoent* protocolFound = nullptr;
  if (::getprotobynumber_r(protocol, &protocolEntry, buffer, sizeof buffer, &protocolFound) != 0 ||
      !protocolFound || !protocolFound->p_name) {
    return 0;
  }
  const std::string protocolName = protocolFound->p_name;
  servent serviceEntry{};
  servent* serviceFound = nullptr;
  if (::getservbyname_r(name.c_str(), protocolName.c_str(), &serviceEntry, buffer, sizeof buffer,
                        &serviceFound) != 0 ||
      !serviceFound) {
    return 0;
  }
  return ntohs(static_cast<uint16_t>(serviceFound->s_port));
}

}  // namespace qm::sockets
