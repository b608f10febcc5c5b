#include "hostile/child_launcher.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "common/bench_common.h"

namespace qm::bench {
namespace {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// An answer as it crosses the socket; both ends are this program.
struct AnswerWire {
  uint64_t Id = 0;
  int32_t Started = 0;
  int32_t WaitStatus = 0;
  double Seconds = 0;
  double CpuSeconds = 0;
  int64_t PeakRssKb = 0;
  int64_t HelperPeakRssKb = 0;
};

// A request: its id, the number of strings, then each string's length and bytes: the
// arguments, the output path and the error path.
bool WriteRequest(int fd, uint64_t id, const std::vector<std::string>& strings) {
  const auto count = static_cast<uint32_t>(strings.size());
  if (!WriteAll(fd, &id, sizeof id) || !WriteAll(fd, &count, sizeof count)) return false;
  for (const std::string& text : strings) {
    const auto length = static_cast<uint32_t>(text.size());
    if (!WriteAll(fd, &length, sizeof length) || !WriteAll(fd, text.data(), text.size())) {
      return false;
    }
  }
  return true;
}

bool ReadRequest(int fd, uint64_t& id, std::vector<std::string>& strings) {
  uint32_t count = 0;
  if (!ReadAll(fd, &id, sizeof id) || !ReadAll(fd, &count, sizeof count)) return false;
  strings.assign(count, {});
  for (std::string& text : strings) {
    uint32_t length = 0;
    if (!ReadAll(fd, &length, sizeof length)) return false;
    text.resize(length);
    if (!ReadAll(fd, text.data(), length)) return false;
  }
  return true;
}

[[noreturn]] void HelperMain(int fd) {
  std::mutex writing;
  std::vector<std::thread> runs;
  uint64_t id = 0;
  std::vector<std::string> strings;
  while (ReadRequest(fd, id, strings) && strings.size() >= 3) {
    runs.emplace_back([fd, id, strings, &writing] {
      const std::vector<std::string> args(strings.begin(), strings.end() - 2);
      const ChildRun run = RunChild(args, strings[strings.size() - 2], strings.back());
      AnswerWire answer;
      answer.Id = id;
      answer.Started = run.Started ? 1 : 0;
      answer.WaitStatus = run.WaitStatus;
      answer.Seconds = run.Seconds;
      answer.CpuSeconds = run.CpuSeconds;
      answer.PeakRssKb = run.PeakRssKb;
      answer.HelperPeakRssKb = PeakRssKb();
      std::lock_guard lock(writing);
      WriteAll(fd, &answer, sizeof answer);
    });
  }
  for (std::thread& run : runs) run.join();
  // Nothing of the parent's (its buffered output, its static objects) is this process's to end.
  _exit(0);
}

}  // namespace

ChildLauncher::ChildLauncher() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw std::runtime_error("socketpair failed");
  }
  helper_ = fork();
  if (helper_ < 0) throw std::runtime_error("fork failed");
  if (helper_ == 0) {
    close(ends[0]);
    HelperMain(ends[1]);
  }
  close(ends[1]);
  socket_ = ends[0];
  reader_ = std::thread([this] { ReadAnswers(); });
}

ChildLauncher::~ChildLauncher() {
  // The helper ends once it has seen the last request and answered every one.
  shutdown(socket_, SHUT_WR);
  reader_.join();
  int status = 0;
  while (waitpid(helper_, &status, 0) < 0 && errno == EINTR) {
  }
  close(socket_);
}

void ChildLauncher::ReadAnswers() {
  AnswerWire wire;
  while (ReadAll(socket_, &wire, sizeof wire)) {
    Answer answer;
    answer.Run.Started = wire.Started != 0;
    answer.Run.WaitStatus = wire.WaitStatus;
    answer.Run.Seconds = wire.Seconds;
    answer.Run.CpuSeconds = wire.CpuSeconds;
    answer.Run.PeakRssKb = static_cast<long>(wire.PeakRssKb);
    answer.HelperPeakRssKb = static_cast<long>(wire.HelperPeakRssKb);
    std::lock_guard lock(mutex_);
    answers_[wire.Id] = answer;
    answered_.notify_all();
  }
  std::lock_guard lock(mutex_);
  broken_ = true;
  answered_.notify_all();
}

ChildRun ChildLauncher::Run(const std::vector<std::string>& args, const std::string& outputPath,
                            const std::string& errorPath) {
  std::vector<std::string> strings = args;
  strings.push_back(outputPath);
  strings.push_back(errorPath);
  std::unique_lock lock(mutex_);
  const uint64_t id = nextId_++;
  if (broken_ || !WriteRequest(socket_, id, strings)) return {};
  answered_.wait(lock, [&] { return broken_ || answers_.count(id) != 0; });
  const auto found = answers_.find(id);
  if (found == answers_.end()) return {};
  const Answer answer = found->second;
  answers_.erase(found);
  helperPeakRssKb_ = std::max(helperPeakRssKb_, answer.HelperPeakRssKb);
  return answer.Run;
}

long ChildLauncher::HelperPeakRssKb() const {
  std::lock_guard lock(mutex_);
  return helperPeakRssKb_;
}

}  // namespace qm::bench
