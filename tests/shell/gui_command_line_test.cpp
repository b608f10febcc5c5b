// The GUI program's own command line, run as a process as its users run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace {

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs the GUI program with `args`, its environment without the variables named in `drop`
// and with `add`.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& drop,
                      const std::vector<std::string>& add) {
  qm::test::TempDir dir;
  const std::string outPath = dir.File("out"), errPath = dir.File("err");
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    bool dropped = false;
    for (const std::string& name : drop) dropped = dropped || text.rfind(name + "=", 0) == 0;
    if (!dropped) environment.push_back(text);
  }
  environment.insert(environment.end(), add.begin(), add.end());
  std::vector<char*> envp;
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvText{QM_GUI_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : argvText) argv.push_back(text.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  ProgramRun run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = qm::test::TempDir::Read(outPath);
  run.err = qm::test::TempDir::Read(errPath);
  return run;
}

TEST(GuiCommandLine, HelpAndVersionPrintAndSucceedWithoutADisplay) {
  const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const ProgramRun help = RunProgram({"--help"}, noDisplay, {});
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("Usage: qmharvest", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("qmharvest-cli"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const ProgramRun version = RunProgram({"--version"}, noDisplay, {});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("qmharvest ") + QM_VERSION + "\n");
}

TEST(GuiCommandLine, NoDisplayGivesOneLineNamingTheCommandLineProgram) {
  const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  struct Case {
    const char* what;
    std::vector<std::string> add;
  };
  const Case cases[] = {
      {"nothing set", {}},
      {"X11 asked for", {"QT_QPA_PLATFORM=xcb"}},
      {"a display nobody serves", {"QT_QPA_PLATFORM=xcb", "DISPLAY=:65000"}},
  };
  for (const Case& c : cases) {
    const ProgramRun run = RunProgram({}, noDisplay, c.add);
    EXPECT_EQ(run.status, 1) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.what;
    ASSERT_FALSE(run.err.empty()) << c.what;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find("qmharvest-cli"), std::string::npos) << c.what;
  }
}

// Arguments are checked before the toolkit starts: what is neither ours nor the toolkit's
// fails at once, without a display; the toolkit's own options are passed on to it.
TEST(GuiCommandLine, ArgumentsThatAreNotOptionsOfOursNorTheToolkitsAreUsageErrors) {
  const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // on standard error
  } rows[] = {
      {{"--bogus"}, 2, "qmharvest: unknown option --bogus\nTry 'qmharvest --help'.\n"},
      {{"-bogus=1"}, 2, "unknown option -bogus\n"},
      {{"--"}, 2, "unknown option --\n"},
      {{"list.txt"}, 2, "unexpected argument 'list.txt'"},
      {{"-style", "fusion", "--threads", "2"}, 2, "unknown option --threads\n"},
      {{"-platform"}, 2, "option -platform needs a value"},
      // A toolkit option's value is not read as an option of ours.
      {{"-qwindowtitle", "--help"}, 1, "qmharvest-cli"},
      {{"--style=fusion", "-reverse", "--platform", "xcb"}, 1, "qmharvest-cli"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.front());
    const ProgramRun run = RunProgram(row.args, noDisplay, {});
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
  }
}

}  // namespace
