#pragma once
// The --status file of harvest: one tab-separated line per address, written as its page
// ends.
#include <atomic>
#include <cstdio>
#include <string>

#include "engine/address_status.h"

namespace qm::cli {

// line, address, final address, status, bytes, ms, reason, e-mail rows, mobile rows, QQ
// rows, depth, listed address; a tab or line break inside a field becomes a blank, so every
// record is one line.
std::string StatusTsvLine(const TAddressStatus& status);

class StatusFile {
 public:
  // Raises std::runtime_error naming the file when it cannot be created.
  explicit StatusFile(const std::string& path);
  ~StatusFile();
  StatusFile(const StatusFile&) = delete;
  StatusFile& operator=(const StatusFile&) = delete;

  // Writes and flushes one record; a failure is remembered, not raised, on a worker's thread,
  // and no record is written after it, so the file never has a gap in the middle.
  void Write(const TAddressStatus& status);
  // Closes the file; false when any write or the close failed.
  bool Close();
  // The first failure in words, naming the file; empty while there is none. Any thread may
  // ask, while records are still being written.
  std::string Failure() const;

 private:
  void Fail(int error);

  std::string path_;
  std::FILE* file_;
  std::atomic<int> error_{0};  // errno of the first failure
};

}  // namespace qm::cli
