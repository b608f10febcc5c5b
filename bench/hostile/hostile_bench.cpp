// What hostile servers cost: the peak memory of qmharvest-cli harvesting with 4 threads
// over the worst replies a page can be within the body cap (64 MiB of LF, of CR, of one-byte
// lines, and a head of endless tiny header lines), next to the same harvest over ordinary
// 8 KB pages; how long a page that trickles one byte at a time (in its status line, its
// headers or its body) holds a worker; and the crawl against hostile sites (robots.txt files,
// markup, the memory limit, redirects, credentials, odd replies, unwritable output), each
// judged in a final table.
//
//   bench_hostile [--no-trickle] [--crawl-only] [--case N] [--no-time-limit]
//     --crawl-only     only the crawl cases
//     --case N         only crawl case N (1 to 8)
//     --no-time-limit  skip the page that takes the whole page time limit (a minute)
// The trickle part takes about a minute, the crawl cases a few.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/cli_harvest.h"
#include "hostile/child_launcher.h"
#include "hostile/crawl_cases.h"
#include "http/fetch_page_lines.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kCap = 64u << 20;

// A reply sent piece by piece, so this process never holds it whole: a child started while
// it did would count the parent's pages in its own peak.
struct Reply {
  const char* path;
  const char* name;
  std::string head;
  std::string piece;  // repeated to fill the body
  size_t bodyBytes;
};

void SendReply(qm::test::ScriptedConnection& c, const Reply& reply) {
  if (!c.Send(reply.head)) return;
  std::string block;
  while (block.size() + reply.piece.size() <= (64u << 10)) block += reply.piece;
  for (size_t sent = 0; sent + block.size() <= reply.bodyBytes; sent += block.size()) {
    if (!c.Send(block)) return;
  }
}

std::string LengthHead(size_t bytes) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes) +
         "\r\nConnection: close\r\n\r\n";
}

void PrintRun(const char* name, int pages, const qm::bench::CliHarvestRun& run) {
  std::printf("  %-44s %3d pages  %6.2f s  peak RSS %7.1f MiB  (exit %d)\n", name, pages,
              run.Seconds, run.PeakRssKb / 1024.0, run.Status);
}

void PeakMemory() {
  qm::test::TempDir work;
  std::printf("Peak memory of qmharvest-cli harvest, 4 threads, all kinds\n");

  qm::test::NginxServer nginx(qm::bench::NginxOptions());
  std::mt19937 random(42);
  std::string ordinary;
  constexpr int kOrdinaryPages = 400;
  for (int i = 0; i < kOrdinaryPages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    nginx.WriteFile(name, qm::bench::MakeContactPage(random, i));
    ordinary += nginx.Url(name) + "\r\n";
  }
  PrintRun("ordinary pages of ~8 KB", kOrdinaryPages,
           qm::bench::RunCliHarvest(QM_CLI_PATH, work, work.Write("ordinary.txt", ordinary)));

  const std::vector<Reply> replies = {
      {"/lf", "64 MiB of LF", LengthHead(kCap), "\n", kCap},
      {"/cr", "64 MiB of CR", LengthHead(kCap), "\r", kCap},
      {"/one", "64 MiB of one-byte lines", LengthHead(kCap), "a\n", kCap},
      {"/head", "64 MiB of tiny header lines", "HTTP/1.1 200 OK\r\n", "X\r\n", kCap},
  };
  qm::test::ScriptedServer server([&](qm::test::ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    const std::string request = c.Received();
    for (const Reply& reply : replies) {
      if (request.compare(4, std::strlen(reply.path) + 1, std::string(reply.path) + " ") == 0) {
        SendReply(c, reply);
        return;
      }
    }
  });
  std::string worst;
  for (const Reply& reply : replies) {
    std::string one;
    for (int i = 0; i < 4; ++i) one += server.Url(reply.path + 1) + "\r\n";
    const std::string list = work.Write(reply.path + 1 + std::string(".txt"), one);
    PrintRun((std::string(reply.name) + ", four at once").c_str(), 4,
             qm::bench::RunCliHarvest(QM_CLI_PATH, work, list));
    worst += server.Url(reply.path + 1) + "\r\n";
  }
  // Each worker meets the kinds in another order.
  PrintRun("the four kinds, twice each", 8,
           qm::bench::RunCliHarvest(QM_CLI_PATH, work, work.Write("worst.txt", worst + worst)));
}

// One byte every 100 ms from where `prefix` ends, for longer than any page may take.
qm::test::ScriptedServer::Script Trickle(std::string prefix) {
  return [prefix](qm::test::ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    c.Send(prefix);
    c.SendSlowly(std::string(3000, 'x'), 1, std::chrono::milliseconds(100));
  };
}

