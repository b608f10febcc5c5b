// The headless browser as a child process: pages of a real nginx rendered by the real
// browser, and the ways a render fails (a page that never settles, a browser that crashes
// or is missing), each with its reason.
#include "render/headless_browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/nginx_fixture.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

bool BrowserInstalled() {
  return !FindHeadlessBrowser().empty();
}

// Render profiles left behind in the temporary folder.
size_t ProfilesLeft() {
  size_t count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    if (entry.path().filename().string().rfind("qmharvest-render.", 0) == 0) ++count;
  }
  return count;
}

std::string Script(TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.Write(name, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(HeadlessBrowser, RendersWhatScriptsWriteOnARealPage) {
  if (!BrowserInstalled()) GTEST_SKIP() << "chromium-headless-shell is not installed";
  NginxServer nginx;
  nginx.WriteFile("index.html",
                  "<html><body><div id=app></div><p id=m></p><script>"
                  "var u='sales', d='shop' + String.fromCharCode(46) + 'cn';"
                  "document.getElementById('m').textContent = u + String.fromCharCode(64) + d;"
                  "document.getElementById('app').innerHTML = atob('NTU1MTIzNDU2Nzg=');"
                  "</script></body></html>");
  const size_t profilesBefore = ProfilesLeft();
  TRenderOptions options;
  options.UserAgent = "Finder/3.1";
  const TRenderResult result = RenderPage(nginx.Url("index.html"), options);
  ASSERT_TRUE(result.Rendered) << result.FailureReason;
  EXPECT_NE(result.Document.find("sales@shop.cn"), std::string::npos) << result.Document;
  EXPECT_NE(result.Document.find("55512345678"), std::string::npos);
  EXPECT_EQ(result.FailureReason, "");
  EXPECT_GT(result.Milliseconds, 0);
  // The browser asked for the page with the User-Agent given.
  EXPECT_NE(nginx.AccessLog().find("\"Finder/3.1\""), std::string::npos) << nginx.AccessLog();
  EXPECT_EQ(ProfilesLeft(), profilesBefore);
}

TEST(HeadlessBrowser, APageThatNeverSettlesIsGivenUpWithinItsTimeLimit) {
  if (!BrowserInstalled()) GTEST_SKIP() << "chromium-headless-shell is not installed";
  NginxServer nginx;
  nginx.WriteFile("busy.html", "<html><body>x<script>for (;;) {}</script></body></html>");
  TRenderOptions options;
  options.TimeLimit = 3s;
  const auto started = std::chrono::steady_clock::now();
  const TRenderResult result = RenderPage(nginx.Url("busy.html"), options);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(result.Rendered);
  EXPECT_EQ(result.FailureReason, "the page did not settle within 3 s");
  EXPECT_LT(took, 8s);
}

TEST(HeadlessBrowser, FailuresSayWhy) {
  TempDir dir;
  const std::string crashing = Script(dir, "crash.sh", "kill -SEGV $$\n");
  const std::string failing = Script(dir, "fail.sh", "echo '<html>half' ; exit 3\n");
  const std::string silent = Script(dir, "silent.sh", "exit 0\n");
  // A browser that leaves a child behind holding its output: the child goes with it.
  const std::string hanging = Script(dir, "hang.sh", "sleep 60 &\nsleep 60\n");
  const std::string echoing = Script(dir, "echo.sh", "for a in \"$@\"; do echo \"$a\"; done\n");
  const struct {
    const char* name;
    std::string browser;
    std::string address;
    std::string reason;
  } rows[] = {
      {"crash", crashing, "http://127.0.0.1:9/", "the browser crashed (signal 11)"},
      {"exit status", failing, "http://127.0.0.1:9/", "the browser failed (exit status 3)"},
      {"nothing printed", silent, "http://127.0.0.1:9/", "the browser gave no document"},
      {"hangs", hanging, "http://127.0.0.1:9/", "the page did not settle within 1500 ms"},
      {"missing", dir.File("no-such-browser"), "http://127.0.0.1:9/",
       "no headless browser installed (chromium-headless-shell)"},
      {"not the web", echoing, "file:///etc/passwd", "only http and https pages are rendered"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TRenderOptions options;
    options.BrowserPath = row.browser;
    options.TimeLimit = 1500ms;
    const TRenderResult result = RenderPage(row.address, options);
    EXPECT_FALSE(result.Rendered);
    EXPECT_EQ(result.FailureReason, row.reason);
    EXPECT_TRUE(result.Document.empty());
  }
  // What the browser is told: its own profile, a time limit of its own before ours, the
  // document dumped; the address last.
  TRenderOptions options;
  options.BrowserPath = echoing;
  options.TimeLimit = 8s;
  options.UserAgent = "Finder/3.1";
  const TRenderResult echoed = RenderPage("http://a.cn/x", options);
  ASSERT_TRUE(echoed.Rendered) << echoed.FailureReason;
  EXPECT_NE(
      echoed.Document.find("--user-data-dir=" + std::filesystem::temp_directory_path().string() +
                           "/qmharvest-render."),
      std::string::npos)
      << echoed.Document;
  EXPECT_NE(echoed.Document.find("\n--timeout=6000\n"), std::string::npos);
  EXPECT_NE(echoed.Document.find("\n--user-agent=Finder/3.1\n"), std::string::npos);
  EXPECT_NE(echoed.Document.find("\n--dump-dom\nhttp://a.cn/x\n"), std::string::npos);
}

TEST(HeadlessBrowser, AStopEndsTheRenderAtOnce) {
  TempDir dir;
  const std::string started = dir.File("started");
  const std::string hanging = Script(dir, "hang.sh", "touch " + started + "\nsleep 60\n");
  std::atomic<bool> stop{false};
  TRenderOptions options;
  options.BrowserPath = hanging;
  options.TimeLimit = 30s;
  options.Stop = &stop;
  std::thread stopper([&stop, &started] {
    WaitUntil([&] { return std::filesystem::exists(started); });
    stop.store(true);
  });
  const auto begun = std::chrono::steady_clock::now();
  const TRenderResult result = RenderPage("http://a.cn/", options);
  stopper.join();
  EXPECT_EQ(result.FailureReason, "the search was stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
}

}  // namespace
}  // namespace qm::test
