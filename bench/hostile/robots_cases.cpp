// Sites whose robots.txt is the weapon: half a megabyte of rules against 64 KiB paths, a small
// compressed file that decodes to 64 MiB, and followed links that redirect where the crawl
// must not go.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "hostile/crawl_cases.h"
#include "hostile/gzip_body.h"
#include "hostile/local_site.h"

namespace qm::bench {
namespace {

constexpr int kListedPages = 40;

std::string ListOf(const LocalSite& site, const std::string& prefix, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += site.Url(prefix + std::to_string(i)) + "\r\n";
  return list;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string TextReply(std::string_view body) {
  return ReplyHead("200 OK",
                   {"Content-Type: text/plain", "Content-Length: " + std::to_string(body.size())}) +
         std::string(body);
}

const std::string& NotFound() {
  static const std::string reply = ReplyHead("404 Not Found", {"Content-Length: 0"});
  return reply;
}

std::string SmallPage(std::string_view target) {
  return HtmlReply("<html><body><p>page " + std::string(Shortened(target, 40)) +
                   "</p><p>mail: office@example.cn</p></body></html>\n");
}

// 40 lines of pages with two links each and one link robots.txt forbids.
std::string OrdinaryListedPage(std::string_view n) {
  const std::string id(n);
  return HtmlReply("<html><body><a href=\"/page/" + id + "-0\">a</a> <a href=\"/page/" + id +
                   "-1\">b</a> <a href=\"/secret/" + id + "\">c</a> QQ:" + "1234" + id +
                   "5</body></html>\n");
}

}  // namespace

double BasePeakMiB(ChildLauncher& launcher, int inFlight) {
  qm::test::TempDir dir;
  LocalSite site([](const SiteRequest& request, SiteReply& reply) {
    if (request.Target == "/robots.txt") {
      reply.Send(TextReply("User-agent: *\nDisallow: /secret/\n"));
    } else if (StartsWith(request.Target, "/list/")) {
      reply.Send(OrdinaryListedPage(request.Target.substr(6)));
    } else {
      reply.Send(SmallPage(request.Target));
    }
  });
  const CrawlRun run =
      RunCrawl(launcher, dir, ListOf(site, "/list/", kListedPages),
               {"--threads", "4", "--in-flight", std::to_string(inFlight), "--depth", "1"});
  std::printf("  base: 40 lines of small pages with links, 4 threads x %d in flight\n", inFlight);
  PrintFigures(run);
  return run.PeakMiB();
}

namespace {

std::string Letters(std::mt19937& random, size_t count) {
  std::string out;
  while (out.size() < count) {
    const char next = static_cast<char>('a' + random() % 16);
    if (out.empty() || next != out.back()) out += next;
  }
  return out;
}

// About 27,000 rules in 512 KiB: literal paths of a large site, rules of many stars that the
// paths below almost match, and "/*" before letters that never occur in them. One rule
// forbids the fifth link of every listed page.
std::string HugeRobotsTxt() {
  std::mt19937 random(5);
  std::string text = "User-agent: *\nDisallow:/p/*-4/\n";
  for (unsigned n = 0; text.size() < (512u << 10); ++n) {
    switch (n % 4) {
      case 0:
      case 1:
        text += "Disallow:/d" + std::to_string(random() % 500) + "/p" +
                std::to_string(random() % 100000) + "\n";
        break;
      case 2: {
        std::string pattern = "/p/*";
        for (int i = 0; i < 9; ++i) {
          pattern += random() % 2 ? '*' : static_cast<char>('a' + random() % 16);
        }
        text += "Disallow:" + pattern + "X\n";
        break;
      }
      default: {
        std::string segment = Letters(random, 7);
        const size_t twice = 1 + random() % 6;
        segment[twice] = segment[twice - 1];
        text += "Disallow:/*" + segment + "\n";
        break;
      }
    }
  }
  return text;
}

std::string LongLink(const std::string& n, int k, const std::string& letters) {
  return "<a href=\"/p/" + n + "-" + std::to_string(k) + "/" + letters + "\">link " +
         std::to_string(k) + "</a>\n";
}

// Five links of 64 KiB paths, made afresh one at a time for every request, so that this
// process never holds the pages of all lanes at once.
void SendLongLinksPage(const std::string& n, SiteReply& reply) {
  constexpr size_t kPathBytes = 64u << 10;
  const std::string start = "<html><body>\n";
  const std::string end = "<p>mail: list" + n + "@example.cn</p></body></html>\n";
  size_t length = start.size() + end.size();
  for (int k = 0; k < 5; ++k) length += LongLink(n, k, {}).size() + kPathBytes;
  if (!reply.Send(ReplyHead("200 OK", {"Content-Type: text/html; charset=utf-8",
                                       "Content-Length: " + std::to_string(length)}) +
                  start)) {
    return;
  }
  for (int k = 0; k < 5; ++k) {
    std::mt19937 random(static_cast<unsigned>(std::atoi(n.c_str()) * 10 + k));
    if (!reply.Send(LongLink(n, k, Letters(random, kPathBytes)))) return;
  }
  reply.Send(end);
}

}  // namespace

Verdict HugeRobotsCase(ChildLauncher& launcher) {
  std::printf("\n[1] robots.txt of 512 KiB against links of 64 KiB paths; 40 lines, depth 1\n");
  const std::string robots = HugeRobotsTxt();
  size_t rules = 0;
  for (const char c : robots) rules += c == '\n' ? 1 : 0;
  std::printf("    robots.txt %zu B, %zu rules\n", robots.size(), rules - 1);
  qm::test::TempDir dir;
  LocalSite site([&robots](const SiteRequest& request, SiteReply& reply) {
    if (request.Target == "/robots.txt") {
      reply.Send(TextReply(robots));
    } else if (StartsWith(request.Target, "/list/")) {
      SendLongLinksPage(request.Target.substr(6), reply);
    } else if (StartsWith(request.Target, "/p/")) {
      reply.Send(SmallPage(request.Target));
    } else {
      reply.Send(NotFound());
    }
  });
  const CrawlRun free = RunCrawl(launcher, dir, ListOf(site, "/list/", kListedPages),
                                 {"--threads", "4", "--depth", "1", "--no-robots"});
  std::printf("  the same with --no-robots, to tell what the rules cost\n");
  PrintFigures(free);
  const size_t freeRequests = site.Requests();
  std::printf("    requests: %zu\n", freeRequests);
  std::printf("  obeying robots.txt\n");
  const CrawlRun run = RunCrawl(launcher, dir, ListOf(site, "/list/", kListedPages),
                                {"--threads", "4", "--depth", "1"});
  PrintFigures(run);
  size_t forbidden = 0;
  const std::vector<SiteRequest> log = site.Log();
  size_t robotsReads = 0;
  size_t listed = 0;
  size_t followed = 0;
  for (size_t i = freeRequests; i < log.size(); ++i) {
    const std::string& target = log[i].Target;
    robotsReads += target == "/robots.txt" ? 1 : 0;
    listed += StartsWith(target, "/list/") ? 1 : 0;
    if (StartsWith(target, "/p/")) {
      ++followed;
      forbidden += target.find("-4/") != std::string::npos ? 1 : 0;
    }
  }
  std::printf(
      "    requests: /robots.txt %zu, /list/ %zu, /p/ (64 KiB paths) %zu, of them "
      "forbidden %zu\n",
      robotsReads, listed, followed, forbidden);
  PrintStatusSummary(run);
  Verdict verdict;
  verdict.Case = "1 robots.txt 512 KiB, 64 KiB paths";
  verdict.Pass = run.Exit() == 0 && run.Child.Seconds < 3.0 && robotsReads == 1 && forbidden == 0;
  verdict.Figures = FiguresText(run) + ", robots.txt read " + std::to_string(robotsReads) +
                    "x, /p/ " + std::to_string(followed) + " (forbidden " +
                    std::to_string(forbidden) + "); --no-robots " + Fixed(free.Child.Seconds) +
                    " s";
  verdict.Expectation = "under 3 s, robots.txt once, no forbidden path";
  return verdict;
}

Verdict CompressedRobotsCase(ChildLauncher& launcher, double basePeakMiB) {
  std::printf("\n[2] robots.txt of gzip decoding to 64 MiB; 40 lines, 4 threads, depth 1\n");
  std::string block;
  for (int i = 0; block.size() < 4000; ++i) block += "Disallow: /zz" + std::to_string(i) + "/\n";
  const std::string robots =
      GzipMemberRepeated("User-agent: *\nDisallow: /secret/\n", block, 64u << 20);
  std::printf("    robots.txt %zu B compressed, 64 MiB decoded\n", robots.size());
  qm::test::TempDir dir;
  LocalSite site([&robots](const SiteRequest& request, SiteReply& reply) {
    if (request.Target == "/robots.txt") {
      reply.Send(ReplyHead("200 OK", {"Content-Type: text/plain", "Content-Encoding: gzip",
                                      "Content-Length: " + std::to_string(robots.size())}) +
                 robots);
    } else if (StartsWith(request.Target, "/list/")) {
      reply.Send(OrdinaryListedPage(request.Target.substr(6)));
    } else {
      reply.Send(SmallPage(request.Target));
    }
  });
  const CrawlRun run = RunCrawl(launcher, dir, ListOf(site, "/list/", kListedPages),
                                {"--threads", "4", "--depth", "1"});
  PrintFigures(run);
  const size_t robotsReads = site.RequestsOf("/robots.txt");
  const size_t secret = site.Requests("/secret/");
  std::printf("    requests: /robots.txt %zu, /list/ %zu, /page/ %zu, /secret/ (forbidden) %zu\n",
              robotsReads, site.Requests("/list/"), site.Requests("/page/"), secret);
  const double above = run.PeakMiB() - basePeakMiB;
  std::printf("    peak RSS %.1f MiB above the base run's %.1f MiB\n", above, basePeakMiB);
  PrintStatusSummary(run);
  Verdict verdict;
  verdict.Case = "2 gzip robots.txt of 64 MiB";
  verdict.Pass = run.Exit() == 0 && robotsReads == 1 && secret == 0 && above < 32.0;
  verdict.Figures = FiguresText(run) + " (base " + Fixed(basePeakMiB, 1) +
                    " MiB), robots.txt read " + std::to_string(robotsReads) + "x, /secret/ " +
                    std::to_string(secret);
  verdict.Expectation = "robots.txt once, its rules obeyed, peak < base + 32 MiB";
  return verdict;
}

Verdict ForbiddenRedirectsCase(ChildLauncher& launcher) {
  std::printf("\n[5] followed links redirecting off the site and to a forbidden path; depth 1\n");
  LocalSite elsewhere(
      [](const SiteRequest& request, SiteReply& reply) { reply.Send(SmallPage(request.Target)); },
      "127.0.0.2");
  const std::string offSite = elsewhere.Url("/landing");
  LocalSite site([&offSite](const SiteRequest& request, SiteReply& reply) {
    if (request.Target == "/robots.txt") {
      reply.Send(TextReply("User-agent: *\nDisallow: /private/\n"));
    } else if (request.Target == "/") {
      reply.Send(
          HtmlReply("<html><body><a href=\"/off\">partner</a> <a href=\"/forbid\">"
                    "archive</a> <a href=\"/fine\">contact</a></body></html>\n"));
    } else if (request.Target == "/off") {
      reply.Send(ReplyHead("302 Found", {"Location: " + offSite, "Content-Length: 0"}));
    } else if (request.Target == "/forbid") {
      reply.Send(ReplyHead("302 Found", {"Location: /private/x", "Content-Length: 0"}));
    } else if (request.Target == "/fine") {
      reply.Send(ReplyHead("302 Found", {"Location: /fine-target", "Content-Length: 0"}));
    } else {
      reply.Send(SmallPage(request.Target));
    }
  });
  qm::test::TempDir dir;
  const CrawlRun run = RunCrawl(launcher, dir, site.Url("/") + "\r\n", {"--depth", "1"});
  PrintFigures(run);
  const size_t other = elsewhere.Requests();
  const size_t forbidden = site.Requests("/private/");
  std::printf(
      "    requests: other host %zu, /private/ %zu, /off %zu, /forbid %zu, /fine-target "
      "%zu, /robots.txt %zu\n",
      other, forbidden, site.RequestsOf("/off"), site.RequestsOf("/forbid"),
      site.RequestsOf("/fine-target"), site.RequestsOf("/robots.txt"));
  PrintStatusOf(run, "/off", "/off (to another host)");
  PrintStatusOf(run, "/forbid", "/forbid (to /private/x)");
  PrintStatusOf(run, "/fine", "/fine (to /fine-target)");
  const auto off = run.StatusOf("/off");
  const auto forbid = run.StatusOf("/forbid");
  Verdict verdict;
  verdict.Case = "5 redirects off site / forbidden";
  verdict.Pass = run.Exit() == 0 && other == 0 && forbidden == 0 && off.size() == 1 &&
                 off[0]->Reason.find("off the site") != std::string::npos && forbid.size() == 1 &&
                 forbid[0]->Reason.find("robots.txt") != std::string::npos;
  verdict.Figures = FiguresText(run) + ", other host " + std::to_string(other) + ", /private/ " +
                    std::to_string(forbidden) + "; /off \"" + (off.empty() ? "-" : off[0]->Reason) +
                    "\", /forbid \"" + (forbid.empty() ? "-" : forbid[0]->Reason) + "\"";
  verdict.Expectation = "0 requests there, reasons say why";
  return verdict;
}

}  // namespace qm::bench
