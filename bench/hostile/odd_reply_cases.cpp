// Replies at the edge of the protocol: two Location lines, a path that begins with "//", a
// good gzip member before a corrupt one, a page beyond the size cap; and rows that cannot be
// written.
#include <algorithm>
#include <cstdio>
#include <string>

#include "hostile/crawl_cases.h"
#include "hostile/gzip_body.h"
#include "hostile/local_site.h"

namespace qm::bench {
namespace {

constexpr size_t kOverCap = 65u << 20;

std::string ContactPage(const std::string& name) {
  return HtmlReply("<html><body><p>mail: " + name + "@example.cn</p></body></html>\n");
}

void SendGzipMembers(SiteReply& reply) {
  const std::string good =
      GzipMember("<html><body>\n<p>mail: gzfirst@example.cn</p>\n</body></html>\n");
  // A member's header, then bytes no deflate stream begins with.
  std::string corrupt("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  corrupt += std::string(64, '\xff') + "mail: gzsecond@example.cn";
  const std::string body = good + corrupt;
  reply.Send(ReplyHead("200 OK", {"Content-Type: text/html", "Content-Encoding: gzip",
                                  "Content-Length: " + std::to_string(body.size())}) +
             body);
}

void SendOverCap(SiteReply& reply) {
  const std::string start = "<html><body>\n<p>mail: bigfirst@example.cn</p>\n";
  if (!reply.Send(ReplyHead("200 OK", {"Content-Type: text/html",
                                       "Content-Length: " + std::to_string(kOverCap)}) +
                  start)) {
    return;
  }
  std::string block;
  while (block.size() < (64u << 10)) block += "<p>filler filler filler filler filler</p>\n";
  reply.SendRepeated(block, kOverCap - start.size());
}

void Serve(const SiteRequest& request, SiteReply& reply, const std::string& origin) {
  const std::string& t = request.Target;
  if (t == "/two") {
    reply.Send(
        ReplyHead("302 Found", {"Location: /first", "Location: /second", "Content-Length: 0"}));
  } else if (t == "/links") {
    // Absolute, so that "//folder" is a path of this host, not a host of its own.
    reply.Send(HtmlReply("<html><body><a href=\"" + origin + "//folder/y\">y</a></body></html>\n"));
  } else if (t == "/gz") {
    SendGzipMembers(reply);
  } else if (t == "/big") {
    SendOverCap(reply);
  } else if (t == "/robots.txt") {
    reply.Send(ReplyHead("404 Not Found", {"Content-Length: 0"}));
  } else {
    std::string name = t.substr(t.rfind('/') + 1);
    reply.Send(ContactPage(name.empty() ? "root" : name));
  }
}

std::string ReasonOf(const CrawlRun& run, const std::string& suffix) {
  const auto records = run.StatusOf(suffix);
  return records.empty() ? "(no status line)" : records[0]->Reason;
}

}  // namespace

std::vector<Verdict> OddReplyCases(ChildLauncher& launcher) {
  std::printf("\n[7] odd replies\n");
  std::string origin;
  LocalSite site(
      [&origin](const SiteRequest& request, SiteReply& reply) { Serve(request, reply, origin); });
  origin = site.Origin();
  std::vector<Verdict> verdicts;

  std::printf("  a redirect with two Location lines (/first, then /second)\n");
  {
    qm::test::TempDir dir;
    const CrawlRun run = RunCrawl(launcher, dir, site.Url("/two") + "\r\n", {"--depth", "1"});
    PrintFigures(run);
    const size_t first = site.RequestsOf("/first");
    const size_t second = site.RequestsOf("/second");
    std::printf("    requests: /first %zu, /second %zu\n", first, second);
    PrintStatusOf(run, "/two", "/two");
    const auto records = run.StatusOf("/two");
    const bool toFirst = records.size() == 1 && records[0]->Code == 200 &&
                         records[0]->FinalUrl.size() >= 6 &&
                         records[0]->FinalUrl.substr(records[0]->FinalUrl.size() - 6) == "/first";
    verdicts.push_back({"7a two Location headers",
                        run.Exit() == 0 && first == 1 && second == 0 && toFirst,
                        FiguresText(run) + ", /first " + std::to_string(first) + ", /second " +
                            std::to_string(second),
                        "the first Location only"});
  }

  std::printf("  a listed http://host//folder/x and a link to http://host//folder/y\n");
  {
    qm::test::TempDir dir;
    const CrawlRun run =
        RunCrawl(launcher, dir, site.Url("//folder/x") + "\r\n" + site.Url("/links") + "\r\n",
                 {"--depth", "1"});
    PrintFigures(run);
    const size_t x = site.RequestsOf("//folder/x");
    const size_t y = site.RequestsOf("//folder/y");
    std::printf("    requests: //folder/x %zu, //folder/y %zu, /x %zu, /y %zu\n", x, y,
                site.RequestsOf("/x"), site.RequestsOf("/y"));
    PrintStatusOf(run, "//folder/x", "//folder/x");
    PrintStatusOf(run, "//folder/y", "//folder/y");
    const bool found = run.HasRow("email", "x@example.cn") && run.HasRow("email", "y@example.cn");
    verdicts.push_back({"7b //folder/x paths", run.Exit() == 0 && x == 1 && y == 1 && found,
                        FiguresText(run) + ", //folder/x " + std::to_string(x) + ", //folder/y " +
                            std::to_string(y) + ", contacts " + (found ? "yes" : "no"),
                        "GET //folder/x and //folder/y once each"});
  }

  std::printf("  a good gzip member followed by a corrupt one\n");
  {
    qm::test::TempDir dir;
    const CrawlRun run = RunCrawl(launcher, dir, site.Url("/gz") + "\r\n", {"--depth", "1"});
    PrintFigures(run);
    const bool first = run.HasRow("email", "gzfirst@example.cn");
    std::printf("    the first member's contact %s\n", first ? "found" : "NOT FOUND");
    PrintStatusOf(run, "/gz", "/gz");
    verdicts.push_back({"7c gzip member + corrupt one", run.Exit() == 0 && first,
                        FiguresText(run) + ", contact " + (first ? "yes" : "no") + ", reason \"" +
                            ReasonOf(run, "/gz") + "\"",
                        "the first member's contact found"});
  }

  std::printf("  a page of 65 MiB\n");
  {
    qm::test::TempDir dir;
    const CrawlRun run = RunCrawl(launcher, dir, site.Url("/big") + "\r\n", {"--depth", "1"});
    PrintFigures(run);
    const bool kept = run.HasRow("email", "bigfirst@example.cn");
    std::printf("    the contact at its start %s\n", kept ? "found" : "NOT FOUND");
    PrintStatusOf(run, "/big", "/big");
    const std::string reason = ReasonOf(run, "/big");
    verdicts.push_back(
        {"7d page of 65 MiB",
         run.Exit() == 0 && reason.find("cut at the size cap") != std::string::npos,
         FiguresText(run) + ", contact " + (kept ? "yes" : "no") + ", reason \"" + reason + "\"",
         "reason says cut at the size cap"});
  }
  return verdicts;
}

Verdict FullOutputCase(ChildLauncher& launcher) {
  std::printf("\n[8] harvest with standard output on /dev/full\n");
  std::string origin;
  LocalSite site(
      [&origin](const SiteRequest& request, SiteReply& reply) { Serve(request, reply, origin); });
  origin = site.Origin();
  qm::test::TempDir dir;
  const CrawlRun run =
      RunCrawl(launcher, dir, site.Url("/one") + "\r\n" + site.Url("/two") + "\r\n",
               {"--depth", "1"}, "/dev/full");
  PrintFigures(run);
  std::string errors = run.Errors;
  while (!errors.empty() && errors.back() == '\n') errors.pop_back();
  std::printf("    standard error:\n");
  size_t start = 0;
  while (start < errors.size()) {
    const size_t end = std::min(errors.find('\n', start), errors.size());
    std::printf("      %s\n", Shortened(errors.substr(start, end - start), 120).c_str());
    start = end + 1;
  }
  return {"8 stdout on /dev/full", run.Exit() == 1,
          FiguresText(run) + ", " + std::to_string(run.Status.size()) + " status lines",
          "exit status 1"};
}

}  // namespace qm::bench
