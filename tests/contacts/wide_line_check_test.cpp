#include "contacts/wide_line_check.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "contacts/contact_text.h"
#include "contacts/extended_anchors.h"
#include "contacts/extended_contacts.h"
#include "contacts/page_anchors.h"
#include "text/cp936.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

constexpr unsigned kMobile = kExtendedMobileAnchor;
constexpr unsigned kBoth = kExtendedMobileAnchor | kExtendedOtherAnchor;

TEST(WideLineCheck, KindsOfChineseLines) {
  const struct {
    std::string Line;
    unsigned Kinds;
  } cases[] = {
      {"本公司主营电子产品（含配件），欢迎来电！", 0},
      {"地址：北京市海淀区中关村大街１号", kBoth},  // a full-width digit
      {"电话：13812345678，传真：010-62345678", kMobile},
      {"电话 138 1234 5678。", kMobile},
      {"手机：138－1234－5678", kBoth},
      {"（86）13812345678", kBoth},  // the bracket makes a prefix of the plain text
      {"13812345678．5元", kBoth},   // and the point an amount
      {"电话13812345678&period;5", kBoth},
      {"邮箱：info（at）firm.cn", kBoth},
      {"邮箱：info（ＡＴ）firm.cn", kBoth},
      {"客服ＱＱ：12345", kBoth},
      {"uin＝12345 在线", kBoth},
      {"在线咨询 email-protection＃ab", kBoth},
      {"价格：￥1280.00 元，库存 35 件", 0},
      {"版权所有 &copy; 2024 浙ICP备12345678号", 0},
      {"&nbsp;abc13812345678", kBoth},  // a soft space before the letters in the plain text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideLineKinds(c.Line), c.Kinds) << c.Line;
    EXPECT_EQ(WideLineKinds(Utf8ToCp936(c.Line)), c.Kinds) << c.Line << " in code page 936";
  }
}

struct Lists {
  explicit Lists(ui::ChangeNotifier& notifier)
      : Emails(notifier), Mobiles(notifier), QQ(notifier) {}
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (const TResultList* list : {&Emails, &Mobiles, &QQ}) {
      for (const TResultEntry& entry : list->Entries()) rows.push_back(entry.Value);
      rows.push_back("|");
    }
    return rows;
  }
  TResultList Emails, Mobiles, QQ;
};

std::string Hex(std::string_view text) {
  static const char* const kDigits = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
    hex += ' ';
  }
  return hex;
}

// Lines made of pieces that contacts are written with, that only look like them, and that
// read differently in their bytes and in their plain text, in both code pages and cut
// anywhere: the line check never passes over a row the plain text gives, and a line it
// lets be scanned in its bytes gives the same mobiles.
TEST(WideLineCheck, SameRowsAsThePlainTextOfEveryLine) {
  const std::vector<std::string> pieces = {"13812345678",
                                           "138",
                                           "1234",
                                           "5678",
                                           "86",
                                           "0086",
                                           "+",
                                           "(",
                                           ")",
                                           "-",
                                           " ",
                                           ".",
                                           "_",
                                           "@",
                                           "#",
                                           "qq",
                                           "QQ",
                                           "uin=",
                                           "[at]",
                                           "(dot)",
                                           "&#64;",
                                           "&period;",
                                           "&nbsp;",
                                           "%40",
                                           "abc",
                                           "f",
                                           "x",
                                           "<b>",
                                           ">",
                                           ":",
                                           ",",
                                           "cf",
                                           "data-cfemail=",
                                           "email-protection#",
                                           "firm.cn",
                                           "info",
                                           "换成@",
                                           "号码",
                                           "中文",
                                           "据",
                                           "（",
                                           "）",
                                           "＋",
                                           "－",
                                           "．",
                                           "１",
                                           "３８",
                                           "ａｔ",
                                           "ｔ",
                                           "ｕｉｎ",
                                           "ｕｉｎ＝12345",
                                           "uｉn=12345",
                                           "info[ａｔ]firm.cn",
                                           "[aｔ]",
                                           "(ａt)",
                                           "ｃｆ",
                                           "ｅｍａｉｌ",
                                           "＝",
                                           "[",
                                           "u",
                                           "in",
                                           "Ｑ",
                                           "ｑ",
                                           "＠",
                                           "＃",
                                           "，",
                                           "：",
                                           "！",
                                           "、",
                                           "　",
                                           "\xA3",
                                           "\x81",
                                           "\xB0\xA1",
                                           "\xEF\xBC",
                                           "\xA3\xA8",
                                           "\xA3\xAE",
                                           "\xA3\xB1",
                                           "\xC0\x40"};
  std::mt19937 random(25);
  ui::ChangeNotifier notifier;
  std::string text;  // the lines, each ended by a line feed
  std::vector<unsigned> kinds;
  std::vector<bool> givesRows;
  for (int n = 0; n < 40000; ++n) {
    std::string line;
    const size_t count = 1 + random() % 14;
    for (size_t k = 0; k < count; ++k) line += pieces[random() % pieces.size()];
    if (random() % 2 == 0) line = Utf8ToCp936(line);
    if (random() % 4 == 0) line.erase(random() % (line.size() + 1), 1);

    Lists checked(notifier), proper(notifier);
    TContactLists lists{&checked.Emails, &checked.Mobiles, &checked.QQ, {}, true};
    ExtractExtendedContacts(line, lists);
    std::string plain;
    ContactTextOfLine(line, plain);
    ExtractEmailsExtended(plain, proper.Emails, {});
    ExtractMobilesExtended(plain, proper.Mobiles, {});
    ExtractQQNumbersExtended(plain, proper.QQ, {});
    ASSERT_EQ(checked.Rows(), proper.Rows()) << Hex(line);
    if (line.find('\n') == std::string::npos) {
      text += line + "\n";
      kinds.push_back(WideLineKinds(line));
      givesRows.push_back(checked.Rows() != Lists(notifier).Rows());
    }
  }
  // Marked over the whole text at once, each line is judged as on its own; and the page
  // pass of a harvest marks every line that gives a row.
  TWideLineMarks marks;
  marks.Find(text);
  TPageAnchors anchors;
  anchors.FindExtended(text);
  size_t begin = 0;
  for (size_t k = 0; k < kinds.size(); ++k) {
    const size_t end = text.find('\n', begin);
    ASSERT_EQ(marks.Kinds(begin, end), kinds[k]) << Hex(text.substr(begin, end - begin));
    if (givesRows[k]) {
      ASSERT_TRUE(anchors.AnyIn(begin, end)) << Hex(text.substr(begin, end - begin));
    }
    begin = end + 1;
  }
}

}  // namespace
}  // namespace qm
