#include "cli/status_output.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qm::cli {
namespace {

void AppendField(std::string& line, std::string_view field) {
  for (const char c : field) line += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

}  // namespace

std::string StatusTsvLine(const TAddressStatus& status) {
  std::string line;
  const char* separator = "";
  for (const std::string& field : StatusFields(status)) {
    line += separator;
    AppendField(line, field);
    separator = "\t";
  }
  line += '\n';
  return line;
}

StatusFile::StatusFile(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) throw std::runtime_error("cannot create the status file " + path);
}

StatusFile::~StatusFile() {
  Close();
}

void StatusFile::Fail(int error) {
  int none = 0;
  error_.compare_exchange_strong(none, error != 0 ? error : EIO);
}

void StatusFile::Write(const TAddressStatus& status) {
  if (file_ == nullptr || error_.load() != 0) return;
  const std::string line = StatusTsvLine(status);
  errno = 0;
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    Fail(errno);
  }
}

bool StatusFile::Close() {
  if (file_ != nullptr) {
    errno = 0;
    if (std::fclose(file_) != 0) Fail(errno);
    file_ = nullptr;
  }
  return error_.load() == 0;
}

std::string StatusFile::Failure() const {
  const int error = error_.load();
  if (error == 0) return {};
  return "cannot write the status file " + path_ + ": " + std::strerror(error);
}

}  // namespace qm::cli
