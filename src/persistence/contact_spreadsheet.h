#pragma once
// The result lists for spreadsheet programs: one CSV file of all kinds (UTF-8 with a
// byte-order mark; kind, value, source address, time found, check flags), or one workbook
// with a sheet per kind.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/result_list.h"

namespace qm {

// One kind's rows as exported: its name ("电邮", "手机", "QQ") and its entries.
struct TExportedKind {
  std::string_view Name;
  std::vector<TResultEntry> Entries;
};

// "2026-12-08 03:45:12" in local time.
std::string FoundTimeText(int64_t foundAtMs);

// The whole CSV file: the byte-order mark, a header row, one row per entry of each kind in
// turn, each ending in CR LF. A value of digits only is written ="digits", which spreadsheet
// programs keep as text (a mobile number stays 13812345678, not 1.38E+10, and a QQ number
// keeps its digits); a field a spreadsheet would take for a formula (starting with "=",
// "+", "-" or "@") gets a leading "'"; fields holding a comma, a quote or a line break are
// quoted. Text that is not UTF-8 is read as code page 936.
std::string ContactListsCsv(const std::vector<TExportedKind>& kinds);

// The workbook's bytes: a sheet per kind named after it, with a header row and columns value,
// source address, time found (a date cell) and check flags; every value a text cell. Raises EInOutError
// when the workbook cannot be made.
std::string ContactListsWorkbook(const std::vector<TExportedKind>& kinds);

}  // namespace qm
