#include "crawl/page_links.h"

#include <gumbo.h>

#include <memory>

#include "crawl/html_nesting_guard.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

// Deeper than any real page; beyond it the rest of the page is not parsed (see the guard).
constexpr int kMaxOpenElements = 512;
// A link's words are enough to rank it; an unclosed <a> may hold the rest of the page.
constexpr size_t kMaxLinkText = 256;

struct TRawLink {
  std::string Reference;
  std::string Text;
};

struct TOutputDeleter {
  void operator()(GumboOutput* output) const {
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
};

bool IsHtmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

void AppendCollapsed(std::string& text, std::string_view more) {
  for (char c : more) {
    if (IsHtmlBlank(c)) {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += c;
    }
  }
}

void AppendPhrase(std::string& text, std::string_view phrase) {
  if (phrase.empty()) return;
  if (!text.empty() && text.back() != ' ') text += ' ';
  AppendCollapsed(text, phrase);
}

std::string_view AttributeValue(const GumboElement& element, const char* name) {
  const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
  return attribute == nullptr ? std::string_view() : std::string_view(attribute->value);
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

// The text of an element's subtree and the alternative texts of its images.
std::string SubtreeText(const GumboNode* root) {
  std::string text;
  std::vector<const GumboNode*> pending{root};
  while (!pending.empty() && text.size() < kMaxLinkText) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
        node->type == GUMBO_NODE_CDATA) {
      AppendCollapsed(text, node->v.text.text);
    } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
      if (node->v.element.tag == GUMBO_TAG_IMG) {
        AppendPhrase(text, AttributeValue(node->v.element, "alt"));
      }
      const GumboVector& children = node->v.element.children;
      for (unsigned int i = children.length; i > 0; --i) {
        pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
      }
    }
  }
  return text;
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

}  // namespace

std::vector<TPageLink> ExtractPageLinks(std::string_view page, std::string_view pageAddress) {
  page = page.substr(0, LengthWithinNestingDepth(page, kMaxOpenElements));
  GumboOptions options = kGumboDefaultOptions;
  // Parse errors are not wanted, and recording them copies the open elements each time.
  options.max_errors = 0;
  const std::unique_ptr<GumboOutput, TOutputDeleter> output(
      gumbo_parse_with_options(&options, page.data(), page.size()));

  std::vector<TRawLink> rawLinks;
  std::string base(pageAddress);
  bool baseSeen = false;
  std::vector<const GumboNode*> pending{output->document};
  while (!pending.empty()) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE &&
        node->type != GUMBO_NODE_DOCUMENT) {
      continue;
    }
    const GumboVector* children = &node->v.document.children;
    if (node->type != GUMBO_NODE_DOCUMENT) {
      const GumboElement& element = node->v.element;
      children = &element.children;
      const GumboTag tag = element.tag;
      if (tag == GUMBO_TAG_BASE && !baseSeen) {
        const GumboAttribute* href = gumbo_get_attribute(&element.attributes, "href");
        if (href != nullptr) {
          base = ResolveReference(pageAddress, CleanReference(href->value));
          baseSeen = true;
        }
      } else if (tag == GUMBO_TAG_A || tag == GUMBO_TAG_AREA) {
        const GumboAttribute* href = gumbo_get_attribute(&element.attributes, "href");
        if (href != nullptr) {
          std::string text =
              tag == GUMBO_TAG_A ? SubtreeText(node) : std::string(AttributeValue(element, "alt"));
          AppendPhrase(text, AttributeValue(element, "title"));
          rawLinks.push_back({CleanReference(href->value), std::move(text)});
        }
      } else if (tag == GUMBO_TAG_FRAME || tag == GUMBO_TAG_IFRAME) {
        const GumboAttribute* src = gumbo_get_attribute(&element.attributes, "src");
        if (src != nullptr) {
          rawLinks.push_back(
              {CleanReference(src->value), std::string(AttributeValue(element, "title"))});
        }
      } else if (tag == GUMBO_TAG_META) {
        // Home pages often only send the visitor on, by a refresh.
        const std::string_view equiv = AttributeValue(element, "http-equiv");
        if (EqualsAsciiLower(equiv, "refresh")) {
          const std::string_view target = RefreshTarget(AttributeValue(element, "content"));
          if (!target.empty()) rawLinks.push_back({CleanReference(target), std::string()});
        }
      }
    }
    for (unsigned int i = children->length; i > 0; --i) {
      pending.push_back(static_cast<const GumboNode*>(children->data[i - 1]));
    }
  }

  std::vector<TPageLink> links;
  links.reserve(rawLinks.size());
  for (TRawLink& raw : rawLinks) {
    if (raw.Reference.empty() || raw.Reference.front() == '#') continue;
    LimitText(raw.Text);
    links.push_back({ResolveReference(base, raw.Reference), std::move(raw.Text)});
  }
  return links;
}

}  // namespace qm
