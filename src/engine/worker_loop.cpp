// The worker loop of slots 1 to 4.
#include <string>

#include "engine/extractors.h"
#include "engine/main_form.h"
#include "engine/page_anchors.h"

namespace qm {
namespace {

const char* const kEndMessages[kWorkerSlotCount] = {"线程1终止!", "线程2终止!", "线程3终止!",
                                                    "线程4终止!"};

}  // namespace

void TForm1::Button1Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(0, run);
}
void TForm1::Button2Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(1, run);
}
void TForm1::Button3Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(2, run);
}
void TForm1::Button4Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(3, run);
}

void TForm1::WorkerLoop(int index, const std::shared_ptr<TSearchRun>& run) {
  TWorkerSlot& slot = Slots.at(static_cast<size_t>(index));
  {
    std::lock_guard lock(run->ListLock);
    if (run->Closed) return;
    Form3.ProgressBar1.SetMax(SearchState.StartedWorkers.fetch_add(1) + 1);
  }

  std::string line;
  // The worker fetches into its own buffers and touches its slot only while its run is
  // open, so a run closed by hand need not wait for a fetch still under way.
  std::string url;
  TPageLines page;
  TPageAnchors anchors;
  std::array<int32_t, 3> shown{-1, -1, -1};  // the counts this worker last showed
  try {
    for (;;) {
      {
        std::lock_guard lock(run->ListLock);
        // A read error ends the worker like the end of the list does.
        if (run->Closed || SearchState.StopRequested.load() ||
            run->ListFile->Next(line) != TListRead::Line) {
          break;
        }
        url.assign(UrlOfLine(line));
        slot.Url = url;
        // The counter wraps as a 32-bit register would; a resume may start it anywhere.
        const auto taken = static_cast<uint32_t>(SearchState.UrlCounter.fetch_add(1)) + 1u;
        Label5.SetCaption(std::to_string(static_cast<int32_t>(taken)));
      }
      if (environment_.FetchPage(url, page)) {
        anchors.Find(page.Text());
        ScanPage(slot, *run, page, anchors, shown);
      }
    }
  } catch (...) {
    // Any failure of a page ends this worker; the others go on.
  }

  bool claimed;
  {
    std::lock_guard lock(run->ListLock);
    // A run closed under a busy worker is over for it: it ends without a word.
    if (run->Closed) return;
    // The end message goes out before the mark is cleared, so the completion's text, which
    // follows the last clearing, is the one that stays.
    Label6.SetCaption(kEndMessages[index]);
    run->RunningMarks.at(static_cast<size_t>(index)) = 0;
    slot.RunningMark.store(0);
    claimed = run->ClaimLocked();
  }
  if (claimed) FinishRun(run);
}

void TForm1::ScanPage(TWorkerSlot& slot, TSearchRun& run, TPageLines& page,
                      const TPageAnchors& anchors, std::array<int32_t, 3>& shown) {
  std::shared_lock gate(run.ScanGate);
  // Closing the run sets the flag before it waits for the gate: past this test the slot is
  // this worker's until the gate is released.
  if (run.ClosedFlag.load(std::memory_order_acquire)) return;
  slot.Lines.swap(page);
  // The line count is read afresh for every line, and so are the three boxes of a line
  // with anything to look at.
  for (size_t i = 0; i < slot.Lines.size(); ++i) {
    if (run.ClosedFlag.load(std::memory_order_acquire)) return;
    if (anchors.AnyIn(slot.Lines.Begin(i), slot.Lines.End(i))) {
      ExtractContacts(slot.Lines[i], {CheckBox2.Checked() ? &StringGrid1 : nullptr,
                                      CheckBox3.Checked() ? &StringGrid2 : nullptr,
                                      CheckBox4.Checked() ? &StringGrid3 : nullptr});
    }
    ShowCounts(shown);
  }
}

void TForm1::ShowCounts(std::array<int32_t, 3>& shown) {
  // Counts only grow during a run. A worker that sees the counts it last showed has nothing
  // to add; one that sees others reads them again under the lock and shows those, so the
  // last rewrite of a run always shows the final counts.
  if (StringGrid1.EntryCount() == shown[0] && StringGrid2.EntryCount() == shown[1] &&
      StringGrid3.EntryCount() == shown[2]) {
    return;
  }
  std::lock_guard lock(countsMutex_);
  shown = {StringGrid1.EntryCount(), StringGrid2.EntryCount(), StringGrid3.EntryCount()};
  StatusBar1.SetPanel(1, std::to_string(shown[0]));
  StatusBar1.SetPanel(3, std::to_string(shown[1]));
  StatusBar1.SetPanel(5, std::to_string(shown[2]));
}

}  // namespace qm
