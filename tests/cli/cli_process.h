#pragma once
// Runs qmharvest-cli as a child process with its output going to files.
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::test {

struct CliResult {
  int Status = -1;  // exit status, or -1 when the program did not exit normally
  std::string Out;
  std::string Err;
};

class CliProcess {
 public:
  // Starts the program with `args`; standard input from `stdinPath` (or /dev/null), standard
  // output to `stdoutPath` when given (OutSoFar is then empty).
  CliProcess(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null",
             const std::string& program = QM_CLI_PATH, const std::string& stdoutPath = "");
  ~CliProcess();  // kills the program if it still runs
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  pid_t Pid() const { return pid_; }
  std::string OutSoFar() const;
  std::string ErrSoFar() const;
  // Waits for the exit (at most 60 s) and collects everything.
  CliResult Finish();

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Runs the program to its end.
CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null");

}  // namespace qm::test
