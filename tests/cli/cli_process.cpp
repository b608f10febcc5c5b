#include "cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <stdexcept>
#include <string_view>

#include "support/wait_until.h"

extern char** environ;

namespace qm::test {

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& stdinPath,
                       const std::string& program, const std::string& stdoutPath) {
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const std::string out = stdoutPath.empty() ? dir_.File("stdout") : stdoutPath;
  const std::string err = dir_.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
}

CliProcess::~CliProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string CliProcess::OutSoFar() const {
  return TempDir::Read(dir_.File("stdout"));
}
std::string CliProcess::ErrSoFar() const {
  std::string err = TempDir::Read(dir_.File("stderr"));
  // AddressSanitizer says once a process that it cannot follow the fibers' stack switches;
  // that line is the build's, not the program's.
  const std::string_view warning =
      "WARNING: ASan doesn't fully support makecontext/swapcontext functions";
  for (size_t at = err.find(warning); at != std::string::npos; at = err.find(warning)) {
    const size_t begin = err.rfind('\n', at);
    const size_t lineStart = begin == std::string::npos ? 0 : begin + 1;
    const size_t end = err.find('\n', at);
    err.erase(lineStart, end == std::string::npos ? std::string::npos : end + 1 - lineStart);
  }
  return err;
}

CliResult CliProcess::Finish() {
  CliResult result;
  int status = 0;
  const bool exited = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                                std::chrono::seconds(60));
  if (exited) {
    reaped_ = true;
    if (WIFEXITED(status)) result.Status = WEXITSTATUS(status);
  }
  result.Out = OutSoFar();
  result.Err = ErrSoFar();
  return result;
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinPath) {
  CliProcess process(args, stdinPath);
  return process.Finish();
}

}  // namespace qm::test
