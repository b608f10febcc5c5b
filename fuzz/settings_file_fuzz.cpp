// A settings file of any bytes, read, then a record of any values written over it and read
// back. Every value written reads back as the reader would take it from its own line; the
// other keys of the file keep their values; writing the same record again changes nothing.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "persistence/ini_file.h"
#include "persistence/settings_file.h"

namespace qm::fuzz {
namespace {

constexpr std::array<std::string_view, 16> kKeys = {
    "urladd",   "process",  "total",  "thread",   "ifeml", "ifphone",   "ifqq",
    "redirect", "extended", "unique", "inflight", "depth", "pagelimit", "robots", "memlimit", "newonly"};

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A value as it reads back once written: cut at a line break or NUL, then as the reader
// cleans a value (blanks and control bytes trimmed, one pair of quotes removed, cut to the
// value buffer).
std::string ReadBack(std::string_view value) {
  value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
  while (!value.empty() && static_cast<unsigned char>(value.front()) <= 32) value.remove_prefix(1);
  while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kIniValueBufferSize - 1));
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of its own for the run's settings file, removed at exit; in memory where the
// system offers it, since every write is flushed to its disk.
class TSettingsFolder {
 public:
  TSettingsFolder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder_ = std::string(base) + "/qm-fuzz-settings-XXXXXX";
    Check(mkdtemp(folder_.data()) != nullptr, "no temporary folder");
    path_ = folder_ + "/qmharvest.ini";
  }
  ~TSettingsFolder() { std::filesystem::remove_all(folder_); }
  const std::string& Path() const { return path_; }

 private:
  std::string folder_, path_;
};

const std::string& SettingsPath() {
  static const TSettingsFolder folder;
  return folder.Path();
}

}  // namespace
}  // namespace qm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qm;
  using namespace qm::fuzz;
  FuzzedDataProvider input(data, size);
  const std::string otherSection = input.ConsumeRandomLengthString(16);
  const std::string otherKey = input.ConsumeRandomLengthString(16);
  TSettingsRecord record;
  record.UrlAdd = input.ConsumeRandomLengthString(3000);
  for (int32_t* value :
       {&record.Process, &record.Total, &record.Thread, &record.IfEml, &record.IfPhone,
        &record.IfQQ, &record.Redirect, &record.Extended, &record.Unique, &record.InFlight,
        &record.Depth, &record.PageLimit, &record.Robots}) {
    *value = input.ConsumeIntegral<int32_t>();
  }
  const std::string existing = input.ConsumeRemainingBytesAsString();

  const std::string& path = SettingsPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << existing;
  }
  const TIniText before(existing);
  const auto otherBefore = before.Find(otherSection, otherKey);
  ReadSettingsFile(path, CreationDefaults());

  WriteSettingsFile(path, record);
  const std::string written = FileText(path);
  const TSettingsRecord read = ReadSettingsFile(path, ResumeDefaults());
  Check(read.UrlAdd == ReadBack(record.UrlAdd), "urladd does not read back");
  Check(read.Process == record.Process && read.Total == record.Total &&
            read.Thread == record.Thread && read.IfEml == record.IfEml &&
            read.IfPhone == record.IfPhone && read.IfQQ == record.IfQQ &&
            read.Redirect == record.Redirect && read.Extended == record.Extended &&
            read.Unique == record.Unique && read.InFlight == record.InFlight &&
            read.Depth == record.Depth && read.PageLimit == record.PageLimit &&
            read.Robots == record.Robots,
        "a number does not read back");

  bool ours = false;
  for (std::string_view key : kKeys) ours = ours || SameNoCase(key, otherKey);
  if (!ours || !SameNoCase(otherSection, kSettingsSection)) {
    Check(TIniText(written).Find(otherSection, otherKey) == otherBefore,
          "a key the record does not hold changed");
  }

  WriteSettingsFile(path, record);
  Check(FileText(path) == written, "writing the same record again changed the file");
  return 0;
}
