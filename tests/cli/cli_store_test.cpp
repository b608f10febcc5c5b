#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli_process.h"
#include "store/result_store.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace {

// 2026-12-08 03:45:12 UTC, and the rows found a second apart after it.
constexpr int64_t kFoundAt = 1796701512000;

TStoredRow Row(int kind, std::string value, std::string source, int64_t second,
               std::string checks) {
  return {kind, std::move(value), source, source, 1, kFoundAt + second * 1000, std::move(checks)};
}

TStoredPage Page(int32_t line, const std::string& url) {
  TStoredPage page;
  page.LineNumber = line;
  page.Url = url;
  return page;
}

const char* const kFirstRunRows =
    "email\tinfo@a.cn\thttp://a.cn/\trole\n"
    "mobile\t13812345678\thttp://a.cn/\tok\n"
    "email\tsales@b.cn\thttp://b.cn/联系\tno-mail,role\n";
const char* const kSecondRunRows =
    "qq\t12345@qq.com\thttp://c.cn/\t\n"
    "email\tboss@c.cn\thttp://c.cn/\tunchecked\n"
    "mobile\t13900001111\thttp://c.cn/\tbad-range\n";

// A store of two runs: the first searched its list to the end, the second was stopped.
// Local time is UTC+8 for the program.
class StoreCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) zone_ = zone;
    setenv("TZ", "CST-8", 1);
    const std::unique_ptr<TResultStore> store = OpenSqliteStore(store_);
    first_ = store->BeginRun("/lists/first.txt", "", 0);
    store->Write({first_,
                  {Page(1, "http://a.cn/"), Page(2, "http://b.cn/")},
                  {Row(0, "info@a.cn", "http://a.cn/", 0, "role"),
                   Row(1, "13812345678", "http://a.cn/", 1, "ok"),
                   Row(0, "sales@b.cn", "http://b.cn/联系", 2, "no-mail,role")},
                  2});
    store->EndRun(first_, 2, true);
    second_ = store->BeginRun("/lists/second.txt", "", 0);
    store->Write(
        {second_,
         {Page(1, "http://c.cn/")},
         // A row stored before rows were checked has no flags.
         {Row(2, "12345@qq.com", "http://c.cn/", 10, ""),
          Row(0, "boss@c.cn", "http://c.cn/", 11, "unchecked"),
          Row(1, "13900001111", "http://c.cn/", 12, "bad-range")},
         1});
    store->EndRun(second_, 1, false);
  }
  void TearDown() override {
    if (zone_) {
      setenv("TZ", zone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }

  std::optional<std::string> zone_;
  TempDir dir_;
  const std::string store_ = dir_.File("results.db");
  int64_t first_ = 0;
  int64_t second_ = 0;
};

TEST_F(StoreCli, RowsOfTheNewestRunOfRunNOrOfAllInTheKindsNamed) {
  const std::string first = std::to_string(first_);
  const struct {
    std::vector<std::string> Args;
    std::string Out;
  } cases[] = {
      {{}, kSecondRunRows},
      {{"--run", first}, kFirstRunRows},
      {{"--all"}, std::string(kFirstRunRows) + kSecondRunRows},
      {{"--run=" + first, "--mobile"}, "mobile\t13812345678\thttp://a.cn/\tok\n"},
      {{"--all", "--email", "--qq"},
       "email\tinfo@a.cn\thttp://a.cn/\trole\nemail\tsales@b.cn\thttp://b.cn/联系\tno-mail,role\n"
       "qq\t12345@qq.com\thttp://c.cn/\t\nemail\tboss@c.cn\thttp://c.cn/\tunchecked\n"},
  };
  for (const auto& row : cases) {
    std::vector<std::string> args = {"rows", "--store", store_};
    args.insert(args.end(), row.Args.begin(), row.Args.end());
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, row.Out) << ::testing::PrintToString(row.Args);
  }
}

// A time as the program prints it in UTC+8, worked out without the time zone library.
std::string ChinaTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000 + 8 * 3600);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+08:00", &parts));
}

TEST_F(StoreCli, RunsListsEveryRunWithItsTimesCountsAndState) {
  std::vector<TStoredRun> runs;
  {
    const std::unique_ptr<TResultStore> store = OpenSqliteStore(store_);
    store->BeginRun("/lists/third\tlist.txt", "", 7);
    runs = store->Runs();
  }
  ASSERT_EQ(runs.size(), 3u);
  const CliResult result = RunCli({"runs", "--store", store_});
  EXPECT_EQ(result.Status, 0) << result.Err;
  auto times = [](const TStoredRun& run) {
    return ChinaTime(run.StartedMs) + "\t" + (run.EndedMs == 0 ? "-" : ChinaTime(run.EndedMs));
  };
  EXPECT_EQ(result.Out, std::to_string(first_) + "\t/lists/first.txt\t" + times(runs[0]) +
                            "\t2\t3\tfinished\n" + std::to_string(second_) +
                            "\t/lists/second.txt\t" + times(runs[1]) + "\t1\t3\tstopped at 1\n" +
                            std::to_string(runs[2].Id) + "\t/lists/third list.txt\t" +
                            times(runs[2]) + "\t0\t0\trunning/unfinished at 7\n");
}

