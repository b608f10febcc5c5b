#pragma once
// Starting a real server program (nginx, dnsmasq) as a child of the test on a loopback port:
// a free port, the program run with its output in a log, a wait until it accepts
// connections, and a stop that waits for it. The child gets SIGTERM when the test program
// dies without stopping it, so create it on a thread that outlives the server object.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

// A loopback port free for `socketType` (SOCK_STREAM or SOCK_DGRAM) right now; the server
// binds it a moment later, and a start that finds it taken is tried again. 0 when none.
int FreeLoopbackPort(int socketType);

// True when something on 127.0.0.1:`port` accepts a TCP connection within `timeout`.
bool AcceptsConnections(int port, std::chrono::milliseconds timeout);

std::string ReadWholeFile(const std::filesystem::path& path);

class ChildServer {
 public:
  ChildServer() = default;
  ~ChildServer() { Stop(); }
  ChildServer(const ChildServer&) = delete;
  ChildServer& operator=(const ChildServer&) = delete;

  // Runs `args` (an absolute program path first) with /dev/null as input and its output
  // appended to `outputLog`, then waits up to 20 s until it accepts connections on `port`.
  // False, with the reason in `failure`, when it could not run, ended, or never listened.
  bool Start(const std::vector<std::string>& args, const std::string& outputLog, int port,
             std::string& failure);
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace qm::test
