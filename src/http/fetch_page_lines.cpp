#include "http/fetch_page_lines.h"

#include <algorithm>

#include "http/content_decoding.h"
#include "http/http_client.h"
#include "http/page_memory.h"
#include "http/redirect_fetch.h"
#include "http/response_headers.h"
#include "text/charset_conversion.h"
#include "text/charset_detection.h"
#include "text/cp936.h"
#include "text/page_charset.h"

namespace qm {
namespace {

// Spare room a counted page may keep in its text's buffer rather than copy the text.
constexpr size_t kSpareBytes = size_t{64} << 10;

// What the page may still take of the body cap beside the `held` bytes it holds: a page
// never holds more than the cap, decoded or not.
size_t RoomBeside(size_t held, size_t cap) {
  return held >= cap ? 0 : cap - held;
}

// The codings undone to get the page's bytes, in the order they were applied: the
// content codings (`codings`, as Content-Encoding names them), then the transfer codings
// other than chunked.
std::string BodyCodings(const THttpClient& client, std::string codings) {
  const std::string transfer = ResponseHeaderValue(client.Headers, "Transfer-Encoding");
  if (!transfer.empty()) codings += (codings.empty() ? "" : ", ") + transfer;
  return codings;
}

// `decoded` := the received body with its codings undone, its buffers counted beside the
// received body's; AsReceived (the body is to be used as it came) when it names none or
// they cannot be undone.
TContentDecoding DecodeBody(const THttpClient& client, const std::string& contentCodings,
                            std::string_view received, size_t cap, TPageMemory& memory,
                            std::string& decoded) {
  const std::string codings = BodyCodings(client, contentCodings);
  if (codings.empty()) return TContentDecoding::AsReceived;
  TDecodingGrowth mayGrow;
  if (memory.Budgeted()) {
    const size_t held = client.Document.Data.capacity();
    mayGrow = [&memory, held](size_t bytes) { return memory.Cover(held + bytes); };
  }
  return DecodeContent(codings, received, RoomBeside(received.size(), cap), decoded, mayGrow);
}

// `out` := `text` in UTF-8 within `room` bytes, its buffer counted beside the `held` bytes
// of the page: first in room for what GB18030 and Big5 text grows to, then, for charsets
// whose text grows more, in room for the most any text grows to. False, holding nothing,
// when it does not fit or the room does not come.
bool ConvertCounted(std::string_view text, const std::string& charset, size_t room, size_t held,
                    TPageMemory& memory, std::string& out) {
  if (!memory.Budgeted()) return ConvertToUtf8(text, charset, room, out);
  std::string known;
  if (!ConvertToUtf8({}, charset, 0, known)) return false;
  const size_t usual = std::min(room, text.size() + text.size() / 2 + 16);
  const size_t most = std::min(room, 3 * text.size() + 16);
  for (const size_t size : {usual, most}) {
    if (!memory.Cover(held + size)) break;
    std::string().swap(out);
    // Conversion reserves no more than this and writes no more: the buffer never grows.
    out.reserve(size);
    if (ConvertToUtf8(text, charset, size, out)) return true;
    if (size == most) break;
  }
  std::string().swap(out);
  return false;
}

// A body with NUL bytes near its start is no text in any charset a page is read in (a
// compressed file served as it is): converting it would only corrupt it.
bool LooksBinary(std::string_view body) {
  return body.substr(0, 4096).find('\0') != std::string_view::npos;
}

// Converts the page's text to UTF-8 by its declared charset. `from` is where the text
// starts (past a byte-order mark). UTF-8 pages, charsets iconv does not know and
// undeclared pages (but GB18030 ones) stay as they are; so does text the cap or the budget
// has no room for converted.
void DecodeCharset(const THttpClient& client, size_t cap, TPageMemory& memory, std::string& body,
                   size_t& from, TPageFetchResult& result) {
  const TPageCharset declared =
      FindPageCharset(ResponseHeaderValue(client.Headers, "Content-Type"), body);
  std::string charset = CharsetForLabel(declared.Label);
  if (charset.empty()) {
    // Undeclared text is read line by line as UTF-8 or code page 936, which splits the
    // four-byte characters of GB18030; a page that holds one is read as GB18030.
    if (IsAscii(body) || IsValidUtf8(body) || LooksBinary(body)) return;
    const TGb18030Reading reading = ReadAsGb18030(body);
    if (reading == TGb18030Reading::FourByteCharacters) {
      charset = "GB18030";
    } else if (reading == TGb18030Reading::Plausible) {
      return;
    } else {
      // Shift_JIS, EUC-KR, Windows-1251 ...: read as code page 936 they would be garbage.
      charset = DetectNonChineseCharset(body);
      if (charset.empty()) return;
    }
  }
  const std::string_view text = std::string_view(body).substr(declared.ByteOrderMarkLength);
  if (charset == "UTF-8" || (IsAsciiCompatible(charset) && IsAscii(text))) {
    from = declared.ByteOrderMarkLength;
    result.Charset = charset;
    return;
  }
  std::string converted;
  if (!ConvertCounted(text, charset, RoomBeside(body.size(), cap), body.capacity(), memory,
                      converted)) {
    return;
  }
  body.swap(converted);
  from = 0;
  result.Charset = charset;
}

// A counted page keeps its text in a buffer of about its size, when there is room for the
// copy that takes.
void ShrinkCounted(std::string& body, TPageMemory& memory) {
  const size_t spare = body.capacity() - body.size();
  if (!memory.Budgeted() || spare <= std::max(kSpareBytes, body.size() / 4)) return;
  if (!memory.TryCover(body.capacity() + body.size() + 1)) return;
  body.shrink_to_fit();
}

}  // namespace

bool FetchPageLines(const std::string& url, TPageLines& lines) {
  TPageFetchResult result;
  return FetchPageLines(url, lines, TPageFetchOptions{}, result);
}

bool FetchPageLines(const std::string& url, TPageLines& lines, const TPageFetchOptions& options,
                    TPageFetchResult& result) {
  result = TPageFetchResult{};
  result.Memory = TMemoryReservation(options.Budget);
  TPageMemory memory(result.Memory);
  memory.Start();
  THttpClient client;
  client.Pool = options.Connections;
  if (!FetchFollowingRedirects(client, url, options, result, &memory)) {
    lines.clear();
    result.Memory.Reset();
    return false;
  }
  const size_t cap = client.MaxBodyBytes;
  const std::string_view received = ReceivedBody(client);
  result.BytesReceived = received.size();
  result.ContentEncoding = ResponseHeaderValue(client.Headers, "Content-Encoding");
  std::string body;
  size_t from = 0;
  const TContentDecoding decoding =
      DecodeBody(client, result.ContentEncoding, received, cap, memory, body);
  if (decoding != TContentDecoding::AsReceived) {
    result.ContentDecoded = true;
    if (result.CutReason.empty() && decoding == TContentDecoding::CutAtCap) {
      result.CutReason = CutAtSizeCap(options.MaxBodyBytes);
    }
    if (result.CutReason.empty() && decoding == TContentDecoding::CutForMemory) {
      result.CutReason = kCutAtMemoryLimit;
    }
  } else {
    std::string().swap(body);
    body = std::move(client.Document.Data);
  }
  std::string().swap(client.Document.Data);
  memory.ShrinkTo(body.capacity());
  DecodeCharset(client, cap, memory, body, from, result);
  memory.ShrinkTo(body.capacity());
  ShrinkCounted(body, memory);
  memory.Finish(body.capacity());
  // The body is handed over, not copied.
  lines.TakeText(std::move(body), from);
  return true;
}

}  // namespace qm
