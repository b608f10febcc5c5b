// Which pages show signs that their scripts write the text they show.
#include "render/script_signs.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

const std::string kText(400, 'w');

TEST(ScriptSigns, EachSignAndPagesWithoutOne) {
  const struct {
    const char* name;
    std::string html;
    TScriptSign sign;
  } rows[] = {
      {"mailto in a script", "<p>" + kText + "</p><script>location='mailto:'+u</script>",
       TScriptSign::ContactScript},
      {"at sign", "<p>" + kText + "</p><script>x = u + '@' + d</script>",
       TScriptSign::ContactScript},
      {"邮箱", "<p>" + kText + "</p><script>show('邮箱')</script>", TScriptSign::ContactScript},
      {"fromCharCode", "<p>" + kText + "</p><SCRIPT>String.FromCharCode(64)</SCRIPT>",
       TScriptSign::ContactScript},
      {"atob", "<p>" + kText + "</p><script>atob('YUBiLmNu')</script>", TScriptSign::ContactScript},
      {"document.write", "<p>" + kText + "</p><script>document.write(x)</script>",
       TScriptSign::ContactScript},
      {"empty app root", "<div id=\"app\">\n </div><p>" + kText + "</p><script src=a.js></script>",
       TScriptSign::EmptyApplicationRoot},
      {"empty root, upper case id", "<main id=' ROOT '></main><p>" + kText + "</p>",
       TScriptSign::EmptyApplicationRoot},
      {"almost no text", "<title>Shop</title><body><script src=/bundle.js></script></body>",
       TScriptSign::AlmostNoText},
      {"ordinary page", "<p>" + kText + " a@b.cn</p><script src=x.js></script>", TScriptSign::None},
      {"root with content", "<div id=app><p>" + kText + "</p></div>", TScriptSign::None},
      {"no scripts, little text", "<p>hello</p>", TScriptSign::None},
      {"at sign in a style only", "<style>@media print {}</style><p>" + kText + "</p>",
       TScriptSign::None},
      {"at sign in a comment", "<!-- <script>a@b</script> --><p>" + kText + "</p>",
       TScriptSign::None},
      {"empty", "", TScriptSign::None},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FindScriptSign(row.html), row.sign);
  }
  EXPECT_STREQ(ScriptSignName(TScriptSign::ContactScript), "a script writes contacts");
}

TEST(ScriptSigns, HostileMarkupTakesOnePass) {
  const std::string open(4u << 20, '<');
  EXPECT_EQ(FindScriptSign(open), TScriptSign::None);
  std::string scripts;
  for (int i = 0; i < 100000; ++i) scripts += "<script>var a=1;</script>";
  EXPECT_EQ(FindScriptSign(scripts), TScriptSign::AlmostNoText);
  EXPECT_EQ(FindScriptSign("<script>" + std::string(4u << 20, 'x')), TScriptSign::AlmostNoText);
}

}  // namespace
}  // namespace qm
