#include "contacts/extractors.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/cp936.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

using Extractor = void (*)(std::string_view, TResultList&);

// The rows an extractor appends for `lines`, scanned in order into one fresh list.
std::vector<std::string> RowsOfLines(Extractor extract, const std::vector<std::string>& lines) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  for (const std::string& line : lines) extract(line, list);
  if (list.EntryCount() == 0) return {};
  return list.Snapshot();
}

std::vector<std::string> Rows(Extractor extract, const std::string& line) {
  return RowsOfLines(extract, {line});
}

struct Row {
  const char* Name;
  std::string Line;
  std::vector<std::string> Expected;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.Name;
}

// Code page 936 bytes of some characters used below.
const std::string kLianXi = "\xC1\xAA\xCF\xB5";  // 联系
const std::string kShouJi = "\xCA\xD6\xBB\xFA";  // 手机
const std::string kColon = "\xA3\xBA";           // full-width colon
const std::string kFullWidthAt = "\xA3\xC0";     // full-width commercial at
const std::string kTrailAt = "\x81\x40";         // a character whose second byte is "@"
const std::string kTrailE = "\x81\x65";          // ... whose second byte is "e"

class EmailRows : public ::testing::TestWithParam<Row> {};

TEST_P(EmailRows, FromOneLine) {
  EXPECT_EQ(Rows(ExtractEmails, GetParam().Line), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ascii, EmailRows,
    ::testing::Values(
        Row{"EightCharacters", "ab@cd.ef", {"ab@cd.ef"}}, Row{"OneBeforeAt", "a@cd.efg", {}},
        Row{"OneBetweenAtAndDot", "ab@c.efg", {}}, Row{"SevenCharacters", "xx ab@cd.e xx", {}},
        Row{"ShortLine", "ab@c.de", {}}, Row{"NoDotAfterAt", "abcdef@ghijkl", {}},
        Row{"InSentence", "mail: ab@cd.com, or x", {"ab@cd.com"}},
        Row{"KeepsFinalFullStop", "write to ab@cd.com.", {"ab@cd.com."}},
        Row{"KeepsTrailingHyphen", "ab@cd.ef- x", {"ab@cd.ef-"}},
        Row{"SecondAtKept", "ab@cd@ef.gh", {"ab@cd@ef.gh"}},
        Row{"DotBeforeAtOnly", "a.b.c@defghij", {}},
        Row{"CapitalsCut", "John.Smith@Example.com", {}},
        Row{"UnderscorePiecesTested", "john_doe@mail.com", {"doe@mail.com"}},
        Row{"PlusCut", "a+b@cd.efgh", {}},
        Row{"TwoAddresses", "ab@cd.ef;gh@ij.kl", {"ab@cd.ef", "gh@ij.kl"}},
        Row{"RepeatOnOneLine", "ab@cd.ef ab@cd.ef", {"ab@cd.ef"}},
        Row{"NulEndsToken", std::string("ab@cd.ef\0gh@ij.kl", 17), {"ab@cd.ef", "gh@ij.kl"}},
        Row{"DotAtLimit",
            "ab@" + std::string(254, 'x') + ".com",
            {"ab@" + std::string(254, 'x') + ".com"}},
        Row{"DotBeyondLimit", "ab@" + std::string(255, 'x') + ".com", {}}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Cp936, EmailRows,
    ::testing::Values(
        Row{"NextToChinese", kLianXi + kColon + "ab@cd.ef" + kLianXi, {"ab@cd.ef"}},
        Row{"FullWidthAt", "abc" + kFullWidthAt + "cd.efgh", {}},
        // A lead byte takes a letter after it: the token starts one later.
        Row{"LeadTakesLetter",
            "\x81"
            "abc@qq.com",
            {"bc@qq.com"}},
        // A digit, "." or "-" cannot be a second byte: the lead byte stands alone.
        Row{"LeadLeavesDigit",
            "\x81"
            "1ab@cd.com",
            {"1ab@cd.com"}},
        Row{"LeadLeavesFullStop", "\xFE.ab@cd.com", {".ab@cd.com"}},
        Row{"LeadLeavesHyphen", kLianXi + "\xC1-ab@cd.com", {"-ab@cd.com"}},
        Row{"SwallowedLetterLeavesOneBeforeAt", "abcd" + kTrailE + "f@gh.ijk", {}},
        Row{"TrailAtIsNoAt", "ab" + kTrailAt + "cd.efghij", {}},
        Row{"TrailAtBeforeAddress", kTrailAt + "bc@qq.com", {"bc@qq.com"}},
        // Two lead-range bytes pair up: the byte after them is a character of its own.
        Row{"EvenLeadRun", kLianXi + "ab@cd.ef", {"ab@cd.ef"}}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(Utf8, EmailRows,
                         ::testing::Values(
                             // Read as code page 936, the colon's last byte would swallow the "a".
                             Row{"AfterFullWidthColon", "联系：abc@qq.com", {"abc@qq.com"}},
                             Row{"BetweenChinese", "邮箱ab@cd.ef请联系", {"ab@cd.ef"}},
                             Row{"FullWidthAt", "abc＠cd.efgh", {}},
                             Row{"AfterEmoji",
                                 "\xF0\x9F\x98\x80"
                                 "ab@cd.ef",
                                 {"ab@cd.ef"}}),
                         [](const auto& info) { return std::string(info.param.Name); });

class MobileRows : public ::testing::TestWithParam<Row> {};

TEST_P(MobileRows, FromOneLine) {
  EXPECT_EQ(Rows(ExtractMobiles, GetParam().Line), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ascii, MobileRows,
    ::testing::Values(
        Row{"ElevenDigits", "13812345678", {"13812345678"}},
        Row{"LeadingZeroDropped", "tel 013812345678", {"13812345678"}},
        Row{"TwelveBeginningWithOne", "138123456789", {}},
        Row{"TwoLeadingZeros", "0013812345678", {}},
        Row{"ElevenNotBeginningWithOne", "23812345678", {}},
        Row{"ZeroThenTenDigits", "01381234567", {}}, Row{"Hyphens", "138-1234-5678", {}},
        Row{"Blanks", "138 1234 5678", {}}, Row{"NoOne", "23456789023", {}},
        Row{"BetweenLetters", "a13812345678b15900001111", {"13812345678", "15900001111"}},
        Row{"RepeatOnOneLine", "13812345678,13812345678", {"13812345678"}},
        Row{"OneInsideToken", "2013812345678 913812345678x", {}}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(Cp936, MobileRows,
                         ::testing::Values(Row{"NextToChinese",
                                               kShouJi + kColon + "13812345678" + kLianXi,
                                               {"13812345678"}},
                                           Row{"FullWidthDigitsEndToken",
                                               "1381234\xA3\xB5"
                                               "678",
                                               {}},
                                           // A digit is never a second byte.
                                           Row{"LeadLeavesDigit",
                                               "\x81"
                                               "13800138000",
                                               {"13800138000"}},
                                           Row{"LeadLeavesTwelveDigits",
                                               "\x81"
                                               "113800138000",
                                               {}}),
                         [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Utf8, MobileRows,
    ::testing::Values(Row{"AfterFullWidthColon", "手机：13812345678", {"13812345678"}},
                      Row{"TwelveAfterFullWidthColon", "手机：113812345678", {}},
                      Row{"FullWidthDigits", "１３８１２３４５６７８", {}}),
    [](const auto& info) { return std::string(info.param.Name); });

class QQRows : public ::testing::TestWithParam<Row> {};

TEST_P(QQRows, FromOneLine) {
  EXPECT_EQ(Rows(ExtractQQNumbers, GetParam().Line), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, QQRows,
    ::testing::Values(
        Row{"Upper", "QQ:123456789", {"123456789@qq.com"}},
        Row{"Lower", "qq 12345", {"12345@qq.com"}},
        Row{"Tencent", "tencent 9876543210", {"9876543210@qq.com"}},
        Row{"MixedCaseIgnored", "Qq:123456789", {}}, Row{"OtherMixedCase", "qQ:123456789", {}},
        Row{"SplitPair", "q q 123456789", {}},
        Row{"EveryRunTaken",
            "QQ 123456789 on 20240612 for 99999",
            {"123456789@qq.com", "20240612@qq.com", "99999@qq.com"}},
        Row{"RejectedRuns", "QQ 1234 0123456 12345678901", {}},
        Row{"RunBeforeTrigger", "55555 qq", {"55555@qq.com"}},
        Row{"Glued", "QQ12345", {"12345@qq.com"}},
        Row{"RepeatOnOneLine", "QQ 12345 12345 54321", {"12345@qq.com", "54321@qq.com"}},
        // Bytes, not characters: a digit after a lead byte still counts.
        Row{"AfterLeadByte",
            "QQ\x81"
            "12345",
            {"12345@qq.com"}},
        Row{"ChineseAround", "QQ号码：123456789（白天）", {"123456789@qq.com"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LastAccepted, RepeatsAcrossLinesAreSuppressedOnlyWhenConsecutive) {
  EXPECT_EQ(RowsOfLines(ExtractEmails, {"ab@cd.ef", "ab@cd.ef"}),
            std::vector<std::string>{"ab@cd.ef"});
  EXPECT_EQ(RowsOfLines(ExtractEmails, {"ab@cd.ef", "gh@ij.kl", "ab@cd.ef"}),
            (std::vector<std::string>{"ab@cd.ef", "gh@ij.kl", "ab@cd.ef"}));
  EXPECT_EQ(RowsOfLines(ExtractMobiles, {"13812345678", "x13812345678x"}),
            std::vector<std::string>{"13812345678"});
  EXPECT_EQ(RowsOfLines(ExtractQQNumbers, {"QQ 12345", "qq 12345", "qq 54321", "qq 12345"}),
            (std::vector<std::string>{"12345@qq.com", "54321@qq.com", "12345@qq.com"}));
}

TEST(LastAccepted, QQValueIsKeptWithoutSuffix) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  ExtractQQNumbers("QQ:123456789", list);
  EXPECT_EQ(list.LastAccepted(), "123456789");
}

TEST(LastAccepted, SharedByEveryKindOfLineReading) {
  // The same address found in a code page 936 line and then in a UTF-8 line is one row.
  EXPECT_EQ(RowsOfLines(ExtractEmails, {kLianXi + "ab@cd.ef", "联系ab@cd.ef"}),
            std::vector<std::string>{"ab@cd.ef"});
}

// The scanners read lines in blocks; a token must be found wherever it stands relative to
// the blocks and the end of the line.
TEST(ExtractorsAtEveryPosition, FindTheTokenWhereverItStands) {
  struct Case {
    Extractor Extract;
    std::string Token;
    std::string Row;
  };
  const Case cases[] = {{ExtractEmails, "ab@cd.ef", "ab@cd.ef"},
                        {ExtractMobiles, "13812345678", "13812345678"},
                        {ExtractQQNumbers, "QQ 12345", "12345@qq.com"},
                        {ExtractQQNumbers, "12345 qq", "12345@qq.com"},
                        {ExtractQQNumbers, "tencent 12345", "12345@qq.com"}};
  for (const Case& c : cases) {
    for (size_t before = 0; before < 70; ++before) {
      for (size_t after : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{40}}) {
        const std::string line = std::string(before, ' ') + c.Token + std::string(after, ' ');
        EXPECT_EQ(Rows(c.Extract, line), std::vector<std::string>{c.Row})
            << c.Token << " after " << before << " blanks, before " << after;
      }
    }
  }
}

TEST(ExtractorsAtEveryPosition, PartsOfTriggersSplitByTheLineEndDoNotCount) {
  for (size_t before = 0; before < 40; ++before) {
    const std::string digits = "12345 " + std::string(before, ' ');
    EXPECT_TRUE(Rows(ExtractQQNumbers, digits + "q").empty());
    EXPECT_TRUE(Rows(ExtractQQNumbers, digits + "tencen").empty());
    EXPECT_TRUE(Rows(ExtractQQNumbers, digits + "encent").empty());
    EXPECT_TRUE(Rows(ExtractQQNumbers, digits + "qQ").empty());
  }
}

TEST(ExtractorsOnHostileBytes, EveryByteValueIsHandled) {
  // Long runs of lead-range bytes around anchors and digits: no out-of-range reads, and
  // the pairing of lead bytes decides what is a character.
  std::string line;
  for (int i = 0; i < 256; ++i) {
    line.push_back(static_cast<char>(i));
    line.append("ab@cd.ef1");
  }
  line.append(std::string(10001, '\xFE'));
  line.append("xyz@qq.com\xFE" "13812345678 tencent");
  ui::ChangeNotifier notifier;
  TResultList emails(notifier), mobiles(notifier), qq(notifier);
  ExtractEmails(line, emails);
  ExtractMobiles(line, mobiles);
  ExtractQQNumbers(line, qq);
  // 10001 lead-range bytes: the last pairs with the "x", leaving "yz@qq.com"; a digit is
  // never taken.
  EXPECT_EQ(emails.LastAccepted(), "yz@qq.com");
  EXPECT_EQ(mobiles.EntryCount(), 1);
  EXPECT_EQ(mobiles.LastAccepted(), "13812345678");
  EXPECT_EQ(qq.EntryCount(), 0);  // bytes: the run "13812345678" has 11 digits
}

// Lines of random pieces that make and break tokens, at every length around the block
// sizes: the one-pass scan must give exactly the rows of the three scanners in turn, and
// fill only the lists it is given.
TEST(ExtractContacts, GivesTheRowsOfTheThreeScannersInTurn) {
  const std::vector<std::string> pieces = {"@",
                                           "1",
                                           "13812345678",
                                           "0",
                                           "12345",
                                           "9",
                                           "q",
                                           "Q",
                                           "qq",
                                           "QQ",
                                           "nc",
                                           "te",
                                           "tencent",
                                           "ab",
                                           "cd.ef",
                                           ".",
                                           "-",
                                           " ",
                                           "\xC1\xAA",
                                           "\x81",
                                           "\x81\x40",
                                           "\xE8\x81\x94",
                                           "x"};
  std::mt19937 random(20241207);
  std::vector<std::string> lines;
  for (int i = 0; i < 6000; ++i) {
    std::string line;
    const size_t length = random() % 140;
    while (line.size() < length) line += pieces[random() % pieces.size()];
    lines.push_back(line);
  }
  ui::ChangeNotifier notifier;
  TResultList emails(notifier), mobiles(notifier), qq(notifier);
  auto rows = [](const TResultList& list) {
    return list.EntryCount() == 0 ? std::vector<std::string>{} : list.Snapshot();
  };
  const std::vector<std::string> expected[3] = {RowsOfLines(ExtractEmails, lines),
                                                RowsOfLines(ExtractMobiles, lines),
                                                RowsOfLines(ExtractQQNumbers, lines)};
  ASSERT_FALSE(expected[0].empty() || expected[1].empty() || expected[2].empty());
  for (unsigned kinds = 1; kinds < 8; ++kinds) {
    SCOPED_TRACE(kinds);
    for (TResultList* list : {&emails, &mobiles, &qq}) {
      list->Clear();
      list->ClearLastAccepted();
    }
    const TContactLists targets{.Emails = (kinds & 1) ? &emails : nullptr,
                                .Mobiles = (kinds & 2) ? &mobiles : nullptr,
                                .QQNumbers = (kinds & 4) ? &qq : nullptr};
    for (const std::string& line : lines) ExtractContacts(line, targets);
    EXPECT_EQ(rows(emails), (kinds & 1) ? expected[0] : std::vector<std::string>{});
    EXPECT_EQ(rows(mobiles), (kinds & 2) ? expected[1] : std::vector<std::string>{});
    EXPECT_EQ(rows(qq), (kinds & 4) ? expected[2] : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace qm
