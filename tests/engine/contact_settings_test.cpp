// The search honours the extended-recognition and unique-results settings, and every row
// keeps the page it was found on.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"

namespace qm {
namespace {

using test::EngineFixture;

// Page i of n holds the values a, b, a (e-mail) and its own address.
EngineFixture::FetchFunction RepeatingPages() {
  return [](const std::string& url, TPageLines& lines) {
    lines = TPageLines({"<p>Aa@Firm.cn</p>", "<p>bb@firm.cn</p>", "<p>aa@firm.cn</p>",
                        "<p>own-" + url.substr(url.rfind('/') + 1) + "@page.cn</p>"});
    return true;
  };
}

std::string ListOf(int pages) {
  std::string list;
  for (int i = 1; i <= pages; ++i) list += "http://h/" + std::to_string(i) + "\n";
  return list;
}

TEST(ContactSettings, ExtendedAndUniqueDecideTheRows) {
  const struct {
    bool Extended, Unique;
    std::vector<std::string> Rows;
  } rows[] = {
      {true, true, {"aa@firm.cn", "bb@firm.cn", "own-1@page.cn"}},
      {true, false, {"aa@firm.cn", "bb@firm.cn", "aa@firm.cn", "own-1@page.cn"}},
      // The plain scanners cut "Aa@Firm.cn" at the capitals and find nothing in it.
      {false, true, {"bb@firm.cn", "aa@firm.cn", "own-1@page.cn"}},
      {false, false, {"bb@firm.cn", "aa@firm.cn", "own-1@page.cn"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.Extended << row.Unique);
    EngineFixture f(RepeatingPages());
    f.form->CheckBoxExtended.SetChecked(row.Extended);
    f.form->CheckBoxUnique.SetChecked(row.Unique);
    f.UseList(ListOf(1));
    f.form->SpeedButton2Click();
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    EXPECT_EQ(f.form->StringGrid1.Snapshot(), row.Rows);
  }
}

// Four workers find the same values on every page: with unique results each value is
// appended once, credited to the page it was first found on, and the shared values by
// whichever worker came first.
TEST(ContactSettings, UniqueAcrossWorkersAndSourcesOfFirstFinds) {
  EngineFixture f(RepeatingPages());
  f.form->SpinEdit1.SetValue(4);
  f.form->SpinEditInFlight.SetValue(2);
  constexpr int kPages = 60;
  f.UseList(ListOf(kPages));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));

  const std::vector<TResultEntry> entries = f.form->StringGrid1.Entries();
  std::multiset<std::string> values;
  std::map<std::string, std::string> sources;
  for (const TResultEntry& entry : entries) {
    values.insert(entry.Value);
    sources[entry.Value] = entry.Source;
    EXPECT_GT(entry.FoundAtMs, 0);
  }
  ASSERT_EQ(entries.size(), static_cast<size_t>(kPages + 2));
  EXPECT_EQ(values.count("aa@firm.cn"), 1u);
  EXPECT_EQ(values.count("bb@firm.cn"), 1u);
  for (int i = 1; i <= kPages; ++i) {
    const std::string own = "own-" + std::to_string(i) + "@page.cn";
    EXPECT_EQ(sources[own], "http://h/" + std::to_string(i));
  }
  EXPECT_EQ(sources["aa@firm.cn"].rfind("http://h/", 0), 0u);
}

}  // namespace
}  // namespace qm
