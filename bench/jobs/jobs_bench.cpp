// bench_jobs: 1, 2 and 4 worker processes (qmharvest-cli job work) on one job whose lines
// are pages of many loopback hosts that each answer after a delay, as the web does: pages
// per second, and the server's transactions per page. Once with the listed pages alone,
// once at depth 1, where each listed page links to three pages of its site and each site's
// page limit (20) stops its followed pages.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "store/pg_connection.h"
#include "support/postgres_fixture.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

constexpr int kHosts = 400;
constexpr int kLinesPerHost = 8;
constexpr auto kDelay = std::chrono::milliseconds(50);

// Answers every request on any loopback address after kDelay, one thread per connection.
class DelayedServer {
 public:
  DelayedServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(fd_, 1024);
    std::thread([this] { Accept(); }).detach();
  }
  int Port() const { return port_; }

 private:
  void Accept() {
    for (;;) {
      const int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      std::thread([client] {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
          const ssize_t got = read(client, buffer, sizeof buffer);
          if (got <= 0) break;
          request.append(buffer, static_cast<size_t>(got));
        }
        std::this_thread::sleep_for(kDelay);
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        std::string body =
            "<p>mail" + std::to_string(std::hash<std::string>()(path)) + "@example.com</p>\n";
        // Listed pages link to three pages of their own, which link nowhere.
        if (path.ends_with(".html")) {
          for (const char* page : {"-a", "-b", "-c"}) {
            body += "<a href=\"" + path + page + "\">more</a>\n";
          }
        }
        const std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body;
        [[maybe_unused]] const ssize_t sent = write(client, reply.data(), reply.size());
        close(client);
      }).detach();
    }
  }
  int fd_ = -1;
  int port_ = 0;
};

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int64_t Commits(qm::store::TPgConnection& db) {
  return db.Exec("SELECT xact_commit FROM pg_stat_database WHERE datname = current_database()")
      .Int(0, 0);
}

}  // namespace

int main() {
  qm::test::PostgresServer pg;
  DelayedServer server;
  qm::test::TempDir dir;
  std::string list;
  for (int line = 0; line < kHosts * kLinesPerHost; ++line) {
    const int host = line % kHosts;
    list += "http://127.0." + std::to_string(1 + host / 250) + "." +
            std::to_string(1 + host % 250) + ":" + std::to_string(server.Port()) + "/p" +
            std::to_string(line) + ".html\n";
  }
  const std::string listPath = dir.Write("list.txt", list);
  std::printf(
      "bench_jobs: %d lines on %d loopback hosts, each page answered after %lld ms; "
      "workers: --threads 1 --in-flight 8\n",
      kHosts * kLinesPerHost, kHosts, static_cast<long long>(kDelay.count()));
  for (const char* depth : {"0", "1"}) {
    std::printf("depth %s\n", depth);
    std::printf("%-8s %10s %10s %12s %10s\n", "workers", "seconds", "pages/s", "speed-up",
                "tx/page");
    double single = 0;
    for (const int workers : {1, 2, 4}) {
      const pid_t submit = Spawn(
          {QM_CLI_PATH, "job", "submit", listPath, "--db", pg.Url(), "--depth", depth, "--again"});
      if (Wait(submit) != 0) {
        std::fprintf(stderr, "bench_jobs: job submit failed\n");
        return 1;
      }
      qm::store::TPgConnection db(pg.Url());
      const std::string job = std::to_string(db.Exec("SELECT max(id) FROM jobs").Int(0, 0));
      const int64_t commitsBefore = Commits(db);
      const auto start = std::chrono::steady_clock::now();
      std::vector<pid_t> pids;
      for (int w = 0; w < workers; ++w) {
        pids.push_back(Spawn({QM_CLI_PATH, "job", "work", "--db", pg.Url(), "--job", job,
                              "--no-online-check", "--in-flight", "8"}));
      }
      bool failed = false;
      for (const pid_t pid : pids) failed |= Wait(pid) != 0;
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const int64_t commits = Commits(db) - commitsBefore;
      const int64_t pages =
          db.Exec(
                "SELECT coalesce(sum(page_count), 0) FROM run_tallies t JOIN jobs "
                "j ON j.run = t.run WHERE j.id = " +
                job)
              .Int(0, 0);
      const double rate = pages / seconds;
      if (workers == 1) single = rate;
      std::printf("%-8d %10.2f %10.1f %11.2fx %10.3f%s\n", workers, seconds, rate, rate / single,
                  static_cast<double>(commits) / static_cast<double>(pages),
                  failed ? "  (a worker failed)" : "");
    }
  }
  return 0;
}
