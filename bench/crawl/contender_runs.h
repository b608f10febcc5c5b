#pragma once
// One run of each way of collecting a local web's contacts: the harvester through its
// command-line program, and wget -r -l 1 of every site followed by ripgrep.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "local_web.h"

namespace qm::bench {

struct ContenderRun {
  double Seconds = 0;
  double FetchSeconds = 0;  // the part spent fetching: all of the harvester, wget's share
  double CpuSeconds = 0;    // of the programs run, the server's not counted
  ContactSet Found;         // distinct values, in the forms of ContactSet
  std::map<std::string, int> PagesPerHost;  // pages scanned
  std::string Trouble;                      // what went wrong, if anything
};

// qmharvest-cli harvest of the sites' home pages with every kind of contact and
// `crawlOptions` ("--depth", "1", ...), the crawl settings not named at their defaults.
ContenderRun RunHarvester(const std::string& cliPath, const LocalWeb& web,
                          const std::filesystem::path& work,
                          const std::vector<std::string>& crawlOptions, int threads);

// The three plain patterns the pipeline greps for, one per kind.
struct PlainPattern {
  const char* Kind;
  const char* Pattern;
};
extern const PlainPattern kPlainPatterns[3];

// `wget -r -l 1 -q -P DIR HOME` for every site, `parallel` at a time, then
// `rg -o -N --no-filename PATTERN DIR` for each plain pattern; e-mail addresses compared in
// lower case. Pages scanned: the HTML files wget saved.
ContenderRun RunWgetPipeline(const LocalWeb& web, const std::filesystem::path& work, int parallel);

// The lines of each site's access log now.
std::map<std::string, long> AccessLogLines(const LocalWeb& web,
                                           const std::filesystem::path& logFolder);

}  // namespace qm::bench
