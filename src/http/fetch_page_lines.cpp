#include "http/fetch_page_lines.h"

#include "http/content_decoding.h"
#include "http/http_client.h"
#include "http/redirect_fetch.h"
#include "http/response_headers.h"
#include "text/charset_conversion.h"
#include "text/cp936.h"
#include "text/page_charset.h"

namespace qm {
namespace {

// What the page may still take of the body cap beside the `held` bytes it holds: a page
// never holds more than the cap, decoded or not.
size_t RoomBeside(size_t held, size_t cap) {
  return held >= cap ? 0 : cap - held;
}

// The codings undone to get the page's bytes, in the order they were applied: the
// content codings, then the transfer codings other than chunked.
std::string BodyCodings(const THttpClient& client) {
  std::string codings = ResponseHeaderValue(client.Headers, "Content-Encoding");
  const std::string transfer = ResponseHeaderValue(client.Headers, "Transfer-Encoding");
  if (!transfer.empty()) codings += (codings.empty() ? "" : ", ") + transfer;
  return codings;
}

// `decoded` := the received body with its codings undone; false (the body is to be used
// as it came) when it names none or they cannot be undone.
bool DecodeBody(const std::string& codings, std::string_view received, size_t cap,
                std::string& decoded) {
  if (codings.empty()) return false;
  return DecodeContent(codings, received, RoomBeside(received.size(), cap), decoded) !=
         TContentDecoding::AsReceived;
}

// Converts the page's text to UTF-8 by its declared charset. `from` is where the text
// starts (past a byte-order mark). UTF-8 pages, charsets iconv does not know and
// undeclared pages (but GB18030 ones) stay as they are.
void DecodeCharset(const THttpClient& client, std::string& body, size_t& from,
                   TPageFetchResult& result) {
  const TPageCharset declared =
      FindPageCharset(ResponseHeaderValue(client.Headers, "Content-Type"), body);
  std::string charset = CharsetForLabel(declared.Label);
  if (charset.empty()) {
    // Undeclared text is read line by line as UTF-8 or code page 936, which splits the
    // four-byte characters of GB18030; a page that holds one is read as GB18030.
    if (IsAscii(body) || IsValidUtf8(body) || !HasGb18030FourByteCharacter(body)) return;
    charset = "GB18030";
  }
  const std::string_view text = std::string_view(body).substr(declared.ByteOrderMarkLength);
  if (charset == "UTF-8" || (IsAsciiCompatible(charset) && IsAscii(text))) {
    from = declared.ByteOrderMarkLength;
    result.Charset = charset;
    return;
  }
  std::string converted;
  if (!ConvertToUtf8(text, charset, RoomBeside(body.size(), client.MaxBodyBytes), converted)) {
    return;
  }
  body.swap(converted);
  from = 0;
  result.Charset = charset;
}

}  // namespace

bool FetchPageLines(const std::string& url, TPageLines& lines) {
  TPageFetchResult result;
  return FetchPageLines(url, lines, TPageFetchOptions{}, result);
}

bool FetchPageLines(const std::string& url, TPageLines& lines, const TPageFetchOptions& options,
                    TPageFetchResult& result) {
  result = TPageFetchResult{};
  THttpClient client;
  if (!FetchFollowingRedirects(client, url, options, result)) {
    lines.clear();
    return false;
  }
  const std::string_view received = ReceivedBody(client);
  result.BytesReceived = received.size();
  result.ContentEncoding = ResponseHeaderValue(client.Headers, "Content-Encoding");
  std::string body;
  size_t from = 0;
  if (DecodeBody(BodyCodings(client), received, client.MaxBodyBytes, body)) {
    result.ContentDecoded = true;
    std::string().swap(client.Document.Data);
  } else {
    body = std::move(client.Document.Data);
  }
  DecodeCharset(client, body, from, result);
  // The body is handed over, not copied.
  lines.TakeText(std::move(body), from);
  return true;
}

}  // namespace qm
