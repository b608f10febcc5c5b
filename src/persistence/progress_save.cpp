// Saving the search progress to the settings file.
#include "engine/main_form.h"
#include "persistence/settings_file.h"

namespace qm {

void TForm1::Button10Click() {
  WriteSettingsFile(SettingsFilePath(), CurrentSettings(*this));
}

void TForm1::SpeedButton7Click() {
  SyncStoredPosition();
  Button10Click();  // a failed write raises before the message
  dialogs_.ShowMessage("已经保存当前网络搜索进程");
}

}  // namespace qm
