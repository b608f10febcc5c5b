// Pages that static reading left without contacts and whose scripts seem to write their
// text are rendered in the headless browser, and the rendered document is scanned instead.
#include "engine/page_render.h"

#include <chrono>

#include "contacts/extractors.h"
#include "contacts/page_anchors.h"
#include "crawl/crawl_address.h"
#include "engine/main_form.h"
#include "http/fiber_scheduler.h"
#include "http/user_agent.h"
#include "render/script_signs.h"

namespace qm {
namespace {

// How often a page waiting for a render looks at stop and close.
constexpr int kRenderWaitLookMs = 20;
constexpr std::string_view kNotRendered = "not rendered, the static page kept: ";

}  // namespace

bool TRenderGate::ClaimSite(const std::string& host) {
  std::lock_guard lock(Lock);
  return Hosts.insert(host).second;
}

bool TRenderGate::Acquire(const std::atomic<bool>& stop, const std::atomic<bool>& closed) {
  while (!stop.load() && !closed.load()) {
    {
      std::lock_guard lock(Lock);
      if (Free > 0) {
        --Free;
        Started.fetch_add(1);
        return true;
      }
    }
    // A lane that is a fiber lets the others of its thread run meanwhile.
    ParkUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(kRenderWaitLookMs));
  }
  return false;
}

void TRenderGate::Release() {
  std::lock_guard lock(Lock);
  ++Free;
}

bool TForm1::PageHasContacts(const TPageLines& page, const TPageAnchors& anchors) {
  // Three lists made and destroyed for every page cost more than most scans up to a first
  // contact: each thread keeps its own, emptied again after a find.
  struct TScratch {
    ui::ChangeNotifier Notifier;
    TResultList Emails{Notifier}, Mobiles{Notifier}, QQNumbers{Notifier};
  };
  thread_local TScratch scratch;
  struct TEmptied {
    TScratch& Lists;
    ~TEmptied() {
      for (TResultList* list : {&Lists.Emails, &Lists.Mobiles, &Lists.QQNumbers}) {
        if (list->EntryCount() == 0) continue;
        list->Clear();
        list->ClearLastAccepted();
      }
    }
  } emptied{scratch};
  const TContactLists lists{CheckBox2.Checked() ? &scratch.Emails : nullptr,
                            CheckBox3.Checked() ? &scratch.Mobiles : nullptr,
                            CheckBox4.Checked() ? &scratch.QQNumbers : nullptr,
                            {},
                            CheckBoxExtended.Checked()};
  // A line without an anchor gives no row, as the scan of the page finds.
  for (auto line = page.begin(), last = page.end(); line != last; ++line) {
    if (!anchors.AnyIn(line.Begin(), line.End())) continue;
    ExtractContacts(*line, lists);
    if (scratch.Emails.EntryCount() + scratch.Mobiles.EntryCount() +
            scratch.QQNumbers.EntryCount() > 0) {
      return true;
    }
  }
  return false;
}

bool TForm1::RenderIfScriptWritten(TSearchRun& run, TPageLines& page, const TPageAnchors& anchors,
                                   int32_t statusCode, const std::string& pageAddress,
                                   TAddressStatus& status) {
  if (!run.Renders || statusCode < 200 || statusCode > 299) return false;
  // Most pages have a contact on an early line; looking for script signs reads all markup.
  if (PageHasContacts(page, anchors) || FindScriptSign(page.Text()) == TScriptSign::None) {
    return false;
  }
  if (!run.Renders->ClaimSite(SiteHostOf(pageAddress))) return false;
  if (!run.Renders->Acquire(SearchState.StopRequested, run.ClosedFlag)) return false;
  TRenderOptions options;
  options.BrowserPath = run.Renders->BrowserPath;
  options.UserAgent = UserAgentHeaderValue(run.UserAgent);
  options.TimeLimit = std::chrono::seconds(kRenderSeconds);
  options.Stop = &SearchState.StopRequested;
  TRenderResult rendered;
  try {
    rendered = environment_.RenderPage(pageAddress, options);
  } catch (...) {
    run.Renders->Release();
    throw;
  }
  run.Renders->Release();
  if (!rendered.Rendered) {
    if (status.FailureReason.empty()) {
      status.FailureReason = std::string(kNotRendered) + rendered.FailureReason;
    }
    return false;
  }
  page.TakeText(std::move(rendered.Document));
  return true;
}

}  // namespace qm
