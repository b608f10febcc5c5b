#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm::test {
namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The rows of one kind in the output, without the page each was found on.
std::multiset<std::string> RowsOfKind(const std::string& out, const std::string& kind) {
  std::multiset<std::string> rows;
  for (const std::string& line : LinesOf(out)) {
    if (line.rfind(kind + "\t", 0) != 0) continue;
    const std::string row = line.substr(kind.size() + 1);
    rows.insert(row.substr(0, row.find('\t')));
  }
  return rows;
}

// The output with the third column (the source of each row) dropped.
std::string WithoutSources(const std::string& out) {
  std::string kept;
  for (const std::string& line : LinesOf(out)) {
    const size_t second = line.find('\t', line.find('\t') + 1);
    kept += line.substr(0, second) + "\n";
  }
  return kept;
}

// ---- usage -------------------------------------------------------------------------------

struct UsageRow {
  const char* Name;
  std::vector<std::string> Args;
  int Status;
  const char* ErrPart;  // must appear on standard error
};

void PrintTo(const UsageRow& row, std::ostream* os) {
  *os << row.Name;
}

class CliUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(CliUsage, StatusAndHint) {
  const CliResult result = RunCli(GetParam().Args);
  EXPECT_EQ(result.Status, GetParam().Status);
  EXPECT_NE(result.Err.find(GetParam().ErrPart), std::string::npos) << result.Err;
  EXPECT_TRUE(result.Out.empty()) << result.Out;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsage,
    ::testing::Values(
        UsageRow{"NoCommand", {}, 2, "Try 'qmharvest-cli --help'."},
        UsageRow{"UnknownCommand", {"crawl"}, 2, "unknown command 'crawl'"},
        UsageRow{"FetchWithoutUrl", {"fetch"}, 2, "Try 'qmharvest-cli fetch --help'."},
        UsageRow{"FetchTwoUrls", {"fetch", "http://a/", "http://b/"}, 2, "exactly one URL"},
        UsageRow{"ScanWithoutFile", {"scan", "--qq"}, 2, "at least one FILE"},
        UsageRow{"UnknownOption", {"scan", "--fax", "x"}, 2, "unknown option --fax"},
        UsageRow{"FlagWithValue", {"scan", "--qq=1", "x"}, 2, "takes no value"},
        UsageRow{"MissingValue", {"harvest", "list.txt", "--threads"}, 2, "needs a value"},
        UsageRow{"HarvestTwoLists", {"harvest", "a", "b"}, 2, "exactly one LIST"},
        UsageRow{"PageLimitWithoutValue", {"harvest", "l.txt", "--page-limit"}, 2, "needs a value"},
        UsageRow{"NoRobotsWithValue", {"harvest", "--no-robots=0", "l.txt"}, 2, "takes no value"},
        // --from is refused alike, before any record is written (HarvestSite below).
        UsageRow{"MemoryLimitBelowRange",
                 {"harvest", "--memory-limit", "63", "l.txt"},
                 2,
                 "option --memory-limit takes a whole number from 64 to 1048576, not '63'"},
        UsageRow{"MemoryLimitAboveRange",
                 {"harvest", "--memory-limit=1048577", "l.txt"},
                 2,
                 "not '1048577'"},
        UsageRow{"MemoryLimitBeyondAnyInteger",
                 {"harvest", "--memory-limit", "99999999999", "l.txt"},
                 2,
                 "not '99999999999'"},
        UsageRow{
            "MemoryLimitNotANumber", {"harvest", "--memory-limit", "1g", "l.txt"}, 2, "not '1g'"},
        UsageRow{"ThreadsAboveRange",
                 {"harvest", "--threads", "9", "l.txt"},
                 2,
                 "option --threads takes a whole number from 1 to 4, not '9'"},
        UsageRow{"ThreadsNotANumber", {"harvest", "--threads=abc", "l.txt"}, 2, "not 'abc'"},
        UsageRow{"InFlightBelowRange",
                 {"harvest", "--in-flight", "0", "l.txt"},
                 2,
                 "option --in-flight takes a whole number from 1 to 4096, not '0'"},
        UsageRow{"HostLimitAboveRange",
                 {"harvest", "--host-limit", "65", "l.txt"},
                 2,
                 "option --host-limit takes a whole number from 1 to 64, not '65'"},
        UsageRow{"HostLimitBelowRange", {"harvest", "--host-limit=0", "l.txt"}, 2, "not '0'"},
        UsageRow{"DepthAboveRange",
                 {"harvest", "--depth", "7", "l.txt"},
                 2,
                 "option --depth takes a whole number from 0 to 3, not '7'"},
        UsageRow{"PageLimitBelowRange",
                 {"harvest", "--page-limit", "0", "l.txt"},
                 2,
                 "option --page-limit takes a whole number from 1 to 1000, not '0'"},
        UsageRow{"ProgressAndQuiet",
                 {"harvest", "--progress", "--quiet", "l.txt"},
                 2,
                 "--progress and --quiet exclude each other"},
        // A list that cannot be read is a failure named with its path, not a usage error.
        UsageRow{"NoList",
                 {"harvest", "/nonexistent/list.txt"},
                 1,
                 "cannot read the URL list /nonexistent/list.txt: No such file or directory"},
        UsageRow{"ListIsAFolder",
                 {"harvest", "--from", "2", "/"},
                 1,
                 "cannot read the URL list /: it is a folder, not a file"},
        UsageRow{"ListFailsWhenRead",
                 {"harvest", "--no-online-check", "/proc/self/mem"},
                 1,
                 "cannot read the URL list /proc/self/mem: "},
        UsageRow{"UnreadableFile", {"scan", "/nonexistent/page.html"}, 1, "cannot read"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CliHelp, ProgramAndEveryCommandHaveHelpAndVersion) {
  CliResult result = RunCli({"--help"});
  EXPECT_EQ(result.Status, 0);
  for (const char* command : {"fetch", "scan", "harvest"}) {
    EXPECT_NE(result.Out.find(command), std::string::npos);
    const CliResult help = RunCli({command, "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind(std::string("Usage: qmharvest-cli ") + command, 0), 0u) << help.Out;
  }
  result = RunCli({"--version"});
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out.rfind("qmharvest-cli ", 0), 0u);
}

// ---- fetch -------------------------------------------------------------------------------

TEST(CliFetch, WritesEachLineOfTheBody) {
  ScriptedServer server(ScriptedServer::Replay(
      "HTTP/1.1 404 Not Found\r\nContent-Length: 19\r\n\r\none\r\ntwo\rthree\n\nend"));
  const CliResult result = RunCli({"fetch", server.Url("missing.html")});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "one\ntwo\nthree\n\nend\n");
}

TEST(CliFetch, RefusedConnectionFailsWithNothingWritten) {
  // A port that was free a moment ago and has no listener now.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

  const CliResult result = RunCli({"fetch", url});
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(result.Out.empty());
  EXPECT_NE(result.Err.find(url), std::string::npos);
}

// ---- scan --------------------------------------------------------------------------------

const std::string kLianXiGbk = "\xC1\xAA\xCF\xB5\xA3\xBA";  // 联系： in code page 936

TEST(CliScan, CodePage936AndUtf8LinesGiveTheExtractorsRows) {
  TempDir dir;
  const std::string gbk = dir.Write("gbk.html", kLianXiGbk +
                                                    "ab@cd.ef<br>\r\n\x81"
                                                    "abc@qq.com\r\n" +
                                                    "\x81"
                                                    "13812345678\n" +
                                                    "QQ" + kLianXiGbk + "123456789 tencent 2024");
  const std::string utf8 =
      dir.Write("utf8.html", "联系：abc@qq.com\n手机：113812345678 手机：13912345678\rQq 55555\n");
  const CliResult result = RunCli({"scan", "--no-extended", "--no-verify", gbk, utf8});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out,
            "email\tab@cd.ef\t" + gbk + "\tbad-tld\n" +
            "email\tbc@qq.com\t" + gbk + "\tunchecked\n" +
            "mobile\t13812345678\t" + gbk + "\tok\n" +
            "qq\t123456789@qq.com\t" + gbk + "\tok\n" +
            "email\tabc@qq.com\t" + utf8 + "\tunchecked\n" +
            "mobile\t13912345678\t" + utf8 + "\tok\n");
}

// A file name is the rows' source: its tabs and line breaks become blanks, and the rest
// is written as it is, so each row keeps its four columns.
TEST(CliScan, BlanksStandForTabsAndLineBreaksInTheSource) {
  TempDir dir;
  for (const std::string name : {"plain.txt", "a\tb.txt", "\tc\r\nd\t", "e\n\n"}) {
    const std::string path = dir.Write(name, "li.ming@shop.cn\n");
    std::string shown = path;
    for (char& c : shown) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    const CliResult result = RunCli({"scan", "--no-verify", path});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, "email\tli.ming@shop.cn\t" + shown + "\tunchecked\n");
  }
}

