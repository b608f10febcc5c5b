// Connections shared by the pages of a run: kept alive between pages, sent again once when a
// kept one closes unanswered, limited per host, TLS sessions resumed; and pages in flight
// as fibers of one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/connection_pool.h"
#include "http/fetch_page_lines.h"
#include "http/fiber_scheduler.h"
#include "http/http_client.h"
#include "socket_test_support.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"
#include "support/tls_certificates.h"
#include "support/wait_until.h"

namespace qm::test {
namespace {

const std::string kHello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

// The number of complete request heads in `received`.
size_t HeadCount(const std::string& received) {
  size_t heads = 0;
  for (size_t at = received.find("\r\n\r\n"); at != std::string::npos;
       at = received.find("\r\n\r\n", at + 4)) {
    ++heads;
  }
  return heads;
}

// Answers every request of a connection with `response` until the client closes; on
// connection 0 only the first `answeredOnFirst` requests are answered (-1: all), and the
// next one gets `lastWords` and the close.
ScriptedServer::Script AnswerEveryRequest(std::string response, int answeredOnFirst = -1,
                                          std::string lastWords = "") {
  return [=](ScriptedConnection& c) {
    for (size_t i = 1;; ++i) {
      while (HeadCount(c.Received()) < i) {
        if (!c.ReadTotal(c.Received().size() + 1, std::chrono::seconds(5))) return;
      }
      if (c.Index() == 0 && answeredOnFirst >= 0 && i > static_cast<size_t>(answeredOnFirst)) {
        if (!lastWords.empty()) c.Send(lastWords);
        return;
      }
      if (!c.Send(response)) return;
    }
  };
}

bool Fetch(const std::string& url, TConnectionPool* pool, std::string& text) {
  TPageLines lines;
  TPageFetchOptions options;
  options.Connections = pool;
  TPageFetchResult result;
  const bool ok = FetchPageLines(url, lines, options, result);
  text = std::string(lines.Text());
  return ok && result.FailureReason.empty();
}

TEST(ConnectionPool, PagesShareConnectionsAsTheSettingsSay) {
  const struct {
    const char* name;
    bool keepAlive;
    int requestLimit;
    size_t connections;
    uint64_t reused;
    size_t idleAfter;
  } rows[] = {
      {"kept alive", true, 100, 1, 3, 1},
      {"a connection per page", false, 100, 4, 0, 0},
      {"two requests per connection", true, 2, 2, 2, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(AnswerEveryRequest(kHello));
    TConnectionPoolOptions options;
    options.KeepAlive = row.keepAlive;
    options.RequestLimit = row.requestLimit;
    TConnectionPool pool(options);
    for (int i = 0; i < 4; ++i) {
      std::string text;
      ASSERT_TRUE(Fetch(server.Url("p" + std::to_string(i)), &pool, text));
      EXPECT_EQ(text, "hello");
    }
    EXPECT_EQ(server.ConnectionCount(), row.connections);
    EXPECT_EQ(pool.Stats().Reused, row.reused);
    EXPECT_EQ(pool.IdleCount(), row.idleAfter);
  }
}

TEST(ConnectionPool, KeptConnectionClosedUnansweredIsTriedOnceMore) {
  const struct {
    const char* name;
    std::string lastWords;  // what the first connection sends to the second request
    bool secondWhole;
    size_t connections;
    uint64_t retried;
  } rows[] = {
      {"closed without a byte", "", true, 2, 1},
      {"closed after a few bytes of an answer", "HTTP/1.1 200 OK\r\nContent-Le", false, 1, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(AnswerEveryRequest(kHello, 1, row.lastWords));
    TConnectionPool pool;
    std::string text;
    ASSERT_TRUE(Fetch(server.Url("a"), &pool, text));
    EXPECT_EQ(Fetch(server.Url("b"), &pool, text) && text == "hello", row.secondWhole);
    EXPECT_EQ(server.ConnectionCount(), row.connections);
    EXPECT_EQ(pool.Stats().Retried, row.retried);
  }
}

TEST(ConnectionPool, NewConnectionClosedUnansweredIsNotSentAgain) {
  ScriptedServer server([](ScriptedConnection& c) { c.ReadHead(); });
  TConnectionPool pool;
  TPageLines lines;
  TPageFetchOptions options;
  options.Connections = &pool;
  TPageFetchResult result;
  FetchPageLines(server.Url("a"), lines, options, result);
  EXPECT_EQ(result.StatusCode, 0);
  EXPECT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(server.ConnectionCount(), 1u);
  EXPECT_EQ(pool.Stats().Retried, 0u);
}

// Ten pages of one host as fibers of one thread, against a limit of three connections: three
// are open while the others wait, and the three carry all ten pages.
TEST(ConnectionPool, HostLimitHoldsOverFibersOfOneThread) {
  std::atomic<bool> release{false};
  ScriptedServer server([&](ScriptedConnection& c) {
    for (size_t i = 1;; ++i) {
      while (HeadCount(c.Received()) < i) {
        if (!c.ReadTotal(c.Received().size() + 1, std::chrono::seconds(5))) return;
      }
      if (!WaitUntil([&] { return release.load(); })) return;
      if (!c.Send(kHello)) return;
    }
  });
  TConnectionPoolOptions options;
  options.HostLimit = 3;
  TConnectionPool pool(options);
  std::atomic<int> fetched{0};
  std::atomic<int> otherThreads{0};
  std::thread runner([&] {
    TFiberScheduler fibers;
    const auto self = std::this_thread::get_id();
    for (int i = 0; i < 10; ++i) {
      fibers.Spawn([&, i] {
        std::string text;
        if (Fetch(server.Url("p" + std::to_string(i)), &pool, text) && text == "hello") ++fetched;
        if (std::this_thread::get_id() != self) ++otherThreads;
      });
    }
    fibers.Run();
  });
  EXPECT_TRUE(
      WaitUntil([&] { return pool.Stats().Waited == 7 && server.ConnectionCount() == 3; }));
  release = true;
  runner.join();
  EXPECT_EQ(fetched.load(), 10);
  EXPECT_EQ(otherThreads.load(), 0);
  EXPECT_EQ(server.ConnectionCount(), 3u);
  EXPECT_EQ(pool.Stats().MostOpenToOneHost, 3);
}

// Two hundred pages in flight at once on one thread: the server answers none until all
// their requests have come.
TEST(FiberScheduler, ManyPagesInFlightOnOneThread) {
  constexpr int kPages = 200;
  std::atomic<int> arrived{0};
  ScriptedServer server([&](ScriptedConnection& c) {
    if (!c.ReadHead()) return;
    ++arrived;
    if (!WaitUntil([&] { return arrived.load() == kPages; })) return;
    c.Send(kHello);
  });
  std::atomic<int> fetched{0};
  std::thread runner([&] {
    TFiberScheduler fibers;
    for (int i = 0; i < kPages; ++i) {
      ASSERT_TRUE(fibers.Spawn([&, i] {
        std::string text;
        if (Fetch(server.Url("p" + std::to_string(i)), nullptr, text) && text == "hello") {
          ++fetched;
        }
      }));
    }
    fibers.Run();
  });
  runner.join();
  EXPECT_EQ(fetched.load(), kPages);
}

TEST(FiberScheduler, WaitConditionParksFibersAndThreads) {
  std::mutex lock;
  TWaitCondition condition;
  int stage = 0;
  std::vector<std::string> steps;
  std::thread runner([&] {
    TFiberScheduler fibers;
    // A fiber waits for one of its own thread: a thread's condition variable would hang here.
    fibers.Spawn([&] {
      std::unique_lock hold(lock);
      condition.wait(hold, [&] { return stage >= 1; });
      steps.push_back("fiber woken by a fiber");
      // Then for a plain thread.
      condition.wait(hold, [&] { return stage >= 2; });
      steps.push_back("fiber woken by a thread");
      // And a wait that nobody ends runs out.
      const bool woken = condition.wait_until(
          hold, std::chrono::steady_clock::now() + std::chrono::milliseconds(20),
          [&] { return stage >= 3; });
      steps.push_back(woken ? "woken" : "timed out");
    });
    fibers.Spawn([&] {
      std::lock_guard hold(lock);
      stage = 1;
      condition.notify_all();
    });
    fibers.Run();
  });
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard hold(lock);
    return steps.size() == 1;
  }));
  {
    std::lock_guard hold(lock);
    stage = 2;
    condition.notify_all();
  }
  runner.join();
  EXPECT_EQ(steps, (std::vector<std::string>{"fiber woken by a fiber", "fiber woken by a thread",
                                             "timed out"}));
}

TEST(ConnectionPool, HttpsConnectionsKeptAndSessionsResumed) {
  LookUpHostsInFilesOnly();
  TestCertificates certificates;
  const TestCertificates::Pair site = certificates.Issue("localhost", "DNS:localhost");
  NginxServer::Options nginxOptions;
  nginxOptions.ListenParameters = " ssl";
  nginxOptions.ServerDirectives =
      "ssl_certificate " + site.Certificate + ";\n    ssl_certificate_key " + site.Key + ";";
  NginxServer nginx(nginxOptions);
  nginx.WriteFile("a.html", "hello");
  const std::string url = "https://localhost:" + std::to_string(nginx.Port()) + "/a.html";
  const struct {
    const char* name;
    size_t maxIdle;  // 0: no connection is kept, only the session
    uint64_t reused;
    uint64_t resumed;
  } rows[] = {{"connection kept", 512, 2, 0}, {"session resumed", 0, 0, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TConnectionPoolOptions options;
    options.MaxIdle = row.maxIdle;
    TConnectionPool pool(options);
    for (int i = 0; i < 3; ++i) {
      THttpClient client;
      client.Pool = &pool;
      client.TlsCaFile = certificates.CaFile();
      ASSERT_TRUE(client.PerformRequest("GET", url)) << client.Socket->TlsFailure;
      EXPECT_EQ(client.StatusCode, 200);
      EXPECT_EQ(client.Document.Remaining(), "hello");
    }
    EXPECT_EQ(pool.Stats().Reused, row.reused);
    EXPECT_EQ(pool.Stats().Resumed, row.resumed);
  }
}

}  // namespace
}  // namespace qm::test
