#include "crawl/character_references.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(DecodeCharacterReferences, Table) {
  struct Row {
    const char* text;
    bool inAttribute;
    const char* expected;
  };
  const Row rows[] = {
      {"&amp;&lt;&gt;&quot;&apos;", false, "&<>\"'"},
      {"&AMP;&COPY &period;&commat;&sol;&comma;", false, "&\xC2\xA9 .@/,"},
      {"&nbsp;&eacute;&Eacute&yuml;&frac34;&sup2;", false,
       "\xC2\xA0\xC3\xA9\xC3\x89\xC3\xBF\xC2\xBE\xC2\xB2"},
      // Old names read without ";", the longest first; newer ones only with it.
      {"&ampx &notit; &apos &copy2", false,
       "&x \xC2\xACit; &apos \xC2\xA9"
       "2"},
      // In an attribute, a name without ";" before "=" or a letter or digit is text.
      {"?a=1&copy=2&ampx&amp=&amp;=&lt.", true, "?a=1&copy=2&ampx&amp=&=<."},
      {"&unknown; & &; a&b &#; &#x; &#xg", false, "&unknown; & &; a&b &#; &#x; &#xg"},
      {"&#65;&#x41;&#X61&#0065", false, "AAaA"},
      {"&#x1F600;&#20013;", false, "\xF0\x9F\x98\x80\xE4\xB8\xAD"},
      // No character, a surrogate or beyond the last code point: the replacement character.
      {"&#0;&#xD800;&#x110000;&#99999999999999999999999;", false,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      // C1 controls are the windows-1252 characters pages meant; unmapped ones stay.
      {"&#128;&#x92;&#x81;", false, "\xE2\x82\xAC\xE2\x80\x99\xC2\x81"},
      {"&VerticalLine;&VerticalLinex;", false, "|&VerticalLinex;"},
      // The first and last names of the table and of a first letter.
      {"&AElig;&Agrave;&zwnj;&zwj;&yuml;&Yuml;&bdquo;&zz;&Z;", false,
       "\xC3\x86\xC3\x80\xE2\x80\x8C\xE2\x80\x8D\xC3\xBF\xC5\xB8\xE2\x80\x9E&zz;&Z;"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(DecodeCharacterReferences(row.text, row.inAttribute), row.expected);
  }
}

TEST(AppendCharacterReference, TakesOnlyTheReference) {
  std::string out;
  EXPECT_EQ(AppendCharacterReference("&lt;rest", false, out), 4u);
  EXPECT_EQ(AppendCharacterReference("&ltrest", false, out), 3u);
  // Leading zeros are read however many there are.
  EXPECT_EQ(AppendCharacterReference("&#" + std::string(40, '0') + "65x", false, out), 44u);
  EXPECT_EQ(AppendCharacterReference("&zz;", false, out), 0u);
  EXPECT_EQ(AppendCharacterReference("&", false, out), 0u);
  EXPECT_EQ(out, "<<A");
}

}  // namespace
}  // namespace qm