TEST(CliScan, OneSetOfLastAcceptedValuesForTheWholeCall) {
  TempDir dir;
  const std::string a = dir.Write("a", "x ab@cd.ef\n");
  const std::string b = dir.Write("b", "ab@cd.ef\ngh@ij.kl\nab@cd.ef");
  const std::string input = dir.Write("stdin", "ab@cd.ef\n");
  const CliResult result = RunCli({"scan", "--email", "--no-unique", a, b, "-"}, input);
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out, "email\tab@cd.ef\t" + a + "\tbad-tld\nemail\tgh@ij.kl\t" + b +
                            "\tbad-tld\nemail\tab@cd.ef\t" + b + "\tbad-tld\n");
}

TEST(CliScan, OnlyTheNamedKindsAndLinesAcrossLargeReads) {
  TempDir dir;
  // Lines spread over several reads of the file: none may be cut where a read ends.
  std::string text;
  for (int i = 0; i < 60000; ++i) {
    text += "<td>" + std::string(20, 'x') + " 1" + std::to_string(3800000000LL + i) + " QQ " +
            std::to_string(100000 + i) + " a" + std::to_string(i) + "@b.cn</td>\r\n";
  }
  const std::string path = dir.Write("big.html", text);
  const CliResult result = RunCli({"scan", "--mobile", path});
  EXPECT_EQ(result.Status, 0);
  const std::vector<std::string> lines = LinesOf(result.Out);
  ASSERT_EQ(lines.size(), 60000u);
  for (int i = 0; i < 60000; i += 7919) {
    EXPECT_EQ(lines[static_cast<size_t>(i)],
              "mobile\t1" + std::to_string(3800000000LL + i) + "\t" + path + "\tok");
  }
}

