// WeChat IDs and telephone numbers in a search: their lists fill only while their boxes are
// ticked, each page's record counts them, the status bar shows them, the store keeps them
// and a continued run puts them back; the three lists stay as they were.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "store/result_store.h"
#include "text/cp936.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::WaitUntil;

// Page n gives a mail address, a mobile after a WeChat label, a WeChat ID and a landline of
// its own; odd pages are in code page 936.
EngineFixture::FetchFunction CompanyPages(std::shared_ptr<test::FetchGate> gate = nullptr) {
  return [gate](const std::string& url, TPageLines& lines) {
    const std::string n = url.substr(url.rfind('/') + 1);
    if (gate && n == "4") gate->Pass();
    std::vector<std::string> page = {
        "<p>邮箱：m" + n + "@x.cn</p>",
        "<p>手机/微信：1381234000" + n + "</p>",
        "<p>微信号：Kefu_" + n + "x</p><p>电话：0755-2345600" + n + "</p>",
        "<p>京ICP备0501234" + n + "号 2024-06-1" + n + "</p>"};
    if (std::stoi(n) % 2 == 1) {
      for (std::string& line : page) line = Utf8ToCp936(line);
    }
    lines = TPageLines(page);
    return true;
  };
}

std::string NumberedList(int lines) {
  std::string list;
  for (int n = 1; n <= lines; ++n) list += "http://x.cn/" + std::to_string(n) + "\r\n";
  return list;
}

TEST(LabelledKindsRun, ListsFillOnlyWhileTheirBoxesAreTicked) {
  const struct {
    bool WeChat, Phone;
  } settings[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& setting : settings) {
    SCOPED_TRACE(testing::Message() << setting.WeChat << setting.Phone);
    EngineFixture f(CompanyPages());
    f.form->SpinEdit1.SetValue(2);
    f.form->CheckBox3.SetChecked(true);
    f.form->CheckBoxWeChat.SetChecked(setting.WeChat);
    f.form->CheckBoxPhone.SetChecked(setting.Phone);
    f.UseList(NumberedList(6));
    f.form->SpeedButton2Click();
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    ASSERT_TRUE(f.WaitForWorkersGone());

    std::set<std::string> wechat, phones;
    for (int n = 1; n <= 6; ++n) {
      const std::string k = std::to_string(n);
      wechat.insert("1381234000" + k);
      wechat.insert("kefu_" + k + "x");
      phones.insert("0755-2345600" + k);
    }
    EXPECT_EQ(test::RowSet(f.form->StringGrid4), setting.WeChat ? wechat : std::set<std::string>{});
    EXPECT_EQ(test::RowSet(f.form->StringGrid5), setting.Phone ? phones : std::set<std::string>{});
    // The three lists are the same whichever of the two kinds is collected.
    EXPECT_EQ(test::RowSet(f.form->StringGrid1).size(), 6u);
    EXPECT_EQ(test::RowSet(f.form->StringGrid2).size(), 6u);
    EXPECT_EQ(f.form->StatusBar1.Panel(9), setting.WeChat ? "12" : "0");
    EXPECT_EQ(f.form->StatusBar1.Panel(11), setting.Phone ? "6" : "0");
    EXPECT_EQ(f.form->StatusBar1.Panel(3), "6");
    const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
    ASSERT_EQ(records.size(), 6u);
    for (const TAddressStatus& record : records) {
      EXPECT_EQ(record.RowsAdded, (TKindCounts{1, 1, 0, setting.WeChat ? 2 : 0,
                                               setting.Phone ? 1 : 0}))
          << record.Url;
    }
    // Every row keeps the page it was found on.
    for (const TResultEntry& entry : f.form->StringGrid5.Entries()) {
      EXPECT_EQ(entry.Source, "http://x.cn/" + entry.Value.substr(entry.Value.size() - 1));
    }
  }
}

TEST(LabelledKindsRun, TheStoreKeepsBothKindsAndAContinuedRunPutsThemBack) {
  auto gate = std::make_shared<test::FetchGate>();
  EngineFixture f(CompanyPages(gate));
  f.form->CheckBoxWeChat.SetChecked(true);
  f.form->CheckBoxPhone.SetChecked(true);
  f.UseList(NumberedList(6));
  f.form->SpeedButton7Click();
  const test::OpenOnExit opener{gate};
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 1; }));
  f.form->SpeedButton3Click();
  gate->Open();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  const size_t wechatBefore = test::RowSet(f.form->StringGrid4).size();
  ASSERT_GE(wechatBefore, 6u);

  std::set<std::string> stored;
  OpenSqliteStore(f.form->StorePath())->ForEachRow(std::nullopt, 1u << 3 | 1u << 4,
                                                   [&stored](const TStoredRow& row) {
                                                     stored.insert(std::to_string(row.Kind) +
                                                                   " " + row.Value);
                                                   });
  std::set<std::string> shown;
  for (const std::string& row : test::RowSet(f.form->StringGrid4)) shown.insert("3 " + row);
  for (const std::string& row : test::RowSet(f.form->StringGrid5)) shown.insert("4 " + row);
  EXPECT_EQ(stored, shown);
  int32_t storedPhones = 0;
  const int64_t run = OpenSqliteStore(f.form->StorePath())->Runs().back().Id;
  OpenSqliteStore(f.form->StorePath())->ForEachPage(run, [&](const TStoredPage& page) {
    EXPECT_EQ(page.RowsAdded[3], 2) << page.Url;
    storedPhones += page.RowsAdded[4];
  });
  EXPECT_EQ(static_cast<size_t>(storedPhones), test::RowSet(f.form->StringGrid5).size());

  // "继续" puts the rows back first, then finds the rest.
  f.dialogs.AnswerInput(std::to_string(f.form->SearchState.SavedPosition()));
  f.form->SpeedButton4Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.form->RestoredRows[kWeChatList], wechatBefore);
  EXPECT_EQ(test::RowSet(f.form->StringGrid4).size(), 12u);
  EXPECT_EQ(test::RowSet(f.form->StringGrid5).size(), 6u);
  EXPECT_EQ(f.form->StatusBar1.Panel(11), "6");
}

}  // namespace
}  // namespace qm
