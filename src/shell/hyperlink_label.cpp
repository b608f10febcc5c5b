#include "shell/hyperlink_label.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>

namespace qm::shell {

UrlOpener DesktopUrlOpener() {
  return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

THyperLinkLabel::THyperLinkLabel(QWidget* parent, UrlOpener opener)
    : QWidget(parent), opener_(std::move(opener)) {
  url_ = kDefaultUrl;
  caption_ = kDefaultUrl;
  resize(100, 10);
  QFont f = font();
  f.setBold(true);
  f.setUnderline(true);
  setFont(f);
  linkColor_ = kLinkBlue;
  textColor_ = kLinkBlue;
  SetColor(palette().color(QPalette::Button));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover, true);
  Invalidate();
}

void THyperLinkLabel::SetFontName(const QString& name) {
  if (name == font().family()) return;
  QFont f = font();
  f.setFamily(name);
  setFont(f);
  Invalidate();
}

void THyperLinkLabel::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  Invalidate();
}

void THyperLinkLabel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Invalidate();
}

void THyperLinkLabel::SetURL(const QString& url) {
  url_ = url;
}

void THyperLinkLabel::Invalidate() {
  ++repaintRequests_;
  update();
}

QSize THyperLinkLabel::FittedSize() const {
  const QFontMetrics metrics(font());
  return QSize(metrics.horizontalAdvance(caption_) + 6, metrics.height() + 2);
}

void THyperLinkLabel::paintEvent(QPaintEvent* event) {
  // The control always fits its caption, whatever size it was given.
  const QSize fitted = FittedSize();
  if (size() != fitted) resize(fitted);
  QPainter painter(this);
  painter.fillRect(event->rect(), color_);
  painter.setFont(font());
  painter.setPen(textColor_);
  painter.drawText(QPoint(3, 1 + QFontMetrics(font()).ascent()), caption_);
}

void THyperLinkLabel::enterEvent(QEnterEvent* event) {
  textColor_ = kHoverRed;
  Invalidate();
  QWidget::enterEvent(event);
}

void THyperLinkLabel::leaveEvent(QEvent* event) {
  textColor_ = linkColor_;
  Invalidate();
  QWidget::leaveEvent(event);
}

void THyperLinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (opener_) opener_(QUrl(url_));
    linkColor_ = kVisitedFuchsia;
  }
  QWidget::mousePressEvent(event);
}

}  // namespace qm::shell
