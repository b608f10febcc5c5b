#pragma once
// The subcommands. Each returns the exit status: 0 success, 1 a failure it has named on
// standard error; a command line that does not fit throws UsageError (status 2).
#include <string>
#include <vector>

namespace qm::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int RunFetch(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
int RunHarvest(const std::vector<std::string>& args);
int RunRows(const std::vector<std::string>& args);
int RunRuns(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
int RunJob(const std::vector<std::string>& args);

extern const char* const kFetchHelp;
extern const char* const kScanHelp;
extern const char* const kHarvestHelp;
extern const char* const kRowsHelp;
extern const char* const kRunsHelp;
extern const char* const kExportHelp;
extern const char* const kJobHelp;

// rows --db URL [--job ID]: a job's rows on a PostgreSQL server.
class ParsedCommand;
int WriteJobRows(const ParsedCommand& parsed, unsigned kinds);

// True when the arguments ask for the subcommand's help.
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace qm::cli
