// Following a site's links, against wget -r -l 1 and ripgrep. A generated web of SITES
// organisations' sites, each on a loopback address of its own and served by a local nginx,
// with known contacts planted, most of them on contact pages one link from the home page.
// qmharvest-cli harvest of the home pages at depth 0 and depth 1 (2 threads, as a user
// would), next to wget -r -l 1 of every site (one site at a time, and four at once) followed
// by ripgrep with three plain patterns over the downloaded tree, in the same run: planted
// contacts found, recall, values found that were not planted, requests and pages per site,
// wall and CPU time (the median of the rounds; the server's CPU not counted). Then depth 1
// without its page limit, and with robots.txt ignored.
//
// With "lists": whether a URL list costs what its pages cost (list_scaling.h).
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "contender_runs.h"
#include "list_scaling.h"
#include "local_web.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRounds = 3;
constexpr int kThreads = 2;
const char* const kKinds[] = {"email", "mobile", "qq"};

using qm::bench::ContactSet;
using qm::bench::ContenderRun;

struct Contender {
  std::string Name;
  std::function<ContenderRun()> Run;
  bool IsPipeline = false;
  std::vector<double> Seconds, FetchSeconds, CpuSeconds;
  ContenderRun Last;
  std::map<std::string, long> Requests;  // of the first round
  size_t PlantedFound = 0;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int CountOfKind(const ContactSet& set, const std::string& kind) {
  return static_cast<int>(std::count_if(set.begin(), set.end(), [&](const std::string& entry) {
    return entry.compare(0, kind.size() + 1, kind + "\t") == 0;
  }));
}

// The first two false rows of each kind.
std::string Examples(const ContactSet& rows) {
  std::string text;
  for (const char* kind : kKinds) {
    int shown = 0;
    for (const std::string& row : rows) {
      if (shown < 2 && row.compare(0, std::strlen(kind) + 1, std::string(kind) + "\t") == 0) {
        text +=
            (text.empty() ? "" : ", ") + std::string(kind) + " " + row.substr(row.find('\t') + 1);
        ++shown;
      }
    }
  }
  return text;
}

template <class Map>
std::pair<double, long> MeanAndMax(const Map& perHost, const std::vector<std::string>& hosts) {
  double sum = 0;
  long most = 0;
  for (const std::string& host : hosts) {
    const auto found = perHost.find(host);
    const long value = found == perHost.end() ? 0 : static_cast<long>(found->second);
    sum += static_cast<double>(value);
    most = std::max(most, value);
  }
  return {sum / static_cast<double>(hosts.size()), most};
}

constexpr const char* kUsage =
    "usage: bench_crawl [SITES]\n"
    "       bench_crawl lists [OPTIONS]\n"
    "\n"
    "bench_crawl [SITES]: SITES generated organisations' sites (default 40, at most 253), each\n"
    "  on a loopback address of its own; qmharvest-cli at depth 0 and 1 against wget -r -l 1\n"
    "  and ripgrep: contacts found, requests and pages per site, time.\n"
    "\n"
    "bench_crawl lists: one site of numbered pages on every loopback address; qmharvest-cli\n"
    "  harvest (4 threads) of lists of its pages at the default crawl settings and at\n"
    "  --depth 0: wall, CPU per page, requests nginx saw, pages, peak memory, with the goals.\n"
    "  --lines A,B,...        one-host lists of that many numbered pages (default\n"
    "                         500,2000,10000)\n"
    "  --site-pages N         numbered pages of the site (default 12000, at least the longest\n"
    "                         list)\n"
    "  --hosts N              a list of N distinct hosts' home pages, 127.1.0.0 onwards\n"
    "                         (default 100000; 0 leaves it out)\n"
    "  --memory-lines N       the memory check: N lines of distinct hosts and N lines of one\n"
    "                         host, of a tiny page, peak memory of each (default 1000000)\n"
    "  --no-memory            leaves the memory check out\n"
    "  --time-limit S         a run still going after S seconds is stopped (default 300)\n"
    "  --memory-time-limit S  the same for the memory check (default 900)\n";

std::optional<long> Number(const std::string& text) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// The options of "lists"; nullopt (after a message) when one is wrong.
std::optional<qm::bench::ListScalingOptions> ListOptions(int argc, char** argv) {
  qm::bench::ListScalingOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--no-memory") {
      options.MemoryLines = 0;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_crawl: %s needs a value\n\n%s", name.c_str(), kUsage);
      return std::nullopt;
    }
    const std::string value = argv[++i];
    std::optional<long> number = Number(value);
    if (name == "--lines") {
      options.OneHostLines.clear();
      number = 1;
      for (size_t start = 0; number && start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        number = Number(value.substr(start, comma - start));
        if (number && *number > 0) options.OneHostLines.push_back(*number);
        if (number && *number == 0) number.reset();
        start = comma + 1;
      }
    } else if (name == "--site-pages" && number) {
      options.SitePages = static_cast<int>(std::min(*number, 10000000L));
    } else if (name == "--hosts" && number) {
      options.DistinctHosts = std::min(*number, 16000000L);
    } else if (name == "--memory-lines" && number) {
      options.MemoryLines = std::min(*number, 16000000L);
    } else if (name == "--time-limit" && number && *number > 0) {
      options.TimeLimit = static_cast<int>(*number);
    } else if (name == "--memory-time-limit" && number && *number > 0) {
      options.MemoryTimeLimit = static_cast<int>(*number);
    } else {
      number.reset();
    }
    if (!number) {
      std::fprintf(stderr, "bench_crawl: wrong option %s %s\n\n%s", name.c_str(), value.c_str(),
                   kUsage);
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--help" || mode == "-h") {
    std::printf("%s", kUsage);
    return 0;
  }
  if (mode == "lists") {
    const std::optional<qm::bench::ListScalingOptions> options = ListOptions(argc, argv);
    return options ? qm::bench::RunListScaling(QM_CLI_PATH, *options) : 2;
  }
  const std::optional<long> siteCount = Number(mode.empty() ? "40" : mode);
  if (!siteCount || argc > 2) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  const int sites = static_cast<int>(std::clamp(*siteCount, 1L, 253L));
  qm::test::TempDir webDir, logDir, work;
  const std::vector<std::string> hosts = qm::bench::SiteHosts(sites);
  const int port = qm::bench::PortFreeOnEveryHost(hosts);
  if (port == 0) {
    std::fprintf(stderr, "bench_crawl: no port is free on every site's address\n");
    return 1;
  }
  const qm::bench::LocalWeb web = qm::bench::WriteLocalWeb(webDir.Path(), hosts, port);
  qm::test::NginxServer::Options options = qm::bench::NginxOptions();
  options.ServerDirectives = qm::bench::MultiSiteDirectives(web, webDir.Path(), logDir.Path());
  qm::test::NginxServer nginx(options);

