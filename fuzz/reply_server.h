#pragma once
// A loopback server for fuzzing the HTTP client: every connection gets the same bytes.
// The reply is sent whole and the sending side shut, then what the client sends is read
// until it closes, so the client always reads the reply to its end (never a reset) and
// never waits for more.
#include <cstdint>
#include <string>
#include <thread>

namespace qm::fuzz {

class TReplyServer {
 public:
  TReplyServer();  // listens on an ephemeral port of 127.0.0.1
  ~TReplyServer();
  TReplyServer(const TReplyServer&) = delete;
  TReplyServer& operator=(const TReplyServer&) = delete;

  uint16_t Port() const { return port_; }
  // Answers connections with `reply` until Stop.
  void Start(std::string reply);
  void Stop();

 private:
  void Serve();
  void Answer(int connection);
  // False when Stop was asked for while waiting.
  bool WaitFor(int fd, short events);

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::string reply_;
  std::thread thread_;
};

}  // namespace qm::fuzz
