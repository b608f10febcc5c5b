// Link extraction rate and memory: generated UTF-8 pages of a site's usual shape (navigation
// lists, tables, paragraphs of Chinese text, a footer of contact links) of 8 KB and 120 KB,
// the tag-dense 8 KB contact pages the fetch benchmark serves (decoded from GBK, as a
// harvest reads them), then one 4 MiB page of the site's shape and 4 MiB pages of hostile
// markup, each in a child process of its own so that its peak resident set is its own. The
// peak is given above the resident set the child had with its page built.
//
//   bench_links [MEGABYTES] [CASE...]   (MEGABYTES per row of small pages, default 100;
//                                        CASE: names of the rows to run, default all: site-8k,
//                                        site-120k, contact-8k and the 4 MiB rows below)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "crawl/page_links.h"
#include "text/cp936.h"

namespace {

constexpr size_t kBigPage = 4u << 20;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), -1 when it cannot be read.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field + ":")) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

// Lets the peak resident set start again from the present one.
bool ResetPeakRss() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  clearRefs << "5";
  clearRefs.flush();
  return static_cast<bool>(clearRefs);
}

class SitePageWriter {
 public:
  explicit SitePageWriter(uint32_t seed) : rng_(seed) {}

  std::string Page(size_t targetBytes) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>某某科技有限公司</title>\n"
        "<link rel=\"stylesheet\" href=\"/css/site.css\">\n"
        "<script>var nav = '<a href=\"/x\">x</a>'; if (a < b && c) { run(); }</script>\n"
        "</head><body>\n<div class=\"nav\"><ul>\n";
    for (const char* item : {"首页", "关于我们", "产品中心", "新闻动态", "联系我们"}) {
      page += "<li><a href=\"/" + std::to_string(Pick(1000)) + ".html\" title=\"" + item + "\">" +
              item + "</a></li>\n";
    }
    page += "</ul></div>\n";
    while (page.size() + 600 < targetBytes) {
      switch (Pick(4)) {
        case 0:
          page += "<table class=\"list\"><tr><td width=\"30%\"><a href=\"news/" +
                  std::to_string(Pick(100000)) + ".html\">" + Hanzi(8 + Pick(12)) +
                  "</a></td><td>2024-05-" + std::to_string(1 + Pick(28)) + "</td></tr></table>\n";
          break;
        case 1:
          page += "<p>" + Hanzi(40 + Pick(60)) + "&nbsp;电话：0755-" +
                  std::to_string(10000000 + Pick(89999999)) + "</p>\n";
          break;
        case 2:
          page += "<div class=\"item\"><a href=\"../products/?id=" + std::to_string(Pick(5000)) +
                  "&amp;lang=cn\"><img src=\"/img/p" + std::to_string(Pick(500)) + ".jpg\" alt=\"" +
                  Hanzi(4) + "\"></a><span>" + Hanzi(10) + "</span></div>\n";
          break;
        default:
          page += "<!-- " + Hanzi(5) + " --><br><font color=\"#333\">" + Hanzi(20) + "</font>\n";
          break;
      }
    }
    page += Footer();
    return page;
  }

  static std::string Footer() {
    return "<div class=\"footer\"><a href=\"/contact.html\">联系我们</a> | <a "
           "href=\"/about.html\">关于我们</a> | <a href=\"mailto:info@example.cn\">info@"
           "example.cn</a></div>\n</body></html>\n";
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  std::string Hanzi(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      const char32_t c = 0x4E00 + static_cast<char32_t>(Pick(0x5000));
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
  }

  std::mt19937 rng_;
};

// A hostile page: a few links, then `piece` repeated to `count` times or to 4 MiB, then the
// footer's links, which a scan that got through finds.
std::string HostilePage(const std::string& piece, size_t count = 0) {
  std::string page = "<html><body><a href=\"/first.html\">First</a>\n";
  if (count == 0) count = (kBigPage - page.size()) / piece.size();
  page.reserve(page.size() + piece.size() * count + 256);
  for (size_t i = 0; i < count; ++i) page += piece;
  return page + SitePageWriter::Footer();
}

struct Rate {
  double megabytesPerSecond;
  double pagesPerSecond;
  double linksPerPage;
};

