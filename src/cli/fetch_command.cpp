// qmharvest-cli fetch URL
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "http/fetch_page_lines.h"

namespace qm::cli {

const char* const kFetchHelp =
    "Usage: qmharvest-cli fetch URL\n"
    "\n"
    "Fetches one page as a search does and writes each line of its body, as its bytes,\n"
    "followed by a line feed. Exit status 1 (nothing written) when the connection could\n"
    "not be made or the request not sent; 0 otherwise, whatever the status code.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

int RunFetch(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {});
  if (parsed.Operands().size() != 1) throw UsageError("fetch takes exactly one URL");
  const std::string& url = parsed.Operands().front();

  TPageLines lines;
  if (!FetchPageLines(url, lines)) {
    std::fprintf(
        stderr, "qmharvest-cli: cannot fetch %s: no connection, or the request could not be sent\n",
        url.c_str());
    return kExitFailure;
  }
  for (std::string_view line : lines) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0) {
    std::perror("qmharvest-cli: standard output");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
