#pragma once
// What the program sets on the application before its first window: its name and icon, the
// toolkit's own dialogs in Simplified Chinese, and captions left exactly as each window sets
// them.
#include <QString>

class QApplication;

namespace qm::shell {

// Installs the toolkit's own Simplified Chinese translations; false when they are missing.
bool InstallChineseTranslations(QApplication& app);

// Name, icon and Chinese translations. No display name is set: the toolkit appends one to
// every caption (" — ..."), and "信息" or "关于本软件" must read as they are.
void SetUpApplication(QApplication& app);

}  // namespace qm::shell
