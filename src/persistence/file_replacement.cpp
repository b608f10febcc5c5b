#include "persistence/file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "text/program_location.h"

namespace qm {
namespace {

constexpr const char* kTemporaryMark = ".tmp";

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string TemporaryPrefix(const std::string& target) {
  return FileNameOf(target) + kTemporaryMark;
}

// Temporary names are "<file>.tmp<pid>-<counter>"; the process id of a name, or 0.
pid_t TemporaryOwner(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return 0;
  name.remove_prefix(prefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return 0;
  long long pid = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (i == dash) continue;
    if (c < '0' || c > '9') return 0;
    if (i < dash) {
      pid = pid * 10 + (c - '0');
      if (pid > 0x7FFFFFFF) return 0;
    }
  }
  return static_cast<pid_t>(pid);
}

bool ProcessEnded(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// Creates a temporary file beside `target`, with the permissions a new file gets (or those
// of the file it will replace). Returns its descriptor, or -1.
int CreateTemporary(const std::string& target, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = target + kTemporaryMark + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      struct stat old;
      if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) return current;
    std::string link(buffer.data(), static_cast<size_t>(n));
    current = link.front() == '/' ? link : DirectoryOf(current) + link;
  }
  return current;
}

bool ReadOnlyFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  return (status.st_mode & S_IWUSR) == 0 ||
         faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

void RemoveStaleTemporaries(const std::string& target) {
  const std::string folder = DirectoryOf(target);
  const std::string prefix = TemporaryPrefix(target);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(dir)) {
    const pid_t owner = TemporaryOwner(entry->d_name, prefix);
    if (owner > 0 && owner != getpid() && ProcessEnded(owner)) stale.push_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string& name : stale) unlink((folder + name).c_str());
}

bool ReplaceFileContent(const std::string& path, std::string_view bytes) {
  const std::string target = FollowLinks(path);
  if (ReadOnlyFile(target)) {
    errno = EACCES;
    return false;
  }
  RemoveStaleTemporaries(target);
  std::string tempPath;
  const int fd = CreateTemporary(target, tempPath);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tempPath.c_str(), target.c_str()) == 0;
  if (!ok) {
    const int saved = errno;
    unlink(tempPath.c_str());
    errno = saved;
  }
  return ok;
}

}  // namespace qm
