#include "cli/row_output.h"

#include <string>
#include <vector>

namespace qm::cli {

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row) {
  std::fwrite(kind.data(), 1, kind.size(), out);
  std::fputc('\t', out);
  std::fwrite(row.data(), 1, row.size(), out);
  std::fputc('\n', out);
}

size_t ListFollower::WriteNewRows(std::FILE* out) {
  size_t rowCount = 0;
  const std::vector<std::string> rows = list_.RowsFrom(shown_, rowCount);
  // An empty list is one empty row, which the first append fills: nothing to show yet.
  if (shown_ == 0 && rowCount == 1 && rows.size() == 1 && rows[0].empty()) return 0;
  for (const std::string& row : rows) WriteRow(out, kind_, row);
  shown_ = rowCount;
  return rows.size();
}

}  // namespace qm::cli