TEST_F(StoreCli, ExportsTheNonEmptyListsAsTextFilesNamedAsHarvestNamesThem) {
  const std::string folder = dir_.File("out/first");
  const CliResult result = RunCli({"export", "--store", store_, "--run", std::to_string(first_),
                                   "--format", "txt", "--out", folder});
  ASSERT_EQ(result.Status, 0) << result.Err;
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = TempDir::Read(entry.path().string());
  }
  const std::map<std::string, std::string> expected = {{"电邮2.txt", "info@a.cn\r\nsales@b.cn\r\n"},
                                                       {"手机1.txt", "13812345678\r\n"}};
  EXPECT_EQ(files, expected);
}

TEST_F(StoreCli, ExportsAllThreeListsOfTheNewestRunAsOneCsvOrWorkbook) {
  const std::string csv = dir_.File("second.csv");
  CliResult result = RunCli({"export", "--store", store_, "--format", "csv", "--out", csv});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(TempDir::Read(csv),
            "\xEF\xBB\xBF类型,联系方式,来源网址,发现时间,检查\r\n"
            "电邮,boss@c.cn,http://c.cn/,2026-12-08 11:45:23,unchecked\r\n"
            "手机,=\"13900001111\",http://c.cn/,2026-12-08 11:45:24,bad-range\r\n"
            "QQ,12345@qq.com,http://c.cn/,2026-12-08 11:45:22,\r\n");

  // Only valid rows: ok, unchecked and rows never checked stay; the flagged ones go.
  const std::string valid = dir_.File("valid.csv");
  result = RunCli({"export", "--store", store_, "--run", std::to_string(first_), "--format", "csv",
                   "--out", valid, "--valid-only"});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(TempDir::Read(valid),
            "\xEF\xBB\xBF类型,联系方式,来源网址,发现时间,检查\r\n"
            "手机,=\"13812345678\",http://a.cn/,2026-12-08 11:45:13,ok\r\n");
  const std::string folder = dir_.File("valid");
  result = RunCli({"export", "--store", store_, "--format", "txt", "--out", folder, "--valid-only"});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(TempDir::Read(folder + "/电邮1.txt"), "boss@c.cn\r\n");
  EXPECT_EQ(TempDir::Read(folder + "/QQ邮1.txt"), "12345@qq.com\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder + "/手机1.txt"));

  const std::string workbook = dir_.File("second.xlsx");
  result = RunCli({"export", "--store", store_, "--format=xlsx", "--out", workbook});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(TempDir::Read(workbook).substr(0, 2), "PK");
}

TEST_F(StoreCli, FailuresAndUsageErrorsAreNamedAndWriteNothing) {
  const std::string text = dir_.Write("notes.txt", "not a store, only some text\n");
  const std::string blank = dir_.Write("blank.db", "");
  const std::string empty = dir_.File("empty.db");
  OpenSqliteStore(empty).reset();
  const std::string missing = dir_.File("missing.db");
  const std::string out = dir_.File("out.csv");
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string ErrPart;
  } cases[] = {
      {{"rows", "--store", store_, "--run", "999"}, 1, "holds no run 999"},
      {{"export", "--store", store_, "--run=999", "--format", "csv", "--out", out},
       1,
       "holds no run 999"},
      {{"rows", "--store", empty}, 1, "holds no run"},
      {{"runs", "--store", text}, 1, text + " is not a result store"},
      {{"runs", "--store", blank}, 1, blank + " is not a result store"},
      {{"rows", "--store", missing}, 1, "Cannot open the result store " + missing},
      {{"runs"}, 2, "runs needs --store FILE"},
      {{"rows", "--store", store_, "--run", "1", "--all"}, 2, "not both"},
      {{"export", "--store", store_, "--format", "pdf", "--out", out}, 2, "not 'pdf'"},
      {{"export", "--store", store_, "--format", "csv"}, 2, "needs --out"},
  };
  for (const auto& row : cases) {
    const CliResult result = RunCli(row.Args);
    EXPECT_EQ(result.Status, row.Status) << ::testing::PrintToString(row.Args);
    EXPECT_NE(result.Err.find(row.ErrPart), std::string::npos) << result.Err;
    EXPECT_TRUE(result.Out.empty()) << result.Out;
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(std::filesystem::file_size(blank), 0u);
}

TEST(StoreCliHelp, EachCommandHasItsHelp) {
  const CliResult program = RunCli({"--help"});
  for (const char* command : {"rows", "runs", "export"}) {
    EXPECT_NE(program.Out.find(std::string("  ") + command + " "), std::string::npos);
    const CliResult help = RunCli({command, "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind(std::string("Usage: qmharvest-cli ") + command, 0), 0u) << help.Out;
  }
}

}  // namespace
}  // namespace qm::test
