// Whole runs through the real page fetch: a small site on nginx and servers that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::NginxServer;
using test::ScriptedServer;

std::vector<std::string> Rows(const TResultList& list) {
  auto rows = list.Snapshot();
  if (list.EntryCount() == 0) return {};
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(RealSite, FourWorkersCollectTheKnownContacts) {
  NginxServer nginx;
  nginx.WriteFile("contact.html",
                  "<html><body>\r\n<p>Write to sales@example.com</p>\r\n"
                  "<p>phone 13900001111</p>\r\n</body></html>\r\n");
  nginx.WriteFile("team/qq.html",
                  "<ul>\n<li>QQ:123456789 or QQ:987654321</li>\n"
                  "<li>mail support@example.org</li>\n</ul>\n");
  nginx.WriteFile("intl.html", "call 018612345678 today\n");
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "<p>filler line " + std::to_string(i % 7) + " here</p>\n";
  big += "<p>last: ab@cd.ef</p>\n";
  nginx.WriteFile("big.html", big);

  ScriptedServer closing(ScriptedServer::CloseAtOnce());
  ScriptedServer broken(
      ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"
                             "xy@ab.cd cut short"));

  EngineFixture f;
  f.form->SpinEdit1.SetValue(4);
  f.form->CheckBox2.SetChecked(true);
  f.form->CheckBox3.SetChecked(true);
  f.form->CheckBox4.SetChecked(true);
  const std::vector<std::string> urls = {
      nginx.Url("contact.html"), nginx.Url("team/qq.html") + " a comment",
      nginx.Url("missing.html"), closing.Url("x.html"),
      nginx.Url("intl.html"),    broken.Url("y.html"),
      nginx.Url("big.html"),     "",
  };
  std::string list;
  for (const auto& url : urls) list += url + "\r\n";
  f.UseList(list);

  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), static_cast<int32_t>(urls.size()));
  EXPECT_EQ(f.form->Label4.Caption(), std::to_string(urls.size()));
  EXPECT_EQ(Rows(f.form->StringGrid1),
            (std::vector<std::string>{"ab@cd.ef", "sales@example.com", "support@example.org",
                                      "xy@ab.cd"}));
  EXPECT_EQ(Rows(f.form->StringGrid2), (std::vector<std::string>{"13900001111", "18612345678"}));
  EXPECT_EQ(Rows(f.form->StringGrid3),
            (std::vector<std::string>{"123456789@qq.com", "987654321@qq.com"}));
  EXPECT_EQ(f.form->StatusBar1.Panel(1), "4");
  EXPECT_EQ(f.form->StatusBar1.Panel(3), "2");
  EXPECT_EQ(f.form->StatusBar1.Panel(5), "2");
  EXPECT_EQ(f.form->Label6.Caption(), "搜索已经结束!");
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  EXPECT_TRUE(f.dialogs.Messages().empty());
}

}  // namespace
}  // namespace qm
