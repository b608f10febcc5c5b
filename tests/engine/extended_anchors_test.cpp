#include "engine/extended_anchors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/page_anchors.h"

namespace qm {
namespace {

// Each form placed at every offset of the blocks the scans read at once, and with text or
// the end of the line after it: the line check reports its kind and the page pass marks the
// form's first byte; what only looks like a form is neither reported nor marked.
TEST(ExtendedAnchors, EachFormIsFoundWhereverItStands) {
  constexpr unsigned kOther = kExtendedMobileAnchor | kExtendedOtherAnchor;
  const std::vector<std::pair<std::string, unsigned>> forms = {
      {"@", kOther},
      {"&#", kOther},
      {"&commat;", kOther},
      {"&COMMAT;", kOther},
      {"&period;", kOther},
      {"%40", kOther},
      {"[at]", kOther},
      {"(AT)", kOther},
      {"{at}", kOther},
      {"[dot]", kOther},
      {"(Dot)", kOther},
      {"{DO", kOther},
      {"cf", kOther},
      {"n#", kOther},
      {"qq", kOther},
      {"QQ", kOther},
      {"qQ", kOther},
      {"uin=", kOther},
      {"UIN=", kOther},
      {"\xE6\x8D\xA2", kOther},  // 换
      {"\xBB\xBB", kOther},      // 换 in code page 936
      {"\xEF\xBC\x90", kOther},  // ０
      {"\xEF\xBC\x99", kOther},  // ９
      {"\xEF\xBC\xA0", kOther},  // ＠
      {"\xEF\xBC\x88", kOther},  // （
      {"\xEF\xBC\xBB", kOther},  // ［
      {"\xEF\xBC\xB1", kOther},  // Ｑ
      {"\xEF\xBD\x91", kOther},  // ｑ
      {"\xEF\xBD\x9B", kOther},  // ｛
      {"\xA3\xB0", kOther},      // ０ in code page 936
      {"\xA3\xB9", kOther},
      {"\xA3\xC0", kOther},  // ＠
      {"\xA3\xA8", kOther},  // （
      {"\xA3\xDB", kOther},  // ［
      {"\xA3\xD1", kOther},  // Ｑ
      {"\xA3\xF1", kOther},  // ｑ
      {"\xA3\xFB", kOther},  // ｛
      {"13812345678", kExtendedMobileAnchor},
      {"138-1234-5678", kExtendedMobileAnchor},
      {"&copy;", 0},
      {"&amp;", 0},
      {"align=", 0},
      {"uin", 0},
      {"%20", 0},
      {"(a)", 0},
      {"cF", 0},
      {"q q", 0},
      {"\xEF\xBC\x8C", 0},  // ，
      {"\xEF\xBC\x9A", 0},  // ：
      {"\xEF\xBC\x89", 0},  // ）
      {"\xEF\xBC\x9B", 0},  // ；
      {"\xE6\x8D\xAE", 0},  // 据
      {"\xA3\xAC", 0},      // ， in code page 936
      {"1381234567", 0},
  };
  for (const auto& [form, kind] : forms) {
    for (size_t offset = 0; offset <= 80; ++offset) {
      for (size_t after : {0, 1, 9, 40}) {
        const std::string line = std::string(offset, 'x') + form + std::string(after, 'x');
        SCOPED_TRACE("\"" + form + "\" at " + std::to_string(offset) + ", then " +
                     std::to_string(after) + " bytes");
        EXPECT_EQ(ExtendedAnchorKinds(line), kind);
        TPageAnchors anchors;
        anchors.FindExtended(line);
        EXPECT_EQ(anchors.AnyIn(offset, offset + 1), kind != 0);
        EXPECT_EQ(anchors.AnyIn(0, line.size()), kind != 0);
      }
    }
  }
}

}  // namespace
}  // namespace qm
