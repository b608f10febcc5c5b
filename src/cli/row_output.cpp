#include "cli/row_output.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace qm::cli {

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row,
              std::string_view source, std::string_view checks) {
  if (!kind.empty()) std::fwrite(kind.data(), 1, kind.size(), out);
  std::fputc('\t', out);
  if (!row.empty()) std::fwrite(row.data(), 1, row.size(), out);
  std::fputc('\t', out);
  // A tab or line break in an address would shift the columns; none is left in one.
  while (!source.empty()) {
    size_t plain = 0;
    while (plain < source.size() && source[plain] != '\t' && source[plain] != '\n' &&
           source[plain] != '\r') {
      ++plain;
    }
    if (plain > 0) std::fwrite(source.data(), 1, plain, out);
    if (plain == source.size()) break;
    std::fputc(' ', out);
    source.remove_prefix(plain + 1);
  }
  std::fputc('\t', out);
  // An empty view may hold no pointer at all, which fwrite must not be given.
  if (!checks.empty()) std::fwrite(checks.data(), 1, checks.size(), out);
  std::fputc('\n', out);
}

size_t ListFollower::WriteNewRows(std::FILE* out, TCheckWait wait) {
  size_t rowCount = 0;
  const std::vector<TResultEntry> entries = list_.EntriesFrom(shown_, rowCount);
  // An empty list is one empty row, which the first append fills: nothing to show yet.
  if (entries.empty() && shown_ == 0) return 0;
  if (!verifier_) {
    for (const TResultEntry& entry : entries) WriteRow(out, kind_, entry.Value, entry.Source);
    shown_ = rowCount;
    return entries.size();
  }
  for (const TResultEntry& entry : entries) verifier_->Request(checkKind_, entry.Value);
  size_t written = 0;
  for (const TResultEntry& entry : entries) {
    std::optional<verify::TRowCheck> check;
    if (wait) {
      check = verifier_->Check(checkKind_, entry.Value, *wait);
    } else {
      check = verifier_->CheckIfSettled(checkKind_, entry.Value);
      // Rows keep their order: the rest waits with this one.
      if (!check) break;
    }
    WriteRow(out, kind_, entry.Value, entry.Source, check->Flags);
    ++written;
  }
  // Rows counted before the first was appended (an empty list's one row) are no rows.
  shown_ = written == entries.size() ? rowCount : shown_ + written;
  return written;
}

bool RowOutput::WriteNewRows(std::span<ListFollower> followers, TCheckWait wait) {
  if (Failed()) return false;
  errno = 0;
  bool any = false;
  for (ListFollower& follower : followers) {
    if (follower.WriteNewRows(stdout, wait) > 0) any = true;
  }
  if (any) Flush();
  // A write may fail inside the stream while its buffer is emptied, before any flush.
  if (std::ferror(stdout)) Fail();
  return any;
}

void RowOutput::Flush() {
  if (!Failed() && std::fflush(stdout) != 0) Fail();
}

void RowOutput::Fail() {
  if (!Failed()) error_ = errno != 0 ? errno : EIO;
}

std::string RowOutput::Failure() const {
  return std::string("cannot write the rows to standard output: ") + std::strerror(error_);
}

}  // namespace qm::cli
