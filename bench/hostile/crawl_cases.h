#pragma once
// The crawl's hostile cases: each starts its own local site, runs qmharvest-cli over it,
// prints its figures and judges them.
#include <memory>
#include <vector>

#include "hostile/crawl_run.h"

namespace qm::bench {

// The program's own peak over an ordinary site: 40 lines of small pages with links, 4
// threads, `inFlight` pages in flight each.
double BasePeakMiB(ChildLauncher& launcher, int inFlight);

Verdict HugeRobotsCase(ChildLauncher& launcher);
Verdict CompressedRobotsCase(ChildLauncher& launcher, double basePeakMiB);
std::vector<Verdict> HostileMarkupCases(ChildLauncher& launcher);
std::vector<Verdict> MemoryLimitCases(ChildLauncher& launcher, double basePeakMiB);
Verdict ForbiddenRedirectsCase(ChildLauncher& launcher);
Verdict CredentialsCase(ChildLauncher& launcher);
std::vector<Verdict> OddReplyCases(ChildLauncher& launcher);
Verdict FullOutputCase(ChildLauncher& launcher);

// The page that trickles past the page time limit, run beside the other cases since it
// takes a minute.
class TimeLimitCase {
 public:
  explicit TimeLimitCase(ChildLauncher& launcher);
  ~TimeLimitCase();
  TimeLimitCase(const TimeLimitCase&) = delete;
  TimeLimitCase& operator=(const TimeLimitCase&) = delete;
  // Waits for the run's end, prints it and judges it.
  Verdict Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qm::bench
