// Fetches over TLS: a real nginx with a certificate from a throwaway CA, and in-process TLS
// servers for what nginx will not do (chunked replies, silence, a broken certificate, a
// CONNECT proxy).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "http/proxy_tunnel.h"
#include "http/socket_errors.h"
#include "http/url_parts.h"
#include "socket_test_support.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"
#include "support/tls_certificates.h"
#include "text/line_split.h"
#include "tls_test_server.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

Lines BodyLines(const THttpClient& client) {
  Lines lines;
  SplitLines(client.Document.Remaining(), lines);
  return lines;
}

class HttpsFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LookUpHostsInFilesOnly();
    certificates_ = new TestCertificates();
    const TestCertificates::Pair site = certificates_->Issue("localhost", "DNS:localhost");
    NginxServer::Options options;
    options.ListenParameters = " ssl";
    options.ServerDirectives =
        "ssl_certificate " + site.Certificate + ";\n    ssl_certificate_key " + site.Key + ";";
    nginx_ = new NginxServer(options);
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
    delete certificates_;
    certificates_ = nullptr;
  }
  static std::string NginxUrl(const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(nginx_->Port()) + "/" + path;
  }
  static TlsTestServer::Options ServerOptions(const TestCertificates::Pair& pair,
                                              bool asProxy = false) {
    return TlsTestServer::Options{pair.Certificate, pair.Key, asProxy};
  }

  static TestCertificates* certificates_;
  static NginxServer* nginx_;
};

TestCertificates* HttpsFetch::certificates_ = nullptr;
NginxServer* HttpsFetch::nginx_ = nullptr;

TEST_F(HttpsFetch, PageOf200FromNginx) {
  nginx_->WriteFile("a.html", "<html>\r\n<p>mail: a@b.cn</p>\n\xc1\xaa\xcf\xb5\r\nlast");
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  ASSERT_TRUE(client.PerformRequest("GET", NginxUrl("localhost", "a.html")))
      << client.Socket->TlsFailure;
  EXPECT_EQ(client.StatusCode, 200);
  EXPECT_EQ(BodyLines(client),
            (Lines{"<html>", "<p>mail: a@b.cn</p>", "\xc1\xaa\xcf\xb5", "last"}));
  EXPECT_TRUE(client.Socket->TlsActive());
}

TEST_F(HttpsFetch, SchemeInAnyLetterCase) {
  nginx_->WriteFile("case.html", "ok");
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  const std::string url = "HtTpS://localhost:" + std::to_string(nginx_->Port()) + "/case.html";
  ASSERT_TRUE(client.PerformRequest("GET", url));
  EXPECT_EQ(BodyLines(client), Lines{"ok"});
}

TEST_F(HttpsFetch, KeepAliveReusesTheTlsConnection) {
  nginx_->WriteFile("k.html", "kept");
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  ASSERT_TRUE(client.PerformRequest("GET", NginxUrl("localhost", "k.html")));
  const uint16_t localPort = client.Socket->LocalAddress.sin_port;
  for (int i = 0; i < 3; ++i) {
    client.ResetDocument();
    ASSERT_TRUE(client.PerformRequest("GET", NginxUrl("localhost", "k.html")));
    EXPECT_EQ(BodyLines(client), Lines{"kept"});
    EXPECT_EQ(client.Socket->LocalAddress.sin_port, localPort);
  }
}

