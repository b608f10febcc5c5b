#pragma once
// What harvest tells on standard error about its run: a line redrawn while it runs, and the
// summary at its end.
#include <chrono>
#include <cstdint>
#include <string>

#include "engine/main_form.h"

namespace qm::cli {

// The counts of a run at one moment.
struct HarvestFigures {
  int32_t LinesTaken = 0;
  int32_t LinesInList = 0;
  int64_t Pages = 0;  // pages ended, listed or followed
  int32_t FailedPages = 0;
  int32_t Email = 0;
  int32_t Mobile = 0;
  int32_t QQ = 0;
  // -1 when the kind is not collected: the line and the summary then leave it out.
  int32_t WeChat = -1;
  int32_t Telephone = -1;
};

HarvestFigures FiguresOf(const TForm1& form);

// One line of progress, redrawn in place with a carriage return. Blanks rather than a
// terminal's erase sequence wipe what a shorter line leaves, so a pipe holds no escapes.
class ProgressLine {
 public:
  // `enabled`: draw at all. `firstLine`: the lines the run skips, left out of its rate.
  ProgressLine(bool enabled, int32_t firstLine);

  // Redraws the line when it is not shown or the last drawing is a quarter second old.
  void Show(const TForm1& form);
  // Wipes the line before other text goes to standard error.
  void Erase();
  // True when rows written to standard output would land on the line's terminal, which must
  // then be wiped before them.
  bool SharesTerminalWithRows() const { return sharesTerminal_; }

 private:
  void Write(const std::string& text);

  const bool enabled_;
  const int32_t firstLine_;
  const bool terminal_;
  const bool sharesTerminal_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool shown_ = false;
  size_t shownWidth_ = 0;
};

// The summary: lines taken and in the list, rows of each kind, pages and failed pages, and
// the files that hold more (the status file, the progress record), when there are any.
void WriteSummary(const TForm1& form, const std::string& statusPath, const std::string& recordPath);

}  // namespace qm::cli
