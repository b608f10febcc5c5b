#include "shell/program_command_line.h"

#include <unistd.h>

#include <QString>
#include <cstring>
#include <vector>

#include "shell/app_title.h"

namespace qm::shell {
namespace {

const char* const kHelpUsage = "Usage: qmharvest [--help] [--version]\n\n";
const char* const kHelpText =
    ": collects e-mail addresses, mobile numbers and QQ numbers from the\n"
    "pages of a URL list, in a window. It needs a graphical display; qmharvest-cli runs the\n"
    "same harvest without one.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the program's version\n";

struct HeldMessage {
  QtMsgType type;
  const char* file;
  int line;
  const char* function;
  const char* category;
  QString text;
};

std::vector<HeldMessage>& Held() {
  static std::vector<HeldMessage> held;
  return held;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const ssize_t ignored = write(STDERR_FILENO, kNoDisplayMessage, std::strlen(kNoDisplayMessage));
    static_cast<void>(ignored);
    _exit(1);
  }
  // The context's strings point into the program's static data; only the text needs a copy.
  Held().push_back({type, context.file, context.line, context.function, context.category, text});
}

}  // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv, std::FILE* out) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelpUsage, out);
      std::fputs(kApplicationTitle, out);
      std::fputs(kHelpText, out);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fprintf(out, "qmharvest %s\n", QM_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

TDisplayStartGuard::TDisplayStartGuard() : previous_(qInstallMessageHandler(HoldMessage)) {}

TDisplayStartGuard::~TDisplayStartGuard() {
  qInstallMessageHandler(previous_);
  std::vector<HeldMessage> held;
  held.swap(Held());
  for (const HeldMessage& message : held) {
    const QMessageLogContext context(message.file, message.line, message.function,
                                     message.category);
    qt_message_output(message.type, context, message.text);
  }
}

}  // namespace qm::shell
