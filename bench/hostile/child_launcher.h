#pragma once
// Starts the measured programs from a small helper process forked before this one grew.
//
// A child's peak resident set includes that of the process it was started from, up to the
// moment it runs its own program: the kernel carries the parent's high-water mark over. The
// sites of the benchmark grow this process by tens of MiB, which would show in every child's
// figure; the helper stays at a few MiB, and that floor is the same for every child.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"

namespace qm::bench {

class ChildLauncher {
 public:
  // Forks the helper: call it before this process starts any thread.
  ChildLauncher();
  ~ChildLauncher();
  ChildLauncher(const ChildLauncher&) = delete;
  ChildLauncher& operator=(const ChildLauncher&) = delete;

  // RunChild's work, done by the helper. Several threads may run children at once.
  ChildRun Run(const std::vector<std::string>& args, const std::string& outputPath,
               const std::string& errorPath);
  // The helper's own peak resident set, in KiB, as it last told it: every child's peak is at
  // least this.
  long HelperPeakRssKb() const;

 private:
  struct Answer {
    ChildRun Run;
    long HelperPeakRssKb = 0;
  };
  void ReadAnswers();

  int socket_ = -1;
  int helper_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::map<uint64_t, Answer> answers_;
  uint64_t nextId_ = 0;
  long helperPeakRssKb_ = 0;
  bool broken_ = false;
};

}  // namespace qm::bench
