#include "crawl/page_links.h"

#include <optional>
#include <unordered_map>

#include "crawl/character_references.h"
#include "crawl/html_tokens.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

// A link's words are enough to rank it; an unclosed <a> may hold the rest of the page.
constexpr size_t kMaxLinkText = 256;
// How often the scan looks at the clock and the stop flag: a few microseconds of work.
constexpr size_t kLimitCheckBytes = 32 * 1024;
constexpr size_t kNoAnchor = static_cast<size_t>(-1);

// The attributes the tokenizer keeps, in this order.
enum EKeptAttribute : size_t { kHref, kSrc, kAlt, kTitle, kHttpEquiv, kContent };

bool IsHtmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

void AppendCollapsedByte(std::string& text, char c) {
  if (!IsHtmlBlank(c)) {
    text += c;
  } else if (!text.empty() && text.back() != ' ') {
    text += ' ';
  }
}

// Appends `raw` with its references decoded and its blanks collapsed, and stops once the
// text is longer than a link's text can be: enough to cut it at a character later.
void AppendCollapsed(std::string& text, std::string_view raw, bool inAttribute) {
  std::string decoded;
  for (size_t at = 0; at < raw.size() && text.size() <= kMaxLinkText;) {
    if (raw[at] == '&') {
      decoded.clear();
      const size_t taken = AppendCharacterReference(raw.substr(at), inAttribute, decoded);
      if (taken > 0) {
        for (char c : decoded) AppendCollapsedByte(text, c);
        at += taken;
        continue;
      }
    }
    if (IsHtmlBlank(raw[at])) {
      AppendCollapsedByte(text, raw[at++]);
      continue;
    }
    // A run of other bytes goes in at once, as far as the loop would take it byte by byte.
    size_t end = at + 1;
    const size_t most = at + (kMaxLinkText + 1 - text.size());
    while (end < raw.size() && end < most && raw[end] != '&' && !IsHtmlBlank(raw[end])) ++end;
    text.append(raw.substr(at, end - at));
    at = end;
  }
}

void AppendPhrase(std::string& text, std::string_view rawAttribute) {
  if (rawAttribute.empty() || text.size() > kMaxLinkText) return;
  if (!text.empty() && text.back() != ' ') text += ' ';
  AppendCollapsed(text, rawAttribute, true);
}

// Cut at a character boundary of the UTF-8 text, without a trailing blank.
void LimitText(std::string& text) {
  if (text.size() > kMaxLinkText) {
    size_t end = kMaxLinkText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
  }
  if (!text.empty() && text.back() == ' ') text.pop_back();
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
  while (!text.empty() && IsHtmlBlank(text.front())) text.remove_prefix(1);
  return text;
}

// The address in a refresh's content, "5; url='next.html'", or nothing.
std::string_view RefreshTarget(std::string_view content) {
  const size_t separator = content.find_first_of(";,");
  if (separator == std::string_view::npos) return {};
  std::string_view rest = WithoutLeadingBlanks(content.substr(separator + 1));
  if (EqualsAsciiLower(rest.substr(0, 3), "url")) {
    const std::string_view afterName = WithoutLeadingBlanks(rest.substr(3));
    if (!afterName.empty() && afterName.front() == '=') {
      rest = WithoutLeadingBlanks(afterName.substr(1));
    }
  }
  if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
    const char quote = rest.front();
    rest.remove_prefix(1);
    rest = rest.substr(0, rest.find(quote));
  }
  return rest;
}

// Browsers drop leading and trailing blanks and every tab and line break inside an address,
// and read "\" as "/".
std::string CleanReference(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    out += c == '\\' ? '/' : c;
  }
  const size_t first = out.find_first_not_of(" \f");
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(" \f") - first + 1);
}

// A name or password in the address: the crawl neither sends nor records a page's
// credentials.
bool CarriesUserInfo(std::string_view address) {
  const TUriView parts = ParseUriView(address);
  return parts.Authority && parts.Authority->find('@') != std::string_view::npos;
}

bool LimitReached(const TLinkScanLimits& limits) {
  if (limits.Stop != nullptr && limits.Stop->load(std::memory_order_relaxed)) return true;
  return limits.Deadline != std::chrono::steady_clock::time_point::max() &&
         std::chrono::steady_clock::now() >= limits.Deadline;
}

// The links of a page as they are found, their references not yet resolved: the page's
// base may come after them.
class TLinkCollector {
 public:
  explicit TLinkCollector(size_t maxLinks) : MaxLinks(maxLinks) {}

  enum class EAdded { Added, Dropped, Full };

