#pragma once
// An INI file read and written the way the program always kept its settings: section and
// key names matched without regard to letter case, a key replaced in place, a missing key
// or section added, CR LF line ends, values as bytes (code page 936, never converted here).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qm {

// Values come back through a buffer of this size: at most kIniValueBufferSize - 1 bytes.
inline constexpr size_t kIniValueBufferSize = 2048;

struct TIniEntry {
  std::string Key;
  std::string Value;
};

// The text of an INI file in memory.
class TIniText {
 public:
  TIniText() = default;
  explicit TIniText(std::string text) : text_(std::move(text)) {}

  const std::string& Text() const { return text_; }

  // The value of the first matching key of the first matching section, trimmed, a pair of
  // enclosing quotes removed, cut to the value buffer; nothing when section or key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // The value read as text and converted with ParseInteger; fallback when missing or invalid.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;

  // Replaces the key's line in place, or adds the key after the last line of its section,
  // or adds the section at the end. Other lines keep their bytes. A value ends at its first
  // line break or NUL byte: it cannot add lines to the file.
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::string text_;
};

// An INI file on disk. Every read opens the file, every write replaces it whole: the new
// text goes to a temporary file beside it, which is then renamed over the old one, all
// under one process-wide mutex, so writers never interleave and a reader sees either the
// old file or the new one.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  const std::string& FileName() const { return fileName_; }

  // The whole file as it is now; empty when it is missing or cannot be read.
  TIniText Snapshot() const;

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;

  // Throw EIniFileError "Unable to write to %s" when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // Several keys of one section, in order, as one replacement of the file.
  void WriteEntries(std::string_view section, std::span<const TIniEntry> entries);

 private:
  std::string fileName_;
};

}  // namespace qm
