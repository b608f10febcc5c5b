// Redirects followed by the page fetch: chains, loops, hops, hosts and schemes.
#include "http/redirect_fetch.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/fetch_page_lines.h"
#include "http/socket_errors.h"
#include "page_server_support.h"
#include "socket_test_support.h"
#include "support/nginx_fixture.h"
#include "support/tls_certificates.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

TEST(RedirectFetch, ChainsLoopsAndHops) {
  LookUpHostsInFilesOnly();
  ClosedPort closed;
  std::map<std::string, std::string> routes;
  auto server =
      std::make_unique<ScriptedServer>([&routes](ScriptedConnection& c) { Site(routes)(c); });
  ScriptedServer other(Site({{"/y", Redirect(308, server->Url("z"))}}));
  const std::string here = server->Url();  // "http://127.0.0.1:PORT/"
  const std::string page = Answer("200 OK", "", "mail a@b.cn\nend");
  routes = {
      {"/a", Redirect(301, "b")},
      {"/b", Redirect(302, "/dir/c")},
      {"/dir/c", Redirect(303, "../d?x=1")},
      {"/d?x=1", page},
      {"/x", Redirect(307, "http://localhost:" + std::to_string(other.Port()) + "/y")},
      {"/z", page},
      {"/l1", Redirect(302, "/l2")},
      {"/l2", Redirect(302, here + "l1#top")},
      {"/self", Redirect(301, "/self")},
      {"/u", Redirect(302, "http://127.0.0.1:" + std::to_string(closed.Port()) + "/")},
      {"/bare", Answer("302 Found", "", "no location")},
      {"/mail", Redirect(302, "mailto:a@b.cn")},
  };
  for (int i = 0; i < 6; ++i) {
    routes["/h" + std::to_string(i)] = Redirect(302, "/h" + std::to_string(i + 1));
  }
  routes["/h6"] = page;

  const struct {
    const char* path;
    bool followed;  // options.FollowRedirects
    bool ok;
    std::string finalUrl;
    int32_t status;
    int redirects;
    std::string reason;
    Lines lines;
  } rows[] = {
      {"a", true, true, here + "d?x=1", 200, 3, "", {"mail a@b.cn", "end"}},
      {"a", false, true, here + "a", 301, 0, "", {"moved"}},
      {"x", true, true, here + "z", 200, 2, "", {"mail a@b.cn", "end"}},
      {"l1", true, false, here + "l2", 302, 1, "too many redirects", {}},
      {"self", true, false, here + "self", 301, 0, "too many redirects", {}},
      {"h1", true, true, here + "h6", 200, 5, "", {"mail a@b.cn", "end"}},
      {"h0", true, false, here + "h5", 302, 5, "too many redirects", {}},
      {"bare", true, true, here + "bare", 302, 0, "", {"no location"}},
      {"mail", true, true, here + "mail", 302, 0, "", {"moved"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.path) + (row.followed ? "" : " not followed"));
    TPageLines lines{"old"};
    TPageFetchOptions options;
    options.FollowRedirects = row.followed;
    TPageFetchResult result;
    EXPECT_EQ(FetchPageLines(server->Url(row.path), lines, options, result), row.ok);
    EXPECT_EQ(result.FinalUrl, row.finalUrl);
    EXPECT_EQ(result.StatusCode, row.status);
    EXPECT_EQ(result.Redirects, row.redirects);
    EXPECT_EQ(result.FailureReason, row.reason);
    EXPECT_EQ(lines.Strings(), row.lines);
  }

  TPageLines lines{"old"};
  TPageFetchResult result;
  EXPECT_FALSE(FetchPageLines(server->Url("u"), lines, {}, result));
  EXPECT_EQ(result.FinalUrl, "http://127.0.0.1:" + std::to_string(closed.Port()) + "/");
  EXPECT_EQ(result.FailureReason, GetErrorDesc(kWsaConnectionRefused));
  EXPECT_TRUE(lines.empty());
}

