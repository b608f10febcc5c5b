#include "persistence/stored_rows_export.h"

#include <array>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "persistence/contact_spreadsheet.h"
#include "persistence/export_results.h"
#include "verify/check_flags.h"

namespace qm {

void ExportStoredRows(TResultStore& store, int64_t run, TStoredRowsFormat format,
                      const std::string& path, bool validOnly) {
  std::array<std::vector<TResultEntry>, std::size(kExportPrefixes)> lists;
  store.ForEachRow(run, (1u << lists.size()) - 1, [&lists, validOnly](const TStoredRow& row) {
    // A store written by another version may know kinds this one does not.
    if (row.Kind < 0 || static_cast<size_t>(row.Kind) >= lists.size()) return;
    if (validOnly && !verify::IsValidChecks(row.Checks)) return;
    lists[static_cast<size_t>(row.Kind)].push_back(
        {row.Value, row.Source, row.FoundAtMs, row.Checks});
  });

  if (format == TStoredRowsFormat::Text) {
    std::filesystem::create_directories(path);
    for (size_t kind = 0; kind < lists.size(); ++kind) {
      if (lists[kind].empty()) continue;
      std::vector<std::string> rows;
      rows.reserve(lists[kind].size());
      for (TResultEntry& entry : lists[kind]) rows.push_back(std::move(entry.Value));
      const std::string name =
          ProposedExportName(kExportPrefixes[kind], static_cast<int32_t>(rows.size()));
      WriteListFile((std::filesystem::path(path) / name).string(), rows);
    }
    return;
  }

  std::vector<TExportedKind> kinds;
  for (size_t kind = 0; kind < lists.size(); ++kind) {
    // The kinds beyond the first three only where the run found any, as the window saves.
    if (kind >= 3 && lists[kind].empty()) continue;
    kinds.push_back({SpreadsheetKindName(kExportPrefixes[kind]), std::move(lists[kind])});
  }
  WriteExportFile(path, format == TStoredRowsFormat::Csv ? ContactListsCsv(kinds)
                                                         : ContactListsWorkbook(kinds));
}

}  // namespace qm
