#pragma once
// The settings and progress file: section "config" with the seven keys of the first version,
// in this order, then the keys of the capabilities added since. A file without the later keys
// reads as before, the capabilities taking their defaults.
#include <cstdint>
#include <string>

namespace qm {

class TForm1;

inline constexpr const char* kSettingsSection = "config";

// The values as the file holds them; UrlAdd is code page 936 bytes.
struct TSettingsRecord {
  std::string UrlAdd;
  int32_t Process = 0;
  int32_t Total = 0;
  int32_t Thread = 1;
  int32_t IfEml = 0;
  int32_t IfPhone = 0;
  int32_t IfQQ = 0;
  // Switches and counts of the later capabilities.
  int32_t Redirect = 1;    // follow redirects
  int32_t Extended = 1;    // extended recognition of contacts
  int32_t Unique = 1;      // a value already in its list is not appended again
  int32_t InFlight = 1024;  // pages in flight per worker, 1 to 4096
  int32_t Depth = 1;       // links followed from a listed page, 0 to 3 (0: that page only)
  int32_t PageLimit = 20;  // pages of one site at most, 1 to 1000
  int32_t Robots = 1;      // obey a site's robots.txt for the links followed
  int32_t MemoryLimit = 1024;  // MiB the pages of a run may hold at once, 64 to 1048576
  int32_t NewOnly = 0;         // leave out rows earlier runs in the result store found
  int32_t KeepAlive = 1;       // keep connections alive between pages of the same server
  int32_t HostLimit = 8;       // connections open to one host at once, 1 to 64
  int32_t Timeout = 20;        // seconds each wait for a server may last, 1 to 120
  std::string UserAgent = {};  // code page 936 bytes; empty: the program's name and version
  int32_t Render = -1;         // render script-written pages; -1: when the browser is installed
  int32_t IfWeChat = 0;        // collect WeChat IDs
  int32_t IfTel = 0;           // collect telephone numbers (landline, 400, 800)
  int32_t Verify = 1;          // check every row; off: no DNS lookups
  int32_t ValidOnly = 0;       // exports hold only rows whose checks find nothing wrong
};

// Values for missing or unreadable keys.
inline TSettingsRecord CreationDefaults() {
  TSettingsRecord record;
  record.IfEml = 1;
  return record;
}
inline TSettingsRecord ResumeDefaults() {
  return {};
}

// The settings file name for a program file: its name in lower case, without its
// extension, plus ".ini" ("/opt/QmHarvest.EXE" and "/opt/qmharvest" both give
// "qmharvest.ini").
std::string SettingsFileName(const std::string& programPath);

// Reads the keys from one snapshot of the file; each missing or invalid value takes
// its default. Never fails.
TSettingsRecord ReadSettingsFile(const std::string& path, const TSettingsRecord& defaults);

// Writes every key in its order as one replacement of the file.
// Throws EIniFileError "Unable to write to %s".
void WriteSettingsFile(const std::string& path, const TSettingsRecord& record);

// A switch value checks its box when its low eight bits are not all zero.
inline bool SwitchChecked(int32_t value) {
  return (static_cast<uint32_t>(value) & 0xFFu) != 0;
}

// The settings read into the main window's controls and run state.
void LoadSettings(TForm1& form, const TSettingsRecord& defaults);
// The values of the moment: Edit5, UrlCounter, UrlTotal, SpinEdit1, the three boxes, then the
// later capabilities' controls.
TSettingsRecord CurrentSettings(const TForm1& form);

}  // namespace qm
