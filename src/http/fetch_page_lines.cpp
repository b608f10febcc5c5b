#include "http/fetch_page_lines.h"

#include "http/http_client.h"
#include "text/line_split.h"

namespace qm {

bool FetchPageLines(const std::string& url, std::vector<std::string>& lines) {
  THttpClient client;
  const bool ok = client.PerformRequest("GET", url);
  if (!ok) {
    lines.clear();
    return false;
  }
  SplitLines(client.Document.Remaining(), lines);
  return true;
}

}  // namespace qm