  EAdded Add(std::string_view decodedReference, std::string text) {
    std::string reference = CleanReference(decodedReference);
    if (reference.empty() || reference.front() == '#' || CarriesUserInfo(reference)) {
      return EAdded::Dropped;
    }
    if (Links.size() >= MaxLinks) return EAdded::Full;
    Links.push_back({std::move(reference), std::move(text)});
    return EAdded::Added;
  }

  std::string& TextAt(size_t index) { return Links[index].Text; }
  size_t Count() const { return Links.size(); }

  std::vector<TPageLink> Resolved(std::string_view base) && {
    std::vector<TPageLink> links;
    links.reserve(Links.size());
    // A reference the page repeats is resolved once.
    std::unordered_map<std::string_view, std::optional<std::string>> resolved;
    for (TPageLink& link : Links) {
      const auto [target, first] = resolved.try_emplace(link.Address);
      if (first) {
        std::string address = ResolveReference(base, link.Address);
        if (!CarriesUserInfo(address)) target->second = std::move(address);
      }
      if (!target->second) continue;
      LimitText(link.Text);
      links.push_back({*target->second, std::move(link.Text)});
    }
    return links;
  }

 private:
  size_t MaxLinks;
  std::vector<TPageLink> Links;
};

}  // namespace

std::vector<TPageLink> ExtractPageLinks(std::string_view page, std::string_view pageAddress,
                                        const TLinkScanLimits& limits) {
  THtmlTokenizer tokens(page, {"href", "src", "alt", "title", "http-equiv", "content"});
  TLinkCollector links(limits.MaxLinks);
  std::string base(pageAddress);
  bool baseSeen = false;
  // The open <a> that is a link gathers the text up to its end tag or the next <a>; an <a>
  // inside another does not nest.
  size_t openAnchor = kNoAnchor;
  std::string_view openAnchorTitle;
  const auto closeAnchor = [&] {
    if (openAnchor != kNoAnchor) AppendPhrase(links.TextAt(openAnchor), openAnchorTitle);
    openAnchor = kNoAnchor;
  };
  const auto attribute = [&](EKeptAttribute kept) {
    return tokens.Attribute(kept).value_or(std::string_view());
  };

  size_t nextLimitCheck = 0;
  bool full = false;
  while (!full) {
    if (tokens.Position() >= nextLimitCheck) {
      if (LimitReached(limits)) break;
      nextLimitCheck = tokens.Position() + kLimitCheckBytes;
    }
    const EHtmlToken token = tokens.Next();
    if (token == EHtmlToken::End) break;
    if (token == EHtmlToken::Text) {
      if (openAnchor != kNoAnchor) AppendCollapsed(links.TextAt(openAnchor), tokens.Text(), false);
      continue;
    }
    if (token == EHtmlToken::EndTag && tokens.TagName() == "a") closeAnchor();
    if (token != EHtmlToken::StartTag) continue;

    const std::string_view tag = tokens.TagName();
    TLinkCollector::EAdded added = TLinkCollector::EAdded::Dropped;
    if (tag == "a") {
      closeAnchor();
      if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
        added = links.Add(DecodeCharacterReferences(*href, true), {});
        if (added == TLinkCollector::EAdded::Added) {
          openAnchor = links.Count() - 1;
          openAnchorTitle = attribute(kTitle);
        }
      }
    } else if (tag == "img") {
      if (openAnchor != kNoAnchor) AppendPhrase(links.TextAt(openAnchor), attribute(kAlt));
    } else if (tag == "area") {
      if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
        std::string text;
        AppendPhrase(text, attribute(kAlt));
        AppendPhrase(text, attribute(kTitle));
        added = links.Add(DecodeCharacterReferences(*href, true), std::move(text));
      }
    } else if (tag == "frame" || tag == "iframe") {
      if (const std::optional<std::string_view> src = tokens.Attribute(kSrc)) {
        std::string text;
        AppendPhrase(text, attribute(kTitle));
        added = links.Add(DecodeCharacterReferences(*src, true), std::move(text));
      }
    } else if (tag == "meta") {
      // Home pages often only send the visitor on, by a refresh.
      // However written, "refresh" takes no more than a few dozen bytes.
      const std::string_view equiv = attribute(kHttpEquiv);
      if (equiv.size() <= 64 &&
          EqualsAsciiLower(DecodeCharacterReferences(equiv, true), "refresh")) {
        const std::string content = DecodeCharacterReferences(attribute(kContent), true);
        const std::string_view target = RefreshTarget(content);
        if (!target.empty()) added = links.Add(target, {});
      }
    } else if (tag == "base" && !baseSeen) {
      if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
        base =
            ResolveReference(pageAddress, CleanReference(DecodeCharacterReferences(*href, true)));
        baseSeen = true;
      }
    }
    full = added == TLinkCollector::EAdded::Full;
  }
  closeAnchor();
  return std::move(links).Resolved(base);
}

}  // namespace qm
