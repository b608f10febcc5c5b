#include "engine/main_form.h"

#include <cstdlib>

#include "engine/local_address.h"
#include "http/fetch_page_lines.h"
#include "text/program_location.h"

namespace qm {

TForm1::TForm1(ui::Dialogs& dialogs, TForm1Environment environment)
    : dialogs_(dialogs), environment_(std::move(environment)) {
  if (environment_.ProgramPath.empty()) environment_.ProgramPath = ProgramFilePath();
  if (!environment_.LocalAddress) environment_.LocalAddress = GetLocalAddress;
  lanesAsFibers_ = !environment_.FetchPageWithResult && !environment_.FetchPage;
  if (!environment_.FetchPageWithResult) {
    if (environment_.FetchPage) {
      environment_.FetchPageWithResult = [fetch = environment_.FetchPage](
                                             const std::string& url, TPageLines& lines,
                                             const TPageFetchOptions&, TPageFetchResult& result) {
        result.FinalUrl = url;
        return fetch(url, lines);
      };
    } else {
      environment_.FetchPageWithResult =
          static_cast<bool (*)(const std::string&, TPageLines&, const TPageFetchOptions&,
                               TPageFetchResult&)>(FetchPageLines);
    }
  }
  if (!environment_.FetchPage) {
    environment_.FetchPage = static_cast<bool (*)(const std::string&, TPageLines&)>(FetchPageLines);
  }
  if (!environment_.RenderPage) environment_.RenderPage = RenderPage;
  if (!environment_.Environment) {
    environment_.Environment = [](const char* name) -> const char* { return std::getenv(name); };
  }
  if (!environment_.DirectoryWritable) environment_.DirectoryWritable = qm::DirectoryWritable;
  programDirectory_ = DirectoryOf(environment_.ProgramPath);
  exportDirectory_ = programDirectory_;
}

TForm1::~TForm1() {
  // No worker may outlive the models, lists and slots it uses. The run is closed first so
  // that none takes another line, and dropped so that no completion saves anything now.
  SearchState.StopRequested.store(true);
  {
    std::lock_guard control(SearchState.RunControl);
    if (SearchState.Run) {
      SearchState.Run->Close();
      EndStoredRun(*SearchState.Run);
      SearchState.Run.reset();
    }
  }
  for (auto& slot : Slots) {
    if (slot.Thread) slot.Thread->Join();
  }
  for (auto& worker : retiredWorkers_) worker->Join();
}

}  // namespace qm
