#pragma once
// A machine's share of the jobs: claims lines, searches them with the harvest engine (one
// engine run per claim, its pages and rows written to the job's run on the server), renews
// its leases while it works, and says what became of each line.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qm {

struct TJobWorkOptions {
  std::string Url;
  std::optional<int64_t> Job;  // else every open job, oldest first
  int32_t Threads = 1;
  std::optional<int32_t> InFlight;  // else the engine's default
  int32_t MemoryLimitMb = 1024;
  std::chrono::seconds Lease{60};
  // Lines claimed at once; 0 lets the pages in flight decide.
  int32_t BatchLines = 0;
  // Set from another thread (a signal) to stop: the run ends its pages, the lines not
  // searched go back to the job.
  const std::atomic<bool>* Stop = nullptr;
  // Messages for the user (a lost server, a stop), one line each.
  std::function<void(const std::string&)> Report;
};

struct TJobWorkResult {
  int64_t Lines = 0;  // lines this worker searched
  int64_t Pages = 0;  // pages it stored
  bool Stopped = false;
};

// Works until every line of the job (or of every open job) is done or failed, or a stop.
// Throws EStoreError (an unreachable server, a refused password, a newer schema, a server
// gone longer than the worker waits for it) and EJobError.
TJobWorkResult WorkJobs(const TJobWorkOptions& options);

}  // namespace qm
