#pragma once
// A main window core in its own program directory, with scripted dialogs and an injectable
// page fetch, for the engine's tests.
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm::test {

class EngineFixture {
 public:
  using FetchFunction = std::function<bool(const std::string&, TPageLines&)>;

  using RenderFunction = std::function<TRenderResult(const std::string&, const TRenderOptions&)>;

  // fetch: the page fetch the workers use; empty for the real FetchPageLines. program: the
  // program file's path below the fixture's directory. render: the page render; empty for
  // the real RenderPage.
  explicit EngineFixture(FetchFunction fetch = {}, const std::string& program = "qmharvest",
                         RenderFunction render = {}) {
    TForm1Environment environment;
    environment.RenderPage = std::move(render);
    environment.ProgramPath = dir.File(program);
    // No user folders: a program folder that cannot be written stays the settings' folder.
    environment.Environment = [](const char*) -> const char* { return nullptr; };
    environment.LocalAddress = [this] {
      std::lock_guard lock(mutex_);
      return localAddress_;
    };
    if (fetch) {
      environment.FetchPage = [this, fetch = std::move(fetch)](const std::string& url,
                                                               TPageLines& lines) {
        {
          std::lock_guard lock(mutex_);
          fetched_.push_back(url);
        }
        return fetch(url, lines);
      };
      // A page the fetch gives is an answer of 200, so that its links may be followed.
      environment.FetchPageWithResult = [page = environment.FetchPage](
                                            const std::string& url, TPageLines& lines,
                                            const TPageFetchOptions&, TPageFetchResult& result) {
        result.FinalUrl = url;
        const bool answered = page(url, lines);
        result.StatusCode = answered ? 200 : 0;
        return answered;
      };
    }
    form = std::make_unique<TForm1>(dialogs, std::move(environment));
    form->FormCreate();
    // One page in flight per worker, as the first version fetched: pages are asked for in
    // list order. Tests of more pages in flight set their own count.
    form->SpinEditInFlight.SetValue(1);
    // Only the listed pages, as the first version read: tests that follow links say so.
    form->SpinEditDepth.SetValue(0);
    // Nothing rendered in a browser: tests of rendering say so.
    form->CheckBoxRender.SetChecked(false);
  }
  ~EngineFixture() { form.reset(); }

  void SetLocalAddress(std::string address) {
    std::lock_guard lock(mutex_);
    localAddress_ = std::move(address);
  }

  // Writes a URL list and makes it the window's list path.
  std::string UseList(const std::string& bytes, const std::string& name = "list.txt") {
    const std::string path = dir.Write(name, bytes);
    form->Edit5.SetText(path);
    return path;
  }

  bool WaitForCompletedRuns(int64_t runs) {
    return WaitUntil([&] { return form->SearchState.CompletedRuns.load() >= runs; });
  }
  // Every worker thread of every slot has returned.
  bool WaitForWorkersGone() {
    return WaitUntil([&] {
      for (auto& slot : form->Slots) {
        if (slot.Thread && !slot.Thread->Finished()) return false;
      }
      return true;
    });
  }

  std::vector<std::string> Fetched() const {
    std::lock_guard lock(mutex_);
    return fetched_;
  }
  void ClearFetched() {
    std::lock_guard lock(mutex_);
    fetched_.clear();
  }

  std::string SettingsText() const { return TempDir::Read(form->SettingsFilePath()); }

  TempDir dir;
  ScriptedDialogs dialogs;
  std::unique_ptr<TForm1> form;

 private:
  mutable std::mutex mutex_;
  std::string localAddress_ = "192.0.2.7";
  std::vector<std::string> fetched_;
};

// A fetch that gives every page the same lines.
inline EngineFixture::FetchFunction PageOf(std::vector<std::string> page) {
  return [page = TPageLines(page)](const std::string&, TPageLines& lines) {
    lines = page;
    return true;
  };
}

// The rows of a list as a set; none for an empty list.
inline std::set<std::string> RowSet(const TResultList& list) {
  if (list.EntryCount() == 0) return {};
  const std::vector<std::string> rows = list.Snapshot();
  return {rows.begin(), rows.end()};
}

// The path of each GET in a server's access log.
inline std::multiset<std::string> RequestedPaths(const std::string& accessLog) {
  std::multiset<std::string> paths;
  std::istringstream log(accessLog);
  for (std::string entry; std::getline(log, entry);) {
    const size_t get = entry.find("\"GET ");
    if (get != std::string::npos) {
      paths.insert(entry.substr(get + 5, entry.find(' ', get + 5) - get - 5));
    }
  }
  return paths;
}

}  // namespace qm::test