TEST(CliScan, FileWithoutLineFeedsIsCutAtCarriageReturnsAndNuls) {
  TempDir dir;
  // Larger than one read, with no line feed anywhere: lines end at lone CRs, and a NUL
  // ends a token but not the text.
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    text += "qq " + std::to_string(100000 + i) + std::string(1, '\0') + "tail text\r";
  }
  text += "QQ 99999";  // a last line without a break
  const CliResult result = RunCli({"scan", "--qq", dir.Write("cr.txt", text)});
  EXPECT_EQ(result.Status, 0);
  const std::vector<std::string> lines = LinesOf(WithoutSources(result.Out));
  ASSERT_EQ(lines.size(), 100001u);
  EXPECT_EQ(lines[0], "qq\t100000@qq.com");
  EXPECT_EQ(lines[54321], "qq\t154321@qq.com");
  EXPECT_EQ(lines.back(), "qq\t99999@qq.com");
}

TEST(CliScan, AMissingFileIsNamedAndTheOthersAreScanned) {
  TempDir dir;
  const std::string good = dir.Write("good", "QQ 12345\n");
  const CliResult result = RunCli({"scan", dir.File("missing"), good});
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Err.find(dir.File("missing")), std::string::npos);
  EXPECT_EQ(result.Out, "qq\t12345@qq.com\t" + good + "\tok\n");
}

// Extended recognition and unique results are on unless switched off.
TEST(CliScan, ExtendedAndUniqueOptions) {
  TempDir dir;
  const std::string page = dir.Write("page.html",
                                     "<p>Info@Company.COM 138-1234-5678</p>\n"
                                     "<p>QQ：12345678 邮编：100080</p>\n"
                                     "<p>ab@cd.ef</p><p>gh@ij.kl</p><p>ab@cd.ef</p>\n");
  const struct {
    std::vector<std::string> Options;
    std::string Rows;
  } rows[] = {
      {{}, "email\tinfo@company.com\nemail\tab@cd.ef\nemail\tgh@ij.kl\n"
           "mobile\t13812345678\nqq\t12345678@qq.com\n"},
      {{"--no-unique"}, "email\tinfo@company.com\nemail\tab@cd.ef\nemail\tgh@ij.kl\n"
                        "email\tab@cd.ef\nmobile\t13812345678\nqq\t12345678@qq.com\n"},
      {{"--no-extended", "--no-unique"},
       "email\tab@cd.ef\nemail\tgh@ij.kl\nemail\tab@cd.ef\n"
       "qq\t12345678@qq.com\nqq\t100080@qq.com\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"scan", "--no-verify"};
    args.insert(args.end(), row.Options.begin(), row.Options.end());
    args.push_back(page);
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.Status, 0) << result.Err;
    // Rows come as each line is scanned; sorted by kind here, in order within a kind.
    std::string byKind;
    for (const char* kind : {"email\t", "mobile\t", "qq\t"}) {
      for (const std::string& line : LinesOf(WithoutSources(result.Out))) {
        if (line.rfind(kind, 0) == 0) byKind += line + "\n";
      }
    }
    EXPECT_EQ(byKind, row.Rows) << testing::PrintToString(row.Options);
  }
}

// ---- harvest -----------------------------------------------------------------------------

// A site of numbered pages, each holding one e-mail address, one mobile number and one QQ
// number of its own, and the URL list of its pages.
class HarvestSite : public ::testing::Test {
 protected:
  static std::string Email(int page) { return "page" + std::to_string(page) + "@site.cn"; }
  static std::string Mobile(int page) { return std::to_string(13900000000LL + page); }
  static std::string QQ(int page) { return std::to_string(700000 + page); }

