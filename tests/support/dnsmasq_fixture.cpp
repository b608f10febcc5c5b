#include "support/dnsmasq_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace qm::test {
namespace {

constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";

}  // namespace

DnsmasqServer::DnsmasqServer(const std::string& records) {
  std::string failure;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (TryStart(records, failure)) return;
  }
  throw std::runtime_error("dnsmasq did not start: " + failure);
}

std::string DnsmasqServer::Log() const {
  return ReadWholeFile(dir_.File("dnsmasq.log"));
}

bool DnsmasqServer::TryStart(const std::string& records, std::string& failure) {
  // Free for UDP; the start waits for dnsmasq to listen on TCP on it too, as it does once
  // it is ready for questions.
  port_ = FreeLoopbackPort(SOCK_DGRAM);
  if (port_ == 0) {
    failure = "no free port";
    return false;
  }
  const std::string config = dir_.Write(
      "dnsmasq.conf", "port=" + std::to_string(port_) +
                          "\nlisten-address=127.0.0.1\nbind-interfaces\nno-resolv\nno-hosts\n"
                          "no-poll\nno-negcache\ncache-size=0\n" +
                          records + "\n");
  const std::string log = dir_.File("dnsmasq.log");
  std::vector<std::string> args = {kDnsmasq, "--keep-in-foreground", "--conf-file=" + config,
                                   "--pid-file=", "--log-facility=" + log};
  // As root it would become "nobody", who cannot write the log in our folder.
  if (geteuid() == 0) args.push_back("--user=root");
  return server_.Start(args, log, port_, failure);
}

}  // namespace qm::test
