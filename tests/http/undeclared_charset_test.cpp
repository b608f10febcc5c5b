// Pages that declare no charset: GBK and UTF-8 keep their reading, others are detected.
#include <gtest/gtest.h>

#include <string>

#include "http/compression_support.h"
#include "http/fetch_page_lines.h"
#include "support/charset_encoding.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

std::string Page(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(UndeclaredCharset, DetectedOnlyForPagesThatAreNeitherUtf8NorGb18030) {
  const std::string japanese =
      "<p>"
      "お問い合わせはこちらのメールアドレスまでご連絡ください。会社概要、採用情報、製品のご案内、"
      "技術サポート。メール：info@jp.example</p>";
  const std::string chinese =
      "<p>欢迎访问我们的网站，联系我们请写信到这个邮箱，公司地址在北京市海淀区中关村大街。"
      "邮箱：info@cn.example</p>";
  const struct {
    const char* name;
    std::string bytes;
    std::string charset;
    std::string text;  // the page's text holds it, in UTF-8
  } rows[] = {
      {"Shift_JIS", EncodeUtf8As(japanese + japanese, "SHIFT_JIS"), "CP932", "お問い合わせ"},
      {"GBK, read line by line as before", EncodeUtf8As(chinese, "GBK"), "", "info@cn.example"},
      {"UTF-8", chinese, "", "欢迎访问"},
      {"a gzip file served as it is", Gzip(japanese), "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(ScriptedServer::Replay(Page(row.bytes)));
    TPageLines lines;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url(), lines, {}, result));
    EXPECT_EQ(result.Charset, row.charset);
    EXPECT_NE(lines.Text().find(row.text), std::string::npos);
  }
}

}  // namespace
}  // namespace qm::test
