#include "crawl/page_links.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "crawl/character_references.h"
#include "crawl/html_tokens.h"
#include "crawl/link_text.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

// How often the scan looks at the clock and the stop flag: a few microseconds of work.
constexpr size_t kLimitCheckBytes = 32 * 1024;
constexpr size_t kNoAnchor = static_cast<size_t>(-1);

// The attributes the tokenizer keeps, and the tags it keeps them of, in this order.
enum EKeptAttribute : size_t { kHref, kSrc, kAlt, kTitle, kHttpEquiv, kContent };
enum ELinkTag : size_t { kA, kImg, kArea, kFrame, kIframe, kMeta, kBase };

bool IsHtmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
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
  size_t first = 0;
  size_t last = value.size();
  while (first < last && IsHtmlBlank(value[first])) ++first;
  while (last > first && IsHtmlBlank(value[last - 1])) --last;
  std::string out(value.substr(first, last - first));
  std::replace(out.begin(), out.end(), '\\', '/');
  std::erase_if(out, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
  return out;
}

// The reference an attribute's value gives: its character references decoded, then cleaned.
std::string LinkReference(std::string_view raw) {
  // Most are as plain as "/contact.html" and are taken as written.
  const auto special = [](char c) { return IsHtmlBlank(c) || c == '&' || c == '\\'; };
  if (std::none_of(raw.begin(), raw.end(), special)) return std::string(raw);
  return CleanReference(DecodeCharacterReferences(raw, true));
}

// A name or password in the address: the crawl neither sends nor records a page's
// credentials.
bool CarriesUserInfo(std::string_view address) {
  if (address.find('@') == std::string_view::npos) return false;
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

  // `reference` as CleanReference gives it.
  EAdded Add(std::string reference, std::string text) {
    if (reference.empty() || reference.front() == '#' || CarriesUserInfo(reference)) {
      return EAdded::Dropped;
    }
    if (Links.size() >= MaxLinks) return EAdded::Full;
    // Pages of links have dozens; each growth of the list moves them all.
    if (Links.empty()) Links.reserve(std::min<size_t>(MaxLinks, 64));
    TPageLink& link = Links.emplace_back();
    link.Address = std::move(reference);
    link.Text = std::move(text);
    return EAdded::Added;
  }

  void SetText(size_t index, std::string text) { Links[index].Text = std::move(text); }
  size_t Count() const { return Links.size(); }

  // The links with their references resolved, in place: those that resolve to an address
  // with credentials are left out.
  std::vector<TPageLink> Resolved(std::string_view base) && {
    constexpr size_t kDropped = static_cast<size_t>(-1);
    // A reference the page repeats is resolved once: its later links copy the address of the
    // first. Most repeat the reference just before.
    std::unordered_map<std::string, size_t> firstLinks;
    const std::pair<const std::string, size_t>* previous = nullptr;
    size_t kept = 0;
    for (TPageLink& link : Links) {
      if (previous == nullptr || link.Address != previous->first) {
        const auto [entry, first] = firstLinks.try_emplace(std::move(link.Address), kDropped);
        previous = &*entry;
        if (first) {
          std::string address = ResolveReference(base, entry->first);
          if (CarriesUserInfo(address)) continue;
          entry->second = kept;
          link.Address = std::move(address);
          Keep(link, kept++);
          continue;
        }
      }
      if (previous->second == kDropped) continue;
      link.Address = Links[previous->second].Address;
      Keep(link, kept++);
    }
    Links.erase(Links.begin() + static_cast<std::ptrdiff_t>(kept), Links.end());
    return std::move(Links);
  }

 private:
  void Keep(TPageLink& link, size_t index) {
    if (&link != &Links[index]) Links[index] = std::move(link);
  }

  size_t MaxLinks;
  std::vector<TPageLink> Links;
};

}  // namespace

std::vector<TPageLink> ExtractPageLinks(std::string_view page, std::string_view pageAddress,
                                        const TLinkScanLimits& limits) {
  THtmlTokenizer tokens(page, {"href", "src", "alt", "title", "http-equiv", "content"},
                        {"a", "img", "area", "frame", "iframe", "meta", "base"});
  TLinkCollector links(limits.MaxLinks);
  std::string base(pageAddress);
  bool baseSeen = false;
  // The open <a> that is a link gathers the text up to its end tag or the next <a>; an <a>
  // inside another does not nest.
  size_t openAnchor = kNoAnchor;
  std::string_view openAnchorTitle;
  TLinkText anchorText;
  const auto closeAnchor = [&] {
    if (openAnchor == kNoAnchor) return;
    anchorText.AppendPhrase(openAnchorTitle);
    links.SetText(openAnchor, anchorText.Take());
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
    const EHtmlToken token = tokens.NextWanted(openAnchor != kNoAnchor, nextLimitCheck);
    if (token == EHtmlToken::End) break;
    if (token == EHtmlToken::Text) {
      if (openAnchor != kNoAnchor) anchorText.AppendCollapsed(tokens.Text(), false);
      continue;
    }
    if (token == EHtmlToken::EndTag && tokens.WantedTag() == kA) closeAnchor();
    if (token != EHtmlToken::StartTag) continue;

    TLinkCollector::EAdded added = TLinkCollector::EAdded::Dropped;
    switch (tokens.WantedTag()) {
      case kA:
        closeAnchor();
        if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
          added = links.Add(LinkReference(*href), {});
          if (added == TLinkCollector::EAdded::Added) {
            openAnchor = links.Count() - 1;
            openAnchorTitle = attribute(kTitle);
          }
        }
        break;
      case kImg:
        if (openAnchor != kNoAnchor) anchorText.AppendPhrase(attribute(kAlt));
        break;
      case kArea:
        if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
          TLinkText text;
          text.AppendPhrase(attribute(kAlt));
          text.AppendPhrase(attribute(kTitle));
          added = links.Add(LinkReference(*href), text.Take());
        }
        break;
      case kFrame:
      case kIframe:
        if (const std::optional<std::string_view> src = tokens.Attribute(kSrc)) {
          TLinkText text;
          text.AppendPhrase(attribute(kTitle));
          added = links.Add(LinkReference(*src), text.Take());
        }
        break;
      case kMeta: {
        // Home pages often only send the visitor on, by a refresh.
        // However written, "refresh" takes no more than a few dozen bytes.
        const std::string_view equiv = attribute(kHttpEquiv);
        if (equiv.size() <= 64 &&
            EqualsAsciiLower(DecodeCharacterReferences(equiv, true), "refresh")) {
          const std::string content = DecodeCharacterReferences(attribute(kContent), true);
          const std::string_view target = RefreshTarget(content);
          if (!target.empty()) added = links.Add(CleanReference(target), {});
        }
        break;
      }
      case kBase:
        if (baseSeen) break;
        if (const std::optional<std::string_view> href = tokens.Attribute(kHref)) {
          base = ResolveReference(pageAddress, LinkReference(*href));
          baseSeen = true;
        }
        break;
      default:
        break;
    }
    full = added == TLinkCollector::EAdded::Full;
  }
  closeAnchor();
  return std::move(links).Resolved(base);
}

}  // namespace qm
