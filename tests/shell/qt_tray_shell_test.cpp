// The tray shell over QSystemTrayIcon, driven as far as a desktop without a tray allows: the
// icons, their tips and visibility, the activations turned into mouse messages, and the
// hidden windows' message delivery.
#include "shell/qt_tray_shell.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <tuple>
#include <vector>

#include "shell/tray_icon.h"
#include "shell_fixture.h"
#include "text/cp936.h"

namespace qm::shell {
namespace {

using Message = std::tuple<uint32_t, uintptr_t, intptr_t>;

QIcon RedIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::red);
  return QIcon(pixmap);
}

TNotifyIconData Data(TWindowHandle window, uint32_t id, uint32_t flags, const std::string& tip) {
  TNotifyIconData data;
  data.Wnd = window;
  data.ID = id;
  data.Flags = flags;
  data.CallbackMessage = TTrayIcon::kCallbackMessage;
  data.Icon = RedIcon();
  const std::string bytes = Utf8ToCp936(tip);
  std::copy(bytes.begin(), bytes.end(), data.Tip.begin());
  return data;
}

struct QtTrayShellTest : ::testing::Test {
  QtTrayShell shell;
  std::vector<Message> received;
  TWindowHandle window = shell.CreateHiddenWindow([this](uint32_t m, uintptr_t w, intptr_t l) {
    received.emplace_back(m, w, l);
    return intptr_t(0);
  });

  QSystemTrayIcon* OnlyIcon() {
    const auto icons = shell.findChildren<QSystemTrayIcon*>();
    return icons.size() == 1 ? icons.front() : nullptr;
  }
};

TEST_F(QtTrayShellTest, AddModifyDeleteKeepOneIconPerWindowAndId) {
  EXPECT_FALSE(shell.ShellNotifyIcon(NIM_MODIFY, Data(window, 0, NIF_TIP, "x")));
  EXPECT_FALSE(shell.ShellNotifyIcon(NIM_DELETE, Data(window, 0, 0, "")));

  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 0, NIF_ICON | NIF_TIP, "采集器 V2.0")));
  QSystemTrayIcon* icon = OnlyIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8("采集器 V2.0"));
  EXPECT_FALSE(icon->icon().isNull());
  EXPECT_TRUE(icon->isVisible());
  EXPECT_FALSE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 0, NIF_TIP, "again")));

  // Only what the flags name changes.
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_MODIFY, Data(window, 0, NIF_ICON, "ignored")));
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8("采集器 V2.0"));
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_MODIFY, Data(window, 0, NIF_TIP, "搜索中")));
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8("搜索中"));

  // Another id is another icon.
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 7, NIF_ICON, "")));
  EXPECT_EQ(shell.findChildren<QSystemTrayIcon*>().size(), 2);
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_DELETE, Data(window, 7, 0, "")));
  EXPECT_EQ(OnlyIcon(), icon);
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_DELETE, Data(window, 0, 0, "")));
  EXPECT_TRUE(shell.findChildren<QSystemTrayIcon*>().isEmpty());
  EXPECT_FALSE(shell.ShellNotifyIcon(99, Data(window, 0, 0, "")));
}

TEST_F(QtTrayShellTest, AnIconWithoutAPictureStaysHiddenUntilItGetsOne) {
  TNotifyIconData data = Data(window, 0, NIF_TIP, "tip");
  data.Icon = QIcon();
  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, data));
  ASSERT_NE(OnlyIcon(), nullptr);
  EXPECT_FALSE(OnlyIcon()->isVisible());
  EXPECT_TRUE(shell.ShellNotifyIcon(NIM_MODIFY, Data(window, 0, NIF_ICON, "")));
  EXPECT_TRUE(OnlyIcon()->isVisible());
}

TEST_F(QtTrayShellTest, ActivationsArriveAsTheHiddenWindowsMouseMessages) {
  struct Row {
    QSystemTrayIcon::ActivationReason reason;
    std::vector<intptr_t> mouse;
  };
  const Row rows[] = {
      {QSystemTrayIcon::Trigger, {WM_LBUTTONDOWN, WM_LBUTTONUP}},
      {QSystemTrayIcon::DoubleClick, {WM_LBUTTONDBLCLK, WM_LBUTTONUP}},
      {QSystemTrayIcon::Context, {WM_RBUTTONDOWN, WM_RBUTTONUP}},
      {QSystemTrayIcon::MiddleClick, {WM_MBUTTONDOWN}},
  };
  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 3, NIF_MESSAGE | NIF_ICON, "")));
  QSystemTrayIcon* icon = OnlyIcon();
  ASSERT_NE(icon, nullptr);
  for (const Row& row : rows) {
    received.clear();
    emit icon->activated(row.reason);
    std::vector<Message> expected;
    for (intptr_t mouse : row.mouse) expected.emplace_back(TTrayIcon::kCallbackMessage, 3, mouse);
    EXPECT_EQ(received, expected) << row.reason;
  }
}