  static std::string PageBody(int page) {
    std::string body = "<html><body>\n";
    for (int i = 0; i < 40; ++i)
      body += "<p>\xD7\xA2\xB2\xE1 filler line " + std::to_string(i) + "</p>\n";
    body += "<p>\xC1\xAA\xCF\xB5\xA3\xBA" + Email(page) + "</p>\r\n";
    body += "<p>\xCA\xD6\xBB\xFA " + Mobile(page) + "</p>\n";
    body += "<p>QQ:" + QQ(page) + "</p>\n</body></html>";
    return body;
  }

  std::string WriteList(const std::string& base, int pages) {
    std::string list;
    for (int page = 1; page <= pages; ++page) {
      list += base + "p" + std::to_string(page) + ".html trailing words\r\n";
    }
    return dir.Write("list.txt", list);
  }

  // A copy of the program in a folder of its own, so its progress record lands there.
  std::filesystem::path ProgramCopy() {
    const std::filesystem::path program = dir.Path() / "bin" / "qmharvest-cli";
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::copy_file(QM_CLI_PATH, program);
    return program;
  }
  static std::filesystem::path RecordOf(const std::filesystem::path& program) {
    return program.parent_path() / "qmharvest-cli.ini";
  }
  static int SavedPosition(const std::filesystem::path& program) {
    const std::string record = TempDir::Read(RecordOf(program).string());
    const size_t at = record.find("\nprocess=");
    return at == std::string::npos ? -1 : std::stoi(record.substr(at + 9));
  }
  // Two Ctrl-C, the second once the first has been taken.
  static void InterruptTwice(CliProcess& process) {
    ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
    ASSERT_TRUE(
        WaitUntil([&] { return process.ErrSoFar().find("stopping") != std::string::npos; }));
    ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
  }

  TempDir dir;
};

TEST_F(HarvestSite, FourWorkersFindEveryPagesContactsAndExportThem) {
  NginxServer nginx;
  constexpr int kPages = 40;
  for (int page = 1; page <= kPages; ++page) {
    nginx.WriteFile("p" + std::to_string(page) + ".html", PageBody(page));
  }
  const std::string list = WriteList(nginx.Url(), kPages);
  const std::string out = dir.File("out");
  const std::filesystem::path record =
      std::filesystem::path(QM_CLI_PATH).parent_path() / "qmharvest-cli.ini";
  const bool recordExisted = std::filesystem::exists(record);
  const CliResult result = RunCli({"harvest", "--threads", "4", "--email", "--mobile", "--qq",
                                   "--out", out, "--no-online-check", list});
  ASSERT_EQ(result.Status, 0) << result.Err;

  std::multiset<std::string> emails, mobiles, qq;
  for (int page = 1; page <= kPages; ++page) {
    emails.insert(Email(page));
    mobiles.insert(Mobile(page));
    qq.insert(QQ(page) + "@qq.com");
  }
  EXPECT_EQ(RowsOfKind(result.Out, "email"), emails);
  EXPECT_EQ(RowsOfKind(result.Out, "mobile"), mobiles);
  EXPECT_EQ(RowsOfKind(result.Out, "qq"), qq);
  EXPECT_NE(
      result.Err.find("lines taken: 40, lines in the list: 40, email: 40, mobile: 40, qq: 40"),
      std::string::npos)
      << result.Err;

  for (const char* name : {"电邮40.txt", "手机40.txt", "QQ邮40.txt"}) {
    const std::string text = TempDir::Read(out + "/" + name);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 40) << name;
  }
  EXPECT_NE(TempDir::Read(out + "/电邮40.txt").find(Email(7) + "\r\n"), std::string::npos);
  // The progress record stays out of the program's folder unless asked for.
  if (!recordExisted) {
    EXPECT_FALSE(std::filesystem::exists(record));
  }
}

