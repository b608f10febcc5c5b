#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "text/charset_conversion.h"
#include "text/cp936.h"
#include "text/file_errors.h"
#include "text/line_split.h"
#include "text/page_lines.h"
#include "text/trim.h"

namespace qm {
namespace {

TEST(Trim, RemovesBytesUpToBlankOnBothEnds) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(Trim("\xA1\xA1x\xA1\xA1"), "\xA1\xA1x\xA1\xA1");  // bytes above 127 stay
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TextBefore("Host: a:80", ":"), "Host");
  EXPECT_EQ(TextAfter("Host: a:80", ":"), "a:80");
  EXPECT_EQ(TextBefore(" no delimiter ", "/"), "no delimiter");
  EXPECT_EQ(TextAfter(" no delimiter ", "/"), "no delimiter");
  EXPECT_EQ(TextAfter("a://b://c", "://"), "b://c");
  EXPECT_EQ(AsciiUpper("get \xC4\xE3z"), "GET \xC4\xE3Z");
  EXPECT_EQ(AsciiLower("/Home/A.TXT"), "/home/a.txt");
}

TEST(SplitLines, CutsAtCrLfLfAndLoneCr) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"ab\rcd\n", {"ab", "cd"}},
      {"\r\n\r\n", {"", ""}},
      {"a\r", {"a"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {std::string("x\0y\nz", 5), {std::string("x\0y", 3), "z"}},
  };
  std::vector<std::string> lines = {"old", "old2", "old3", "old4"};
  for (const auto& c : cases) {
    SplitLines(c.text, lines);
    EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.text);
  }
}

// Breaks at and around every 32-byte block edge, including a CR LF pair split by one, and
// texts shorter than a block; compared with a byte-by-byte reading.
TEST(SplitLines, BreaksAcrossBlockEdgesMatchAByteReading) {
  auto byBytes = [](const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' || text[i] == '\n') {
        lines.push_back(line);
        line.clear();
        open = false;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      } else {
        line += text[i];
        open = true;
      }
    }
    if (open) lines.push_back(line);
    return lines;
  };
  std::vector<std::string> lines;
  for (size_t size : {1, 15, 31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 200}) {
    for (size_t at = 0; at < size; ++at) {
      for (const char* brk : {"\n", "\r", "\r\n", "\n\r", "\r\r"}) {
        std::string text(size, 'x');
        text.replace(at, std::min(std::strlen(brk), size - at), brk,
                     std::min(std::strlen(brk), size - at));
        if (at + 7 < size) text[at + 7] = '\r';
        SplitLines(text, lines);
        ASSERT_EQ(lines, byBytes(text)) << testing::PrintToString(text);
      }
    }
  }
}

TEST(PageLines, HoldTheLinesOfTheTextTheyTakeOver) {
  TPageLines lines = {"stale", "lines"};
  EXPECT_EQ(lines.Strings(), (std::vector<std::string>{"stale", "lines"}));
  // Taking a response over from the body's start: the header bytes before it are not lines.
  lines.TakeText("HTTP/1.1 200 OK\r\n\r\nab\r\ncd\ref\n\ngh", 19);
  EXPECT_EQ(lines.Strings(), (std::vector<std::string>{"ab", "cd", "ef", "", "gh"}));
  EXPECT_EQ(lines.size(), 5u);
  // Each line tells where it lies in the whole text.
  std::vector<std::string> located;
  for (auto line = lines.begin(); line != lines.end(); ++line) {
    located.emplace_back(lines.Text().substr(line.Begin(), line.End() - line.Begin()));
    EXPECT_EQ(*line, located.back());
  }
  EXPECT_EQ(located, lines.Strings());
  // A start past the end gives no lines; the text can be handed back whole.
  lines.TakeText("abc", 10);
  EXPECT_TRUE(lines.empty());
  lines.AssignText("x\ny");
  EXPECT_EQ(lines.ReleaseText(), "x\ny");
  EXPECT_TRUE(lines.empty());
  // Lines given one by one keep any byte; a break inside one starts another line.
  const TPageLines given = {"a\nb", std::string_view("\0", 1), ""};
  EXPECT_EQ(given.Strings(), (std::vector<std::string>{"a", "b", std::string(1, '\0'), ""}));
}

