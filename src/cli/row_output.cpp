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

// Appends the row's line up to its checks to `text`: one write for many rows costs less
// than a call into the stream for each field.
void AppendRowStart(std::string& text, std::string_view kind, std::string_view row,
                    std::string_view source) {
  const size_t at = text.size();
  text.resize(at + kind.size() + row.size() + source.size() + 3);
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
  *out = '\t';
}

void AppendRowEnd(std::string& text, std::string_view checks) {
  text.append(checks);
  text += '\n';
}

}  // namespace

void WriteRow(std::FILE* out, std::string_view kind, std::string_view row,
              std::string_view source, std::string_view checks) {
  std::string line;
  AppendRowStart(line, kind, row, source);
  AppendRowEnd(line, checks);
  std::fwrite(line.data(), 1, line.size(), out);
}

size_t ListFollower::WriteNewRows(std::FILE* out, TCheckWait wait) {
  size_t rowCount = 0;
  text_.clear();
  if (!verifier_) {
    size_t count = 0;
    list_.VisitEntriesFrom(shown_, rowCount, [&](const TResultEntryView& entry) {
      AppendRowStart(text_, kind_, entry.Value, entry.Source);
      AppendRowEnd(text_, {});
      ++count;
    });
    // An empty list is one empty row, which the first append fills: nothing to show yet.
    if (count == 0 && shown_ == 0) return 0;
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out);
    shown_ = rowCount;
    return count;
  }
  // The checks are asked for without the list's lock, which the workers wait for: the rows
  // are taken as the start of their lines.
  staged_.clear();
  stagedRows_.clear();
  list_.VisitEntriesFrom(shown_, rowCount, [&](const TResultEntryView& entry) {
    const size_t at = staged_.size();
    AppendRowStart(staged_, kind_, entry.Value, entry.Source);
    stagedRows_.push_back({at, entry.Value.size(), staged_.size()});
  });
  if (stagedRows_.empty() && shown_ == 0) return 0;
  const auto valueOf = [&](const StagedRow& row) {
    return std::string_view(staged_).substr(row.LineAt + kind_.size() + 1, row.ValueSize);
  };
  const auto lineOf = [&](const StagedRow& row) {
    return std::string_view(staged_).substr(row.LineAt, row.LineEnd - row.LineAt);
  };
  size_t written = 0;
  if (wait) {
    for (const StagedRow& row : stagedRows_) verifier_->Request(checkKind_, valueOf(row));
    for (const StagedRow& row : stagedRows_) {
      const verify::TRowCheck check = verifier_->Check(checkKind_, valueOf(row), *wait);
      text_.append(lineOf(row));
      AppendRowEnd(text_, check.Flags);
      ++written;
    }
  } else {
    for (size_t i = 0; i < stagedRows_.size(); ++i) {
      const std::string_view value = valueOf(stagedRows_[i]);
      // Rows keep their order: those after one still pending only start their lookups.
      if (written < i) {
        verifier_->Request(checkKind_, value);
        continue;
      }
      const std::optional<std::string_view> flags = verifier_->SettledFlags(checkKind_, value);
      if (!flags) continue;
      text_.append(lineOf(stagedRows_[i]));
      AppendRowEnd(text_, *flags);
      ++written;
    }
  }
  if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out);
  // Rows counted before the first was appended (an empty list's one row) are no rows.
  shown_ = written == stagedRows_.size() ? rowCount : shown_ + written;
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
