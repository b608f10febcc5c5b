#include "hostile/local_site.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace qm::bench {
namespace {

// A request head longer than this is no request of a crawler's.
constexpr size_t kMaxHeadBytes = 1u << 20;
constexpr auto kReadTimeout = std::chrono::seconds(10);
// A client that reads nothing for this long has given up on the page.
constexpr auto kSendTimeout = std::chrono::seconds(90);
// After the answer, the client closes; waiting for that keeps a reset from eating the end.
constexpr auto kCloseTimeout = std::chrono::seconds(5);

}  // namespace

bool SiteReply::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!site_.WaitFor(fd_, POLLOUT, kSendTimeout)) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool SiteReply::SendRepeated(std::string_view block, size_t total,
                             std::chrono::milliseconds pause) {
  for (size_t sent = 0; sent < total;) {
    const size_t piece = std::min(block.size(), total - sent);
    if (!Send(block.substr(0, piece))) return false;
    sent += piece;
    if (pause.count() > 0 && sent < total && !Pause(pause)) return false;
  }
  return true;
}

bool SiteReply::Pause(std::chrono::milliseconds pause) {
  pollfd stop{site_.stopPipe_[0], POLLIN, 0};
  for (;;) {
    const int ready = poll(&stop, 1, static_cast<int>(pause.count()));
    if (ready < 0 && errno == EINTR) continue;
    return ready == 0;
  }
}

LocalSite::LocalSite(Script script, const std::string& address)
    : script_(std::move(script)), address_(address) {
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  socklen_t length = sizeof bound;
  if (listenFd_ < 0 || inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
      listen(listenFd_, SOMAXCONN) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    if (listenFd_ >= 0) close(listenFd_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    throw std::runtime_error("cannot listen on " + address);
  }
  port_ = ntohs(bound.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LocalSite::~LocalSite() {
  stopping_ = true;
  const char byte = 0;
  while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor_.join();
  // The acceptor has ended: nobody adds to the list any more.
  for (Connection& connection : connections_) connection.Thread.join();
  close(listenFd_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

std::string LocalSite::Origin() const {
  return "http://" + address_ + ":" + std::to_string(port_);
}

size_t LocalSite::Requests(std::string_view prefix) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const SiteRequest& r) {
    return std::string_view(r.Target).substr(0, prefix.size()) == prefix;
  }));
}

size_t LocalSite::RequestsOf(std::string_view target) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(
      log_.begin(), log_.end(), [&](const SiteRequest& r) { return r.Target == target; }));
}

std::vector<SiteRequest> LocalSite::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

bool LocalSite::WaitFor(int fd, short events, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stopping_.load()) return false;
    pollfd fds[2] = {{fd, events, 0}, {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return false;
    if (ready > 0) return true;
  }
}

void LocalSite::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Threads that have ended are joined as new ones come, so a long run keeps few stacks.
    std::erase_if(connections_, [](Connection& connection) {
      if (!connection.Done->load()) return false;
      connection.Thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    connections_.push_back({std::thread([this, fd, done] {
                              Serve(fd);
                              close(fd);
                              done->store(true);
                            }),
                            done});
  }
}

void LocalSite::Serve(int fd) {
  std::string received;
  size_t end = std::string::npos;
  while (end == std::string::npos) {
    if (received.size() > kMaxHeadBytes || !WaitFor(fd, POLLIN, kReadTimeout)) return;
    char buffer[16384];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    received.append(buffer, static_cast<size_t>(n));
    end = received.find("\r\n\r\n");
  }
  SiteRequest request;
  request.Head = received.substr(0, end + 4);
  const size_t targetStart = request.Head.find(' ');
  const size_t targetEnd = request.Head.find(' ', targetStart + 1);
  if (targetStart != std::string::npos && targetEnd != std::string::npos) {
    request.Target = request.Head.substr(targetStart + 1, targetEnd - targetStart - 1);
  }
  {
    std::lock_guard lock(mutex_);
    log_.push_back(request);
  }
  SiteReply reply(*this, fd);
  script_(request, reply);
  shutdown(fd, SHUT_WR);
  while (WaitFor(fd, POLLIN, kCloseTimeout)) {
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
}

std::string ReplyHead(std::string_view status, const std::vector<std::string>& headers) {
  std::string head = "HTTP/1.1 " + std::string(status) + "\r\n";
  for (const std::string& header : headers) head += header + "\r\n";
  return head + "Connection: close\r\n\r\n";
}

std::string HtmlReply(std::string_view body) {
  return ReplyHead("200 OK", {"Content-Type: text/html; charset=utf-8",
                              "Content-Length: " + std::to_string(body.size())}) +
         std::string(body);
}

}  // namespace qm::bench
