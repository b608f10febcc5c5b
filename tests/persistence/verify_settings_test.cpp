// The row checks' settings: "verify" (on unless the file turns it off) and "validonly" (off
// unless ticked), loaded into their boxes and saved under their keys.
#include <gtest/gtest.h>

#include "persistence/form_harness.h"

namespace qm {
namespace {

using test::FormHarness;
using test::TempDir;

TEST(FormCreate, CheckSettingsLoadAndSave) {
  const struct {
    const char* file;
    bool verify, validOnly;
    const char* saved;
  } rows[] = {
      {"[config]\r\nifeml=1\r\n", true, false, "verify=1\r\nvalidonly=0\r\n"},
      {"[config]\r\nverify=0\r\nvalidonly=1\r\n", false, true, "verify=0\r\nvalidonly=1\r\n"},
      {"[config]\r\nVERIFY=256\r\n", false, false, "VERIFY=0\r\n"},
      {"[config]\r\nverify=x\r\nvalidonly=\r\n", true, false, "verify=1\r\nvalidonly=0\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    EXPECT_EQ(form.CheckBoxVerify.Checked(), row.verify);
    EXPECT_EQ(form.CheckBoxValidOnly.Checked(), row.validOnly);
    form.Button10Click();
    const std::string saved = TempDir::Read(h.SettingsPath());
    EXPECT_NE(saved.find(row.saved), std::string::npos) << saved;
  }
}

}  // namespace
}  // namespace qm
