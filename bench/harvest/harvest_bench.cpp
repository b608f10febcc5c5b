// qmharvest-cli harvest over local pages with 4 threads and every kind on: pages per
// second and the program's peak memory, for two list lengths, next to curl fetching the
// same list with 4 parallel transfers and "Connection: close".
//
//   bench_harvest [PAGES]     (default 2000)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "common/cli_harvest.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

// About 8 KB of code page 936 text and markup with one contact of each kind.
std::string Page(int number, std::mt19937& random) {
  std::string page = "<html><head><title>\xD0\xC2\xCE\xC5</title></head><body>\r\n";
  while (page.size() < 7800) {
    page += "<div class=\"item\"><a href=\"/news/2024/0612/" + std::to_string(random() % 100000) +
            ".html\">";
    for (int i = 0; i < 30; ++i) {
      page.push_back(static_cast<char>(0xB0 + random() % 0x27));
      page.push_back(static_cast<char>(0xA1 + random() % 0x5E));
    }
    page += "</a></div>\r\n";
  }
  page +=
      "<p>\xC1\xAA\xCF\xB5\xA3\xBA"
      "contact" +
      std::to_string(number) + "@example.com.cn</p>\r\n";
  page += "<p>\xCA\xD6\xBB\xFA\xA3\xBA" + std::to_string(13000000000LL + number) + "</p>\r\n";
  page += "<p>QQ\xA3\xBA" + std::to_string(10000000 + number) + "</p>\r\n</body></html>\r\n";
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 2000;
  qm::test::NginxServer nginx(qm::bench::NginxOptions());
  qm::test::TempDir work;

  std::mt19937 random(42);
  std::vector<std::string> urls;
  for (int i = 1; i <= pages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    nginx.WriteFile(name, Page(i, random));
    urls.push_back(nginx.Url(name));
  }
  auto writeList = [&](int count) {
    std::string list;
    for (int i = 0; i < count; ++i) list += urls[static_cast<size_t>(i)] + "\r\n";
    return work.Write("list" + std::to_string(count) + ".txt", list);
  };

  std::printf("qmharvest-cli harvest, 4 threads, all kinds, pages of ~8 KB from a local nginx\n");
  for (int count : {pages / 4, pages}) {
    const std::string list = writeList(count);
    qm::bench::CliHarvestRun best;
    for (int round = 0; round < 3; ++round) {
      const qm::bench::CliHarvestRun result = qm::bench::RunCliHarvest(QM_CLI_PATH, work, list);
      std::printf("  (round %d: %.3f s)\n", round, result.Seconds);
      if (round == 0 || result.Seconds < best.Seconds) best = result;
    }
    std::printf("  %5d pages  %8.0f pages/s  peak RSS %6ld KB  (exit %d)\n", count,
                count / best.Seconds, best.PeakRssKb, best.Status);
    std::printf("               %s\n", best.Summary.c_str());
  }
  double curlBest = 0;
  for (int round = 0; round < 2; ++round)
    curlBest = std::max(curlBest, qm::bench::CurlPagesPerSecond(work, urls));
  std::printf("  curl --parallel --parallel-max 4, Connection: close: %8.0f pages/s\n", curlBest);
  return 0;
}
