#include "support/nginx_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::test {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

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

bool NginxServer::TryStart(const Options& options, std::string& failure) {
  port_ = FreeLoopbackPort(SOCK_STREAM);
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
    config +=
        "    listen " + address + ":" + std::to_string(port_) + options.ListenParameters + ";\n";
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
  if (server_.Start(args, output, port_, failure)) return true;
  failure += ErrorLog();
  return false;
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
  return ReadWholeFile(dir_.Path() / "logs/error.log");
}

std::string NginxServer::AccessLog() const {
  return ReadWholeFile(dir_.Path() / "logs/access.log");
}

}  // namespace qm::test
