// Undeclared pages: which read well as GB18030, and what the detector takes the others for.
#include "text/charset_detection.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/charset_encoding.h"
#include "text/page_charset.h"

namespace qm {
namespace {

using test::EncodeUtf8As;

const std::string kChinese =
    "欢迎访问我们的网站，联系我们请写信到这个邮箱，公司地址在北京市海淀区中关村大街，"
    "产品介绍与技术支持，客服热线全天有人值守，版权所有，招聘信息和新闻中心都在这里。";
const std::string kJapanese =
    "お問い合わせはこちらのメールアドレスまでご連絡ください。会社概要、採用情報、"
    "製品のご案内、技術サポート、ニュースリリースをご覧いただけます。";
const std::string kKorean =
    "문의 사항은 아래 이메일 주소로 연락해 주시기 바랍니다. 회사 소개, 채용 정보, 제품 안내, "
    "기술 지원, 보도 자료를 확인하실 수 있습니다. 감사합니다.";
const std::string kRussian =
    "Свяжитесь с нами по электронной почте, указанной ниже. О компании, вакансии, "
    "продукция, техническая поддержка и новости нашей компании.";

TEST(CharsetDetection, PlausibleGb18030AndWhatTheOthersAreTakenFor) {
  const struct {
    const char* name;
    std::string bytes;
    bool plausible;
    std::string detected;  // when not plausible, as the converter names its superset
  } rows[] = {
      {"GBK", EncodeUtf8As(kChinese + " mail a@b.cn", "GBK"), true, ""},
      {"GB18030", EncodeUtf8As(kChinese, "GB18030"), true, ""},
      {"a short GBK line", EncodeUtf8As("联系我们", "GBK"), true, ""},
      {"Shift_JIS", EncodeUtf8As(kJapanese + kJapanese, "SHIFT_JIS"), false, "CP932"},
      {"EUC-KR", EncodeUtf8As(kKorean + kKorean, "EUC-KR"), false, "UHC"},
      {"Windows-1251", EncodeUtf8As(kRussian + kRussian, "WINDOWS-1251"), false, "WINDOWS-1251"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(IsPlausibleGb18030(row.bytes), row.plausible);
    if (!row.plausible) {
      EXPECT_EQ(DetectNonChineseCharset(row.bytes), row.detected);
    }
  }
  // Chinese text and text the detector cannot place give nothing to convert from.
  EXPECT_EQ(DetectNonChineseCharset(EncodeUtf8As(kChinese + kChinese, "GBK")), "");
  EXPECT_EQ(DetectNonChineseCharset("plain ascii a@b.cn"), "");
  EXPECT_EQ(DetectNonChineseCharset(""), "");
}

// The one pass a fetch makes agrees with the two checks it stands for, also where a
// four-byte character begins on the second byte of a two-byte one, and on long ASCII runs.
TEST(CharsetDetection, OnePassReadingAgreesWithTheTwoChecks) {
  const auto expected = [](std::string_view text) {
    if (HasGb18030FourByteCharacter(text)) return TGb18030Reading::FourByteCharacters;
    return IsPlausibleGb18030(text) ? TGb18030Reading::Plausible : TGb18030Reading::Implausible;
  };
  const std::string rows[] = {
      "",
      "\xD6\xD0\x35\xD6\x31",          // 中5 then a broken lead: found from its 2nd byte
      "\xD6\xD0\x35\xD6\x31\xB9\xFA",  // the same before 国
      "\x81\x30\x81\x30",
      "plain ascii text, longer than a word of eight bytes \xD6\xD0\xB9\xFA",
      EncodeUtf8As(kChinese, "GBK"),
      EncodeUtf8As("电话𠀀13812345678", "GB18030"),
      EncodeUtf8As(kKorean + kKorean, "EUC-KR"),
      EncodeUtf8As(kJapanese + kJapanese, "SHIFT_JIS"),
  };
  for (const std::string& row : rows) {
    EXPECT_EQ(ReadAsGb18030(row), expected(row)) << row;
  }
  // Random bytes drawn from the values the checks tell apart.
  const unsigned char alphabet[] = {'a',  ' ',  '0',  '5',  '9',  0x40, 0x7F, 0x80,
                                    0x81, 0xA1, 0xC9, 0xD6, 0xF7, 0xFE, 0xFF};
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 24, ' ');
    for (char& c : text) c = static_cast<char>(alphabet[random() % sizeof alphabet]);
    ASSERT_EQ(ReadAsGb18030(text), expected(text)) << testing::PrintToString(text);
  }
}

// The walk a byte at a time as it first was: the blocks must count exactly as it does.
TGb18030Tally ByteWalk(std::string_view text, bool findFourByte) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  const auto between = [](unsigned char b, unsigned char low, unsigned char high) {
    return b >= low && b <= high;
  };
  const auto lead = [&](size_t at) { return between(bytes[at], 0x81, 0xFE); };
  const auto digit = [&](size_t at) { return between(bytes[at], '0', '9'); };
  TGb18030Tally tally;
  for (size_t i = 0; i < size;) {
    if (bytes[i] < 0x80) {
      ++i;
    } else if (!lead(i) || i + 1 >= size) {
      ++tally.Broken;
      ++i;
    } else if (digit(i + 1)) {
      if (i + 3 < size && lead(i + 2) && digit(i + 3)) {
        if (findFourByte) return {.FourByteCharacter = true};
        i += 4;
      } else {
        ++tally.Broken;
        ++i;
      }
    } else if (!between(bytes[i + 1], 0x40, 0xFE) || bytes[i + 1] == 0x7F) {
      ++tally.Broken;
      ++i;
    } else if (findFourByte && lead(i + 1) && i + 4 < size && digit(i + 2) && lead(i + 3) &&
               digit(i + 4)) {
      return {.FourByteCharacter = true};
    } else {
      ++tally.Pairs;
      if (between(bytes[i], 0xA1, 0xF7) && between(bytes[i + 1], 0xA1, 0xFE)) ++tally.Gb2312Area;
      if (between(bytes[i], 0xC9, 0xF7)) ++tally.PastHangulRows;
      i += 2;
    }
  }
  return tally;
}