TEST(RedirectFetch, HostileLocations) {
  ScriptedServer other(Site({{"/in", Answer("200 OK", "", "landed")}}));
  const std::string otherHost = "127.0.0.1:" + std::to_string(other.Port());
  ScriptedServer server(Site({
      {"/two", Answer("302 Found", "Location: /first\r\nLocation: /second\r\n", "moved")},
      {"/first", Answer("200 OK", "", "landed")},
      // Credentials in a Location are never sent on nor shown.
      {"/absolute", Redirect(302, "http://user:pass@" + otherHost + "/in")},
      {"/network-path", Redirect(302, "//user:pass@" + otherHost + "/in")},
      // No host at all, though the client would find one in it: not followed.
      {"/backslashes", Redirect(302, "http:\\\\user:pass@" + otherHost + "/in")},
  }));
  const struct {
    const char* path;
    std::string finalUrl;
    std::string line;
  } rows[] = {
      {"two", server.Url("first"), "landed"},
      {"absolute", other.Url("in"), "landed"},
      {"network-path", other.Url("in"), "landed"},
      {"backslashes", server.Url("backslashes"), "moved"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    TPageLines lines;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url(row.path), lines, {}, result));
    EXPECT_EQ(result.FinalUrl, row.finalUrl);
    EXPECT_EQ(lines.Strings(), Lines{row.line});
  }
  ASSERT_TRUE(other.WaitFinished(2));
  EXPECT_EQ((other.Received(0) + other.Received(1)).find("Authorization"), std::string::npos);
}

TEST(RedirectFetch, RefusedRedirectEndsTheFetchAsAFailure) {
  ScriptedServer server(Site({{"/a", Redirect(302, "/off")},
                              {"/b", Redirect(301, "/fine")},
                              {"/fine", Answer("200 OK", "", "fine")}}));
  const std::string hostPort = "127.0.0.1:" + std::to_string(server.Port());
  std::vector<std::string> asked;
  TPageFetchOptions options;
  options.RedirectRefusal = [&asked](const std::string& target) {
    asked.push_back(target);
    return target.ends_with("/off") ? std::string("leaves the site") : std::string();
  };
  // The user's own credentials go with a hop on the same host, never into the result.
  TPageLines lines{"old"};
  TPageFetchResult result;
  EXPECT_FALSE(FetchPageLines("http://u:secret@" + hostPort + "/a", lines, options, result));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(result.FailureReason, "leaves the site");
  EXPECT_EQ(result.FinalUrl, "http://u:***@" + hostPort + "/off");
  EXPECT_EQ(result.StatusCode, 302);
  ASSERT_TRUE(FetchPageLines(server.Url("b"), lines, options, result));
  EXPECT_EQ(lines.Strings(), Lines{"fine"});
  EXPECT_EQ(asked, (Lines{"http://u:secret@" + hostPort + "/off", server.Url("fine")}));
  EXPECT_EQ(server.Received(0).find("GET /off"), std::string::npos);
}

TEST(RedirectFetch, SameServerRedirectsShareOneConnection) {
  ScriptedServer server(Site({{"/a", Redirect(301, "/b")}, {"/b", Answer("200 OK", "", "ok")}}));
  TPageLines lines;
  ASSERT_TRUE(FetchPageLines(server.Url("a"), lines));
  EXPECT_EQ(lines.Strings(), Lines{"ok"});
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(RedirectFetch, AcrossSchemesBothWays) {
  LookUpHostsInFilesOnly();
  TestCertificates certificates;
  const TestCertificates::Pair site = certificates.Issue("localhost", "DNS:localhost");
  ScriptedServer plain(Site({{"/end", Answer("200 OK", "", "plain end")}}));
  NginxServer::Options options;
  options.ListenParameters = " ssl";
  options.ServerDirectives = "ssl_certificate " + site.Certificate + ";\n    ssl_certificate_key " +
                             site.Key + ";\n    location = /back { return 301 " + plain.Url("end") +
                             "; }";
  NginxServer nginx(options);
  const std::string secure = "https://localhost:" + std::to_string(nginx.Port()) + "/";
  nginx.WriteFile("secure.html", "secure page");
  ScriptedServer start(Site({{"/go", Redirect(301, secure + "secure.html")},
                             {"/round", Redirect(302, secure + "back")}}));
  const struct {
    const char* path;
    std::string finalUrl;
    std::string body;
  } rows[] = {
      {"go", secure + "secure.html", "secure page"},
      {"round", plain.Url("end"), "plain end"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    THttpClient client;
    client.TlsCaFile = certificates.CaFile();
    TPageFetchResult result;
    ASSERT_TRUE(FetchFollowingRedirects(client, start.Url(row.path), {}, result))
        << result.FailureReason;
    EXPECT_EQ(result.FinalUrl, row.finalUrl);
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(ReceivedBody(client), row.body);
  }
}

}  // namespace
}  // namespace qm::test
