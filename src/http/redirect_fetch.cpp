#include "http/redirect_fetch.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "http/response_headers.h"
#include "http/socket_errors.h"
#include "http/url_parts.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

const char kAcceptEncoding[] = "Accept-Encoding: gzip, deflate, br";

bool HasScheme(const std::string& address) {
  const size_t scheme = address.find("://");
  return scheme != std::string::npos && address.find_first_of("/?#") >= scheme;
}

// Two addresses that fetch the same thing have the same key.
std::string AddressKey(const std::string& address) {
  const TUrlParts parts = SplitUrl(address);
  return AsciiLower(parts.Protocol) + "://" + AsciiLower(parts.Host) + ":" + parts.Port +
         parts.RequestUri;
}

bool IsFetchableScheme(const std::string& address) {
  const std::string scheme = AsciiLower(ParseUriReference(address).Scheme.value_or(""));
  return scheme == "http" || scheme == "https";
}

std::string FailureText(const THttpClient& client) {
  if (!client.Socket->TlsFailure.empty()) return client.Socket->TlsFailure;
  return GetErrorDesc(client.Socket->LastSocketError);
}

}  // namespace

bool IsRedirectStatus(int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string AbsoluteAddress(const std::string& address) {
  return HasScheme(address) ? address : "http://" + address;
}

bool FetchFollowingRedirects(THttpClient& client, const std::string& url,
                             const TPageFetchOptions& options, TPageFetchResult& result) {
  std::string current = url;
  std::vector<std::string> visited;
  // The page's time limit covers all its hops, not each one.
  if (client.PageTimeLimit >= 0) {
    client.PageDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(client.PageTimeLimit);
  }
  for (;;) {
    result.FinalUrl = current;
    result.StatusCode = 0;
    client.ResetDocument();
    client.Headers.push_back(kAcceptEncoding);
    if (!client.PerformRequest("GET", current)) {
      result.FailureReason = FailureText(client);
      return false;
    }
    result.StatusCode = client.StatusCode;
    if (!options.FollowRedirects || !IsRedirectStatus(client.StatusCode)) return true;
    const std::string location = ResponseHeaderValue(client.Headers, "Location");
    if (location.empty()) return true;
    const std::string next = ResolveReference(AbsoluteAddress(current), location);
    // A redirect elsewhere than the web is no page of ours: its own answer stands.
    if (!IsFetchableScheme(next)) return true;
    visited.push_back(AddressKey(current));
    if (result.Redirects == TPageFetchResult::kMaxRedirects ||
        std::find(visited.begin(), visited.end(), AddressKey(next)) != visited.end()) {
      result.FailureReason = "too many redirects";
      return false;
    }
    ++result.Redirects;
    current = next;
  }
}

std::string_view ReceivedBody(const THttpClient& client) {
  std::string_view body = client.Document.Data;
  const bool readToClose = client.BodyMode == TBodyMode::UntilClose && client.StatusCode != 204 &&
                           client.StatusCode != 304;
  if (readToClose && body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") {
    body.remove_suffix(2);
  }
  return body;
}

}  // namespace qm
