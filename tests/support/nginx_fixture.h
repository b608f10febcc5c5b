#pragma once
// A real nginx on a free loopback port with its own configuration, prefix and document root,
// all in a temporary directory; stopped (and waited for) when the object is destroyed, and
// also when the program dies without destroying it. Create it on a thread that outlives it
// (the main thread, or the test's own).
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_server.h"
#include "support/temp_dir.h"

namespace qm::test {

class NginxServer {
 public:
  struct Options {
    int WorkerProcesses = 1;
    bool AccessLog = true;
    // Extra directives placed inside the server block, e.g.
    // "location = /old.html { return 301 /new.html; }".
    std::string ServerDirectives;
    // Added to the listen directive after the address, e.g. " ssl".
    std::string ListenParameters;
    // Further loopback addresses served on the same port (127.0.0.2, ...): sites of their own.
    std::vector<std::string> AlsoListenOn;
  };

  NginxServer();
  explicit NginxServer(const Options& options);
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int Port() const { return port_; }
  // The master process (its workers are its children).
  pid_t Pid() const { return server_.Pid(); }
  // "http://127.0.0.1:PORT/" followed by `path` (without a leading slash).
  std::string Url(const std::string& path = "") const;
  // Writes a file below the document root (creating folders) and returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes) const;
  const std::filesystem::path& DocumentRoot() const { return root_; }
  // The error log and the access log as they are now.
  std::string ErrorLog() const;
  std::string AccessLog() const;

 private:
  bool TryStart(const Options& options, std::string& failure);

  TempDir dir_;
  std::filesystem::path root_;
  int port_ = 0;
  ChildServer server_;  // stopped before the folder it writes in is removed
};

}  // namespace qm::test
