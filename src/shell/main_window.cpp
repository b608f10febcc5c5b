#include "shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <ctime>

#include "engine/main_form.h"
#include "shell/about_dialog.h"
#include "shell/app_title.h"
#include "shell/error_box.h"
#include "shell/generator_window.h"
#include "shell/pictures.h"
#include "shell/placed_label.h"
#include "shell/result_grid.h"
#include "shell/wait_dialog.h"
#include "shell/window_placement.h"

namespace qm::shell {
namespace {

constexpr int kDesignWidth = 624;
constexpr int kDesignHeight = 521;
// Edit5 keeps the distance to the right edge it has at the design width.
constexpr int kEdit5Left = 506;
constexpr int kEdit5Width = 105;
// The least the window leaves the path field, the hint line and the lists.
constexpr int kEdit5MinimumWidth = 100;
constexpr int kHintLineReserve = 120;
constexpr int kResultAreaMinimumHeight = 80;

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QFrame* MakeBar(QWidget* parent, const char* name, int height) {
  auto* bar = new QFrame(parent);
  bar->setObjectName(name);
  bar->setFixedHeight(height);
  bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return bar;
}

// A count box: any integer may be typed, and the box is brought into its model's range only
// when it loses the focus; its arrows stay within that range.
class TSpinEdit : public QSpinBox {
 public:
  TSpinEdit(const ui::TSpinEditModel& model, QWidget* parent)
      : QSpinBox(parent), min_(model.MinValue()), max_(model.MaxValue()) {}
  void stepBy(int steps) override {
    const int target = std::clamp(value() + steps, min_, max_);
    setValue(target);
  }

