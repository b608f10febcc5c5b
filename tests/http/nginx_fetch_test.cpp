// Fetches from a real nginx on a loopback port.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "support/nginx_fixture.h"
#include "text/line_split.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

bool Contains(const Lines& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

class NginxFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    NginxServer::Options options;
    options.ServerDirectives = "location = /old.html { return 301 /new.html; }";
    nginx_ = new NginxServer(options);
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  static NginxServer* nginx_;
};

NginxServer* NginxFetch::nginx_ = nullptr;

TEST_F(NginxFetch, PageOf200) {
  nginx_->WriteFile("a.html", "<html>\r\n<p>mail: a@b.cn</p>\n\xc1\xaa\xcf\xb5\r\nlast");
  TPageLines lines;
  ASSERT_TRUE(FetchPageLines(nginx_->Url("a.html"), lines));
  EXPECT_EQ(lines.Strings(), (Lines{"<html>", "<p>mail: a@b.cn</p>", "\xc1\xaa\xcf\xb5", "last"}));
}

TEST_F(NginxFetch, ErrorPageOf404IsDelivered) {
  TPageLines lines = {"stale"};
  ASSERT_TRUE(FetchPageLines(nginx_->Url("missing.html"), lines));
  EXPECT_TRUE(Contains(lines.Strings(), "404 Not Found"));
  EXPECT_FALSE(Contains(lines.Strings(), "stale"));
  EXPECT_FALSE(Contains(lines.Strings(), "HTTP/1.1"));
}

TEST_F(NginxFetch, RedirectIsNotFollowed) {
  nginx_->WriteFile("new.html", "the new page");
  THttpClient client;
  ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url("old.html")));
  EXPECT_EQ(client.StatusCode, 301);
  Lines lines;
  SplitLines(client.Document.Remaining(), lines);
  EXPECT_TRUE(Contains(lines, "301 Moved Permanently"));
  EXPECT_FALSE(Contains(lines, "the new page"));
}

TEST_F(NginxFetch, LargeFileArrivesWhole) {
  std::mt19937 random(7);
  std::string page;
  page.reserve(6 << 20);
  while (page.size() < (6u << 20)) {
    const int length = static_cast<int>(random() % 200);
    for (int i = 0; i < length; ++i) page += static_cast<char>(' ' + random() % 95);
    page += (random() % 3 == 0) ? "\n" : "\r\n";
  }
  nginx_->WriteFile("large.html", page);
  THttpClient client;
  ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url("large.html")));
  EXPECT_EQ(client.StatusCode, 200);
  EXPECT_EQ(client.BodyMode, TBodyMode::ByLength);
  ASSERT_EQ(client.Document.Size(), page.size());
  EXPECT_TRUE(client.Document.Data == page);
  Lines expected;
  SplitLines(page, expected);
  TPageLines lines;
  ASSERT_TRUE(FetchPageLines(nginx_->Url("large.html"), lines));
  EXPECT_TRUE(lines.Strings() == expected);
}

TEST_F(NginxFetch, ClientReusesItsConnection) {
  nginx_->WriteFile("k1.html", "one");
  nginx_->WriteFile("k2.html", "two");
  THttpClient client;
  ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url("k1.html")));
  const uint16_t localPort = client.Socket->LocalAddress.sin_port;
  for (const char* name : {"k2.html", "k1.html", "missing.html", "k2.html"}) {
    SCOPED_TRACE(name);
    client.ResetDocument();
    ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url(name)));
    EXPECT_EQ(client.Socket->LocalAddress.sin_port, localPort);
    EXPECT_FALSE(client.ConnectedHost.empty());
  }
  EXPECT_EQ(client.Document.Remaining(), "two");
  // A HEAD answer has a length but no body; the connection stays usable.
  client.ResetDocument();
  ASSERT_TRUE(client.PerformRequest("HEAD", nginx_->Url("k1.html")));
  EXPECT_EQ(client.Document.Size(), 0u);
  client.ResetDocument();
  ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url("k1.html")));
  EXPECT_EQ(client.Document.Remaining(), "one");
  EXPECT_EQ(client.Socket->LocalAddress.sin_port, localPort);
}

TEST_F(NginxFetch, ConnectionCloseAskedOfTheServer) {
  nginx_->WriteFile("c.html", "closing");
  THttpClient client;
  client.KeepAlive = false;
  ASSERT_TRUE(client.PerformRequest("GET", nginx_->Url("c.html")));
  EXPECT_EQ(client.Document.Remaining(), "closing");
  EXPECT_TRUE(client.ConnectedHost.empty());  // nginx answered with Connection: close
}

TEST_F(NginxFetch, ThreadsFetchAtTheSameTime) {
  constexpr int kPages = 40;
  for (int i = 0; i < kPages; ++i) {
    nginx_->WriteFile("t" + std::to_string(i) + ".html",
                      "page " + std::to_string(i) + "\r\n" + std::string(3000, 'x') + "\n");
  }
  std::atomic<int> next{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      TPageLines lines;
      for (int i = next++; i < kPages; i = next++) {
        if (!FetchPageLines(nginx_->Url("t" + std::to_string(i) + ".html"), lines) ||
            lines.size() != 2 || *lines.begin() != "page " + std::to_string(i)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace qm::test
