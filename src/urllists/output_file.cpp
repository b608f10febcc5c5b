#include "urllists/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "text/file_errors.h"

namespace qm {

TOutputFile::TOutputFile(const std::string& path) {
  do {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw InOutError(errno);
}

TOutputFile::~TOutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void TOutputFile::WriteAll(std::string_view bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw InOutError(errno);
    }
    if (n == 0) throw InOutError(ENOSPC);
    data += n;
    left -= static_cast<size_t>(n);
  }
}

void TOutputFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  // After close fails the descriptor is gone all the same; retrying could close another file.
  if (::close(fd) != 0 && errno != EINTR) throw InOutError(errno);
}

}  // namespace qm