 private:
  const int min_;
  const int max_;
};

// The options bar's first row holds the design's options and the search depth beside the
// thread count, the second to fourth the other capabilities added since.
constexpr int kOptionsBarHeight = 130;
constexpr int kSecondRowTop = 40;
constexpr int kThirdRowTop = 68;
constexpr int kFourthRowTop = 96;

struct ToolButtonText {
  const char* caption;
  const char* hint;
  const char* glyph;
};
constexpr ToolButtonText kToolButtons[8] = {
    {"网址", "选择网址列表", "glyph_addresses"}, {"搜索", "开始网址搜索", "glyph_search"},
    {"终止", "终止网址搜索", "glyph_stop"},      {"继续", "继续搜索网址", "glyph_continue"},
    {"保存", "保存搜索结果", "glyph_save"},      {"创建", "创建网址列表", "glyph_create"},
    {"进程", "保存搜索进程", "glyph_progress"},  {"关于", "软件版本信息", "glyph_about"},
};

}  // namespace

TForm1Window::TForm1Window(TForm1& core, TTrayShell& trayShell, UrlOpener opener)
    : QWidget(nullptr), core_(core), trayShell_(trayShell), opener_(std::move(opener)) {
  setObjectName("TForm1");
  setWindowTitle(QString::fromUtf8(kApplicationTitle) + QString::fromUtf8(" —主页: ") +
                 QString::fromUtf8(kMakerHomePage) + QStringLiteral(" QQ:") +
                 QString::fromUtf8(kMakerQQ));
  setWindowIcon(ApplicationIcon());
  QFont simSun(QString::fromUtf8("宋体"));
  simSun.setPointSize(9);
  setFont(simSun);
  resize(kDesignWidth, kDesignHeight);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildToolBar();
  BuildOptionsBar();
  BuildResultArea();
  BuildStatusBar();
  BuildInformationBar();
  layout->addWidget(CoolBar1);
  layout->addWidget(Panel2);
  layout->addWidget(resultArea_, 1);
  layout->addWidget(StatusBar1);
  layout->addWidget(Panel1);
  BuildTray(trayShell);

  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  connect(refreshTimer_, &QTimer::timeout, this, [this] { Refresh(); });
  sinceRefresh_.start();
  core_.Changes.SetListener([this] {
    // Any thread: only schedule one refresh on the GUI thread; the notifier coalesces.
    QMetaObject::invokeMethod(
        this, [this] { RequestRefresh(); }, Qt::QueuedConnection);
  });
}

TForm1Window::~TForm1Window() {
  core_.Changes.SetListener({});
  // The child widgets go after this body, in the base class's destructor, and a focused spin
  // box reports its editing finished as it goes: not to this half-destroyed window.
  disconnect(SpinEdit1, nullptr, this, nullptr);
  disconnect(SpinEditInFlight, nullptr, this, nullptr);
  disconnect(SpinEditDepth, nullptr, this, nullptr);
  disconnect(SpinEditPageLimit, nullptr, this, nullptr);
  disconnect(SpinEditMemoryLimit, nullptr, this, nullptr);
  disconnect(SpinEditHostLimit, nullptr, this, nullptr);
  disconnect(SpinEditTimeout, nullptr, this, nullptr);
  TrayIcon1.reset();
}

void TForm1Window::SetWindows(TForm3Window* form3, TForm2* form2, TbbsFormWindow* bbsForm) {
  form3_ = form3;
  form2_ = form2;
  bbsForm_ = bbsForm;
  Refresh();
}

void TForm1Window::Guarded(void (TForm1::*handler)()) {
  // The core is captured, not this window: GCC 12 with -fsanitize=undefined miscompiles the
  // member-pointer call through a captured `this` (its type check reads a stale register).
  TForm1& core = core_;
  RunGuarded([&core, handler] { (core.*handler)(); });
}

void TForm1Window::BuildToolBar() {
  CoolBar1 = MakeBar(this, "CoolBar1", 65);
  CoolBar1->setFrameStyle(QFrame::NoFrame);
  void (TForm1Window::*own[8])() = {nullptr, nullptr,
                                    nullptr, nullptr,
                                    nullptr, &TForm1Window::SpeedButton6Click,
                                    nullptr, &TForm1Window::SpeedButton8Click};
  void (TForm1::*engine[8])() = {&TForm1::SpeedButton1Click, &TForm1::SpeedButton2Click,
                                 &TForm1::SpeedButton3Click, &TForm1::SpeedButton4Click,
                                 &TForm1::SpeedButton5Click, nullptr,
                                 &TForm1::SpeedButton7Click, nullptr};
  for (int i = 0; i < 8; ++i) {
    auto* button = new QToolButton(CoolBar1);
    button->setObjectName(QStringLiteral("SpeedButton%1").arg(i + 1));
    button->setText(QString::fromUtf8(kToolButtons[i].caption));
    button->setToolTip(QString::fromUtf8(kToolButtons[i].hint));
    button->setIcon(PictureIcon(QString::fromUtf8(kToolButtons[i].glyph)));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);  // the spin box keeps a typed value unclamped
    button->setGeometry(2 + 68 * i, 4, 63, 57);
    if (own[i] != nullptr) {
      auto handler = own[i];
      connect(button, &QToolButton::clicked, this,
              [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
    } else {
      auto handler = engine[i];
      connect(button, &QToolButton::clicked, this, [this, handler] { Guarded(handler); });
    }
    SpeedButtons[static_cast<size_t>(i)] = button;
  }
}

void TForm1Window::BuildOptionsBar() {
  Panel2 = MakeBar(this, "Panel2", kOptionsBarHeight);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Label1 = MakeLabel(Panel2, "Label1", "线程：", 8, 16);

  auto makeSpin = [this](const char* name, int left, int top, int width,
                         ui::TSpinEditModel& model) {
    QSpinBox* spin = new TSpinEdit(model, Panel2);
    spin->setObjectName(name);
    spin->setRange(-999999, 999999);
    spin->setValue(model.Value());
    spin->setGeometry(left, top, width, 22);
    connect(spin, &QSpinBox::textChanged, this,
            [&model](const QString& text) { model.SetText(text.toStdString()); });
    connect(spin, &QSpinBox::editingFinished, this, [&model] { model.ClampToRange(); });
    return spin;
  };
  SpinEdit1 = makeSpin("SpinEdit1", 48, 12, 56, core_.SpinEdit1);
  // The first row has room for a short caption only; the tip gives the whole name.
  LabelDepth = MakeLabel(Panel2, "LabelDepth", "深度：", 108, 16);
  SpinEditDepth = makeSpin("SpinEditDepth", 144, 12, 40, core_.SpinEditDepth);
  SpinEditDepth->setToolTip(QString::fromUtf8(
      "搜索深度：从列表中的网页沿本站链接向下找几层（0到3，0只搜索列表中的网页）"));
  LabelDepth->setToolTip(SpinEditDepth->toolTip());

  auto makeCheck = [this](const char* name, const char* caption, int left, int top,
                          ui::TCheckBoxModel& model) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), Panel2);
    box->setObjectName(name);
    box->setLayoutDirection(Qt::RightToLeft);  // caption to the left of the box
    box->move(left, top);
    box->adjustSize();
    box->setChecked(model.Checked());
    connect(box, &QCheckBox::toggled, this, [&model](bool checked) { model.SetChecked(checked); });
    return box;
  };
  CheckBox2 = makeCheck("CheckBox2", "邮件地址", 190, 14, core_.CheckBox2);
  CheckBox3 = makeCheck("CheckBox3", "手机号码", 268, 14, core_.CheckBox3);
  CheckBox4 = makeCheck("CheckBox4", "QQ号码", 346, 14, core_.CheckBox4);

  const int row2 = kSecondRowTop;
  CheckBoxRedirects = makeCheck("CheckBoxRedirects", "跟随跳转", 8, row2 + 2,
                                core_.CheckBoxRedirects);
  CheckBoxRedirects->setToolTip(QString::fromUtf8("页面跳转到别的网址时，搜索跳转后的页面"));
  CheckBoxExtended = makeCheck("CheckBoxExtended", "扩展识别", 88, row2 + 2,
                               core_.CheckBoxExtended);
  CheckBoxExtended->setToolTip(
      QString::fromUtf8("也识别大写、实体编码、全角和变形写法的联系方式，并排除误识别"));
  CheckBoxUnique = makeCheck("CheckBoxUnique", "结果去重", 168, row2 + 2, core_.CheckBoxUnique);
  CheckBoxUnique->setToolTip(QString::fromUtf8("已在列表中的结果不再添加"));
  LabelInFlight = MakeLabel(Panel2, "LabelInFlight", "每线程并发：", 250, row2 + 4);
  SpinEditInFlight = makeSpin("SpinEditInFlight", 324, row2, 48, core_.SpinEditInFlight);
  SpinEditInFlight->setToolTip(QString::fromUtf8("每个线程同时下载的页面数（1到4096）"));
  LabelPageLimit = MakeLabel(Panel2, "LabelPageLimit", "每站页数：", 380, row2 + 4);
  SpinEditPageLimit = makeSpin("SpinEditPageLimit", 442, row2, 52, core_.SpinEditPageLimit);
  SpinEditPageLimit->setToolTip(
      QString::fromUtf8("每个网站沿链接最多搜索的页面数，该网站的所有列表行共用（1到1000）"));
  CheckBoxRobots = makeCheck("CheckBoxRobots", "遵守robots", 502, row2 + 2, core_.CheckBoxRobots);
  CheckBoxRobots->setToolTip(
      QString::fromUtf8("沿链接找到的网页遵守网站robots.txt的限制；列表中的网页总是搜索"));
  // At the end of the third row, where a short caption fits; the tip says the rest.
  CheckBoxVerify = makeCheck("CheckBoxVerify", "检查", 552, kThirdRowTop + 2, core_.CheckBoxVerify);
  CheckBoxVerify->setToolTip(QString::fromUtf8(
      "检查每个结果：邮箱域名能否收信（查询DNS）、顶级域名、长度、角色邮箱和一次性邮箱，"
      "手机号段；不选则不查询DNS"));
  // Under the page limit, with the other limits of a run.
  const int row3 = kThirdRowTop;
  CheckBoxNewOnly = makeCheck("CheckBoxNewOnly", "只要新结果", 8, row3 + 2, core_.CheckBoxNewOnly);
  CheckBoxNewOnly->setToolTip(QString::fromUtf8("以前的搜索已经找到的结果不再添加"));
  CheckBoxKeepAlive =
      makeCheck("CheckBoxKeepAlive", "保持连接", 100, row3 + 2, core_.CheckBoxKeepAlive);
  CheckBoxKeepAlive->setToolTip(
      QString::fromUtf8("同一网站的下一个网页沿用已打开的连接；不选则每个网页新开一个连接"));
  LabelHostLimit = MakeLabel(Panel2, "LabelHostLimit", "每站连接：", 190, row3 + 4);
  SpinEditHostLimit = makeSpin("SpinEditHostLimit", LabelHostLimit->geometry().right() + 4, row3,
                               44, core_.SpinEditHostLimit);
  SpinEditHostLimit->setToolTip(
      QString::fromUtf8("所有线程对同一网站最多同时打开的连接数（1到64）"));
  LabelHostLimit->setToolTip(SpinEditHostLimit->toolTip());
  LabelMemoryLimit = MakeLabel(Panel2, "LabelMemoryLimit", "内存上限(MB)：", 380, row3 + 4);
  SpinEditMemoryLimit = makeSpin("SpinEditMemoryLimit", LabelMemoryLimit->geometry().right() + 4,
                                 row3, 76, core_.SpinEditMemoryLimit);
  // Room to type past the largest limit, which leaving the box then brings back.
  SpinEditMemoryLimit->setRange(-99999999, 99999999);
  SpinEditMemoryLimit->setToolTip(
      QString::fromUtf8("一次搜索中所有线程的网页最多占用的内存（64到1048576 MB）"));
  LabelMemoryLimit->setToolTip(SpinEditMemoryLimit->toolTip());
  // The kinds beyond the first three, off by default as mobile and QQ are.
  const int row4 = kFourthRowTop;
  CheckBoxWeChat = makeCheck("CheckBoxWeChat", "微信号", 8, row4 + 2, core_.CheckBoxWeChat);
  CheckBoxWeChat->setToolTip(
      QString::fromUtf8("收集“微信”“wx”“V信”等标注后的微信号，以及标为微信的手机号"));
  CheckBoxPhone = makeCheck("CheckBoxPhone", "电话号码", 100, row4 + 2, core_.CheckBoxPhone);
  CheckBoxPhone->setToolTip(QString::fromUtf8(
      "收集带区号的固定电话和400、800服务电话，写成0755-12345678、400-123-4567"));
  // How a page is fetched: how long a reply is waited for, whether a page whose contacts a
  // script writes is rendered, and the name the requests give.
  LabelTimeout = MakeLabel(Panel2, "LabelTimeout", "超时(秒)：", 190, row4 + 4);
  SpinEditTimeout = makeSpin("SpinEditTimeout", LabelTimeout->geometry().right() + 4, row4, 44,
                             core_.SpinEditTimeout);
  SpinEditTimeout->setToolTip(
      QString::fromUtf8("等待服务器应答的最长时间（1到120秒）；整个网页最多等60秒或超时的两倍"));
  LabelTimeout->setToolTip(SpinEditTimeout->toolTip());
  CheckBoxRender = makeCheck("CheckBoxRender", "渲染网页", SpinEditTimeout->geometry().right() + 12,
                             row4 + 2, core_.CheckBoxRender);
  CheckBoxRender->setToolTip(QString::fromUtf8(
      "网页上的联系方式由脚本写出时，用无界面浏览器打开该网页再搜索（每个网站最多一页）"));
  LabelUserAgent = MakeLabel(Panel2, "LabelUserAgent", "浏览器标识：",
                             CheckBoxRender->geometry().right() + 12, row4 + 4);
  EditUserAgent = new QLineEdit(Panel2);
  EditUserAgent->setObjectName("EditUserAgent");
  EditUserAgent->setGeometry(LabelUserAgent->geometry().right() + 4, row4, 150, 22);
  EditUserAgent->setText(Utf8(core_.EditUserAgent.Text()));
  EditUserAgent->setPlaceholderText(QString::fromUtf8("默认：本程序的名称和版本"));
  EditUserAgent->setToolTip(
      QString::fromUtf8("每个请求的User-Agent；空着则用本程序的名称和版本"));
  LabelUserAgent->setToolTip(EditUserAgent->toolTip());
  connect(EditUserAgent, &QLineEdit::textEdited, this,
          [this](const QString& text) { core_.EditUserAgent.SetText(text.toStdString()); });
  Label7 = MakeLabel(Panel2, "Label7", "网址文件路径：", 420, 16);
  Edit5 = new QLineEdit(Panel2);
  Edit5->setObjectName("Edit5");
  Edit5->setGeometry(kEdit5Left, 12, kEdit5Width, 22);
  connect(Edit5, &QLineEdit::textEdited, this,
          [this](const QString& text) { core_.Edit5.SetText(text.toStdString()); });
}

