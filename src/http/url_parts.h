#pragma once
#include <string>
#include <string_view>

namespace qm {

struct TUrlParts {
  std::string Protocol = "http";
  std::string User;
  std::string Password;
  std::string Host = "localhost";
  std::string Port = "80";
  std::string Path = "/";        // "/" and the path, without the query
  std::string Query;             // the text after the first "?"
  std::string RequestUri = "/";  // path and query as sent in the request line
};

// Splits a page address. The scheme ends at the first "://" that comes before any "/", "?"
// or "#"; "user:password@" counts only in the authority (up to the first "/", "?" or "#"),
// where host and port end too; a fragment is dropped. Nothing is percent-decoded.
TUrlParts SplitUrl(std::string_view url);

}  // namespace qm
