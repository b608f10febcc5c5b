// Every run's pages and rows kept in the result store beside the settings as they end: a
// stopped run goes on with what it found, and a store that cannot be used stops nothing
// silently.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "store/result_store.h"
#include "support/scratch_mount.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::WaitUntil;

std::set<std::string> StoredRows(const std::string& storePath, std::optional<int64_t> run) {
  std::set<std::string> rows;
  OpenSqliteStore(storePath)->ForEachRow(run, 7u, [&rows](const TStoredRow& row) {
    rows.insert(std::to_string(row.Kind) + " " + row.Value + " " + row.Source);
  });
  return rows;
}

EngineFixture::FetchFunction PagesWithContacts(std::shared_ptr<test::FetchGate> gate = nullptr) {
  return [gate](const std::string& url, TPageLines& lines) {
    const std::string n = url.substr(url.rfind('/') + 1);
    if (gate && n == "6") gate->Pass();
    lines = TPageLines(std::vector<std::string>{"mail m" + n + "@x.cn QQ:1000" + n});
    return true;
  };
}

std::string NumberedList(int lines) {
  std::string list;
  for (int n = 1; n <= lines; ++n) list += "http://x.cn/" + std::to_string(n) + "\r\n";
  return list;
}

TEST(StoredRun, EveryRowAndPageOfARunIsStoredAsTheListsHoldThem) {
  EngineFixture f(PagesWithContacts());
  f.form->SpinEdit1.SetValue(2);
  f.form->CheckBox4.SetChecked(true);
  f.UseList(NumberedList(20));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  std::set<std::string> shown;
  for (const TResultEntry& row : f.form->StringGrid1.Entries()) shown.insert("0 " + row.Value + " " + row.Source);
  for (const TResultEntry& row : f.form->StringGrid3.Entries()) shown.insert("2 " + row.Value + " " + row.Source);
  EXPECT_EQ(shown.size(), 40u);
  EXPECT_EQ(StoredRows(f.form->StorePath(), std::nullopt), shown);
  const std::vector<TStoredRun> runs = OpenSqliteStore(f.form->StorePath())->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].Finished);
  EXPECT_EQ(runs[0].Pages, 20);
  EXPECT_EQ(runs[0].Rows, 40);
  EXPECT_EQ(runs[0].SavedPosition, 20);
}

TEST(StoredRun, AStoppedRunGoesOnWithItsRowsRestoredAndNewOnlyLeavesOutEarlierOnes) {
  auto gate = std::make_shared<test::FetchGate>();
  EngineFixture f(PagesWithContacts(gate));
  f.UseList(NumberedList(10));
  f.form->SpeedButton7Click();  // the resume reads the list and settings from the record
  const test::OpenOnExit opener{gate};
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 1; }));
  f.form->SpeedButton3Click();
  gate->Open();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_NE(f.SettingsText().find("process=6"), std::string::npos) << f.SettingsText();
  EXPECT_EQ(test::RowSet(f.form->StringGrid1).size(), 6u);

  // "继续" puts the six rows back and adds the other four; the store holds one run.
  f.dialogs.AnswerInput("6");
  f.form->SpeedButton4Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(test::RowSet(f.form->StringGrid1).size(), 10u);
  EXPECT_EQ(f.form->AddressStatuses.Count(), 10u);
  auto runs = OpenSqliteStore(f.form->StorePath())->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].Finished);
  EXPECT_EQ(runs[0].Rows, 10);

  // A new search of the same list, new results only: nothing is new.
  f.form->CheckBoxNewOnly.SetChecked(true);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(3));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_TRUE(test::RowSet(f.form->StringGrid1).empty());
  EXPECT_EQ(OpenSqliteStore(f.form->StorePath())->Runs().size(), 2u);
}

TEST(StoredRun, AStoreThatCannotBeUsedStartsNoSearch) {
  EngineFixture f(PagesWithContacts());
  f.UseList(NumberedList(3));
  f.dir.Write("qmharvest.db", "this is no database, only text that looks like nothing at all\n");
  EXPECT_THROW(f.form->SpeedButton2Click(), EStoreError);
  EXPECT_EQ(f.form->SearchState.CurrentRun(), nullptr);
  EXPECT_TRUE(f.Fetched().empty());
  EXPECT_TRUE(f.form->SpeedButton2.Enabled());
}

TEST(StoredRun, AFullDiskStopsTheRunSaysSoAndSavesNoPositionPastWhatIsStored) {
  EngineFixture f([](const std::string& url, TPageLines& lines) {
    std::vector<std::string> page;
    const std::string n = url.substr(url.rfind('/') + 1);
    for (int i = 0; i < 20; ++i) {
      page.push_back("mail a-rather-long-name-to-fill-the-disk-" + std::to_string(i) + "." + n +
                     "@x.cn");
    }
    lines = TPageLines(page);
    return true;
  });
  test::ScratchMount disk(f.dir.File("disk"), "size=256k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  f.form->SetStorePath(f.dir.File("disk/qmharvest.db"));
  f.UseList(NumberedList(3000));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  const std::optional<std::string> failure = f.form->TakeEndOfRunSaveFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find("full"), std::string::npos) << *failure;
  EXPECT_LT(f.form->SearchState.UrlCounter.load(), 3000);
  // What is stored is whole, and the position saved never passes it.
  const std::vector<TStoredRun> runs = OpenSqliteStore(f.form->StorePath())->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].Finished);
  EXPECT_EQ(runs[0].Rows, 20 * runs[0].Pages);
  const std::string settings = f.SettingsText();
  const size_t at = settings.find("process=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LE(std::stoll(settings.substr(at + 8)), runs[0].Pages);
}

}  // namespace
}  // namespace qm