void TForm1Window::BuildResultArea() {
  resultArea_ = new QWidget(this);
  resultArea_->setObjectName("ResultArea");
  auto* rows = new QVBoxLayout(resultArea_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  auto* firstRow = new QWidget(resultArea_);
  firstRow->setObjectName("ResultRow1");
  rows->addWidget(firstRow, 2);
  auto* row = new QHBoxLayout(firstRow);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  StringGrid1 = new TStringGrid(core_.StringGrid1, 18, firstRow);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid2 = new TStringGrid(core_.StringGrid2, 18, firstRow);
  StringGrid2->setObjectName("StringGrid2");
  StringGrid3 = new TStringGrid(core_.StringGrid3, 18, firstRow);
  StringGrid3->setObjectName("StringGrid3");
  // StringGrid1 and StringGrid3 are docked left; StringGrid2 takes what they leave.
  row->addWidget(StringGrid1);
  row->addWidget(StringGrid3);
  row->addWidget(StringGrid2, 1);
  // Below the three, in halves: the three keep their places, and the row stays hidden
  // while neither kind is collected.
  laterKindsRow_ = new QWidget(resultArea_);
  laterKindsRow_->setObjectName("ResultRow2");
  rows->addWidget(laterKindsRow_, 1);
  auto* secondRow = new QHBoxLayout(laterKindsRow_);
  secondRow->setContentsMargins(0, 0, 0, 0);
  secondRow->setSpacing(0);
  StringGrid4 = new TStringGrid(core_.StringGrid4, 18, laterKindsRow_);
  StringGrid4->setObjectName("StringGrid4");
  StringGrid5 = new TStringGrid(core_.StringGrid5, 18, laterKindsRow_);
  StringGrid5->setObjectName("StringGrid5");
  secondRow->addWidget(StringGrid4, 1);
  secondRow->addWidget(StringGrid5, 1);
  laterKindsRow_->setVisible(false);

  auto attachMenu = [this](TStringGrid* grid, const char* menuName, const char* itemName,
                           const char* caption, void (TForm1::*handler)()) {
    auto* menu = new QMenu(this);
    menu->setObjectName(menuName);
    QAction* item = menu->addAction(QString::fromUtf8(caption));
    item->setObjectName(itemName);
    connect(item, &QAction::triggered, this, [this, handler] { Guarded(handler); });
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this,
            [grid, menu](const QPoint& at) { menu->exec(grid->viewport()->mapToGlobal(at)); });
    return menu;
  };
  PopupMenu2 = attachMenu(StringGrid1, "PopupMenu2", "N1", "导出电邮保存", &TForm1::N1Click);
  PopupMenu3 =
      attachMenu(StringGrid2, "PopupMenu3", "MenuItem1", "导出手机号码", &TForm1::MenuItem1Click);
  PopupMenu4 =
      attachMenu(StringGrid3, "PopupMenu4", "MenuItem2", "导出QQ号保存", &TForm1::MenuItem2Click);
  PopupMenu5 = attachMenu(StringGrid4, "PopupMenu5", "MenuItemWeChat", "导出微信号保存",
                          &TForm1::MenuItemWeChatClick);
  PopupMenu6 = attachMenu(StringGrid5, "PopupMenu6", "MenuItemPhone", "导出电话号码保存",
                          &TForm1::MenuItemPhoneClick);
  QMenu* menus[3] = {PopupMenu2, PopupMenu3, PopupMenu4};
  for (size_t i = 0; i < ValidOnlyItems.size(); ++i) {
    QAction* item = menus[i]->addAction(QString::fromUtf8("只导出有效"));
    item->setObjectName(menus[i]->objectName() + QStringLiteral("ValidOnly"));
    item->setCheckable(true);
    item->setChecked(core_.CheckBoxValidOnly.Checked());
    item->setToolTip(QString::fromUtf8("保存时只写检查没有发现问题的结果"));
    connect(item, &QAction::toggled, this,
            [this](bool checked) { core_.CheckBoxValidOnly.SetChecked(checked); });
    ValidOnlyItems[i] = item;
  }
  // A row's tooltip tells its checks as far as they are done.
  TStringGrid* grids[3] = {StringGrid1, StringGrid2, StringGrid3};
  for (int kind = 0; kind < 3; ++kind) {
    grids[kind]->SetCheckText([this, kind](const std::string& row) {
      const std::optional<verify::TRowCheck> check = core_.RowCheckIfSettled(kind, row);
      if (!check) return QString::fromUtf8("正在查询");
      QString text = QString::fromStdString(check->Flags);
      if (!check->Reason.empty()) {
        text += QStringLiteral(" (") + QString::fromStdString(check->Reason) + QLatin1Char(')');
      }
      return text;
    });
  }
}