Rate Measure(const std::vector<std::string>& pages, size_t totalBytes) {
  size_t pagesDone = 0;
  size_t bytesDone = 0;
  size_t links = 0;
  const double start = ThreadCpuSeconds();
  while (bytesDone < totalBytes) {
    const std::string& page = pages[pagesDone % pages.size()];
    links += qm::ExtractPageLinks(page, "http://www.example.cn/index.html").size();
    bytesDone += page.size();
    ++pagesDone;
  }
  const double seconds = ThreadCpuSeconds() - start;
  return {static_cast<double>(bytesDone) / 1e6 / seconds, static_cast<double>(pagesDone) / seconds,
          static_cast<double>(links) / static_cast<double>(pagesDone)};
}

// Rows of small pages, taken in turn.
struct SmallCase {
  const char* name;
  const char* title;
  const std::vector<std::string>* pages;
};

struct BigCase {
  const char* name;
  std::function<std::string()> page;
};

// One 4 MiB page in a child process: its rate over at least a second of CPU (or one pass),
// its links and the memory one extraction takes above the page itself.
void RunBigCase(const BigCase& big) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return;
  }
  if (child > 0) {
    int status = 0;
    waitpid(child, &status, 0);
    return;
  }
  const std::string page = big.page();
  const bool peakReset = ResetPeakRss();
  const long before = StatusKb("VmRSS");
  size_t links = 0;
  size_t passes = 0;
  const double start = ThreadCpuSeconds();
  double seconds = 0;
  while (passes == 0 || seconds < 1.0) {
    links = qm::ExtractPageLinks(page, "http://www.example.cn/index.html").size();
    ++passes;
    seconds = ThreadCpuSeconds() - start;
  }
  const long peak = StatusKb("VmHWM");
  std::printf("%-28s %8zu B %8.1f MB/s %8.1f ms/page %7zu links   peak +%ld KiB%s\n", big.name,
              page.size(),
              static_cast<double>(page.size()) * static_cast<double>(passes) / 1e6 / seconds,
              seconds * 1000 / static_cast<double>(passes), links, peak - before,
              peakReset ? "" : " (peak not reset: includes building the page)");
  std::fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
  const std::vector<std::string> wanted(argv + std::min(argc, 2), argv + argc);
  const auto isWanted = [&](const char* name) {
    return wanted.empty() || std::find(wanted.begin(), wanted.end(), name) != wanted.end();
  };
  const auto totalBytes = static_cast<size_t>(megabytes * 1e6);
  SitePageWriter writer(17);
  std::vector<std::string> site8k, site120k, contact8k;
  for (int i = 0; i < 64; ++i) site8k.push_back(writer.Page(8000));
  for (int i = 0; i < 64; ++i) site120k.push_back(writer.Page(120000));
  std::mt19937 random(42);
  for (int i = 0; i < 64; ++i) {
    contact8k.push_back(qm::Cp936ToUtf8(qm::bench::MakeContactPage(random, i)));
  }
  const SmallCase rows[] = {
      {"site-8k", "site pages of 8 KB", &site8k},
      {"site-120k", "site pages of 120 KB", &site120k},
      {"contact-8k", "tag-dense contact pages", &contact8k},
  };
  std::printf("link extraction over %.0f MB per row, one thread\n", megabytes);
  for (const SmallCase& row : rows) {
    if (!isWanted(row.name)) continue;
    const Rate rate = Measure(*row.pages, totalBytes);
    std::printf("%-28s %8zu B %8.1f MB/s %8.0f pages/s %6.1f links/page\n", row.title,
                row.pages->front().size(), rate.megabytesPerSecond, rate.pagesPerSecond,
                rate.linksPerPage);
  }
  const BigCase cases[] = {
      {"site-page", [] { return SitePageWriter(23).Page(kBigPage); }},
      {"rt", [] { return HostilePage("<rt>", 1000000); }},
      {"unclosed-div", [] { return HostilePage("<div>"); }},
      {"abrupt-comment", [] { return HostilePage("<!-->"); }},
      {"bang-comment-end", [] { return HostilePage("<!-- a --!>"); }},
      {"unterminated-quote", [] { return HostilePage("<div title=\"x>"); }},
      {"quote-in-unquoted", [] { return HostilePage("<p a=x\"y>"); }},
      {"stray-end-tag", [] { return HostilePage("</x>"); }},
      // Stops at the cap of 20000 links.
      {"link-flood", [] { return HostilePage("<a href=/x>x</a>"); }},
  };
  std::printf("one 4 MiB page, one thread, in a child process each\n");
  for (const BigCase& big : cases) {
    if (isWanted(big.name)) RunBigCase(big);
  }
  return 0;
}
