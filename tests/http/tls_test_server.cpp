#include "tls_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace qm::test {

bool TlsConnection::ReadUntil(const std::string& marker, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (received_.find(marker) == std::string::npos) {
    char buffer[4096];
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    if (n > 0) {
      received_.append(buffer, static_cast<size_t>(n));
      continue;
    }
    const int error = SSL_get_error(ssl_, n);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
    if (!server_.WaitReadable(fd_, deadline)) return false;
  }
  return true;
}

bool TlsConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    const int error = SSL_get_error(ssl_, n);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
    pollfd p{fd_, static_cast<short>(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    poll(&p, 1, 100);  // bounded so that a stop is noticed
    if (server_.Stopping()) return false;
  }
  return true;
}

void TlsConnection::StaySilent() {
  server_.WaitReadable(-1, std::chrono::steady_clock::now() + std::chrono::seconds(60));
}

void TlsConnection::Abort() {
  SSL_set_quiet_shutdown(ssl_, 1);
  ::shutdown(fd_, SHUT_RDWR);
}

std::string TlsConnection::Received() {
  return received_;
}

TlsTestServer::TlsTestServer(const Options& options, Script script)
    : options_(options), script_(std::move(script)) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (context_ == nullptr ||
      SSL_CTX_use_certificate_chain_file(context_, options.Certificate.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_, options.Key.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context_);
    throw std::runtime_error("cannot load the test server's certificate");
  }
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsTestServer::~TlsTestServer() {
  stopping_ = true;
  const char byte = 1;
  (void)!write(stopPipe_[1], &byte, 1);
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
  close(listenFd_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
  SSL_CTX_free(context_);
}

TlsTestServer::Script TlsTestServer::Replay(std::string response) {
  return [response = std::move(response)](TlsConnection& c) {
    c.ReadHead();
    c.Send(response);
  };
}

bool TlsTestServer::WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stopping_) return false;
    pollfd p[2] = {{stopPipe_[0], POLLIN, 0}, {fd, POLLIN, 0}};
    const int ready = poll(p, fd < 0 ? 1 : 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (p[0].revents & POLLIN)) return false;
    return true;
  }
}

void TlsTestServer::AcceptLoop() {
  while (WaitReadable(listenFd_, std::chrono::steady_clock::now() + std::chrono::hours(1))) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void TlsTestServer::Serve(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool ready = true;
  if (options_.AsProxy) {
    std::string head;
    while (ready && head.find("\r\n\r\n") == std::string::npos) {
      char byte;  // one at a time: nothing after the head may be taken from the TLS stream
      const ssize_t n = recv(fd, &byte, 1, 0);
      if (n == 1) {
        head += byte;
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || !WaitReadable(fd, deadline)) {
        ready = false;
      }
    }
    {
      std::lock_guard<std::mutex> guard(mutex_);
      connectHeads_.push_back(head);
    }
    const std::string answer = "HTTP/1.1 200 Connection established\r\n\r\n";
    ready = ready && send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(answer.size());
  }
  SSL* ssl = ready ? SSL_new(context_) : nullptr;
  if (ssl != nullptr) {
    SSL_set_fd(ssl, fd);
    for (;;) {
      const int result = SSL_accept(ssl);
      if (result == 1) break;
      const int error = SSL_get_error(ssl, result);
      if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
          !WaitReadable(fd, deadline)) {
        ready = false;
        break;
      }
    }
  }
  if (ready && ssl != nullptr) {
    TlsConnection connection(*this, fd, ssl);
    script_(connection);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      const std::string& received = connection.Received();
      requests_.push_back(received);
    }
    SSL_shutdown(ssl);
  }
  SSL_free(ssl);
  close(fd);
  std::lock_guard<std::mutex> guard(mutex_);
  ++finished_;
  changed_.notify_all();
}

std::vector<std::string> TlsTestServer::ConnectHeads() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return connectHeads_;
}

std::vector<std::string> TlsTestServer::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

bool TlsTestServer::WaitFinished(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return finished_ >= count; });
}

}  // namespace qm::test
