#include "common/bench_common.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace qm::bench {

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

}  // namespace qm::bench
