#include "support/nginx_fixture.h"

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
#include <string>
#include <thread>
#include <vector>

namespace qm::test {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port the kernel considers free right now. nginx binds it a moment later; if another
// process takes it in between, start-up fails and we try again with a new one.
int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = Loopback(0);
  int port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// Connects within `timeout`; true when something listens on the port.
bool CanConnect(int port, std::chrono::milliseconds timeout) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in address = Loopback(port);
  bool connected = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) == 1) {
      int error = 0;
      socklen_t length = sizeof error;
      connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
  }
  close(fd);
  return connected;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

NginxServer::NginxServer() : NginxServer(Options{}) {}

NginxServer::NginxServer(const Options& options) : root_(dir_.Path() / "html") {
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(dir_.Path() / "logs");
  std::filesystem::create_directories(dir_.Path() / "temp");
  std::string failure;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (TryStart(options, failure)) return;
  }
  throw std::runtime_error("nginx did not start: " + failure);
}

NginxServer::~NginxServer() {
  Stop();
}

bool NginxServer::TryStart(const Options& options, std::string& failure) {
  port_ = FreeLoopbackPort();
  if (port_ == 0) {
    failure = "no free port";
    return false;
  }
  const std::string prefix = dir_.Path().string() + "/";
  std::string config;
  config += "daemon off;\nmaster_process on;\n";
  if (geteuid() == 0) config += "user root;\n";
  config += "worker_processes " + std::to_string(options.WorkerProcesses) + ";\n";
  config += "pid " + prefix + "nginx.pid;\n";
  config += "error_log " + prefix + "logs/error.log warn;\n";
  config += "events { worker_connections 1024; }\n";
  config += "http {\n";
  config += "  default_type application/octet-stream;\n";
  config += "  types { text/html html htm; text/plain txt; }\n";
  config += options.AccessLog ? "  access_log " + prefix + "logs/access.log;\n"
                              : std::string("  access_log off;\n");
  config += "  client_body_temp_path " + prefix + "temp/body;\n";
  config += "  proxy_temp_path " + prefix + "temp/proxy;\n";
  config += "  fastcgi_temp_path " + prefix + "temp/fastcgi;\n";
  config += "  uwsgi_temp_path " + prefix + "temp/uwsgi;\n";
  config += "  scgi_temp_path " + prefix + "temp/scgi;\n";
  config += "  keepalive_timeout 65;\n  keepalive_requests 100000;\n";
  config += "  sendfile on;\n";
  config += "  server {\n";
  config += "    listen 127.0.0.1:" + std::to_string(port_) + options.ListenParameters + ";\n";
  for (const std::string& address : options.AlsoListenOn) {
    config += "    listen " + address + ":" + std::to_string(port_) + options.ListenParameters + ";\n";
  }
  config += "    server_name localhost;\n";
  config += "    root " + root_.string() + ";\n";
  config += "    " + options.ServerDirectives + "\n";
  config += "  }\n}\n";
  const std::string configPath = prefix + "nginx.conf";
  {
    std::ofstream out(configPath, std::ios::trunc);
    out << config;
    if (!out) {
      failure = "cannot write " + configPath;
      return false;
    }
  }

  const std::string output = prefix + "logs/output.log";
  std::vector<std::string> args = {
      kNginx, "-p", prefix, "-c", configPath, "-e", prefix + "logs/error.log"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Everything the child needs is prepared before the fork: between fork and exec it may only
  // make plain system calls.
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    failure = std::string("cannot run ") + kNginx;
    return false;
  }
  if (pid == 0) {
    // A test program that dies without running destructors must not leave nginx behind. The
    // signal follows the creating thread, so the fixture is made on a thread that outlives it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
    execv(kNginx, argv.data());
    _exit(127);
  }
  pid_ = pid;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      failure = ReadFile(output) + ErrorLog();
      return false;
    }
    if (CanConnect(port_, std::chrono::milliseconds(100))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // poll interval
  }
  failure = "not listening after 20 s";
  Stop();
  return false;
}

void NginxServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);  // fast shutdown: the master stops its workers
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::string NginxServer::WriteFile(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = root_ / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

std::string NginxServer::ErrorLog() const {
  return ReadFile(dir_.Path() / "logs/error.log");
}

std::string NginxServer::AccessLog() const {
  return ReadFile(dir_.Path() / "logs/access.log");
}

}  // namespace qm::test