// Text of markup, two-byte characters of every area the tally tells apart, and now and
// then a stray byte, a trail below 0x80, a digit after a character or a four-byte one, at
// every place in and across the blocks.
TEST(CharsetDetection, BlocksCountAsTheByteWalk) {
  const std::string pieces[] = {"a",
                                " ",
                                "<p>",
                                "2",
                                "09",
                                "\xD6\xD0",
                                "\xB5\xE7",
                                "\xA1\xA1",
                                "\xF7\xFE",
                                "\xC9\xA1",
                                "\xC8\xFE",
                                "\xA0\xA1",
                                "\xF8\xA1",
                                "\xA1\xA0",
                                "\x81\x40",
                                "\xB0\x7E",
                                "\xB0\x7F",
                                "\xB0\x80",
                                "\xFE\xFE",
                                "\x80",
                                "\xFF",
                                "\x81",
                                "\x81\x30\x81\x30",
                                "\x95\x32\x82\x36",
                                std::string(70, 'x')};
  // Mostly characters and markup, as a page is.
  const unsigned weights[] = {6, 6, 3, 1, 1, 12, 12, 2, 2, 2, 2, 2, 2,
                              1, 1, 1, 1, 1, 1,  1,  1, 1, 1, 1, 1};
  std::discrete_distribution<size_t> pick(std::begin(weights), std::end(weights));
  std::mt19937 random(11);
  std::vector<std::string> texts;
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const size_t count = random() % 200;
    // Some texts without the rarer pieces: long stretches the blocks count whole.
    const size_t kinds = round % 2 == 0 ? std::size(pieces) : 7;
    while (text.size() < count * 2) {
      const size_t k = pick(random);
      text += pieces[k < kinds ? k : k % 7];
    }
    texts.push_back(std::move(text));
  }
  // A four-byte character on a trail's place, and a pair, at each place of the first blocks.
  for (size_t at = 0; at < 140; ++at) {
    for (const char* filler : {"a", "\xD6\xD0"}) {
      std::string text;
      while (text.size() < at) text += filler;
      texts.push_back(text + "\xD6\xD0\x35\xD6\x31" + std::string(70, 'b'));
      texts.push_back(text + "\xD6\xD0" + std::string(70, 'b'));
    }
  }
  for (const std::string& text : texts) {
    for (const bool findFourByte : {false, true}) {
      const TGb18030Tally expected = ByteWalk(text, findFourByte);
      for (const TGb18030Blocks blocks :
           {TGb18030Blocks::None, TGb18030Blocks::Sse2, TGb18030Blocks::Widest}) {
        const TGb18030Tally got = TallyGb18030(text, findFourByte, blocks);
        ASSERT_EQ(got.FourByteCharacter, expected.FourByteCharacter)
            << testing::PrintToString(text);
        if (expected.FourByteCharacter) continue;
        ASSERT_EQ(
            std::tie(got.Broken, got.Pairs, got.Gb2312Area, got.PastHangulRows),
            std::tie(expected.Broken, expected.Pairs, expected.Gb2312Area, expected.PastHangulRows))
            << static_cast<int>(blocks) << " " << findFourByte << " "
            << testing::PrintToString(text);
      }
    }
  }
}

}  // namespace
}  // namespace qm
