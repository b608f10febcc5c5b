#pragma once
// qmharvest-cli scan in its three settings against ripgrep over the same files, and what
// unique rows cost a result list.
#include <string>
#include <vector>

namespace qm::bench {

struct ScanFile {
  std::string Name;  // "GBK", "UTF-8"
  std::string Path;
  size_t Bytes = 0;
};

// Prints a table of CPU seconds (best of 3) of `qmharvest-cli scan` with its defaults,
// with --no-unique and with --no-extended --no-unique, and of ripgrep with the three plain
// patterns, per file, and the ratio ripgrep / ours.
void PrintScanTable(const std::string& cliPath, const std::vector<ScanFile>& files);

// Offers `values` (distinct) to result lists with and without unique rows, then offers
// them again: nanoseconds per append and per dropped repeat, and the heap bytes per value
// that unique rows add.
void PrintUniqueRowCost(const std::vector<std::string>& values);

}  // namespace qm::bench