TEST_F(QtTrayShellTest, WithoutTheMessageFlagActivationsAreNotDelivered) {
  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 0, NIF_ICON, "")));
  emit OnlyIcon()->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(received.empty());
}

TEST_F(QtTrayShellTest, PostedMessagesArriveLaterAndNotAfterTheWindowWent) {
  shell.PostMessage(window, WM_NULL, 1, 2);
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(ShellWindows::PumpUntil([&] { return !received.empty(); }, 2000));
  EXPECT_EQ(received, std::vector<Message>{Message(WM_NULL, 1, 2)});

  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(window, 0, NIF_ICON, "")));
  shell.PostMessage(window, WM_USER, 0, 0);
  shell.DestroyHiddenWindow(window);
  EXPECT_TRUE(shell.findChildren<QSystemTrayIcon*>().isEmpty());  // its icons went with it
  bool later = false;
  QTimer::singleShot(0, [&] { later = true; });
  ShellWindows::PumpUntil([&] { return later; }, 2000);
  EXPECT_EQ(received.size(), 1u);
}

TEST_F(QtTrayShellTest, AHandlerMayDestroyItsOwnWindow) {
  TWindowHandle self = 0;
  int calls = 0;
  self = shell.CreateHiddenWindow([&](uint32_t, uintptr_t, intptr_t) {
    ++calls;
    shell.DestroyHiddenWindow(self);
    return intptr_t(0);
  });
  ASSERT_TRUE(shell.ShellNotifyIcon(NIM_ADD, Data(self, 0, NIF_MESSAGE | NIF_ICON, "")));
  emit OnlyIcon()->activated(QSystemTrayIcon::Trigger);  // the second message finds no window
  EXPECT_EQ(calls, 1);
}

TEST_F(QtTrayShellTest, ForegroundOfTheApplicationWindowActivatesTheProgram) {
  int activated = 0;
  shell.ActivateApplication = [&] { ++activated; };
  shell.SetForegroundWindow(window);
  EXPECT_EQ(activated, 0);
  shell.SetForegroundWindow(shell.ApplicationWindow());
  EXPECT_EQ(activated, 1);
  EXPECT_EQ(shell.KeyState(), 0u);  // no keys down offscreen
}

TEST(QtTrayShellWithComponent, TheTrayIconComponentWorksThroughTheRealShell) {
  QtTrayShell shell;
  std::vector<std::string> events;
  {
    TTrayIcon tray(shell, "TrayIcon1");
    tray.SetIcon(RedIcon());
    tray.SetHint("Quillmoth网页信息采集器 V2.0");
    tray.OnClick = [&](TTrayIcon&) { events.push_back("click"); };
    tray.OnDblClick = [&](TTrayIcon&) { events.push_back("dblclick"); };
    tray.OnPopupMenu = [&](TTrayIcon&) { events.push_back("popupmenu"); };
    QMenu menu;
    tray.SetPopupMenu(&menu);
    tray.SetVisible(true);
    const auto icons = shell.findChildren<QSystemTrayIcon*>();
    ASSERT_EQ(icons.size(), 1);
    QSystemTrayIcon* icon = icons.front();
    EXPECT_EQ(icon->toolTip(), QString::fromUtf8("Quillmoth网页信息采集器 V2.0"));
    EXPECT_TRUE(icon->isVisible());

    // A double click comes as a click, then the double click.
    emit icon->activated(QSystemTrayIcon::Trigger);
    emit icon->activated(QSystemTrayIcon::DoubleClick);
    // The context menu pops up and runs until closed.
    bool menuShown = false;
    QTimer::singleShot(0, &menu, [&] {
      menuShown = menu.isVisible();
      menu.close();
    });
    emit icon->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(events, (std::vector<std::string>{"click", "dblclick", "popupmenu"}));

    tray.SetVisible(false);
    EXPECT_TRUE(shell.findChildren<QSystemTrayIcon*>().isEmpty());
    tray.SetVisible(true);
    EXPECT_EQ(shell.findChildren<QSystemTrayIcon*>().size(), 1);
  }
  // The component removes its icon and its hidden window when it goes.
  EXPECT_TRUE(shell.findChildren<QSystemTrayIcon*>().isEmpty());
}

}  // namespace
}  // namespace qm::shell
