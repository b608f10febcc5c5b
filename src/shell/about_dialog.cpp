#include "shell/about_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "shell/app_title.h"
#include "shell/pictures.h"
#include "shell/placed_label.h"
#include "shell/window_placement.h"

namespace qm::shell {
namespace {

THyperLinkLabel* MakeLink(QWidget* parent, const char* name, const UrlOpener& opener,
                          const QString& caption, const QString& url, int left, int top) {
  auto* link = new THyperLinkLabel(parent, opener);
  link->setObjectName(name);
  link->move(left, top);
  link->SetCaption(caption);
  link->SetURL(url);
  link->resize(link->FittedSize());
  return link;
}

}  // namespace

TForm2::TForm2(QWidget* parent, UrlOpener opener) : QDialog(parent) {
  setObjectName("TForm2");
  setWindowTitle(QString::fromUtf8("关于本软件"));
  // Without the customize hint the window manager is offered a maximise button as well.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(280, 213);
  QFont dialogFont(QStringLiteral("MS Sans Serif"));
  dialogFont.setPointSize(8);
  setFont(dialogFont);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(rect());

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(RenderPicture(QStringLiteral("program_picture"), QSize(66, 46)));
  ProgramIcon->setAttribute(Qt::WA_TranslucentBackground);
  ProgramIcon->setGeometry(20, 8, 66, 46);

  QFont simSun(QString::fromUtf8("宋体"));
  simSun.setPointSize(9);
  ProductName = MakeLabel(Panel1, "ProductName", QString::fromUtf8("网页信息采集器"), 104, 16);
  QFont bold = simSun;
  bold.setBold(true);
  ProductName->setFont(bold);
  ProductName->setStyleSheet(QStringLiteral("color: #0000ff"));
  ProductName->adjustSize();

  Version = MakeLabel(Panel1, "Version", QStringLiteral("Ver 2.0"), 208, 14);
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(13);
  Version->setFont(arial);
  Version->setStyleSheet(QStringLiteral("color: #0000ff"));
  Version->adjustSize();

  Image1 = new QLabel(Panel1);
  Image1->setObjectName("Image1");
  Image1->setPixmap(RenderPicture(QStringLiteral("banner"), QSize(188, 18)));
  Image1->setGeometry(20, 64, 188, 18);

  const QString home = QString::fromUtf8(kMakerHomePage);
  HyperLink1 = MakeLink(Panel1, "HyperLink1", opener, home, home, 16, 88);
  const QString second = QString::fromUtf8(kMakerSecondPage);
  HyperLink3 = MakeLink(Panel1, "HyperLink3", opener, second, second, 16, 108);
  HyperLink2 = MakeLink(Panel1, "HyperLink2", opener,
                        QStringLiteral("QQ:%1 TEL:%2").arg(kMakerQQ, kMakerPhone),
                        QStringLiteral("mailto:%1").arg(kMakerMail), 16, 128);

  OKButton = new QPushButton(QString::fromUtf8("确 定"), this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(199, 152, 58, 25);
  OKButton->setFont(simSun);
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &TForm2::OKButtonClick);
}

void TForm2::OKButtonClick() {
  accept();
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreWindow(*this, TPlacement::ScreenCentre);
}

}  // namespace qm::shell
