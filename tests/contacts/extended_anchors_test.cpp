#include "contacts/extended_anchors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contacts/page_anchors.h"

namespace qm {
namespace {

// Each form placed at every offset of the blocks the scans read at once, and with text or
// the end of the line after it: the page pass marks the form's first byte, or nothing when
// it only looks like a form, and the line check reports the kinds the line needs read (a
// line with bytes beyond ASCII by what they can give in its plain text).
TEST(ExtendedAnchors, EachFormIsFoundWhereverItStands) {
  constexpr unsigned kMobile = kExtendedMobileAnchor;
  constexpr unsigned kOther = kExtendedMobileAnchor | kExtendedOtherAnchor;
  const struct {
    std::string Form;
    bool Marked;
    unsigned Kinds;
  } forms[] = {
      {"@", true, kOther},
      {"&#", true, kOther},
      {"&commat;", true, kOther},
      {"&COMMAT;", true, kOther},
      {"&period;", true, kOther},
      {"%40", true, kOther},
      {"[at]", true, kOther},
      {"(AT)", true, kOther},
      {"{at}", true, kOther},
      {"[dot]", true, kOther},
      {"(Dot)", true, kOther},
      {"{DO", true, kOther},
      {"cf", true, kOther},
      {"n#", true, kOther},
      {"qq", true, kOther},
      {"QQ", true, kOther},
      {"qQ", true, kOther},
      {"uin=", true, kOther},
      {"UIN=", true, kOther},
      {"13812345678", true, kMobile},
      {"138-1234-5678", true, kMobile},
      {"\xEF\xBC\x90", true, kOther},  // ０
      {"\xEF\xBC\x99", true, kOther},  // ９
      {"\xEF\xBC\xA0", true, kOther},  // ＠
      {"\xEF\xBC\x88", true, 0},  // （ without "at" after it
      {"\xEF\xBC\x88" "at", true, kOther},
      {"\xEF\xBC\xBB", true, 0},  // ［
      {"\xEF\xBC\xB1", true, kOther},  // Ｑ
      {"\xEF\xBC\x8D", true, kOther},  // －
      {"\xEF\xBD\x91", true, kOther},  // ｑ
      {"\xEF\xBD\x9B", true, 0},  // ｛
      {"\xEF\xBD\x9B" "At", true, kOther},
      {"\xA3\xB0", true, kOther},      // ０ in code page 936
      {"\xA3\xB9", true, kOther},
      {"\xA3\xC0", true, kOther},  // ＠
      {"\xA3\xA8", true, 0},  // （
      {"\xA3\xA8" "at", true, kOther},
      {"\xA3\xAD", true, kOther},  // －
      {"\xA3\xDB", true, 0},  // ［
      {"\xA3\xD1", true, kOther},  // Ｑ
      {"\xA3\xF1", true, kOther},  // ｑ
      {"\xA3\xFB", true, 0},  // ｛
      {"\xEF\xBC\xA1", true, kOther},  // Ａ
      {"\xEF\xBD\x81", true, kOther},  // ａ
      {"\xEF\xBC\x83", true, 0},       // ＃
      {"uin\xEF\xBC\x9D", true, kOther},  // uin＝
      {"\xA3\xC1", true, kOther},       // Ａ in code page 936
      {"\xA3\xE1", true, kOther},       // ａ
      {"\xA3\xE1\xA3\xF4", true, kOther},  // ａｔ
      {"\xA3\xA3", true, 0},            // ＃
      {"uin\xA3\xBD", true, kOther},    // uin＝
      {"&copy;", false, 0},
      {"&amp;", false, 0},
      {"align=", false, 0},
      {"uin", false, 0},
      {"%20", false, 0},
      {"(a)", false, 0},
      {"cF", false, 0},
      {"q q", false, 0},
      {"1381234567", false, 0},
      {"\xEF\xBC\x8C", false, 0},  // ，
      {"\xEF\xBC\x9A", false, 0},  // ：
      {"\xEF\xBC\x89", false, 0},  // ）
      {"\xEF\xBC\x9B", false, 0},  // ；
      {"\xE6\x8D\xAE", false, 0},  // 据
      {"\xA3\xAC", false, 0},      // ， in code page 936
      {"\xE6\x8D\xA2", false, 0},  // 换, which needs an "@" beside it
      {"\xBB\xBB", false, 0},      // 换 in code page 936
      {"\xE4\xB8\xA3\xE4\xB8\xAD", false, 0},  // 丣中: A3 E4 without a full-width form
  };
  for (const auto& form : forms) {
    for (size_t offset = 0; offset <= 80; ++offset) {
      for (size_t after : {0, 1, 9, 40}) {
        const std::string line = std::string(offset, 'x') + form.Form + std::string(after, 'x');
        SCOPED_TRACE("\"" + form.Form + "\" at " + std::to_string(offset) + ", then " +
                     std::to_string(after) + " bytes");
        EXPECT_EQ(ExtendedAnchorKinds(line), form.Kinds);
        TPageAnchors anchors;
        anchors.FindExtended(line);
        EXPECT_EQ(anchors.AnyIn(offset, offset + 1), form.Marked);
        EXPECT_EQ(anchors.AnyIn(0, line.size()), form.Marked);
      }
    }
  }
}

}  // namespace
}  // namespace qm
