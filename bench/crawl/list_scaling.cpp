#include "list_scaling.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/child_process.h"
#include "common/median.h"
#include "one_host_site.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace qm::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 4;
constexpr long kPageLimit = 20;  // the command's default
constexpr double kWallRatioGoal = 2.0;
constexpr double kCpuFlatGoal = 1.25;
constexpr long kMemoryGoalKb = 300L * 1024;
constexpr const char* kDefaultSettings = "default";
constexpr const char* kDepthZero = "--depth 0";
// The same with every page and row kept in a result store as they end.
constexpr const char* kDepthZeroStored = "--depth 0 --store";
constexpr int kStoreRounds = 5;

struct ListRun {
  std::string List;  // what the list is, for the table
  std::string Settings;
  long Lines = 0;
  long Hosts = 0;
  bool Ended = false;
  int TimeLimit = 0;
  std::string Trouble;
  double Seconds = 0;
  double CpuSeconds = 0;
  long PeakRssKb = 0;
  long Requests = 0;
  long RobotsRequests = 0;
  long Pages = 0;     // status records
  long Followed = 0;  // of them, pages reached by a link (depth above 0)
  long Failed = 0;    // of them, pages with a failure reason

  long RequestBound() const { return Lines + Hosts * (kPageLimit + 1); }
  std::optional<double> CpuMsPerPage() const {
    if (Pages == 0) return std::nullopt;
    return 1000.0 * CpuSeconds / static_cast<double>(Pages);
  }
  std::optional<double> CpuMsPerPageBeyond(const ListRun& base) const {
    if (Pages <= base.Pages) return std::nullopt;
    return 1000.0 * (CpuSeconds - base.CpuSeconds) / static_cast<double>(Pages - base.Pages);
  }
};

struct LogCount {
  long Lines = 0;
  long Robots = 0;
};

// The lines nginx appended to its access log after `offset`; it writes each line when its
// request ends, so the log is read once it has stopped growing.
LogCount CountLogSince(const fs::path& log, std::uintmax_t offset) {
  std::uintmax_t size = fs::exists(log) ? fs::file_size(log) : 0;
  for (int settle = 0; settle < 50; ++settle) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::uintmax_t now = fs::exists(log) ? fs::file_size(log) : 0;
    if (now == size) break;
    size = now;
  }
  LogCount count;
  std::ifstream in(log, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  for (std::string line; std::getline(in, line);) {
    ++count.Lines;
    if (line.find("\"GET /robots.txt ") != std::string::npos) ++count.Robots;
  }
  return count;
}

std::string LastLine(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string last;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) last = line;
  }
  return last;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, end.ptr);
}

class Bench {
 public:
  Bench(std::string cliPath, fs::path work, fs::path accessLog)
      : cliPath_(std::move(cliPath)), work_(std::move(work)), accessLog_(std::move(accessLog)) {}

  ListRun Run(const std::string& list, const fs::path& listPath, long lines, long hosts,
              const std::string& settings, int timeLimit) {
    ListRun run;
    run.List = list;
    run.Settings = settings;
    run.Lines = lines;
    run.Hosts = hosts;
    run.TimeLimit = timeLimit;
    const fs::path status = work_ / "status.tsv", errors = work_ / "harvest.err";
    // timeout(1) in between: wait4 on it still reports the harvester's peak memory and CPU,
    // which its own children's usage includes.
    std::vector<std::string> args = {"timeout", "-s",       "KILL",      std::to_string(timeLimit),
                                     cliPath_,  "harvest",  "--threads", std::to_string(kThreads),
                                     "--email", "--mobile", "--qq",      "--no-online-check"};
    // The rows' checks ask a resolver; they would measure its answers, not the crawl or the store.
    args.push_back("--no-verify");
    if (settings == kDepthZero) args.insert(args.end(), {"--depth", "0"});
    if (settings == kDepthZeroStored) {
      const fs::path store = work_ / "store.db";
      for (const char* end : {"", "-wal", "-shm"}) fs::remove(store.string() + end);
      args.insert(args.end(), {"--depth", "0", "--store", store.string()});
    }
    args.insert(args.end(), {"--status", status.string(), listPath.string()});
    const std::uintmax_t logOffset = fs::exists(accessLog_) ? fs::file_size(accessLog_) : 0;
    const ChildRun child = RunChild(args, "/dev/null", errors.string());
    run.Seconds = child.Seconds;
    run.CpuSeconds = child.CpuSeconds;
    run.PeakRssKb = child.PeakRssKb;
    const int exitCode = child.ExitCode();
    run.Ended = !(exitCode == 128 + 9 && child.Seconds >= timeLimit - 1);
    if (run.Ended && exitCode != 0) {
      run.Trouble = "exit status " + std::to_string(exitCode) + ": " + LastLine(errors);
    }
    const LogCount requests = CountLogSince(accessLog_, logOffset);
    run.Requests = requests.Lines;
    run.RobotsRequests = requests.Robots;
    std::ifstream in(status, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      const std::vector<std::string> fields = TabFields(line);
      ++run.Pages;
      if (fields.size() > 6 && !fields[6].empty()) ++run.Failed;
      if (fields.size() > 10 && fields[10] != "0") ++run.Followed;
    }
    in.close();
    fs::remove(status);
    PrintRow(run);
    return run;
  }

