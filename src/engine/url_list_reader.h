#pragma once
// Reading a URL list file: one address per line, lines ending in CR LF or LF, a last line
// without a break counted, a Ctrl-Z byte ending the list. Empty lines are lines like any
// other. The workers, the counting pass of a start and the skipping of a resume all read
// through this one reader, so they agree on what a line is.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qm {

enum class TListRead { Line, End, Error };

class TUrlListReader {
 public:
  // Opens the list; a file that cannot be opened raises EInOutError.
  static std::unique_ptr<TUrlListReader> Open(const std::string& path);
  ~TUrlListReader();
  TUrlListReader(const TUrlListReader&) = delete;
  TUrlListReader& operator=(const TUrlListReader&) = delete;

  // The next line without its break. A failed read gives Error and leaves the errno value
  // in ErrorCode(); the reader stays at End or Error from then on.
  TListRead Next(std::string& line);

  // True when no further line can be read (end of file or Ctrl-Z). Raises EInOutError
  // when the read ahead fails.
  bool Eof();
  // Next, raising EInOutError on a failed read; false at the end of the list.
  bool ReadLine(std::string& line);

  int ErrorCode() const { return errorCode_; }
  int64_t LinesRead() const { return linesRead_; }

 private:
  explicit TUrlListReader(int fd);
  // Refills the buffer; false at the end of the file or on an error.
  bool Fill();

  int fd_;
  std::string buffer_;
  size_t pos_ = 0;
  size_t size_ = 0;
  bool endOfData_ = false;  // end of file or Ctrl-Z seen
  int errorCode_ = 0;
  int64_t linesRead_ = 0;
};

// The address a list line holds: without its leading and trailing blanks and tabs, the
// text before its first blank (0x20); empty for a line of blanks alone.
std::string_view UrlOfLine(std::string_view line);

// The number of lines of a list, read by the same rules; EInOutError when the file cannot
// be opened or read. A count beyond the 32-bit range wraps as the counter would.
int32_t CountUrlListLines(const std::string& path);

}  // namespace qm
