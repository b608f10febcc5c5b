// One host's 2,000 pages of about 8 KB from a local nginx. First whole harvests:
// qmharvest-cli at its default settings (connections kept alive, 8 to the host) beside curl
// --parallel-max 32 keeping its connections alive and closing each. Then pages per second
// for FetchPageLines on 4 threads, with a connection per page and with shared kept
// connections, next to curl over the same URL list and a bare fetch loop (connect, send,
// read to the close, no parsing), and peak memory at 500 and 2,000 pages.
//
// QM_BASELINE_CLI=PATH adds an older qmharvest-cli's harvests beside this one's, with the
// options both know. `bench_fetch --keep-site` only serves the site: it prints the list and
// the harvest's command line, for a profiler, and stops nginx at SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/child_process.h"
#include "http/connection_pool.h"
#include "http/fetch_page_lines.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr int kThreads = 4;
constexpr int kPages = 2000;

using Clock = std::chrono::steady_clock;

// Runs `fetch(i)` for i in [0, count) on kThreads threads; returns pages per second.
double RunThreads(int count, const std::function<bool(int, qm::TPageLines&)>& fetch,
                  int& failures) {
  std::atomic<int> next{0};
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      qm::TPageLines lines;
      for (int i = next++; i < count; i = next++) {
        if (!fetch(i, lines)) ++failed;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  failures = failed;
  return count / seconds;
}

// The near-limit reference: one connection per page, the request in one send (or line by
// line without any hint to the kernel), everything read to the close.
bool BareFetch(int port, const std::string& request, bool linePerSend) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (ok && linePerSend) {
    size_t at = 0;
    while (ok && at < request.size()) {
      const size_t end = request.find("\r\n", at) + 2;
      ok = send(fd, request.data() + at, end - at, MSG_NOSIGNAL) == static_cast<ssize_t>(end - at);
      at = end;
    }
  } else if (ok) {
    ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(request.size());
  }
  char buffer[65536];
  size_t total = 0;
  ssize_t n;
  while (ok && (n = recv(fd, buffer, sizeof buffer, 0)) > 0) total += static_cast<size_t>(n);
  close(fd);
  return ok && total > 8000;
}

// CPU seconds used so far by the nginx master and its workers.
double NginxCpuSeconds(pid_t master) {
  double total = 0;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string state;
    long ppid = 0;
    fields >> state >> ppid;
    const long pid = std::stol(name);
    if (pid != master && ppid != master) continue;
    std::string skip;
    for (int i = 0; i < 9; ++i) fields >> skip;  // pgrp .. cmajflt
    unsigned long utime = 0, stime = 0;
    fields >> utime >> stime;
    total += (utime + stime) / tick;
  }
  return total;
}

// Blocks until SIGINT or SIGTERM; the caller's objects then end as at a normal return.
void WaitForStopSignal() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  int received = 0;
  sigwait(&stops, &received);
}

