// qmharvest-cli export --store FILE [--run N] --format txt|csv|xlsx --out PATH
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/store_option.h"
#include "persistence/stored_rows_export.h"

namespace qm::cli {

const char* const kExportHelp =
    "Usage: qmharvest-cli export --store FILE [--run N] --format txt|csv|xlsx --out PATH\n"
    "                            [--valid-only]\n"
    "\n"
    "Saves the rows of a run that the result store FILE keeps (harvest --store FILE) as the\n"
    "main window saves its result lists; the newest run unless --run names one.\n"
    "\n"
    "  --store FILE     the result store to read\n"
    "  --run N          the rows of run N (qmharvest-cli runs lists them)\n"
    "  --format txt     the non-empty lists as text files in the folder PATH (made when\n"
    "                   missing), as harvest --out names them: 电邮N.txt, 手机N.txt,\n"
    "                   QQ邮N.txt, 微信N.txt, 电话N.txt, N the list's row count\n"
    "  --format csv     the one file PATH holding the lists: UTF-8 with a byte-order\n"
    "                   mark, one row each: kind, value, source address, time found,\n"
    "                   check flags (检查)\n"
    "  --format xlsx    the one workbook PATH with a sheet per kind\n"
    "  --out PATH       where to write\n"
    "  --valid-only     only rows whose checks find nothing wrong (ok or unchecked), as\n"
    "                   the window's 只导出有效\n";

int RunExport(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{"--valid-only"}, {"--store", "--run", "--format", "--out"}});
  if (!parsed.Operands().empty()) throw UsageError("export takes no operand");
  const std::string path = StoreOption(parsed, "export");
  const std::optional<int64_t> wanted = RunOption(parsed);
  const TStoredRowsFormat chosen = FormatOption(parsed, "export");
  const std::string out = OutOption(parsed, "export");

  const OpenedStore opened = OpenExistingStore(path);
  ExportStoredRows(*opened.Store, ChosenRun(opened, wanted), chosen, out,
                   parsed.Has("--valid-only"));
  return kExitSuccess;
}

}  // namespace qm::cli
