// User names and passwords that a page or a redirect puts in an address: the crawl must not
// send them, and nothing it writes may show them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "hostile/crawl_cases.h"
#include "hostile/local_site.h"

namespace qm::bench {
namespace {

bool HasAuthorization(const std::string& head) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("\nauthorization:") != std::string::npos;
}

size_t Occurrences(const std::string& text, const std::string& word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

std::string ContactPage(const std::string& name) {
  return HtmlReply("<html><body><p>mail: " + name + "@example.cn</p></body></html>\n");
}

}  // namespace

Verdict CredentialsCase(ChildLauncher& launcher) {
  std::printf("\n[6] links and a redirect's Location with user:password@; depth 1\n");
  std::string origin;
  std::string hostPort;
  LocalSite site([&](const SiteRequest& request, SiteReply& reply) {
    const std::string& t = request.Target;
    if (t == "/") {
      reply.Send(HtmlReply("<html><body><a href=\"http://user:linkpw@" + hostPort +
                           "/a\">a</a> <a href=\"//user:linkpw@" + hostPort +
                           "/b\">b</a> <a href=\"/r\">r</a><p>mail: home@example.cn</p>"
                           "</body></html>\n"));
    } else if (t == "/r" || t == "/r0") {
      const std::string to = t == "/r" ? "/after" : "/after0";
      reply.Send(ReplyHead(
          "302 Found", {"Location: http://user:redirpw@" + hostPort + to, "Content-Length: 0"}));
    } else if (t == "/listed") {
      reply.Send(
          HtmlReply("<html><body><a href=\"/a2\">a2</a><p>mail: listed@example.cn</p>"
                    "</body></html>\n"));
    } else if (t == "/robots.txt") {
      reply.Send(ReplyHead("404 Not Found", {"Content-Length: 0"}));
    } else {
      reply.Send(ContactPage("page" + std::to_string(t.size())));
    }
  });
  origin = site.Origin();
  hostPort = origin.substr(7);
  // The third line's own user name and password are the user's: sent to that page only.
  const std::string list = site.Url("/") + "\r\n" + site.Url("/r0") +
                           "\r\nhttp://lineuser:linepw@" + hostPort + "/listed\r\n";
  qm::test::TempDir dir;
  const CrawlRun run = RunCrawl(launcher, dir, list, {"--depth", "1"});
  PrintFigures(run);

  size_t leaked = 0;
  size_t listedSent = 0;
  std::printf("    requests:");
  for (const SiteRequest& request : site.Log()) {
    const bool authorization = HasAuthorization(request.Head);
    std::printf(" %s%s", request.Target.c_str(), authorization ? "(Authorization)" : "");
    if (!authorization) continue;
    if (request.Target == "/listed") {
      ++listedSent;
    } else {
      ++leaked;
    }
  }
  std::printf("\n");
  size_t shown = 0;
  for (const char* password : {"linkpw", "redirpw", "linepw"}) {
    const size_t inStatus = Occurrences(run.StatusText, password);
    const size_t inRows = Occurrences(run.Rows, password);
    const size_t inErrors = Occurrences(run.Errors, password);
    std::printf("    \"%s\": in the status file %zu, in the rows %zu, on standard error %zu\n",
                password, inStatus, inRows, inErrors);
    shown += inStatus + inRows;
  }
  std::printf(
      "    Authorization sent: for links and redirects %zu, for the listed line's own "
      "page %zu\n",
      leaked, listedSent);
  PrintStatusOf(run, "/r", "/r (Location with password)");
  PrintStatusOf(run, "/r0", "listed /r0 (the same)");
  Verdict verdict;
  verdict.Case = "6 user:password@ in links, Location";
  verdict.Pass = run.Exit() == 0 && leaked == 0 && shown == 0;
  verdict.Figures = FiguresText(run) + ", Authorization from links/redirects " +
                    std::to_string(leaked) + ", passwords written " + std::to_string(shown) +
                    ", rows " + std::to_string(Occurrences(run.Rows, "\n"));
  verdict.Expectation = "no Authorization from them, no password written";
  return verdict;
}

}  // namespace qm::bench
