#include "cli/status_output.h"

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

StatusFile::StatusFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) throw std::runtime_error("cannot create the status file " + path);
}

StatusFile::~StatusFile() {
  Close();
}

void StatusFile::Write(const TAddressStatus& status) {
  if (file_ == nullptr) return;
  const std::string line = StatusTsvLine(status);
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    failed_ = true;
  }
}

bool StatusFile::Close() {
  if (file_ != nullptr) {
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
  }
  return !failed_;
}

}  // namespace qm::cli
