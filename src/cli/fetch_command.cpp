// qmharvest-cli fetch [--raw] [--no-redirects] URL
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "http/fetch_page_lines.h"
#include "http/url_parts.h"
#include "http/http_client.h"
#include "http/redirect_fetch.h"

namespace qm::cli {
namespace {

bool WriteAll(std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

int Failed(const std::string& url, const TPageFetchResult& result) {
  std::fprintf(stderr, "qmharvest-cli: cannot fetch %s: %s\n", result.FinalUrl.c_str(),
               result.FailureReason.empty() ? "no connection, or the request could not be sent"
                                            : result.FailureReason.c_str());
  if (result.FinalUrl != url) {
    std::fprintf(stderr, "qmharvest-cli: (after %d redirects from %s)\n", result.Redirects,
                 url.c_str());
  }
  return kExitFailure;
}

void TellFinalAddress(const TPageFetchResult& result) {
  std::fprintf(stderr, "final address: %s\nstatus: %d\n", WithoutPassword(result.FinalUrl).c_str(),
               result.StatusCode);
  // A body cut short is still written, but not as if it were whole.
  if (!result.CutReason.empty()) std::fprintf(stderr, "%s\n", result.CutReason.c_str());
}

}  // namespace

const char* const kFetchHelp =
    "Usage: qmharvest-cli fetch [--raw] [--no-redirects] URL\n"
    "\n"
    "Fetches one page as a search does: redirects followed (up to five), the body\n"
    "decompressed and its text converted to UTF-8 when the page declares its charset.\n"
    "Writes \"final address: URL\" and \"status: CODE\" on standard error, and each line\n"
    "of the page, followed by a line feed, on standard output.\n"
    "\n"
    "  --raw            write the final answer's body as it came over the wire instead\n"
    "  --no-redirects   take a redirect's own answer as the page\n"
    "\n"
    "Exit status 1 (nothing written on standard output) when the connection could not be\n"
    "made, the request not sent or a redirect not followed (a loop, a sixth redirect, a\n"
    "target that cannot be reached); 0 otherwise, whatever the status code.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

int RunFetch(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{"--raw", "--no-redirects"}, {}});
  if (parsed.Operands().size() != 1) throw UsageError("fetch takes exactly one URL");
  const std::string& url = parsed.Operands().front();
  TPageFetchOptions options;
  options.FollowRedirects = !parsed.Has("--no-redirects");

  TPageFetchResult result;
  bool written = true;
  if (parsed.Has("--raw")) {
    THttpClient client;
    if (!FetchFollowingRedirects(client, url, options, result)) return Failed(url, result);
    TellFinalAddress(result);
    written = WriteAll(ReceivedBody(client));
  } else {
    TPageLines lines;
    if (!FetchPageLines(url, lines, options, result)) return Failed(url, result);
    TellFinalAddress(result);
    for (std::string_view line : lines) {
      written = written && WriteAll(line) && std::fputc('\n', stdout) != EOF;
    }
  }
  if (!written || std::fflush(stdout) != 0) {
    std::perror("qmharvest-cli: standard output");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
