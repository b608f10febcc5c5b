// What bounds one fetch whatever the server does: the time of the whole page and the size
// of the response head.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/http_client.h"
#include "http/redirect_fetch.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(PageTimeLimit, TricklingServerIsCutOffWithWhatArrivedKept) {
  struct Row {
    const char* name;
    std::string sentAtOnce;  // then one byte every 20 ms, for far longer than the limit
    std::string kept;        // the start of the document once the time is up
  };
  const Row rows[] = {
      {"status line", "HTTP/1.", "HTTP/1.x"},
      {"headers", "HTTP/1.1 200 OK\r\nX-Slow: ", ""},
      {"body of a length", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst\n", "first\nx"},
      {"body to the close", "HTTP/1.1 200 OK\r\n\r\nfirst\n", "first\nx"},
      {"chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n186a0\r\nfirst\n",
       "first\nx"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server([&](ScriptedConnection& c) {
      c.ReadHead();
      c.Send(row.sentAtOnce);
      c.SendSlowly(std::string(1000, 'x'), 1, std::chrono::milliseconds(20));
    });
    THttpClient client;
    client.Timeout = 6000;  // every single wait is short; only the page limit ends it
    client.PageTimeLimit = 500;
    const auto start = Clock::now();
    ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_TRUE(client.PageTimedOut);
    EXPECT_EQ(client.Document.Data.substr(0, row.kept.size()), row.kept);
    EXPECT_TRUE(client.ConnectedHost.empty());  // an unfinished response is not reused
  }
}

TEST(PageTimeLimit, QuickPageIsNotMarkedAndTheLimitEndsWithTheRequest) {
  ScriptedServer server(ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  THttpClient client;
  client.PageTimeLimit = 2000;
  ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
  EXPECT_FALSE(client.PageTimedOut);
  EXPECT_EQ(client.Document.Remaining(), "ok");
  // A kept connection waits on its own limits between requests.
  EXPECT_EQ(client.Socket->Deadline, Clock::time_point::max());
}

TEST(PageTimeLimit, BoundsAProxyThatTricklesItsAnswerToConnect) {
  ScriptedServer proxy([](ScriptedConnection& c) {
    c.ReadHead();
    c.Send("HTTP/1.1 200 Connection established\r\n");
    c.SendSlowly(std::string(1000, 'x'), 1, std::chrono::milliseconds(20));
  });
  THttpClient client;
  client.Timeout = 6000;
  client.PageTimeLimit = 500;
  client.ProxyHost = "127.0.0.1";
  client.ProxyPort = std::to_string(proxy.Port());
  const auto start = Clock::now();
  EXPECT_FALSE(client.PerformRequest("GET", "https://localhost:9/"));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(client.PageTimedOut);
}

TEST(PageTimeLimit, CoversEveryHopOfARedirectedPage) {
  // Each hop answers within a quarter of a second; five of them take far longer than the
  // page may.
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadHead();
    const std::string request = c.Received();
    const int hop = request[5] - '0';
    const std::string answer =
        hop < 5 ? "HTTP/1.1 302 Found\r\nLocation: /" + std::to_string(hop + 1) +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                : "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nlast";
    c.SendSlowly(answer, answer.size() / 4 + 1, std::chrono::milliseconds(60));
  });
  THttpClient client;
  client.PageTimeLimit = 500;
  TPageFetchResult result;
  const auto start = Clock::now();
  FetchFollowingRedirects(client, server.Url("1"), TPageFetchOptions{}, result);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_TRUE(client.PageTimedOut);
  EXPECT_LT(result.Redirects, 4);
}

TEST(ResponseHead, LinesBeyondItsBoundsAreNotReadNorTakenForTheBody) {
  struct Row {
    const char* name;
    std::string head;
  };
  std::string tinyLines;
  for (size_t i = 0; i <= THttpClient::kMaxHeaderLines; ++i) tinyLines += "X\r\n";
  std::string manyBytes;
  const std::string wide = "X-Wide: " + std::string(4000, 'w') + "\r\n";
  while (manyBytes.size() <= THttpClient::kMaxHeaderBytes) manyBytes += wide;
  const Row rows[] = {
      {"too many lines", tinyLines},
      {"too many bytes", manyBytes},
      {"one line too long", "X-Long: " + std::string(THttpClient::kMaxHeaderBytes + 10, 'l') +
                                "\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server([&](ScriptedConnection& c) {
      c.ReadHead();
      c.Send("HTTP/1.1 200 OK\r\n" + row.head + "\r\nbody\n");
      c.StaySilent();
    });
    THttpClient client;
    client.Timeout = 5000;
    ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
    EXPECT_EQ(client.StatusCode, 200);
    EXPECT_LE(client.Headers.size(), THttpClient::kMaxHeaderLines + 2);
    EXPECT_EQ(client.Document.Size(), 0u);
    EXPECT_FALSE(client.PageTimedOut);
    EXPECT_TRUE(client.ConnectedHost.empty());
  }
}

}  // namespace
}  // namespace qm::test
