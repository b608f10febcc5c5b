#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "http/memory_budget.h"
#include "text/page_lines.h"

namespace qm {

class TConnectionPool;

// How a page is fetched.
struct TPageFetchOptions {
  // 301, 302, 303, 307 and 308 are followed with a GET, up to kMaxRedirects hops. Off: the
  // redirect's own body is the page.
  bool FollowRedirects = true;
  // The most body bytes read; a longer body is cut there and the result says so.
  size_t MaxBodyBytes = size_t{64} << 20;
  // Where the page's buffers are reserved from; none: only the caps bound them.
  TMemoryBudget* Budget = nullptr;
  // Connections kept alive and limited per host over every page that shares them; none: a
  // connection of the page's own.
  TConnectionPool* Connections = nullptr;
  // Asked before a redirect is followed, with the target's absolute address: a non-empty
  // reason ends the fetch there as a failure with that reason.
  std::function<std::string(const std::string&)> RedirectRefusal;
  // The User-Agent text of every request; empty: the program's own (DefaultUserAgent).
  std::string UserAgent;
  // How long each wait for the server may last, in ms; 0: the client's own. The page's
  // time limit grows to twice this when that is longer, so that a slow server's answer
  // fits in it after a slow connect.
  int32_t ReplyTimeoutMs = 0;
};

// What became of one page fetch, for status lists and for callers that go on from the page.
struct TPageFetchResult {
  static constexpr int kMaxRedirects = 5;

  // The address whose answer is the page (after redirects), or the one that failed.
  std::string FinalUrl;
  // The final answer's status code; 0 when it had no status line or none came.
  int32_t StatusCode = 0;
  // Bytes of the final answer's body as they came over the wire, before any decoding.
  uint64_t BytesReceived = 0;
  // Redirects followed.
  int Redirects = 0;
  // Empty on success; else why the page failed, in words (a socket error text, a TLS
  // reason, "too many redirects").
  std::string FailureReason;
  // The body's content codings as the server named them ("gzip", "br"), and whether they
  // were undone; a body that failed to decode is the page as it came.
  std::string ContentEncoding;
  bool ContentDecoded = false;
  // The charset the page's text was read in and converted to UTF-8 from; empty when the
  // page declared none (its lines are then read one by one, as UTF-8 when valid, else as
  // code page 936), but "GB18030" for an undeclared page with GB18030's four-byte
  // characters, and the charset a detector finds for an undeclared page that reads as
  // neither UTF-8 nor GB18030 (Shift_JIS, EUC-KR, Windows-1251 ...).
  std::string Charset;
  // Why the body is not whole though the answer came (the time limit, the size cap, the
  // memory limit); empty when it is.
  std::string CutReason;
  // What the page's text holds of the budget; kept for as long as its lines are.
  TMemoryReservation Memory;
};

// Fetches one page with a new HTTP client and replaces `lines` with the lines of its body.
// False only when the connection cannot be made or the request cannot be sent (`lines` is
// then empty); true in every other case, whatever the status code. Redirects are followed
// and the body is decoded as `FetchPageLines` with default options does.
bool FetchPageLines(const std::string& url, TPageLines& lines);

// The same, with options, telling what became of the fetch in `result`. Also false (lines
// empty) when a redirect cannot be followed: a loop or a sixth hop ("too many redirects"),
// or a target that cannot be reached.
bool FetchPageLines(const std::string& url, TPageLines& lines, const TPageFetchOptions& options,
                    TPageFetchResult& result);

}  // namespace qm
