// Any bytes a server may send, read by the HTTP client over a real loopback connection.
// The first byte picks the request: GET (then a second GET on the same client, which may
// reuse the connection and read what was left of the first reply), HEAD, a POST with a
// body (the interim-answer path), an https address through a proxy (the CONNECT answer,
// then a handshake over the rest), or a whole page fetch as a worker makes it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "reply_server.h"

namespace qm::fuzz {
namespace {

constexpr int32_t kTimeoutMs = 5000;

void CheckClient(const THttpClient& client) {
  Check(client.Document.Size() <= client.MaxBodyBytes + 2, "body beyond the cap");
  Check(client.Document.Position <= client.Document.Size(), "document position past its end");
  Check(client.Headers.size() <= THttpClient::kMaxHeaderLines + 1, "response head beyond its bound");
}

void Request(const std::string& method, const std::string& url, uint16_t port, bool withBody,
             bool twice) {
  THttpClient client;
  client.Timeout = kTimeoutMs;
  if (withBody) client.Document.Write("name=value");
  if (url.starts_with("https:")) {
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = std::to_string(port);
  }
  client.PerformRequest(method, url);
  CheckClient(client);
  if (twice) {
    client.ResetDocument();
    client.PerformRequest(method, url);
    CheckClient(client);
  }
}

void FetchPage(const std::string& url) {
  TPageLines lines;
  TPageFetchOptions options;
  options.FollowRedirects = false;  // a redirect could name any host
  TPageFetchResult result;
  FetchPageLines(url, lines, options, result);
  for (std::string_view line : lines) {
    Check(line.find_first_of("\r\n") == std::string_view::npos, "a page line holds a break");
  }
}

}  // namespace
}  // namespace qm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qm::fuzz;
  if (size == 0) return 0;
  static TReplyServer server;
  server.Start(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  const std::string page = "http://127.0.0.1:" + std::to_string(server.Port()) + "/page?q=1";
  switch (data[0] % 5) {
    case 0:
      Request("GET", page, server.Port(), false, true);
      break;
    case 1:
      Request("HEAD", page, server.Port(), false, false);
      break;
    case 2:
      Request("POST", page, server.Port(), true, false);
      break;
    case 3:
      Request("GET", "https://127.0.0.1:9/secure", server.Port(), false, false);
      break;
    default:
      FetchPage(page);
      break;
  }
  server.Stop();
  return 0;
}
