#include "shell/tray_icon.h"

#include <gtest/gtest.h>

#include <QMenu>

#include "fake_tray_shell.h"
#include "text/cp936.h"

namespace qm::shell {
namespace {

class TrayIconTest : public testing::Test {
 protected:
  FakeTrayShell shell;
  std::vector<std::string> events;

  void Record(TTrayIcon& tray) {
    tray.OnMouseDown = [this](TTrayIcon&, TMouseButton b, TShiftState s, int x, int y) {
      events.push_back("down " + std::string(b == TMouseButton::mbLeft ? "left" : "right") + " " +
                       std::to_string(s) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    tray.OnMouseUp = [this](TTrayIcon&, TMouseButton b, TShiftState s, int, int) {
      events.push_back("up " + std::string(b == TMouseButton::mbLeft ? "left" : "right") + " " +
                       std::to_string(s));
    };
    tray.OnClick = [this](TTrayIcon&) { events.push_back("click"); };
    tray.OnDblClick = [this](TTrayIcon&) { events.push_back("dblclick"); };
    tray.OnPopupMenu = [this](TTrayIcon&) { events.push_back("popupmenu"); };
    tray.OnShow = [this](TTrayIcon&) { events.push_back("show"); };
    tray.OnHide = [this](TTrayIcon&) { events.push_back("hide"); };
  }
};

TEST(CutCp936, NeverSplitsADoubleByteCharacter) {
  struct Row {
    std::string text;
    size_t max;
    std::string expected;
  };
  const std::string zhong = "\xD6\xD0";  // one double-byte character
  const Row rows[] = {
      {std::string(70, 'a'), 63, std::string(63, 'a')},
      {std::string(63, 'a'), 63, std::string(63, 'a')},
      {std::string(62, 'a') + zhong, 63, std::string(62, 'a')},
      {std::string(61, 'a') + zhong + "b", 63, std::string(61, 'a') + zhong},
      {"ab\xD6", 63, "ab\xD6"},  // a lone lead byte at the end counts one
      {"", 63, ""},
  };
  for (const Row& row : rows) EXPECT_EQ(CutCp936(row.text, row.max), row.expected);
}

TEST_F(TrayIconTest, ConstructionDefaultsAndRecord) {
  TTrayIcon tray(shell, "TrayIcon1");
  EXPECT_FALSE(tray.Visible());
  EXPECT_TRUE(tray.Enabled());
  EXPECT_EQ(tray.IconID(), 0);
  EXPECT_EQ(tray.ImageIndex(), 0);
  EXPECT_EQ(tray.Flags(), NIF_MESSAGE | NIF_TIP);
  EXPECT_TRUE(shell.Calls.empty());
  tray.SetHint("Quillmoth网页信息采集器 V2.0");
  ASSERT_EQ(shell.Messages(), std::vector<uint32_t>{NIM_MODIFY});
  const TNotifyIconData& data = shell.Calls[0].Data;
  EXPECT_EQ(data.cbSize, 88u);
  EXPECT_EQ(data.Wnd, 0x77u);
  EXPECT_EQ(data.CallbackMessage, 1025u);
  EXPECT_EQ(data.TipBytes(), Utf8ToCp936("Quillmoth网页信息采集器 V2.0"));
}

TEST_F(TrayIconTest, HintIsCutTo63BytesOfCodePage936) {
  TTrayIcon tray(shell, "TrayIcon1");
  tray.SetHint(std::string(70, 'x'));
  EXPECT_EQ(tray.Hint(), std::string(63, 'x'));
  // 62 ASCII bytes and a Chinese character (two bytes) would make 64: the character goes.
  tray.SetHint(std::string(62, 'x') + "网");
  EXPECT_EQ(tray.Hint(), std::string(62, 'x'));
  tray.SetHint(std::string(61, 'x') + "网");
  EXPECT_EQ(tray.Hint(), std::string(61, 'x') + "网");
  EXPECT_EQ(shell.Calls.back().Data.TipBytes().size(), 63u);
}

TEST_F(TrayIconTest, VisibleAddsAndDeletesOnlyOnChange) {
  TTrayIcon tray(shell, "TrayIcon1");
  Record(tray);
  tray.SetVisible(false);
  EXPECT_TRUE(shell.Calls.empty());
  tray.SetVisible(true);
  tray.SetVisible(true);
  ASSERT_EQ(shell.Messages(), std::vector<uint32_t>{NIM_ADD});
  EXPECT_EQ(shell.Calls[0].Data.Flags, NIF_MESSAGE | NIF_TIP | NIF_ICON);
  tray.SetVisible(false);
  EXPECT_EQ(shell.Messages(), (std::vector<uint32_t>{NIM_ADD, NIM_DELETE}));
  EXPECT_EQ(tray.Flags(), NIF_MESSAGE | NIF_TIP);
  EXPECT_EQ(events, (std::vector<std::string>{"show", "hide"}));
}

TEST_F(TrayIconTest, IconIdChangeReaddsWhileVisibleAndOnlyStoresWhileHidden) {
  TTrayIcon tray(shell, "TrayIcon1");
  tray.SetIconID(5);
  EXPECT_TRUE(shell.Calls.empty());
  tray.SetVisible(true);
  tray.SetIconID(5);
  tray.SetIconID(9);
  ASSERT_EQ(shell.Messages(), (std::vector<uint32_t>{NIM_ADD, NIM_DELETE, NIM_ADD}));
  EXPECT_EQ(shell.Calls[1].Data.ID, 5u);
  EXPECT_EQ(shell.Calls[2].Data.ID, 9u);
  EXPECT_TRUE(tray.Visible());
}

TEST_F(TrayIconTest, IconWhileHiddenIsStoredAndSentWhenShown) {
  TTrayIcon tray(shell, "TrayIcon1");
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::red);
  tray.SetIcon(QIcon(pixmap));
  ASSERT_EQ(shell.Messages(), std::vector<uint32_t>{NIM_MODIFY});
  tray.SetVisible(true);
  EXPECT_FALSE(shell.Calls.back().Data.Icon.isNull());
  EXPECT_EQ(shell.Calls.back().Message, NIM_ADD);
}

TEST_F(TrayIconTest, ImageListSuppliesTheIcon) {
  TTrayIcon tray(shell, "TrayIcon1");
  TImageList list(2);
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::blue);
  list[1] = QIcon(pixmap);
  tray.SetImageIndex(1);
  EXPECT_TRUE(shell.Calls.empty());  // no image list yet
  tray.SetImageList(&list);
  EXPECT_FALSE(tray.Icon().isNull());
  tray.SetImageIndex(0);
  EXPECT_TRUE(tray.Icon().isNull());
}

TEST_F(TrayIconTest, LeftClickAndDoubleClickSequences) {
  TTrayIcon tray(shell, "TrayIcon1");
  Record(tray);
  shell.Keys = ssShift;
  shell.Mouse(WM_LBUTTONDOWN);
  shell.Mouse(WM_LBUTTONUP);
  EXPECT_EQ(events,
            (std::vector<std::string>{"down left " + std::to_string(ssShift | ssLeft) + " 100,200",
                                      "up left " + std::to_string(ssShift | ssLeft), "click"}));
  events.clear();
  shell.Keys = 0;
  // A double click: press, release, double click, release.
  shell.Mouse(WM_LBUTTONDOWN);
  shell.Mouse(WM_LBUTTONUP);
  shell.Mouse(WM_LBUTTONDBLCLK);
  shell.Mouse(WM_LBUTTONUP);
  const std::string left = std::to_string(ssLeft);
  EXPECT_EQ(events, (std::vector<std::string>{"down left " + left + " 100,200", "up left " + left,
                                              "click", "dblclick", "up left " + left}));
  EXPECT_EQ(std::count(shell.Log.begin(), shell.Log.end(), "foreground app"), 3);
}

TEST_F(TrayIconTest, RightClickShowsTheMenuUntilTheMenuIsFreed) {
  TTrayIcon tray(shell, "TrayIcon1");
  Record(tray);
  auto* menu = new QMenu;
  menu->setObjectName("PopupMenu1");
  tray.SetPopupMenu(menu);
  shell.Mouse(WM_RBUTTONDOWN);
  shell.Mouse(WM_RBUTTONUP);
  EXPECT_EQ(shell.Log, (std::vector<std::string>{"foreground hidden", "popup PopupMenu1 at 100,200",
                                                 "post 0", "foreground app"}));
  EXPECT_EQ(events, (std::vector<std::string>{"down right " + std::to_string(ssRight) + " 100,200",
                                              "popupmenu", "up right " + std::to_string(ssRight)}));
  delete menu;
  EXPECT_EQ(tray.PopupMenu(), nullptr);
  shell.Log.clear();
  events.clear();
  shell.Mouse(WM_RBUTTONDOWN);
  shell.Mouse(WM_RBUTTONUP);
  EXPECT_EQ(shell.Log, (std::vector<std::string>{"foreground hidden", "foreground app"}));
  EXPECT_EQ(events.size(), 2u);  // down and up only
}

TEST_F(TrayIconTest, DisabledOrForeignMessagesGoToTheDefaultProcedure) {
  TTrayIcon tray(shell, "TrayIcon1");
  Record(tray);
  EXPECT_EQ(shell.Handler(WM_USER + 2, 0, WM_LBUTTONDOWN), 42);
  tray.SetEnabled(false);
  EXPECT_EQ(shell.Mouse(WM_LBUTTONDOWN), 42);
  EXPECT_TRUE(events.empty());
  tray.SetEnabled(true);
  shell.Mouse(WM_MOUSEMOVE);
  EXPECT_TRUE(events.empty());
}

TEST_F(TrayIconTest, ShellErrorsBecomeTrayErrorsNamedAfterTheComponent) {
  TTrayIcon tray(shell, "TrayIcon1");
  shell.ThrowOnNotify = true;
  try {
    tray.SetHint("x");
    FAIL();
  } catch (const ETrayIcon& e) {
    EXPECT_STREQ(e.what(), "TrayIcon1.UpDate failed");
  }
  try {
    tray.SetVisible(true);
    FAIL();
  } catch (const ETrayIcon& e) {
    EXPECT_STREQ(e.what(), "TrayIcon1.AddToTaskbar failed");
  }
}

TEST_F(TrayIconTest, LoadedAddsAStoredVisibleIconAgainAndDestructionRemovesIt) {
  {
    TTrayIcon tray(shell, "TrayIcon1");
    Record(tray);
    tray.SetVisible(true);  // read from the stored form, before the hint
    tray.SetHint("tip");
    tray.Loaded();
    EXPECT_EQ(shell.Messages(), (std::vector<uint32_t>{NIM_ADD, NIM_MODIFY, NIM_ADD}));
    EXPECT_EQ(events, (std::vector<std::string>{"show", "show"}));
  }
  EXPECT_EQ(shell.Calls.back().Message, NIM_DELETE);
  EXPECT_TRUE(shell.Destroyed);
  EXPECT_EQ(events.back(), "hide");
}

}  // namespace
}  // namespace qm::shell
