#pragma once
#include <string>

#include "text/page_lines.h"

namespace qm {

// Fetches one page with a new HTTP client and replaces `lines` with the lines of its body.
// False only when the connection cannot be made or the request cannot be sent (`lines` is
// then empty); true in every other case, whatever the status code.
bool FetchPageLines(const std::string& url, TPageLines& lines);

}  // namespace qm
