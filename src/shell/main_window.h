#pragma once
// TForm1 on screen: the tool bar, options bar, the three result lists, the status bar and the
// information bar over the main window's core, the tray icon and its menu, and the window's
// own small operations (resizing the lists, hiding to the tray and coming back, the maker's
// addresses, exit, About).
#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "shell/hyperlink_label.h"
#include "shell/tray_icon.h"
#include "ui/control_models.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;
class QTimer;
class QToolButton;

namespace qm {
class TForm1;
}

namespace qm::shell {

class TForm2;
class TForm3Window;
class TbbsFormWindow;
class TStringGrid;

class TForm1Window : public QWidget {
  Q_OBJECT
 public:
  TForm1Window(TForm1& core, TTrayShell& trayShell, UrlOpener opener = DesktopUrlOpener());
  ~TForm1Window() override;

  // The windows created after the main one (Form3, Form2, bbsForm in that order).
  void SetWindows(TForm3Window* form3, TForm2* form2, TbbsFormWindow* bbsForm);

  // The widget steps of creation, after the core's FormCreate: hint colour, the lists' row
  // heights and widths, the first reading of the models.
  void FormCreate();

  // Tool bar
  QFrame* CoolBar1;
  std::array<QToolButton*, 8> SpeedButtons{};  // SpeedButton1 .. SpeedButton8
  // Options bar
  QFrame* Panel2;
  QLabel *Label1, *Label7, *LabelDepth;
  QSpinBox *SpinEdit1, *SpinEditDepth;
  QCheckBox *CheckBox2, *CheckBox3, *CheckBox4;
  QLineEdit* Edit5;
  // Options bar, second row
  QCheckBox *CheckBoxRedirects, *CheckBoxExtended, *CheckBoxUnique, *CheckBoxRobots,
      *CheckBoxNewOnly;
  QLabel *LabelInFlight, *LabelPageLimit;
  QSpinBox *SpinEditInFlight, *SpinEditPageLimit;
  // Options bar, third row
  QLabel* LabelMemoryLimit;
  QSpinBox* SpinEditMemoryLimit;
  QCheckBox* CheckBoxKeepAlive;
  QLabel* LabelHostLimit;
  QSpinBox* SpinEditHostLimit;
  QLabel* LabelTimeout;
  QSpinBox* SpinEditTimeout;
  QCheckBox* CheckBoxRender;
  QLabel* LabelUserAgent;
  QLineEdit* EditUserAgent;
  // Options bar, fourth row: the kinds beside the first three
  QCheckBox *CheckBoxWeChat, *CheckBoxPhone;
  // Result lists: e-mail addresses, mobile numbers, QQ numbers
  TStringGrid *StringGrid1, *StringGrid2, *StringGrid3;
  // WeChat IDs and telephone numbers, in a second row of lists shown while either kind is
  // collected or holds rows
  TStringGrid *StringGrid4, *StringGrid5;
  QMenu *PopupMenu5, *PopupMenu6;
  // Every row checked; "只导出有效" in each list's menu, one switch for every export
  QCheckBox* CheckBoxVerify;
  std::array<QAction*, 3> ValidOnlyItems{};
  QMenu *PopupMenu2, *PopupMenu3, *PopupMenu4;
  // Status bar: a caption and a count for each list and for the failed addresses
  QFrame* StatusBar1;
  std::array<QLabel*, ui::TStatusBarModel::kPanelCount> StatusPanels{};
  // Information bar
  QFrame* Panel1;
  QLabel *Image2, *Label2, *Label3, *Label4, *Label5, *Label6;
  // Tray icon and its menu
  std::unique_ptr<TTrayIcon> TrayIcon1;
  QMenu* PopupMenu1;
  QAction *N17, *N18, *N19, *N20, *N21, *N22, *N23;

  void FormResize();
  void N17Click();
  void N18Click();
  void N19Click();
  void N20Click();
  void N23Click();
  void SpeedButton6Click();
  void SpeedButton8Click();

  // Reads every model of the window and its wait dialog (on the GUI thread).
  void Refresh();
  // How long the longest refresh took, for the benchmark.
  qint64 LongestRefreshNs() const { return longestRefreshNs_; }
  // The same in CPU time of the GUI thread, which a loaded machine does not stretch.
  qint64 LongestRefreshCpuNs() const { return longestRefreshCpuNs_; }
  int RefreshCount() const { return refreshCount_; }
  // All refreshes' time and GUI-thread CPU time together.
  qint64 TotalRefreshNs() const { return totalRefreshNs_; }
  qint64 TotalRefreshCpuNs() const { return totalRefreshCpuNs_; }

 signals:
  // The close query agreed: the program ends.
  void Closed();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildToolBar();
  void BuildOptionsBar();
  void BuildResultArea();
  void BuildStatusBar();
  void BuildInformationBar();
  void BuildTray(TTrayShell& trayShell);
  // The smallest size at which no control of the bars is cut.
  void ApplyMinimumSize();
  void Guarded(void (TForm1::*handler)());

  TForm1& core_;
  TTrayShell& trayShell_;
  UrlOpener opener_;
  QWidget* resultArea_ = nullptr;
  QWidget* laterKindsRow_ = nullptr;
  TForm3Window* form3_ = nullptr;
  TForm2* form2_ = nullptr;
  TbbsFormWindow* bbsForm_ = nullptr;
  qint64 longestRefreshNs_ = 0;
  qint64 longestRefreshCpuNs_ = 0;
  qint64 totalRefreshNs_ = 0;
  qint64 totalRefreshCpuNs_ = 0;
  int refreshCount_ = 0;
  void RequestRefresh();
  QTimer* refreshTimer_ = nullptr;
  QElapsedTimer sinceRefresh_;
  bool sizedToFrame_ = false;
  bool closeAgreed_ = false;
};

}  // namespace qm::shell