std::string CommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) line += (line.empty() ? "" : " ") + arg;
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  const bool keepSite = argc > 1 && std::strcmp(argv[1], "--keep-site") == 0;
  qm::test::NginxServer nginx(qm::bench::NginxOptions());
  qm::test::TempDir work;

  std::mt19937 random(42);
  std::vector<std::string> urls;
  size_t bytes = 0;
  for (int i = 0; i < kPages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    const std::string page = qm::bench::MakeContactPage(random, i);
    bytes += page.size();
    nginx.WriteFile(name, page);
    urls.push_back(nginx.Url(name));
  }
  const std::string host = "127.0.0.1:" + std::to_string(nginx.Port());
  std::vector<std::string> requests;
  for (int i = 0; i < kPages; ++i) {
    requests.push_back("GET /p" + std::to_string(i) + ".html HTTP/1.1\r\nHost: " + host +
                       "\r\nConnection: close\r\n\r\n");
  }
  std::printf("%d pages of %.1f KB on average, nginx with 2 workers\n", kPages,
              bytes / 1024.0 / kPages);

  // Whole harvests, best of three each.
  {
    std::string list, curlConfig;
    for (const std::string& url : urls) {
      list += url + "\r\n";
      curlConfig += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
    }
    const std::string listPath = work.Write("list.txt", list);
    const std::string curlPath = work.Write("curl-all.conf", curlConfig);
    struct Contender {
      const char* Name;
      std::vector<std::string> Args;
    };
    auto harvestWith = [&](const char* cli, std::vector<std::string> extra) {
      std::vector<std::string> args{cli,        "harvest", "--email",
                                    "--mobile", "--qq",    "--no-online-check"};
      args.insert(args.end(), extra.begin(), extra.end());
      args.push_back(listPath);
      return args;
    };
    auto with = [&](std::vector<std::string> extra) { return harvestWith(QM_CLI_PATH, extra); };
    if (keepSite) {
      std::printf("list %s\n%s\n%s\nSIGINT or SIGTERM stops nginx\n", listPath.c_str(),
                  CommandLine(with({})).c_str(), CommandLine(with({"--depth", "0"})).c_str());
      std::fflush(stdout);
      WaitForStopSignal();
      return 0;
    }
    std::vector<Contender> contenders{
        {"qmharvest-cli harvest, default settings", with({})},
        {"qmharvest-cli harvest --depth 0", with({"--depth", "0"})},
        {"qmharvest-cli harvest --depth 0 --threads 4", with({"--depth", "0", "--threads", "4"})},
        {"qmharvest-cli harvest --depth 0 --no-keep-alive",
         with({"--depth", "0", "--no-keep-alive"})},
        {"curl --parallel-max 32, kept alive",
         {"curl", "-s", "--parallel", "--parallel-max", "32", "-K", curlPath}},
        {"curl --parallel-max 32, Connection: close",
         {"curl", "-s", "--parallel", "--parallel-max", "32", "-H", "Connection: close", "-K",
          curlPath}},
    };
    // Options an older version knows too; its own defaults otherwise.
    if (const char* baseline = std::getenv("QM_BASELINE_CLI")) {
      contenders.push_back({"QM_BASELINE_CLI harvest, its defaults", harvestWith(baseline, {})});
      contenders.push_back(
          {"QM_BASELINE_CLI harvest --depth 0", harvestWith(baseline, {"--depth", "0"})});
    }
    std::vector<double> seconds(contenders.size(), 1e9), cpu(contenders.size(), 0);
    for (int round = 0; round < 3; ++round) {
      for (size_t c = 0; c < contenders.size(); ++c) {
        const qm::bench::ChildRun run = qm::bench::RunChild(contenders[c].Args);
        if (run.ExitCode() != 0)
          std::printf("  (%s: status %d)\n", contenders[c].Name, run.WaitStatus);
        if (run.Seconds < seconds[c]) {
          seconds[c] = run.Seconds;
          cpu[c] = run.CpuSeconds;
        }
      }
    }
    std::printf("whole runs over the list, best of 3      seconds   pages/s  CPU us/page\n");
    for (size_t c = 0; c < contenders.size(); ++c) {
      std::printf("  %-40s %6.3f %9.0f %9.0f\n", contenders[c].Name, seconds[c],
                  kPages / seconds[c], cpu[c] / kPages * 1e6);
    }
    constexpr size_t curlKept = 4;
    std::printf("default settings / curl kept alive: %.2f times as fast (goal >= 2)\n",
                seconds[curlKept] / seconds[0]);
    std::printf("listed pages only / curl kept alive: %.2f times as fast\n\n",
                seconds[curlKept] / seconds[1]);
    std::fflush(stdout);
  }
  std::printf("%d threads in this process:\n", kThreads);

  int failures = 0;
  auto fetchLines = [&](int i, qm::TPageLines& lines) {
    return qm::FetchPageLines(urls[i], lines) && lines.size() > 50;
  };
  qm::TConnectionPool pool;
  auto fetchKeptAlive = [&](int i, qm::TPageLines& lines) {
    qm::TPageFetchOptions options;
    options.Connections = &pool;
    qm::TPageFetchResult result;
    return qm::FetchPageLines(urls[i], lines, options, result) && lines.size() > 50;
  };
  // Peak memory first, before the other methods have run: 500 pages, then 2,000.
  RunThreads(500, fetchLines, failures);
  const long rss500 = qm::bench::PeakRssKb();
  RunThreads(kPages, fetchLines, failures);
  const long rss2000 = qm::bench::PeakRssKb();

  constexpr int kMethods = 5;
  double best[kMethods] = {};
  int failed[kMethods] = {};
  double clientCpu[kMethods] = {};
  double serverCpu[kMethods] = {};
  const std::function<double(int&)> methods[kMethods] = {
      [&](int& f) { return RunThreads(kPages, fetchLines, f); },
      [&](int& f) {
        return RunThreads(
            kPages,
            [&](int i, qm::TPageLines&) { return BareFetch(nginx.Port(), requests[i], false); }, f);
      },
      [&](int& f) {
        return RunThreads(
            kPages,
            [&](int i, qm::TPageLines&) { return BareFetch(nginx.Port(), requests[i], true); }, f);
      },
      [&](int&) { return qm::bench::CurlPagesPerSecond(work, urls); },
      [&](int& f) { return RunThreads(kPages, fetchKeptAlive, f); },
  };
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    for (int m = 0; m < kMethods; ++m) {
      const double self0 = qm::bench::ProcessCpuSeconds();
      const double server0 = NginxCpuSeconds(nginx.Pid());
      best[m] = std::max(best[m], methods[m](failed[m]));
      clientCpu[m] += qm::bench::ProcessCpuSeconds() - self0;
      serverCpu[m] += NginxCpuSeconds(nginx.Pid()) - server0;
    }
  }
  for (int m = 0; m < kMethods; ++m) {
    clientCpu[m] = clientCpu[m] / kRounds / kPages * 1e6;
    serverCpu[m] = serverCpu[m] / kRounds / kPages * 1e6;
  }
  std::printf("best of %d rounds; CPU per page: this process (threads) and nginx\n", kRounds);
  std::printf(
      "FetchPageLines           %8.0f pages/s  cpu %5.0f us + nginx %5.0f us  (failures %d)\n",
      best[0], clientCpu[0], serverCpu[0], failed[0]);
  std::printf(
      "bare loop, one send      %8.0f pages/s  cpu %5.0f us + nginx %5.0f us  (failures %d)\n",
      best[1], clientCpu[1], serverCpu[1], failed[1]);
  std::printf(
      "bare loop, line per send %8.0f pages/s  cpu %5.0f us + nginx %5.0f us  (no MSG_MORE)\n",
      best[2], clientCpu[2], serverCpu[2]);
  std::printf(
      "curl --parallel-max 4    %8.0f pages/s  (curl's own CPU not counted), nginx %5.0f us\n",
      best[3], serverCpu[3]);
  std::printf(
      "FetchPageLines kept alive %8.0f pages/s  cpu %5.0f us + nginx %5.0f us  (failures %d)\n",
      best[4], clientCpu[4], serverCpu[4], failed[4]);
  std::printf("FetchPageLines / curl      %.2f   (goal >= 2)\n", best[0] / best[3]);
  std::printf("FetchPageLines / bare loop %.2f   (goal >= 0.8)\n", best[0] / best[1]);
  std::printf("peak RSS after 500 pages  %ld KB, after 2,000 more %ld KB\n", rss500, rss2000);
  return 0;
}
