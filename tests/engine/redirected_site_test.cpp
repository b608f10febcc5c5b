// A harvest of home pages that all redirect, some compressed, some in GBK: the contacts
// come from the pages the redirects lead to, unless following them is off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "support/nginx_fixture.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::NginxServer;

std::vector<std::string> Rows(const TResultList& list) {
  if (list.EntryCount() == 0) return {};
  auto rows = list.Snapshot();
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(RedirectedSite, ContactsOfTheTargetPages) {
  NginxServer::Options options;
  options.ServerDirectives =
      "gzip on; gzip_min_length 1; gzip_types text/plain;\n"
      "    location = /one { return 301 /cn/; }\n"
      "    location = /two { absolute_redirect off; return 302 /zh/index.html; }\n"
      "    location = /three { return 303 /one; }\n"
      "    location = /gbk { return 307 /gbk.html; }\n"
      "    location = /gbk.html { charset gbk; }";
  NginxServer nginx(options);
  nginx.WriteFile("cn/index.html", "<p>mail one@example.cn</p>\n");
  nginx.WriteFile("zh/index.html", "<p>手机13900001111</p>\n");
  // "联系" in GBK right before the address: read by the declared charset.
  nginx.WriteFile("gbk.html",
                  "\xC1\xAA\xCF\xB5"
                  "gbk@example.cn\n");

  for (const bool follow : {true, false}) {
    SCOPED_TRACE(follow ? "followed" : "not followed");
    EngineFixture f;
    f.form->SpinEdit1.SetValue(2);
    f.form->CheckBox2.SetChecked(true);
    f.form->CheckBox3.SetChecked(true);
    f.form->CheckBoxRedirects.SetChecked(follow);
    f.UseList(nginx.Url("one") + "\r\n" + nginx.Url("two") + "\r\n" + nginx.Url("three") + "\r\n" +
              nginx.Url("gbk") + "\r\n");
    f.form->SpeedButton2Click();
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    ASSERT_TRUE(f.WaitForWorkersGone());
    if (follow) {
      EXPECT_EQ(Rows(f.form->StringGrid1),
                (std::vector<std::string>{"gbk@example.cn", "one@example.cn"}));
      EXPECT_EQ(Rows(f.form->StringGrid2), std::vector<std::string>{"13900001111"});
      // A row's source is the page it was found on, where the redirects ended.
      EXPECT_EQ(f.form->StringGrid2.Entries().at(0).Source, nginx.Url("zh/index.html"));
    } else {
      EXPECT_TRUE(Rows(f.form->StringGrid1).empty());
      EXPECT_TRUE(Rows(f.form->StringGrid2).empty());
    }
  }
}

}  // namespace
}  // namespace qm
