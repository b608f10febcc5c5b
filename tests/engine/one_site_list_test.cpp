// A list of many pages of one site: the site is searched once for all its lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "support/nginx_fixture.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::NginxServer;
using test::WaitUntil;

TEST(OneSiteList, SharedContactPageOnceAndOnePageLimitForAllLines) {
  // Forty numbered pages, each linking the shared contact page and a page of its own; the
  // contact page and page 3 are listed again further down.
  NginxServer nginx;
  const std::string site = nginx.Url();
  nginx.WriteFile("robots.txt", "User-agent: *\nDisallow: /private/\n");
  nginx.WriteFile("contact.html", "contact@site.cn\n");
  std::string list;
  for (int n = 1; n <= 40; ++n) {
    const std::string page = "page/" + std::to_string(n);
    nginx.WriteFile(page + ".html", "<a href=/contact.html>联系我们</a> <a href=/" + page +
                                        "/more.html>more</a> <a href=/private/x.html>x</a>\n"
                                        "p" + std::to_string(n) + "@site.cn\n");
    nginx.WriteFile(page + "/more.html", "more" + std::to_string(n) + "@site.cn\n");
    list += site + page + ".html\r\n";
    if (n == 20) list += site + "contact.html\r\n" + site + "page/3.html\r\n";
  }

  EngineFixture f;
  f.form->SpinEdit1.SetValue(2);
  f.form->SpinEditInFlight.SetValue(4);
  f.form->SpinEditDepth.SetValue(2);
  f.form->SpinEditPageLimit.SetValue(5);
  f.UseList(list);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  const std::multiset<std::string> requests = test::RequestedPaths(nginx.AccessLog());
  for (const std::string& path : requests) EXPECT_EQ(requests.count(path), 1u) << path;
  EXPECT_EQ(requests.count("/robots.txt"), 1u);
  EXPECT_EQ(requests.count("/private/x.html"), 0u);
  const size_t followed = std::count_if(requests.begin(), requests.end(), [](const auto& path) {
    return path.find("/more.html") != std::string::npos;
  });
  EXPECT_EQ(requests.size(), 40 + 1 + 1 + followed);  // listed, contact, robots.txt, more
  EXPECT_EQ(followed, 4u);  // the limit of five, the contact page first

  const std::set<std::string> rows = test::RowSet(f.form->StringGrid1);
  EXPECT_TRUE(rows.contains("contact@site.cn"));
  for (int n = 1; n <= 40; ++n) EXPECT_TRUE(rows.contains("p" + std::to_string(n) + "@site.cn"));

  // A record for every page: the two repeated lines say they were fetched already.
  const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
  EXPECT_EQ(records.size(), 42 + 1 + followed);
  int repeated = 0;
  for (const TAddressStatus& record : records) {
    if (record.Skipped) {
      ++repeated;
      EXPECT_EQ(record.FailureReason, "fetched already in this run");
      EXPECT_TRUE(record.LineNumber == 21 || record.LineNumber == 22) << record.LineNumber;
    }
    EXPECT_FALSE(record.Failed()) << record.Url << " " << record.FailureReason;
    if (record.Depth > 0) {
      EXPECT_NE(record.ListedUrl, record.Url);
    }
  }
  EXPECT_EQ(repeated, 2);
  EXPECT_EQ(f.form->AddressStatuses.FailedCount(), 0);
  EXPECT_NE(f.SettingsText().find("process=42"), std::string::npos) << f.SettingsText();
}

TEST(OneSiteList, StopInTheMiddleThenResumeLosesNoPage) {
  // Sixty lines of one site; the fetches of line 30 and on are held until the stop. Lines
  // before them that are searched are saved; the resume takes the rest and no contact is
  // lost.
  auto gate = std::make_shared<test::FetchGate>();
  const auto pageOf = [](const std::string& url) { return url.substr(url.find('/', 7)); };
  EngineFixture f([&](const std::string& url, TPageLines& lines) {
    const std::string path = pageOf(url);
    const bool listed = path.find_first_not_of("/0123456789") == std::string::npos;
    if (listed && path.size() > 1 && std::stoi(path.substr(1)) >= 30) gate->Pass();
    std::vector<std::string> html = {"<a href=/about>关于我们</a><a href=" + path + "/x>x</a>",
                                     "m" + path.substr(1) + "@x.cn"};
    if (path == "/robots.txt") html.clear();
    if (path.ends_with("/x")) html = {"x" + path.substr(1, path.size() - 3) + "@x.cn"};
    lines = TPageLines(html);
    return true;
  });
  std::string list;
  for (int n = 1; n <= 60; ++n) list += "http://x.cn/" + std::to_string(n) + "\r\n";
  f.form->SpinEdit1.SetValue(1);
  f.form->SpinEditInFlight.SetValue(3);
  f.form->SpinEditDepth.SetValue(1);
  f.form->SpinEditPageLimit.SetValue(1000);
  f.UseList(list);
  f.form->SpeedButton7Click();
  const test::OpenOnExit opener{gate};
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 3; }));
  f.form->SpeedButton3Click();
  gate->Open();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const std::string settings = f.SettingsText();
  const size_t at = settings.find("process=");
  ASSERT_NE(at, std::string::npos);
  const int saved = std::stoi(settings.substr(at + 8));
  // Lines 30 to 32 were in flight at the stop: their pages are done, but not the pages
  // found from them.
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 32);
  EXPECT_EQ(saved, 29);
  std::set<std::string> rows = test::RowSet(f.form->StringGrid1);

  f.ClearFetched();
  f.dialogs.AnswerInput(std::to_string(saved));
  f.form->SpeedButton4Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const std::vector<std::string> fetched = f.Fetched();
  for (int n = saved + 1; n <= 60; ++n) {
    EXPECT_TRUE(std::count(fetched.begin(), fetched.end(), "http://x.cn/" + std::to_string(n)))
        << n;
  }
  EXPECT_FALSE(std::count(fetched.begin(), fetched.end(), "http://x.cn/" + std::to_string(saved)));
  for (const std::string& row : test::RowSet(f.form->StringGrid1)) rows.insert(row);
  for (int n = 1; n <= 60; ++n) {
    EXPECT_TRUE(rows.contains("m" + std::to_string(n) + "@x.cn")) << n;
    EXPECT_TRUE(rows.contains("x" + std::to_string(n) + "@x.cn")) << n;
  }
  EXPECT_NE(f.SettingsText().find("process=60"), std::string::npos) << f.SettingsText();
}

}  // namespace
}  // namespace qm
