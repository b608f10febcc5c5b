// Pages in flight against a server as slow as the web: every reply is delayed (median about
// 80 ms, a tenth 300 ms or more), 5% of the addresses refuse the connection and 3% accept
// and never answer. qmharvest-cli harvest with 4 threads at 1, 8 and 32 pages in flight per
// thread, next to curl --parallel at 4 and 32 transfers on the same list (curl given the
// same 6 s for a page that never answers, and told to open its connections at once rather
// than wait to learn whether one server can take several transfers). Pages per second and CPU time
// per page, the server's CPU not counted (it runs in a process of its own).
//
//   bench_inflight [PAGES]     (default 600)
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "support/closed_port.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

struct Figures {
  double Seconds = 0;
  double CpuSeconds = 0;
};

// Runs a program to its end with its output discarded; wall and CPU time of the child.
Figures Run(std::vector<std::string> args) {
  const qm::bench::ChildRun run = qm::bench::RunChild(args);
  if (run.ExitCode() != 0) {
    std::printf("  (%s ended with status %d)\n", args[0].c_str(), run.WaitStatus);
  }
  return {run.Seconds, run.CpuSeconds};
}

// The delayed server, in a child process: "/d<ms>" answers an 8 KB page after ms
// milliseconds, "/silent" never answers. Writes its port to `portPipe`, ends when
// `stopPipe` closes.
[[noreturn]] void ServeDelayed(int portPipe, int stopPipe) {
  std::string page;
  while (page.size() < 8000) page += "<p>some text of the page, and a@example.com here</p>\r\n";
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                            std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
  {
    qm::test::ScriptedServer server([&](qm::test::ScriptedConnection& c) {
      if (!c.ReadHead()) return;
      const std::string head = c.Received();
      const size_t path = head.find(' ') + 1;
      if (head.compare(path, 7, "/silent") == 0) {
        c.StaySilent(std::chrono::seconds(120));
        return;
      }
      const int delay = std::atoi(head.c_str() + path + 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      c.Send(reply);
    });
    const int port = server.Port();
    [[maybe_unused]] const ssize_t written = ::write(portPipe, &port, sizeof port);
    char byte;
    while (::read(stopPipe, &byte, 1) > 0) {
    }
  }
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 600;
  int portPipe[2], stopPipe[2];
  if (::pipe(portPipe) != 0 || ::pipe(stopPipe) != 0) return 1;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(stopPipe[1]);
    ServeDelayed(portPipe[1], stopPipe[0]);
  }
  ::close(stopPipe[0]);
  int port = 0;
  if (::read(portPipe[0], &port, sizeof port) != static_cast<ssize_t>(sizeof port)) return 1;

  // The list, the same for every contender: exact shares of refusing and silent addresses
  // and of slow replies, in a shuffled order.
  std::mt19937 random(16);
  std::lognormal_distribution<double> usual(std::log(72.0), 0.5);
  std::uniform_int_distribution<int> slow(300, 1000);
  const std::string site = "http://127.0.0.1:" + std::to_string(port);
  const qm::test::ClosedPort closed;
  const std::string refusing = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/";
  const int refusingCount = pages * 5 / 100, silentCount = pages * 3 / 100;
  const int answering = pages - refusingCount - silentCount;
  std::vector<std::string> urls;
  std::vector<int> delays;
  for (int i = 0; i < pages; ++i) {
    if (i < refusingCount) {
      urls.push_back(refusing);
    } else if (i < refusingCount + silentCount) {
      urls.push_back(site + "/silent?" + std::to_string(i));
    } else {
      const bool isSlow = (i - refusingCount - silentCount) < answering / 10;
      const int delay =
          isSlow ? slow(random) : std::clamp(static_cast<int>(usual(random)), 10, 299);
      delays.push_back(delay);
      urls.push_back(site + "/d" + std::to_string(delay) + "?" + std::to_string(i));
    }
  }
  std::shuffle(urls.begin(), urls.end(), random);
  std::sort(delays.begin(), delays.end());
  qm::test::TempDir work;
  std::string list, curlConfig;
  for (const std::string& url : urls) {
    list += url + "\r\n";
    curlConfig += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
  }
  const std::string listPath = work.Write("list.txt", list);
  const std::string curlPath = work.Write("curl.conf", curlConfig);

  const auto slowShare =
      std::count_if(delays.begin(), delays.end(), [](int d) { return d >= 300; });
  std::printf(
      "%d addresses: replies delayed %d ms at the median, %.0f%% of them 300 ms or more;"
      " %d refusing, %d silent\n",
      pages, delays[delays.size() / 2], 100.0 * slowShare / delays.size(), refusingCount,
      silentCount);
  std::printf("  %-44s %9s %9s %12s\n", "", "seconds", "pages/s", "CPU ms/page");
  auto show = [&](const std::string& name, const Figures& f) {
    std::printf("  %-44s %9.2f %9.1f %12.3f\n", name.c_str(), f.Seconds, pages / f.Seconds,
                1000.0 * f.CpuSeconds / pages);
    std::fflush(stdout);
  };
  for (const int k : {1, 8, 32}) {
    show("qmharvest-cli, 4 threads x " + std::to_string(k) + " in flight",
         Run({QM_CLI_PATH, "harvest", "--threads", "4", "--in-flight", std::to_string(k), "--email",
              "--no-online-check", listPath}));
  }
  for (const int parallel : {4, 32}) {
    show("curl --parallel-immediate --parallel-max " + std::to_string(parallel),
         Run({"curl", "-s", "--parallel", "--parallel-immediate", "--parallel-max",
              std::to_string(parallel), "--max-time", "6", "-H", "Connection: close", "-K",
              curlPath}));
  }
  ::close(stopPipe[1]);
  int status = 0;
  ::waitpid(server, &status, 0);
  return 0;
}
