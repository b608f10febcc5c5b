#pragma once
// An in-process TCP server on 127.0.0.1 and an ephemeral port that runs a script for every
// connection it accepts: replay bytes exactly, record what the client sent, stay silent,
// send slowly, close early. Every connection thread is joined in the destructor; waits in a
// script end at once when the server is being destroyed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class ScriptedServer;

// One accepted connection, handed to the script. Everything read is recorded.
class ScriptedConnection {
 public:
  size_t Index() const { return index_; }

  // Reads until `marker` has arrived (true) or the peer closed / `timeout` passed (false).
  bool ReadUntil(const std::string& marker,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads the request head: up to and including the first empty line.
  bool ReadHead(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return ReadUntil("\r\n\r\n", timeout);
  }
  // Reads until `count` bytes in all have been received on this connection.
  bool ReadTotal(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads everything until the peer closes (true) or `timeout` passes (false).
  bool ReadToClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Everything received on this connection so far.
  std::string Received() const;

  // Sends all bytes; false if the peer went away.
  bool Send(const std::string& bytes);
  // Sends in pieces of `pieceSize` bytes with `pause` between them.
  bool SendSlowly(const std::string& bytes, size_t pieceSize, std::chrono::milliseconds pause);
  // Waits without sending or reading, until the server is stopped or `timeout` passes.
  void StaySilent(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Ends our sending direction (the client sees the end of the stream), keeps reading open.
  void ShutdownWrite();
  // Closes with a reset instead of an orderly close.
  void Reset();
  // Closes normally (also done when the script returns).
  void Close();

 private:
  friend class ScriptedServer;
  ScriptedConnection(ScriptedServer& server, int fd, size_t index)
      : server_(server), fd_(fd), index_(index) {}
  // Waits for input or the stop signal; returns bytes read, 0 at close, -1 on timeout/stop.
  long ReadSome(std::chrono::steady_clock::time_point deadline);

  ScriptedServer& server_;
  int fd_;
  size_t index_;
  bool peerClosed_ = false;
  mutable std::mutex mutex_;
  std::string received_;
};

class ScriptedServer {
 public:
  using Script = std::function<void(ScriptedConnection&)>;

  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Reads the request head, sends `response` exactly, closes.
  static Script Replay(std::string response);
  // Reads the request head and then sends nothing until stopped.
  static Script Silent();
  // Accepts and closes at once without reading.
  static Script CloseAtOnce();

  int Port() const { return port_; }
  std::string Url(const std::string& path = "") const;
  size_t ConnectionCount() const;
  // What the client sent on connection `index` (empty when there is no such connection).
  std::string Received(size_t index) const;
  // Waits until connection `index` exists and has received `marker`.
  bool WaitReceived(size_t index, const std::string& marker,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Waits until `count` connections have been accepted and their scripts have finished.
  bool WaitFinished(size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  friend class ScriptedConnection;
  void AcceptLoop();
  void Run(ScriptedConnection& connection);

  Script script_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<ScriptedConnection>> connections_;
  std::vector<std::thread> threads_;
  size_t finished_ = 0;
  std::thread acceptor_;
};

}  // namespace qm::test
