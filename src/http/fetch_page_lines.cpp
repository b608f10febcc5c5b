#include "http/fetch_page_lines.h"

#include "http/http_client.h"

namespace qm {

bool FetchPageLines(const std::string& url, TPageLines& lines) {
  THttpClient client;
  const bool ok = client.PerformRequest("GET", url);
  if (!ok) {
    lines.clear();
    return false;
  }
  // The body is handed over, not copied: the client is gone after this page.
  lines.TakeText(std::move(client.Document.Data), client.Document.Position);
  return true;
}

}  // namespace qm
