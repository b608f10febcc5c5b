#pragma once
// Where the settings file and the proposed export folder live: beside the program when its
// folder is writable (a portable copy), otherwise the user's configuration folder for the
// settings and the user's home for exports, since an installed program's folder is not
// the user's to write.
#include <functional>
#include <string>

#include "text/program_location.h"  // DirectoryWritable

namespace qm {

struct TDataLocation {
  std::string SettingsDirectory;  // with its trailing "/"
  std::string ExportDirectory;    // with its trailing "/"
};

// getenv's shape, so tests can hand in their own environment.
using EnvironmentLookup = std::function<const char*(const char*)>;
using WritableProbe = std::function<bool(const std::string&)>;

// programDirectory ends in "/". The fallback settings folder is $XDG_CONFIG_HOME/qmharvest/
// when that variable holds an absolute path, else $HOME/.config/qmharvest/; exports go to
// $HOME/. Without HOME the program's folder is kept.
TDataLocation ResolveDataLocation(const std::string& programDirectory,
                                  const EnvironmentLookup& environment,
                                  const WritableProbe& writable);

// Creates the folder and its missing parents, the new ones readable only by the user;
// failures are left for the write that follows to report.
void CreateMissingDirectories(const std::string& directory);

}  // namespace qm
