#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace qm::test {
namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

}  // namespace

long ScriptedConnection::ReadSome(std::chrono::steady_clock::time_point deadline) {
  if (peerClosed_ || fd_ < 0) return 0;
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {server_.stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || fds[1].revents != 0) return -1;
    char buffer[16384];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      peerClosed_ = true;
      return 0;
    }
    std::lock_guard lock(mutex_);
    received_.append(buffer, static_cast<size_t>(n));
    return n;
  }
}

bool ScriptedConnection::ReadUntil(const std::string& marker, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (received_.find(marker) != std::string::npos) return true;
    }
    if (ReadSome(deadline) <= 0) return false;
  }
}

bool ScriptedConnection::ReadTotal(size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (received_.size() >= count) return true;
    }
    if (ReadSome(deadline) <= 0) return false;
  }
}

bool ScriptedConnection::ReadToClose(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const long n = ReadSome(deadline);
    if (n == 0) return true;
    if (n < 0) return false;
  }
}

std::string ScriptedConnection::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

bool ScriptedConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size() && fd_ >= 0) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return sent == bytes.size();
}

bool ScriptedConnection::SendSlowly(const std::string& bytes, size_t pieceSize,
                                    std::chrono::milliseconds pause) {
  pieceSize = std::max<size_t>(1, pieceSize);
  for (size_t at = 0; at < bytes.size(); at += pieceSize) {
    if (at > 0) {
      pollfd stop{server_.stopPipe_[0], POLLIN, 0};
      if (poll(&stop, 1, static_cast<int>(pause.count())) != 0) return false;
    }
    if (!Send(bytes.substr(at, pieceSize))) return false;
  }
  return true;
}

void ScriptedConnection::StaySilent(std::chrono::milliseconds timeout) {
  pollfd stop{server_.stopPipe_[0], POLLIN, 0};
  while (poll(&stop, 1, static_cast<int>(timeout.count())) < 0 && errno == EINTR) {
  }
}

void ScriptedConnection::ShutdownWrite() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

void ScriptedConnection::Reset() {
  if (fd_ < 0) return;
  linger option{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  close(fd_);
  fd_ = -1;
}

void ScriptedConnection::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, SOMAXCONN) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listenFd_ >= 0) close(listenFd_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  const char byte = 0;
  while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
  for (auto& connection : connections_) connection->Close();
  close(listenFd_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    auto connection =
        std::unique_ptr<ScriptedConnection>(new ScriptedConnection(*this, fd, connections_.size()));
    ScriptedConnection* raw = connection.get();
    connections_.push_back(std::move(connection));
    threads_.emplace_back([this, raw] { Run(*raw); });
    changed_.notify_all();
  }
}

void ScriptedServer::Run(ScriptedConnection& connection) {
  if (!stopping_) script_(connection);
  connection.Close();
  std::lock_guard lock(mutex_);
  ++finished_;
  changed_.notify_all();
}

ScriptedServer::Script ScriptedServer::Replay(std::string response) {
  return [response = std::move(response)](ScriptedConnection& c) {
    c.ReadHead();
    c.Send(response);
  };
}

ScriptedServer::Script ScriptedServer::Silent() {
  return [](ScriptedConnection& c) {
    c.ReadHead();
    c.StaySilent();
  };
}

ScriptedServer::Script ScriptedServer::CloseAtOnce() {
  return [](ScriptedConnection&) {};
}

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

size_t ScriptedServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

std::string ScriptedServer::Received(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < connections_.size() ? connections_[index]->Received() : std::string();
}

bool ScriptedServer::WaitReceived(size_t index, const std::string& marker,
                                  std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (index < connections_.size() &&
        connections_[index]->Received().find(marker) != std::string::npos) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Reads are not signalled; re-check often.
    changed_.wait_for(lock, std::chrono::milliseconds(2));
  }
}

bool ScriptedServer::WaitFinished(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return finished_ >= count; });
}

}  // namespace qm::test
