#include "cli/harvest_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>

namespace qm::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

std::string Duration(int64_t seconds) {
  if (seconds >= 3600) {
    const int64_t minutes = seconds / 60 % 60;
    return std::to_string(seconds / 3600) + "h" + (minutes < 10 ? "0" : "") +
           std::to_string(minutes) + "m";
  }
  if (seconds >= 60) {
    const int64_t rest = seconds % 60;
    return std::to_string(seconds / 60) + "m" + (rest < 10 ? "0" : "") + std::to_string(rest) + "s";
  }
  return std::to_string(seconds) + "s";
}

std::string OneDecimal(double value) {
  char text[32];
  const std::to_chars_result written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
  return written.ec == std::errc() ? std::string(text, written.ptr) : "?";
}

// The counts of the kinds beyond the first three that the run collects.
std::string LaterKinds(const HarvestFigures& figures, const char* before, const char* between) {
  std::string text;
  if (figures.WeChat >= 0) {
    text += before + std::string("wechat") + between + std::to_string(figures.WeChat);
  }
  if (figures.Telephone >= 0) {
    text += before + std::string("phone") + between + std::to_string(figures.Telephone);
  }
  return text;
}

std::string ProgressText(const HarvestFigures& figures, int32_t firstLine, double seconds) {
  std::string text =
      "lines " + std::to_string(figures.LinesTaken) + "/" + std::to_string(figures.LinesInList) +
      "  pages " + std::to_string(figures.Pages) + "  email " + std::to_string(figures.Email) +
      "  mobile " + std::to_string(figures.Mobile) + "  qq " + std::to_string(figures.QQ) +
      LaterKinds(figures, "  ", " ") + "  failed " + std::to_string(figures.FailedPages) + "  " +
      OneDecimal(seconds > 0 ? static_cast<double>(figures.Pages) / seconds : 0) + " pages/s  ";
  // Time left from the rate at which lines are taken: pages per line vary with the sites.
  const int64_t linesLeft = int64_t{figures.LinesInList} - figures.LinesTaken;
  const int64_t linesDone = int64_t{figures.LinesTaken} - firstLine;
  if (linesLeft <= 0) {
    text += "finishing";
  } else if (linesDone <= 0 || seconds <= 0) {
    text += "time left unknown";
  } else {
    const double left = static_cast<double>(linesLeft) * seconds / static_cast<double>(linesDone);
    text += Duration(static_cast<int64_t>(left + 0.5)) + " left";
  }
  return text;
}

// The columns of the terminal on standard error, less one so the cursor never wraps; 0 when
// it is no terminal or does not say.
size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return 0;
  return static_cast<size_t>(size.ws_col) - 1;
}

}  // namespace

HarvestFigures FiguresOf(const TForm1& form) {
  HarvestFigures figures;
  figures.LinesTaken = form.SearchState.UrlCounter.load();
  figures.LinesInList = form.SearchState.UrlTotal.load();
  figures.Pages = static_cast<int64_t>(form.AddressStatuses.Count());
  figures.FailedPages = form.AddressStatuses.FailedCount();
  figures.Email = form.StringGrid1.EntryCount();
  figures.Mobile = form.StringGrid2.EntryCount();
  figures.QQ = form.StringGrid3.EntryCount();
  if (form.CheckBoxWeChat.Checked()) figures.WeChat = form.StringGrid4.EntryCount();
  if (form.CheckBoxPhone.Checked()) figures.Telephone = form.StringGrid5.EntryCount();
  return figures;
}

ProgressLine::ProgressLine(bool enabled, int32_t firstLine)
    : enabled_(enabled),
      firstLine_(firstLine),
      terminal_(::isatty(STDERR_FILENO) == 1),
      sharesTerminal_(enabled && ::isatty(STDOUT_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {}

void ProgressLine::Show(const TForm1& form) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - lastDrawn_ < kRedrawInterval) return;
  lastDrawn_ = now;
  std::string text = ProgressText(FiguresOf(form), firstLine_,
                                  std::chrono::duration<double>(now - start_).count());
  if (terminal_) {
    if (const size_t width = TerminalWidth(); width > 0 && text.size() > width) text.resize(width);
  }
  std::string line = "\r" + text;
  if (shown_ && text.size() < shownWidth_) line.append(shownWidth_ - text.size(), ' ');
  Write(line);
  shownWidth_ = text.size();
  shown_ = true;
}

void ProgressLine::Erase() {
  if (!shown_) return;
  Write("\r" + std::string(shownWidth_, ' ') + "\r");
  shown_ = false;
}

void ProgressLine::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void WriteSummary(const TForm1& form, const std::string& statusPath,
                  const std::string& recordPath) {
  const HarvestFigures figures = FiguresOf(form);
  std::string summary =
      "lines taken: " + std::to_string(figures.LinesTaken) +
      ", lines in the list: " + std::to_string(figures.LinesInList) +
      ", email: " + std::to_string(figures.Email) + ", mobile: " + std::to_string(figures.Mobile) +
      ", qq: " + std::to_string(figures.QQ) + LaterKinds(figures, ", ", ": ") +
      ", pages: " + std::to_string(figures.Pages) +
      ", failed pages: " + std::to_string(figures.FailedPages) + "\n";
  if (!statusPath.empty()) summary += "what became of each page: " + statusPath + "\n";
  if (!recordPath.empty()) summary += "progress record: " + recordPath + "\n";
  std::fputs(summary.c_str(), stderr);
}

}  // namespace qm::cli
