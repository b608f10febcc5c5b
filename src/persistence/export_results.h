#pragma once
// Saving the result lists to text files: one value per line, each line ending in CR LF, the
// rows' bytes as they are, no byte-order mark.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result_list.h"
#include "ui/dialogs.h"

namespace qm {

inline constexpr std::string_view kEmailExportPrefix = "电邮";
inline constexpr std::string_view kMobileExportPrefix = "手机";
inline constexpr std::string_view kQQExportPrefix = "QQ邮";

// The name the save dialog proposes: prefix, row count in decimal, ".txt".
std::string ProposedExportName(std::string_view prefix, int32_t rowCount);

// Creates (or empties) the file at path and writes bytes in one piece. Raises EFCreateError
// "Cannot create file %s" when the file cannot be created, EInOutError when writing fails.
void WriteExportFile(const std::string& path, std::string_view bytes);

// Writes the rows to path in one piece, each followed by CR LF, raising as WriteExportFile.
// An empty list (one empty row) gives an empty file.
void WriteListFile(const std::string& path, const std::vector<std::string>& rows);

// Makes the program's directory the working directory, as every save does before its dialog.
void EnterProgramDirectory(const std::string& programDirectory);

// Offers one list in the save dialog and writes a consistent copy of it, taken when the
// writing starts, to the chosen file. An empty list is passed over without a dialog. True
// when a file was written; errors propagate, so a caller saving several lists stops there.
bool SaveResultList(const TResultList& list, std::string_view prefix, ui::Dialogs& dialogs,
                    const std::string& programDirectory);

// The save-all command: the working directory set once, then the e-mail, mobile and QQ
// lists in turn, each with its own dialog.
void SaveAllResultLists(const TResultList& emails, const TResultList& mobiles,
                        const TResultList& qqNumbers, ui::Dialogs& dialogs,
                        const std::string& programDirectory);

}  // namespace qm
