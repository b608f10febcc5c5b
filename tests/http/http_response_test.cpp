// How the client reads what a server answers: status line, headers, the three body
// framings, and servers that misbehave.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "http/response_headers.h"
#include "support/scripted_server.h"
#include "text/line_split.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

struct ResponseRow {
  const char* name;
  std::string response;  // replayed exactly, then the server closes
  int32_t status;
  Lines lines;
};

TEST(HttpResponse, FramingsAndBodies) {
  const std::string nul("a\0b\r\nc\r\n", 8);
  const ResponseRow rows[] = {
      {"length",
       "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello\nworld",
       200,
       {"hello", "world"}},
      {"length beyond the close",
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc",
       200,
       {"abc"}},
      {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nhello", 200, {}},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello", 200, {}},
      {"hex length", "HTTP/1.1 200 OK\r\nContent-Length: $3\r\n\r\nhello", 200, {"hel"}},
      {"chunked lower and upper hex",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n"
       "1A\r\nABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n0\r\n\r\n",
       200,
       {"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"}},
      {"gzip, chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nab\n\r\n0\r\n\r\n",
       200,
       {"ab"}},
      {"glued extension ends the body",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;n=v\r\nabc\r\n0\r\n\r\n",
       200,
       {}},
      {"extension after a blank",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3 ;n=v\r\nabc\r\n0\r\n\r\n",
       200,
       {"abc"}},
      {"negative chunk size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\nabc\r\n0\r\n\r\n",
       200,
       {}},
      {"chunked then length: length wins",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n3\r\nabc",
       200,
       {"3", "a"}},
      {"length then chunked: chunked wins",
       "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nTransfer-Encoding: "
       "chunked\r\n\r\n3\r\nabc\r\n0\r\n",
       200,
       {"abc"}},
      {"to the close, last line without break",
       "HTTP/1.0 200 OK\r\n\r\nfirst\r\nsecond",
       200,
       {"first", "second"}},
      {"to the close, lone CR", "HTTP/1.0 200 OK\r\n\r\na\rb\r\nc\n", 200, {"a", "b", "c", ""}},
      {"to the close, NUL",
       "HTTP/1.0 200 OK\r\n\r\n" + nul,
       200,
       {std::string("a\0b", 3), "c", ""}},
      {"no status line", "hello\r\nworld", 0, {"hello", "world"}},
      {"no status line, lone CR in the first line",
       "one\rtwo\r\nthree\r\n",
       0,
       {"one", "two", "three", ""}},
      {"status line in small letters",
       "http/1.0 200 ok\r\nContent-Length: 2\r\n\r\nhi",
       200,
       {"hi"}},
      {"empty lines before the status line",
       "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx",
       200,
       {"x"}},
      {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\nignored\r\n", 204, {}},
      {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 3\r\n\r\nabc", 304, {}},
      {"404 page",
       "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot\nfound",
       404,
       {"not", "found"}},
      {"301 is not followed",
       "HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 5\r\n\r\nmoved",
       301,
       {"moved"}},
      {"status without reason", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", 200, {"x"}},
      {"status not a number", "HTTP/1.1 abc OK\r\nContent-Length: 1\r\n\r\nx", 0, {"x"}},
      {"GBK body",
       "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n\xc1\xaa\xcf\xb5\r\n\xd6\xd0\xce\xc4",
       200,
       {"\xc1\xaa\xcf\xb5", "\xd6\xd0\xce\xc4"}},
  };
  for (const ResponseRow& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(ScriptedServer::Replay(row.response));
    THttpClient client;
    client.Timeout = 2000;
    ASSERT_TRUE(client.PerformRequest("GET", server.Url("r")));
    EXPECT_EQ(client.StatusCode, row.status);
    Lines lines;
    SplitLines(client.Document.Remaining(), lines);
    EXPECT_EQ(lines, row.lines);
  }
}

TEST(HttpResponse, HeadersStatusTextAndMimeType) {
  ScriptedServer server(ScriptedServer::Replay(
      "HTTP/1.1 200 Fine Thanks\r\nContent-Type: text/plain; charset=gbk\r\nX-A:  b \r\n"
      "Content-Length: 2\r\n\r\nok"));
  THttpClient client;
  ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
  EXPECT_EQ(client.StatusText, "Fine Thanks");
  EXPECT_EQ(client.MimeType, "text/plain; charset=gbk");
  EXPECT_EQ(client.BodyMode, TBodyMode::ByLength);
  EXPECT_EQ(client.Headers,
            (Lines{"HTTP/1.1 200 Fine Thanks", "Content-Type: text/plain; charset=gbk", "X-A:  b ",
                   "Content-Length: 2", ""}));
}

TEST(HttpResponse, HeadReadsNoBody) {
  ScriptedServer server(
      ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"));
  THttpClient client;
  ASSERT_TRUE(client.PerformRequest("HEAD", server.Url()));
  EXPECT_EQ(client.StatusCode, 200);
  EXPECT_EQ(client.Document.Size(), 0u);
}

TEST(HttpResponse, SilentServerFailsAfterOneWait) {
  ScriptedServer server(ScriptedServer::Silent());
  THttpClient client;
  client.Timeout = 400;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.PerformRequest("GET", server.Url()));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_LT(waited, std::chrono::milliseconds(800));  // two waits would be 800
  EXPECT_EQ(client.StatusCode, 0);
  EXPECT_EQ(client.Document.Size(), 0u);
  EXPECT_EQ(client.Socket->LastSocketError, 10060);
  EXPECT_TRUE(client.ConnectedHost.empty());
}

TEST(HttpResponse, EmptyLinesBeforeASilenceAreAnAnswer) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadHead();
    c.Send("\r\n");
    c.StaySilent();
  });
  THttpClient client;
  client.Timeout = 50;
  ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
  EXPECT_EQ(client.StatusCode, 0);
}

