// Where the settings file and the exports go: beside a writable program, else in the user's
// folders, and every reader and writer of the settings using that one file.
#include "persistence/data_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "engine/main_form.h"
#include "persistence/settings_file.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm {
namespace {

using test::ScriptedDialogs;
using test::TempDir;

EnvironmentLookup LookupIn(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  };
}

TEST(ResolveDataLocation, ProgramFolderWhenWritableElseTheUserFolders) {
  struct Case {
    const char* what;
    bool writable;
    std::map<std::string, std::string> variables;
    const char* settings;
    const char* exports;
  };
  const Case cases[] = {
      {"portable copy", true, {{"HOME", "/home/u"}}, "/opt/qm/", "/opt/qm/"},
      {"home only", false, {{"HOME", "/home/u"}}, "/home/u/.config/qmharvest/", "/home/u/"},
      {"home with slash", false, {{"HOME", "/home/u/"}}, "/home/u/.config/qmharvest/", "/home/u/"},
      {"config home",
       false,
       {{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/cfg"}},
       "/cfg/qmharvest/",
       "/home/u/"},
      {"relative config home ignored",
       false,
       {{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "cfg"}},
       "/home/u/.config/qmharvest/",
       "/home/u/"},
      {"empty config home ignored",
       false,
       {{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", ""}},
       "/home/u/.config/qmharvest/",
       "/home/u/"},
      {"config home without home",
       false,
       {{"XDG_CONFIG_HOME", "/cfg/"}},
       "/cfg/qmharvest/",
       "/opt/qm/"},
      {"nothing to go to", false, {}, "/opt/qm/", "/opt/qm/"},
  };
  for (const Case& c : cases) {
    const TDataLocation location = ResolveDataLocation(
        "/opt/qm/", LookupIn(c.variables), [&](const std::string&) { return c.writable; });
    EXPECT_EQ(location.SettingsDirectory, c.settings) << c.what;
    EXPECT_EQ(location.ExportDirectory, c.exports) << c.what;
  }
}

TEST(DirectoryWritable, OnlyExistingFoldersThisProcessMayWriteIn) {
  TempDir dir;
  const std::string file = dir.Write("plain", "x");
  EXPECT_TRUE(DirectoryWritable(dir.Path().string() + "/"));
  EXPECT_FALSE(DirectoryWritable(dir.File("missing/")));
  EXPECT_FALSE(DirectoryWritable(file));
  if (geteuid() != 0) {
    std::filesystem::create_directory(dir.File("locked"));
    chmod(dir.File("locked").c_str(), 0555);
    EXPECT_FALSE(DirectoryWritable(dir.File("locked/")));
    chmod(dir.File("locked").c_str(), 0755);
  }
}

// An installed program: its folder exists but may not be written, the user's home is below
// the test's folder.
struct InstalledProgram {
  InstalledProgram() {
    std::filesystem::create_directories(dir.File("usr/bin"));
    std::filesystem::create_directories(home());
  }
  std::string home() const { return dir.File("home/user"); }
  std::string settingsPath() const { return home() + "/.config/qmharvest/qmharvest.ini"; }

  std::unique_ptr<TForm1> Create(std::function<bool(const std::string&, TPageLines&)> fetch) {
    TForm1Environment environment;
    environment.ProgramPath = dir.File("usr/bin/qmharvest");
    environment.LocalAddress = [] { return std::string("192.0.2.7"); };
    environment.FetchPage = std::move(fetch);
    environment.Environment = LookupIn({{"HOME", home()}});
    const std::string programFolder = dir.File("usr/bin/");
    environment.DirectoryWritable = [programFolder](const std::string& folder) {
      return folder != programFolder && DirectoryWritable(folder);
    };
    auto form = std::make_unique<TForm1>(dialogs, std::move(environment));
    form->FormCreate();
    return form;
  }

  TempDir dir;
  ScriptedDialogs dialogs;
};

bool OnePageWithAnAddress(const std::string&, TPageLines& lines) {
  lines = TPageLines{"mail someone@example.com here"};
  return true;
}

TEST(InstalledProgram, SaveEndOfRunAndResumeShareTheFileInTheUserFolder) {
  InstalledProgram p;
  // Saving enters the export folder, which goes with the test's folder.
  const std::filesystem::path workingDirectory = std::filesystem::current_path();
  struct Restore {
    std::filesystem::path path;
    ~Restore() { std::filesystem::current_path(path); }
  } restore{workingDirectory};
  const std::string list =
      p.dir.Write("home/user/list.txt", "http://a/1\r\nhttp://a/2\r\nhttp://a/3\r\n");
  {
    auto form = p.Create(OnePageWithAnAddress);
    EXPECT_EQ(form->SettingsFilePath(), p.settingsPath());
    EXPECT_EQ(form->ExportDirectory(), p.home() + "/");
    form->Edit5.SetText(list);
    form->SpeedButton7Click();
    ASSERT_TRUE(std::filesystem::exists(p.settingsPath()));
    // The folders the start created are the user's alone.
    struct stat status;
    ASSERT_EQ(stat((p.home() + "/.config/qmharvest").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    form->SpeedButton2Click();
    ASSERT_TRUE(test::WaitUntil([&] { return form->SearchState.CompletedRuns.load() >= 1; }));
    EXPECT_EQ(ReadSettingsFile(p.settingsPath(), ResumeDefaults()).Process, 3);

    p.dialogs.AnswerSave(p.home() + "/mail.txt");
    form->SpeedButton5Click();
    const auto history = p.dialogs.History();
    ASSERT_EQ(history.back().Kind, "save");
    EXPECT_EQ(history.back().FileOptions.InitialDir, p.home() + "/");
  }
  EXPECT_TRUE(std::filesystem::is_empty(p.dir.File("usr/bin")));

  // A later start reads the same file, and resuming from it runs the rest of the list.
  WriteSettingsFile(p.settingsPath(), [&] {
    TSettingsRecord record = CreationDefaults();
    record.UrlAdd = list;
    record.Process = 1;
    record.Total = 3;
    return record;
  }());
  std::mutex mutex;
  std::vector<std::string> fetched;
  auto form = p.Create([&](const std::string& url, TPageLines& lines) {
    std::lock_guard lock(mutex);
    fetched.push_back(url);
    lines.clear();
    return true;
  });
  EXPECT_EQ(form->Edit5.Text(), list);
  p.dialogs.AnswerInput("1");
  form->SpeedButton4Click();
  ASSERT_TRUE(test::WaitUntil([&] { return form->SearchState.CompletedRuns.load() >= 1; }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(fetched, (std::vector<std::string>{"http://a/2", "http://a/3"}));
}

TEST(InstalledProgram, ProgramInAFolderThatCannotBeWrittenUsesTheRealProbe) {
  TempDir dir;
  ScriptedDialogs dialogs;
  TForm1Environment environment;
  environment.ProgramPath =
      dir.File("gone/qmharvest");  // no such folder: nothing can be written there
  environment.Environment =
      LookupIn({{"HOME", dir.Path().string()}, {"XDG_CONFIG_HOME", dir.File("cfg")}});
  TForm1 form(dialogs, std::move(environment));
  form.FormCreate();
  EXPECT_EQ(form.SettingsFilePath(), dir.File("cfg/qmharvest/qmharvest.ini"));
  form.SpeedButton7Click();
  EXPECT_TRUE(std::filesystem::exists(dir.File("cfg/qmharvest/qmharvest.ini")));
}

}  // namespace
}  // namespace qm
