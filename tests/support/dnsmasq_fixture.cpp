#include "support/dnsmasq_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qm::test {
namespace {

constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port free for UDP right now; dnsmasq takes it (and TCP on it) a moment later, and a
// start that finds it taken is tried again with another.
int FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// dnsmasq listens on TCP too, once it is ready for questions.
bool Listening(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in address = Loopback(port);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    connected = poll(&p, 1, 100) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  close(fd);
  return connected;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

DnsmasqServer::DnsmasqServer(const std::string& records) {
  std::string failure;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (TryStart(records, failure)) return;
  }
  throw std::runtime_error("dnsmasq did not start: " + failure);
}

DnsmasqServer::~DnsmasqServer() {
  Stop();
}

std::string DnsmasqServer::Log() const {
  return ReadFile(dir_.File("dnsmasq.log"));
}

bool DnsmasqServer::TryStart(const std::string& records, std::string& failure) {
  port_ = FreeUdpPort();
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
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    failure = std::string("cannot run ") + kDnsmasq;
    return false;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
    execv(kDnsmasq, argv.data());
    _exit(127);
  }
  pid_ = pid;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      failure = Log();
      return false;
    }
    if (Listening(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // poll interval
  }
  failure = "not listening after 20 s";
  Stop();
  return false;
}

void DnsmasqServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace qm::test
