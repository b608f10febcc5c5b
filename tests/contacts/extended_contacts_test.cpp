#include "contacts/extended_contacts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "contacts/contact_text.h"
#include "contacts/page_anchors.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

struct CorpusCase {
  std::string Name;
  std::vector<std::string> Lines;
  std::vector<std::string> Extended;  // "kind value"
  std::vector<std::string> Plain;
};

std::vector<CorpusCase> ReadCorpus() {
  std::ifstream in(std::string(QM_TEST_DATA_DIR) + "/contact_corpus.txt");
  std::vector<CorpusCase> cases;
  std::vector<std::string>* section = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("== ")) {
      cases.push_back({line.substr(3), {}, {}, {}});
      section = &cases.back().Lines;
    } else if (cases.empty() || line.starts_with("#")) {
      continue;
    } else if (line == "-- extended") {
      section = &cases.back().Extended;
    } else if (line == "-- plain") {
      section = &cases.back().Plain;
    } else if (!line.empty() && section != nullptr) {
      section->push_back(line);
    }
  }
  return cases;
}

struct Lists {
  ui::ChangeNotifier notifier;
  TResultList emails{notifier}, mobiles{notifier}, qq{notifier};

  Lists() {
    for (TResultList* list : {&emails, &mobiles, &qq}) list->BeginRun(true);
  }
  TContactLists Targets(bool extended, std::string_view source = {}) {
    return {&emails, &mobiles, &qq, source, extended};
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    const std::pair<const char*, const TResultList*> kinds[] = {
        {"email", &emails}, {"mobile", &mobiles}, {"qq", &qq}};
    for (const auto& [kind, list] : kinds) {
      for (const TResultEntry& entry : list->Entries()) rows.push_back(kind + (" " + entry.Value));
    }
    return rows;
  }
};

// Rows of the lines, each line scanned whole.
std::vector<std::string> RowsOfLines(const std::vector<std::string>& lines, bool extended) {
  Lists lists;
  for (const std::string& line : lines) ExtractContacts(line, lists.Targets(extended));
  return lists.Rows();
}

// Rows of the lines as a worker scans a page: only the lines the page pass selects.
std::vector<std::string> RowsOfPage(const std::vector<std::string>& lines) {
  Lists lists;
  TPageLines page(lines);
  TPageAnchors anchors;
  anchors.FindExtended(page.Text());
  for (auto line = page.begin(); line != page.end(); ++line) {
    if (anchors.AnyIn(line.Begin(), line.End())) ExtractContacts(*line, lists.Targets(true));
  }
  return lists.Rows();
}

// Rows of the scanners proper on every line, with no anchor test before them.
std::vector<std::string> RowsWithoutAnchors(const std::vector<std::string>& lines) {
  Lists lists;
  std::string plain;
  for (const std::string& line : lines) {
    ContactTextOfLine(line, plain);
    ExtractEmailsExtended(plain, lists.emails, {});
    ExtractMobilesExtended(plain, lists.mobiles, {});
    ExtractQQNumbersExtended(plain, lists.qq, {});
  }
  return lists.Rows();
}

std::vector<std::string> InCp936(const std::vector<std::string>& lines) {
  std::vector<std::string> converted;
  for (const std::string& line : lines) converted.push_back(Utf8ToCp936(line));
  return converted;
}

TEST(ContactCorpus, EachCaseGivesItsRowsInBothSettings) {
  const std::vector<CorpusCase> cases = ReadCorpus();
  ASSERT_GE(cases.size(), 50u);
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RowsOfLines(c.Lines, true), c.Extended);
    // Pages in code page 936 give the same rows.
    EXPECT_EQ(RowsOfLines(InCp936(c.Lines), true), c.Extended);
    EXPECT_EQ(RowsOfLines(c.Lines, false), c.Plain);
  }
}

// The page pass must select every line the scanners find anything on.
TEST(ContactCorpus, PagePassSelectsEveryLineWithAFinding) {
  for (const CorpusCase& c : ReadCorpus()) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RowsOfPage(c.Lines), c.Extended);
    EXPECT_EQ(RowsOfPage(InCp936(c.Lines)), c.Extended);
  }
  // Fragments cut and joined at random places, so anchors fall at every offset of the
  // blocks and at the ends of lines.
  std::vector<std::string> pieces;
  for (const CorpusCase& c : ReadCorpus()) {
    for (const std::string& line : c.Lines) pieces.push_back(line);
  }
  std::mt19937 random(15);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> lines;
    for (int n = 0; n < 6; ++n) {
      std::string line(random() % 70, ' ');
      const std::string& piece = pieces[random() % pieces.size()];
      line += piece.substr(random() % (piece.size() / 2 + 1));
      lines.push_back(round % 2 ? Utf8ToCp936(line) : line);
    }
    SCOPED_TRACE(round);
    ASSERT_EQ(RowsOfPage(lines), RowsWithoutAnchors(lines));
  }
}

