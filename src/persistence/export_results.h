#pragma once
// Saving the result lists to text files: one value per line, each line ending in CR LF, the
// rows' bytes as they are, no byte-order mark.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/result_list.h"
#include "ui/dialogs.h"

namespace qm {

inline constexpr std::string_view kEmailExportPrefix = "电邮";
inline constexpr std::string_view kMobileExportPrefix = "手机";
inline constexpr std::string_view kQQExportPrefix = "QQ邮";
inline constexpr std::string_view kWeChatExportPrefix = "微信";
inline constexpr std::string_view kTelephoneExportPrefix = "电话";
// Each list's prefix in the order of the kinds (contact_kinds.h).
inline constexpr std::string_view kExportPrefixes[] = {kEmailExportPrefix, kMobileExportPrefix,
                                                       kQQExportPrefix, kWeChatExportPrefix,
                                                       kTelephoneExportPrefix};

// The name the save dialog proposes: prefix, row count in decimal, ".txt".
std::string ProposedExportName(std::string_view prefix, int32_t rowCount);

// Writes bytes as the whole content of the file at path: to a new file beside it that then
// replaces it, so a failure leaves any old file as it was and no new one behind (a device
// is written directly). Raises EFCreateError "Cannot create file %s" when the file cannot
// be created, EInOutError when writing fails.
void WriteExportFile(const std::string& path, std::string_view bytes);

// Writes the rows to path in one piece, each followed by CR LF, raising as WriteExportFile.
// An empty list (one empty row) gives an empty file.
void WriteListFile(const std::string& path, const std::vector<std::string>& rows);

// Makes the program's directory the working directory, as every save does before its dialog.
void EnterProgramDirectory(const std::string& programDirectory);

// The save dialog's file types: the text file of one list, or a spreadsheet file (CSV or
// workbook) of the lists the command saves.
inline constexpr const char* kResultExportFilter =
    "Text files(*.txt)|*.txt|CSV UTF-8(*.csv)|*.csv|Excel workbook(*.xlsx)|*.xlsx|"
    "All files(*.*)|*.*";

// A kind as a spreadsheet file names it, with its list.
struct TSpreadsheetKind {
  std::string_view Name;
  const TResultList* List;
};
// "电邮", "手机" or "QQ" for the export prefix of a list.
std::string_view SpreadsheetKindName(std::string_view prefix);

enum class TListSave { Nothing, List, Spreadsheet };

// What an export adds to the rows of the lists and leaves out: each row's check flags (the
// column "检查"), and, with ValidOnly ("只导出有效"), only the rows whose checks find
// nothing wrong, in every file type.
struct TExportChecks {
  // Fills in Checks of the entries of the kind of that spreadsheet name ("电邮", "手机",
  // "QQ"); empty: the rows are exported unchecked.
  std::function<void(std::string_view kindName, std::vector<TResultEntry>& entries)> Fill;
  bool ValidOnly = false;
};

// Offers one list in the save dialog. A name ending in .csv or .xlsx gets a spreadsheet file
// of `spreadsheetKinds` (contact_spreadsheet.h); any other the list's text file. Each list is
// a consistent copy taken when the writing starts. An empty list is passed over without a
// dialog. Errors propagate, so a caller saving several lists stops there.
TListSave SaveResultListOrSpreadsheet(const TResultList& list, std::string_view prefix,
                                      ui::Dialogs& dialogs, const std::string& programDirectory,
                                      const std::vector<TSpreadsheetKind>& spreadsheetKinds,
                                      const TExportChecks& checks = {});

// The same with the list alone in a spreadsheet file; true when a file was written.
bool SaveResultList(const TResultList& list, std::string_view prefix, ui::Dialogs& dialogs,
                    const std::string& programDirectory, const TExportChecks& checks = {});

// A result list with the prefix of its text file.
struct TPrefixedList {
  std::string_view Prefix;
  const TResultList* List;
};

// The save-all command: the working directory set once, then the lists in turn (e-mail,
// mobile, QQ, then WeChat and telephone), each with its own dialog, until one is saved as a
// spreadsheet file, which holds them all: the first three always, a later one when it has
// rows.
void SaveAllResultLists(const std::vector<TPrefixedList>& lists, ui::Dialogs& dialogs,
                        const std::string& programDirectory, const TExportChecks& checks = {});
void SaveAllResultLists(const TResultList& emails, const TResultList& mobiles,
                        const TResultList& qqNumbers, ui::Dialogs& dialogs,
                        const std::string& programDirectory, const TExportChecks& checks = {});

}  // namespace qm