  static void PrintHeader() {
    std::printf("  %-32s %-9s %9s %8s %9s %8s %9s %8s %8s %6s %7s %7s\n", "list", "settings",
                "wall s", "cpu s", "cpu ms/pg", "requests", "robots", "bound", "pages", "follow",
                "failed", "peak MB");
    std::fflush(stdout);
  }

  static void PrintRow(const ListRun& run) {
    const std::optional<double> perPage = run.CpuMsPerPage();
    const std::string cpu = perPage ? Fixed(*perPage, 3) : "-";
    std::printf("  %-32s %-9s %9.2f %8.2f %9s %8ld %9ld %8ld %8ld %6ld %7ld %7.1f\n",
                run.List.c_str(), run.Settings.c_str(), run.Seconds, run.CpuSeconds, cpu.c_str(),
                run.Requests, run.RobotsRequests, run.RequestBound(), run.Pages, run.Followed,
                run.Failed, static_cast<double>(run.PeakRssKb) / 1024.0);
    if (!run.Ended) {
      std::printf("    did not end in %d s (stopped; the figures are those up to then)\n",
                  run.TimeLimit);
    }
    if (!run.Trouble.empty()) std::printf("    (%s)\n", run.Trouble.c_str());
    std::fflush(stdout);
  }

 private:
  std::string cliPath_;
  fs::path work_;
  fs::path accessLog_;
};

// "12.3x", or "> 12.3x" when the default run was stopped.
std::string WallRatio(const ListRun& crawl, const ListRun& depthZero) {
  if (depthZero.Seconds <= 0) return "-";
  const double ratio = crawl.Seconds / depthZero.Seconds;
  return (crawl.Ended ? "" : "> ") + Fixed(ratio, 1) + "x";
}

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

void PrintRequestGoal(const std::vector<ListRun>& runs) {
  std::printf(
      "\ngoal: requests at most lines + page limit + 1 per host (the bound column: lines + "
      "hosts x %ld)\n",
      kPageLimit + 1);
  for (const ListRun& run : runs) {
    const bool met = run.Requests <= run.RequestBound();
    std::printf("  %-32s %-9s %8ld of %8ld%s, robots.txt %ld times for %ld hosts: %s\n",
                run.List.c_str(), run.Settings.c_str(), run.Requests, run.RequestBound(),
                run.Ended ? "" : " (stopped)", run.RobotsRequests, run.Hosts,
                Verdict(met && run.Ended));
  }
}

}  // namespace

