// qmharvest-cli rows --store FILE [--run N | --all] [--email] [--mobile] [--qq] [--wechat]
//                    [--phone]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/row_output.h"
#include "cli/store_option.h"

namespace qm::cli {

const char* const kRowsHelp =
    "Usage: qmharvest-cli rows --store FILE [--run N | --all] [--email] [--mobile] [--qq]\n"
    "                          [--wechat] [--phone]\n"
    "       qmharvest-cli rows --db URL [--job ID] [--email] [--mobile] [--qq]\n"
    "\n"
    "Writes the rows the result store FILE keeps (harvest --store FILE) in the order they\n"
    "were found, each as harvest writes it: the kind (email, mobile, qq, wechat or phone), a\n"
    "tab, the row as the result list holds it, a tab, the address of the page it was first\n"
    "found on. The rows of the newest run unless told otherwise; the kinds named, every kind\n"
    "when none is.\n"
    "\n"
    "  --store FILE  the result store to read\n"
    "  --run N       the rows of run N (qmharvest-cli runs lists them)\n"
    "  --all         the rows of every run, oldest run first\n"
    "  --email       e-mail addresses\n"
    "  --mobile      mobile numbers\n"
    "  --qq          QQ numbers\n"
    "  --wechat      WeChat IDs\n"
    "  --phone       telephone numbers (landline, 400 and 800)\n"
    "  --db URL      the rows of a job on a PostgreSQL server instead (qmharvest-cli job\n"
    "                --help): those of job ID with --job ID, else of the newest job\n";

int RunRows(const std::vector<std::string>& args) {
  const ParsedCommand parsed =
      ParseCommand(args, {{"--all", "--email", "--mobile", "--qq", "--wechat", "--phone"},
                          {"--store", "--run", "--db", "--job"}});
  if (!parsed.Operands().empty()) throw UsageError("rows takes no operand");
  unsigned kinds = 0;
  if (parsed.Has("--email")) kinds |= 1u << 0;
  if (parsed.Has("--mobile")) kinds |= 1u << 1;
  if (parsed.Has("--qq")) kinds |= 1u << 2;
  if (parsed.Has("--wechat")) kinds |= 1u << 3;
  if (parsed.Has("--phone")) kinds |= 1u << 4;
  if (kinds == 0) kinds = 0b11111;
  if (parsed.Value("--db")) return WriteJobRows(parsed, kinds);
  if (parsed.Value("--job")) throw UsageError("rows --job needs --db URL");
  const std::string path = StoreOption(parsed, "rows");
  const std::optional<int64_t> wanted = RunOption(parsed);
  if (wanted && parsed.Has("--all")) throw UsageError("rows takes --run or --all, not both");

  const OpenedStore opened = OpenExistingStore(path);
  std::optional<int64_t> run;
  if (!parsed.Has("--all")) run = ChosenRun(opened, wanted);
  int writeError = 0;
  opened.Store->ForEachRow(run, kinds, [&writeError](const TStoredRow& row) {
    const std::string_view kind = RowKindName(row.Kind);
    // Once standard output has failed, the rest would be lost as well.
    if (kind.empty() || writeError != 0) return;
    errno = 0;
    WriteRow(stdout, kind, row.Value, row.Source, row.Checks);
    if (std::ferror(stdout)) writeError = errno != 0 ? errno : EIO;
  });
  if (writeError == 0 && std::fflush(stdout) != 0) writeError = errno != 0 ? errno : EIO;
  if (writeError != 0) {
    std::fprintf(stderr, "qmharvest-cli: cannot write the rows to standard output: %s\n",
                 std::strerror(writeError));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
