#pragma once
// Whether a URL list costs what its pages cost: qmharvest-cli harvest of lists of one host's
// numbered pages and of many hosts' home pages, at the default crawl settings and at depth 0,
// against a local nginx whose access log counts the requests; then the peak memory of two
// million-line lists.
#include <string>
#include <vector>

namespace qm::bench {

struct ListScalingOptions {
  std::vector<long> OneHostLines = {500, 2000, 10000};
  int SitePages = 12000;        // at least the longest one-host list
  long DistinctHosts = 100000;  // 0 leaves the distinct-host lists out
  long MemoryLines = 1000000;   // 0 leaves the memory check out
  int TimeLimit = 300;          // seconds a run may take before it is stopped
  int MemoryTimeLimit = 900;
};

// Prints the figures and the goals beside them; the exit status of the program.
int RunListScaling(const std::string& cliPath, const ListScalingOptions& options);

}  // namespace qm::bench
