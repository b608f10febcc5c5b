#include "render/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "http/fiber_scheduler.h"
#include "http/socket_calls.h"
#include "text/trim.h"

extern char** environ;

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kBrowserName = "chromium-headless-shell";
// How often a wait looks at the stop flag.
constexpr int kStopLookMs = 100;

bool IsExecutable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), X_OK) == 0 && !std::filesystem::is_directory(path);
}

std::string SecondsText(std::chrono::milliseconds time) {
  const auto ms = time.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// A folder of the render's own, removed with everything in it.
class TScratchProfile {
 public:
  TScratchProfile() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "qmharvest-render.XXXXXX").string();
    if (error) pattern = "/tmp/qmharvest-render.XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TScratchProfile() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TScratchProfile(const TScratchProfile&) = delete;
  TScratchProfile& operator=(const TScratchProfile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The browser's environment: ours, but its home and caches in its own profile folder.
std::vector<std::string> BrowserEnvironment(const std::string& profile) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("HOME=") || text.starts_with("XDG_CONFIG_HOME=") ||
        text.starts_with("XDG_CACHE_HOME=") || text.starts_with("XDG_DATA_HOME=")) {
      continue;
    }
    entries.emplace_back(text);
  }
  for (const char* name : {"HOME=", "XDG_CONFIG_HOME=", "XDG_CACHE_HOME=", "XDG_DATA_HOME="}) {
    entries.push_back(name + profile);
  }
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Waits for the process to end, killing its group once `deadline` passes; its exit status.
int Reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    // A fiber's wait lets the other fibers of its thread run meanwhile.
    ParkUntil(Clock::now() + std::chrono::milliseconds(10));
  }
  // Whatever of the browser's children is left goes with it.
  ::kill(-pid, SIGKILL);
  return status;
}

}  // namespace

std::string FindHeadlessBrowser() {
  if (const char* path = ::getenv("PATH")) {
    std::string_view rest(path);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string_view folder = rest.substr(0, colon);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      if (folder.empty()) continue;
      const std::string candidate = std::string(folder) + "/" + std::string(kBrowserName);
      if (IsExecutable(candidate)) return candidate;
    }
  }
  for (const std::string candidate : {"/usr/bin/chromium-headless-shell",
                                      "/usr/lib/chromium-headless-shell/chromium-headless-shell"}) {
    if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

TRenderResult RenderPage(const std::string& address, const TRenderOptions& options) {
  TRenderResult result;
  const Clock::time_point started = Clock::now();
  const auto finish = [&result, started]() -> TRenderResult& {
    result.Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    return result;
  };
  const std::string lower = AsciiLower(address.substr(0, 8));
  if (!lower.starts_with("http://") && !lower.starts_with("https://")) {
    result.FailureReason = "only http and https pages are rendered";
    return finish();
  }
  const std::string browser =
      options.BrowserPath.empty() ? FindHeadlessBrowser() : options.BrowserPath;
  if (!IsExecutable(browser)) {
    result.FailureReason = "no headless browser installed (" + std::string(kBrowserName) + ")";
    return finish();
  }
  const TScratchProfile profile;
  if (profile.Path().empty()) {
    result.FailureReason = "no temporary folder for the browser's profile";
    return finish();
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.FailureReason = "no pipe for the browser's output";
    return finish();
  }
  // The browser dumps what it has shortly before it would be killed.
  const auto limit = std::max(options.TimeLimit, std::chrono::milliseconds(1000));
  const auto browserLimit = limit - std::min(limit / 4, std::chrono::milliseconds(3000));
  std::vector<std::string> arguments = {browser,
                                        "--no-sandbox",
                                        "--disable-gpu",
                                        "--disable-dev-shm-usage",
                                        "--no-first-run",
                                        "--no-default-browser-check",
                                        "--mute-audio",
                                        "--hide-scrollbars",
                                        "--user-data-dir=" + profile.Path(),
                                        "--timeout=" + std::to_string(browserLimit.count())};
  if (!options.UserAgent.empty()) arguments.push_back("--user-agent=" + options.UserAgent);
  arguments.push_back("--dump-dom");
  arguments.push_back(address);
  std::vector<std::string> environment = BrowserEnvironment(profile.Path());
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  // A group of its own, so that its children can be killed with it; no signal blocked or
  // ignored that the caller's threads block (a command line blocks Ctrl-C).
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, browser.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    result.FailureReason = "the browser could not be started";
    return finish();
  }

  const Clock::time_point deadline = started + limit;
  bool timedOut = false;
  bool stopped = false;
  std::string document;
  char buffer[65536];
  for (;;) {
    if (options.Stop != nullptr && options.Stop->load()) {
      stopped = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd wait{pipeFds[0], POLLIN, 0};
    const int ready = sockets::Poll(&wait, 1, static_cast<int>(std::min<long>(left, kStopLookMs)));
    if (ready <= 0) continue;
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const size_t room =
        options.MaxDocumentBytes - std::min(options.MaxDocumentBytes, document.size());
    document.append(buffer, std::min(static_cast<size_t>(got), room));
  }
  ::close(pipeFds[0]);
  const int status = Reap(pid, timedOut || stopped ? Clock::now() : deadline);

  if (stopped) {
    result.FailureReason = "the search was stopped";
  } else if (timedOut) {
    result.FailureReason = "the page did not settle within " + SecondsText(limit);
  } else if (WIFSIGNALED(status)) {
    result.FailureReason = "the browser crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.FailureReason =
        "the browser failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  } else if (TrimView(document).empty()) {
    result.FailureReason = "the browser gave no document";
  } else {
    result.Rendered = true;
    result.Document = std::move(document);
  }
  return finish();
}

}  // namespace qm
