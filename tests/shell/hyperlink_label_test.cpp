#include "shell/hyperlink_label.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include "shell/about_dialog.h"

namespace qm::shell {
namespace {

void Enter(QWidget& w) {
  QEnterEvent event(QPointF(2, 2), QPointF(2, 2), w.mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(&w, &event);
}
void Leave(QWidget& w) {
  QEvent event(QEvent::Leave);
  QApplication::sendEvent(&w, &event);
}

TEST(THyperLinkLabel, ColoursFollowPointerAndClick) {
  std::vector<QUrl> opened;
  THyperLinkLabel link(nullptr, [&](const QUrl& url) { opened.push_back(url); });
  link.SetURL(QStringLiteral("mailto:service@brindle-soft.example"));
  EXPECT_EQ(link.TextColor(), QColor(0, 0, 255));
  EXPECT_TRUE(link.font().bold());
  EXPECT_TRUE(link.font().underline());
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);

  Enter(link);
  EXPECT_EQ(link.TextColor(), QColor(255, 0, 0));
  QTest::mouseClick(&link, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl(QStringLiteral("mailto:service@brindle-soft.example")));
  EXPECT_EQ(link.TextColor(), QColor(255, 0, 0));  // still under the pointer
  Leave(link);
  EXPECT_EQ(link.TextColor(), QColor(255, 0, 255));
  Enter(link);
  Leave(link);
  EXPECT_EQ(link.TextColor(), QColor(255, 0, 255));  // stays fuchsia

  QTest::mouseClick(&link, Qt::RightButton);
  EXPECT_EQ(opened.size(), 1u);
}

TEST(THyperLinkLabel, SizesItselfToItsCaptionAtTheNextPaint) {
  QWidget parent;
  THyperLinkLabel link(&parent, [](const QUrl&) {});
  link.SetCaption(QStringLiteral("short"));
  parent.resize(400, 100);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  link.repaint();
  const QFontMetrics metrics(link.font());
  EXPECT_EQ(link.size(),
            QSize(metrics.horizontalAdvance(QStringLiteral("short")) + 6, metrics.height() + 2));
  const int shortWidth = link.width();
  link.SetCaption(QStringLiteral("a much longer caption than before"));
  EXPECT_EQ(link.width(), shortWidth);  // not before it is painted
  link.repaint();
  EXPECT_GT(link.width(), shortWidth);
  link.SetCaption(QStringLiteral("s"));
  link.repaint();
  EXPECT_LT(link.width(), shortWidth);
}

TEST(THyperLinkLabel, UnchangedValuesAndUrlDoNotRepaint) {
  THyperLinkLabel link(nullptr, [](const QUrl&) {});
  const int before = link.RepaintRequests();
  link.SetURL(QStringLiteral("http://other.example/"));
  link.SetCaption(link.Caption());
  link.SetColor(link.Color());
  link.SetFontName(link.FontName());
  EXPECT_EQ(link.RepaintRequests(), before);
  link.SetCaption(QStringLiteral("new"));
  link.SetColor(QColor(1, 2, 3));
  EXPECT_EQ(link.RepaintRequests(), before + 2);
}

TEST(TForm2, LayoutAndEnterCloses) {
  std::vector<QUrl> opened;
  TForm2 about(nullptr, [&](const QUrl& url) { opened.push_back(url); });
  EXPECT_EQ(about.windowTitle(), QString::fromUtf8("关于本软件"));
  EXPECT_EQ(about.size(), QSize(280, 213));
  EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(about.OKButton->geometry(), QRect(199, 152, 58, 25));
  EXPECT_EQ(about.OKButton->text(), QString::fromUtf8("确 定"));
  EXPECT_EQ(about.HyperLink1->pos(), QPoint(16, 88));
  EXPECT_EQ(about.HyperLink3->pos(), QPoint(16, 108));
  EXPECT_EQ(about.HyperLink2->pos(), QPoint(16, 128));
  EXPECT_TRUE(about.HyperLink2->URL().startsWith(QStringLiteral("mailto:")));
  EXPECT_EQ(about.ProductName->text(), QString::fromUtf8("网页信息采集器"));
  EXPECT_EQ(about.Version->text(), QStringLiteral("Ver 2.0"));

  QTest::mouseClick(about.HyperLink1, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toString(), about.HyperLink1->URL());

  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  about.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/about_dialog.png"));
  about.activateWindow();
  about.OKButton->setFocus();
  QTest::keyClick(&about, Qt::Key_Return);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
  // Hidden, not destroyed: the visited link keeps its colour for the next showing.
  EXPECT_EQ(about.HyperLink1->LinkColor(), QColor(255, 0, 255));
}

}  // namespace
}  // namespace qm::shell
