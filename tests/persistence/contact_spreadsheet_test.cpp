#include "persistence/contact_spreadsheet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/main_form.h"
#include "persistence/export_fixture.h"
#include "persistence/export_results.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// 2026-12-08 03:45:12.345 UTC
constexpr int64_t kFoundAt = 1796701512345;

// Local time is UTC while a test runs.
class UtcZone {
 public:
  UtcZone() {
    if (const char* zone = std::getenv("TZ")) previous_ = zone;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcZone() {
    if (previous_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", previous_.c_str(), 1);
    }
    tzset();
  }

 private:
  std::string previous_;
};

std::vector<TExportedKind> SampleKinds() {
  return {
      {"电邮",
       {{"info@company.com", "http://a.cn/联系", kFoundAt, "role"},
        {"-x@y.cn", "http://a.cn/?q=1,2", kFoundAt, "no-mail,too-long"}}},
      {"手机", {{"13812345678", "http://b.cn/\xC1\xAA\xCF\xB5", kFoundAt}}},  // 936 "联系"
      {"QQ", {{"12345678@qq.com", "", kFoundAt, "ok"}}},
  };
}

// A CSV file's records, each a list of fields, quotes undone.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = records.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      records.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (records.back() == std::vector<std::string>(1)) records.pop_back();
  return records;
}

TEST(ContactCsv, ReadsBackWithNumbersKeptAsText) {
  UtcZone utc;
  const std::string csv = ContactListsCsv(SampleKinds());
  ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  const std::vector<std::vector<std::string>> expected = {
      {"类型", "联系方式", "来源网址", "发现时间", "检查"},
      {"电邮", "info@company.com", "http://a.cn/联系", "2026-12-08 03:45:12", "role"},
      {"电邮", "'-x@y.cn", "http://a.cn/?q=1,2", "2026-12-08 03:45:12", "no-mail,too-long"},
      {"手机", "=\"13812345678\"", "http://b.cn/联系", "2026-12-08 03:45:12", ""},
      {"QQ", "12345678@qq.com", "", "2026-12-08 03:45:12", "ok"},
  };
  EXPECT_EQ(ParseCsv(std::string_view(csv).substr(3)), expected);
  EXPECT_NE(csv.find("\"http://a.cn/?q=1,2\""), std::string::npos);
  EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
}

// The entries of a zip archive, inflated.
std::map<std::string, std::string> ReadZip(const std::string& zip) {
  auto u16 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(zip[at]) |
                                 static_cast<unsigned char>(zip[at + 1]) << 8);
  };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<std::string, std::string> entries;
  const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return entries;
  size_t at = u32(end + 16);
  for (uint32_t n = u16(end + 10); n > 0; --n) {
    if (zip.compare(at, 4, "PK\x01\x02", 4) != 0) return {};
    const uint32_t method = u16(at + 10), size = u32(at + 20), stored = u32(at + 24);
    const uint32_t nameLength = u16(at + 28), extra = u16(at + 30), comment = u16(at + 32);
    const size_t local = u32(at + 42);
    const std::string name = zip.substr(at + 46, nameLength);
    const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
    std::string content(stored, '\0');
    if (method == 0) {
      content = zip.substr(data, stored);
    } else {
      z_stream stream{};
      inflateInit2(&stream, -MAX_WBITS);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
      stream.avail_in = size;
      stream.next_out = reinterpret_cast<Bytef*>(content.data());
      stream.avail_out = stored;
      const int result = inflate(&stream, Z_FINISH);
      inflateEnd(&stream);
      if (result != Z_STREAM_END) return {};
    }
    entries[name] = content;
    at += 46 + nameLength + extra + comment;
  }
  return entries;
}

TEST(ContactWorkbook, OneSheetPerKindWithTheRowsAsText) {
  const std::map<std::string, std::string> zip = ReadZip(ContactListsWorkbook(SampleKinds()));
  ASSERT_TRUE(zip.contains("xl/workbook.xml"));
  const std::string& workbook = zip.at("xl/workbook.xml");
  const size_t email = workbook.find("name=\"电邮\""), mobile = workbook.find("name=\"手机\""),
               qq = workbook.find("name=\"QQ\"");
  ASSERT_NE(email, std::string::npos);
  ASSERT_NE(mobile, std::string::npos);
  ASSERT_NE(qq, std::string::npos);
  EXPECT_LT(email, mobile);
  EXPECT_LT(mobile, qq);
  for (const char* sheet :
       {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"}) {
    EXPECT_TRUE(zip.contains(sheet)) << sheet;
  }
  // Every value and source a shared string, so no cell holds the mobile as a number.
  const std::string& strings = zip.at("xl/sharedStrings.xml");
  for (const char* text : {"info@company.com", "-x@y.cn", "13812345678", "12345678@qq.com",
                           "http://b.cn/联系", "联系方式", "发现时间", "检查", "no-mail,too-long"}) {
    EXPECT_NE(strings.find(std::string(">") + text + "<"), std::string::npos) << text;
  }
  const std::string& mobiles = zip.at("xl/worksheets/sheet2.xml");
  EXPECT_NE(mobiles.find("<c r=\"A2\" t=\"s\">"), std::string::npos) << mobiles;
  EXPECT_NE(mobiles.find("<c r=\"C2\" s="), std::string::npos) << mobiles;
}

class SpreadsheetSaveTest : public test::ExportTest {
 protected:
  SpreadsheetSaveTest() {
    form->StringGrid1.AppendResult("a@b.cn", "http://p/1");
    form->StringGrid2.AppendResult("13812345678", "http://p/2");
    form->StringGrid3.AppendResult("12345@qq.com", "http://p/3");
  }
};

// Choosing a spreadsheet file in the first dialog of "save all" writes every kind into it
// and asks no more; a list's own menu writes that list alone.
TEST_F(SpreadsheetSaveTest, FileTypeChosenInTheDialogDecidesWhatIsWritten) {
  dialogs.AnswerSave(dir.File("all.CSV"));
  form->SpeedButton5Click();
  EXPECT_EQ(dialogs.History().size(), 1u);
  const std::string csv = test::TempDir::Read(dir.File("all.CSV"));
  EXPECT_EQ(ParseCsv(std::string_view(csv).substr(3)).size(), 4u);

  dialogs.ClearHistory();
  dialogs.AnswerSave(dir.File("all.xlsx"));
  form->SpeedButton5Click();
  EXPECT_EQ(dialogs.History().size(), 1u);
  const auto zip = ReadZip(test::TempDir::Read(dir.File("all.xlsx")));
  EXPECT_TRUE(zip.contains("xl/worksheets/sheet3.xml"));

  dialogs.ClearHistory();
  dialogs.AnswerSave(dir.File("mobiles.csv"));
  form->MenuItem1Click();
  const std::string one = test::TempDir::Read(dir.File("mobiles.csv"));
  const auto records = ParseCsv(std::string_view(one).substr(3));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][1], "=\"13812345678\"");
  EXPECT_EQ(records[1][2], "http://p/2");

  // A name without one of those extensions is still a list's text file.
  dialogs.ClearHistory();
  dialogs.AnswerSave(dir.File("mails.txt"));
  dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(std::nullopt);
  form->SpeedButton5Click();
  EXPECT_EQ(dialogs.History().size(), 3u);
  EXPECT_EQ(test::TempDir::Read(dir.File("mails.txt")), "a@b.cn\r\n");
}

}  // namespace
}  // namespace qm
