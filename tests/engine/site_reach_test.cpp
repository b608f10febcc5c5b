// Sites a plain fetch of the listed page cannot get past: a home page answering 404 or 500,
// a site known only by its sitemap, a listed page of few links, a slow server, a robots.txt
// that names this program, and pages whose contacts a script writes (rendered by the real
// headless browser). Real nginx sites and scripted servers.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "http/compression_support.h"
#include "http/user_agent.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::NginxServer;
using test::RequestedPaths;
using test::RowSet;
using test::ScriptedConnection;
using test::ScriptedServer;
using namespace std::chrono_literals;

// The real render, on a machine without the headless browser.
TRenderResult RenderWithoutBrowser(const std::string& url, TRenderOptions options) {
  options.BrowserPath = "/nonexistent/chromium-headless-shell";
  return RenderPage(url, options);
}

void Harvest(EngineFixture& f, const std::string& list, int depth = 1) {
  f.form->SpinEdit1.SetValue(2);
  f.form->SpinEditInFlight.SetValue(4);
  f.form->SpinEditDepth.SetValue(depth);
  f.UseList(list);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
}

std::map<std::string, TAddressStatus> RecordsByPath(const EngineFixture& f) {
  std::map<std::string, TAddressStatus> records;
  for (TAddressStatus& record : f.form->AddressStatuses.Snapshot()) {
    const size_t path = record.Url.find('/', record.Url.find("://") + 3);
    records[path == std::string::npos ? "/" : record.Url.substr(path)] = std::move(record);
  }
  return records;
}

// The User-Agent of each request in an access log of the combined format, by path.
std::multimap<std::string, std::string> AgentsByPath(const std::string& accessLog) {
  std::multimap<std::string, std::string> agents;
  std::istringstream log(accessLog);
  for (std::string entry; std::getline(log, entry);) {
    const size_t get = entry.find("\"GET ");
    if (get == std::string::npos || entry.size() < 2) continue;
    const size_t agentStart = entry.rfind('"', entry.size() - 2) + 1;
    agents.emplace(entry.substr(get + 5, entry.find(' ', get + 5) - get - 5),
                   entry.substr(agentStart, entry.size() - 1 - agentStart));
  }
  return agents;
}

TEST(SiteReach, ErrorHomePagesAreSearchedThroughTheirUsualContactPaths) {
  for (const int status : {404, 500}) {
    SCOPED_TRACE(status);
    NginxServer::Options options;
    options.ServerDirectives = "location = / { return " + std::to_string(status) + "; }";
    NginxServer site(options);
    site.WriteFile("robots.txt", "User-agent: *\nDisallow: /aboutus\n");
    site.WriteFile("contact.html", "<p>sales@home.cn</p>\n");
    site.WriteFile("lianxi", "<p>13912345678 support@home.cn</p>\n");
    site.WriteFile("aboutus", "<p>hidden@home.cn</p>\n");
    EngineFixture f;
    f.form->CheckBox3.SetChecked(true);
    Harvest(f, site.Url() + "\r\n");

    EXPECT_EQ(RowSet(f.form->StringGrid1),
              (std::set<std::string>{"sales@home.cn", "support@home.cn"}));
    EXPECT_EQ(RowSet(f.form->StringGrid2), std::set<std::string>{"13912345678"});
    const std::multiset<std::string> requests = RequestedPaths(site.AccessLog());
    EXPECT_EQ(requests.count("/sitemap.xml"), 1u);
    EXPECT_EQ(requests.count("/aboutus"), 0u);  // robots.txt forbids it
    for (const std::string& path : requests) EXPECT_EQ(requests.count(path), 1u) << path;

    // The listed page failed; the paths the site lacks are no failures, but say so.
    const auto records = RecordsByPath(f);
    EXPECT_EQ(records.at("/").FailureReason, "HTTP status " + std::to_string(status));
    EXPECT_EQ(records.at("/contact.html").FailureReason, "");
    EXPECT_EQ(records.at("/contact.html").Depth, 1);
    EXPECT_TRUE(records.at("/contact").Skipped);
    EXPECT_EQ(records.at("/contact").FailureReason,
              "no such contact path on the site: HTTP status 404");
    EXPECT_EQ(f.form->AddressStatuses.FailedCount(), 1);
  }
}

