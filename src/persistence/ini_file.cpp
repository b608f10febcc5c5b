#include "persistence/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "persistence/file_replacement.h"
#include "text/errors.h"
#include "text/integer_syntax.h"
#include "text/trim.h"

namespace qm {
namespace {

// Writers of every INI file in the process; readers take it too, which costs nothing
// and keeps a read from racing the rename on file systems that do not make it atomic.
std::mutex& IniMutex() {
  static std::mutex mutex;
  return mutex;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the text: [begin, contentEnd) is its content, [contentEnd, end) its break.
struct Line {
  size_t begin;
  size_t contentEnd;
  size_t end;
};

Line LineAt(std::string_view text, size_t begin) {
  const size_t lf = text.find('\n', begin);
  if (lf == std::string_view::npos) return {begin, text.size(), text.size()};
  size_t contentEnd = lf;
  if (contentEnd > begin && text[contentEnd - 1] == '\r') --contentEnd;
  return {begin, contentEnd, lf + 1};
}

// The section name of a header line, or nothing when the line is not a header.
std::optional<std::string_view> SectionName(std::string_view content) {
  content = TrimView(content);
  if (content.empty() || content.front() != '[') return std::nullopt;
  content.remove_prefix(1);
  const size_t close = content.find(']');
  if (close != std::string_view::npos) content = content.substr(0, close);
  return TrimView(content);
}

// Where a section's lines are: the header line, and the lines up to the next header.
struct SectionSpan {
  bool found = false;
  Line header{};
  size_t bodyEnd = 0;  // offset of the next header, or the end of the text
};

SectionSpan FindSection(std::string_view text, std::string_view section) {
  SectionSpan span;
  size_t pos = 0;
  while (pos < text.size()) {
    const Line line = LineAt(text, pos);
    const auto name = SectionName(text.substr(line.begin, line.contentEnd - line.begin));
    if (name) {
      if (span.found) {
        span.bodyEnd = line.begin;
        return span;
      }
      if (EqualsNoCase(*name, section)) {
        span.found = true;
        span.header = line;
      }
    }
    pos = line.end;
  }
  span.bodyEnd = text.size();
  return span;
}

// Splits a key line into its trimmed key and its raw value; nothing for other lines.
bool SplitKeyLine(std::string_view content, std::string_view& key, std::string_view& value) {
  const size_t eq = content.find('=');
  if (eq == std::string_view::npos) return false;
  key = TrimView(content.substr(0, eq));
  value = content.substr(eq + 1);
  return true;
}

std::string CleanValue(std::string_view raw) {
  std::string_view value = TrimView(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kIniValueBufferSize - 1) value = value.substr(0, kIniValueBufferSize - 1);
  return std::string(value);
}

// Reads a whole file. False with errno set when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace

std::optional<std::string> TIniText::Find(std::string_view section, std::string_view key) const {
  const std::string_view text = text_;
  const SectionSpan span = FindSection(text, section);
  if (!span.found) return std::nullopt;
  size_t pos = span.header.end;
  while (pos < span.bodyEnd) {
    const Line line = LineAt(text, pos);
    std::string_view name, value;
    if (SplitKeyLine(text.substr(line.begin, line.contentEnd - line.begin), name, value) &&
        EqualsNoCase(name, key)) {
      return CleanValue(value);
    }
    pos = line.end;
  }
  return std::nullopt;
}

std::string TIniText::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
  if (auto value = Find(section, key)) return std::move(*value);
  std::string result(fallback);
  if (result.size() > kIniValueBufferSize - 1) result.resize(kIniValueBufferSize - 1);
  return result;
}

int32_t TIniText::ReadInteger(std::string_view section, std::string_view key,
                              int32_t fallback) const {
  const auto value = Find(section, key);
  return value ? StrToIntDef(*value, fallback) : fallback;
}

void TIniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
  const std::string_view text = text_;
  const SectionSpan span = FindSection(text, section);
  if (!span.found) {
    std::string added;
    if (!text.empty() && text.back() != '\n') added += "\r\n";
    added.append("[").append(section).append("]\r\n");
    added.append(key).append("=").append(value).append("\r\n");
    text_ += added;
    return;
  }
  // The line after which a new key goes: the section's last line that is not blank, so
  // blank lines before the next section stay where they are.
  Line last = span.header;
  size_t pos = span.header.end;
  while (pos < span.bodyEnd) {
    const Line line = LineAt(text, pos);
    const std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    std::string_view name, oldValue;
    if (SplitKeyLine(content, name, oldValue) && EqualsNoCase(name, key)) {
      std::string replaced(name);
      replaced.append("=").append(value);
      if (line.end == line.contentEnd) replaced += "\r\n";
      text_.replace(line.begin, line.contentEnd - line.begin, replaced);
      return;
    }
    if (!TrimView(content).empty()) last = line;
    pos = line.end;
  }
  std::string added;
  if (last.end == last.contentEnd) added += "\r\n";
  added.append(key).append("=").append(value).append("\r\n");
  text_.insert(last.end, added);
}

TIniText TIniFile::Snapshot() const {
  std::string text;
  std::lock_guard lock(IniMutex());
  if (!ReadWholeFile(fileName_, text)) text.clear();
  return TIniText(std::move(text));
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
  return Snapshot().ReadString(section, key, fallback);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t fallback) const {
  return Snapshot().ReadInteger(section, key, fallback);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const TIniEntry entry{std::string(key), std::string(value)};
  WriteEntries(section, std::span<const TIniEntry>(&entry, 1));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteEntries(std::string_view section, std::span<const TIniEntry> entries) {
  std::lock_guard lock(IniMutex());
  std::string current;
  // A file that exists but cannot be read is not overwritten with a file that lacks its
  // other lines.
  if (!ReadWholeFile(fileName_, current) && errno != ENOENT) {
    throw EIniFileError("Unable to write to " + fileName_);
  }
  TIniText text(std::move(current));
  for (const TIniEntry& entry : entries) text.Set(section, entry.Key, entry.Value);
  if (!ReplaceFileContent(fileName_, text.Text())) {
    throw EIniFileError("Unable to write to " + fileName_);
  }
}

}  // namespace qm
