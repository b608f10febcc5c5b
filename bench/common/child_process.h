#pragma once
// Running another program to its end, as the benchmarks run the command-line program and the
// tools they are measured against.
#include <string>
#include <vector>

namespace qm::bench {

struct ChildRun {
  bool Started = false;
  int WaitStatus = 0;
  double Seconds = 0;     // wall time from the start to the end of the child
  double CpuSeconds = 0;  // the child's user and system time
  long PeakRssKb = 0;     // the child's peak resident set
  // The exit code, or -1 when it did not start or ended by a signal.
  int ExitCode() const;
};

// Runs `args` (the program found on PATH) with standard input from /dev/null and standard
// output and error written to the files named (created or emptied; "/dev/null" discards; an
// empty name leaves the child this process's own).
// Several threads may run children at once.
ChildRun RunChild(std::vector<std::string> args, const std::string& outputPath = "/dev/null",
                  const std::string& errorPath = "/dev/null");

}  // namespace qm::bench
