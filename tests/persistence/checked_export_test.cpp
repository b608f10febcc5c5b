// The window's exports carry each row's checks, asked of a real dnsmasq, and "只导出有效"
// leaves out the rows the checks find no real contact, in every file type.
#include <gtest/gtest.h>

#include "persistence/export_fixture.h"
#include "support/dnsmasq_fixture.h"

namespace qm {
namespace {

class CheckedExportTest : public test::ExportTest {
 protected:
  CheckedExportTest() {
    form->VerifyResolver = dns.Address();
    form->StringGrid1.AppendResult("anna@mx-one.com", "http://p/1");
    form->StringGrid1.AppendResult("info@mx-one.com", "http://p/1");
    form->StringGrid1.AppendResult("bob@missing.com", "http://p/2");
    form->StringGrid1.AppendResult("x@mailinator.com", "http://p/2");
    form->StringGrid2.AppendResult("13812345678", "http://p/3");
    form->StringGrid2.AppendResult("15412345678", "http://p/3");
  }

  test::DnsmasqServer dns{"local=/com/\nmx-host=mx-one.com,mail.mx-one.com,10\n"};
};

TEST_F(CheckedExportTest, EveryFileTypeCarriesTheChecksOrKeepsOnlyValidRows) {
  dialogs.AnswerSave(dir.File("all.csv"));
  form->SpeedButton5Click();
  const std::string csv = test::TempDir::Read(dir.File("all.csv"));
  for (const char* line : {"类型,联系方式,来源网址,发现时间,检查\r\n",
                           "电邮,anna@mx-one.com,http://p/1,", ",ok\r\n",
                           ",role\r\n电邮,bob@missing.com", ",no-mail\r\n电邮,x@mailinator.com",
                           ",disposable\r\n手机,=\"13812345678\"", ",bad-range\r\n"}) {
    EXPECT_NE(csv.find(line), std::string::npos) << line << "\n" << csv;
  }

  form->CheckBoxValidOnly.SetChecked(true);
  dialogs.AnswerSave(dir.File("valid.csv"));
  form->SpeedButton5Click();
  const std::string valid = test::TempDir::Read(dir.File("valid.csv"));
  EXPECT_NE(valid.find("anna@mx-one.com"), std::string::npos) << valid;
  EXPECT_NE(valid.find("13812345678"), std::string::npos) << valid;
  for (const char* gone : {"info@", "bob@", "mailinator", "15412345678"}) {
    EXPECT_EQ(valid.find(gone), std::string::npos) << gone << "\n" << valid;
  }

  dialogs.AnswerSave(dir.File("mails.txt"));
  form->N1Click();
  EXPECT_EQ(test::TempDir::Read(dir.File("mails.txt")), "anna@mx-one.com\r\n");
}

}  // namespace
}  // namespace qm
