#include "hostile/crawl_run.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/bench_common.h"

#ifndef QM_CLI_PATH
#error "QM_CLI_PATH must name qmharvest-cli"
#endif

namespace qm::bench {
namespace {

std::vector<std::string> SplitTabs(std::string_view line) {
  std::vector<std::string> fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.emplace_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

std::vector<StatusRecord> ParseStatus(std::string_view text) {
  std::vector<StatusRecord> records;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() < 12) continue;
    StatusRecord record;
    record.Url = fields[1];
    record.FinalUrl = fields[2];
    record.Code = std::atoi(fields[3].c_str());
    record.Bytes = std::strtoull(fields[4].c_str(), nullptr, 10);
    record.Reason = fields[6];
    record.Depth = std::atoi(fields[10].c_str());
    record.Line = std::string(line);
    records.push_back(std::move(record));
  }
  return records;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string ReasonText(const std::string& reason) {
  return reason.empty() ? "(none)" : "\"" + reason + "\"";
}

}  // namespace

bool CrawlRun::HasRow(std::string_view kind, std::string_view value) const {
  const std::string row = std::string(kind) + "\t" + std::string(value) + "\t";
  return Rows.compare(0, row.size(), row) == 0 || Rows.find("\n" + row) != std::string::npos;
}

std::vector<const StatusRecord*> CrawlRun::StatusOf(std::string_view suffix) const {
  std::vector<const StatusRecord*> found;
  for (const StatusRecord& record : Status) {
    if (EndsWith(record.Url, suffix)) found.push_back(&record);
  }
  return found;
}

size_t CrawlRun::ReasonCount(std::string_view text) const {
  size_t count = 0;
  for (const StatusRecord& record : Status) {
    if (record.Reason.find(text) != std::string::npos) ++count;
  }
  return count;
}

CrawlRun RunCrawl(ChildLauncher& launcher, const qm::test::TempDir& dir,
                  const std::string& listText, const std::vector<std::string>& options,
                  const std::string& rowsPath) {
  const std::string listPath = dir.Write("list.txt", listText);
  const std::string statusPath = dir.File("status.tsv");
  const std::string errorPath = dir.File("errors.txt");
  const std::string outputPath = rowsPath.empty() ? dir.File("rows.tsv") : rowsPath;
  std::vector<std::string> args = {QM_CLI_PATH, "harvest", "--no-online-check", "--email",
                                   "--mobile",  "--qq",    "--status",          statusPath};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(listPath);
  CrawlRun run;
  run.Child = launcher.Run(args, outputPath, errorPath);
  if (rowsPath.empty()) run.Rows = qm::test::TempDir::Read(outputPath);
  run.Errors = qm::test::TempDir::Read(errorPath);
  run.StatusText = qm::test::TempDir::Read(statusPath);
  run.Status = ParseStatus(run.StatusText);
  return run;
}

void PrintFigures(const CrawlRun& run) {
  std::printf("    wall %.2f s  CPU %.2f s  peak RSS %.1f MiB  exit %d\n", run.Child.Seconds,
              run.Child.CpuSeconds, run.PeakMiB(), run.Exit());
  if (run.Exit() != 0) {
    std::string errors = run.Errors;
    while (!errors.empty() && errors.back() == '\n') errors.pop_back();
    const size_t last = errors.rfind('\n');
    std::printf(
        "    standard error ends: %s\n",
        Shortened(last == std::string::npos ? errors : errors.substr(last + 1), 200).c_str());
  }
}

std::string FiguresText(const CrawlRun& run) {
  return Fixed(run.Child.Seconds) + " s, CPU " + Fixed(run.Child.CpuSeconds) + " s, " +
         Fixed(run.PeakMiB(), 1) + " MiB, exit " + std::to_string(run.Exit());
}

void PrintStatusSummary(const CrawlRun& run) {
  std::map<std::pair<int, std::string>, size_t> groups;
  for (const StatusRecord& record : run.Status) ++groups[{record.Code, record.Reason}];
  std::printf("    status file: %zu lines\n", run.Status.size());
  for (const auto& [key, count] : groups) {
    std::printf("      %5zu x  status %3d  reason %s\n", count, key.first,
                ReasonText(key.second).c_str());
  }
}

void PrintStatusOf(const CrawlRun& run, std::string_view suffix, std::string_view label) {
  const std::vector<const StatusRecord*> records = run.StatusOf(suffix);
  if (records.empty()) {
    std::printf("    %-28s no status line\n", std::string(label).c_str());
    return;
  }
  for (const StatusRecord* record : records) {
    std::printf("    %-28s status %3d  %9llu B  reason %s  (final %s)\n",
                std::string(label).c_str(), record->Code, record->Bytes,
                ReasonText(record->Reason).c_str(), Shortened(record->FinalUrl, 60).c_str());
  }
}

std::string Shortened(std::string_view text, size_t most) {
  if (text.size() <= most || most <= 20) return std::string(text);
  return std::string(text.substr(0, most - 20)) + "...(" + std::to_string(text.size()) + " B)";
}

double OwnPeakMiB() {
  return static_cast<double>(PeakRssKb()) / 1024.0;
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return std::string(buffer, result.ptr);
}

}  // namespace qm::bench
