// qmharvest-cli: the harvest engine of the GUI program, driven from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "engine/page_memory_release.h"

namespace {

const char* const kProgramHelp =
    "Usage: qmharvest-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "The harvest engine of qmharvest without its window. Data goes to standard output,\n"
    "messages and progress to standard error.\n"
    "\n"
    "Commands:\n"
    "  fetch URL            fetch one page and write its lines\n"
    "  scan [KINDS] FILE... find contact data in local files (\"-\" is standard input)\n"
    "  harvest [OPTIONS] LIST\n"
    "                       search the pages of a URL list as the main window does\n"
    "  rows --store FILE    the rows a result store keeps, as harvest writes them\n"
    "  runs --store FILE    the runs a result store keeps\n"
    "  export --store FILE --format txt|csv|xlsx --out PATH\n"
    "                       save a stored run's rows as the main window saves its lists\n"
    "  job submit|work|status|export --db URL ...\n"
    "                       one list searched by many machines through PostgreSQL\n"
    "\n"
    "  --help               this text; COMMAND --help tells about one command\n"
    "  --version            the program's version\n"
    "\n"
    "Exit status: 0 success, 1 failure (named on standard error), 2 usage error.\n";

int UsageFailure(const std::string& message, const std::string& command) {
  std::fprintf(stderr, "qmharvest-cli: %s\nTry 'qmharvest-cli %s--help'.\n", message.c_str(),
               command.empty() ? "" : (command + " ").c_str());
  return qm::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qm::cli;
  qm::ReturnPageBuffersToTheSystem();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageFailure("no command given", "");
  const std::string command = args.front();
  args.erase(args.begin());

  if (command == "--help" || command == "-h") {
    std::fputs(kProgramHelp, stdout);
    return kExitSuccess;
  }
  if (command == "--version") {
    std::printf("qmharvest-cli %s\n", QM_VERSION);
    return kExitSuccess;
  }

  struct Entry {
    const char* Name;
    int (*Run)(const std::vector<std::string>&);
    const char* Help;
  };
  const Entry entries[] = {
      {"fetch", RunFetch, kFetchHelp},       {"scan", RunScan, kScanHelp},
      {"harvest", RunHarvest, kHarvestHelp}, {"rows", RunRows, kRowsHelp},
      {"runs", RunRuns, kRunsHelp},          {"export", RunExport, kExportHelp},
      {"job", RunJob, kJobHelp}};
  for (const Entry& entry : entries) {
    if (command != entry.Name) continue;
    if (WantsHelp(args)) {
      std::fputs(entry.Help, stdout);
      return kExitSuccess;
    }
    try {
      return entry.Run(args);
    } catch (const UsageError& error) {
      return UsageFailure(error.what(), command);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "qmharvest-cli: %s\n", error.what());
      return kExitFailure;
    }
  }
  return UsageFailure("unknown command '" + command + "'", "");
}
