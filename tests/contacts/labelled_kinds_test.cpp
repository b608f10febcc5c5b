#include "contacts/labelled_kinds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "contacts/labelled_text.h"
#include "contacts/telephone_numbers.h"
#include "contacts/wechat_ids.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

struct LabelledCase {
  std::string Name;
  std::vector<std::string> Lines;
  std::vector<std::string> Rows;  // "kind value"
};

std::vector<LabelledCase> ReadLabelledCorpus() {
  std::ifstream in(std::string(QM_TEST_DATA_DIR) + "/labelled_corpus.txt");
  std::vector<LabelledCase> cases;
  std::vector<std::string>* section = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("== ")) {
      cases.push_back({line.substr(3), {}, {}});
      section = &cases.back().Lines;
    } else if (cases.empty() || line.starts_with("#")) {
      continue;
    } else if (line == "--") {
      section = &cases.back().Rows;
    } else if (!line.empty() && section != nullptr) {
      section->push_back(line);
    }
  }
  return cases;
}

struct Lists {
  ui::ChangeNotifier notifier;
  TResultList emails{notifier}, mobiles{notifier}, qq{notifier}, wechat{notifier},
      phones{notifier};

  Lists() {
    for (TResultList* list : {&emails, &mobiles, &qq, &wechat, &phones}) list->BeginRun(true);
  }
  TContactLists Targets() {
    TContactLists targets{&emails, &mobiles, &qq, {}, true};
    targets.WeChatIds = &wechat;
    targets.Telephones = &phones;
    return targets;
  }
  // The rows of the two kinds, telephones first.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (const TResultEntry& entry : phones.Entries()) rows.push_back("phone " + entry.Value);
    for (const TResultEntry& entry : wechat.Entries()) rows.push_back("wechat " + entry.Value);
    return rows;
  }
};

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  // The corpus lists telephones before WeChat IDs, each in the order found.
  std::stable_partition(rows.begin(), rows.end(),
                        [](const std::string& row) { return row.starts_with("phone "); });
  return rows;
}

std::vector<std::string> RowsOfLines(const std::vector<std::string>& lines) {
  Lists lists;
  for (const std::string& line : lines) ExtractContacts(line, lists.Targets());
  return lists.Rows();
}

// As a worker scans a page: only the lines the page pass selects.
std::vector<std::string> RowsOfPage(const std::vector<std::string>& lines) {
  Lists lists;
  TPageLines page(lines);
  TLabelledAnchors anchors;
  anchors.Find(page.Text());
  for (auto line = page.begin(); line != page.end(); ++line) {
    if (anchors.AnyIn(line.Begin(), line.End())) ExtractContacts(*line, lists.Targets());
  }
  return lists.Rows();
}

std::vector<std::string> InCp936(const std::vector<std::string>& lines) {
  std::vector<std::string> converted;
  for (const std::string& line : lines) converted.push_back(Utf8ToCp936(line));
  return converted;
}

TEST(LabelledCorpus, EachCaseGivesItsRowsInBothEncodings) {
  const std::vector<LabelledCase> cases = ReadLabelledCorpus();
  ASSERT_GE(cases.size(), 60u);
  for (const LabelledCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RowsOfLines(c.Lines), Sorted(c.Rows));
    EXPECT_EQ(RowsOfLines(InCp936(c.Lines)), Sorted(c.Rows));
  }
}

// The page pass must select every line the two scanners find anything on, wherever the
// anchors fall in its blocks.
TEST(LabelledCorpus, PagePassSelectsEveryLineWithAFinding) {
  std::vector<std::string> pieces;
  for (const LabelledCase& c : ReadLabelledCorpus()) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RowsOfPage(c.Lines), Sorted(c.Rows));
    EXPECT_EQ(RowsOfPage(InCp936(c.Lines)), Sorted(c.Rows));
    for (const std::string& line : c.Lines) pieces.push_back(line);
  }
  std::mt19937 random(27);
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> lines;
    for (int n = 0; n < 5; ++n) {
      std::string line(random() % 90, round % 3 == 0 ? '8' : ' ');
      line += pieces[random() % pieces.size()];
      lines.push_back(round % 2 ? Utf8ToCp936(line) : line);
    }
    SCOPED_TRACE(lines.front());
    EXPECT_EQ(RowsOfPage(lines), RowsOfLines(lines));
  }
}

