// The main window's creation and destruction.
#include "engine/main_form.h"
#include "persistence/data_location.h"
#include "persistence/settings_file.h"
#include "text/program_location.h"

namespace qm {

void TForm1::FormCreate() {
  Label4.SetCaption({});
  Label5.SetCaption({});
  Label6.SetCaption({});

  const std::string program =
      environment_.ProgramPath.empty() ? ProgramFilePath() : environment_.ProgramPath;
  programDirectory_ = DirectoryOf(program);
  const TDataLocation location = ResolveDataLocation(
      programDirectory_, environment_.Environment, environment_.DirectoryWritable);
  settingsPath_ = location.SettingsDirectory + SettingsFileName(program);
  exportDirectory_ = location.ExportDirectory;
  // Every search's pages and rows are kept beside the settings, whatever the program's name.
  storePath_ = location.SettingsDirectory + "qmharvest.db";
  // An installed program's first start: the user's configuration folder may not exist yet.
  if (location.SettingsDirectory != programDirectory_) {
    CreateMissingDirectories(location.SettingsDirectory);
  }

  LoadSettings(*this, CreationDefaults());

  for (TWorkerSlot& slot : Slots) slot.Lines.clear();
  SpeedButton2.SetEnabled(true);
  SpeedButton3.SetEnabled(true);
  SpeedButton4.SetEnabled(true);
}

void TForm1::FormDestroy() {
  // Only lists no worker can still be using are released; the destructor joins the
  // workers first.
  for (TWorkerSlot& slot : Slots) {
    if (!slot.Thread || slot.Thread->Finished()) slot.Lines.Release();
  }
}

}  // namespace qm
