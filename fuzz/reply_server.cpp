#include "reply_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "fuzz_check.h"

namespace qm::fuzz {

TReplyServer::TReplyServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  Check(listener_ >= 0 && bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(listener_, 16) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
        "reply server cannot listen");
  port_ = ntohs(address.sin_port);
}

TReplyServer::~TReplyServer() {
  Stop();
  close(listener_);
}

void TReplyServer::Start(std::string reply) {
  Stop();
  reply_ = std::move(reply);
  Check(pipe2(wake_, O_CLOEXEC) == 0, "reply server cannot make its wake pipe");
  thread_ = std::thread([this] { Serve(); });
}

void TReplyServer::Stop() {
  if (!thread_.joinable()) return;
  const char byte = 0;
  Check(write(wake_[1], &byte, 1) == 1, "reply server cannot be woken");
  thread_.join();
  close(wake_[0]);
  close(wake_[1]);
  wake_[0] = wake_[1] = -1;
}

bool TReplyServer::WaitFor(int fd, short events) {
  pollfd fds[2] = {{fd, events, 0}, {wake_[0], POLLIN, 0}};
  while (poll(fds, 2, -1) < 0) {
  }
  return (fds[1].revents & POLLIN) == 0;
}

void TReplyServer::Serve() {
  while (WaitFor(listener_, POLLIN)) {
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0) continue;
    Answer(connection);
    close(connection);
  }
}

void TReplyServer::Answer(int connection) {
  size_t sent = 0;
  while (sent < reply_.size()) {
    if (!WaitFor(connection, POLLOUT)) return;
    const ssize_t n = send(connection, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;  // the client has gone
    if (n > 0) sent += static_cast<size_t>(n);
  }
  shutdown(connection, SHUT_WR);
  char sink[4096];
  while (WaitFor(connection, POLLIN)) {
    const ssize_t n = recv(connection, sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

}  // namespace qm::fuzz