  std::printf(
      "bench_crawl: %d sites on %s to %s, port %d, local nginx (2 workers); %d pages one link "
      "from the home pages (and on each site an admin area robots.txt forbids and a partner "
      "page linked only from another site, their contacts not planted)\n",
      sites, hosts.front().c_str(), hosts.back().c_str(), port, web.HtmlPages);
  std::printf(
      "planted: %zu contacts (e-mail %d, mobile %d, QQ %d): %d in the footer of every page, "
      "the rest on contact and about pages; %d of them only in forms the plain patterns miss "
      "(&#64;, [at] [dot], full-width at, grouped mobiles)\n",
      web.Planted.size(), CountOfKind(web.Planted, "email"), CountOfKind(web.Planted, "mobile"),
      CountOfKind(web.Planted, "qq"), web.PlantedInFooters, web.PlantedBeyondPlain);
  std::printf(
      "qmharvest-cli harvest --threads %d --email --mobile --qq, the page limit (20) and the "
      "pages in flight (8 a thread, 2 a site) at their defaults\n",
      kThreads);
  std::printf("plain patterns for rg -o -N --no-filename:");
  for (const qm::bench::PlainPattern& pattern : qm::bench::kPlainPatterns) {
    std::printf("  %s '%s'", pattern.Kind, pattern.Pattern);
  }
  std::printf("\n");
  std::fflush(stdout);