void TForm1Window::BuildStatusBar() {
  StatusBar1 = MakeBar(this, "StatusBar1", 19);
  StatusBar1->setFrameStyle(QFrame::NoFrame);
  // Placed by hand, not by a layout: the counts change on every refresh during a search, and
  // a layout would measure all the panels again each time. The last two count the
  // addresses of the run that failed.
  constexpr int kPanels = ui::TStatusBarModel::kPanelCount;
  const int widths[kPanels] = {40, 60, 40, 60, 40, 50, 40, 50, 40, 50, 40, 50};
  const char* captions[kPanels] = {"邮箱：", "", "手机：", "", "QQ号：", "", "失败：", "",
                                   "微信：", "", "电话：", ""};
  int left = 0;
  for (int i = 0; i < kPanels; ++i) {
    auto* panel = new QLabel(QString::fromUtf8(captions[i]), StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(left, 0, widths[i], StatusBar1->height());
    left += widths[i];
    StatusPanels[static_cast<size_t>(i)] = panel;
  }
}

void TForm1Window::BuildInformationBar() {
  Panel1 = MakeBar(this, "Panel1", 25);
  Image2 = new QLabel(Panel1);
  Image2->setObjectName("Image2");
  Image2->setPixmap(RenderPicture(QStringLiteral("banner"), QSize(188, 18)));
  Image2->setGeometry(4, 4, 188, 18);
  Label2 = MakeLabel(Panel1, "Label2", "网址总数:", 208, 6);
  Label2->setStyleSheet(QStringLiteral("color: #0000ff"));
  Label4 = MakeLabel(Panel1, "Label4", "", 268, 6);
  Label3 = MakeLabel(Panel1, "Label3", "搜索进程:", 320, 6);
  Label3->setStyleSheet(QStringLiteral("color: #0000ff"));
  Label5 = MakeLabel(Panel1, "Label5", "", 380, 6);
  Label6 = MakeLabel(Panel1, "Label6", "", 432, 6);
  Label6->setStyleSheet(QStringLiteral("color: #ff0000"));
}

void TForm1Window::BuildTray(TTrayShell& trayShell) {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  auto add = [this](const char* name, const char* caption, void (TForm1Window::*handler)()) {
    QAction* item = PopupMenu1->addAction(QString::fromUtf8(caption));
    item->setObjectName(name);
    connect(item, &QAction::triggered, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
    return item;
  };
  N17 = add("N17", "显示主程序(&S)", &TForm1Window::N17Click);
  N17->setEnabled(false);
  N18 = add("N18", "最小化显示(&M)", &TForm1Window::N18Click);
  N19 = add("N19", "与我们联系(&L)", &TForm1Window::N19Click);
  N20 = add("N20", "访问Brindle主页(&V)", &TForm1Window::N20Click);
  N21 = add("N21", "关于本软件(&A)", &TForm1Window::SpeedButton8Click);
  N22 = PopupMenu1->addSeparator();
  N22->setObjectName("N22");
  N23 = add("N23", "退 出(&Exit)", &TForm1Window::N23Click);

  TrayIcon1 = std::make_unique<TTrayIcon>(trayShell, "TrayIcon1");
  TrayIcon1->SetIcon(ApplicationIcon());
  TrayIcon1->SetVisible(true);
  TrayIcon1->SetHint(kApplicationTitle);
  TrayIcon1->SetPopupMenu(PopupMenu1);
  TrayIcon1->OnClick = [this](TTrayIcon&) { N17Click(); };
  TrayIcon1->Loaded();
}

void TForm1Window::FormCreate() {
  QPalette hints = QToolTip::palette();
  hints.setColor(QPalette::ToolTipBase, QColor(0, 255, 0));
  QToolTip::setPalette(hints);
  StringGrid1->SetDefaultRowHeight(20);
  ApplyMinimumSize();
  FormResize();
  Refresh();
}

void TForm1Window::ApplyMinimumSize() {
  // From the controls as placed, so a control added to a bar moves the limit with it.
  int width = 0;
  for (QWidget* bar : {CoolBar1, Panel2, StatusBar1, Panel1}) {
    for (QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isHidden()) continue;
      int right = child->x() + std::max(child->width(), child->sizeHint().width()) + 2;
      if (child == Edit5) right = kDesignWidth - kEdit5Width + kEdit5MinimumWidth;
      if (child == Label6) right = child->x() + std::max(child->width(), kHintLineReserve);
      width = std::max(width, right);
    }
  }
  const int height = CoolBar1->height() + Panel2->height() + StatusBar1->height() +
                     Panel1->height() + kResultAreaMinimumHeight;
  setMinimumSize(width, height);
}

void TForm1Window::FormResize() {
  const int outer = frameGeometry().width();
  const int width = (outer - 20) / 3;
  for (TStringGrid* grid : {StringGrid4, StringGrid5}) {
    grid->SetColumnWidth((outer - 20) / 2 - 5);
  }
  for (TStringGrid* grid : {StringGrid1, StringGrid2, StringGrid3}) {
    if (grid == StringGrid2) {
      grid->setMinimumWidth(0);
      grid->resize(width, grid->height());  // the layout gives it what is left anyway
    } else {
      grid->setFixedWidth(width);
    }
    grid->SetColumnWidth(width - 5);
  }
}

void TForm1Window::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Edit5->setFixedWidth(
      std::max(20, Panel2->width() - kEdit5Left - (kDesignWidth - kEdit5Left - kEdit5Width)));
  if (StringGrid1 != nullptr) FormResize();
}

