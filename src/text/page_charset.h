#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// Where a page's charset was found.
enum class TCharsetSource { None, Header, ByteOrderMark, MetaTag };

struct TPageCharset {
  // The label as the page wrote it ("gb2312", "UTF-8"); empty when none was found.
  std::string Label;
  TCharsetSource Source = TCharsetSource::None;
  // Length of the byte-order mark at the start of the body (0 when there is none).
  size_t ByteOrderMarkLength = 0;
};

// The charset parameter of a Content-Type value ("text/html; charset=GBK" gives "GBK");
// empty when it has none.
std::string CharsetParameter(std::string_view contentType);

// The charset of a <meta charset> or <meta http-equiv="Content-Type" content="..."> tag in
// the first `limit` bytes of an HTML page; empty when there is none.
std::string MetaTagCharset(std::string_view page, size_t limit = 4096);

// True when `text` holds a four-byte character of GB18030 (a byte 0x81-0xFE, a digit, a
// byte 0x81-0xFE, a digit): no other charset a page is written in puts a digit after such
// a byte twice in a row, and reading it two bytes at a time splits the digits off as text.
bool HasGb18030FourByteCharacter(std::string_view text);

// What a page declares about its charset: a byte-order mark (which cannot be wrong about
// the bytes that follow it), else the Content-Type header's charset, else a meta tag in
// the first 4 KB.
TPageCharset FindPageCharset(std::string_view contentType, std::string_view body);

}  // namespace qm
