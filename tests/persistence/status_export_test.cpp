#include "persistence/status_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const std::string kHeader =
    "\xEF\xBB\xBF行号,网址,最终网址,HTTP状态,字节数,毫秒,失败原因,邮箱,手机,QQ号,深度,来源网址,微信,电话\r\n";

TAddressStatus Record(int32_t line, std::string url, std::string reason = {}) {
  TAddressStatus status;
  status.LineNumber = line;
  status.Url = url;
  status.FinalUrl = std::move(url);
  status.FailureReason = std::move(reason);
  return status;
}

TEST(StatusListCsv, OneRowPerRecordQuotedWhereNeededAndInUtf8) {
  TAddressStatus good = Record(3, "http://a/");
  good.FinalUrl = "https://a/index.html";
  good.StatusCode = 200;
  good.BytesReceived = 5120;
  good.Milliseconds = 81;
  good.RowsAdded = {2, 1, 0, 4, 3};
  TAddressStatus followed = Record(5, "http://e/contact.html");
  followed.Depth = 2;
  followed.ListedUrl = "http://e/?p=1,2";
  TAddressStatus followedInCp936 = Record(6, "http://f/about");
  followedInCp936.Depth = 1;
  followedInCp936.ListedUrl = "http://f/\xD6\xD0";
  const struct {
    std::vector<TAddressStatus> records;
    std::string rows;
  } cases[] = {
      {{}, ""},
      {{good}, "3,http://a/,https://a/index.html,200,5120,81,,2,1,0,0,,4,3\r\n"},
      {{Record(1, "http://b/", "Connection refused")},
       "1,http://b/,http://b/,0,0,0,Connection refused,0,0,0,0,,0,0\r\n"},
      // The depth and the listed address follow the first three counts, so earlier columns
      // keep their places; the WeChat and telephone counts come last.
      {{followed, followedInCp936},
       "5,http://e/contact.html,http://e/contact.html,0,0,0,,0,0,0,2,\"http://e/?p=1,2\",0,0\r\n"
       "6,http://f/about,http://f/about,0,0,0,,0,0,0,1,http://f/中,0,0\r\n"},
      // A comma, a quote and a line break each need quotes; quotes inside are doubled.
      {{Record(2, "http://c/?a=1,2", "said \"no\"\r\n")},
       "2,\"http://c/?a=1,2\",\"http://c/?a=1,2\",0,0,0,\"said \"\"no\"\"\r\n\",0,0,0,0,,0,0\r\n"},
      // A list line in code page 936 comes out as UTF-8.
      {{Record(4, "http://d/\xD6\xD0\xCE\xC4")},
       "4,http://d/中文,http://d/中文,0,0,0,,0,0,0,0,,0,0\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusListCsv(c.records), kHeader + c.rows);
  }
}

TEST(StatusListCsv, SaveAllOffersTheStatusListAfterTheThreeLists) {
  const auto previous = std::filesystem::current_path();
  test::TempDir dir;
  test::ScriptedDialogs dialogs;
  {
    TForm1Environment environment;
    environment.ProgramPath = dir.File("qmharvest");
    environment.LocalAddress = [] { return std::string("192.0.2.1"); };
    TForm1 form(dialogs, std::move(environment));
    form.StringGrid1.AppendResult("a@b.cn");
    form.AddressStatuses.Add(Record(1, "http://a/"));
    form.AddressStatuses.Add(Record(2, "http://b/", "Connection refused"));
    dialogs.AnswerSave(dir.File("mail"));
    dialogs.AnswerSave(dir.File("status"));
    form.SpeedButton5Click();
  }
  std::filesystem::current_path(previous);
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].Kind, "save");
  EXPECT_EQ(history[1].FileOptions.FileName, "网址状态2.csv");
  EXPECT_EQ(history[1].FileOptions.DefaultExtension, "csv");
  EXPECT_TRUE(history[1].FileOptions.ConfirmOverwrite);
  EXPECT_EQ(test::TempDir::Read(dir.File("status.csv")),
            kHeader + "1,http://a/,http://a/,0,0,0,,0,0,0,0,,0,0\r\n" +
                "2,http://b/,http://b/,0,0,0,Connection refused,0,0,0,0,,0,0\r\n");
}

}  // namespace
}  // namespace qm
