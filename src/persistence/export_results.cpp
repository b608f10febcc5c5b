#include "persistence/export_results.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "engine/main_form.h"
#include "persistence/contact_spreadsheet.h"
#include "verify/check_flags.h"
#include "persistence/file_replacement.h"
#include "persistence/status_export.h"
#include "text/errors.h"
#include "text/file_errors.h"
#include "text/trim.h"
#include "urllists/output_file.h"

namespace qm {

std::string ProposedExportName(std::string_view prefix, int32_t rowCount) {
  std::string name(prefix);
  name += std::to_string(rowCount);
  name += ".txt";
  return name;
}

namespace {

// A device or a pipe is written as it is: there is no file to put a complete copy beside.
bool WrittenInPlace(const std::string& path) {
  struct stat status;
  return ::stat(FollowLinks(path).c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

void WriteInPlace(const std::string& path, std::string_view bytes) {
  std::optional<TOutputFile> file;
  try {
    file.emplace(path);
  } catch (const EInOutError&) {
    throw EFCreateError("Cannot create file " + path);
  }
  file->WriteAll(bytes);
  file->Close();
}

}  // namespace

void WriteExportFile(const std::string& path, std::string_view bytes) {
  if (WrittenInPlace(path)) return WriteInPlace(path, bytes);
  // The rows go to a new file that takes the name only once complete, so a full disk
  // leaves the old file (or none), never a cut-off list under the name.
  if (ReplaceFileContent(path, bytes)) return;
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == EROFS ||
      error == EISDIR || error == ENAMETOOLONG) {
    throw EFCreateError("Cannot create file " + path);
  }
  throw InOutError(error);
}

void WriteListFile(const std::string& path, const std::vector<std::string>& rows) {
  std::string bytes;
  if (!rows.empty() && !(rows.size() == 1 && rows.front().empty())) {
    size_t size = 0;
    for (const auto& row : rows) size += row.size() + 2;
    bytes.reserve(size);
    for (const auto& row : rows) {
      bytes.append(row);
      bytes.append("\r\n");
    }
  }
  WriteExportFile(path, bytes);
}

void EnterProgramDirectory(const std::string& programDirectory) {
  if (programDirectory.empty()) return;
  // The dialog is given the folder as well, so a failure here changes nothing the user sees.
  [[maybe_unused]] const int result = ::chdir(programDirectory.c_str());
}

namespace {

bool HasExtension(const std::string& path, std::string_view extension) {
  if (path.size() <= extension.size() || path[path.size() - extension.size() - 1] != '.') {
    return false;
  }
  for (size_t i = 0; i < extension.size(); ++i) {
    if (AsciiLower(path[path.size() - extension.size() + i]) != extension[i]) return false;
  }
  return true;
}

// A consistent copy of the list's entries with their checks, the invalid ones left out
// when only valid rows are wanted.
std::vector<TResultEntry> CheckedEntries(std::string_view kindName, const TResultList& list,
                                         const TExportChecks& checks) {
  std::vector<TResultEntry> entries = list.Entries();
  if (!checks.Fill) return entries;
  checks.Fill(kindName, entries);
  if (checks.ValidOnly) {
    std::erase_if(entries, [](const TResultEntry& entry) {
      return !verify::IsValidChecks(entry.Checks);
    });
  }
  return entries;
}

}  // namespace

TListSave SaveResultListOrSpreadsheet(const TResultList& list, std::string_view prefix,
                                      ui::Dialogs& dialogs, const std::string& programDirectory,
                                      const std::vector<TSpreadsheetKind>& spreadsheetKinds,
                                      const TExportChecks& checks) {
  const int32_t count = list.EntryCount();
  if (count == 0) return TListSave::Nothing;
  ui::FileDialogOptions options;
  options.Title = "搜索结果保存为";
  options.Filter = kResultExportFilter;
  options.DefaultExtension = "txt";
  options.FileName = ProposedExportName(prefix, count);
  options.InitialDir = programDirectory;
  options.ConfirmOverwrite = true;
  const auto path = dialogs.SaveFile(options);
  if (!path) return TListSave::Nothing;
  const bool csv = HasExtension(*path, "csv");
  if (csv || HasExtension(*path, "xlsx")) {
    std::vector<TExportedKind> kinds;
    for (const TSpreadsheetKind& kind : spreadsheetKinds) {
      kinds.push_back({kind.Name, CheckedEntries(kind.Name, *kind.List, checks)});
    }
    WriteExportFile(*path, csv ? ContactListsCsv(kinds) : ContactListsWorkbook(kinds));
    return TListSave::Spreadsheet;
  }
  if (!checks.ValidOnly || !checks.Fill) {
    WriteExportFile(*path, list.JoinedEntries("\r\n"));
    return TListSave::List;
  }
  std::string joined;
  for (const TResultEntry& entry : CheckedEntries(SpreadsheetKindName(prefix), list, checks)) {
    joined += entry.Value;
    joined += "\r\n";
  }
  WriteExportFile(*path, joined);
  return TListSave::List;
}

bool SaveResultList(const TResultList& list, std::string_view prefix, ui::Dialogs& dialogs,
                    const std::string& programDirectory, const TExportChecks& checks) {
  return SaveResultListOrSpreadsheet(list, prefix, dialogs, programDirectory,
                                     {{SpreadsheetKindName(prefix), &list}},
                                     checks) != TListSave::Nothing;
}

std::string_view SpreadsheetKindName(std::string_view prefix) {
  return prefix == kQQExportPrefix ? std::string_view("QQ") : prefix;
}

void SaveAllResultLists(const std::vector<TPrefixedList>& lists, ui::Dialogs& dialogs,
                        const std::string& programDirectory, const TExportChecks& checks) {
  EnterProgramDirectory(programDirectory);
  std::vector<TSpreadsheetKind> all;
  for (size_t i = 0; i < lists.size(); ++i) {
    // The kinds beyond the three of the first version only where they found anything, so
    // that a search of the three gives the file it always gave.
    if (i >= 3 && lists[i].List->EntryCount() == 0) continue;
    all.push_back({SpreadsheetKindName(lists[i].Prefix), lists[i].List});
  }
  for (const auto& [prefix, list] : lists) {
    // A spreadsheet file holds every kind: no further dialog.
    if (SaveResultListOrSpreadsheet(*list, prefix, dialogs, programDirectory, all, checks) ==
        TListSave::Spreadsheet) {
      return;
    }
  }
}

void SaveAllResultLists(const TResultList& emails, const TResultList& mobiles,
                        const TResultList& qqNumbers, ui::Dialogs& dialogs,
                        const std::string& programDirectory, const TExportChecks& checks) {
  SaveAllResultLists({{kEmailExportPrefix, &emails},
                      {kMobileExportPrefix, &mobiles},
                      {kQQExportPrefix, &qqNumbers}},
                     dialogs, programDirectory, checks);
}

void TForm1::SpeedButton5Click() {
  std::vector<TPrefixedList> lists;
  const std::array<TResultList*, kContactKindCount> grids = ResultLists();
  for (int kind = 0; kind < kContactKindCount; ++kind) {
    lists.push_back({kExportPrefixes[kind], grids[kind]});
  }
  SaveAllResultLists(lists, dialogs_, ExportDirectory(), ExportChecks());
  SaveStatusList(AddressStatuses, dialogs_, ExportDirectory());
}

void TForm1::N1Click() {
  EnterProgramDirectory(ExportDirectory());
  SaveResultList(StringGrid1, kEmailExportPrefix, dialogs_, ExportDirectory(), ExportChecks());
}

void TForm1::MenuItem1Click() {
  EnterProgramDirectory(ExportDirectory());
  SaveResultList(StringGrid2, kMobileExportPrefix, dialogs_, ExportDirectory(), ExportChecks());
}

void TForm1::MenuItem2Click() {
  EnterProgramDirectory(ExportDirectory());
  SaveResultList(StringGrid3, kQQExportPrefix, dialogs_, ExportDirectory(), ExportChecks());
}

void TForm1::MenuItemWeChatClick() {
  EnterProgramDirectory(ExportDirectory());
  SaveResultList(StringGrid4, kWeChatExportPrefix, dialogs_, ExportDirectory(), ExportChecks());
}

void TForm1::MenuItemPhoneClick() {
  EnterProgramDirectory(ExportDirectory());
  SaveResultList(StringGrid5, kTelephoneExportPrefix, dialogs_, ExportDirectory(),
                 ExportChecks());
}

}  // namespace qm
