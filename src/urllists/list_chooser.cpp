#include "urllists/list_chooser.h"

#include "engine/main_form.h"

namespace qm {

std::optional<std::string> ChooseUrlList(ui::Dialogs& dialogs,
                                         const std::string& programDirectory) {
  ui::FileDialogOptions options;
  options.Title = "选择网址列表文件";
  options.Filter = "Text files(*.txt)|*.txt|All files(*.*)|*.*";
  options.DefaultExtension = "txt";
  options.InitialDir = programDirectory;
  return dialogs.OpenFile(options);
}

void TForm1::SpeedButton1Click() {
  // An installed program's folder holds no lists of the user's: the chooser opens where the
  // exports go, the program's folder only when it is the user's own (writable).
  const std::string& folder = ExportDirectory().empty() ? ProgramDirectory() : ExportDirectory();
  if (auto path = ChooseUrlList(dialogs_, folder)) Edit5.SetText(std::move(*path));
}

}  // namespace qm
