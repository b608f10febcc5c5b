#include "crawl/contact_page_rank.h"

#include <string>

#include "crawl/percent_encoding.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

// Lower-case ASCII words and UTF-8 Chinese words (simplified and traditional); the pinyin
// forms are what Chinese sites name such pages ("lianxi", "lxwm" for 联系我们).
constexpr std::string_view kContactWords[] = {
    "联系",    "聯繫",      "聯系",    "联络",   "聯絡", "客服", "contact",
    "kontakt", "impressum", "imprint", "lianxi", "lxwm", "kefu"};
constexpr std::string_view kAboutWords[] = {"关于",    "關於",   "简介",  "簡介",
                                            "团队",    "團隊",   "about", "team",
                                            "company", "guanyu", "gywm",  "jianjie"};

bool ContainsAny(std::string_view text, const auto& words) {
  for (std::string_view word : words) {
    if (text.find(word) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

TContactPageRank RankContactPage(std::string_view linkText, std::string_view address) {
  // The host says nothing: every followed link shares it.
  const TUriReference parts = ParseUriReference(address);
  const std::string text = AsciiLower(linkText);
  // Chinese words in a path usually arrive percent-encoded.
  const std::string location =
      AsciiLower(PercentDecoded(parts.Path + "?" + parts.Query.value_or("")));
  if (ContainsAny(text, kContactWords) || ContainsAny(location, kContactWords)) {
    return TContactPageRank::Contact;
  }
  if (ContainsAny(text, kAboutWords) || ContainsAny(location, kAboutWords)) {
    return TContactPageRank::About;
  }
  return TContactPageRank::Other;
}

}  // namespace qm
