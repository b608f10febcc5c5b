// The run's memory limit against 4 threads x 32 pages in flight: listed pages of 4 MiB of
// links and pages of 64 MiB that arrive at 1 MiB every 100 ms.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "hostile/crawl_cases.h"
#include "hostile/local_site.h"

namespace qm::bench {
namespace {

constexpr size_t kLinkPageBytes = 4u << 20;
constexpr size_t kSlowPageBytes = 64u << 20;
constexpr size_t kSlowPiece = 1u << 20;
constexpr auto kSlowPause = std::chrono::milliseconds(100);
constexpr int kLines = 128;  // every fourth one slow

std::string Padded(unsigned long value, size_t width) {
  std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

// One link, always the same length: <a href="/links/f/NNNNNNNNNN">x</a>
std::string LinkLine(unsigned long n) {
  return "<a href=\"/links/f/" + Padded(n, 10) + "\">x</a>\n";
}

// Made a block at a time: this process must not hold the pages of all lanes at once.
void SendLinkPage(const std::string& target, SiteReply& reply) {
  const size_t lineBytes = LinkLine(0).size();
  const size_t lines = kLinkPageBytes / lineBytes;
  const std::string start = "<html><body><p>QQ:88776655</p>\n";
  const std::string end = "</body></html>\n";
  if (!reply.Send(
          ReplyHead("200 OK", {"Content-Type: text/html; charset=utf-8",
                               "Content-Length: " +
                                   std::to_string(start.size() + lines * lineBytes + end.size())}) +
          start)) {
    return;
  }
  // Every page links to pages of its own, so the crawl always has new ones to offer.
  const unsigned long first = (std::hash<std::string>()(target) % 100000) * 1000000;
  std::string block;
  for (size_t i = 0; i < lines; ++i) {
    block += LinkLine(first + i);
    if (block.size() >= (64u << 10) || i + 1 == lines) {
      if (!reply.Send(block)) return;
      block.clear();
    }
  }
  reply.Send(end);
}

const std::string& SlowPiece() {
  static const std::string piece = [] {
    std::string text;
    const std::string line = "<p>a line of an endless page, with nothing to find in it</p>\n";
    while (text.size() + line.size() <= kSlowPiece) text += line;
    return text + std::string(kSlowPiece - text.size(), '\n');
  }();
  return piece;
}

void SendSlowPage(SiteReply& reply) {
  if (!reply.Send(ReplyHead("200 OK", {"Content-Type: text/html; charset=utf-8",
                                       "Content-Length: " + std::to_string(kSlowPageBytes)}))) {
    return;
  }
  reply.SendRepeated(SlowPiece(), kSlowPageBytes, kSlowPause);
}

Verdict RunWithLimit(ChildLauncher& launcher, LocalSite& site, const std::string& list,
                     const std::string& listName, int limitMiB, bool given, double basePeakMiB) {
  std::printf("  %s, --memory-limit %d%s\n", listName.c_str(), limitMiB,
              given ? "" : " (the default, not given)");
  std::vector<std::string> options = {"--threads", "4", "--in-flight", "32", "--depth", "1"};
  if (given) {
    options.push_back("--memory-limit");
    options.push_back(std::to_string(limitMiB));
  }
  const size_t linksBefore = site.Requests("/links/");
  const size_t slowBefore = site.Requests("/slow/");
  qm::test::TempDir dir;
  const CrawlRun run = RunCrawl(launcher, dir, list, options);
  PrintFigures(run);
  std::printf("    requests: /links/ %zu (listed and followed), /slow/ %zu\n",
              site.Requests("/links/") - linksBefore, site.Requests("/slow/") - slowBefore);
  PrintStatusSummary(run);
  const double ceiling = (limitMiB + basePeakMiB) * 1.1;
  const size_t cut = run.ReasonCount("cut at the memory limit");
  std::printf(
      "    peak RSS %.1f MiB against limit + base %d + %.1f MiB (PASS up to %.1f); "
      "\"cut at the memory limit\" %zu\n",
      run.PeakMiB(), limitMiB, basePeakMiB, ceiling, cut);
  Verdict verdict;
  verdict.Case = "4 memory limit " + std::to_string(limitMiB) + " MiB, " + listName;
  verdict.Pass =
      run.Exit() == 0 && run.PeakMiB() <= ceiling &&
      run.Status.size() >= static_cast<size_t>(std::count(list.begin(), list.end(), '\n'));
  verdict.Figures = Fixed(run.Child.Seconds) + " s, CPU " + Fixed(run.Child.CpuSeconds) +
                    " s, peak " + Fixed(run.PeakMiB(), 1) + " MiB (ceiling " + Fixed(ceiling, 1) +
                    "), exit " + std::to_string(run.Exit()) + ", cut at the memory limit " +
                    std::to_string(cut) + " of " + std::to_string(run.Status.size());
  verdict.Expectation = "peak <= 1.1 x (limit + base), every line recorded";
  return verdict;
}

}  // namespace

std::vector<Verdict> MemoryLimitCases(ChildLauncher& launcher, double basePeakMiB) {
  std::printf(
      "\n[4] memory limit: 4 threads x 32 in flight, 96 pages of 4 MiB of links and 32 "
      "of 64 MiB at 1 MiB per 100 ms; depth 1\n");
  LocalSite site([](const SiteRequest& request, SiteReply& reply) {
    if (request.Target.rfind("/links/", 0) == 0) {
      SendLinkPage(request.Target, reply);
    } else if (request.Target.rfind("/slow/", 0) == 0) {
      SendSlowPage(reply);
    } else {
      reply.Send(ReplyHead("404 Not Found", {"Content-Length: 0"}));
    }
  });
  std::string both;
  std::string links;
  std::string slow;
  for (int i = 0; i < kLines; ++i) {
    const bool isSlow = i % 4 == 3;
    const std::string line = site.Url((isSlow ? "/slow/" : "/links/") + std::to_string(i)) + "\r\n";
    both += line;
    (isSlow ? slow : links) += line;
  }
  std::vector<Verdict> verdicts = {
      RunWithLimit(launcher, site, both, "both kinds", 256, true, basePeakMiB),
      RunWithLimit(launcher, site, both, "both kinds", 1024, false, basePeakMiB)};
  // Which kind of page holds the memory, when the limit is not kept.
  for (const Verdict& verdict : verdicts) {
    if (verdict.Pass) continue;
    const int limit = verdict.Case.find(" 256 ") != std::string::npos ? 256 : 1024;
    const bool given = limit != 1024;
    verdicts.push_back(
        RunWithLimit(launcher, site, links, "the 96 link pages alone", limit, given, basePeakMiB));
    verdicts.push_back(
        RunWithLimit(launcher, site, slow, "the 32 slow pages alone", limit, given, basePeakMiB));
  }
  return verdicts;
}

}  // namespace qm::bench