TEST_F(HttpsFetch, KeptConnectionClosedByTheServerIsMadeAnew) {
  const TestCertificates::Pair site = certificates_->Issue("closing", "DNS:localhost");
  TlsTestServer server(ServerOptions(site),
                       TlsTestServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi"));
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/";
  ASSERT_TRUE(client.PerformRequest("GET", url));
  EXPECT_FALSE(client.ConnectedHost.empty());
  ASSERT_TRUE(server.WaitFinished(1));
  client.ResetDocument();
  ASSERT_TRUE(client.PerformRequest("GET", url));
  EXPECT_EQ(client.Document.Remaining(), "hi");
  ASSERT_TRUE(server.WaitFinished(2));
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(HttpsFetch, IdleKeptConnectionIsNotReadable) {
  nginx_->WriteFile("idle.html", "idle");
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  ASSERT_TRUE(client.PerformRequest("GET", NginxUrl("localhost", "idle.html")));
  // Session tickets that follow the handshake carry no data and do not count.
  EXPECT_FALSE(client.Socket->WaitReadable(50));
  EXPECT_EQ(client.Socket->LastSocketError, 0);
}

TEST_F(HttpsFetch, PlainConnectionIsNotReusedForTls) {
  ScriptedServer plain(ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\np"));
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  ASSERT_TRUE(client.PerformRequest("GET", plain.Url()));
  // Same host and port text, other scheme: a TLS handshake must start on a new connection,
  // which the plain server cannot answer.
  client.Timeout = 300;
  client.ResetDocument();
  EXPECT_FALSE(client.PerformRequest("GET", "https://127.0.0.1:" + std::to_string(plain.Port())));
}

TEST_F(HttpsFetch, CertificateProblemsEndTheFetchWithFalse) {
  const TestCertificates::Pair expired = certificates_->Issue(
      "expired", "DNS:localhost", TestCertificates::Validity::ExpiredLongAgo);
  const TestCertificates::Pair future = certificates_->Issue(
      "future", "DNS:localhost", TestCertificates::Validity::NotYetValid);
  const TestCertificates::Pair selfSigned = certificates_->SelfSigned("self", "DNS:localhost");
  const TestCertificates::Pair otherName = certificates_->Issue("other", "DNS:other.test");
  struct Row {
    const char* name;
    TestCertificates::Pair pair;
    const char* reason;
  };
  const Row rows[] = {
      {"expired", expired, "TLS: certificate expired"},
      {"not yet valid", future, "TLS: certificate not yet valid"},
      {"self-signed", selfSigned, "TLS: self-signed certificate or unknown issuer"},
      {"other host name", otherName, "TLS: certificate does not match the host name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TlsTestServer server(ServerOptions(row.pair), TlsTestServer::Replay("HTTP/1.1 200 OK\r\n\r\n"));
    THttpClient client;
    client.TlsCaFile = certificates_->CaFile();
    EXPECT_FALSE(
        client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
    EXPECT_EQ(client.Socket->LastSocketError, kWsaConnectionAborted);
    EXPECT_EQ(client.Socket->TlsFailure.rfind(row.reason, 0), 0u) << client.Socket->TlsFailure;
    EXPECT_TRUE(client.Document.Remaining().empty());
    EXPECT_TRUE(client.ConnectedHost.empty());
  }
}

TEST_F(HttpsFetch, AddressNotNamedInTheCertificateFails) {
  // nginx's certificate names localhost only; 127.0.0.1 reaches the same server.
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  EXPECT_FALSE(client.PerformRequest("GET", NginxUrl("127.0.0.1", "a.html")));
  EXPECT_EQ(client.Socket->LastSocketError, kWsaConnectionAborted);
}

TEST_F(HttpsFetch, SystemTrustStoreDoesNotKnowTheTestAuthority) {
  THttpClient client;
  EXPECT_FALSE(client.PerformRequest("GET", NginxUrl("localhost", "a.html")));
  EXPECT_EQ(client.Socket->LastSocketError, kWsaConnectionAborted);
}

TEST_F(HttpsFetch, RequestBytesAndChunkedBodyAsForPlainHttp) {
  const TestCertificates::Pair site = certificates_->Issue("chunked", "DNS:localhost");
  TlsTestServer server(ServerOptions(site),
                       TlsTestServer::Replay("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                             "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n"
                                             "6\r\n\nline2\r\n0\r\n\r\n"));
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  const std::string port = std::to_string(server.Port());
  ASSERT_TRUE(client.PerformRequest("GET", "https://u:p@localhost:" + port + "/c?x=1"));
  EXPECT_EQ(client.BodyMode, TBodyMode::Chunked);
  EXPECT_EQ(client.Document.Remaining(), "abcdefghijklmnopqrstuvwxyz\nline2");
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(server.Requests().at(0), "GET /c?x=1 HTTP/1.1\r\nHost: localhost:" + port +
                                         "\r\nAuthorization: Basic dTpw\r\n\r\n");
}

TEST_F(HttpsFetch, ServerClosingWithoutNoticeDeliversWhatArrived) {
  const TestCertificates::Pair site = certificates_->Issue("abort", "DNS:localhost");
  TlsTestServer server(ServerOptions(site), [](TlsConnection& c) {
    c.ReadHead();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    c.Abort();
  });
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  ASSERT_TRUE(client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
  EXPECT_EQ(client.Document.Remaining(), "only this");
  EXPECT_EQ(client.Socket->LastSocketError, kWsaNotConnected);
  EXPECT_TRUE(client.ConnectedHost.empty());
}

TEST_F(HttpsFetch, SilentServerAfterHandshakeFailsAfterOneWait) {
  const TestCertificates::Pair site = certificates_->Issue("silent", "DNS:localhost");
  TlsTestServer server(ServerOptions(site), [](TlsConnection& c) {
    c.ReadHead();
    c.StaySilent();
  });
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  client.Timeout = 50;
  EXPECT_FALSE(client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
  EXPECT_EQ(client.StatusCode, 0);
  EXPECT_EQ(client.Document.Size(), 0u);
  EXPECT_EQ(client.Socket->LastSocketError, kWsaTimedOut);
}

TEST_F(HttpsFetch, HandshakeThatNeverCompletesFailsAfterTheTimeLimit) {
  ScriptedServer server([](ScriptedConnection& c) { c.StaySilent(); });
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  client.Timeout = 100;
  EXPECT_FALSE(client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
  EXPECT_EQ(client.Socket->LastSocketError, kWsaTimedOut);
  EXPECT_TRUE(client.ConnectedHost.empty());
}

TEST_F(HttpsFetch, PeerThatClosesDuringTheHandshakeFails) {
  ScriptedServer server(ScriptedServer::CloseAtOnce());
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  EXPECT_FALSE(client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
  EXPECT_NE(client.Socket->LastSocketError, 0);
}

TEST_F(HttpsFetch, HandshakeFailuresNameTheirReason) {
  struct Row {
    const char* name;
    ScriptedServer::Script script;
    const char* reason;
  };
  const Row rows[] = {
      {"plain HTTP answer",
       [](ScriptedConnection& c) {
         c.ReadTotal(1);
         c.Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
         c.StaySilent();
       },
       "TLS: protocol error"},
      {"closed after the hello",
       [](ScriptedConnection& c) {
         c.ReadTotal(1);
         c.Close();
       },
       "TLS: handshake failure"},
      // A record that never ends, one byte at a time: only the page's time limit ends it.
      {"trickled handshake",
       [](ScriptedConnection& c) {
         c.ReadTotal(1);
         c.Send(std::string("\x16\x03\x03\x40\x00", 5));
         c.SendSlowly(std::string(1000, '\x02'), 1, std::chrono::milliseconds(20));
       },
       "TLS: handshake timed out"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(row.script);
    THttpClient client;
    client.TlsCaFile = certificates_->CaFile();
    client.Timeout = 3000;
    client.PageTimeLimit = 500;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        client.PerformRequest("GET", "https://localhost:" + std::to_string(server.Port())));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(client.Socket->TlsFailure.rfind(row.reason, 0), 0u) << client.Socket->TlsFailure;
  }
}

TEST_F(HttpsFetch, ProxyTunnelsWithConnect) {
  const TestCertificates::Pair site = certificates_->Issue("tunnel", "DNS:localhost");
  TlsTestServer proxy(ServerOptions(site, /*asProxy=*/true),
                      TlsTestServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret"));
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  client.ProxyHost = "127.0.0.1";
  client.ProxyPort = std::to_string(proxy.Port());
  client.ProxyUser = "pu";
  client.ProxyPassword = "pp";
  ASSERT_TRUE(client.PerformRequest("GET", "https://localhost:9443/in/page"))
      << client.Socket->TlsFailure;
  EXPECT_EQ(BodyLines(client), Lines{"secret"});
  ASSERT_TRUE(proxy.WaitFinished(1));
  EXPECT_EQ(proxy.ConnectHeads().at(0),
            "CONNECT localhost:9443 HTTP/1.1\r\nHost: localhost:9443\r\n"
            "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n");
  // Inside the tunnel: the server's own request form, no proxy credentials.
  EXPECT_EQ(proxy.Requests().at(0), "GET /in/page HTTP/1.1\r\nHost: localhost:9443\r\n\r\n");
}

TEST_F(HttpsFetch, ProxyRefusingTheTunnelFailsTheFetch) {
  ScriptedServer proxy(ScriptedServer::Replay(
      "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"));
  THttpClient client;
  client.TlsCaFile = certificates_->CaFile();
  client.ProxyHost = "127.0.0.1";
  client.ProxyPort = std::to_string(proxy.Port());
  EXPECT_FALSE(client.PerformRequest("GET", "https://localhost/"));
  EXPECT_EQ(client.Socket->LastSocketError, kWsaConnectionRefused);
  ASSERT_TRUE(proxy.WaitReceived(0, "\r\n\r\n"));
  EXPECT_EQ(proxy.Received(0), "CONNECT localhost:443 HTTP/1.1\r\nHost: localhost:443\r\n\r\n");
}

TEST_F(HttpsFetch, ManyThreadsAtOnce) {
  for (int i = 0; i < 8; ++i)
    nginx_->WriteFile("t" + std::to_string(i) + ".html", "page " + std::to_string(i));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i) {
        THttpClient client;
        client.TlsCaFile = certificates_->CaFile();
        const std::string name = "t" + std::to_string((i + t) % 8);
        if (client.PerformRequest("GET", NginxUrl("localhost", name + ".html")) &&
            BodyLines(client) == Lines{"page " + std::to_string((i + t) % 8)}) {
          ++good;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good, 32);
}

TEST(HttpsUrl, DefaultPortFollowsTheScheme) {
  struct Row {
    const char* url;
    const char* port;
  } rows[] = {
      {"https://h/p", "443"},  {"HTTPS://h", "443"},  {"https://h:8443/", "8443"},
      {"https://h:80/", "80"}, {"http://h/", "80"},   {"ftp://h/", "80"},
      {"h/p", "80"},           {"httpsx://h/", "80"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SplitUrl(row.url).Port, row.port) << row.url;
  }
}

TEST(HttpsUrl, ConnectRequest) {
  EXPECT_EQ(ProxyConnectRequest("h", "443", "", ""),
            "CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\n\r\n");
  EXPECT_EQ(ProxyConnectRequest("h", "8443", "a", "b"),
            "CONNECT h:8443 HTTP/1.1\r\nHost: h:8443\r\nProxy-Authorization: Basic YTpi\r\n\r\n");
}

}  // namespace
}  // namespace qm::test
