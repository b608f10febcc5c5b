#pragma once
// Measuring helpers every benchmark program shares.
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::bench {

// User and system time of this process, all threads, in seconds.
double ProcessCpuSeconds();
// The process's peak resident set in KiB.
long PeakRssKb();
// Pages per second of `curl --parallel --parallel-max 4 -H 'Connection: close'` fetching
// every URL once; `extraOptions` (such as "--cacert FILE") go before the URL list.
double CurlPagesPerSecond(const qm::test::TempDir& dir, const std::vector<std::string>& urls,
                          const std::string& extraOptions = {});

}  // namespace qm::bench
