// Undeclared pages: which read well as GB18030, and what the detector takes the others for.
#include "text/charset_detection.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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

}  // namespace
}  // namespace qm
