#include "crawl/sitemap.h"

#include "crawl/character_references.h"
#include "http/content_decoding.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

bool IsWebAddress(std::string_view text) {
  const std::string lower = AsciiLower(text.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

// The element name of the tag at `text[at]` == '<', lower case, without a namespace prefix
// ("<s:loc>" gives "loc"), and whether it closes ("</loc>").
std::string TagName(std::string_view text, size_t at, bool& closing) {
  size_t i = at + 1;
  closing = i < text.size() && text[i] == '/';
  if (closing) ++i;
  const size_t start = i;
  while (i < text.size() && text[i] != '>' && text[i] != '/' && text[i] != ' ' && text[i] != '\t' &&
         text[i] != '\r' && text[i] != '\n') {
    ++i;
  }
  std::string_view name = text.substr(start, i - start);
  if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) {
    name.remove_prefix(colon + 1);
  }
  return AsciiLower(name);
}

// The text of a <loc> element from `from` to its closing tag, CDATA sections opened.
std::string LocText(std::string_view text, size_t from, size_t& end) {
  std::string raw;
  size_t at = from;
  while (at < text.size()) {
    if (text.substr(at, 9) == "<![CDATA[") {
      const size_t close = text.find("]]>", at + 9);
      if (close == std::string_view::npos) break;
      raw.append(text.substr(at + 9, close - at - 9));
      at = close + 3;
      continue;
    }
    if (text[at] == '<') break;
    const size_t next = text.find('<', at);
    const size_t stop = next == std::string_view::npos ? text.size() : next;
    raw += DecodeCharacterReferences(text.substr(at, stop - at), false);
    at = stop;
  }
  end = at;
  // An address the body breaks off in may be cut short.
  if (at >= text.size()) return {};
  return Trim(raw);
}

TSitemapEntries ReadXml(std::string_view text, size_t maxEntries) {
  TSitemapEntries entries;
  bool inSitemap = false;
  size_t at = 0;
  while (entries.Pages.size() + entries.Sitemaps.size() < maxEntries) {
    at = text.find('<', at);
    if (at == std::string_view::npos) break;
    if (text.substr(at, 4) == "<!--") {
      const size_t close = text.find("-->", at + 4);
      if (close == std::string_view::npos) break;
      at = close + 3;
      continue;
    }
    bool closing = false;
    const std::string name = TagName(text, at, closing);
    const size_t tagEnd = text.find('>', at);
    if (tagEnd == std::string_view::npos) break;
    if (name == "sitemap") inSitemap = !closing;
    if (name == "loc" && !closing && text[tagEnd - 1] != '/') {
      size_t end = tagEnd + 1;
      std::string address = LocText(text, tagEnd + 1, end);
      if (IsWebAddress(address)) {
        (inSitemap ? entries.Sitemaps : entries.Pages).push_back(std::move(address));
      }
      at = end;
      continue;
    }
    at = tagEnd + 1;
  }
  return entries;
}

TSitemapEntries ReadText(std::string_view text, size_t maxEntries) {
  TSitemapEntries entries;
  while (!text.empty() && entries.Pages.size() < maxEntries) {
    const size_t end = text.find('\n');
    const std::string line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (IsWebAddress(line) && line.find_first_of(" \t<>\"") == std::string::npos) {
      entries.Pages.push_back(line);
    }
  }
  return entries;
}

}  // namespace

TSitemapEntries ReadSitemap(std::string_view body, size_t maxEntries) {
  std::string inflated;
  if (body.starts_with("\x1F\x8B")) {
    const TContentDecoding decoding = DecodeContent("gzip", body, kMaxSitemapBytes, inflated);
    if (decoding == TContentDecoding::AsReceived) return {};
    body = inflated;
  }
  if (body.size() > kMaxSitemapBytes) body = body.substr(0, kMaxSitemapBytes);
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  const size_t first = body.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return body[first] == '<' ? ReadXml(body, maxEntries) : ReadText(body, maxEntries);
}

std::vector<std::string> RobotsTxtSitemaps(std::string_view robotsTxt, size_t maxEntries) {
  std::vector<std::string> found;
  while (!robotsTxt.empty() && found.size() < maxEntries) {
    const size_t end = robotsTxt.find_first_of("\r\n");
    std::string_view line = robotsTxt.substr(0, end);
    robotsTxt = end == std::string_view::npos ? std::string_view() : robotsTxt.substr(end + 1);
    line = line.substr(0, line.find('#'));
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || AsciiLower(Trim(line.substr(0, colon))) != "sitemap") {
      continue;
    }
    std::string address = Trim(line.substr(colon + 1));
    if (IsWebAddress(address)) found.push_back(std::move(address));
  }
  return found;
}

std::string DefaultSitemapAddressOf(std::string_view absoluteAddress) {
  TUriReference parts = ParseUriReference(absoluteAddress);
  parts.Path = "/sitemap.xml";
  parts.Query.reset();
  parts.Fragment.reset();
  return ComposeUriReference(parts);
}

}  // namespace qm
