// Creation, progress save and destruction of the main window core against its settings file.
#include <gtest/gtest.h>

#include <filesystem>

#include "form_harness.h"
#include "text/errors.h"

namespace qm {
namespace {

using test::FormHarness;
using test::TempDir;

TEST(FormCreate, FirstRunShowsTheCreationDefaults) {
  FormHarness h;
  TForm1& form = h.Create();
  EXPECT_EQ(form.SettingsFilePath(), h.SettingsPath());
  EXPECT_EQ(form.ProgramDirectory(), h.dir.Path().string() + "/");
  EXPECT_EQ(form.Edit5.Text(), "");
  EXPECT_EQ(form.SpinEdit1.Text(), "1");
  EXPECT_TRUE(form.CheckBox2.Checked());
  EXPECT_FALSE(form.CheckBox3.Checked());
  EXPECT_FALSE(form.CheckBox4.Checked());
  EXPECT_EQ(form.SearchState.UrlCounter.load(), 0);
  EXPECT_EQ(form.SearchState.UrlTotal.load(), 0);
  EXPECT_EQ(form.Label4.Caption(), "");
  EXPECT_EQ(form.Label5.Caption(), "");
  EXPECT_EQ(form.Label6.Caption(), "");
  EXPECT_TRUE(form.SpeedButton2.Enabled());
  EXPECT_TRUE(form.SpeedButton3.Enabled());
  EXPECT_TRUE(form.SpeedButton4.Enabled());
  // Creating and closing the window never writes the file.
  h.form.reset();
  EXPECT_FALSE(std::filesystem::exists(h.SettingsPath()));
}

struct ReadRow {
  const char* file;
  int32_t counter;
  int32_t total;
  const char* spin;
  bool email, mobile, qq;
};

TEST(FormCreate, ReadsSavedValuesByTheReadingRules) {
  const std::vector<ReadRow> rows = {
      {"[config]\r\nprocess=57\r\ntotal=100\r\nthread=3\r\nifeml=0\r\nifphone=1\r\nifqq=1\r\n", 57,
       100, "3", false, true, true},
      {"[config]\r\nthread=0\r\n", 0, 0, "1", true, false, false},
      {"[config]\r\nthread=9\r\n", 0, 0, "4", true, false, false},
      {"[config]\r\nthread=-7\r\n", 0, 0, "1", true, false, false},
      {"[config]\r\nifeml=256\r\nifphone=2\r\nifqq=0x100\r\n", 0, 0, "1", false, true, false},
      {"[config]\r\nprocess=0x1A\r\ntotal=$10\r\n", 26, 16, "1", true, false, false},
      {"[config]\r\nprocess=abc\r\ntotal=1.5\r\nthread=two\r\nifeml=yes\r\n", 0, 0, "1", true,
       false, false},
      {"[CONFIG]\r\nPROCESS= 12 \r\nThread=2\r\n", 12, 0, "2", true, false, false},
      {"[other]\r\nprocess=5\r\n", 0, 0, "1", true, false, false},
      {"\x1a", 0, 0, "1", true, false, false},
  };
  for (const ReadRow& row : rows) {
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    SCOPED_TRACE(row.file);
    EXPECT_EQ(form.SearchState.UrlCounter.load(), row.counter);
    EXPECT_EQ(form.SearchState.UrlTotal.load(), row.total);
    EXPECT_EQ(form.SpinEdit1.Text(), row.spin);
    EXPECT_EQ(form.CheckBox2.Checked(), row.email);
    EXPECT_EQ(form.CheckBox3.Checked(), row.mobile);
    EXPECT_EQ(form.CheckBox4.Checked(), row.qq);
  }
}

TEST(FormCreate, LaterCapabilitiesLoadAndSaveWithTheirKeys) {
  FormHarness h;
  h.dir.Write(h.SettingsName(),
              "[config]\r\nredirect=0\r\nextended=0\r\nunique=256\r\ninflight=9000\r\n");
  TForm1& form = h.Create();
  EXPECT_FALSE(form.CheckBoxRedirects.Checked());
  EXPECT_FALSE(form.CheckBoxExtended.Checked());
  EXPECT_FALSE(form.CheckBoxUnique.Checked());
  EXPECT_EQ(form.SpinEditInFlight.Value(), 4096);  // brought into 1 to 4096
  form.CheckBoxExtended.SetChecked(true);
  form.SpinEditInFlight.SetText("junk");  // counts as the minimum
  form.Button10Click();
  const std::string saved = TempDir::Read(h.SettingsPath());
  EXPECT_NE(saved.find("redirect=0\r\nextended=1\r\nunique=0\r\ninflight=1\r\n"),
            std::string::npos)
      << saved;
}

// Connections kept alive and the limit per host: missing keys give the defaults, values
// out of range are brought into it, and both are saved under their keys.
TEST(FormCreate, ConnectionSettingsLoadIntoRangeAndSave) {
  const struct {
    const char* file;
    bool keepAlive;
    int32_t hostLimit;
    const char* saved;
  } rows[] = {
      {"[config]\r\n", true, 8, "keepalive=1\r\nhostlimit=8\r\n"},
      {"[config]\r\nkeepalive=0\r\nhostlimit=0\r\n", false, 1, "keepalive=0\r\nhostlimit=1\r\n"},
      {"[config]\r\nkeepalive=256\r\nhostlimit=65\r\n", false, 64,
       "keepalive=0\r\nhostlimit=64\r\n"},
      {"[config]\r\nkeepalive=\r\nhostlimit=x\r\n", true, 8, "keepalive=1\r\nhostlimit=8\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    EXPECT_EQ(form.CheckBoxKeepAlive.Checked(), row.keepAlive);
    EXPECT_EQ(form.SpinEditHostLimit.Value(), row.hostLimit);
    form.Button10Click();
    const std::string saved = TempDir::Read(h.SettingsPath());
    EXPECT_NE(saved.find(row.saved), std::string::npos) << saved;
  }
}

// The crawl's settings: link following and the memory limit of a run.
TEST(FormCreate, LinkFollowingSettingsLoadIntoRangeAndSave) {
  const struct {
    const char* file;
    int32_t depth, pageLimit;
    bool robots;
    int32_t memoryLimit;
    const char* saved;
  } rows[] = {
      {"[config]\r\n", 1, 20, true, 1024,
       "depth=1\r\npagelimit=20\r\nrobots=1\r\nmemlimit=1024\r\n"},
      {"[config]\r\ndepth=9\r\npagelimit=0\r\nrobots=256\r\nmemlimit=63\r\n", 3, 1, false, 64,
       "depth=3\r\npagelimit=1\r\nrobots=0\r\nmemlimit=64\r\n"},
      {"[config]\r\ndepth=-1\r\npagelimit=5000\r\nrobots=2\r\nmemlimit=2000000\r\n", 0, 1000, true,
       1048576, "depth=0\r\npagelimit=1000\r\nrobots=1\r\nmemlimit=1048576\r\n"},
      {"[config]\r\ndepth=x\r\npagelimit=\r\nrobots=\r\nmemlimit=1g\r\n", 1, 20, true, 1024,
       "depth=1\r\npagelimit=20\r\nrobots=1\r\nmemlimit=1024\r\n"},
      // Replaced in place under the name the file gives it.
      {"[config]\r\nMemLimit=$100\r\n", 1, 20, true, 256, "[config]\r\nMemLimit=256\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    EXPECT_EQ(form.SpinEditDepth.Value(), row.depth);
    EXPECT_EQ(form.SpinEditPageLimit.Value(), row.pageLimit);
    EXPECT_EQ(form.CheckBoxRobots.Checked(), row.robots);
    EXPECT_EQ(form.SpinEditMemoryLimit.Value(), row.memoryLimit);
    form.Button10Click();
    const std::string saved = TempDir::Read(h.SettingsPath());
    EXPECT_NE(saved.find(row.saved), std::string::npos) << saved;
  }
}

// The kinds beside the three: off unless the file ticks them, saved after the others.
TEST(FormCreate, WeChatAndTelephoneBoxesLoadAndSave) {
  const struct {
    const char* file;
    bool wechat, phone;
    const char* saved;
  } rows[] = {
      {"[config]\r\nifeml=1\r\n", false, false, "\r\nifwechat=0\r\niftel=0\r\n"},
      {"[config]\r\nifwechat=1\r\niftel=0\r\n", true, false, "ifwechat=1\r\niftel=0\r\n"},
      {"[config]\r\nIfTel=1\r\n", false, true, "IfTel=1\r\n"},
      {"[config]\r\nifwechat=x\r\niftel=\r\n", false, false, "ifwechat=0\r\niftel=0\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    EXPECT_EQ(form.CheckBoxWeChat.Checked(), row.wechat);
    EXPECT_EQ(form.CheckBoxPhone.Checked(), row.phone);
    form.Button10Click();
    const std::string saved = TempDir::Read(h.SettingsPath());
    EXPECT_NE(saved.find(row.saved), std::string::npos) << saved;
  }
}

// How a run reaches servers: each wait's limit in seconds and the User-Agent text.
TEST(FormCreate, ReplyTimeoutAndUserAgentLoadIntoRangeAndSave) {
  const struct {
    const char* file;
    int32_t timeout;
    const char* userAgent;
    const char* saved;
  } rows[] = {
      {"[config]\r\n", 20, "", "timeout=20\r\nuseragent=\r\n"},
      {"[config]\r\ntimeout=0\r\nuseragent=Finder/3.1 (+http://f.example)\r\n", 1,
       "Finder/3.1 (+http://f.example)", "timeout=1\r\nuseragent=Finder/3.1 (+http://f.example)\r\n"},
      {"[config]\r\ntimeout=500\r\n", 120, "", "timeout=120\r\n"},
      {"[config]\r\ntimeout=abc\r\n", 20, "", "timeout=20\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    FormHarness h;
    h.dir.Write(h.SettingsName(), row.file);
    TForm1& form = h.Create();
    EXPECT_EQ(form.SpinEditTimeout.Value(), row.timeout);
    EXPECT_EQ(form.EditUserAgent.Text(), row.userAgent);
    form.Button10Click();
    const std::string saved = TempDir::Read(h.SettingsPath());
    EXPECT_NE(saved.find(row.saved), std::string::npos) << saved;
  }
  // Rendering as the file says; without the key, as the browser's installation says.
  for (const auto& [file, checked] : std::vector<std::pair<std::string, bool>>{
           {"[config]\r\nrender=0\r\n", false},
           {"[config]\r\nrender=1\r\n", true},
           {"[config]\r\n", !FindHeadlessBrowser().empty()}}) {
    FormHarness h;
    h.dir.Write(h.SettingsName(), file);
    EXPECT_EQ(h.Create().CheckBoxRender.Checked(), checked) << file;
  }
}

// A file without the render key renders when the browser is installed.
std::string RenderKey() {
  return FindHeadlessBrowser().empty() ? "render=0\r\n" : "render=1\r\n";
}

TEST(ProgressSave, BeforeAnySearchWritesTheStartUpValues) {
  FormHarness h;
  h.Create().SpeedButton7Click();
  EXPECT_EQ(TempDir::Read(h.SettingsPath()),
            "[config]\r\nurladd=\r\nprocess=0\r\ntotal=0\r\nthread=1\r\nifeml=1\r\nifphone=0\r\n"
            "ifqq=0\r\nredirect=1\r\nextended=1\r\nunique=1\r\ninflight=1024\r\ndepth=1\r\n"
            "pagelimit=20\r\nrobots=1\r\nmemlimit=1024\r\nnewonly=0\r\nkeepalive=1\r\nhostlimit=8\r\ntimeout=20\r\n"
            "useragent=\r\n" + RenderKey() + "ifwechat=0\r\niftel=0\r\nverify=1\r\nvalidonly=0\r\n");
  ASSERT_EQ(h.dialogs.Kinds(), std::vector<std::string>{"message"});
  EXPECT_EQ(h.dialogs.Messages(), std::vector<std::string>{"已经保存当前网络搜索进程"});
}

TEST(ProgressSave, WritesTheValuesOfTheMomentInPlace) {
  FormHarness h;
  h.dir.Write(h.SettingsName(),
              "[config]\r\nurladd=old\r\nprocess=1\r\ntotal=2\r\nthread=3\r\nifeml=1\r\n"
              "ifphone=0\r\nifqq=0\r\n[other]\r\nkeep=1\r\n");
  TForm1& form = h.Create();
  form.Edit5.SetText("/data/网址.txt");
  form.SearchState.UrlCounter.store(57);
  form.SearchState.UrlTotal.store(100);
  form.SpinEdit1.SetText("abc");  // a spin box whose text is not a number counts as 1
  form.CheckBox2.SetChecked(false);
  form.CheckBox4.SetChecked(true);
  form.Button10Click();
  EXPECT_EQ(TempDir::Read(h.SettingsPath()),
            "[config]\r\nurladd=/data/\xcd\xf8\xd6\xb7.txt\r\nprocess=57\r\ntotal=100\r\n"
            "thread=1\r\nifeml=0\r\nifphone=0\r\nifqq=1\r\nredirect=1\r\nextended=1\r\n"
            "unique=1\r\ninflight=1024\r\ndepth=1\r\npagelimit=20\r\nrobots=1\r\nmemlimit=1024\r\n"
            "newonly=0\r\nkeepalive=1\r\nhostlimit=8\r\ntimeout=20\r\nuseragent=\r\n" +
                RenderKey() + "ifwechat=0\r\niftel=0\r\nverify=1\r\nvalidonly=0\r\n[other]\r\nkeep=1\r\n");
  EXPECT_TRUE(h.dialogs.Kinds().empty());

  // The code page 936 path comes back as the same UI text.
  FormHarness again;
  again.dir.Write(again.SettingsName(), TempDir::Read(h.SettingsPath()));
  EXPECT_EQ(again.Create().Edit5.Text(), "/data/网址.txt");
}

TEST(ProgressSave, UnwritableDirectoryRaisesAndShowsNoMessage) {
  FormHarness h("gone/qmharvest");
  TForm1& form = h.Create();
  try {
    form.SpeedButton7Click();
    FAIL() << "no error";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + h.dir.File("gone/qmharvest.ini"));
  }
  EXPECT_TRUE(h.dialogs.Kinds().empty());
}

TEST(ProgressSave, RenamedProgramKeepsItsOwnFile) {
  FormHarness h("QmTool.BIN");
  const std::string old = h.dir.Write("qmharvest.ini", "[config]\r\nprocess=5\r\n");
  TForm1& form = h.Create();
  EXPECT_EQ(form.SettingsFilePath(), h.dir.File("qmtool.ini"));
  EXPECT_EQ(form.SearchState.UrlCounter.load(), 0);
  form.Button10Click();
  EXPECT_TRUE(std::filesystem::exists(h.dir.File("qmtool.ini")));
  EXPECT_EQ(TempDir::Read(old), "[config]\r\nprocess=5\r\n");
}

// The save button on the UI thread and a run's completion on a worker thread write the same
// file; a reader sees one whole record or the other.
TEST(ProgressSave, ConcurrentSavesLeaveWholeRecords) {
  FormHarness h;
  TForm1& form = h.Create();
  form.Edit5.SetText("/l.txt");
  std::atomic<bool> stop{false};
  std::thread counter([&] {
    for (int32_t i = 0; !stop.load(); ++i) {
      form.SearchState.UrlCounter.store(i % 1000);
      form.SearchState.UrlTotal.store(i % 1000);
    }
  });
  std::thread other([&] {
    for (int i = 0; i < 40; ++i) form.Button10Click();
  });
  int bad = 0;
  for (int i = 0; i < 40; ++i) {
    form.Button10Click();
    const TSettingsRecord r = ReadSettingsFile(h.SettingsPath(), ResumeDefaults());
    if (r.UrlAdd != "/l.txt" || r.Thread != 1 || r.IfEml != 1) ++bad;
  }
  other.join();
  stop = true;
  counter.join();
  EXPECT_EQ(bad, 0);
  const std::string text = TempDir::Read(h.SettingsPath());
  EXPECT_EQ(text.rfind("[config]\r\nurladd=/l.txt\r\nprocess=", 0), 0u) << text;
  EXPECT_NE(text.find("\r\nthread=1\r\nifeml=1\r\nifphone=0\r\nifqq=0\r\n"), std::string::npos);
}

TEST(FormDestroy, ReleasesTheLineListsAndWritesNothing) {
  FormHarness h;
  h.dir.Write(h.SettingsName(), "[config]\r\nprocess=3\r\n");
  TForm1& form = h.Create();
  form.Slots[0].Lines = {"a", "b"};
  form.SearchState.UrlCounter.store(99);
  form.FormDestroy();
  EXPECT_TRUE(form.Slots[0].Lines.empty());
  EXPECT_EQ(TempDir::Read(h.SettingsPath()), "[config]\r\nprocess=3\r\n");
}

}  // namespace
}  // namespace qm