int RunListScaling(const std::string& cliPath, const ListScalingOptions& options) {
  const long longest = *std::max_element(options.OneHostLines.begin(), options.OneHostLines.end());
  const int pages = std::max(options.SitePages, static_cast<int>(longest));
  const int port = PortFreeOnAllAddresses();
  if (port == 0) {
    std::fprintf(stderr, "bench_crawl: no port is free on every address\n");
    return 1;
  }
  test::TempDir webDir, logDir, work;
  const NumberedSite site = WriteNumberedSite(webDir.Path(), pages, port);
  const fs::path accessLog = logDir.Path() / "access.log";
  test::NginxServer::Options nginxOptions = NginxOptions();
  nginxOptions.ServerDirectives = NumberedSiteDirectives(site, webDir.Path(), accessLog);
  test::NginxServer nginx(nginxOptions);
  Bench bench(cliPath, work.Path(), accessLog);

  std::printf(
      "bench_crawl lists: one site of %d numbered pages (%.1f KB each on average, links to %d "
      "other pages each, %d of them also to a shared contact page, robots.txt) served by a "
      "local nginx (2 workers) on port %d of every loopback address\n",
      site.Pages, static_cast<double>(site.PageBytes) / site.Pages / 1024.0, kLinksPerPage,
      site.ContactLinks, port);
  std::printf(
      "qmharvest-cli harvest --threads %d --email --mobile --qq --no-verify --status FILE LIST, at "
      "the "
      "default crawl settings (depth 1, page limit %ld, robots.txt obeyed, 8 pages in flight "
      "a thread) and at --depth 0; each run stopped after %d s\n",
      kThreads, kPageLimit, options.TimeLimit);
  std::printf(
      "requests: lines of nginx's access log during the run (robots: those for robots.txt); "
      "bound: lines + hosts x (page limit + 1); pages: status records (follow: reached by a "
      "link; failed: with a failure reason); cpu: the harvester's user and system time; peak: "
      "its peak resident set\n\n");
  Bench::PrintHeader();

  std::vector<ListRun> runs;
  std::vector<std::pair<ListRun, ListRun>> oneHost;  // default, depth 0
  // What starting and ending the program costs, whatever the list: a one-line list's run,
  // taken off the others' CPU so that "per page" is what a page costs.
  std::pair<ListRun, ListRun> startup;
  {
    const fs::path list = work.Path() / "one-line.txt";
    WriteOneHostList(list, site, 1);
    startup = {bench.Run("one host, 1 line", list, 1, 1, kDefaultSettings, options.TimeLimit),
               bench.Run("one host, 1 line", list, 1, 1, kDepthZero, options.TimeLimit)};
  }
  for (const long lines : options.OneHostLines) {
    const fs::path list = work.Path() / ("one-host-" + std::to_string(lines) + ".txt");
    WriteOneHostList(list, site, lines);
    const std::string name = "one host, " + std::to_string(lines) + " lines";
    const ListRun zero = bench.Run(name, list, lines, 1, kDepthZero, options.TimeLimit);
    const ListRun crawl = bench.Run(name, list, lines, 1, kDefaultSettings, options.TimeLimit);
    std::printf("    default/depth 0 wall: %s\n", WallRatio(crawl, zero).c_str());
    // The store's cost is a few percent: rounds alternate with and without it, so that
    // neither side always meets the machine's other work, and their medians are compared.
    std::vector<double> storedSeconds, plainSeconds, storedCpu, plainCpu;
    for (int round = 0; round < kStoreRounds; ++round) {
      for (const bool withStore : {round % 2 == 0, round % 2 != 0}) {
        const ListRun run = bench.Run(name, list, lines, 1,
                                      withStore ? kDepthZeroStored : kDepthZero, options.TimeLimit);
        (withStore ? storedSeconds : plainSeconds).push_back(run.Seconds);
        (withStore ? storedCpu : plainCpu).push_back(run.CpuSeconds);
      }
    }
    const double stored = qm::bench::Median(storedSeconds), plain = qm::bench::Median(plainSeconds);
    std::printf(
        "    with the store: %.3f s against %.3f s at depth 0, %.3fx (goal: at most 1.05x); "
        "CPU %.3f s against %.3f s (medians of %d alternated rounds)\n",
        stored, plain, plain > 0 ? stored / plain : 0.0, qm::bench::Median(storedCpu),
        qm::bench::Median(plainCpu), kStoreRounds);
    oneHost.emplace_back(crawl, zero);
    runs.push_back(zero);
    runs.push_back(crawl);
  }
  std::optional<std::pair<ListRun, ListRun>> distinct;
  if (options.DistinctHosts > 0) {
    const long lines = options.DistinctHosts;
    const fs::path list = work.Path() / "distinct-hosts.txt";
    WriteDistinctHostList(list, site, lines);
    const std::string name = std::to_string(lines) + " hosts' home pages";
    const ListRun zero = bench.Run(name, list, lines, lines, kDepthZero, options.TimeLimit);
    const ListRun crawl = bench.Run(name, list, lines, lines, kDefaultSettings, options.TimeLimit);
    std::printf("    default/depth 0 wall: %s\n", WallRatio(crawl, zero).c_str());
    distinct.emplace(crawl, zero);
    runs.push_back(zero);
    runs.push_back(crawl);
  }
  std::vector<ListRun> memoryRuns;
  if (options.MemoryLines > 0) {
    const long lines = options.MemoryLines;
    std::printf(
        "\nmemory: %ld lines of a %zu-byte page nginx answers itself, at the default crawl "
        "settings; each run stopped after %d s\n",
        lines, TinyPageBytes(), options.MemoryTimeLimit);
    Bench::PrintHeader();
    for (const bool distinctHosts : {true, false}) {
      const fs::path list = work.Path() / "memory.txt";
      WriteTinyPageList(list, site, lines, distinctHosts);
      const std::string name =
          std::to_string(lines) + (distinctHosts ? " hosts" : " lines, one host");
      memoryRuns.push_back(bench.Run(name, list, lines, distinctHosts ? lines : 1, kDefaultSettings,
                                     options.MemoryTimeLimit));
      fs::remove(list);
    }
  }

  std::printf("\ngoal: default within %.0fx the wall of --depth 0 on the one-host lists\n",
              kWallRatioGoal);
  for (const auto& [crawl, zero] : oneHost) {
    const bool met = crawl.Ended && crawl.Seconds <= kWallRatioGoal * zero.Seconds;
    std::printf("  %-32s %8.2f s against %6.2f s, %s: %s\n", crawl.List.c_str(), crawl.Seconds,
                zero.Seconds, WallRatio(crawl, zero).c_str(), Verdict(met));
  }
  if (distinct) {
    std::printf("  (%s, not a goal: %.2f s against %.2f s, %s)\n", distinct->first.List.c_str(),
                distinct->first.Seconds, distinct->second.Seconds,
                WallRatio(distinct->first, distinct->second).c_str());
  }

  std::printf(
      "\ngoal: CPU per page flat within %.0f%% from the shortest one-host list to the "
      "longest\n",
      (kCpuFlatGoal - 1) * 100);
  for (const char* settings : {kDefaultSettings, kDepthZero}) {
    std::vector<const ListRun*> series;
    for (const auto& [crawl, zero] : oneHost)
      series.push_back(settings == kDepthZero ? &zero : &crawl);
    std::string figures;
    bool allEnded = true;
    double least = 0, most = 0;
    const ListRun& base = settings == kDepthZero ? startup.second : startup.first;
    for (const ListRun* run : series) {
      const std::optional<double> perPage = run->CpuMsPerPageBeyond(base);
      figures += (figures.empty() ? "" : ", ") + (perPage ? Fixed(*perPage, 3) : std::string("-")) +
                 (run->Ended ? "" : " (stopped)");
      allEnded = allEnded && run->Ended && perPage;
      if (perPage) {
        least = least == 0 ? *perPage : std::min(least, *perPage);
        most = std::max(most, *perPage);
      }
    }
    const bool met = allEnded && least > 0 && most <= kCpuFlatGoal * least;
    std::printf("  %-9s ms per page beyond a one-line run's %.3f s: %s: spread %s: %s\n", settings,
                base.CpuSeconds, figures.c_str(),
                least > 0 ? (Fixed((most / least - 1) * 100, 0) + "%").c_str() : "-", Verdict(met));
  }

  PrintRequestGoal(runs);

  if (!memoryRuns.empty()) {
    std::printf("\ngoal: at most %ld MB peak for the whole process on the million-line lists\n",
                kMemoryGoalKb / 1024);
    for (const ListRun& run : memoryRuns) {
      std::printf("  %-32s %7.1f MB in %.1f s%s: %s\n", run.List.c_str(),
                  static_cast<double>(run.PeakRssKb) / 1024.0, run.Seconds,
                  run.Ended ? "" : " (stopped, not ended)",
                  Verdict(run.Ended && run.PeakRssKb <= kMemoryGoalKb));
    }
  }
  return 0;
}

}  // namespace qm::bench
