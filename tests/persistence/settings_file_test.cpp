#include "persistence/settings_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(SettingsFileName, DerivedFromTheProgramFileName) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/opt/qm/qmharvest", "qmharvest.ini"},   {"/opt/qm/QmHarvest.EXE", "qmharvest.ini"},
      {"/opt/qm/harvest2", "harvest2.ini"},     {"/opt/qm/my.tool.bin", "my.tool.ini"},
      {"/opt/v1.2/qmharvest", "qmharvest.ini"}, {"/opt/qm/.hidden", ".hidden.ini"},
      {"qmharvest", "qmharvest.ini"},           {"/opt/qm/a.b", "a.ini"},
  };
  for (const auto& [program, name] : rows) EXPECT_EQ(SettingsFileName(program), name) << program;
}

TEST(SettingsFile, FirstWriteHoldsTheSevenKeysThenTheLaterOnesInOrder) {
  test::TempDir dir;
  const std::string path = dir.File("qmharvest.ini");
  TSettingsRecord record{"/data/\xd6\xd0.txt", 57, 100, 3, 1, 0, 1, 0, 1, 0, 32, 0, 500, 0, 4096, 1};
  WriteSettingsFile(path, record);
  EXPECT_EQ(test::TempDir::Read(path),
            "[config]\r\nurladd=/data/\xd6\xd0.txt\r\nprocess=57\r\ntotal=100\r\nthread=3\r\n"
            "ifeml=1\r\nifphone=0\r\nifqq=1\r\nredirect=0\r\nextended=1\r\nunique=0\r\n"
            "inflight=32\r\ndepth=0\r\npagelimit=500\r\nrobots=0\r\nmemlimit=4096\r\n"
            "newonly=1\r\nkeepalive=1\r\nhostlimit=8\r\ntimeout=20\r\nuseragent=\r\n"
            "render=-1\r\nifwechat=0\r\niftel=0\r\nverify=1\r\nvalidonly=0\r\n");
}

TEST(SettingsFile, LaterWritesReplaceInPlaceAndKeepOtherLines) {
  test::TempDir dir;
  const std::string path = dir.Write(
      "qmharvest.ini",
      "; kept\r\n[window]\r\nleft=10\r\n\r\n[Config]\r\nIfQQ=1\r\nPROCESS=3\r\nextra=x\r\n\r\n"
      "[later]\r\ny=2\r\n");
  WriteSettingsFile(path, TSettingsRecord{"l.txt", -1, 8, 4, 0, 1, 0});
  EXPECT_EQ(test::TempDir::Read(path),
            "; kept\r\n[window]\r\nleft=10\r\n\r\n[Config]\r\nIfQQ=0\r\nPROCESS=-1\r\nextra=x\r\n"
            "urladd=l.txt\r\ntotal=8\r\nthread=4\r\nifeml=0\r\nifphone=1\r\nredirect=1\r\n"
            "extended=1\r\nunique=1\r\ninflight=1024\r\ndepth=1\r\npagelimit=20\r\nrobots=1\r\n"
            "memlimit=1024\r\nnewonly=0\r\nkeepalive=1\r\nhostlimit=8\r\ntimeout=20\r\n"
            "useragent=\r\nrender=-1\r\nifwechat=0\r\niftel=0\r\nverify=1\r\nvalidonly=0\r\n\r\n"
            "[later]\r\ny=2\r\n");
}