  // After the four compared: depth 1 without the page limit, reading every page wget reads,
  // and with robots.txt ignored, to show what obeying it spares.
  std::vector<Contender> contenders(6);
  const std::vector<std::vector<std::string>> crawlOptions = {
      {"--depth", "0"},
      {"--depth", "1"},
      {"--depth", "1", "--page-limit", "1000"},
      {"--depth", "1", "--no-robots"}};
  for (const int k : {0, 1, 2, 3}) {
    Contender& contender = contenders[k < 2 ? k : k + 2];
    contender.Name = "qmharvest-cli";
    for (const std::string& option : crawlOptions[k]) contender.Name += " " + option;
    contender.Run = [&web, &work, options = crawlOptions[k]] {
      return qm::bench::RunHarvester(QM_CLI_PATH, web, work.Path(), options, kThreads);
    };
  }
  for (const int parallel : {1, 4}) {
    Contender& contender = contenders[parallel == 1 ? 2 : 3];
    contender.Name = parallel == 1 ? "wget -r -l 1 one site at a time + rg"
                                   : "wget -r -l 1 four sites at once + rg";
    contender.IsPipeline = true;
    contender.Run = [&web, &work, parallel] {
      return qm::bench::RunWgetPipeline(web, work.Path(), parallel);
    };
  }

  for (int round = 1; round <= kRounds; ++round) {
    for (Contender& contender : contenders) {
      const auto before = qm::bench::AccessLogLines(web, logDir.Path());
      contender.Last = contender.Run();
      if (round == 1) {
        const auto after = qm::bench::AccessLogLines(web, logDir.Path());
        for (const auto& [host, lines] : after) contender.Requests[host] = lines - before.at(host);
      }
      contender.Seconds.push_back(contender.Last.Seconds);
      contender.FetchSeconds.push_back(contender.Last.FetchSeconds);
      contender.CpuSeconds.push_back(contender.Last.CpuSeconds);
    }
  }

  std::printf(
      "\nmedian of %d rounds; found: planted contacts found (distinct values, e-mail in "
      "lower case); false: distinct values found that were not planted\n",
      kRounds);
  std::printf("  %-42s %7s %6s %13s %12s %6s %6s %6s %5s %7s %s\n", "", "seconds", "cpu s",
              "requests/site", "pages/site", "found", "email", "mobile", "qq", "recall",
              "false (email mobile qq)");
  const double planted = static_cast<double>(web.Planted.size());
  for (Contender& contender : contenders) {
    ContactSet truePositives, falseRows;
    for (const std::string& entry : contender.Last.Found) {
      (web.Planted.count(entry) ? truePositives : falseRows).insert(entry);
    }
    const auto [requestMean, requestMax] = MeanAndMax(contender.Requests, hosts);
    const auto [pageMean, pageMax] = MeanAndMax(contender.Last.PagesPerHost, hosts);
    std::printf(
        "  %-42s %7.3f %6.2f %6.1f (%4ld) %5.1f (%4ld) %6zu %6d %6d %5d %6.1f%% %5zu (%d %d %d)\n",
        contender.Name.c_str(), Median(contender.Seconds), Median(contender.CpuSeconds),
        requestMean, requestMax, pageMean, pageMax, truePositives.size(),
        CountOfKind(truePositives, kKinds[0]), CountOfKind(truePositives, kKinds[1]),
        CountOfKind(truePositives, kKinds[2]),
        100.0 * static_cast<double>(truePositives.size()) / planted, falseRows.size(),
        CountOfKind(falseRows, kKinds[0]), CountOfKind(falseRows, kKinds[1]),
        CountOfKind(falseRows, kKinds[2]));
    if (!falseRows.empty())
      std::printf("    false rows, for example: %s\n", Examples(falseRows).c_str());
    contender.PlantedFound = truePositives.size();
    if (!contender.Last.Trouble.empty()) {
      std::printf("    (%s)\n", contender.Last.Trouble.c_str());
    }
    if (contender.IsPipeline) {
      std::printf("    (wget %.3f s of it)\n", Median(contender.FetchSeconds));
    }
  }
  std::printf(
      "  requests: lines of the site's access log, mean (most); pages: status records of the "
      "harvester, HTML files wget saved\n");

  const Contender& depthOne = contenders[1];
  std::printf("\ngoal: depth 1 finds more planted contacts than the wget pipeline, in less time\n");
  for (const Contender& wget : contenders) {
    if (!wget.IsPipeline) continue;
    const bool more = depthOne.PlantedFound > wget.PlantedFound;
    const bool faster = Median(depthOne.Seconds) < Median(wget.Seconds);
    std::printf("  against %-38s %zu against %zu found, %.3f s against %.3f s: %s\n",
                (wget.Name + ":").c_str(), depthOne.PlantedFound, wget.PlantedFound,
                Median(depthOne.Seconds), Median(wget.Seconds), more && faster ? "met" : "NOT met");
  }
  return 0;
}
