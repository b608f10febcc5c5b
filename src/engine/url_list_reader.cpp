#include "engine/url_list_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/file_errors.h"

namespace qm {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr char kCtrlZ = '\x1a';

}  // namespace

std::unique_ptr<TUrlListReader> TUrlListReader::Open(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw InOutError(errno);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw InOutError(EISDIR);
  }
  return std::unique_ptr<TUrlListReader>(new TUrlListReader(fd));
}

TUrlListReader::TUrlListReader(int fd) : fd_(fd), buffer_(kBufferSize, '\0') {}

TUrlListReader::~TUrlListReader() {
  ::close(fd_);
}

bool TUrlListReader::Fill() {
  pos_ = size_ = 0;
  if (endOfData_ || errorCode_ != 0) return false;
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    errorCode_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (got == 0) {
    endOfData_ = true;
    return false;
  }
  size_ = static_cast<size_t>(got);
  // Nothing after a Ctrl-Z belongs to the list.
  if (const void* z = std::memchr(buffer_.data(), kCtrlZ, size_)) {
    size_ = static_cast<size_t>(static_cast<const char*>(z) - buffer_.data());
    endOfData_ = true;
  }
  return size_ > 0;
}

TListRead TUrlListReader::Next(std::string& line) {
  line.clear();
  bool started = false;
  for (;;) {
    if (pos_ == size_ && !Fill()) {
      if (errorCode_ != 0) return TListRead::Error;
      if (!started) return TListRead::End;
      ++linesRead_;  // a last line without a break
      return TListRead::Line;
    }
    const char* begin = buffer_.data() + pos_;
    const size_t available = size_ - pos_;
    started = true;  // Fill never leaves an empty buffer behind a true result
    const void* lf = std::memchr(begin, '\n', available);
    if (!lf) {
      line.append(begin, available);
      pos_ = size_;
      continue;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(lf) - begin);
    line.append(begin, length);
    pos_ += length + 1;
    // The CR of a CR LF may have come at the end of the previous buffer.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++linesRead_;
    return TListRead::Line;
  }
}

bool TUrlListReader::Eof() {
  if (pos_ < size_) return false;
  if (Fill()) return false;
  if (errorCode_ != 0) throw InOutError(errorCode_);
  return true;
}

bool TUrlListReader::ReadLine(std::string& line) {
  switch (Next(line)) {
    case TListRead::Line:
      return true;
    case TListRead::End:
      return false;
    case TListRead::Error:
      break;
  }
  throw InOutError(errorCode_);
}

std::string_view UrlOfLine(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
  return line.substr(0, line.find(' '));
}

int32_t CountUrlListLines(const std::string& path) {
  auto reader = TUrlListReader::Open(path);
  std::string line;
  while (reader->ReadLine(line)) {
  }
  return static_cast<int32_t>(static_cast<uint32_t>(reader->LinesRead()));
}

}  // namespace qm
