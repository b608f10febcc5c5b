// What every request says of the program (its User-Agent) and how long it waits for a
// server: the reply timeout of the page fetch.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/fetch_page_lines.h"
#include "http/user_agent.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

std::string HeaderLine(const std::string& request, const std::string& name) {
  const size_t at = request.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  return request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
}

TEST(UserAgent, TextSentAndTheProductTokenForRobotsTxt) {
  EXPECT_EQ(DefaultUserAgent().rfind("qmharvest/", 0), 0u);
  EXPECT_GT(DefaultUserAgent().size(), std::string("qmharvest/").size());
  const struct {
    std::string configured;
    std::string sent;
    std::string token;
  } rows[] = {
      {"", DefaultUserAgent(), "qmharvest"},
      {"  \t ", DefaultUserAgent(), "qmharvest"},
      {"Finder/3.1 (+http://x.example/bot)", "Finder/3.1 (+http://x.example/bot)", "finder"},
      {" my-bot ", "my-bot", "my-bot"},
      {"Mozilla/5.0 (compatible; Seeker_Bot/2.1; +http://s.example)",
       "Mozilla/5.0 (compatible; Seeker_Bot/2.1; +http://s.example)", "seeker_bot"},
      {"Mozilla/5.0 (X11; Linux x86_64)", "Mozilla/5.0 (X11; Linux x86_64)", "mozilla"},
      // A line break must never start a header of its own.
      {"bot\r\nX-Injected: 1", "botX-Injected: 1", "botx-injected"},
      {"\x01\x7f", DefaultUserAgent(), "qmharvest"},
      {"/1.0", "/1.0", "qmharvest"},
      {std::string(400, 'a'), std::string(kMaxUserAgentBytes, 'a'),
       std::string(kMaxUserAgentBytes, 'a')},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.configured);
    EXPECT_EQ(UserAgentHeaderValue(row.configured), row.sent);
    EXPECT_EQ(RobotsProductToken(row.configured), row.token);
  }
}

TEST(UserAgent, SentWithEveryRequestOfAFetchRedirectsIncluded) {
  ScriptedServer server([](ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    if (c.Received().rfind("GET /first ", 0) == 0) {
      c.Send("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n");
    } else {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    }
  });
  for (const std::string configured : {"", "Finder/3.1"}) {
    SCOPED_TRACE(configured);
    const size_t before = server.ConnectionCount();
    TPageLines lines;
    TPageFetchOptions options;
    options.UserAgent = configured;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url("first"), lines, options, result));
    EXPECT_EQ(result.StatusCode, 200);
    for (size_t i = before; i < server.ConnectionCount(); ++i) {
      EXPECT_EQ(HeaderLine(server.Received(i), "User-Agent"),
                "User-Agent: " + UserAgentHeaderValue(configured));
    }
    EXPECT_EQ(server.ConnectionCount() - before, 2u);
  }
}

TEST(ReplyTimeout, ASlowServerIsWaitedForAndASilentOneFailsAfterOneWait) {
  // The first connection answers after 1.2 s, the second never.
  ScriptedServer server([](ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    if (c.Index() % 2 == 1) {
      c.StaySilent(30s);
      return;
    }
    c.StaySilent(1200ms);
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\nmail a@slow.cn\n");
  });
  struct Row {
    int32_t timeoutMs;
    bool slowFound;
  } rows[] = {{3000, true}, {600, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.timeoutMs);
    TPageFetchOptions options;
    options.ReplyTimeoutMs = row.timeoutMs;
    TPageLines lines;
    TPageFetchResult result;
    const bool slow = FetchPageLines(server.Url("slow"), lines, options, result);
    EXPECT_EQ(slow, row.slowFound);
    EXPECT_EQ(result.StatusCode, row.slowFound ? 200 : 0);
    if (row.slowFound) {
      EXPECT_NE(lines.Text().find("a@slow.cn"), std::string::npos);
    }

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(FetchPageLines(server.Url("silent"), lines, options, result));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.FailureReason, "Connection timed out");
    EXPECT_GE(waited, std::chrono::milliseconds(row.timeoutMs));
    EXPECT_LT(waited, std::chrono::milliseconds(2 * row.timeoutMs));  // one wait, not two
  }
}

}  // namespace
}  // namespace qm::test