void TForm1Window::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (sizedToFrame_) return;
  sizedToFrame_ = true;
  // The design's size is the outer one, frame included, which is known once shown.
  const QSize frame = frameGeometry().size() - size();
  if (!frame.isEmpty()) resize(QSize(kDesignWidth, kDesignHeight) - frame);
  CentreWindow(*this, TPlacement::ScreenCentre);
}

void TForm1Window::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Without a tray the window stays minimised as any window does, in the task bar.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && trayShell_.TrayAvailable()) {
    // Hiding from inside the state change confuses some window managers: do it next.
    QTimer::singleShot(0, this, [this] { RunGuarded([this] { N18Click(); }); });
  }
}

void TForm1Window::closeEvent(QCloseEvent* event) {
  if (closeAgreed_) {
    event->accept();
    return;
  }
  bool mayClose = false;
  RunGuarded([&] { mayClose = core_.FormCloseQuery(); });
  if (!mayClose) {
    event->ignore();
    return;
  }
  closeAgreed_ = true;
  event->accept();
  emit Closed();
}

void TForm1Window::N17Click() {
  core_.N17.SetEnabled(false);
  core_.N18.SetEnabled(true);
  core_.Form3.Window.SetStayOnTop(true);
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  core_.Window.SetVisible(true);
  Refresh();
}

