// Resuming a saved search from a position in its URL list.
#include <sys/stat.h>

#include <algorithm>

#include "engine/main_form.h"
#include "persistence/settings_file.h"
#include "text/integer_syntax.h"

namespace qm {
namespace {

bool FileExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

void TForm1::SpeedButton4Click() {
  // The settings file of this program's own name, so that a renamed program finds the
  // search it saved itself.
  if (!FileExists(SettingsFilePath())) {
    dialogs_.ShowMessage("您还没有搜索或上次搜索没有保存！");
    return;
  }
  LoadSettings(*this, ResumeDefaults());
  const std::string listPath = Edit5.Text();
  if (!FileExists(listPath)) {
    dialogs_.ShowInformation("网址列表文件不存在!");
    return;
  }
  if (environment_.LocalAddress && environment_.LocalAddress() == "127.0.0.1") {
    dialogs_.ShowInformation("您还没有连接到网上!");
    return;
  }
  // A store that cannot keep what the search finds: the search does not go on.
  OpenResultStore();

  Label4.SetCaption(std::to_string(SearchState.UrlTotal.load()));
  Label5.SetCaption({});
  SearchState.StopRequested.store(false);
  SpeedButton2.SetEnabled(false);
  SpeedButton3.SetEnabled(true);
  SpeedButton4.SetEnabled(false);
  Label6.SetCaption("开始搜索...");
  dialogs_.PauseUi(1000);

  const auto entered = dialogs_.InputBox("继续搜索提示", "请输入您上次搜索断点位置",
                                         std::to_string(SearchState.UrlCounter.load()));
  if (!entered) {
    Label6.SetCaption("取消继续搜索...");
    SpeedButton2.SetEnabled(true);
    SpeedButton3.SetEnabled(false);
    SpeedButton4.SetEnabled(true);
    return;
  }
  const int32_t position = StrToInt(*entered);
  SearchState.UrlCounter.store(position);
  // Only now: a cancelled or mistyped position keeps the rows on screen.
  for (TResultList* list : ResultLists()) list->Clear();

  // Listed pages alone: at least the first line is always skipped, whatever the position.
  // Following links, or going on with a run the store keeps, the position counts the lines
  // searched to the end, and 0 says none was: no line is skipped that it does not count.
  auto list = TUrlListReader::Open(listPath);
  std::string line;
  const bool exact = SpinEditDepth.Value() > 0 ||
                     (ResultStore() != nullptr && ResultStore()->LastUnfinishedRun(listPath));
  const int64_t toSkip = exact ? position : std::max<int64_t>(position, 1);
  for (int64_t skipped = 0; skipped < toSkip && !list->Eof(); ++skipped) list->ReadLine(line);
  if (list->Eof()) {
    Label6.SetCaption("网址列表搜索完毕...");
    SpeedButton2.SetEnabled(true);
    SpeedButton3.SetEnabled(false);
    SpeedButton4.SetEnabled(true);
    return;
  }

  Label6.SetCaption("创建线程...");
  dialogs_.PauseUi(1000);
  Label6.SetCaption("继续搜索...");
  // The stored run of this list goes on, with the rows it found so far.
  ContinueStoredRun();
  try {
    StartRun(std::move(list));
  } catch (const std::exception&) {
    // Like a new search, a failure to create the workers is not reported.
  }
}

}  // namespace qm
