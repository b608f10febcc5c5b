// The settings file written as a user expects: read-only files kept, links written through,
// leftovers of a killed save cleared.
#include "persistence/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "persistence/settings_file.h"
#include "support/temp_dir.h"
#include "text/errors.h"

namespace qm {
namespace {

using test::TempDir;

TSettingsRecord Record(int32_t process) {
  TSettingsRecord record = CreationDefaults();
  record.Process = process;
  return record;
}

TEST(SettingsWrite, ReadOnlyFileIsNotReplaced) {
  TempDir dir;
  const std::string path = dir.Write("qmharvest.ini", "[config]\r\nprocess=4\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  try {
    WriteSettingsFile(path, Record(9));
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(TempDir::Read(path), "[config]\r\nprocess=4\r\n");
  struct stat status;
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0444u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SettingsWrite, SymbolicLinksAreWrittenThrough) {
  struct Case {
    const char* what;
    const char* link;    // the settings path, a link
    const char* target;  // where it leads, relative to the link's folder
    const char* real;    // the file written, below the test folder
  };
  const Case cases[] = {
      {"relative link", "a.ini", "data/real.ini", "data/real.ini"},
      {"link to a link", "b.ini", "c.ini", "data/c-real.ini"},
      {"dangling link", "d.ini", "data/new.ini", "data/new.ini"},
  };
  TempDir dir;
  std::filesystem::create_directory(dir.File("data"));
  dir.Write("data/real.ini", "[other]\r\nkeep=1\r\n");
  dir.Write("data/c-real.ini", "");
  std::filesystem::create_symlink("data/c-real.ini", dir.File("c.ini"));
  for (const Case& c : cases) {
    std::filesystem::create_symlink(c.target, dir.File(c.link));
    WriteSettingsFile(dir.File(c.link), Record(7));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File(c.link))) << c.what;
    EXPECT_EQ(ReadSettingsFile(dir.File(c.real), ResumeDefaults()).Process, 7) << c.what;
    EXPECT_EQ(FollowLinks(dir.File(c.link)), dir.File(c.real)) << c.what;
  }
  EXPECT_EQ(TempDir::Read(dir.File("data/real.ini")).rfind("[other]\r\nkeep=1\r\n", 0), 0u);
  // An absolute link.
  std::filesystem::create_symlink(dir.File("data/real.ini"), dir.File("e.ini"));
  EXPECT_EQ(FollowLinks(dir.File("e.ini")), dir.File("data/real.ini"));
}

pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST(SettingsWrite, TemporariesOfAKilledSaveAreRemovedAtTheNextWrite) {
  TempDir dir;
  const std::string path = dir.Write("qmharvest.ini", "[config]\r\n");
  const std::string dead = std::to_string(EndedProcess());
  const std::string living = std::to_string(getppid());
  const std::string stale[] = {"qmharvest.ini.tmp" + dead + "-0",
                               "qmharvest.ini.tmp" + dead + "-17"};
  const std::string kept[] = {"qmharvest.ini.tmp" + living + "-3",  // a save in progress elsewhere
                              "qmharvest.ini.tmp", "qmharvest.ini.tmp" + dead,
                              "qmharvest.ini.tmpx-1", "other.ini.tmp" + dead + "-0"};
  for (const std::string& name : stale) dir.Write(name, "half");
  for (const std::string& name : kept) dir.Write(name, "keep");
  WriteSettingsFile(path, Record(1));
  for (const std::string& name : stale)
    EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(dir.File(name))) << name;
  EXPECT_EQ(ReadSettingsFile(path, ResumeDefaults()).Process, 1);
}

}  // namespace
}  // namespace qm
