#include "persistence/data_location.h"

#include <sys/stat.h>

#include <cerrno>

namespace qm {
namespace {

std::string WithSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

std::string Variable(const EnvironmentLookup& environment, const char* name) {
  const char* value = environment ? environment(name) : nullptr;
  return value ? std::string(value) : std::string();
}

}  // namespace

TDataLocation ResolveDataLocation(const std::string& programDirectory,
                                  const EnvironmentLookup& environment,
                                  const WritableProbe& writable) {
  if (writable(programDirectory)) return {programDirectory, programDirectory};
  const std::string home = Variable(environment, "HOME");
  const std::string configHome = Variable(environment, "XDG_CONFIG_HOME");
  // Relative values of XDG_CONFIG_HOME are to be ignored.
  std::string settings;
  if (!configHome.empty() && configHome.front() == '/') {
    settings = WithSlash(configHome) + "qmharvest/";
  } else if (!home.empty()) {
    settings = WithSlash(home) + ".config/qmharvest/";
  } else {
    return {programDirectory, programDirectory};
  }
  return {settings, home.empty() ? programDirectory : WithSlash(home)};
}

void CreateMissingDirectories(const std::string& directory) {
  std::string path;
  size_t pos = 0;
  while (pos < directory.size()) {
    const size_t slash = directory.find('/', pos + 1);
    path = directory.substr(0, slash == std::string::npos ? directory.size() : slash);
    pos = slash == std::string::npos ? directory.size() : slash;
    if (path.empty() || path == "/") continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

}  // namespace qm
