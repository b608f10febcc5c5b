#include "common/cli_harvest.h"

#include "common/child_process.h"

namespace qm::bench {

CliHarvestRun RunCliHarvest(const std::string& cliPath, const qm::test::TempDir& dir,
                            const std::string& listPath) {
  const std::string errorPath = dir.File("harvest.err");
  const ChildRun child = RunChild({cliPath, "harvest", "--threads", "4", "--email", "--mobile",
                                   "--qq", "--no-online-check", listPath},
                                  "/dev/null", errorPath);
  CliHarvestRun run;
  run.Seconds = child.Seconds;
  run.PeakRssKb = child.PeakRssKb;
  run.Status = child.ExitCode();
  run.Summary = qm::test::TempDir::Read(errorPath);
  while (!run.Summary.empty() && run.Summary.back() == '\n') run.Summary.pop_back();
  return run;
}

}  // namespace qm::bench
