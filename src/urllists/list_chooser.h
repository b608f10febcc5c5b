#pragma once
#include <optional>
#include <string>

#include "ui/dialogs.h"

namespace qm {

// Lets the user choose a URL list file in the open dialog, starting in the program's
// directory. The chosen path as the dialog gave it (letter case kept: on a case-sensitive
// file system a lower-cased path names another file), or nothing when the user cancels.
std::optional<std::string> ChooseUrlList(ui::Dialogs& dialogs, const std::string& programDirectory);

}  // namespace qm
