// Following the links of listed pages on their sites: what is fetched, how much at once,
// and the position a stopped search saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "support/nginx_fixture.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::NginxServer;
using test::WaitUntil;

TPageLines LinesOf(const std::string& html) {
  std::vector<std::string> lines;
  std::istringstream in(html);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return TPageLines(lines);
}

void RunToCompletion(EngineFixture& f) {
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
}

TEST(SiteSearch, FollowsSiteLinksToTheDepthAsRobotsAllow) {
  NginxServer nginx;
  const std::string site = nginx.Url();
  nginx.WriteFile("robots.txt", "User-agent: *\nDisallow: /private/\n");
  nginx.WriteFile(
      "index.html",
      "<html><head><base href=\"/zh/\"></head><body>\n"
      "<a href=\"lianxi.html\">联系我们</a>\n"
      "<a href=" +
          site +
          "en/contact.html>Contact</a>\n"
          "<a href='/about/'>About &amp; team</a> <a href=\"/private/staff.html\">内部</a>\n"
          "<a href=\"http://off.invalid/contact.html\">友情链接</a>\n"
          "<a href=\"/logo.png\">logo</a> <a href=\"/#top\">首页</a>\n"
          "总机 home@site.cn</body></html>\n");
  nginx.WriteFile("zh/lianxi.html",
                  "邮箱 zh@site.cn <a href=\"/\">首页</a> <a href=\"deeper.html\">更多</a>\n");
  nginx.WriteFile("en/contact.html", "mail en@site.cn <a href=\"/zh/lianxi.html\">中文</a>\n");
  nginx.WriteFile("about/index.html", "about@site.cn\n");
  nginx.WriteFile("private/staff.html", "private@site.cn\n");
  nginx.WriteFile("zh/deeper.html", "deep@site.cn\n");

  struct Case {
    int Depth;
    bool Robots;
    std::set<std::string> Rows;
  };
  const Case cases[] = {
      {0, true, {"home@site.cn"}},
      {1, true, {"home@site.cn", "zh@site.cn", "en@site.cn", "about@site.cn"}},
      {1, false, {"home@site.cn", "zh@site.cn", "en@site.cn", "about@site.cn", "private@site.cn"}},
      {2, true, {"home@site.cn", "zh@site.cn", "en@site.cn", "about@site.cn", "deep@site.cn"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.Depth) + (c.Robots ? " robots" : ""));
    const size_t logBefore = nginx.AccessLog().size();
    EngineFixture f;
    f.form->SpinEdit1.SetValue(2);
    f.form->SpinEditInFlight.SetValue(4);
    f.form->SpinEditDepth.SetValue(c.Depth);
    f.form->CheckBoxRobots.SetChecked(c.Robots);
    f.UseList(site + "\r\n");
    RunToCompletion(f);
    EXPECT_EQ(test::RowSet(f.form->StringGrid1), c.Rows);

    // One record a page, each with its depth and the listed page; no page asked for twice.
    const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
    EXPECT_EQ(records.size(), c.Rows.size());
    const std::multiset<std::string> requests =
        test::RequestedPaths(nginx.AccessLog().substr(logBefore));
    for (const std::string& path : requests) EXPECT_EQ(requests.count(path), 1u) << path;
    EXPECT_EQ(requests.count("/robots.txt"), c.Depth > 0 && c.Robots ? 1u : 0u);
    for (const TAddressStatus& record : records) {
      EXPECT_EQ(record.ListedUrl, site);
      EXPECT_EQ(record.LineNumber, 1);
      EXPECT_EQ(record.Depth, record.Url == site                               ? 0
                              : record.Url.find("deeper") != std::string::npos ? 2
                                                                               : 1)
          << record.Url;
      EXPECT_FALSE(record.Failed()) << record.Url;
    }
  }
}