TEST_F(HarvestSite, DefaultKindIsEmailOnlyAndEmptyListsAreNotExported) {
  NginxServer nginx;
  for (int page = 1; page <= 3; ++page) {
    nginx.WriteFile("p" + std::to_string(page) + ".html", PageBody(page));
  }
  const std::string out = dir.File("out");
  const CliResult result =
      RunCli({"harvest", "--out", out, "--no-online-check", WriteList(nginx.Url(), 3)});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(RowsOfKind(result.Out, "email").size(), 3u);
  EXPECT_TRUE(RowsOfKind(result.Out, "mobile").empty());
  EXPECT_TRUE(std::filesystem::exists(out + "/电邮3.txt"));
  EXPECT_FALSE(std::filesystem::exists(out + "/手机1.txt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(HarvestSite, FromSkipsTheGivenNumberOfLines) {
  NginxServer nginx;
  constexpr int kPages = 10;
  for (int page = 1; page <= kPages; ++page) {
    nginx.WriteFile("p" + std::to_string(page) + ".html", PageBody(page));
  }
  const CliResult result = RunCli({"harvest", "--from", "4", "--threads", "2", "--no-online-check",
                                   WriteList(nginx.Url(), kPages)});
  ASSERT_EQ(result.Status, 0) << result.Err;
  std::multiset<std::string> expected;
  for (int page = 5; page <= kPages; ++page) expected.insert(Email(page));
  EXPECT_EQ(RowsOfKind(result.Out, "email"), expected);
  EXPECT_NE(result.Err.find("lines taken: 10, lines in the list: 10, email: 6"), std::string::npos)
      << result.Err;
}

TEST_F(HarvestSite, StatusFileHasOneLinePerAddressTaken) {
  NginxServer nginx;
  for (int page = 1; page <= 2; ++page) {
    nginx.WriteFile("p" + std::to_string(page) + ".html", PageBody(page));
  }
  // Pages 1 and 2 are there, page 3 is not, and nothing listens on port 9.
  const std::string list = dir.Write(
      "status-list.txt", nginx.Url("p1.html") + "\r\n" + nginx.Url("p2.html") + " words\r\n" +
                             nginx.Url("p3.html") + "\r\nhttp://127.0.0.1:9/\r\n");
  const std::string status = dir.File("status.tsv");
  const CliResult result = RunCli({"harvest", "--threads", "2", "--in-flight", "4", "--mobile",
                                   "--depth", "0", "--status", status, "--no-online-check", list});
  ASSERT_EQ(result.Status, 0) << result.Err;
  std::map<std::string, std::vector<std::string>> byLine;
  for (const std::string& line : LinesOf(TempDir::Read(status))) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 14u) << line;
    byLine[fields[0]] = fields;
  }
  ASSERT_EQ(byLine.size(), 4u);
  EXPECT_EQ(byLine["2"][1], nginx.Url("p2.html"));
  EXPECT_EQ(byLine["2"][3], "200");
  EXPECT_EQ(byLine["2"][4], std::to_string(PageBody(2).size()));
  EXPECT_EQ(byLine["2"][6], "");
  EXPECT_EQ((std::vector<std::string>(byLine["2"].begin() + 7, byLine["2"].end())),
            (std::vector<std::string>{"0", "1", "0", "0", nginx.Url("p2.html"), "0", "0"}));
  EXPECT_EQ(byLine["3"][3], "404");
  EXPECT_EQ(byLine["3"][6], "HTTP status 404");
  EXPECT_EQ(byLine["4"][6], "Connection refused");
  EXPECT_NE(result.Err.find(", pages: 4, failed pages: 2\nwhat became of each page: " + status),
            std::string::npos)
      << result.Err;
}

// Six pages of one host: kept connections carry them all, and never more connections are
// open to the host than its limit. Each request is held a moment for the others to come.
TEST_F(HarvestSite, ConnectionsToOneHostAsTheOptionsSay) {
  const struct {
    std::vector<std::string> options;
    size_t connections;
  } rows[] = {
      {{"--host-limit", "2"}, 2},
      {{"--no-keep-alive", "--host-limit", "2"}, 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.options.front());
    std::atomic<int> answering{0}, mostAnswering{0};
    ScriptedServer server([&](ScriptedConnection& c) {
      const auto headCount = [](const std::string& received) {
        size_t count = 0;
        for (size_t at = received.find("\r\n\r\n"); at != std::string::npos;
             at = received.find("\r\n\r\n", at + 4)) {
          ++count;
        }
        return count;
      };
      for (size_t heads = 1;; ++heads) {
        while (headCount(c.Received()) < heads) {
          if (!c.ReadTotal(c.Received().size() + 1, std::chrono::seconds(5))) return;
        }
        const int now = ++answering;
        for (int most = mostAnswering; now > most && !mostAnswering.compare_exchange_weak(most, now);) {
        }
        WaitUntil([&] { return answering.load() > 2; }, std::chrono::milliseconds(200));
        const std::string request = c.Received();
        const size_t path = request.rfind("GET /p") + 6;
        const std::string body = PageBody(std::atoi(request.c_str() + path));
        --answering;
        if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body)) {
          return;
        }
      }
    });
    std::vector<std::string> args{"harvest", "--depth", "0", "--no-online-check"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(WriteList(server.Url(), 6));
    const CliResult result = RunCli(args);
    ASSERT_EQ(result.Status, 0) << result.Err;
    std::multiset<std::string> expected;
    for (int page = 1; page <= 6; ++page) expected.insert(Email(page));
    EXPECT_EQ(RowsOfKind(result.Out, "email"), expected);
    EXPECT_EQ(server.ConnectionCount(), row.connections);
    EXPECT_EQ(mostAnswering.load(), 2);
  }
}

TEST_F(HarvestSite, StatusFileThatCannotBeCreatedFailsBeforeSearching) {
  const CliResult result = RunCli({"harvest", "--status", dir.File("no/such/folder/status.tsv"),
                                   "--no-online-check", WriteList("http://127.0.0.1:9/", 1)});
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Err.find("cannot create the status file"), std::string::npos) << result.Err;
  EXPECT_EQ(result.Err.find("lines taken"), std::string::npos) << result.Err;
}

