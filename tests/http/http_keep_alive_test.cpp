// When a client used for several requests keeps, reuses or drops its connection.
#include <gtest/gtest.h>

#include <string>

#include "http/http_client.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

// Answers `count` requests on one connection, each with `response`, then waits for the
// client to close.
ScriptedServer::Script AnswerOnOneConnection(int count, std::string response) {
  return [count, response = std::move(response)](ScriptedConnection& c) {
    for (int i = 1; i <= count; ++i) {
      // The i-th request is complete when the i-th empty line has arrived.
      std::string received;
      size_t heads = 0;
      while (heads < static_cast<size_t>(i)) {
        if (!c.ReadTotal(received.size() + 1)) return;
        received = c.Received();
        heads = 0;
        for (size_t at = received.find("\r\n\r\n"); at != std::string::npos;
             at = received.find("\r\n\r\n", at + 4)) {
          ++heads;
        }
      }
      c.Send(response);
    }
    c.ReadToClose();
  };
}

bool Get(THttpClient& client, const std::string& url) {
  client.ResetDocument();
  return client.PerformRequest("GET", url);
}

TEST(HttpKeepAlive, SecondRequestReusesTheConnection) {
  ScriptedServer server(
      AnswerOnOneConnection(3, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"));
  THttpClient client;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Get(client, server.Url("p" + std::to_string(i))));
    EXPECT_EQ(client.Document.Remaining(), "abc");
    EXPECT_EQ(client.ConnectedHost, "127.0.0.1");
  }
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(HttpKeepAlive, ServerThatClosedMeansANewConnection) {
  ScriptedServer server(ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"));
  THttpClient client;
  ASSERT_TRUE(Get(client, server.Url("a")));
  ASSERT_TRUE(server.WaitFinished(1));  // the server has closed its side
  ASSERT_TRUE(Get(client, server.Url("b")));
  EXPECT_EQ(client.Document.Remaining(), "x");
  EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(HttpKeepAlive, ConnectionCloseOrOtherVersionReleases) {
  const struct {
    const char* version;
    const char* response;
    bool kept;
  } rows[] = {
      {"1.1", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx", false},
      {"1.1", "HTTP/1.1 200 OK\r\nconnection: Close\r\nContent-Length: 1\r\n\r\nx", false},
      {"1.1", "HTTP/1.1 200 OK\r\nConnection:close\r\nContent-Length: 1\r\n\r\nx", true},
      {"1.1", "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\nx", true},
      {"1.0", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.response);
    ScriptedServer server(AnswerOnOneConnection(1, row.response));
    THttpClient client;
    client.ProtocolVersion = row.version;
    ASSERT_TRUE(Get(client, server.Url()));
    EXPECT_EQ(client.ConnectedHost.empty(), !row.kept);
    EXPECT_EQ(client.Socket->Handle != TBlockingSocket::kInvalidHandle, row.kept);
  }
}

TEST(HttpKeepAlive, OtherServerMeansANewConnection) {
  const char* response = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx";
  ScriptedServer first(AnswerOnOneConnection(1, response));
  ScriptedServer second(AnswerOnOneConnection(1, response));
  THttpClient client;
  ASSERT_TRUE(Get(client, first.Url()));
  ASSERT_TRUE(Get(client, second.Url()));
  EXPECT_EQ(client.ConnectedPort, std::to_string(second.Port()));
  EXPECT_EQ(first.ConnectionCount(), 1u);
  EXPECT_EQ(second.ConnectionCount(), 1u);
  EXPECT_TRUE(first.WaitFinished(1));  // the first connection was closed by the client
}

}  // namespace
}  // namespace qm::test
