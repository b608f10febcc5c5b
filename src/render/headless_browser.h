#pragma once
// Pages whose contacts a script writes: a headless browser (chromium-headless-shell) run as
// a child process renders one page and prints its document as the scripts left it.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// The browser's program file: $PATH's chromium-headless-shell, else the package's own
// places; empty when none is installed.
std::string FindHeadlessBrowser();

struct TRenderOptions {
  // The browser's program file; empty: FindHeadlessBrowser().
  std::string BrowserPath;
  // How long the page may take to settle before it is given up, the browser and its
  // children killed.
  std::chrono::milliseconds TimeLimit{20000};
  // The User-Agent the browser sends; empty: its own.
  std::string UserAgent;
  // The most document bytes kept; a longer document is cut there.
  size_t MaxDocumentBytes = size_t{8} << 20;
  // Raised: the render is given up at once.
  const std::atomic<bool>* Stop = nullptr;
};

struct TRenderResult {
  bool Rendered = false;
  // The rendered document (UTF-8 HTML) when Rendered.
  std::string Document;
  // Why not, in words ("no headless browser installed", "the page did not settle within
  // 20 s", "the browser crashed (signal 11)"); empty when rendered.
  std::string FailureReason;
  int64_t Milliseconds = 0;
};

// Renders the page at `address` (http or https) in a new browser process with a profile
// of its own in a temporary folder, removed afterwards with everything in it.
TRenderResult RenderPage(const std::string& address, const TRenderOptions& options);

}  // namespace qm
