#pragma once
// The settings and progress file: section "config" with seven keys, in this order.
#include <cstdint>
#include <string>

namespace qm {

class TForm1;

inline constexpr const char* kSettingsSection = "config";

// The seven values as the file holds them; UrlAdd is code page 936 bytes.
struct TSettingsRecord {
  std::string UrlAdd;
  int32_t Process = 0;
  int32_t Total = 0;
  int32_t Thread = 1;
  int32_t IfEml = 0;
  int32_t IfPhone = 0;
  int32_t IfQQ = 0;
};

// Values for missing or unreadable keys.
inline TSettingsRecord CreationDefaults() {
  return {{}, 0, 0, 1, 1, 0, 0};
}
inline TSettingsRecord ResumeDefaults() {
  return {{}, 0, 0, 1, 0, 0, 0};
}

// The settings file name for a program file: its name in lower case, without its
// extension, plus ".ini" ("/opt/QmHarvest.EXE" and "/opt/qmharvest" both give
// "qmharvest.ini").
std::string SettingsFileName(const std::string& programPath);

// Reads the seven keys from one snapshot of the file; each missing or invalid value takes
// its default. Never fails.
TSettingsRecord ReadSettingsFile(const std::string& path, const TSettingsRecord& defaults);

// Writes the seven keys in their order as one replacement of the file.
// Throws EIniFileError "Unable to write to %s".
void WriteSettingsFile(const std::string& path, const TSettingsRecord& record);

// A switch value checks its box when its low eight bits are not all zero.
inline bool SwitchChecked(int32_t value) {
  return (static_cast<uint32_t>(value) & 0xFFu) != 0;
}

// The settings read into the main window's controls and run state.
void LoadSettings(TForm1& form, const TSettingsRecord& defaults);
// The seven values of the moment: Edit5, UrlCounter, UrlTotal, SpinEdit1, the three boxes.
TSettingsRecord CurrentSettings(const TForm1& form);

}  // namespace qm
