#pragma once
// An in-process TLS server on 127.0.0.1 and an ephemeral port that runs a script for every
// connection after the handshake. As a proxy it first takes a plain CONNECT head, answers
// 200 and then runs TLS on the same connection. Threads are joined in the destructor, and
// waits in a script end at once when the server is being destroyed.
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class TlsTestServer;

class TlsConnection {
 public:
  // Reads decrypted bytes until `marker` has arrived; false at close or on timeout.
  bool ReadUntil(const std::string& marker,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool ReadHead() { return ReadUntil("\r\n\r\n"); }
  bool Send(const std::string& bytes);
  // Waits until the server is stopped.
  void StaySilent();
  // Closes the connection without a TLS close_notify, as a crashed server would.
  void Abort();
  std::string Received();

 private:
  friend class TlsTestServer;
  TlsConnection(TlsTestServer& server, int fd, SSL* ssl) : server_(server), fd_(fd), ssl_(ssl) {}
  TlsTestServer& server_;
  int fd_;
  SSL* ssl_;
  std::string received_;
};

class TlsTestServer {
 public:
  using Script = std::function<void(TlsConnection&)>;
  struct Options {
    std::string Certificate;
    std::string Key;
    // Take a CONNECT head in plain text before the handshake, as a proxy does.
    bool AsProxy = false;
  };

  TlsTestServer(const Options& options, Script script);
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  // Reads the request head, sends `response` exactly, closes with close_notify.
  static Script Replay(std::string response);

  int Port() const { return port_; }
  // The CONNECT heads and the decrypted requests received, in order of arrival.
  std::vector<std::string> ConnectHeads() const;
  std::vector<std::string> Requests() const;
  // Waits until `count` connections have finished their scripts.
  bool WaitFinished(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool Stopping() const { return stopping_; }

 private:
  friend class TlsConnection;
  void AcceptLoop();
  void Serve(int fd);
  // Waits until `fd` is readable (true) or the deadline passed / the server stops (false).
  bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline);

  Options options_;
  Script script_;
  SSL_CTX* context_ = nullptr;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> connectHeads_;
  std::vector<std::string> requests_;
  std::vector<std::thread> threads_;
  size_t finished_ = 0;
  std::thread acceptor_;
};

}  // namespace qm::test