void TrickleTimes() {
  std::printf(
      "\nHow long a page trickling one byte every 100 ms holds a worker (the three at once)\n");
  struct Case {
    const char* name;
    std::string prefix;
    double seconds = 0;
    size_t lines = 0;
  };
  std::vector<Case> cases = {
      {"in the status line", "HTTP/1.1 2"},
      {"in the headers", "HTTP/1.1 200 OK\r\nX-Slow: "},
      {"in the body", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst line\n"},
  };
  std::vector<std::unique_ptr<qm::test::ScriptedServer>> servers;
  std::vector<std::thread> threads;
  for (Case& c : cases) {
    servers.push_back(std::make_unique<qm::test::ScriptedServer>(Trickle(c.prefix)));
    threads.emplace_back([&c, url = servers.back()->Url()] {
      qm::TPageLines lines;
      const auto start = Clock::now();
      qm::FetchPageLines(url, lines);
      c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      c.lines = lines.size();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const Case& c : cases) {
    std::printf("  %-20s %6.2f s  (%zu lines kept)\n", c.name, c.seconds, c.lines);
  }
}

void PrintTable(const std::vector<qm::bench::Verdict>& verdicts, bool timeLimitSkipped) {
  std::printf("\n%-50s %-5s %s\n", "case", "", "figures  [expected]");
  for (const qm::bench::Verdict& verdict : verdicts) {
    std::printf("%-50s %-5s %s  [%s]\n", verdict.Case.c_str(), verdict.Pass ? "PASS" : "FAIL",
                verdict.Figures.c_str(), verdict.Expectation.c_str());
  }
  if (timeLimitSkipped) {
    std::printf("%-50s %-5s %s\n", "7e page past the time limit", "SKIP", "--no-time-limit");
  }
}

// The crawl cases, all or one; the page of the time limit runs beside the others.
void CrawlCases(qm::bench::ChildLauncher& launcher, int only, bool timeLimit) {
  using namespace qm::bench;
  std::printf("\nThe crawl against hostile sites (qmharvest-cli harvest)\n");
  auto wanted = [only](int n) { return only == 0 || only == n; };
  std::unique_ptr<TimeLimitCase> slow;
  if (timeLimit && wanted(7)) slow = std::make_unique<TimeLimitCase>(launcher);
  std::vector<Verdict> verdicts;
  auto add = [&verdicts](std::vector<Verdict> more) {
    verdicts.insert(verdicts.end(), more.begin(), more.end());
  };
  double base = 0;
  double base32 = 0;
  if (wanted(2) || wanted(4)) {
    std::printf("\n[base] the program's own peak over an ordinary site\n");
    base = BasePeakMiB(launcher, 8);
    base32 = BasePeakMiB(launcher, 32);
  }
  if (wanted(1)) verdicts.push_back(HugeRobotsCase(launcher));
  if (wanted(2)) verdicts.push_back(CompressedRobotsCase(launcher, base));
  if (wanted(3)) add(HostileMarkupCases(launcher));
  if (wanted(4)) add(MemoryLimitCases(launcher, base32));
  if (wanted(5)) verdicts.push_back(ForbiddenRedirectsCase(launcher));
  if (wanted(6)) verdicts.push_back(CredentialsCase(launcher));
  if (wanted(7)) add(OddReplyCases(launcher));
  if (wanted(8)) verdicts.push_back(FullOutputCase(launcher));
  if (slow) verdicts.push_back(slow->Finish());
  std::printf(
      "\nPeak RSS: bench_hostile %.1f MiB; the helper that starts the children %.1f MiB "
      "(every child's figure includes it)\n",
      OwnPeakMiB(), static_cast<double>(launcher.HelperPeakRssKb()) / 1024.0);
  PrintTable(verdicts, !timeLimit && wanted(7));
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread: the helper is forked from this process as it is now.
  qm::bench::ChildLauncher launcher;
  bool trickle = true;
  bool crawlOnly = false;
  bool timeLimit = true;
  int only = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-trickle") {
      trickle = false;
    } else if (arg == "--crawl-only") {
      crawlOnly = true;
    } else if (arg == "--no-time-limit") {
      timeLimit = false;
    } else if (arg == "--case" && i + 1 < argc) {
      only = std::atoi(argv[++i]);
      crawlOnly = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_hostile [--no-trickle] [--crawl-only] [--case N] "
                   "[--no-time-limit]\n");
      return 2;
    }
  }
  if (!crawlOnly) PeakMemory();
  CrawlCases(launcher, only, timeLimit);
  if (!crawlOnly && trickle) TrickleTimes();
  return 0;
}
