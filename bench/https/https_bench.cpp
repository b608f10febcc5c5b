// Pages per second over 2,000 local https pages of about 8 KB with 4 threads, each page on
// its own client and connection as the crawl loop fetches them, next to curl with 4
// parallel transfers and "Connection: close" over the same list in the same run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "http/http_client.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"
#include "support/tls_certificates.h"
#include "text/line_split.h"

namespace {

constexpr int kThreads = 4;
constexpr int kPages = 2000;
constexpr int kRounds = 2;

using Clock = std::chrono::steady_clock;

std::string MakePage(int index) {
  std::string page = "<html><head><title>page " + std::to_string(index) + "</title></head>\r\n";
  while (page.size() < 8000) {
    page += "<p>contact mail" + std::to_string(page.size()) +
            "@example.cn \xc1\xaa\xcf\xb5 13800138000 <a href=\"/x\">more</a></p>\r\n";
  }
  return page + "</html>\r\n";
}

double RunOurs(const std::vector<std::string>& urls, const std::string& caFile, int& failures) {
  std::atomic<int> next{0};
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      std::vector<std::string> lines;
      for (int i = next++; i < static_cast<int>(urls.size()); i = next++) {
        qm::THttpClient client;
        client.TlsCaFile = caFile;
        if (!client.PerformRequest("GET", urls[i])) {
          ++failed;
          continue;
        }
        qm::SplitLines(client.Document.Remaining(), lines);
        if (lines.size() < 50) ++failed;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  failures += failed;
  return urls.size() / seconds;
}

}  // namespace

int main() {
  qm::test::TestCertificates certificates;
  const auto site = certificates.Issue("localhost", "DNS:localhost");
  qm::test::NginxServer::Options options;
  options.WorkerProcesses = 2;
  options.AccessLog = false;
  options.ListenParameters = " ssl";
  options.ServerDirectives =
      "ssl_certificate " + site.Certificate + ";\n    ssl_certificate_key " + site.Key + ";";
  qm::test::NginxServer nginx(options);
  qm::test::TempDir work;

  std::vector<std::string> urls;
  size_t bytes = 0;
  for (int i = 0; i < kPages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    const std::string page = MakePage(i);
    bytes += page.size();
    nginx.WriteFile(name, page);
    urls.push_back("https://localhost:" + std::to_string(nginx.Port()) + "/" + name);
  }
  std::printf(
      "%d https pages of %.1f KB on average, %d threads, nginx with 2 workers, "
      "ECDSA P-256 certificate\n",
      kPages, bytes / 1024.0 / kPages, kThreads);
  int failures = 0;
  for (int round = 1; round <= kRounds; ++round) {
    const double ours = RunOurs(urls, certificates.CaFile(), failures);
    const double curl =
        qm::bench::CurlPagesPerSecond(work, urls, "--cacert " + certificates.CaFile());
    std::printf("round %d: THttpClient %.0f pages/s, curl --parallel %.0f pages/s (ratio %.2f)\n",
                round, ours, curl, ours / curl);
  }
  if (failures != 0) std::printf("failed fetches: %d\n", failures);
  return failures == 0 ? 0 : 1;
}