// A position at the list's end finds it searched; one past the end is a mistake, named.
TEST_F(HarvestSite, FromAtOrPastTheEndSearchesNothing) {
  const struct {
    int lines;
    const char* from;
    int status;
    std::string said;
  } rows[] = {
      {3, "3", 0, "网址列表搜索完毕..."},
      {3, "5", 1, "--from 5 is past the end of LIST, which has 3 lines"},
      {1, "5", 1, "--from 5 is past the end of LIST, which has 1 line\n"},
      {0, "1", 1, "--from 1 is past the end of LIST, which has 0 lines"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.lines) + " lines, --from " + row.from);
    const std::string list = WriteList("http://127.0.0.1:9/", row.lines);
    const CliResult result = RunCli({"harvest", "--from", row.from, "--no-online-check", list});
    EXPECT_EQ(result.Status, row.status) << result.Err;
    EXPECT_TRUE(result.Out.empty());
    std::string said = row.said;
    if (const size_t at = said.find("LIST"); at != std::string::npos) said.replace(at, 4, list);
    EXPECT_NE(result.Err.find(said), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.find("lines taken: 3") != std::string::npos, row.status == 0)
        << result.Err;
  }
}

// With --progress, one line redrawn while the run goes on (as on a terminal); without it
// into a file, none; --quiet leaves standard error to failures alone.
TEST_F(HarvestSite, ProgressWhileTheRunGoesOn) {
  const struct {
    const char* option;
    bool progress;
  } rows[] = {{"--progress", true}, {"--quiet", false}, {"--depth=0", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.option);
    // The last page waits until the progress has shown the other two.
    std::atomic<bool> released{!row.progress};
    ScriptedServer server([&](ScriptedConnection& connection) {
      if (!connection.ReadHead()) return;
      const std::string request = connection.Received();
      if (request.find("/p1.html") != std::string::npos) {
        connection.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        return;
      }
      const bool last = request.find("/p3.html") != std::string::npos;
      if (last) WaitUntil([&] { return released.load(); });
      const std::string body = PageBody(last ? 3 : 2);
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
    });
    CliProcess process(
        {"harvest", "--depth", "0", "--no-online-check", row.option, WriteList(server.Url(), 3)});
    if (row.progress) {
      EXPECT_TRUE(WaitUntil([&] {
        return process.ErrSoFar().find(
                   "\rlines 3/3  pages 2  email 1  mobile 0  qq 0  failed 1  ") !=
               std::string::npos;
      })) << process.ErrSoFar();
    }
    released = true;
    const CliResult result = process.Finish();
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(RowsOfKind(result.Out, "email"), (std::multiset<std::string>{Email(2), Email(3)}));
    const std::string summary =
        "lines taken: 3, lines in the list: 3, email: 2, mobile: 0, qq: 0, pages: 3, "
        "failed pages: 1\n";
    if (row.progress) {
      EXPECT_NE(result.Err.find(" pages/s  finishing"), std::string::npos) << result.Err;
      // The line is wiped before the summary, which stands on a line of its own.
      EXPECT_NE(result.Err.find("\r" + summary), std::string::npos) << result.Err;
    } else if (row.option == std::string("--quiet")) {
      EXPECT_EQ(result.Err, "");
    } else {
      EXPECT_EQ(result.Err, summary);
    }
  }
}

// A position that is no line count is refused before anything is written, so the saved
// search stays as it was.
TEST_F(HarvestSite, FromThatIsNoNumberIsAUsageErrorAndLeavesTheRecord) {
  const std::filesystem::path program = ProgramCopy();
  const std::string record = "[config]\r\nurladd=old.txt\r\nprocess=150\r\n";
  std::ofstream(RecordOf(program), std::ios::binary) << record;
  for (const char* from : {"4x", "abc", "99999999999", "-1", " 5", "0x10"}) {
    CliProcess process({"harvest", "--from", from, "--save-progress", "--no-online-check",
                        WriteList("http://127.0.0.1:9/", 3)},
                       "/dev/null", program.string());
    const CliResult result = process.Finish();
    EXPECT_EQ(result.Status, 2) << from;
    EXPECT_NE(result.Err.find(std::string("option --from takes a whole number from 0 to "
                                          "2147483647, not '") +
                              from + "'"),
              std::string::npos)
        << result.Err;
    EXPECT_EQ(TempDir::Read(RecordOf(program).string()), record) << from;
  }
}

