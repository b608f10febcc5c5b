#include "persistence/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "text/errors.h"

namespace qm {
namespace {

struct SetRow {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  std::string value;
  std::string after;
};

TEST(IniTextSet, EditsLikeTheProfileFunctions) {
  const std::vector<SetRow> rows = {
      {"empty text gains section and key", "", "config", "urladd", "a.txt",
       "[config]\r\nurladd=a.txt\r\n"},
      {"key replaced in place", "[config]\r\nurladd=a\r\nprocess=5\r\n", "config", "process", "7",
       "[config]\r\nurladd=a\r\nprocess=7\r\n"},
      {"names match without regard to case, the file's spelling stays",
       "[CONFIG]\r\nProcess = 5\r\ntotal=1\r\n", "config", "process", "6",
       "[CONFIG]\r\nProcess=6\r\ntotal=1\r\n"},
      {"missing key goes after the section's last line, before blank lines",
       "[config]\r\nurladd=a\r\n\r\n[other]\r\nx=1\r\n", "config", "total", "3",
       "[config]\r\nurladd=a\r\ntotal=3\r\n\r\n[other]\r\nx=1\r\n"},
      {"missing section added at the end, other sections kept", "[other]\r\nx=1\r\n", "config",
       "thread", "2", "[other]\r\nx=1\r\n[config]\r\nthread=2\r\n"},
      {"last line without a break gets one", "[other]\r\nx=1", "config", "ifqq", "0",
       "[other]\r\nx=1\r\n[config]\r\nifqq=0\r\n"},
      {"key after a last line without a break", "[config]\r\nx=1", "config", "ifqq", "1",
       "[config]\r\nx=1\r\nifqq=1\r\n"},
      {"LF lines keep their breaks", "[config]\nurladd=a\nprocess=1\n", "config", "urladd", "b",
       "[config]\nurladd=b\nprocess=1\n"},
      {"only the first matching section is edited", "[config]\r\na=1\r\n[config]\r\nb=2\r\n",
       "config", "b", "3", "[config]\r\na=1\r\nb=3\r\n[config]\r\nb=2\r\n"},
      {"same key in another section untouched", "[other]\r\nprocess=1\r\n[config]\r\n", "config",
       "process", "9", "[other]\r\nprocess=1\r\n[config]\r\nprocess=9\r\n"},
      {"cp936 bytes kept as they are", "[config]\r\nurladd=x\r\n", "config", "urladd",
       "c:\\\xd6\xd0\xce\xc4.txt", "[config]\r\nurladd=c:\\\xd6\xd0\xce\xc4.txt\r\n"},
      {"a value cannot add lines", "", "config", "urladd", "a\r\nprocess=99",
       "[config]\r\nurladd=a\r\n"},
      {"a NUL ends the value", "", "config", "urladd", std::string("ab\0cd", 5),
       "[config]\r\nurladd=ab\r\n"},
      {"header with blanks inside brackets", "[ Config ]\r\n", "config", "total", "1",
       "[ Config ]\r\ntotal=1\r\n"},
  };
  for (const SetRow& row : rows) {
    TIniText text(row.before);
    text.Set(row.section, row.key, row.value);
    EXPECT_EQ(text.Text(), row.after) << row.name;
  }
}

struct FindRow {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::optional<std::string> value;
};

TEST(IniTextFind, ReadsLikeTheProfileFunctions) {
  const std::vector<FindRow> rows = {
      {"plain", "[config]\r\nprocess=57\r\n", "config", "process", "57"},
      {"case of both names ignored", "[Config]\r\nPROCESS=57\r\n", "CONFIG", "process", "57"},
      {"blanks around key and value trimmed", "[config]\r\n  process =  57  \r\n", "config",
       "process", "57"},
      {"enclosing double quotes removed", "[config]\r\nurladd=\"a b\"\r\n", "config", "urladd",
       "a b"},
      {"enclosing single quotes removed", "[config]\r\nurladd='a'\r\n", "config", "urladd", "a"},
      {"unpaired quote kept", "[config]\r\nurladd=\"a\r\n", "config", "urladd", "\"a"},
      {"empty value", "[config]\r\nurladd=\r\n", "config", "urladd", ""},
      {"value may hold '='", "[config]\r\nurladd=a=b\r\n", "config", "urladd", "a=b"},
      {"first of two keys", "[config]\r\nx=1\r\nx=2\r\n", "config", "x", "1"},
      {"key in another section not found", "[other]\r\nx=1\r\n[config]\r\n", "config", "x",
       std::nullopt},
      {"key before any section not found", "x=1\r\n[config]\r\n", "config", "x", std::nullopt},
      {"missing section", "[other]\r\nx=1\r\n", "config", "x", std::nullopt},
      {"last line without a break", "[config]\r\nx=1", "config", "x", "1"},
      {"LF lines", "[config]\nx=1\ny=2\n", "config", "y", "2"},
      {"second section of the same name is not read", "[config]\r\n[config]\r\nx=1\r\n", "config",
       "x", std::nullopt},
      {"empty text", "", "config", "x", std::nullopt},
  };
  for (const FindRow& row : rows) {
    EXPECT_EQ(TIniText(row.text).Find(row.section, row.key), row.value) << row.name;
  }
}

TEST(IniTextFind, ValuesComeThroughA2048ByteBuffer) {
  const std::string longValue(5000, 'a');
  TIniText text("[config]\r\nurladd=" + longValue + "\r\n");
  EXPECT_EQ(text.ReadString("config", "urladd", ""), std::string(2047, 'a'));
  EXPECT_EQ(text.ReadString("config", "missing", longValue), std::string(2047, 'a'));
}

TEST(IniTextFind, IntegersUseTheProgramsSyntax) {
  TIniText text(
      "[config]\r\nhex=0x1A\r\ndollar=$ff\r\nword=abc\r\nneg=-3\r\nbig=4294967296\r\n"
      "all=FFFFFFFF\r\nxall=xFFFFFFFF\r\nempty=\r\n");
  EXPECT_EQ(text.ReadInteger("config", "hex", 0), 26);
  EXPECT_EQ(text.ReadInteger("config", "dollar", 0), 255);
  EXPECT_EQ(text.ReadInteger("config", "word", 5), 5);
  EXPECT_EQ(text.ReadInteger("config", "neg", 0), -3);
  EXPECT_EQ(text.ReadInteger("config", "big", 7), 7);
  EXPECT_EQ(text.ReadInteger("config", "all", 7), 7);
  EXPECT_EQ(text.ReadInteger("config", "xall", 0), -1);
  EXPECT_EQ(text.ReadInteger("config", "empty", 4), 4);
  EXPECT_EQ(text.ReadInteger("config", "missing", 9), 9);
}

TEST(IniFile, CreatesReplacesAndReads) {
  test::TempDir dir;
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("config", "urladd", "none"), "none");
  ini.WriteString("config", "urladd", "list.txt");
  ini.WriteInteger("config", "process", -5);
  ini.WriteInteger("config", "process", 12);
  EXPECT_EQ(test::TempDir::Read(ini.FileName()), "[config]\r\nurladd=list.txt\r\nprocess=12\r\n");
  EXPECT_EQ(ini.ReadInteger("CONFIG", "Process", 0), 12);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(IniFile, KeepsThePermissionsOfTheFileItReplaces) {
  test::TempDir dir;
  const std::string path = dir.Write("a.ini", "[config]\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  TIniFile(path).WriteString("config", "x", "1");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFile, UnwritablePlacesRaiseUnableToWrite) {
  test::TempDir dir;
  const std::string notADir = dir.Write("plain", "x");
  for (const std::string& path :
       {dir.File("missing/a.ini"), notADir + "/a.ini", dir.Path().string()}) {
    TIniFile ini(path);
    try {
      ini.WriteString("config", "urladd", "x");
      ADD_FAILURE() << "no error for " << path;
    } catch (const EIniFileError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    // Reading the same places never fails.
    EXPECT_EQ(ini.ReadString("config", "urladd", "d"), "d");
  }
}

TEST(IniFile, ReadOnlyDirectoryRaisesUnableToWrite) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  test::TempDir dir;
  const std::filesystem::path sub = dir.Path() / "ro";
  std::filesystem::create_directory(sub);
  ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
  TIniFile ini((sub / "a.ini").string());
  EXPECT_THROW(ini.WriteString("config", "urladd", "x"), EIniFileError);
  chmod(sub.c_str(), 0755);
}

// Two writers and a reader at once: every snapshot is a whole file written by one writer.
TEST(IniFile, ConcurrentWritersNeverInterleave) {
  test::TempDir dir;
  const std::string path = dir.File("a.ini");
  auto record = [](char who) {
    std::vector<TIniEntry> entries;
    for (const char* key : {"urladd", "process", "total", "thread", "ifeml", "ifphone", "ifqq"}) {
      entries.push_back({key, std::string(40, who)});
    }
    return entries;
  };
  auto expected = [&](char who) {
    TIniText text;
    for (const TIniEntry& e : record(who)) text.Set("config", e.Key, e.Value);
    return text.Text();
  };
  const std::string fileA = expected('a'), fileB = expected('b');
  std::atomic<int> done{0};
  auto writer = [&](char who) {
    TIniFile ini(path);
    const auto entries = record(who);
    for (int i = 0; i < 100; ++i) ini.WriteEntries("config", entries);
    ++done;
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  int bad = 0, reads = 0;
  while (done.load() < 2) {
    const std::string seen = TIniFile(path).Snapshot().Text();
    if (!seen.empty() && seen != fileA && seen != fileB) ++bad;
    ++reads;
  }
  a.join();
  b.join();
  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  const std::string last = test::TempDir::Read(path);
  EXPECT_TRUE(last == fileA || last == fileB);
}

}  // namespace
}  // namespace qm