TEST(ContactText, FormsBecomePlainAscii) {
  const struct {
    std::string Line;
    std::string Plain;
  } rows[] = {
      {"a&#64;b&#x2E;c", "a@b.c"},
      {"a&commat;b&period;c &nbsp;", "a@b.c \x81"},
      {"x%40y%2ez", "x@y%2ez"},
      {"１２＠ａ．ｃ", "12@a.c"},
      {"a [at] b [DOT] c", "a@b.c"},
      {"a (at) b", "a@b"},
      {"[at the top]", "[at the top]"},
      {"QQ号码：1", "QQ\x82\x83:1"},
      {"1、2", "1,2"},
      {"\xA3\xB1\xA3\xC0\xBA\xC5", "1@\x82"},  // code page 936: １＠号
      {"&#99999999;&#;&", "&#99999999;&#;&"},
      // Long runs of plain ASCII, with forms and other characters past their first bytes.
      {"<a href=\"mailto:sales.department%40example.com\">",
       "<a href=\"mailto:sales.department@example.com\">"},
      {"0123456789abcdefghij&#64;0123456789abcdefghijklmnop＠x",
       "0123456789abcdefghij@0123456789abcdefghijklmnop@x"},
      {"<div class=\"footer\">版权所有 &copy; 2024</div>",
       "<div class=\"footer\">\x80\x80\x80\x80 &copy; 2024</div>"},
      {"x", "x"},
      // Spelled signs past the first sixteen bytes.
      {"0123456789abcdefghij [at] k", "0123456789abcdefghij@k"},
      {"0123456789abcdefg (at) 0123456789abcdefg", "0123456789abcdefg@0123456789abcdefg"},
      // UTF-8 up to a byte that is none: read as code page 936 from its first character.
      {"m&#64;b&period;cn \xE4\xB8\xAD\xD6\xD0 (dot) y", "m@b.cn \x80\x80\x80.y"},
  };
  std::string plain;
  for (const auto& row : rows) {
    ContactTextOfLine(row.Line, plain);
    EXPECT_EQ(plain, row.Plain) << row.Line;
  }
}

TEST(CanonicalEmail, ChecksLocalPartAndDomain) {
  const struct {
    const char* Local;
    const char* Domain;
    const char* Expected;
  } rows[] = {
      {"Info", "Company.COM", "info@company.com"},
      {"a", "b.cn", "a@b.cn"},
      {".a", "b.cn", ""},
      {"a..b", "c.cn", ""},
      {"a", "localhost", ""},
      {"a", "b..cn", ""},
      {"a", "-b.cn", ""},
      {"a", "b.c", ""},
      {"a", "b.123", ""},
      {"a", "2x.PNG", ""},
      {"a", "x.woff", ""},
      {"a", "x.xn--fiqs8s", "a@x.xn--fiqs8s"},
      {"", "b.cn", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CanonicalEmail(row.Local, row.Domain), row.Expected)
        << row.Local << "@" << row.Domain;
  }
}

TEST(DecodeProtectedEmail, ChecksTheHexText) {
  EXPECT_EQ(DecodeProtectedEmail("5a33343c351a3f223b372a363f74393537"), "info@example.com");
  EXPECT_EQ(DecodeProtectedEmail("5a33343c351a3f223b372a363f7439353"), "");  // odd length
  EXPECT_EQ(DecodeProtectedEmail("5a"), "");
  EXPECT_EQ(DecodeProtectedEmail("0000"), "");  // a NUL is no address character
}

TEST(ExtendedContacts, RowsKeepTheirSource) {
  Lists lists;
  ExtractContacts("mail a@b.cn", lists.Targets(true, "http://one.cn/"));
  ExtractContacts("mail c@d.cn and a@b.cn again", lists.Targets(true, "http://two.cn/"));
  const std::vector<TResultEntry> entries = lists.emails.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Source, "http://one.cn/");
  EXPECT_EQ(entries[1].Value, "c@d.cn");
  EXPECT_EQ(entries[1].Source, "http://two.cn/");
}

}  // namespace
}  // namespace qm
