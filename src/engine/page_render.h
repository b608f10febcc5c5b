#pragma once
// How a run renders pages whose contacts a script writes: at most one page of each site,
// and a few at once over all workers, each in a headless browser of its own.
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_set>

namespace qm {

// Renders at once over a run, by default.
inline constexpr int kRendersAtOnce = 2;
// How long one page may take in the browser.
inline constexpr int kRenderSeconds = 15;

class TRenderGate {
 public:
  TRenderGate(std::string browserPath, int rendersAtOnce)
      : BrowserPath(std::move(browserPath)), Free(rendersAtOnce) {}

  // True once for each host: the site's one render is the caller's.
  bool ClaimSite(const std::string& host);
  // Waits for one of the renders at once; false when `stop` or `closed` came first.
  bool Acquire(const std::atomic<bool>& stop, const std::atomic<bool>& closed);
  void Release();
  // Pages handed to the browser in the run.
  int Renders() const { return Started.load(); }

  const std::string BrowserPath;  // empty: none found when the run began

 private:
  std::mutex Lock;
  std::unordered_set<std::string> Hosts;
  int Free;
  std::atomic<int> Started{0};
};

}  // namespace qm
