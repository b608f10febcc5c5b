#pragma once
// THyperLinkLabel: a caption drawn as an underlined link that turns red under the pointer,
// opens its address when pressed and stays fuchsia once it has been used.
#include <QColor>
#include <QUrl>
#include <QWidget>
#include <functional>

namespace qm::shell {

// Opens a web or mail address; the default hands it to the desktop.
using UrlOpener = std::function<void(const QUrl&)>;
UrlOpener DesktopUrlOpener();

class THyperLinkLabel : public QWidget {
  Q_OBJECT
 public:
  static inline const QColor kLinkBlue{0, 0, 255};
  static inline const QColor kVisitedFuchsia{255, 0, 255};
  static inline const QColor kHoverRed{255, 0, 0};
  static inline const QString kDefaultUrl = QStringLiteral("http://www.brindle-soft.example/");

  explicit THyperLinkLabel(QWidget* parent = nullptr, UrlOpener opener = DesktopUrlOpener());

  QString FontName() const { return font().family(); }
  void SetFontName(const QString& name);
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  QString URL() const { return url_; }
  void SetURL(const QString& url);

  // The colour the text has while the pointer is away, and the colour it is drawn in now.
  QColor LinkColor() const { return linkColor_; }
  QColor TextColor() const { return textColor_; }
  // How often a repaint was asked for; tests see that an unchanged value repaints nothing.
  int RepaintRequests() const { return repaintRequests_; }
  // The size the control takes at its next paint.
  QSize FittedSize() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void Invalidate();

  UrlOpener opener_;
  QString caption_;
  QString url_;
  QColor color_;
  QColor linkColor_;
  QColor textColor_;
  int repaintRequests_ = 0;
};

}  // namespace qm::shell
