#pragma once
// Measuring helpers every benchmark program shares.
#include <random>
#include <string>
#include <vector>

#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace qm::bench {

// User and system time of this process, all threads, in seconds.
double ProcessCpuSeconds();

// The process's peak resident set in KiB.
long PeakRssKb();
// About 8 KB of page text with a contact every few lines: e-mail addresses, mobile numbers
// and QQ numbers, many of them distinct.
std::string MakeContactPage(std::mt19937& random, int index);
// The local nginx of the benchmarks: two workers, no access log.
test::NginxServer::Options NginxOptions();
// Pages per second of `curl --parallel --parallel-max 4 -H 'Connection: close'` fetching
// every URL once; `extraOptions` (such as "--cacert FILE") go before the URL list.
double CurlPagesPerSecond(const qm::test::TempDir& dir, const std::vector<std::string>& urls,
                          const std::string& extraOptions = {});

// The tab-separated fields of a status or row line.
std::vector<std::string> TabFields(const std::string& line);

}  // namespace qm::bench
