#include "crawl/html_tokens.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

// "<name href=.. title=..>" for start tags (" /" when self-closing), "</name>", "!" for
// comments and the like, T(..) for text, R(..) for raw text.
std::string Tokens(std::string_view html) {
  THtmlTokenizer tokens(html, {"href", "title"});
  std::string out;
  for (;;) {
    switch (tokens.Next()) {
      case EHtmlToken::End:
        EXPECT_EQ(tokens.Position(), html.size());
        return out;
      case EHtmlToken::Text:
        out += "T(" + std::string(tokens.Text()) + ")";
        break;
      case EHtmlToken::RawText:
        out += "R(" + std::string(tokens.Text()) + ")";
        break;
      case EHtmlToken::StartTag:
        out += "<" + std::string(tokens.TagName());
        for (size_t i = 0; i < 2; ++i) {
          if (const auto value = tokens.Attribute(i)) {
            out += std::string(i == 0 ? " href=" : " title=") + std::string(*value);
          }
        }
        out += tokens.SelfClosing() ? " />" : ">";
        break;
      case EHtmlToken::EndTag:
        out += "</" + std::string(tokens.TagName()) + ">";
        break;
      case EHtmlToken::Other:
        out += "!";
        break;
    }
  }
}

TEST(THtmlTokenizer, Table) {
  struct Row {
    const char* html;
    const char* expected;
  };
  const Row rows[] = {
      // Attributes: names in any case, the first of a name wins, values quoted or not.
      {"<A HREF=\"x\" Title='y' data=z>t</a>", "<a href=x title=y>T(t)</a>"},
      {"<a href=1 HREF=2 title>", "<a href=1 title=>"},
      {"<a title = \"a>b\" href=c\"d'e<f>", "<a href=c\"d'e<f title=a>b>"},
      {"<a \"href\"=x =href=y href=\"z\"title=w>", "<a href=z title=w>"},
      {"<a\"b=c>", "<a\"b=c>"},
      {"<br/><a href=\"x\"/><a href=x/><a / href=y>", "<br /><a href=x /><a href=x/><a href=y>"},
      // Comments and what browsers read as comments.
      {"<!-->a<!--->b<!---->c<!-- x --!>d<!-- --!-> <a> -->e<!--x--y<!--->f",
       "!T(a)!T(b)!T(c)!T(d)!T(e)!T(f)"},
      {"<!DOCTYPE html><?php echo '<a>'; ?></><// x></3>g", "!!T('; ?>)!!!T(g)"},
      {"<!--<a href=x>", "!"},
      {"a < b <3 <", "T(a < b <3 <)"},
      // Raw text and RCDATA end only at their own end tag.
      {"<script>if (a<b) x=\"</scrip\"+\"t>\"</script >c",
       "<script>R(if (a<b) x=\"</scrip\"+\"t>\")</script>T(c)"},
      {"<SCRIPT>x</ScRiPt>", "<script>R(x)</script>"},
      {"<script>a</script x=\">\">b", "<script>R(a)</script>T(b)"},
      {"<script><!--<script></script><a>--></script>y",
       "<script>R(<!--<script></script><a>-->)</script>T(y)"},
      {"<script><!--</script>y", "<script>R(<!--)</script>T(y)"},
      {"<script><!--><a></script>", "<script>R(<!--><a>)</script>"},
      {"<script><!-- <script> --><a></script>", "<script>R(<!-- <script> --><a>)</script>"},
      {"<title>&amp;<b></title>t", "<title>T(&amp;<b>)</title>T(t)"},
      {"<textarea/></textarea2></textarea>", "<textarea />T(</textarea2>)</textarea>"},
      {"<style>a</style", "<style>R(a</style)"},
      {"<plaintext></plaintext><a>", "<plaintext>R(</plaintext><a>)"},
      {"<iframe src=f><a href=i></iframe>", "<iframe>R(<a href=i>)</iframe>"},
      {"<xmp><a></xmp><noembed><a></noembed><noframes><a></noframes>",
       "<xmp>R(<a>)</xmp><noembed>R(<a>)</noembed><noframes>R(<a>)</noframes>"},
      {"<noscript><a href=n></noscript>", "<noscript><a href=n></noscript>"},
      // A tag the page never ends is no tag.
      {"t<a href=\"x>y", "T(t)"},
      {"<a href=x", ""},
      {"<abcdefghijklmnopq href=x>", "< href=x>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.html);
    EXPECT_EQ(Tokens(row.html), row.expected);
  }
}

// Text of every length up to past the first look ahead ends at the first "<" of markup.
TEST(THtmlTokenizer, TextEndsAtItsMarkup) {
  for (size_t length = 0; length < 80; ++length) {
    const std::string text(length, 'x');
    EXPECT_EQ(Tokens(text + "< 3<a>"), "T(" + text + "< 3)<a>") << length;
  }
}

// Tokens as NextWanted gives them, for a caller of links and images.
std::string WantedTokens(std::string_view html, bool withText) {
  THtmlTokenizer tokens(html, {"href", "alt"}, {"a", "img"});
  std::string out;
  for (;;) {
    switch (tokens.NextWanted(withText, html.size())) {
      case EHtmlToken::End:
        return out;
      case EHtmlToken::Text:
        out += "T(" + std::string(tokens.Text()) + ")";
        break;
      case EHtmlToken::StartTag:
        out += "<" + std::string(tokens.TagName());
        if (const auto href = tokens.Attribute(0)) out += " href=" + std::string(*href);
        if (const auto alt = tokens.Attribute(1)) out += " alt=" + std::string(*alt);
        out += ">";
        break;
      case EHtmlToken::EndTag:
        out += "</" + std::string(tokens.TagName()) + ">";
        break;
      default:
        out += "!";
        break;
    }
  }
}

TEST(THtmlTokenizer, WantedTags) {
  using namespace std::string_literals;
  const std::string html =
      "<p href=p>t<A HREF=h alt=x>u</a><IMG alt=i href=j><img/><!-- c -->v"
      "<script>w</script><abbr href=b><imgs alt=s><a\0 href=z></p>"s;
  EXPECT_EQ(WantedTokens(html, true), "T(t)<a href=h alt=x>T(u)</a><img href=j alt=i><img>T(v)!");
  EXPECT_EQ(WantedTokens(html, false), "<a href=h alt=x></a><img href=j alt=i><img>!");

  // Other tags keep no attributes, and what a caller reads past, it is told of in time.
  THtmlTokenizer tokens("<p href=p><p><p><a href=x>", {"href"}, {"a"});
  EXPECT_EQ(tokens.Next(), EHtmlToken::StartTag);
  EXPECT_FALSE(tokens.Attribute(0));
  EXPECT_EQ(tokens.NextWanted(false, 11), EHtmlToken::Other);
  EXPECT_EQ(tokens.Position(), 13u);
  EXPECT_EQ(tokens.NextWanted(false, 100), EHtmlToken::StartTag);
  EXPECT_EQ(tokens.Attribute(0), "x");
}

}  // namespace
}  // namespace qm
