#include "contacts/page_anchors.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "contacts/extractors.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm {
namespace {

// One anchor at every position of texts around the 64-byte words, asked about through
// ranges that start and end on either side of it.
TEST(PageAnchors, AnAnchorIsFoundInExactlyTheRangesHoldingIt) {
  for (size_t size : {3, 63, 64, 65, 74, 75, 139, 200}) {
    for (size_t at = 0; at + 2 < size; ++at) {
      std::string text(size, ' ');
      text.replace(at, 2, "@a");
      TPageAnchors anchors;
      anchors.Find(text);
      for (size_t begin : {size_t{0}, at > 0 ? at - 1 : 0, at, at + 1}) {
        for (size_t end : {at, at + 1, at + 2, size, size + 100}) {
          EXPECT_EQ(anchors.AnyIn(begin, end), begin <= at && at < end)
              << "size " << size << ", anchor at " << at << ", range " << begin << "-" << end;
        }
      }
    }
  }
  TPageAnchors none;
  none.Find("");
  EXPECT_FALSE(none.AnyIn(0, 10));
}

// Pages of random pieces, scanned as a worker does (only the lines the page pass marks),
// give the rows of every line scanned in full.
TEST(PageAnchors, LinesPassedOverHoldNothingTheScannersWouldTake) {
  const std::vector<std::string> pieces = {
      "@",  "1",  "13812345678", "0",        "12345",        "9", "q", "Q", "qq",
      "QQ", "nc", "tencent",     "ab",       "cd.ef",        ".", "-", " ", "\r\n",
      "\n", "\r", "\xC1\xAA",    "\x81\x40", "\xE8\x81\x94", "x"};
  std::mt19937 random(7);
  ui::ChangeNotifier notifier;
  TResultList full[3] = {TResultList(notifier), TResultList(notifier), TResultList(notifier)};
  TResultList marked[3] = {TResultList(notifier), TResultList(notifier), TResultList(notifier)};
  TPageLines lines;
  TPageAnchors anchors;
  for (int page = 0; page < 300; ++page) {
    std::string text;
    const size_t length = random() % 3000;
    while (text.size() < length) text += pieces[random() % pieces.size()];
    lines.AssignText(text);
    anchors.Find(lines.Text());
    for (auto line = lines.begin(); line != lines.end(); ++line) {
      ExtractEmails(*line, full[0]);
      ExtractMobiles(*line, full[1]);
      ExtractQQNumbers(*line, full[2]);
      if (anchors.AnyIn(line.Begin(), line.End())) {
        ExtractContacts(*line, {.Emails = &marked[0], .Mobiles = &marked[1], .QQNumbers = &marked[2]});
      }
    }
  }
  for (int kind = 0; kind < 3; ++kind) {
    ASSERT_GT(full[kind].EntryCount(), 0);
    EXPECT_EQ(marked[kind].Snapshot(), full[kind].Snapshot()) << "kind " << kind;
  }
}

// Lines whose only anchor is written in full-width forms give rows with extended
// recognition; the extended page pass marks them wherever they stand on a page, in UTF-8
// and in code page 936.
TEST(PageAnchors, ExtendedPassMarksLinesWhoseAnchorIsFullWidth) {
  const std::string lines[] = {
      "联系邮箱：info[ａｔ]firm.cn",
      "联系邮箱：info[aｔ]firm.cn",
      "联系邮箱：info(ａt)firm.cn",
      "联系邮箱：info［at］firm.cn",
      "客服 ｕｉｎ=12345 在线",
      "客服 ｕｉn=12345",
      "客服 uｉｎ=12345",
      "客服 uin＝12345",
      "客服 Ｕｉｎ＝12345",
      "客服 ｑq：12345",
      "<span data-ｃｆemail=\"20494e464f604649524d0e434e\">邮箱</span>",
      "<span data-cｆemail=\"20494e464f604649524d0e434e\">邮箱</span>",
      "<a href=\"/cdn-cgi/l/email-protection＃20494e464f604649524d0e434e\">邮箱</a>",
      "<a href=\"/cdn-cgi/l/email-protectioｎ#20494e464f604649524d0e434e\">邮箱</a>",
  };
  const std::string filler = "本公司主营电子产品，欢迎来电咨询：地址北京市海淀区中关村大街";
  ui::ChangeNotifier notifier;
  TPageLines page;
  TPageAnchors anchors;
  for (const std::string& utf8 : lines) {
    for (const std::string& line : {utf8, Utf8ToCp936(utf8)}) {
      for (size_t lead = 0; lead <= 70; lead += 7) {
        SCOPED_TRACE(utf8 + ", " + std::to_string(lead) + " bytes before it" +
                     (line == utf8 ? "" : ", code page 936"));
        TResultList emails(notifier), mobiles(notifier), qq(notifier);
        const std::string fill = line == utf8 ? filler : Utf8ToCp936(filler);
        page.AssignText(fill + "\n" + std::string(lead, ' ') + line + "\n" + fill);
        anchors.FindExtended(page.Text());
        size_t rows = 0, marked = 0;
        for (auto at = page.begin(); at != page.end(); ++at) {
          const int before = emails.EntryCount() + qq.EntryCount();
          ExtractContacts(*at, {&emails, &mobiles, &qq, {}, true});
          if (emails.EntryCount() + qq.EntryCount() == before) continue;
          ++rows;
          if (anchors.AnyIn(at.Begin(), at.End())) ++marked;
        }
        EXPECT_EQ(rows, 1u);
        EXPECT_EQ(marked, rows);
      }
    }
  }
}

}  // namespace
}  // namespace qm