// However a resumed run ends, the position it saves is never before the one it started from.
TEST_F(HarvestSite, ResumedRunNeverSavesAPositionBeforeItsStart) {
  ScriptedServer silent(ScriptedServer::Silent());
  const std::filesystem::path program = ProgramCopy();
  const struct {
    const char* name;
    int lines;
    std::vector<std::string> options;
    bool interrupted;
  } rows[] = {
      {"list ends before the position", 100, {}, false},
      {"list ends at the position", 150, {}, false},
      {"ended at once, links followed", 300, {"--depth", "1"}, true},
      {"ended at once, listed pages only", 300, {"--depth", "0"}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::ofstream(RecordOf(program), std::ios::binary) << "[config]\r\nprocess=150\r\n";
    std::vector<std::string> args = {"harvest",         "--from",           "150", "--threads", "2",
                                     "--save-progress", "--no-online-check"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(WriteList(silent.Url(), row.lines));
    const size_t connectionsBefore = silent.ConnectionCount();
    CliProcess process(args, "/dev/null", program.string());
    if (row.interrupted) {
      // Pages of the run are being fetched and none will finish.
      ASSERT_TRUE(silent.WaitReceived(connectionsBefore, "\r\n\r\n"));
      InterruptTwice(process);
    }
    const CliResult result = process.Finish();
    // A position past the list's end is refused.
    EXPECT_EQ(result.Status, row.interrupted || row.lines < 150 ? 1 : 0) << result.Err;
    EXPECT_GE(SavedPosition(program), 150) << TempDir::Read(RecordOf(program).string());
  }
}

TEST_F(HarvestSite, SaveProgressWritesTheRecordBesideTheProgram) {
  NginxServer nginx;
  nginx.WriteFile("p1.html", PageBody(1));
  // A copy of the program in a folder of its own, so the record lands there.
  const std::filesystem::path program = ProgramCopy();
  const std::string list = WriteList(nginx.Url(), 1);
  // The link-following options and the memory limit land in the record as given.
  const struct {
    std::vector<std::string> options;
    const char* keys;
  } rows[] = {
      {{"--depth", "0", "--page-limit", "1000", "--no-robots", "--memory-limit", "64"},
       "depth=0\r\npagelimit=1000\r\nrobots=0\r\nmemlimit=64\r\n"},
      {{"--depth=3", "--page-limit", "1", "--memory-limit=1048576"},
       "depth=3\r\npagelimit=1\r\nrobots=1\r\nmemlimit=1048576\r\n"},
      {{}, "depth=1\r\npagelimit=20\r\nrobots=1\r\nmemlimit=1024\r\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"harvest", "--save-progress", "--qq", "--no-online-check"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(list);
    CliProcess process(args, "/dev/null", program.string());
    const CliResult result = process.Finish();
    ASSERT_EQ(result.Status, 0) << result.Err;
    const std::string record =
        TempDir::Read((program.parent_path() / "qmharvest-cli.ini").string());
    EXPECT_NE(record.find("urladd=" + list), std::string::npos) << record;
    EXPECT_NE(record.find("process=1"), std::string::npos) << record;
    EXPECT_NE(record.find("ifqq=1"), std::string::npos) << record;
    EXPECT_NE(record.find("ifeml=0"), std::string::npos) << record;
    EXPECT_NE(record.find(row.keys), std::string::npos) << record;
    EXPECT_NE(result.Err.find("progress record: " + RecordOf(program).string()), std::string::npos)
        << result.Err;
  }
}

TEST_F(HarvestSite, SaveProgressFailureIsNamedAndFails) {
  NginxServer nginx;
  nginx.WriteFile("p1.html", PageBody(1));
  const std::filesystem::path program = ProgramCopy();
  // A read-only record is left as it is.
  const std::filesystem::path record = RecordOf(program);
  std::ofstream(record) << "[config]\r\n";
  std::filesystem::permissions(record, std::filesystem::perms::owner_read);
  CliProcess process({"harvest", "--save-progress", "--no-online-check", WriteList(nginx.Url(), 1)},
                     "/dev/null", program.string());
  const CliResult result = process.Finish();
  EXPECT_EQ(result.Status, 1) << result.Err;
  EXPECT_NE(result.Err.find("the progress was not saved: Unable to write to " + record.string()),
            std::string::npos)
      << result.Err;
  EXPECT_EQ(RowsOfKind(result.Out, "email").size(), 1u) << result.Out;
}

// Pages that take a while to arrive, so a Ctrl-C finds workers in the middle of pages.
TEST_F(HarvestSite, CtrlCOnceLetsTheWorkersFinishTheirPages) {
  ScriptedServer server([](ScriptedConnection& connection) {
    if (!connection.ReadHead()) return;
    const std::string request = connection.Received();
    const size_t p = request.find("/p") + 2;
    const int page = std::stoi(request.substr(p, request.find(".html") - p));
    const std::string body = PageBody(page);
    connection.SendSlowly("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body,
                          200, std::chrono::milliseconds(40));
  });
  constexpr int kPages = 200;
  // Fewer pages in flight than the list has, so that the stop leaves lines untaken.
  CliProcess process({"harvest", "--threads", "4", "--in-flight", "8", "--depth", "0",
                      "--no-online-check", WriteList(server.Url(), kPages)});
  ASSERT_TRUE(WaitUntil([&] { return !RowsOfKind(process.OutSoFar(), "email").empty(); }));
  ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
  const CliResult result = process.Finish();
  ASSERT_EQ(result.Status, 0) << result.Err;

  // Every line taken was fetched and scanned to its end: one address per page taken.
  const size_t at = result.Err.find("lines taken: ");
  ASSERT_NE(at, std::string::npos) << result.Err;
  const int taken = std::stoi(result.Err.substr(at + 13));
  EXPECT_GT(taken, 0);
  EXPECT_LT(taken, kPages);
  EXPECT_EQ(RowsOfKind(result.Out, "email").size(), static_cast<size_t>(taken));
  EXPECT_NE(result.Err.find("email: " + std::to_string(taken)), std::string::npos);
}

TEST_F(HarvestSite, CtrlCTwiceEndsAtOnce) {
  // The first page arrives whole; the second never ends.
  ScriptedServer server([](ScriptedConnection& connection) {
    if (!connection.ReadHead()) return;
    if (connection.Index() == 0) {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nQQ 12345\n");
      return;
    }
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nQQ 54321\n");
    connection.StaySilent(std::chrono::seconds(30));
  });
  // At depth 0, so that no robots.txt or sitemap of the site takes the server's second answer.
  CliProcess process({"harvest", "--qq", "--depth", "0", "--in-flight", "1", "--no-online-check",
                      WriteList(server.Url(), 3)});
  ASSERT_TRUE(
      WaitUntil([&] { return WithoutSources(process.OutSoFar()) == "qq\t12345@qq.com\n"; }));
  ASSERT_TRUE(server.WaitReceived(1, "\r\n\r\n"));
  ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
  ASSERT_TRUE(WaitUntil([&] { return process.ErrSoFar().find("stopping") != std::string::npos; }));
  ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
  const auto start = std::chrono::steady_clock::now();
  const CliResult result = process.Finish();
  // Well before the worker's 6-second wait for the rest of the page would end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(WithoutSources(result.Out), "qq\t12345@qq.com\n");
  EXPECT_NE(result.Err.find("lines taken: 2, lines in the list: 3, email: 0, mobile: 0, qq: 1"),
            std::string::npos)
      << result.Err;
}

// Whatever a run cannot write is named on standard error and fails it.
TEST_F(HarvestSite, OutputThatCannotBeWrittenFailsTheRun) {
  const std::string body = PageBody(1);
  ScriptedServer server(
      ScriptedServer::Replay("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body));
  const std::string list = WriteList(server.Url(), 3);
  const std::string notAFolder = dir.Write("file", "");
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string stdoutPath;
    std::string named;
  } rows[] = {
      {"rows", {}, "/dev/full", "cannot write the rows to standard output: No space left"},
      {"status file",
       {"--status", "/dev/full"},
       "",
       "cannot write the status file /dev/full: No space left"},
      {"lists", {"--out", notAFolder + "/out"}, "", "the lists were not saved to " + notAFolder},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = {"harvest", "--depth", "0", "--no-online-check"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(list);
    CliProcess process(args, "/dev/null", QM_CLI_PATH, row.stdoutPath);
    const CliResult result = process.Finish();
    EXPECT_EQ(result.Status, 1) << result.Err;
    EXPECT_NE(result.Err.find(row.named), std::string::npos) << result.Err;
    // The summary still comes: the run itself went on to its end.
    EXPECT_NE(result.Err.find("lines in the list: 3"), std::string::npos) << result.Err;
  }
}

// A settings file that refuses the save holds neither the second Ctrl-C nor its status.
TEST_F(HarvestSite, CtrlCTwiceEndsAtOnceWhenTheProgressCannotBeSaved) {
  ScriptedServer silent(ScriptedServer::Silent());
  const std::filesystem::path program = ProgramCopy();
  const std::string record = "[config]\r\nprocess=7\r\n";
  std::ofstream(RecordOf(program), std::ios::binary) << record;
  std::filesystem::permissions(RecordOf(program), std::filesystem::perms::owner_read);
  CliProcess process({"harvest", "--threads", "4", "--save-progress", "--no-online-check",
                      WriteList(silent.Url(), 50)},
                     "/dev/null", program.string());
  ASSERT_TRUE(silent.WaitReceived(0, "\r\n\r\n"));
  InterruptTwice(process);
  const auto start = std::chrono::steady_clock::now();
  const CliResult result = process.Finish();
  // Well before the workers' wait for their silent server would end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Err.find("ended at once"), std::string::npos) << result.Err;
  EXPECT_NE(result.Err.find("the progress was not saved: Unable to write to " +
                            RecordOf(program).string()),
            std::string::npos)
      << result.Err;
  EXPECT_EQ(TempDir::Read(RecordOf(program).string()), record);
}

}  // namespace
}  // namespace qm::test