TEST(HttpResponse, SilenceDuringHeadersReadsTheBodyInTheModeKnownSoFar) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadHead();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n");
    c.StaySilent();
  });
  THttpClient client;
  client.Timeout = 50;
  ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
  EXPECT_EQ(client.StatusCode, 200);
  EXPECT_EQ(client.Headers.back(), "");
  EXPECT_EQ(client.Document.Size(), 0u);
  EXPECT_TRUE(client.ConnectedHost.empty());  // an unfinished response is not reused
}

TEST(HttpResponse, SlowServerKeepsTheFetchGoing) {
  const std::string body(200, 'b');
  ScriptedServer server([&](ScriptedConnection& c) {
    c.ReadHead();
    c.SendSlowly("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n" + body, 40,
                 std::chrono::milliseconds(20));
  });
  THttpClient client;
  client.Timeout = 1000;
  ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
  EXPECT_EQ(client.Document.Remaining(), body);
}

TEST(HttpResponse, BodyIsCappedAndTheConnectionDropped) {
  const std::string big(5000, 'x');
  const std::string responses[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + big,
      "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n" + big,
      "HTTP/1.0 200 OK\r\n\r\n" + big,
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9c4\r\n" + big.substr(0, 2500) +
          "\r\n9c4\r\n" + big.substr(0, 2500) + "\r\n0\r\n\r\n",
  };
  for (const std::string& response : responses) {
    SCOPED_TRACE(response.substr(0, 40));
    ScriptedServer server([&](ScriptedConnection& c) {
      c.ReadHead();
      c.Send(response);
      c.StaySilent();  // an endless response: nothing ends it but the cap
    });
    THttpClient client;
    client.Timeout = 5000;
    client.MaxBodyBytes = 1000;
    ASSERT_TRUE(client.PerformRequest("GET", server.Url()));
    EXPECT_TRUE(client.BodyCutShort);
    EXPECT_GE(client.Document.Size(), 1000u);
    EXPECT_LE(client.Document.Size(), 1002u);  // read to the close adds its final break
    EXPECT_EQ(client.Document.Data.substr(0, 1000), big.substr(0, 1000));
    EXPECT_TRUE(client.ConnectedHost.empty());
  }
}

TEST(ApplyHeaderLine, NamesMatchInAnyCaseValuesAfterTheFirstBlank) {
  struct Row {
    const char* line;
    TBodyMode mode;
    int32_t length;
    const char* mime;  // nullptr: not seen
    bool close;
  };
  const Row rows[] = {
      {"content-LENGTH: 12 ", TBodyMode::ByLength, 12, nullptr, false},
      {"Content-Length:12", TBodyMode::ByLength, -1, nullptr, false},
      {"Content-Lengths: 12", TBodyMode::UntilClose, -1, nullptr, false},
      {"CONTENT-type:  text/html; charset=gbk \t", TBodyMode::UntilClose, -1,
       "text/html; charset=gbk", false},
      {"Content-Type:text/plain", TBodyMode::UntilClose, -1, "Content-Type:text/plain", false},
      {"transfer-encoding: gzip, Chunked", TBodyMode::Chunked, -1, nullptr, false},
      {"Transfer-Encoding:chunked", TBodyMode::Chunked, -1, nullptr, false},
      {"Transfer-Encoding: chunke", TBodyMode::UntilClose, -1, nullptr, false},
      {"connection: CLOSE", TBodyMode::UntilClose, -1, nullptr, true},
      {"Connection: closed", TBodyMode::UntilClose, -1, nullptr, true},
      {"Connection:close", TBodyMode::UntilClose, -1, nullptr, false},
      {"Connection: keep-alive, close", TBodyMode::UntilClose, -1, nullptr, false},
      {"X-Content-Length: 5", TBodyMode::UntilClose, -1, nullptr, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    THeaderFacts facts;
    ApplyHeaderLine(row.line, facts);
    EXPECT_EQ(facts.BodyMode, row.mode);
    EXPECT_EQ(facts.Length, row.length);
    EXPECT_EQ(facts.MimeTypeSeen, row.mime != nullptr);
    EXPECT_EQ(facts.MimeType, row.mime == nullptr ? "" : row.mime);
    EXPECT_EQ(facts.CloseAfter, row.close);
  }
}

TEST(ResponseHeaderValue, NamesMatchInAnyCaseAndOnlyWhole) {
  const Lines head = {"HTTP/1.1 200 OK",
                      "content-ENCODING: gzip ",
                      "Content-Encodings: x",
                      "X-Content-Encoding: y",
                      "Content-Encoding:br",
                      "Location: /a:b",
                      ""};
  EXPECT_EQ(ResponseHeaderValue(head, "Content-Encoding"), "gzip, br");
  EXPECT_EQ(ResponseHeaderValue(head, "CONTENT-ENCODING"), "gzip, br");
  EXPECT_EQ(FirstResponseHeaderValue(head, "content-encoding"), "gzip");
  EXPECT_EQ(FirstResponseHeaderValue(head, "location"), "/a:b");
  EXPECT_EQ(ResponseHeaderValue(head, "Location: /a"), "");
  EXPECT_EQ(ResponseHeaderValue(head, "HTTP/1.1 200 OK"), "");
}

TEST(HttpResponse, FetchPageLinesReplacesTheList) {
  ScriptedServer server(
      ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\na\nb\n"));
  TPageLines lines = {"old1", "old2", "old3"};
  ASSERT_TRUE(FetchPageLines(server.Url(), lines));
  EXPECT_EQ(lines.Strings(), (Lines{"a", "b"}));
}

}  // namespace
}  // namespace qm::test
