#include "common/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace qm::bench {

int ChildRun::ExitCode() const {
  return Started && WIFEXITED(WaitStatus) ? WEXITSTATUS(WaitStatus) : -1;
}

ChildRun RunChild(std::vector<std::string> args, const std::string& outputPath,
                  const std::string& errorPath) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC;
  if (!outputPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), kWriteFlags, 0644);
  }
  if (!errorPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), kWriteFlags, 0644);
  }
  ChildRun run;
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    run.Started = true;
    rusage usage{};
    while (wait4(pid, &run.WaitStatus, 0, &usage) < 0 && errno == EINTR) {
    }
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.PeakRssKb = usage.ru_maxrss;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

}  // namespace qm::bench
