// Pages in flight against servers as slow as the web: 50 hosts (127.0.0.2 to 127.0.0.51,
// connections kept alive as real servers keep them) whose every reply is delayed (median
// about 80 ms, a tenth 300 ms or more); 5% of the addresses refuse the connection and 3%
// accept and never answer. qmharvest-cli harvest at its default settings and with 4
// threads (a thousand pages in flight), next to curl --parallel at 128 and 512 transfers on
// the same list (curl given the same 6 s for a page that never answers). Seconds, pages per
// second, CPU time per page and peak memory of each; the servers' CPU is not counted (they
// run in a process of their own).
//
//   bench_inflight [PAGES]     (default 3000)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "support/closed_port.h"
#include "support/temp_dir.h"

namespace {

constexpr int kHosts = 50;
using Clock = std::chrono::steady_clock;

struct Figures {
  double Seconds = 0;
  double CpuSeconds = 0;
  long PeakRssKb = 0;
  std::string Summary;  // the last line of the child's standard error
};

// Runs a program to its end with its output discarded; wall and CPU time of the child.
Figures Run(std::vector<std::string> args, const std::string& errorPath = "/dev/null") {
  const qm::bench::ChildRun run = qm::bench::RunChild(args, "/dev/null", errorPath);
  if (run.ExitCode() != 0) {
    std::printf("  (%s ended with status %d)\n", args[0].c_str(), run.ExitCode());
  }
  Figures figures{run.Seconds, run.CpuSeconds, run.PeakRssKb, {}};
  if (errorPath != "/dev/null") {
    std::string text = qm::test::TempDir::Read(errorPath);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    figures.Summary = text.substr(text.rfind('\n') + 1);
  }
  return figures;
}

// The delayed hosts on one epoll set: "/d<ms>" answers an 8 KB page after ms milliseconds
// (the next request of the connection waits for it), "/silent" never answers.
class DelayedHosts {
 public:
  DelayedHosts() {
    while (page_.size() < 8000) page_ += "<p>some text of the page, and a@example.com here</p>\r\n";
    reply_ = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
             std::to_string(page_.size()) + "\r\n\r\n" + page_;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < kHosts; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<uint32_t>(i));
      socklen_t length = sizeof address;
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          listen(fd, 4096) != 0) {
        std::perror("delayed host");
        std::_Exit(1);
      }
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
      Ports.push_back(ntohs(address.sin_port));
      listeners_.push_back(fd);
      Watch(fd);
    }
  }

  // Serves until `stopFd` becomes readable (its writer closed).
  void Serve(int stopFd) {
    Watch(stopFd);
    epoll_event events[256];
    for (;;) {
      int timeout = -1;
      if (!due_.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_.top().first - Clock::now());
        timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
      }
      const int count = epoll_wait(epoll_, events, 256, timeout);
      for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd == stopFd) return;
        if (std::find(listeners_.begin(), listeners_.end(), fd) != listeners_.end()) {
          for (int client; (client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            connections_[client] = {};
            Watch(client);
          }
          continue;
        }
        Read(fd);
      }
      while (!due_.empty() && due_.top().first <= Clock::now()) {
        const int fd = due_.top().second;
        due_.pop();
        const auto found = connections_.find(fd);
        if (found == connections_.end()) continue;
        SendAll(fd, reply_);
        found->second.Busy = false;
        TakeRequests(fd);
      }
    }
  }

  std::vector<int> Ports;

 private:
  struct Connection {
    std::string Input;
    bool Busy = false;    // a reply is due
    bool Silent = false;  // never answers again
  };

  void Watch(int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
  }

  void Read(int fd) {
    char buffer[16384];
    for (;;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        connections_[fd].Input.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      connections_.erase(fd);
      close(fd);  // leaves the epoll set with it; a due reply finds no connection
      return;
    }
    TakeRequests(fd);
  }

  void TakeRequests(int fd) {
    Connection& c = connections_[fd];
    if (c.Busy || c.Silent) return;
    const size_t end = c.Input.find("\r\n\r\n");
    if (end == std::string::npos) return;
    const std::string head = c.Input.substr(0, end);
    c.Input.erase(0, end + 4);
    const size_t path = head.find(' ') + 1;
    if (head.compare(path, 7, "/silent") == 0) {
      c.Silent = true;
      return;
    }
    c.Busy = true;
    const int delay = std::atoi(head.c_str() + path + 2);
    due_.push({Clock::now() + std::chrono::milliseconds(delay), fd});
  }

  static void SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 1000);
      } else {
        return;
      }
    }
  }

  std::string page_, reply_;
  int epoll_ = -1;
  std::vector<int> listeners_;
  std::map<int, Connection> connections_;
  using Due = std::pair<Clock::time_point, int>;
  std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due_;
};

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 3000;
  int portPipe[2], stopPipe[2];
  if (::pipe(portPipe) != 0 || ::pipe(stopPipe) != 0) return 1;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(stopPipe[1]);
    DelayedHosts hosts;
    [[maybe_unused]] const ssize_t written =
        ::write(portPipe[1], hosts.Ports.data(), hosts.Ports.size() * sizeof(int));
    hosts.Serve(stopPipe[0]);
    std::_Exit(0);
  }
  ::close(stopPipe[0]);
  std::vector<int> ports(kHosts);
  if (::read(portPipe[0], ports.data(), ports.size() * sizeof(int)) !=
      static_cast<ssize_t>(ports.size() * sizeof(int))) {
    return 1;
  }

  // The list, the same for every contender: exact shares of refusing and silent addresses
  // and of slow replies, spread over the hosts, in a shuffled order.
  std::mt19937 random(16);
  std::lognormal_distribution<double> usual(std::log(72.0), 0.5);
  std::uniform_int_distribution<int> slow(300, 1000);
  auto site = [&](int i) {
    return "http://127.0.0." + std::to_string(2 + i % kHosts) + ":" +
           std::to_string(ports[static_cast<size_t>(i % kHosts)]);
  };
  const qm::test::ClosedPort closed;
  const std::string refusing = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/";
  const int refusingCount = pages * 5 / 100, silentCount = pages * 3 / 100;
  const int answering = pages - refusingCount - silentCount;
  std::vector<std::string> urls;
  std::vector<int> delays;
  for (int i = 0; i < pages; ++i) {
    if (i < refusingCount) {
      urls.push_back(refusing + "?" + std::to_string(i));
    } else if (i < refusingCount + silentCount) {
      urls.push_back(site(i) + "/silent?" + std::to_string(i));
    } else {
      const bool isSlow = (i - refusingCount - silentCount) < answering / 10;
      const int delay =
          isSlow ? slow(random) : std::clamp(static_cast<int>(usual(random)), 10, 299);
      delays.push_back(delay);
      urls.push_back(site(i) + "/d" + std::to_string(delay) + "?" + std::to_string(i));
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
      "%d addresses on %d hosts: replies delayed %d ms at the median, %.0f%% of them 300 ms or"
      " more; %d refusing, %d silent\n",
      pages, kHosts, delays[delays.size() / 2], 100.0 * slowShare / delays.size(), refusingCount,
      silentCount);
  std::printf("  %-52s %8s %8s %11s %9s\n", "", "seconds", "pages/s", "CPU ms/page", "peak MB");
  auto show = [&](const std::string& name, const Figures& f) {
    std::printf("  %-52s %8.2f %8.1f %11.3f %9.1f\n", name.c_str(), f.Seconds, pages / f.Seconds,
                1000.0 * f.CpuSeconds / pages, f.PeakRssKb / 1024.0);
    if (!f.Summary.empty()) std::printf("      %s\n", f.Summary.c_str());
    std::fflush(stdout);
  };
  auto harvest = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{QM_CLI_PATH, "harvest", "--email", "--no-online-check",
                                  "--timeout", "6"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(listPath);
    return Run(args, work.File("harvest.err"));
  };
  const Figures ours = harvest({});
  show("qmharvest-cli, default settings (1 x 1024 in flight)", ours);
  show("qmharvest-cli --depth 0 (listed pages only)", harvest({"--depth", "0"}));
  show("qmharvest-cli --depth 0 --host-limit 64", harvest({"--depth", "0", "--host-limit", "64"}));
  const Figures thousand = harvest({"--threads", "4"});
  show("qmharvest-cli --threads 4 (4 x 256: the memory limit's share)", thousand);
  show("qmharvest-cli --threads 4 --in-flight 32 (the old ceiling)",
       harvest({"--threads", "4", "--in-flight", "32"}));
  Figures curl[2];
  const int parallel[2] = {128, 512};
  for (int i = 0; i < 2; ++i) {
    const std::string codes = work.File("curl-codes.txt");
    const qm::bench::ChildRun run = qm::bench::RunChild(
        {"curl", "-s", "--parallel", "--parallel-immediate", "--parallel-max",
         std::to_string(parallel[i]), "--max-time", "6", "-w", "%{http_code}\\n", "-K", curlPath},
        codes);
    curl[i] = {run.Seconds, run.CpuSeconds, run.PeakRssKb, {}};
    const std::string answered = qm::test::TempDir::Read(codes);
    size_t ok = 0;
    for (size_t at = answered.find("200\n"); at != std::string::npos; at = answered.find("200\n", at + 4)) ++ok;
    curl[i].Summary = std::to_string(ok) + " pages answered 200";
    show("curl --parallel-immediate --parallel-max " + std::to_string(parallel[i]), curl[i]);
  }
  std::printf("default settings / curl at 128: %.2f times as fast (goal >= 1.5)\n",
              curl[0].Seconds / ours.Seconds);
  std::printf("1,024 in flight: peak memory %.1f MB (goal <= 256)\n", thousand.PeakRssKb / 1024.0);
  ::close(stopPipe[1]);
  int status = 0;
  ::waitpid(server, &status, 0);
  return 0;
}
