#include "persistence/settings_file.h"

#include <array>

#include "persistence/ini_file.h"
#include "text/program_location.h"
#include "text/trim.h"

namespace qm {

std::string SettingsFileName(const std::string& programPath) {
  std::string name = AsciiLower(FileNameOf(programPath));
  // A leading dot starts a hidden name, not an extension.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name + ".ini";
}

TSettingsRecord ReadSettingsFile(const std::string& path, const TSettingsRecord& defaults) {
  const TIniText ini = TIniFile(path).Snapshot();
  TSettingsRecord record;
  record.UrlAdd = ini.ReadString(kSettingsSection, "urladd", defaults.UrlAdd);
  record.Process = ini.ReadInteger(kSettingsSection, "process", defaults.Process);
  record.Total = ini.ReadInteger(kSettingsSection, "total", defaults.Total);
  record.Thread = ini.ReadInteger(kSettingsSection, "thread", defaults.Thread);
  record.IfEml = ini.ReadInteger(kSettingsSection, "ifeml", defaults.IfEml);
  record.IfPhone = ini.ReadInteger(kSettingsSection, "ifphone", defaults.IfPhone);
  record.IfQQ = ini.ReadInteger(kSettingsSection, "ifqq", defaults.IfQQ);
  return record;
}

void WriteSettingsFile(const std::string& path, const TSettingsRecord& record) {
  const std::array<TIniEntry, 7> entries{{
      {"urladd", record.UrlAdd},
      {"process", std::to_string(record.Process)},
      {"total", std::to_string(record.Total)},
      {"thread", std::to_string(record.Thread)},
      {"ifeml", std::to_string(record.IfEml)},
      {"ifphone", std::to_string(record.IfPhone)},
      {"ifqq", std::to_string(record.IfQQ)},
  }};
  TIniFile(path).WriteEntries(kSettingsSection, entries);
}

}  // namespace qm
