// Link extraction rate: libgumbo parsing plus the nesting guard and the address resolution,
// over generated UTF-8 pages of a site's usual shape (navigation lists, tables, paragraphs of
// Chinese text, a footer of contact links), in MB and pages per CPU second, next to the rate
// a fetch reaches on loopback (1000 to 3000 pages of 8 KB per second, 8 to 24 MB/s).
//
//   bench_links [MEGABYTES]     (default 100)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "crawl/html_nesting_guard.h"
#include "crawl/page_links.h"

namespace {

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
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
    page +=
        "<div class=\"footer\"><a href=\"/contact.html\">联系我们</a> | <a "
        "href=\"/about.html\">关于我们</a> | <a href=\"mailto:info@example.cn\">info@"
        "example.cn</a></div>\n</body></html>\n";
    return page;
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

struct Rate {
  double megabytesPerSecond;
  double pagesPerSecond;
  double linksPerPage;
};

template <typename Work>
Rate Measure(const std::vector<std::string>& pages, size_t totalBytes, Work work) {
  size_t pagesDone = 0;
  size_t bytesDone = 0;
  size_t links = 0;
  const double start = ThreadCpuSeconds();
  while (bytesDone < totalBytes) {
    const std::string& page = pages[pagesDone % pages.size()];
    links += work(page);
    bytesDone += page.size();
    ++pagesDone;
  }
  const double seconds = ThreadCpuSeconds() - start;
  return {static_cast<double>(bytesDone) / 1e6 / seconds, static_cast<double>(pagesDone) / seconds,
          static_cast<double>(links) / static_cast<double>(pagesDone)};
}

void Report(const char* name, size_t pageBytes, const Rate& rate, bool showLinks) {
  std::printf("%-32s %7zu B/page %8.1f MB/s %9.0f pages/s", name, pageBytes,
              rate.megabytesPerSecond, rate.pagesPerSecond);
  if (showLinks) std::printf(" %6.1f links/page", rate.linksPerPage);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
  const auto totalBytes = static_cast<size_t>(megabytes * 1e6);
  SitePageWriter writer(17);
  std::printf("link extraction over %.0f MB per row, one thread\n", megabytes);
  for (const size_t size : {8000u, 120000u}) {
    std::vector<std::string> pages;
    for (int i = 0; i < 64; ++i) pages.push_back(writer.Page(size));
    const size_t pageBytes = pages.front().size();
    const Rate guard = Measure(pages, totalBytes, [](const std::string& page) {
      return qm::LengthWithinNestingDepth(page, 512) == page.size() ? 0u : 1u;
    });
    Report(size < 10000 ? "nesting guard, 8 KB pages" : "nesting guard, 120 KB pages", pageBytes,
           guard, false);
    const Rate links = Measure(pages, totalBytes, [](const std::string& page) {
      return qm::ExtractPageLinks(page, "http://www.example.cn/index.html").size();
    });
    Report(size < 10000 ? "ExtractPageLinks, 8 KB pages" : "ExtractPageLinks, 120 KB pages",
           pageBytes, links, true);
  }
  // Without the guard this page would take the parser minutes.
  std::string unclosed = writer.Page(8000);
  while (unclosed.size() < 1000000) unclosed += "<div>";
  const Rate hostile = Measure({unclosed}, 10000000, [](const std::string& page) {
    return qm::ExtractPageLinks(page, "http://www.example.cn/").size();
  });
  Report("ExtractPageLinks, 1 MB of <div>", unclosed.size(), hostile, true);
  std::printf("peak resident set: %ld KiB\n", qm::bench::PeakRssKb());
  return 0;
}
