#pragma once
// The GUI program's own command line, answered before a display is needed, and its start on
// a machine without a display.
#include <QtGlobal>
#include <cstdio>
#include <optional>

namespace qm::shell {

// --help and --version print to `out` and give exit status 0. An option that is neither ours
// nor the toolkit's, a toolkit option without its value, or any other argument is named on
// `err` and gives exit status 2. Nothing when the toolkit may start with the arguments.
std::optional<int> AnswerCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err);

// The one line a start without a display prints before exit status 1.
inline constexpr const char* kNoDisplayMessage =
    "qmharvest: cannot open a display (DISPLAY or WAYLAND_DISPLAY); "
    "qmharvest-cli harvests without a window\n";

// While it lives, the application is being created: the toolkit's messages are held back,
// and a fatal one (no display to connect to) becomes kNoDisplayMessage and exit status 1
// instead of an abort with several lines of advice. Its end prints what it held back.
class TDisplayStartGuard {
 public:
  TDisplayStartGuard();
  ~TDisplayStartGuard();
  TDisplayStartGuard(const TDisplayStartGuard&) = delete;
  TDisplayStartGuard& operator=(const TDisplayStartGuard&) = delete;

 private:
  QtMessageHandler previous_;
};

}  // namespace qm::shell
