#pragma once
// A web site on a loopback address and an ephemeral port, scripted by one function that
// answers every request. It reads one request per connection, remembers every request head
// (so a benchmark can count what the crawler asked for, and what it sent with it) and closes
// after the answer. Every connection thread is joined when the site goes; a script that
// sends slowly or waits is woken then.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::bench {

struct SiteRequest {
  std::string Target;  // as the request line gave it
  std::string Head;    // the whole head, request line to the empty line
};

class LocalSite;

// The connection a script answers on.
class SiteReply {
 public:
  // Sends all bytes; false when the peer went away or the site is closing.
  bool Send(std::string_view bytes);
  // Sends `block` again and again until `total` bytes went, pausing `pause` after each block.
  bool SendRepeated(std::string_view block, size_t total,
                    std::chrono::milliseconds pause = std::chrono::milliseconds(0));
  // Waits; false when the site is closing.
  bool Pause(std::chrono::milliseconds pause);

 private:
  friend class LocalSite;
  SiteReply(LocalSite& site, int fd) : site_(site), fd_(fd) {}
  LocalSite& site_;
  int fd_;
};

class LocalSite {
 public:
  using Script = std::function<void(const SiteRequest&, SiteReply&)>;

  // Listens on `address` (any of 127.0.0.0/8).
  explicit LocalSite(Script script, const std::string& address = "127.0.0.1");
  ~LocalSite();
  LocalSite(const LocalSite&) = delete;
  LocalSite& operator=(const LocalSite&) = delete;

  // "http://ADDRESS:PORT", and that followed by `target` ("/a/b").
  std::string Origin() const;
  std::string Url(std::string_view target) const { return Origin() + std::string(target); }

  // Requests whose target begins with `prefix`.
  size_t Requests(std::string_view prefix = "") const;
  // Requests whose target is `target` exactly.
  size_t RequestsOf(std::string_view target) const;
  std::vector<SiteRequest> Log() const;

 private:
  friend class SiteReply;
  void AcceptLoop();
  void Serve(int fd);
  // Waits for `events` on `fd`; false when the site is closing or `timeout` passed.
  bool WaitFor(int fd, short events, std::chrono::milliseconds timeout) const;

  Script script_;
  std::string address_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<SiteRequest> log_;
  struct Connection {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };
  // Touched only by the acceptor, and by the destructor once the acceptor has ended.
  std::vector<Connection> connections_;
  std::thread acceptor_;
};

// "HTTP/1.1 STATUS\r\n" with `headers` (each without its line end), "Connection: close" and
// the empty line.
std::string ReplyHead(std::string_view status, const std::vector<std::string>& headers = {});
// A 200 answer of `body` as text/html with its length.
std::string HtmlReply(std::string_view body);

}  // namespace qm::bench