TEST(SiteReach, ASiteKnownOnlyByItsSitemapsIndexAndGzip) {
  NginxServer::Options options;
  options.ServerDirectives = "location = / { return 500; }";
  NginxServer site(options);
  site.WriteFile("robots.txt",
                 "User-agent: *\nDisallow: /private/\nSitemap: " + site.Url("maps/index.xml") +
                     "\nSitemap: http://other.example/x.xml\n");
  site.WriteFile("maps/index.xml", "<?xml version=\"1.0\"?><sitemapindex><sitemap><loc>" +
                                       site.Url("maps/pages.xml.gz") +
                                       "</loc></sitemap></sitemapindex>");
  site.WriteFile(
      "maps/pages.xml.gz",
      test::Gzip("<urlset><url><loc>" + site.Url("deep/news.html") + "</loc></url><url><loc>" +
                 site.Url("deep/people-contact.html") + "</loc></url><url><loc>" +
                 site.Url("private/p.html") + "</loc></url></urlset>"));
  site.WriteFile("deep/people-contact.html", "<p>deep@map.cn</p>\n");
  site.WriteFile("deep/news.html", "<p>news@map.cn</p>\n");
  site.WriteFile("private/p.html", "<p>private@map.cn</p>\n");
  EngineFixture f;
  Harvest(f, site.Url() + "\r\n");

  EXPECT_EQ(RowSet(f.form->StringGrid1), (std::set<std::string>{"deep@map.cn", "news@map.cn"}));
  const std::multiset<std::string> requests = RequestedPaths(site.AccessLog());
  EXPECT_EQ(requests.count("/maps/index.xml"), 1u);
  EXPECT_EQ(requests.count("/maps/pages.xml.gz"), 1u);
  EXPECT_EQ(requests.count("/sitemap.xml"), 0u);  // robots.txt named the sitemaps
  EXPECT_EQ(requests.count("/private/p.html"), 0u);
}

TEST(SiteReach, ASitemapFeedsTheRankingWhenTheListedPageHasFewLinks) {
  NginxServer site;
  site.WriteFile("index.html", "<a href=/news.html>news</a> welcome\n");
  site.WriteFile("news.html", "<p>news@few.cn</p>\n");
  site.WriteFile("sitemap.xml",
                 "<urlset><url><loc>" + site.Url("a.html") + "</loc></url><url><loc>" +
                     site.Url("company/contact-info.html") + "</loc></url></urlset>");
  site.WriteFile("a.html", "<p>a@few.cn</p>\n");
  site.WriteFile("company/contact-info.html", "<p>office@few.cn</p>\n");
  EngineFixture f;
  f.form->SpinEditPageLimit.SetValue(1);
  Harvest(f, site.Url() + "\r\n");
  // The one page the limit allows is the contact page the sitemap named.
  EXPECT_EQ(RowSet(f.form->StringGrid1), std::set<std::string>{"office@few.cn"});
  // Nothing is guessed for a page that answered with links.
  EXPECT_EQ(RequestedPaths(site.AccessLog()).count("/contact"), 0u);

  // Listed pages alone (depth 0) never look further.
  EngineFixture listedOnly;
  Harvest(listedOnly, site.Url() + "\r\n", 0);
  EXPECT_EQ(RequestedPaths(site.AccessLog()).count("/sitemap.xml"), 1u);
}

