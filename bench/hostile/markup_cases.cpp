// Pages of 4 MB of markup that a careless tokenizer loses itself in, with a contact before
// and after it and three links after it.
#include <cstdio>
#include <string>

#include "hostile/crawl_cases.h"
#include "hostile/local_site.h"

namespace qm::bench {
namespace {

struct Markup {
  const char* Name;   // also the page's path segment
  const char* Label;  // for the output
  std::string Unit;
  size_t Count;
};

constexpr size_t kMarkupBytes = 4000000;

std::string PageStart(const Markup& markup) {
  return "<html><head><title>markup</title></head><body>\n<p>mail: first-" +
         std::string(markup.Name) + "@example.cn</p>\n";
}

std::string PageEnd(const Markup& markup) {
  const std::string base = "/c3/" + std::string(markup.Name) + "/";
  return "\n<p>mail: last-" + std::string(markup.Name) + "@example.cn</p>\n<a href=\"" + base +
         "contact.html\">contact us</a> <a href=\"" + base + "about.html\">about</a> <a href=\"" +
         base + "team.html\">team</a>\n</body></html>\n";
}

void SendMarkupPage(const Markup& markup, SiteReply& reply) {
  const std::string start = PageStart(markup);
  const std::string end = PageEnd(markup);
  const size_t spam = markup.Unit.size() * markup.Count;
  std::string block;
  while (block.size() + markup.Unit.size() <= (64u << 10)) block += markup.Unit;
  if (!reply.Send(ReplyHead("200 OK", {"Content-Type: text/html; charset=utf-8",
                                       "Content-Length: " +
                                           std::to_string(start.size() + spam + end.size())}) +
                  start)) {
    return;
  }
  if (reply.SendRepeated(block, spam)) reply.Send(end);
}

std::vector<Markup> Markups() {
  auto count = [](const std::string& unit) { return kMarkupBytes / unit.size(); };
  return {
      {"rt", "<rt> x 1,000,000", "<rt>", 1000000},
      {"comment", "<!--> repeated", "<!-->", count("<!-->")},
      {"bang", "<!--x--!> repeated", "<!--x--!>", count("<!--x--!>")},
      {"quote", "<i a=x\"y> repeated", "<i a=x\"y>", count("<i a=x\"y>")},
      {"endtag", "</x> x 1,000,000", "</x>", 1000000},
  };
}

}  // namespace

std::vector<Verdict> HostileMarkupCases(ChildLauncher& launcher) {
  std::printf(
      "\n[3] a 4 MB page of hostile markup, contacts before and after, 3 links after; "
      "depth 1\n");
  const std::vector<Markup> markups = Markups();
  LocalSite site([&markups](const SiteRequest& request, SiteReply& reply) {
    for (const Markup& markup : markups) {
      if (request.Target == "/m/" + std::string(markup.Name)) {
        SendMarkupPage(markup, reply);
        return;
      }
    }
    if (request.Target == "/robots.txt") {
      reply.Send(ReplyHead("404 Not Found", {"Content-Length: 0"}));
    } else {
      reply.Send(HtmlReply("<html><body><p>a linked page</p></body></html>\n"));
    }
  });
  std::vector<Verdict> verdicts;
  for (const Markup& markup : markups) {
    std::printf("  %s (%zu B of it)\n", markup.Label, markup.Unit.size() * markup.Count);
    qm::test::TempDir dir;
    const std::string path = "/m/" + std::string(markup.Name);
    const CrawlRun run = RunCrawl(launcher, dir, site.Url(path) + "\r\n", {"--depth", "1"});
    PrintFigures(run);
    const bool first = run.HasRow("email", "first-" + std::string(markup.Name) + "@example.cn");
    const bool last = run.HasRow("email", "last-" + std::string(markup.Name) + "@example.cn");
    const size_t links = site.Requests("/c3/" + std::string(markup.Name) + "/");
    std::printf(
        "    contact before the markup %s, after it %s; links after it followed: %zu of 3\n",
        first ? "found" : "NOT FOUND", last ? "found" : "NOT FOUND", links);
    PrintStatusOf(run, path, "the page");
    const auto records = run.StatusOf(path);
    const bool whole = records.size() == 1 && records[0]->Code == 200 && records[0]->Reason.empty();
    Verdict verdict;
    verdict.Case = "3 markup " + std::string(markup.Label);
    verdict.Pass = run.Exit() == 0 && first && last && whole && run.Child.Seconds < 5.0;
    verdict.Figures = FiguresText(run) + ", contacts " + (first ? "yes" : "no") + "/" +
                      (last ? "yes" : "no") + ", links " + std::to_string(links) + "/3, reason \"" +
                      (records.empty() ? "-" : records[0]->Reason) + "\"";
    verdict.Expectation = "under 5 s, both contacts, page whole";
    verdicts.push_back(verdict);
  }
  return verdicts;
}

}  // namespace qm::bench
