#include "cli/row_output.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qm::cli {

namespace {

// A tab or line break in an address would shift the columns; none is left in one.
void BlankBreaks(char* p, size_t size) {
  for (size_t k = 0; k < size; ++k) {
    if (p[k] == '\t' || p[k] == '\n' || p[k] == '\r') p[k] = ' ';
  }
}

char* Put(char* out, std::string_view field) {
  if (!field.empty()) std::memcpy(out, field.data(), field.size());
  return out + field.size();
}

// Appends the row's line to `text`: one write for many rows costs less than a call into
// the stream for each field.
void AppendRow(std::string& text, std::string_view kind, std::string_view row,
               std::string_view source, std::string_view checks) {
  const size_t at = text.size();
  text.resize(at + kind.size() + row.size() + source.size() + checks.size() + 4);
  char* out = Put(text.data() + at, kind);
  *out++ = '\t';
  out = Put(out, row);
  *out++ = '\t';
  char* const sourceAt = out;
  out = Put(out, source);
  // Addresses hold no byte below 0x20 but by mistake: they are looked for eight at a time.
  size_t k = 0;
  for (; k + 8 <= source.size(); k += 8) {
    uint64_t word;
    std::memcpy(&word, source.data() + k, 8);
    // A high bit set for each byte below 0x20 (and maybe for some above 0x7F).
    if (((word - 0x2020202020202020u) & ~word & 0x8080808080808080u) != 0) {
      BlankBreaks(sourceAt + k, 8);
    }
  }
  BlankBreaks(sourceAt + k, source.size() - k);
  *out++ = '\t';
  out = Put(out, checks);
  *out = '\n';
}

}  // namespace

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row,
              std::string_view source, std::string_view checks) {
  std::string line;
  AppendRow(line, kind, row, source, checks);
  std::fwrite(line.data(), 1, line.size(), out);
}

size_t ListFollower::WriteNewRows(std::FILE* out, TCheckWait wait) {
  size_t rowCount = 0;
  const std::vector<TResultEntry> entries = list_.EntriesFrom(shown_, rowCount);
  // An empty list is one empty row, which the first append fills: nothing to show yet.
  if (entries.empty() && shown_ == 0) return 0;
  text_.clear();
  if (!verifier_) {
    for (const TResultEntry& entry : entries) {
      AppendRow(text_, kind_, entry.Value, entry.Source, {});
    }
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out);
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
    AppendRow(text_, kind_, entry.Value, entry.Source, check->Flags);
    ++written;
  }
  if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out);
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
