#include "scan_table.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include "common/child_process.h"
#include "common/ripgrep_run.h"
#include "contacts/result_list.h"
#include "ui/change_notifier.h"

namespace qm::bench {
namespace {

constexpr int kRuns = 3;

std::optional<double> BestCliSeconds(const std::string& cliPath,
                                     const std::vector<std::string>& options,
                                     const std::string& path) {
  std::optional<double> best;
  for (int i = 0; i < kRuns; ++i) {
    std::vector<std::string> args = {cliPath, "scan"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(path);
    const ChildRun run = RunChild(args, "/dev/null", "");
    if (run.ExitCode() != 0) return std::nullopt;
    best = std::min(best.value_or(1e100), run.CpuSeconds);
  }
  return best;
}

std::optional<double> BestRipgrepSeconds(const std::string& path) {
  std::optional<double> best;
  for (int i = 0; i < kRuns; ++i) {
    const std::optional<double> seconds = RipgrepCpuSeconds(path, {"-c"});
    if (!seconds) return std::nullopt;
    best = std::min(best.value_or(1e100), *seconds);
  }
  return best;
}

// CPU seconds of this thread: the machine's other work does not count.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

}  // namespace

void PrintScanTable(const std::string& cliPath, const std::vector<ScanFile>& files) {
  struct Setting {
    const char* Name;
    std::vector<std::string> Options;
  };
  const Setting settings[] = {
      {"default (extended, unique)", {}},
      {"extended, --no-unique", {"--no-unique"}},
      {"plain (--no-extended --no-unique)", {"--no-extended", "--no-unique"}}};
  // Checks of the rows against DNS servers are no part of the scan measured here.
  std::vector<std::string> common;
  if (RunChild({cliPath, "scan", "--no-verify", "/dev/null"}).ExitCode() == 0) {
    common.push_back("--no-verify");
    std::printf("  (qmharvest-cli scan with --no-verify in every setting)\n");
  }
  std::vector<std::optional<double>> ripgrep;
  for (const ScanFile& file : files) ripgrep.push_back(BestRipgrepSeconds(file.Path));

  std::printf("  %-34s", "CPU seconds, best of 3");
  for (const ScanFile& file : files)
    std::printf(" %7s %6.0fMB  rg/ours", file.Name.c_str(), double(file.Bytes) / 1e6);
  std::printf("\n");
  for (const Setting& setting : settings) {
    std::printf("  %-34s", setting.Name);
    for (size_t f = 0; f < files.size(); ++f) {
      std::vector<std::string> options = common;
      options.insert(options.end(), setting.Options.begin(), setting.Options.end());
      const std::optional<double> ours = BestCliSeconds(cliPath, options, files[f].Path);
      if (!ours) {
        std::printf(" %16s %8s", "failed", "");
        continue;
      }
      std::printf(" %15.3fs", *ours);
      if (ripgrep[f]) {
        std::printf(" %8.2f", *ripgrep[f] / *ours);
      } else {
        std::printf(" %8s", "-");
      }
    }
    std::printf("\n");
  }
  std::printf("  %-34s", "ripgrep -c, three plain patterns");
  for (const std::optional<double>& seconds : ripgrep) {
    if (seconds) {
      std::printf(" %15.3fs %8.2f", *seconds, 1.0);
    } else {
      std::printf(" %16s %8s", "not run", "");
    }
  }
  std::printf("\n");
}

void PrintUniqueRowCost(const std::vector<std::string>& values) {
  ui::ChangeNotifier notifier;
  double appendNs[2] = {1e100, 1e100}, repeatNs = 1e100;
  size_t heap[2] = {};
  for (int round = 0; round < 5; ++round) {
    for (const bool unique : {false, true}) {
      const size_t before = HeapInUse();
      auto list = std::make_unique<TResultList>(notifier);
      list->BeginRun(unique);
      double start = ThreadSeconds();
      for (const std::string& value : values)
        list->AcceptCandidate(value, {}, "http://example.cn/");
      appendNs[unique] =
          std::min(appendNs[unique], (ThreadSeconds() - start) * 1e9 / double(values.size()));
      heap[unique] = HeapInUse() - before;
      if (unique) {
        start = ThreadSeconds();
        for (const std::string& value : values)
          list->AcceptCandidate(value, {}, "http://example.cn/");
        repeatNs = std::min(repeatNs, (ThreadSeconds() - start) * 1e9 / double(values.size()));
      }
    }
  }
  std::printf(
      "  %zu distinct values, best of 5: an append %.0f ns without unique rows, %.0f ns "
      "with them (%.0f ns more); a dropped repeat %.0f ns; unique rows keep %.1f bytes "
      "per value\n",
      values.size(), appendNs[0], appendNs[1], appendNs[1] - appendNs[0], repeatNs,
      (double(heap[1]) - double(heap[0])) / double(values.size()));
}

}  // namespace qm::bench
