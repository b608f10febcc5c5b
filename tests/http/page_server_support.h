#pragma once
// A scripted site for the page-fetch tests: answers each request of a connection by its
// path, keeping the connection open, until the client closes it.
#include <chrono>
#include <map>
#include <string>

#include "support/scripted_server.h"

namespace qm::test {

// The request target of the next request head on `c` from `consumed` on; empty when the
// client closed or went quiet.
inline std::string NextRequestTarget(ScriptedConnection& c, size_t& consumed) {
  for (;;) {
    const std::string received = c.Received();
    const size_t end = received.find("\r\n\r\n", consumed);
    if (end != std::string::npos) {
      const std::string line =
          received.substr(consumed, received.find("\r\n", consumed) - consumed);
      consumed = end + 4;
      const size_t first = line.find(' ');
      return line.substr(first + 1, line.rfind(' ') - first - 1);
    }
    if (!c.ReadTotal(received.size() + 1, std::chrono::seconds(5))) return {};
  }
}

// "HTTP/1.1 <status>" with the given header lines and a Content-Length body.
inline std::string Answer(const std::string& status, const std::string& headers,
                          const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string Redirect(int status, const std::string& location) {
  return Answer(std::to_string(status) + " Moved", "Location: " + location + "\r\n", "moved");
}

// Answers by request target from `routes`; any other target gets a 404.
inline ScriptedServer::Script Site(std::map<std::string, std::string> routes) {
  return [routes = std::move(routes)](ScriptedConnection& c) {
    size_t consumed = 0;
    for (;;) {
      const std::string target = NextRequestTarget(c, consumed);
      if (target.empty()) return;
      const auto found = routes.find(target);
      if (!c.Send(found != routes.end() ? found->second : Answer("404 Not Found", "", "none"))) {
        return;
      }
    }
  };
}

}  // namespace qm::test
