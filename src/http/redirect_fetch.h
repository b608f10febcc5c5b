#pragma once
#include <cstdint>
#include <string>

#include "http/fetch_page_lines.h"
#include "http/http_client.h"

namespace qm {

// The answers whose Location is followed with a GET.
bool IsRedirectStatus(int32_t status);

// `address` with "http://" in front when it names no scheme, as a list line may.
std::string AbsoluteAddress(const std::string& address);

// GETs `url` with `client`, asking for compressed bodies, and follows redirects as
// `options` say; the client then holds the final answer. Fills `result` but for the body's
// decoding. False when a request fails or a redirect cannot be followed (loop, sixth hop).
bool FetchFollowingRedirects(THttpClient& client, const std::string& url,
                             const TPageFetchOptions& options, TPageFetchResult& result);

// The final answer's body as it came over the wire: `Document` without the line break the
// client adds at the end of a body read to the close.
std::string_view ReceivedBody(const THttpClient& client);

}  // namespace qm
