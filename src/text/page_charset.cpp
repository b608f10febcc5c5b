#include "text/page_charset.h"

#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "text/byte_blocks.h"
#include "text/processor_features.h"
#include "text/trim.h"

namespace qm {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Position of `word` (lower-case) in `text` from `from` on, without regard to case.
size_t FindNoCase(std::string_view text, std::string_view word, size_t from = 0) {
  for (size_t i = from; i + word.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < word.size() && AsciiLower(text[i + k]) == word[k]) ++k;
    if (k == word.size()) return i;
  }
  return std::string_view::npos;
}

// One attribute of a tag, read from `at` on; false at the tag's end.
bool NextAttribute(std::string_view text, size_t& at, std::string& name, std::string& value) {
  while (at < text.size() && (IsSpace(text[at]) || text[at] == '/')) ++at;
  if (at >= text.size() || text[at] == '>') return false;
  name.clear();
  value.clear();
  while (at < text.size() && !IsSpace(text[at]) && text[at] != '=' && text[at] != '>' &&
         !(text[at] == '/' && !name.empty())) {
    name += AsciiLower(text[at++]);
  }
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at >= text.size() || text[at] != '=') return true;
  ++at;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
    const char quote = text[at++];
    const size_t end = text.find(quote, at);
    value = std::string(text.substr(at, end - at));
    at = end == std::string_view::npos ? text.size() : end + 1;
  } else {
    while (at < text.size() && !IsSpace(text[at]) && text[at] != '>') value += text[at++];
    // <meta charset=utf-8/>
    if (at < text.size() && text[at] == '>' && !value.empty() && value.back() == '/') {
      value.pop_back();
    }
  }
  return true;
}

bool MayOpenMetaOrComment(char next) {
  return next == '!' || AsciiLower(next) == 'm';
}

#if defined(__x86_64__)
// As FindMetaOrComment below, 32 bytes at a time; stops where fewer than 33 are left.
__attribute__((target("avx2"))) size_t FindMetaOrCommentAvx2(std::string_view page, size_t& at) {
  const __m256i open = _mm256_set1_epi8('<'), m = _mm256_set1_epi8('m'),
                bang = _mm256_set1_epi8('!'), lowerCase = _mm256_set1_epi8(0x20);
  for (; at + 33 <= page.size(); at += 32) {
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(page.data() + at + 1));
    const __m256i opens = _mm256_and_si256(
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(page.data() + at)),
                          open),
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(next, lowerCase), m),
                        _mm256_cmpeq_epi8(next, bang)));
    if (const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(opens)); mask != 0) {
      return at + static_cast<size_t>(__builtin_ctz(mask));
    }
  }
  return std::string_view::npos;
}
#endif

// The first "<" from `from` on that a "!" or an "m" of either case follows: the only tags
// MetaTagCharset has to look at (a comment, whose inside it passes over, or a meta tag).
size_t FindMetaOrComment(std::string_view page, size_t from) {
  size_t at = from;
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) {
    if (const size_t found = FindMetaOrCommentAvx2(page, at); found != std::string_view::npos) {
      return found;
    }
  }
#endif
#if defined(__SSE2__)
  using namespace blocks;
  for (; at + 17 <= page.size(); at += 16) {
    const __m128i next = Load16(page.data() + at + 1);
    const __m128i opens = _mm_and_si128(
        Equal(Load16(page.data() + at), '<'),
        _mm_or_si128(Equal(_mm_or_si128(next, _mm_set1_epi8(0x20)), 'm'), Equal(next, '!')));
    if (const unsigned mask = Mask(opens); mask != 0) {
      return at + static_cast<size_t>(__builtin_ctz(mask));
    }
  }
#endif
  for (; at + 1 < page.size(); ++at) {
    if (page[at] == '<' && MayOpenMetaOrComment(page[at + 1])) return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::string CharsetParameter(std::string_view contentType) {
  size_t at = 0;
  while ((at = FindNoCase(contentType, "charset", at)) != std::string_view::npos) {
    size_t next = at + 7;
    while (next < contentType.size() && IsSpace(contentType[next])) ++next;
    if (next >= contentType.size() || contentType[next] != '=') {
      at = next;
      continue;
    }
    ++next;
    while (next < contentType.size() && IsSpace(contentType[next])) ++next;
    const bool quoted =
        next < contentType.size() && (contentType[next] == '"' || contentType[next] == '\'');
    if (quoted) ++next;
    size_t end = next;
    while (end < contentType.size() && contentType[end] != ';' && contentType[end] != '"' &&
           contentType[end] != '\'' && !IsSpace(contentType[end])) {
      ++end;
    }
    return std::string(contentType.substr(next, end - next));
  }
  return {};
}

std::string MetaTagCharset(std::string_view page, size_t limit) {
  page = page.substr(0, limit);
  size_t at = 0;
  while (at < page.size()) {
    const size_t open = FindMetaOrComment(page, at);
    if (open == std::string_view::npos) break;
    if (page.substr(open, 4) == "<!--") {
      const size_t close = page.find("-->", open + 4);
      if (close == std::string_view::npos) break;
      at = close + 3;
      continue;
    }
    at = open + 1;
    if (FindNoCase(page.substr(open, 6), "<meta") != 0 || page.size() < open + 6 ||
        !(IsSpace(page[open + 5]) || page[open + 5] == '/')) {
      continue;
    }
    size_t cursor = open + 5;
    std::string name, value, charset, content;
    bool contentTypeTag = false;
    while (NextAttribute(page, cursor, name, value)) {
      if (name == "charset" && charset.empty()) charset = Trim(value);
      if (name == "content" && content.empty()) content = value;
      if (name == "http-equiv" && AsciiLower(Trim(value)) == "content-type") contentTypeTag = true;
    }
    at = cursor;
    if (!charset.empty()) return charset;
    if (contentTypeTag) {
      std::string fromContent = CharsetParameter(content);
      if (!fromContent.empty()) return fromContent;
    }
  }
  return {};
}

bool HasGb18030FourByteCharacter(std::string_view text) {
  auto high = [&](size_t i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    return byte >= 0x81 && byte <= 0xFE;
  };
  auto digit = [&](size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  for (size_t i = 0; i + 3 < text.size(); ++i) {
    if (high(i) && digit(i + 1) && high(i + 2) && digit(i + 3)) return true;
  }
  return false;
}

TPageCharset FindPageCharset(std::string_view contentType, std::string_view body) {
  TPageCharset found;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") {
    found = {"UTF-8", TCharsetSource::ByteOrderMark, 3};
  } else if (body.substr(0, 2) == "\xFF\xFE") {
    found = {"UTF-16LE", TCharsetSource::ByteOrderMark, 2};
  } else if (body.substr(0, 2) == "\xFE\xFF") {
    found = {"UTF-16BE", TCharsetSource::ByteOrderMark, 2};
  } else if (std::string label = CharsetParameter(contentType); !label.empty()) {
    found = {std::move(label), TCharsetSource::Header, 0};
  } else if (std::string meta = MetaTagCharset(body); !meta.empty()) {
    // A tag read as ASCII cannot stand in UTF-16 text: such a page is UTF-8 mislabelled.
    if (AsciiLower(meta).rfind("utf-16", 0) == 0) meta = "UTF-8";
    found = {std::move(meta), TCharsetSource::MetaTag, 0};
  }
  return found;
}

}  // namespace qm
