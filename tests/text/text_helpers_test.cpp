#include <gtest/gtest.h>

#include "text/cp936.h"
#include "text/file_errors.h"
#include "text/line_split.h"
#include "text/trim.h"

#include <cerrno>

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

TEST(Cp936, ConvertsBothWaysAndKnowsLeadBytes) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
  EXPECT_EQ(Cp936ToUtf8(gbk), "中文");
  EXPECT_EQ(Utf8ToCp936("中文 abc"), gbk + " abc");
  EXPECT_EQ(Utf8ToCp936("a😀b"), "a?b");
  EXPECT_EQ(Cp936ToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_TRUE(IsCp936LeadByte(0x81));
  EXPECT_TRUE(IsCp936LeadByte(0xFE));
  EXPECT_FALSE(IsCp936LeadByte(0x80));
  EXPECT_FALSE(IsCp936LeadByte(0xFF));
  EXPECT_FALSE(IsCp936LeadByte('@'));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("联系：abc@qq.com"));
  EXPECT_FALSE(IsValidUtf8(gbk));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));
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
