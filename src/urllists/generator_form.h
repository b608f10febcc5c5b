#pragma once
// The URL list generator window's core (TbbsForm without a toolkit): its fields as control
// models and its two generation commands. A list line is the fields' texts and counter values
// joined, in code page 936, each line ending in CR LF.
#include <optional>
#include <string>

#include "ui/change_notifier.h"
#include "ui/control_models.h"
#include "ui/dialogs.h"

namespace qm {

class TbbsForm {
 public:
  explicit TbbsForm(ui::Dialogs& dialogs);
  TbbsForm(const TbbsForm&) = delete;
  TbbsForm& operator=(const TbbsForm&) = delete;

  // The notifier every control model of this window reports to.
  ui::ChangeNotifier Changes;

  // One counter: prefix, start, end (inclusive), suffix; Edit12 multiplies the written value.
  ui::TEditModel Edit1{Changes, "http://"};
  ui::TEditModel Edit2{Changes, "0"};
  ui::TEditModel Edit3{Changes};
  ui::TEditModel Edit4{Changes};
  ui::TEditModel Edit12{Changes, "1"};
  ui::TLabelModel Label2{Changes};  // lines written by the last one-counter run

  // Two counters: front, first start, first end, back, middle, second start, second end.
  ui::TEditModel Edit5{Changes, "http://"};
  ui::TEditModel Edit6{Changes, "0"};
  ui::TEditModel Edit7{Changes};
  ui::TEditModel Edit8{Changes};
  ui::TEditModel Edit9{Changes};
  ui::TEditModel Edit10{Changes, "0"};
  ui::TEditModel Edit11{Changes};               // shown and editable, never read
  ui::TLabelModel Label7{Changes, "页面总数"};  // lines written by the last two-counter run

  // Generation with one counter (upper button) and with two counters (lower button). A field
  // that is not a number raises EConvertError before the chosen file is touched; a file that
  // cannot be created or written raises EInOutError.
  void SpeedButton1Click();
  void SpeedButton2Click();

  // The name the save dialog offers on its next showing: the last one chosen.
  std::string SaveDialogFileName() const { return fileName_; }

 private:
  std::optional<std::string> ChooseFile();

  ui::Dialogs& dialogs_;
  std::string fileName_;
};

}  // namespace qm
