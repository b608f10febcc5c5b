#pragma once
// qmharvest-cli harvest as the benchmarks run it: 4 threads, every kind collected, no online
// check, results thrown away.
#include <string>

#include "support/temp_dir.h"

namespace qm::bench {

struct CliHarvestRun {
  double Seconds = 0;
  long PeakRssKb = 0;
  int Status = -1;      // the exit code, or -1 when it did not start or ended by a signal
  std::string Summary;  // what the program wrote to standard error, less the last line breaks
};

// Runs the program at `cliPath` over the URL list at `listPath`; its standard error goes to
// harvest.err in `dir`.
CliHarvestRun RunCliHarvest(const std::string& cliPath, const qm::test::TempDir& dir,
                            const std::string& listPath);

}  // namespace qm::bench
