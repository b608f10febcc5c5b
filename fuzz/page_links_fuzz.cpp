// Any bytes as a page: the tokenizer reads every byte once and ends at the page's end, the
// links keep no credentials and their texts stay collapsed and within their cap, valid UTF-8
// stays valid, the cap on links holds, and a comment before the page changes no link.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crawl/character_references.h"
#include "crawl/html_tokens.h"
#include "crawl/page_links.h"
#include "fuzz_check.h"
#include "http/url_resolve.h"
#include "text/cp936.h"

namespace {

using qm::fuzz::Check;

void CheckTokens(std::string_view page) {
  qm::THtmlTokenizer tokens(page, {"href", "title"});
  size_t before = 0;
  for (;;) {
    const qm::EHtmlToken token = tokens.Next();
    if (token == qm::EHtmlToken::End) break;
    Check(tokens.Position() > before, "a token that reads nothing");
    Check(tokens.Position() <= page.size(), "a token beyond the page");
    if (token == qm::EHtmlToken::Text || token == qm::EHtmlToken::RawText) {
      Check(!tokens.Text().empty(), "an empty text token");
      Check(tokens.Text().data() + tokens.Text().size() == page.data() + tokens.Position(),
            "text that does not end where the tokenizer stands");
    }
    for (char c : tokens.TagName()) Check(!(c >= 'A' && c <= 'Z'), "a tag name not in lower case");
    before = tokens.Position();
  }
  Check(tokens.Position() == page.size(), "tokens end before the page does");
}

void CheckLink(const qm::TPageLink& link, bool validPage) {
  const qm::TUriReference parts = qm::ParseUriReference(link.Address);
  Check(!parts.Authority || parts.Authority->find('@') == std::string::npos,
        "a link with credentials");
  const std::string& text = link.Text;
  Check(text.size() <= 256, "link text beyond its cap");
  Check(text.empty() || (text.front() != ' ' && text.back() != ' '), "link text not trimmed");
  Check(text.find("  ") == std::string::npos && text.find_first_of("\t\n\r\f") == std::string::npos,
        "link text blanks not collapsed");
  if (validPage) {
    Check(qm::IsValidUtf8(text), "link text of a UTF-8 page is not UTF-8");
    Check(qm::IsValidUtf8(link.Address), "address of a UTF-8 page is not UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const char* const address = "http://example.com/d/p.html";
  CheckTokens(page);

  const bool validPage = qm::IsValidUtf8(page);
  if (validPage) {
    Check(qm::IsValidUtf8(qm::DecodeCharacterReferences(page, true)), "decoding breaks UTF-8");
  }
  const std::vector<qm::TPageLink> links = qm::ExtractPageLinks(page, address);
  for (const qm::TPageLink& link : links) CheckLink(link, validPage);

  Check(qm::ExtractPageLinks(page, address, {.MaxLinks = 2}).size() <= 2, "link cap passed");

  const std::vector<qm::TPageLink> afterComment =
      qm::ExtractPageLinks("<!---->" + std::string(page), address);
  Check(afterComment.size() == links.size(), "a comment before the page changes its links");
  for (size_t i = 0; i < links.size(); ++i) {
    Check(afterComment[i].Address == links[i].Address && afterComment[i].Text == links[i].Text,
          "a comment before the page changes a link");
  }
  return 0;
}
