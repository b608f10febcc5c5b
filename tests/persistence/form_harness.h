#pragma once
// A main window core in a temporary program directory, with scripted dialogs and a page
// fetch that records what the workers asked for.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/main_form.h"
#include "persistence/settings_file.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm::test {

class FormHarness {
 public:
  struct Fetch {
    std::string Url;
    std::string Label5;  // the counter shown when the page was asked for
    std::string Label6;  // the hint line then
    bool SearchEnabled, StopEnabled, ResumeEnabled;  // SpeedButton2, 3 and 4 then
  };

  explicit FormHarness(std::string programName = "qmharvest")
      : programName_(std::move(programName)) {}
  ~FormHarness() { form.reset(); }

  // Builds the window core and runs its creation handler.
  TForm1& Create() {
    TForm1Environment environment;
    environment.ProgramPath = dir.File(programName_);
    // No HOME: settings stay beside the program even where it cannot write, never in the
    // home of whoever runs the tests.
    environment.Environment = [](const char*) -> const char* { return nullptr; };
    environment.LocalAddress = [this] { return localAddress; };
    environment.FetchPage = [this](const std::string& url, qm::TPageLines& lines) {
      lines.clear();
      std::lock_guard lock(mutex_);
      fetches_.push_back({url, form->Label5.Caption(), form->Label6.Caption(),
                          form->SpeedButton2.Enabled(), form->SpeedButton3.Enabled(),
                          form->SpeedButton4.Enabled()});
      return true;
    };
    if (fetchOverride) environment.FetchPage = fetchOverride;
    form = std::make_unique<TForm1>(dialogs, std::move(environment));
    form->FormCreate();
    return *form;
  }

  std::string SettingsPath() const { return dir.File(SettingsName()); }
  std::string SettingsName() const { return SettingsFileName(programName_); }

  // A list file of `count` lines "http://127.0.0.1:9/p<N>.html" in the program directory.
  std::string WriteList(int count, const std::string& name = "list.txt") const {
    std::string text;
    for (int i = 1; i <= count; ++i) text += LineUrl(i) + "\r\n";
    return dir.Write(name, text);
  }
  static std::string LineUrl(int n) { return "http://127.0.0.1:9/p" + std::to_string(n) + ".html"; }

  // A saved progress record naming `listPath`.
  void WriteSettings(const std::string& listPath, int process, int total, int threads = 1) const {
    dir.Write(SettingsName(),
              "[config]\r\nurladd=" + listPath + "\r\nprocess=" + std::to_string(process) +
                  "\r\ntotal=" + std::to_string(total) + "\r\nthread=" + std::to_string(threads) +
                  "\r\nifeml=1\r\nifphone=1\r\nifqq=1\r\n");
  }

  bool WaitForCompletedRuns(int64_t runs) {
    return WaitUntil([&] { return form->SearchState.CompletedRuns.load() >= runs; });
  }

  std::vector<Fetch> Fetches() const {
    std::lock_guard lock(mutex_);
    return fetches_;
  }

  TempDir dir;
  ScriptedDialogs dialogs;
  std::string localAddress = "192.0.2.7";
  std::function<bool(const std::string&, TPageLines&)> fetchOverride;
  std::unique_ptr<TForm1> form;

 private:
  std::string programName_;
  mutable std::mutex mutex_;
  std::vector<Fetch> fetches_;
};

}  // namespace qm::test
