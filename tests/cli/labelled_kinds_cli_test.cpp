// qmharvest-cli and the WeChat and telephone kinds: scan writes them only when named, in
// either code page; rows selects them from a store by kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/temp_dir.h"
#include "text/cp936.h"

namespace qm::test {
namespace {

TEST(CliLabelledKinds, ScanWritesThemOnlyWhenNamed) {
  TempDir dir;
  const std::string page =
      "<p>电话：0755-23456789 传真：0755-23456790</p>\n"
      "<p>微信：Kefu_2024 手机 13812345678</p>\n"
      "<p>粤ICP备05012345号 服务热线：400-800-1234</p>\n";
  const std::string utf8 = dir.Write("utf8.html", page);
  const std::string gbk = dir.Write("gbk.html", Utf8ToCp936(page));
  const CliResult both = RunCli({"scan", "--wechat", "--phone", "--no-verify", utf8, gbk});
  ASSERT_EQ(both.Status, 0) << both.Err;
  // One set of last-accepted values for the call: the second file repeats only.
  EXPECT_EQ(both.Out, "phone\t0755-23456789\t" + utf8 + "\tok\n" +
                          "phone\t0755-23456790\t" + utf8 + "\tok\n" +
                          "wechat\tkefu_2024\t" + utf8 + "\tok\n" +
                          "phone\t400-800-1234\t" + utf8 + "\tok\n");
  const CliResult three = RunCli({"scan", "--no-verify", utf8});
  ASSERT_EQ(three.Status, 0) << three.Err;
  EXPECT_EQ(three.Out, "mobile\t13812345678\t" + utf8 + "\tok\n");
  const CliResult phones = RunCli({"scan", "--phone", "--no-verify", gbk});
  EXPECT_EQ(phones.Out, "phone\t0755-23456789\t" + gbk + "\tok\n" +
                            "phone\t0755-23456790\t" + gbk + "\tok\n" +
                            "phone\t400-800-1234\t" + gbk + "\tok\n");
}

}  // namespace
}  // namespace qm::test