TEST(SiteReach, EveryRequestNamesTheProgramAndRobotsTxtGroupsMatchItsProductToken) {
  NginxServer site;
  site.WriteFile("robots.txt",
                 "User-agent: finder\nDisallow: /finder-only/\n\nUser-agent: *\nDisallow: /all/\n");
  site.WriteFile(
      "index.html",
      "<a href=/finder-only/a.html>a</a> <a href=/all/b.html>b</a> <a href=/c.html>c</a>\n");
  site.WriteFile("finder-only/a.html", "a@ua.cn\n");
  site.WriteFile("all/b.html", "b@ua.cn\n");
  site.WriteFile("c.html", "c@ua.cn\n");
  const struct {
    std::string userAgent;
    std::set<std::string> rows;
  } rows[] = {
      {"", {"a@ua.cn", "c@ua.cn"}},
      {"Finder/3.1 (+http://f.example)", {"b@ua.cn", "c@ua.cn"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.userAgent);
    const size_t logBefore = site.AccessLog().size();
    EngineFixture f;
    f.form->EditUserAgent.SetText(row.userAgent);
    Harvest(f, site.Url() + "\r\n");
    EXPECT_EQ(RowSet(f.form->StringGrid1), row.rows);
    const auto agents = AgentsByPath(site.AccessLog().substr(logBefore));
    EXPECT_EQ(agents.count("/robots.txt"), 1u);
    EXPECT_EQ(agents.size(), 4u);  // the listed page, robots.txt and two pages
    for (const auto& [path, agent] : agents) {
      EXPECT_EQ(agent, UserAgentHeaderValue(row.userAgent)) << path;
    }
  }
}

TEST(SiteReach, ASlowServerIsWaitedForWithinTheReplyTimeout) {
  // Every answer comes 2.5 s late.
  ScriptedServer slow([](ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    c.StaySilent(2500ms);
    c.Send(
        "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nConnection: close\r\n\r\nmail late@slow.cn\r\n");
  });
  for (const int timeout : {5, 1}) {
    SCOPED_TRACE(timeout);
    EngineFixture f;
    f.form->SpinEditTimeout.SetValue(timeout);
    Harvest(f, slow.Url("page") + "\r\n", 0);
    const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
    ASSERT_EQ(records.size(), 1u);
    if (timeout == 5) {
      EXPECT_EQ(RowSet(f.form->StringGrid1), std::set<std::string>{"late@slow.cn"});
      EXPECT_EQ(records[0].FailureReason, "");
    } else {
      EXPECT_EQ(records[0].FailureReason, "Connection timed out");
      EXPECT_LT(records[0].Milliseconds, 2000);  // one wait of a second
    }
  }
}

const char kScriptedPage[] =
    "<html><body><div id=app></div><script>"
    "var d = 'shop' + String.fromCharCode(46) + 'cn';"
    "document.getElementById('app').textContent = 'sales' + String.fromCharCode(64) + d;"
    "</script></body></html>";

TEST(SiteReach, ScriptWrittenContactsAreRenderedOncePerSite) {
  if (FindHeadlessBrowser().empty()) GTEST_SKIP() << "chromium-headless-shell is not installed";
  NginxServer site;
  site.WriteFile("a.html", kScriptedPage);
  site.WriteFile("b.html", std::string(kScriptedPage) + "<!-- b -->");
  site.WriteFile("plain.html", "<p>plain text page without contacts, and no script at all: " +
                                   std::string(300, 'x') + "</p>\n");
  site.WriteFile("static.html", "<p>static@shop.cn</p><script>var m = 'a' + '@';</script>\n");
  std::atomic<int> renders{0};
  EngineFixture f({}, "qmharvest", [&renders](const std::string& url, const TRenderOptions& o) {
    ++renders;
    return RenderPage(url, o);
  });
  f.form->CheckBoxRender.SetChecked(true);
  Harvest(f,
          site.Url("a.html") + "\r\n" + site.Url("b.html") + "\r\n" + site.Url("plain.html") +
              "\r\n" + site.Url("static.html") + "\r\n",
          0);
  EXPECT_EQ(RowSet(f.form->StringGrid1),
            (std::set<std::string>{"sales@shop.cn", "static@shop.cn"}));
  // One render for the site, whichever of its two scripted pages came first.
  EXPECT_EQ(renders.load(), 1);
  for (const TAddressStatus& record : f.form->AddressStatuses.Snapshot()) {
    EXPECT_EQ(record.FailureReason, "") << record.Url;
  }
}

TEST(SiteReach, AFailedRenderKeepsTheStaticPageAndSaysWhy) {
  NginxServer site;
  site.WriteFile("a.html", std::string(kScriptedPage) + "<p>13912345678</p>");
  EngineFixture f({}, "qmharvest", RenderWithoutBrowser);
  f.form->CheckBoxRender.SetChecked(true);
  f.form->CheckBox3.SetChecked(true);
  f.form->CheckBox2.SetChecked(false);
  Harvest(f, site.Url("a.html") + "\r\n", 0);
  // The static page has a mobile number: nothing to render.
  EXPECT_EQ(RowSet(f.form->StringGrid2), std::set<std::string>{"13912345678"});
  EXPECT_EQ(f.form->AddressStatuses.Snapshot().at(0).FailureReason, "");

  EngineFixture g({}, "qmharvest", RenderWithoutBrowser);
  g.form->CheckBoxRender.SetChecked(true);
  Harvest(g, site.Url("a.html") + "\r\n", 0);
  const TAddressStatus record = g.form->AddressStatuses.Snapshot().at(0);
  EXPECT_EQ(record.StatusCode, 200);
  EXPECT_EQ(record.FailureReason,
            "not rendered, the static page kept: no headless browser installed "
            "(chromium-headless-shell)");
  EXPECT_EQ(g.form->StringGrid1.EntryCount(), 0);
}

TEST(SiteReach, EveryPageWithAStaticContactIsLeftUnrenderedThoughItsContactRepeats) {
  NginxServer site;
  site.WriteFile("a.html", std::string(kScriptedPage) + "<p>13912345678</p>");
  site.WriteFile("b.html", std::string(kScriptedPage) + "<p>13912345678</p>");
  EngineFixture f({}, "qmharvest", RenderWithoutBrowser);
  f.form->CheckBoxRender.SetChecked(true);
  f.form->CheckBox3.SetChecked(true);
  f.form->CheckBox2.SetChecked(false);
  // One lane: the pages are judged one after the other on one thread, each of a site whose
  // render is still free.
  f.form->SpinEdit1.SetValue(1);
  f.form->SpinEditInFlight.SetValue(1);
  f.form->SpinEditDepth.SetValue(0);
  std::string other = site.Url("b.html");
  other.replace(other.find("127.0.0.1"), 9, "localhost");
  f.UseList(site.Url("a.html") + "\r\n" + other + "\r\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
  ASSERT_EQ(records.size(), 2u);
  for (const TAddressStatus& record : records) {
    EXPECT_EQ(record.StatusCode, 200) << record.Url;
    EXPECT_EQ(record.FailureReason, "") << record.Url;
  }
}

}  // namespace
}  // namespace qm
