#include "common/bench_common.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qm::bench {

// About 8 KB of page text with a contact every few lines: e-mail addresses, mobile numbers
// and QQ numbers, many of them distinct, so the result lists grow through the run.
std::string MakeContactPage(std::mt19937& random, int index) {
  static const char* const kWords[] = {"<p>",
                                       "</p>",
                                       "\xc1\xaa\xcf\xb5",
                                       "\xb5\xe7\xbb\xb0",
                                       "contact",
                                       "<a href=\"/x\">",
                                       "</a>",
                                       "\xd6\xd0\xce\xc4",
                                       "2024",
                                       "&nbsp;",
                                       "<div class=\"row\">",
                                       "</div>"};
  std::string page = "<html><head><title>page " + std::to_string(index) + "</title></head>\r\n";
  while (page.size() < 8000) {
    for (int i = 0; i < 12; ++i) {
      page += kWords[random() % (sizeof kWords / sizeof kWords[0])];
      page += ' ';
    }
    switch (random() % 20) {
      case 0:
        page += "mail" + std::to_string(random() % 5000) + "@example.cn ";
        break;
      case 1:
        page += "13" + std::to_string(100000000 + random() % 899999999) + " ";
        break;
      case 2:
        page += "QQ:" + std::to_string(10000 + random() % 900000000) + " ";
        break;
      default:
        break;
    }
    page += "\r\n";
  }
  return page + "</html>\r\n";
}

test::NginxServer::Options NginxOptions() {
  test::NginxServer::Options options;
  options.WorkerProcesses = 2;
  options.AccessLog = false;
  return options;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double CurlPagesPerSecond(const qm::test::TempDir& dir, const std::vector<std::string>& urls,
                          const std::string& extraOptions) {
  std::string config;
  for (const std::string& url : urls) config += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
  const std::string configPath = dir.Write("curl.conf", config);
  const std::string command = "curl -s --parallel --parallel-max 4 -H 'Connection: close' " +
                              extraOptions + " -K " + configPath + " >/dev/null 2>&1";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) std::printf("  (curl exited with status %d)\n", status);
  return static_cast<double>(urls.size()) / seconds;
}

std::vector<std::string> TabFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

}  // namespace qm::bench
