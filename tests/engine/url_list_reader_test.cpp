#include "engine/url_list_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "text/errors.h"

namespace qm {
namespace {

using test::TempDir;

std::vector<std::string> ReadAll(const std::string& path) {
  auto reader = TUrlListReader::Open(path);
  std::vector<std::string> lines;
  std::string line;
  while (reader->ReadLine(line)) lines.push_back(line);
  EXPECT_TRUE(reader->Eof());
  return lines;
}

struct ListCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(UrlListReader, ReadsLinesByTheListRules) {
  const std::string longLine(70000, 'a');                // longer than one buffer
  const std::string beforeBoundary(64 * 1024 - 1, 'b');  // CR LF split across two buffers
  const std::vector<ListCase> cases = {
      {"empty file", "", {}},
      {"one line without a break", "http://a/", {"http://a/"}},
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"LF", "a\nb\n", {"a", "b"}},
      {"mixed, last line without a break", "a\r\nb\nc", {"a", "b", "c"}},
      {"empty lines count", "\n\r\n\n", {"", "", ""}},
      {"empty line between", "a\n\nb\n", {"a", "", "b"}},
      {"a lone CR is text", "a\rb\n", {"a\rb"}},
      {"CR before CR LF", "a\r\r\n", {"a\r"}},
      {"Ctrl-Z ends the list", "a\nb\x1a\nc\n", {"a", "b"}},
      {"Ctrl-Z at the start",
       "\x1a"
       "a\n",
       {}},
      {"Ctrl-Z after a break", "a\n\x1a", {"a"}},
      {"NUL and blanks kept", std::string("a\0b c\n", 6), {std::string("a\0b c", 5)}},
      {"line longer than the buffer", longLine + "\nz", {longLine, "z"}},
      {"CR LF across buffers", beforeBoundary + "\r\nnext", {beforeBoundary, "next"}},
      {"Ctrl-Z in the second buffer", longLine + "\nx\x1ay", {longLine, "x"}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadAll(dir.Write("list.txt", c.bytes)), c.lines);
    EXPECT_EQ(CountUrlListLines(dir.File("list.txt")), static_cast<int32_t>(c.lines.size()));
  }
}

TEST(UrlListReader, EofLooksAheadWithoutTakingALine) {
  TempDir dir;
  auto reader = TUrlListReader::Open(dir.Write("list.txt", "a\nb\n\x1a junk"));
  std::string line;
  EXPECT_FALSE(reader->Eof());
  EXPECT_FALSE(reader->Eof());
  ASSERT_TRUE(reader->ReadLine(line));
  EXPECT_EQ(line, "a");
  ASSERT_TRUE(reader->ReadLine(line));
  EXPECT_EQ(line, "b");
  EXPECT_TRUE(reader->Eof());
  EXPECT_EQ(reader->Next(line), TListRead::End);
  EXPECT_EQ(reader->LinesRead(), 2);
}

TEST(UrlListReader, OpenAndReadFailuresAreInputOutputErrors) {
  TempDir dir;
  try {
    TUrlListReader::Open(dir.File("missing.txt"));
    FAIL() << "opened a missing file";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  try {
    CountUrlListLines(dir.Path().string());
    FAIL() << "counted a folder";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  // Reading the start of our own address space fails with EIO: a read error after a
  // successful open.
  auto reader = TUrlListReader::Open("/proc/self/mem");
  std::string line;
  EXPECT_EQ(reader->Next(line), TListRead::Error);
  EXPECT_NE(reader->ErrorCode(), 0);
  EXPECT_EQ(reader->Next(line), TListRead::Error);
  EXPECT_THROW(reader->ReadLine(line), EInOutError);
  EXPECT_THROW(CountUrlListLines("/proc/self/mem"), EInOutError);
}

TEST(UrlListReader, UrlIsTheTextBeforeTheFirstBlankOfTheTrimmedLine) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"http://a/b.html", "http://a/b.html"},
      {"http://a/b.html comment here", "http://a/b.html"},
      {" \t http://a/", "http://a/"},
      {"", ""},
      {" \t  ", ""},
      {"http://a/\tb", "http://a/\tb"},  // only the blank cuts
      {"http://a/ ", "http://a/"},
      {"\thttp://a/\t", "http://a/"},
  };
  for (const auto& [line, url] : rows) EXPECT_EQ(UrlOfLine(line), url) << line;
}

}  // namespace
}  // namespace qm