TEST(PageLines, WalkCutsAsForEachLineCutsWhateverTheShape) {
  // Breaks at every position of the 64-byte blocks the walk reads at once, runs of empty
  // lines, CR LF pairs across a block's edge, a last line without a break.
  std::mt19937 random(7);
  const char pieces[] = {'a', '\n', '\r', '\0', '@'};
  for (int round = 0; round < 300; ++round) {
    std::string text(random() % 300, 'x');
    for (char& c : text) c = pieces[random() % sizeof pieces];
    const size_t from = random() % (text.size() + 2);
    std::vector<std::string> expected;
    const std::string_view body = std::string_view(text).substr(std::min(from, text.size()));
    ForEachLine(body, [&](size_t b, size_t e) { expected.emplace_back(body.substr(b, e - b)); });
    TPageLines lines;
    lines.TakeText(std::string(text), from);
    ASSERT_EQ(lines.Strings(), expected) << testing::PrintToString(text) << " from " << from;
  }
}

TEST(Cp936, ConvertsBothWaysAndKnowsLeadAndTrailBytes) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
  EXPECT_EQ(Cp936ToUtf8(gbk), "中文");
  EXPECT_EQ(Utf8ToCp936("中文 abc"), gbk + " abc");
  EXPECT_EQ(Utf8ToCp936("a😀b"), "a?b");
  EXPECT_EQ(Cp936ToUtf8("a\xFF"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_TRUE(IsCp936LeadByte(0x81));
  EXPECT_TRUE(IsCp936LeadByte(0xFE));
  EXPECT_FALSE(IsCp936LeadByte(0x80));
  EXPECT_FALSE(IsCp936LeadByte(0xFF));
  EXPECT_FALSE(IsCp936LeadByte('@'));
  for (int byte : {0x40, 0x61, 0x7E, 0x80, 0x81, 0xFE}) EXPECT_TRUE(IsCp936TrailByte(byte)) << byte;
  for (int byte : {0x00, 0x31, 0x2E, 0x2D, 0x3F, 0x7F, 0xFF}) EXPECT_FALSE(IsCp936TrailByte(byte)) << byte;
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("联系：abc@qq.com"));
  EXPECT_FALSE(IsValidUtf8(gbk));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));
}

// Values beyond U+10FFFF, which UCS-4 text can hold, come out of iconv in forms UTF-8 does
// not allow; converted text must be UTF-8 all the same.
TEST(CharsetConversion, UcsValuesBeyondUnicodeBecomeReplacements) {
  std::string out;
  ASSERT_TRUE(ConvertToUtf8(std::string("\x7F\xFF\xFF\xFF\0\0\0A", 8), "UCS-4", 100, out));
  std::string expected;
  for (int i = 0; i < 6; ++i) expected += "\xEF\xBF\xBD";  // one for each byte of the long form
  EXPECT_EQ(out, expected + "A");
  EXPECT_FALSE(ConvertToUtf8(std::string("\x7F\xFF\xFF\xFF", 4), "UCS-4", 17, out));
  EXPECT_EQ(Utf8CharacterLength("a\xE4\xB8\xAD", 1), 3u);
  EXPECT_EQ(Utf8CharacterLength("\xFD\xBF\xBF\xBF\xBF\xBF", 0), 0u);
}

TEST(InOutErrorText, NamesTheCommonFailures) {
  EXPECT_EQ(InOutErrorText(ENOENT), "File not found");
  EXPECT_EQ(InOutErrorText(EACCES), "File access denied");
  EXPECT_EQ(InOutErrorText(EMFILE), "Too many open files");
  EXPECT_EQ(InOutErrorText(ENOSPC), "Disk full");
  EXPECT_EQ(InOutErrorText(ENAMETOOLONG), "Invalid filename");
  EXPECT_EQ(InOutErrorText(EIO), "I/O error " + std::to_string(EIO));
}

}  // namespace
}  // namespace qm
