#pragma once
#include <cstdint>
#include <string>

#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "http/page_memory.h"

namespace qm {

// Why a page is not whole (TPageFetchResult::CutReason).
inline constexpr char kCutAtMemoryLimit[] = "cut at the memory limit";
// "cut at the size cap of N MiB" (or KiB, or bytes: the largest unit that measures it).
std::string CutAtSizeCap(size_t cap);

// The answers whose Location is followed with a GET.
bool IsRedirectStatus(int32_t status);

// `address` with "http://" in front when it names no scheme, as a list line may.
std::string AbsoluteAddress(const std::string& address);

// GETs `url` with `client`, asking for compressed bodies, and follows redirects as
// `options` say; the client then holds the final answer, its body within
// `options.MaxBodyBytes`. Fills `result` but for the body's decoding (CutReason tells
// whether the body was cut as it was read). False when a request
// fails or a redirect cannot be followed (loop, sixth hop, refused). A redirect's target is
// taken without the user name and password its Location may carry. With a budget, the
// body's buffer is counted in `memory` (or, when none is given, in `result.Memory`).
bool FetchFollowingRedirects(THttpClient& client, const std::string& url,
                             const TPageFetchOptions& options, TPageFetchResult& result,
                             TPageMemory* memory = nullptr);

// The final answer's body as it came over the wire: `Document` without the line break the
// client adds at the end of a body read to the close.
std::string_view ReceivedBody(const THttpClient& client);

}  // namespace qm
