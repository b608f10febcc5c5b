#pragma once
// A file created (or emptied) for writing and written in large pieces. Every failure raises
// EInOutError with the run-time's text, so a full disk is never reported as success.
#include <string>
#include <string_view>

namespace qm {

class TOutputFile {
 public:
  // Creates the file, or truncates it when it exists.
  explicit TOutputFile(const std::string& path);
  // Closes the file if Close was not called; errors are lost then.
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Writes all bytes, going on after short writes and interruptions.
  void WriteAll(std::string_view bytes);
  // Closes the file; a failure here (a delayed write error) raises too.
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace qm
