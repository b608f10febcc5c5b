#include "shell/program_command_line.h"

#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shell/app_title.h"

namespace qm::shell {
namespace {

const char* const kHelpUsage = "Usage: qmharvest [--help] [--version] [TOOLKIT OPTIONS]\n\n";
const char* const kHelpText =
    ": collects e-mail addresses, mobile numbers and QQ numbers from the\n"
    "pages of a URL list, in a window. It needs a graphical display; qmharvest-cli runs the\n"
    "same harvest without one. The settings file is kept beside the program when its\n"
    "folder is writable, else in $XDG_CONFIG_HOME/qmharvest/ (or ~/.config/qmharvest/).\n"
    "\n"
    "  --help     this text\n"
    "  --version  the program's version\n"
    "\n"
    "The toolkit's own options are passed on to it: -platform, -platformpluginpath,\n"
    "-platformtheme, -plugin, -qwindowgeometry, -qwindowicon, -qwindowtitle, -session,\n"
    "-style, -stylesheet, -display, -geometry, -title, -icon and -name, each with its\n"
    "value; -reverse, -widgetcount, -sync, -nograb, -dograb; -style=NAME,\n"
    "-stylesheet=FILE and -qmljsdebugger=SETTINGS. Anything else is a usage error\n"
    "(exit status 2).\n";

// The toolkit's command-line options, taken out of the arguments when the application is
// created; each may also be written with two dashes.
const char* const kToolkitOptionsWithValue[] = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowicon", "-qwindowtitle", "-session", "-style", "-stylesheet",
    // The X11 spellings.
    "-display", "-geometry", "-title", "-icon", "-name"};
const char* const kToolkitFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
// Options the toolkit also reads as -NAME=VALUE.
const char* const kToolkitOptionsWithEquals[] = {"-style=", "-stylesheet=", "-qmljsdebugger="};

bool Listed(std::string_view name, std::span<const char* const> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

int UsageFailure(std::FILE* err, const std::string& message) {
  std::fprintf(err, "qmharvest: %s\nTry 'qmharvest --help'.\n", message.c_str());
  return 2;
}

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

std::optional<int> AnswerCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelpUsage, out);
      std::fputs(kApplicationTitle, out);
      std::fputs(kHelpText, out);
      return 0;
    }
    if (arg == "--version") {
      std::fprintf(out, "qmharvest %s\n", QM_VERSION);
      return 0;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      return UsageFailure(err, "unexpected argument '" + std::string(arg) +
                                   "'; the URL list is chosen in the window");
    }
    const std::string_view name = arg.substr(arg[1] == '-' ? 1 : 0);
    if (Listed(name, kToolkitFlags)) continue;
    if (Listed(name, kToolkitOptionsWithValue)) {
      // The value is skipped, so a window title of "--help" stays a title.
      if (++i == argc) return UsageFailure(err, "option " + std::string(arg) + " needs a value");
      continue;
    }
    const size_t equals = name.find('=');
    if (equals != std::string_view::npos &&
        Listed(name.substr(0, equals + 1), kToolkitOptionsWithEquals)) {
      continue;
    }
    return UsageFailure(err, "unknown option " + std::string(arg.substr(0, arg.find('='))));
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