TEST(SettingsFile, ReadsBackWhatWasWritten) {
  test::TempDir dir;
  const std::string path = dir.File("x.ini");
  const TSettingsRecord written{"a b.txt", INT32_MIN, INT32_MAX, 2, 0, 1, 1,      0,
                                0,         0,         5,         3, 7, 0, 1048576};
  WriteSettingsFile(path, written);
  const TSettingsRecord read = ReadSettingsFile(path, CreationDefaults());
  EXPECT_EQ(read.UrlAdd, written.UrlAdd);
  EXPECT_EQ(read.Process, written.Process);
  EXPECT_EQ(read.Total, written.Total);
  EXPECT_EQ(read.Thread, written.Thread);
  EXPECT_EQ(read.IfEml, written.IfEml);
  EXPECT_EQ(read.IfPhone, written.IfPhone);
  EXPECT_EQ(read.IfQQ, written.IfQQ);
  EXPECT_EQ(read.Redirect, written.Redirect);
  EXPECT_EQ(read.Extended, written.Extended);
  EXPECT_EQ(read.Unique, written.Unique);
  EXPECT_EQ(read.InFlight, written.InFlight);
  EXPECT_EQ(read.Depth, written.Depth);
  EXPECT_EQ(read.PageLimit, written.PageLimit);
  EXPECT_EQ(read.Robots, written.Robots);
  EXPECT_EQ(read.MemoryLimit, written.MemoryLimit);

  TSettingsRecord identity;
  identity.Timeout = 120;
  identity.UserAgent = "Finder/3.1 (+http://f.example/bot)";
  identity.KeepAlive = 0;
  identity.HostLimit = 64;
  WriteSettingsFile(path, identity);
  const TSettingsRecord back = ReadSettingsFile(path, CreationDefaults());
  EXPECT_EQ(back.Timeout, 120);
  EXPECT_EQ(back.UserAgent, identity.UserAgent);
  EXPECT_EQ(back.KeepAlive, 0);
  EXPECT_EQ(back.HostLimit, 64);
}

TEST(SettingsFile, MissingOrOddValuesTakeTheirDefaults) {
  test::TempDir dir;
  const TSettingsRecord none = ReadSettingsFile(dir.File("missing.ini"), CreationDefaults());
  EXPECT_EQ(none.UrlAdd, "");
  EXPECT_EQ(none.Process, 0);
  EXPECT_EQ(none.Thread, 1);
  EXPECT_EQ(none.IfEml, 1);
  EXPECT_EQ(ReadSettingsFile(dir.File("missing.ini"), ResumeDefaults()).IfEml, 0);

  const std::string path = dir.Write(
      "odd.ini", "[config]\r\nprocess=0x1A\r\ntotal=abc\r\nthread=9\r\nifeml=256\r\nifqq=$\r\n");
  const TSettingsRecord odd = ReadSettingsFile(path, ResumeDefaults());
  EXPECT_EQ(odd.Process, 26);
  EXPECT_EQ(odd.Total, 0);
  EXPECT_EQ(odd.Thread, 9);
  EXPECT_EQ(odd.IfEml, 256);
  EXPECT_EQ(odd.IfQQ, 0);
  // A file of the first version's shape: the later capabilities take their defaults.
  for (const TSettingsRecord& record : {odd, none}) {
    EXPECT_EQ(record.Redirect, 1);
    EXPECT_EQ(record.Extended, 1);
    EXPECT_EQ(record.Unique, 1);
    EXPECT_EQ(record.InFlight, 1024);
    EXPECT_EQ(record.KeepAlive, 1);
    EXPECT_EQ(record.HostLimit, 8);
    EXPECT_EQ(record.Depth, 1);
    EXPECT_EQ(record.PageLimit, 20);
    EXPECT_EQ(record.Robots, 1);
    EXPECT_EQ(record.MemoryLimit, 1024);
    EXPECT_EQ(record.Timeout, 20);
    EXPECT_EQ(record.UserAgent, "");
  }
}

TEST(SettingsFile, SwitchesLookAtTheLowEightBits) {
  const std::vector<std::pair<int32_t, bool>> rows = {{0, false},  {1, true},    {2, true},
                                                      {255, true}, {256, false}, {257, true},
                                                      {-1, true},  {-256, false}};
  for (const auto& [value, checked] : rows) EXPECT_EQ(SwitchChecked(value), checked) << value;
}

}  // namespace
}  // namespace qm
