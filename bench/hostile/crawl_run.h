#pragma once
// One qmharvest-cli harvest of a crawl case: the child's figures, its rows, its status file,
// and the lines a case prints about them.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/child_process.h"
#include "hostile/child_launcher.h"
#include "support/temp_dir.h"

namespace qm::bench {

// One line of the status file.
struct StatusRecord {
  std::string Url;
  std::string FinalUrl;
  int Code = 0;
  unsigned long long Bytes = 0;
  std::string Reason;
  int Depth = 0;
  std::string Line;  // as written
};

struct CrawlRun {
  ChildRun Child;
  std::string Rows;    // standard output, unless it went elsewhere
  std::string Errors;  // standard error
  std::string StatusText;
  std::vector<StatusRecord> Status;

  int Exit() const { return Child.ExitCode(); }
  double PeakMiB() const { return static_cast<double>(Child.PeakRssKb) / 1024.0; }
  // A row of this kind and value is on standard output.
  bool HasRow(std::string_view kind, std::string_view value) const;
  // The records whose address ends with `suffix`.
  std::vector<const StatusRecord*> StatusOf(std::string_view suffix) const;
  // Records with a reason that contains `text`.
  size_t ReasonCount(std::string_view text) const;
};

// Runs `harvest --no-online-check --email --mobile --qq --status FILE OPTIONS... LIST` over
// the list `listText`, in `dir`, started by `launcher`. Standard output goes to `rowsPath` (a file
// of `dir` when empty).
CrawlRun RunCrawl(ChildLauncher& launcher, const qm::test::TempDir& dir,
                  const std::string& listText, const std::vector<std::string>& options,
                  const std::string& rowsPath = {});

// "    wall 0.84 s  CPU 0.95 s  peak RSS 12.3 MiB  exit 0"
void PrintFigures(const CrawlRun& run);
// "0.84 s, CPU 0.95 s, 12.3 MiB, exit 0", for the final table.
std::string FiguresText(const CrawlRun& run);
// One line per distinct status code and reason, with how many records gave it.
void PrintStatusSummary(const CrawlRun& run);
// The status code and reason of each record whose address ends with `suffix`.
void PrintStatusOf(const CrawlRun& run, std::string_view suffix, std::string_view label);
// An address shortened for a line of output.
std::string Shortened(std::string_view text, size_t most = 70);

// The peak resident set of this process: a child started from it reports at least this much
// (its start shares this process's memory until it runs its own program).
double OwnPeakMiB();

// A case's judgement for the final table.
struct Verdict {
  std::string Case;
  bool Pass = false;
  std::string Figures;      // the case's main figures, one short line
  std::string Expectation;  // what PASS means here
};

// `value` with `decimals` digits after the point.
std::string Fixed(double value, int decimals = 2);

}  // namespace qm::bench