void TForm1Window::N18Click() {
  if (!trayShell_.TrayAvailable()) {
    setWindowState(windowState() | Qt::WindowMinimized);
    return;
  }
  core_.N18.SetEnabled(false);
  core_.N17.SetEnabled(true);
  core_.Form3.Window.SetStayOnTop(false);
  hide();
  core_.Window.SetVisible(false);
  Refresh();
}

void TForm1Window::N19Click() {
  if (opener_) opener_(QUrl(QStringLiteral("mailto:") + QString::fromUtf8(kMakerMail)));
}

void TForm1Window::N20Click() {
  if (opener_) opener_(QUrl(QString::fromUtf8(kMakerHomePage)));
}

void TForm1Window::N23Click() {
  close();
}

void TForm1Window::SpeedButton6Click() {
  if (bbsForm_ != nullptr) bbsForm_->exec();
}

void TForm1Window::SpeedButton8Click() {
  if (form2_ != nullptr) form2_->exec();
}

namespace {
qint64 ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
}  // namespace

void TForm1Window::RequestRefresh() {
  // At most one refresh every kRefreshMs: while the workers change the models without a
  // pause, the GUI thread would otherwise refresh back to back and take a core from them.
  constexpr qint64 kRefreshMs = 40;
  if (core_.Changes.TakeUrgent()) {
    Refresh();
    return;
  }
  if (refreshTimer_->isActive()) return;
  const qint64 since = sinceRefresh_.elapsed();
  if (since >= kRefreshMs)
    Refresh();
  else
    refreshTimer_->start(static_cast<int>(kRefreshMs - since));
}

