#include "http/fetch_page_lines.h"

#include "http/http_client.h"
#include "http/redirect_fetch.h"

namespace qm {

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
  result.BytesReceived = ReceivedBody(client).size();
  // The body is handed over, not copied: the client is gone after this page.
  lines.TakeText(std::move(client.Document.Data), client.Document.Position);
  return true;
}

}  // namespace qm
