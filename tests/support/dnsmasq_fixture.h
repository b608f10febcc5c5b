#pragma once
// A real dnsmasq on a free loopback port, answering only from its own configuration (no
// upstream servers, no /etc/hosts, no /etc/resolv.conf): the resolver of tests and benchmarks
// that look names up. Stopped (and waited for) when the object is destroyed, and also when
// the program dies without destroying it.
#include <sys/types.h>

#include <string>

#include "support/child_server.h"
#include "support/temp_dir.h"

namespace qm::test {

class DnsmasqServer {
 public:
  // `records` are configuration lines: "address=/a.com/127.0.0.2", "mx-host=b.com,mx.b.com,10",
  // "local=/com/" (names below com that no line gives do not exist) ...
  explicit DnsmasqServer(const std::string& records);
  DnsmasqServer(const DnsmasqServer&) = delete;
  DnsmasqServer& operator=(const DnsmasqServer&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:PORT", as --resolver takes it.
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Log() const;

 private:
  bool TryStart(const std::string& records, std::string& failure);

  TempDir dir_;
  int port_ = 0;
  ChildServer server_;  // stopped before the folder it writes in is removed
};

}  // namespace qm::test