void TForm1Window::Refresh() {
  refreshTimer_->stop();
  sinceRefresh_.restart();
  const qint64 cpuStart = ThreadCpuNs();
  QElapsedTimer timer;
  timer.start();
  core_.Changes.Acknowledge();

  const auto showSpin = [](QSpinBox* spin, const ui::TSpinEditModel& model) {
    if (spin->hasFocus()) return;
    const QString text = Utf8(model.Text());
    if (spin->text() != text) {
      bool ok = false;
      const int value = text.toInt(&ok);
      spin->setValue(ok ? value : model.MinValue());
    }
  };
  showSpin(SpinEdit1, core_.SpinEdit1);
  showSpin(SpinEditInFlight, core_.SpinEditInFlight);
  showSpin(SpinEditDepth, core_.SpinEditDepth);
  showSpin(SpinEditPageLimit, core_.SpinEditPageLimit);
  showSpin(SpinEditMemoryLimit, core_.SpinEditMemoryLimit);
  showSpin(SpinEditHostLimit, core_.SpinEditHostLimit);
  showSpin(SpinEditTimeout, core_.SpinEditTimeout);
  CheckBox2->setChecked(core_.CheckBox2.Checked());
  CheckBox3->setChecked(core_.CheckBox3.Checked());
  CheckBox4->setChecked(core_.CheckBox4.Checked());
  CheckBoxWeChat->setChecked(core_.CheckBoxWeChat.Checked());
  CheckBoxPhone->setChecked(core_.CheckBoxPhone.Checked());
  CheckBoxRedirects->setChecked(core_.CheckBoxRedirects.Checked());
  CheckBoxExtended->setChecked(core_.CheckBoxExtended.Checked());
  CheckBoxUnique->setChecked(core_.CheckBoxUnique.Checked());
  CheckBoxRobots->setChecked(core_.CheckBoxRobots.Checked());
  CheckBoxVerify->setChecked(core_.CheckBoxVerify.Checked());
  for (QAction* item : ValidOnlyItems) item->setChecked(core_.CheckBoxValidOnly.Checked());
  CheckBoxNewOnly->setChecked(core_.CheckBoxNewOnly.Checked());
  CheckBoxKeepAlive->setChecked(core_.CheckBoxKeepAlive.Checked());
  CheckBoxRender->setChecked(core_.CheckBoxRender.Checked());
  if (!EditUserAgent->hasFocus()) {
    const QString userAgent = Utf8(core_.EditUserAgent.Text());
    if (EditUserAgent->text() != userAgent) EditUserAgent->setText(userAgent);
  }
  const QString path = Utf8(core_.Edit5.Text());
  if (Edit5->text() != path) Edit5->setText(path);

  const ui::TButtonModel* buttons[8] = {
      &core_.SpeedButton1, &core_.SpeedButton2, &core_.SpeedButton3, &core_.SpeedButton4,
      &core_.SpeedButton5, &core_.SpeedButton6, &core_.SpeedButton7, &core_.SpeedButton8};
  for (size_t i = 0; i < 8; ++i) SpeedButtons[i]->setEnabled(buttons[i]->Enabled());

  auto setLabel = [](QLabel* label, const std::string& text) {
    const QString caption = Utf8(text);
    if (label->text() == caption) return;
    label->setText(caption);
    label->adjustSize();
  };
  setLabel(Label4, core_.Label4.Caption());
  setLabel(Label5, core_.Label5.Caption());
  setLabel(Label6, core_.Label6.Caption());

  for (int i = 1; i < ui::TStatusBarModel::kPanelCount; i += 2) {
    const QString text = Utf8(core_.StatusBar1.Panel(i));
    if (StatusPanels[static_cast<size_t>(i)]->text() != text)
      StatusPanels[static_cast<size_t>(i)]->setText(text);
  }
  for (TStringGrid* grid : {StringGrid1, StringGrid2, StringGrid3, StringGrid4, StringGrid5}) {
    grid->Model().Refresh();
  }
  const bool laterKinds = core_.CheckBoxWeChat.Checked() || core_.CheckBoxPhone.Checked() ||
                          core_.StringGrid4.EntryCount() > 0 || core_.StringGrid5.EntryCount() > 0;
  if (laterKindsRow_->isVisible() != laterKinds) {
    laterKindsRow_->setVisible(laterKinds);
    FormResize();
  }

  N17->setEnabled(core_.N17.Enabled());
  N18->setEnabled(core_.N18.Enabled());
  if (form3_ != nullptr) form3_->Refresh();
  if (std::optional<std::string> failure = core_.TakeEndOfRunSaveFailure()) {
    // After this refresh has shown the end of the run; a modal box inside it would hold it.
    QTimer::singleShot(0, this, [text = Utf8(*failure)] { ReportError(text); });
  }

  ++refreshCount_;
  const qint64 elapsed = timer.nsecsElapsed();
  longestRefreshNs_ = std::max(longestRefreshNs_, elapsed);
  totalRefreshNs_ += elapsed;
  const qint64 cpu = ThreadCpuNs() - cpuStart;
  longestRefreshCpuNs_ = std::max(longestRefreshCpuNs_, cpu);
  totalRefreshCpuNs_ += cpu;
}

}  // namespace qm::shell
