#include "http/redirect_fetch.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "http/response_headers.h"
#include "http/socket_errors.h"
#include "http/url_parts.h"
#include "http/url_resolve.h"
#include "http/user_agent.h"
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

// A body cap beyond this is no cap: it leaves room for the client's sums.
constexpr size_t kLargestBodyCap = SIZE_MAX / 4;

// An http or https address with a host. The client would split a target without one
// ("http:" and a path) otherwise than it reads here, so it is no page of ours.
bool IsFetchable(const std::string& address) {
  const TUriReference parts = ParseUriReference(address);
  const std::string scheme = AsciiLower(parts.Scheme.value_or(""));
  if ((scheme != "http" && scheme != "https") || !parts.Authority) return false;
  std::string_view host = *parts.Authority;
  const size_t at = host.rfind('@');
  if (at != std::string_view::npos) host.remove_prefix(at + 1);
  return !TrimView(host.substr(0, host.find(':'))).empty();
}

std::string SizeText(size_t bytes) {
  constexpr size_t kKiB = size_t{1} << 10;
  constexpr size_t kMiB = size_t{1} << 20;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string CutAtTimeLimit(int32_t limitMs) {
  if (limitMs < 0) return "cut at the time limit";
  return "cut at the time limit of " + (limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s"
                                                            : std::to_string(limitMs) + " ms");
}

// Why the body of the answer `client` holds is not whole though it came.
std::string BodyCutReason(const THttpClient& client, size_t cap) {
  if (client.BodyCutForMemory) return kCutAtMemoryLimit;
  if (client.BodyCutShort) return CutAtSizeCap(cap);
  if (client.PageTimedOut) return CutAtTimeLimit(client.PageTimeLimit);
  return {};
}

// The body's growth is counted only while the fetch runs: the client may outlive it.
struct TBodyGrowthScope {
  THttpClient& Client;
  TBodyGrowthScope(THttpClient& client, TPageMemory* memory) : Client(client) {
    if (memory != nullptr && memory->Budgeted()) {
      client.BodyGrowth = [memory](size_t capacity) { return memory->Cover(capacity); };
      client.BodyGrown = [memory](size_t capacity) { memory->ShrinkTo(capacity); };
    }
  }
  ~TBodyGrowthScope() {
    Client.BodyGrowth = nullptr;
    Client.BodyGrown = nullptr;
  }
  TBodyGrowthScope(const TBodyGrowthScope&) = delete;
  TBodyGrowthScope& operator=(const TBodyGrowthScope&) = delete;
};

std::string FailureText(const THttpClient& client) {
  if (!client.Socket->TlsFailure.empty()) return client.Socket->TlsFailure;
  return GetErrorDesc(client.Socket->LastSocketError);
}

}  // namespace

std::string CutAtSizeCap(size_t cap) {
  return "cut at the size cap of " + SizeText(cap);
}

bool IsRedirectStatus(int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string AbsoluteAddress(const std::string& address) {
  return HasScheme(address) ? address : "http://" + address;
}

bool FetchFollowingRedirects(THttpClient& client, const std::string& url,
                             const TPageFetchOptions& options, TPageFetchResult& result,
                             TPageMemory* memory) {
  std::optional<TPageMemory> ownMemory;
  if (memory == nullptr && options.Budget != nullptr) {
    result.Memory = TMemoryReservation(options.Budget);
    memory = &ownMemory.emplace(result.Memory);
    memory->Start();
  }
  const TBodyGrowthScope counted(client, memory);
  client.MaxBodyBytes = std::min(options.MaxBodyBytes, kLargestBodyCap);
  std::string current = url;
  std::vector<std::string> visited;
  if (options.ReplyTimeoutMs > 0) {
    client.Timeout = options.ReplyTimeoutMs;
    if (client.PageTimeLimit >= 0) {
      client.PageTimeLimit = std::max(client.PageTimeLimit, 2 * options.ReplyTimeoutMs);
    }
  }
  const std::string userAgent = "User-Agent: " + UserAgentHeaderValue(options.UserAgent);
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
    client.Headers.push_back(userAgent);
    if (!client.PerformRequest("GET", current)) {
      result.FailureReason = FailureText(client);
      result.CutReason.clear();
      return false;
    }
    result.StatusCode = client.StatusCode;
    result.CutReason = BodyCutReason(client, options.MaxBodyBytes);
    if (!options.FollowRedirects || !IsRedirectStatus(client.StatusCode)) return true;
    // Several Location lines are no list: the first one counts.
    const std::string location = FirstResponseHeaderValue(client.Headers, "Location");
    if (location.empty()) return true;
    // A redirect never hands on credentials: they would be sent as the user's own.
    const std::string next = ResolveReference(AbsoluteAddress(current), WithoutUserInfo(location));
    // A redirect elsewhere than the web is no page of ours: its own answer stands.
    if (!IsFetchable(next)) return true;
    visited.push_back(AddressKey(current));
    if (result.Redirects == TPageFetchResult::kMaxRedirects ||
        std::find(visited.begin(), visited.end(), AddressKey(next)) != visited.end()) {
      result.FailureReason = "too many redirects";
      result.CutReason.clear();
      return false;
    }
    if (options.RedirectRefusal) {
      // The refusal may fetch from the same host (its robots.txt): no room is held meanwhile.
      client.ReleaseConnection();
      std::string refusal = options.RedirectRefusal(next);
      if (!refusal.empty()) {
        result.FinalUrl = WithoutPassword(next);
        result.FailureReason = std::move(refusal);
        result.CutReason.clear();
        return false;
      }
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
