// Which charset a page declares, and its text in UTF-8.
#include "text/page_charset.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "text/charset_conversion.h"

namespace qm {
namespace {

// UTF-8 text in `charset`, for building pages as servers send them.
std::string Encode(const std::string& utf8, const char* charset) {
  iconv_t cd = iconv_open(charset, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1)) << charset;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

TEST(PageCharset, CharsetParameterOfContentType) {
  const struct {
    const char* contentType;
    const char* charset;
  } rows[] = {
      {"text/html; charset=GBK", "GBK"},
      {"text/html;charset=utf-8", "utf-8"},
      {"text/html; Charset = \"big5\"", "big5"},
      {"text/html; charset='gb2312'; q=1", "gb2312"},
      {"text/html; charset=", ""},
      {"text/html", ""},
      {"text/html; xcharset; charset=gb18030", "gb18030"},
      {"", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CharsetParameter(row.contentType), row.charset) << row.contentType;
  }
}

TEST(PageCharset, MetaTagsInTheFirstFourKilobytes) {
  const std::string far = std::string(4100, ' ') + "<meta charset=gbk>";
  const struct {
    std::string page;
    const char* charset;
  } rows[] = {
      {"<html><head><meta charset=\"gb2312\"></head>", "gb2312"},
      {"<META CHARSET=Big5>", "Big5"},
      {"<meta charset=utf-8/>", "utf-8"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">", "gbk"},
      {"<meta content='text/html; charset=big5' http-equiv='content-type'>", "big5"},
      {"<meta name=\"keywords\" content=\"charset=gbk\"><meta charset=utf-8>", "utf-8"},
      {"<!-- <meta charset=gbk> --><meta charset=big5>", "big5"},
      {"<metadata charset=gbk>", ""},
      {"<p>charset=gbk</p>", ""},
      {"<meta charset=\"gbk", "gbk"},
      {far, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MetaTagCharset(row.page), row.charset) << row.page.substr(0, 80);
  }
  // A comment and a tag at every place of the first blocks the search reads at once.
  for (size_t at = 0; at < 40; ++at) {
    const std::string before(at, '<');
    EXPECT_EQ(MetaTagCharset(before + "<!-- <meta charset=gbk> --><p><Meta charset=big5>"), "big5");
    EXPECT_EQ(MetaTagCharset(before + "<p><mEta charset=gbk"), "gbk");
    EXPECT_EQ(MetaTagCharset(before + "<!-<meta charset=gbk>"), "gbk");
    EXPECT_EQ(MetaTagCharset(before + "<!--<meta charset=gbk>"), "");
  }
}

TEST(PageCharset, ByteOrderMarkThenHeaderThenMeta) {
  const std::string meta = "<meta charset=big5>";
  const struct {
    const char* name;
    const char* contentType;
    std::string body;
    const char* label;
    TCharsetSource source;
    size_t markLength;
  } rows[] = {
      {"header beats meta", "text/html; charset=gbk", meta, "gbk", TCharsetSource::Header, 0},
      {"meta when the header has none", "text/html", meta, "big5", TCharsetSource::MetaTag, 0},
      {"UTF-8 mark beats the header", "text/html; charset=gbk", "\xEF\xBB\xBFx", "UTF-8",
       TCharsetSource::ByteOrderMark, 3},
      {"UTF-16 marks", "", "\xFF\xFEx\0", "UTF-16LE", TCharsetSource::ByteOrderMark, 2},
      {"UTF-16 big-endian", "", "\xFE\xFF\0x", "UTF-16BE", TCharsetSource::ByteOrderMark, 2},
      {"UTF-16 in a meta tag is UTF-8", "", "<meta charset=utf-16>", "UTF-8",
       TCharsetSource::MetaTag, 0},
      {"nothing", "text/html", "<p>a@b.cn</p>", "", TCharsetSource::None, 0},
  };
  for (const auto& row : rows) {
    const TPageCharset found = FindPageCharset(row.contentType, row.body);
    EXPECT_EQ(found.Label, row.label) << row.name;
    EXPECT_EQ(found.Source, row.source) << row.name;
    EXPECT_EQ(found.ByteOrderMarkLength, row.markLength) << row.name;
  }
}

TEST(PageCharset, FourByteCharactersOfGb18030) {
  EXPECT_TRUE(HasGb18030FourByteCharacter(Encode("电话𠀀13812345678", "GB18030")));
  EXPECT_TRUE(HasGb18030FourByteCharacter("\x81\x30\x81\x30"));
  EXPECT_FALSE(HasGb18030FourByteCharacter(Encode("电话13812345678，年1月2日", "GB18030")));
  EXPECT_FALSE(HasGb18030FourByteCharacter(Encode("電話13812345678，年1月2日", "BIG5")));
  EXPECT_FALSE(HasGb18030FourByteCharacter("\x81\x30\x81"));
  EXPECT_FALSE(HasGb18030FourByteCharacter("a1b2 \x80\x30\x81\x30"));
}

TEST(CharsetConversion, LabelsAsPagesWriteThem) {
  const struct {
    const char* label;
    const char* charset;
  } rows[] = {
      {"GB2312", "GB18030"},
      {" gbk ", "GB18030"},
      {"x-gbk", "GB18030"},
      {"GB18030", "GB18030"},
      {"Big5", "BIG5-HKSCS"},
      {"UTF8", "UTF-8"},
      {"iso-8859-1", "WINDOWS-1252"},
      {"us-ascii", "WINDOWS-1252"},
      {"Shift_JIS", "CP932"},
      {"koi8-r", "KOI8-R"},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(CharsetForLabel(row.label), row.charset) << row.label;
  EXPECT_TRUE(IsAsciiCompatible("GB18030"));
  EXPECT_FALSE(IsAsciiCompatible("UTF-16LE"));
  EXPECT_FALSE(IsAsciiCompatible("HZ-GB-2312"));
  EXPECT_TRUE(IsAscii(std::string(100, 'a') + "b@c.cn"));
  EXPECT_FALSE(IsAscii(std::string(100, 'a') + "\x80"));
  EXPECT_FALSE(IsAscii("\xC4" + std::string(100, 'a')));
}

TEST(CharsetConversion, ToUtf8) {
  const std::string chinese = "联系我们：电话13812345678，邮箱kefu@example.cn";
  const std::string traditional = "聯絡我們：電話13812345678，信箱kefu@example.tw";
  const struct {
    const char* name;
    std::string text;
    const char* charset;
    std::string utf8;
  } rows[] = {
      {"GBK read as GB18030", Encode(chinese, "GBK"), "GB18030", chinese},
      {"four-byte GB18030", Encode("€𠀀a@b.cn", "GB18030"), "GB18030", "€𠀀a@b.cn"},
      {"Big5", Encode(traditional, "BIG5"), "BIG5-HKSCS", traditional},
      {"UTF-16LE", Encode("电话1", "UTF-16LE"), "UTF-16LE", "电话1"},
      {"Latin-1 read as windows-1252", "caf\xE9 \x80", "WINDOWS-1252", "café €"},
      {"an invalid byte becomes U+FFFD",
       "a\xFF"
       "b",
       "GB18030",
       "a\xEF\xBF\xBD"
       "b"},
      {"a lead byte at the end", "ab\xC4", "GB18030", "ab\xEF\xBF\xBD"},
  };
  for (const auto& row : rows) {
    std::string out;
    ASSERT_TRUE(ConvertToUtf8(row.text, row.charset, 1 << 20, out)) << row.name;
    EXPECT_EQ(out, row.utf8) << row.name;
  }
  std::string out;
  EXPECT_FALSE(ConvertToUtf8("abc", "NO-SUCH-CHARSET", 100, out));
  // Two characters of three bytes each do not fit into five.
  EXPECT_FALSE(ConvertToUtf8(Encode("电话", "GBK"), "GB18030", 5, out));
  EXPECT_TRUE(ConvertToUtf8(Encode("电话", "GBK"), "GB18030", 6, out));
}

}  // namespace
}  // namespace qm