TEST(LabelledKinds, MobileAfterAWeChatLabelIsARowOfBothKinds) {
  Lists lists;
  ExtractContacts("<p>微信/手机：138-1234-5678</p>", lists.Targets());
  EXPECT_EQ(lists.Rows(), std::vector<std::string>{"wechat 13812345678"});
  ASSERT_EQ(lists.mobiles.EntryCount(), 1);
  EXPECT_EQ(lists.mobiles.Entries()[0].Value, "13812345678");
}

TEST(LabelledKinds, KindsLeftOutGiveNoRowsAndTheThreeStayAsTheyWere) {
  const std::string line = "<p>电话：0755-12345678 微信：kefu_2024 QQ：123456 手机 13812345678</p>";
  Lists with, without;
  ExtractContacts(line, with.Targets());
  ExtractContacts(line, {&without.emails, &without.mobiles, &without.qq, {}, true});
  EXPECT_EQ(with.Rows(), (std::vector<std::string>{"phone 0755-12345678", "wechat kefu_2024"}));
  EXPECT_TRUE(without.Rows().empty());
  for (auto [a, b] : {std::pair{&with.mobiles, &without.mobiles}, {&with.qq, &without.qq}}) {
    EXPECT_EQ(a->Snapshot(), b->Snapshot());
  }
  EXPECT_EQ(with.mobiles.EntryCount(), 1);
  // The rows keep the page they came from.
  Lists sourced;
  TContactLists targets = sourced.Targets();
  targets.Source = "http://example.cn/contact.html";
  ExtractContacts(line, targets);
  EXPECT_EQ(sourced.phones.SourceOfRow(0), "http://example.cn/contact.html");
  EXPECT_EQ(sourced.wechat.SourceOfRow(0), "http://example.cn/contact.html");
}

TEST(LabelledKinds, CanonicalTelephoneOfEachShape) {
  struct Case {
    const char* Text;
    bool Labelled;
    const char* Row;
  };
  const Case cases[] = {
      {"0755-12345678", false, "0755-12345678"},
      {"(010)82345678", false, "010-82345678"},
      {"+86 (0)21 6234 5678", false, "021-62345678"},
      {"0755 - 2345 6789 ext. 12", false, "0755-23456789-12"},
      {"0755-23456789分机3", false, "0755-23456789-3"},
      {"075523456789", false, ""},
      {"075523456789", true, "0755-23456789"},
      {"4001234567", false, ""},
      {"400 1234 567", false, "400-123-4567"},
      {"0755-123456", true, ""},         // six digits
      {"0755-123456789", true, ""},      // nine digits
      {"010-2345678", true, ""},         // a two-digit area code takes eight
      {"0155-23456789", true, ""},       // no area code begins with 1 but 10
      {"0755-23456789.html", true, ""},  // a file name
      {"0755-23456789@x.cn", true, ""},  // an address
      {"0755-234567890", true, ""},      // a longer number
      {"(0755-23456789", true, ""},      // an unclosed bracket
      {"+8613812345678", true, ""},      // a mobile
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string text;
    labelled::LabelledTextOfLine(c.Text, text);
    EXPECT_EQ(CanonicalTelephone(text, c.Labelled), c.Row);
  }
}

// Hostile lines: long runs of labels, digits, gaps and brackets end in time and give what
// they hold.
TEST(LabelledKinds, HostileLinesEndAndGiveOnlyWhatTheyHold) {
  std::string labels, digits, gaps;
  for (int i = 0; i < 20000; ++i) labels += "微信：电话：(+86(0";
  for (int i = 0; i < 20000; ++i) digits += "0755-1 ";
  for (int i = 0; i < 20000; ++i) gaps += "0 - ( ) + 86 ";
  for (const std::string& line : {labels, digits, gaps, Utf8ToCp936(labels)}) {
    Lists lists;
    ExtractContacts(line, lists.Targets());
    EXPECT_TRUE(lists.Rows().empty());
  }
  Lists lists;
  ExtractContacts(labels + " 0755-23456789 微信：abcdefg", lists.Targets());
  EXPECT_EQ(lists.Rows(), (std::vector<std::string>{"phone 0755-23456789", "wechat abcdefg"}));
  // Every byte value, in both readings, never a crash.
  std::string bytes;
  for (int round = 0; round < 4; ++round) {
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  }
  std::mt19937 random(3);
  for (int i = 0; i < 200; ++i) {
    std::shuffle(bytes.begin(), bytes.end(), random);
    Lists any;
    ExtractContacts(bytes, any.Targets());
  }
}

}  // namespace
}  // namespace qm
