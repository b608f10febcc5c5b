// qmharvest-cli runs --store FILE
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/store_option.h"

namespace qm::cli {

const char* const kRunsHelp =
    "Usage: qmharvest-cli runs --store FILE\n"
    "\n"
    "Lists the runs the result store FILE keeps (harvest --store FILE), oldest first, one\n"
    "line each, separated by tabs: the run's id, its URL list, when it started and ended\n"
    "(local time, as 2026-12-08T03:45:12+08:00; \"-\" while it has not ended), the pages\n"
    "and the rows it stored, and its state: \"finished\" (its list searched to the end),\n"
    "\"stopped at LINE\" or, when it never ended (still running, or its process was killed),\n"
    "\"running/unfinished at LINE\", LINE being the number of list lines it had done.\n"
    "\n"
    "  --store FILE  the result store to read\n";

namespace {

std::string LocalIsoTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  if (localtime_r(&seconds, &parts) == nullptr) return "?";
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &parts);
  std::string iso(text, length);
  // strftime gives the offset as +hhmm; ISO 8601's extended form, as the date, has +hh:mm.
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

std::string RunState(const TStoredRun& run) {
  if (run.Finished) return "finished";
  const std::string line = std::to_string(run.SavedPosition);
  return run.EndedMs == 0 ? "running/unfinished at " + line : "stopped at " + line;
}

// A tab or line break in the list's name would shift the columns.
std::string OneField(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int RunRuns(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{}, {"--store"}});
  if (!parsed.Operands().empty()) throw UsageError("runs takes no operand");
  const OpenedStore opened = OpenExistingStore(StoreOption(parsed, "runs"));
  errno = 0;
  for (const TStoredRun& run : opened.Store->Runs()) {
    const std::string line = std::to_string(run.Id) + '\t' + OneField(run.ListFile) + '\t' +
                             LocalIsoTime(run.StartedMs) + '\t' +
                             (run.EndedMs == 0 ? "-" : LocalIsoTime(run.EndedMs)) + '\t' +
                             std::to_string(run.Pages) + '\t' + std::to_string(run.Rows) + '\t' +
                             RunState(run) + '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "qmharvest-cli: cannot write the runs to standard output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
