#include "support/postgres_fixture.h"

#include <netinet/in.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace qm::test {
namespace {

constexpr const char* kBinFolder = "/usr/lib/postgresql/15/bin/";

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::string RunCapturing(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::array<char, 4096> buffer;
  while (size_t read = fread(buffer.data(), 1, buffer.size(), pipe))
    output.append(buffer.data(), read);
  const int status = pclose(pipe);
  if (status != 0) throw std::runtime_error(command + " failed: " + output);
  return output;
}

}  // namespace

PostgresServer::PostgresServer() : bin_(kBinFolder) {
  std::random_device random;
  password_ = "pw-" + std::to_string(random()) + std::to_string(random());
  data_ = dir_.File("data");
  if (geteuid() == 0) {
    asUser_ = "runuser -u postgres -- ";
    const passwd* postgres = getpwnam("postgres");
    if (postgres == nullptr) throw std::runtime_error("no user postgres to run the server as");
    if (chown(dir_.Path().c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
      throw std::runtime_error("cannot give " + dir_.Path().string() + " to postgres");
    }
  }
  const std::string passwordFile = dir_.Write("initdb-password", password_ + "\n");
  if (geteuid() == 0) {
    const passwd* postgres = getpwnam("postgres");
    if (chown(passwordFile.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
      throw std::runtime_error("cannot give the password file to postgres");
    }
  }
  RunCapturing(asUser_ + bin_ + "initdb -D " + data_ + " -U qm --pwfile=" + passwordFile +
               " --auth=scram-sha-256 -E UTF8 --no-sync --no-instructions");
  std::filesystem::remove(passwordFile);
  port_ = FreePort();
  // The programs under test find the password where a user would keep it: one file for the
  // process, a line for each server.
  static const std::string passFile = [] {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("qm-test-pgpass-" + std::to_string(getpid())))
            .string();
    std::atexit([] {
      std::remove(("" + (std::filesystem::temp_directory_path() /
                         ("qm-test-pgpass-" + std::to_string(getpid())))
                            .string())
                      .c_str());
    });
    return path;
  }();
  {
    FILE* file = std::fopen(passFile.c_str(), "a");
    if (file == nullptr) throw std::runtime_error("cannot write " + passFile);
    std::fprintf(file, "127.0.0.1:%d:*:qm:%s\n", port_, password_.c_str());
    std::fclose(file);
  }
  chmod(passFile.c_str(), 0600);
  setenv("PGPASSFILE", passFile.c_str(), 1);
  unsetenv("PGPASSWORD");
  Start();
}

PostgresServer::~PostgresServer() {
  try {
    Stop();
  } catch (...) {
  }
}

std::string PostgresServer::Url() const {
  return "postgresql://qm@127.0.0.1:" + std::to_string(port_) + "/postgres";
}

void PostgresServer::Start() {
  RunCapturing(asUser_ + bin_ + "pg_ctl -D " + data_ + " -l " + dir_.File("server.log") +
               " -w -t 60 -o \"-p " + std::to_string(port_) + " -k " + dir_.Path().string() +
               " -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off\" start");
  running_ = true;
}

void PostgresServer::Stop() {
  if (!running_) return;
  running_ = false;
  RunCapturing(asUser_ + bin_ + "pg_ctl -D " + data_ + " -m immediate -w stop");
}

void PostgresServer::Restart() {
  Stop();
  Start();
}

std::string PostgresServer::Psql(const std::string& sql) const {
  const std::string script = dir_.Write("script.sql", sql);
  return RunCapturing(bin_ + "psql -X -q -A -t -v ON_ERROR_STOP=1 -d '" + Url() + "' -f " + script);
}

}  // namespace qm::test
