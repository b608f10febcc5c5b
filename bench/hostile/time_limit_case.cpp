// A page that never ends: 100 bytes a second after a contact, for longer than a page may take.
#include <cstdio>
#include <string>
#include <thread>

#include "hostile/crawl_cases.h"
#include "hostile/local_site.h"

namespace qm::bench {

struct TimeLimitCase::State {
  qm::test::TempDir Dir;
  LocalSite Site{[](const SiteRequest& request, SiteReply& reply) {
    if (request.Target != "/endless") {
      reply.Send(ReplyHead("404 Not Found", {"Content-Length: 0"}));
      return;
    }
    if (!reply.Send(ReplyHead("200 OK", {"Content-Type: text/html", "Content-Length: 10000000"}) +
                    "<html><body>\n<p>mail: endless@example.cn</p>\n")) {
      return;
    }
    // Ten minutes at most: the site's end wakes it sooner.
    for (int i = 0; i < 6000; ++i) {
      if (!reply.Pause(std::chrono::milliseconds(100)) || !reply.Send(std::string(9, '.') + "\n")) {
        return;
      }
    }
  }};
  CrawlRun Run;
  std::thread Runner;
};

TimeLimitCase::TimeLimitCase(ChildLauncher& launcher) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.Runner = std::thread([&state, &launcher] {
    state.Run =
        RunCrawl(launcher, state.Dir, state.Site.Url("/endless") + "\r\n", {"--depth", "1"});
  });
}

TimeLimitCase::~TimeLimitCase() {
  if (state_->Runner.joinable()) state_->Runner.join();
}

Verdict TimeLimitCase::Finish() {
  state_->Runner.join();
  const CrawlRun& run = state_->Run;
  std::printf("\n[7e] a page of 100 bytes a second, run beside the other cases\n");
  PrintFigures(run);
  const bool kept = run.HasRow("email", "endless@example.cn");
  std::printf("    the contact at its start %s; requests %zu\n", kept ? "found" : "NOT FOUND",
              state_->Site.Requests("/endless"));
  PrintStatusOf(run, "/endless", "/endless");
  const auto records = run.StatusOf("/endless");
  const std::string reason = records.empty() ? "(no status line)" : records[0]->Reason;
  return {"7e page past the time limit",
          run.Exit() == 0 && reason.find("cut at the time limit") != std::string::npos,
          FiguresText(run) + ", contact " + (kept ? "yes" : "no") + ", reason \"" + reason + "\"",
          "reason says cut at the time limit"};
}

}  // namespace qm::bench
