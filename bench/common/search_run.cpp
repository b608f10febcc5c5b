#include "common/search_run.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace qm::bench {

qm::TForm1Environment QuietEnvironment(const std::string& programPath) {
  qm::TForm1Environment environment;
  environment.ProgramPath = programPath;
  environment.LocalAddress = [] { return std::string("192.0.2.1"); };
  return environment;
}

void RunSearchToEnd(qm::TForm1& form) {
  const int64_t completed = form.SearchState.CompletedRuns.load();
  form.SpeedButton2Click();
  while (form.SearchState.CompletedRuns.load() == completed) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace qm::bench