TEST(SiteSearch, PageLimitAndTwoPagesOfASiteInFlightContactPagesFirst) {
  // Two lines of one site (with and without "www."), both linking the same 30 pages, the
  // contact page last, fetched slowly enough that every lane would take a page if it could.
  std::mutex mutex;
  int inFlight = 0;
  int mostInFlight = 0;
  std::string home;
  for (int i = 1; i <= 30; ++i) {
    home += "<a href=\"/p" + std::to_string(i) + "\">" + (i == 30 ? "联系我们" : "新闻") + "</a>\n";
  }
  EngineFixture f([&](const std::string& url, TPageLines& lines) {
    const std::string path = url.substr(url.find('/', 7) + 1);
    const bool followed = path.starts_with("p");
    if (followed) {
      std::lock_guard lock(mutex);
      mostInFlight = std::max(mostInFlight, ++inFlight);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the server's latency
    lines = LinesOf(path.empty() ? home : "mail " + path + "@x.cn\n");
    std::lock_guard lock(mutex);
    if (followed) --inFlight;
    return true;
  });
  f.form->SpinEdit1.SetValue(4);
  f.form->SpinEditInFlight.SetValue(8);
  f.form->SpinEditDepth.SetValue(1);
  f.form->SpinEditPageLimit.SetValue(5);
  f.UseList("http://x.cn/\r\nhttp://www.x.cn/\r\n");
  RunToCompletion(f);
  EXPECT_LE(mostInFlight, 2);
  EXPECT_TRUE(test::RowSet(f.form->StringGrid1).count("p30@x.cn"));
  // One limit for the site over both lines.
  const std::vector<std::string> fetched = f.Fetched();
  EXPECT_EQ(
      std::count_if(fetched.begin(), fetched.end(),
                    [](const std::string& url) { return url.find("/p") != std::string::npos; }),
      5);
}

TEST(SiteSearch, APageFetchedForAnotherLineLeavesNoLineOpen) {
  // Two lines of one site, one worker with two pages in flight. /s is queued for both
  // lines; the line "a" takes it after "b" has no page left in flight, so "b" must be found
  // searched without a page of its own finishing. The server's delays set that order.
  const std::map<std::string, std::pair<int, std::string>> site = {
      {"/a", {0, "<a href=/c1>联系</a><a href=/c2>关于</a><a href=/s>x</a>\n"}},
      {"/b", {20, "<a href=/s>x</a>\n"}},
      {"/c1", {50, "c1@x.cn\n"}},
      {"/c2", {50, "c2@x.cn\n"}},
      {"/s", {0, "s@x.cn\n"}},
      {"/robots.txt", {0, ""}},
      // Read as the two lines' pages have few links; it lists nothing.
      {"/sitemap.xml", {0, ""}},
  };
  EngineFixture f([&site](const std::string& url, TPageLines& lines) {
    const auto& [delay, html] = site.at(url.substr(url.find('/', 7)));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    lines = LinesOf(html);
    return true;
  });
  f.form->SpinEdit1.SetValue(1);
  f.form->SpinEditInFlight.SetValue(2);
  f.form->SpinEditDepth.SetValue(1);
  f.UseList("http://x.cn/a\r\nhttp://x.cn/b\r\n");
  RunToCompletion(f);
  EXPECT_EQ(test::RowSet(f.form->StringGrid1), (std::set<std::string>{"c1@x.cn", "c2@x.cn", "s@x.cn"}));
  // The site's robots.txt is read once for both lines.
  const std::vector<std::string> fetched = f.Fetched();
  EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "http://x.cn/robots.txt"), 1);
  EXPECT_NE(f.SettingsText().find("process=2"), std::string::npos) << f.SettingsText();
}

TEST(SiteSearch, StopSavesOnlySitesSearchedToTheEndAndResumeTakesTheCutOneAgain) {
  // Line 2's site holds its followed pages until the stop; lines 1 and 3 end at once.
  auto gate = std::make_shared<test::FetchGate>();
  const std::string cutHome =
      "<a href=\"/contact\">联系</a><a href=\"/about\">关于</a>"
      "<a href=\"/team\">team</a>\n";
  EngineFixture f([&](const std::string& url, TPageLines& lines) {
    // The sites of lines 1 and 3 give no robots.txt: their usual contact paths, tried as
    // their pages have no links, are forbidden.
    if (url == "http://one.cn/robots.txt" || url == "http://two.cn/robots.txt") return false;
    if (url == "http://cut.cn/contact" || url == "http://cut.cn/about" ||
        url == "http://cut.cn/team") {
      gate->Pass();
    }
    lines = LinesOf(url == "http://cut.cn/" ? cutHome : "mail me@x.cn\n");
    return true;
  });
  f.form->SpinEdit1.SetValue(1);
  f.form->SpinEditInFlight.SetValue(4);
  f.form->SpinEditDepth.SetValue(1);
  f.UseList("http://one.cn/\r\nhttp://cut.cn/\r\nhttp://two.cn/\r\n");
  f.form->SpeedButton7Click();  // the settings file holds the link-following settings
  const test::OpenOnExit opener{gate};
  f.form->SpeedButton2Click();
  ASSERT_TRUE(
      WaitUntil([&] { return gate->Waiting() == 2 && f.form->AddressStatuses.Count() == 3; }));
  f.form->SpeedButton3Click();
  gate->Open();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.form->Label5.Caption(), "3");
  EXPECT_NE(f.SettingsText().find("process=1"), std::string::npos) << f.SettingsText();

  // The resume proposes the saved position and starts again at the site cut short.
  f.ClearFetched();
  f.dialogs.AnswerInput("1");
  f.form->SpeedButton4Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const std::vector<std::string> fetched = f.Fetched();
  EXPECT_TRUE(std::count(fetched.begin(), fetched.end(), "http://cut.cn/"));
  EXPECT_FALSE(std::count(fetched.begin(), fetched.end(), "http://one.cn/"));
  EXPECT_NE(f.SettingsText().find("process=3"), std::string::npos) << f.SettingsText();

  // Position 0 says no site was searched to its end: the first line is taken again.
  f.ClearFetched();
  f.dialogs.AnswerInput("0");
  f.form->SpeedButton4Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(3));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const std::vector<std::string> again = f.Fetched();
  EXPECT_TRUE(std::count(again.begin(), again.end(), "http://one.cn/"));
}

}  // namespace
}  // namespace qm
