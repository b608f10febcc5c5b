#include "shell/pictures.h"

#include <QPainter>
#include <QSvgRenderer>

static void InitShellQrc() {
  Q_INIT_RESOURCE(shell);
}

namespace qm::shell {

void InitShellResources() {
  InitShellQrc();
}

QPixmap RenderPicture(const QString& name, QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(QStringLiteral(":/qm/%1.svg").arg(name));
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

QIcon PictureIcon(const QString& name) {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64}) icon.addPixmap(RenderPicture(name, QSize(side, side)));
  return icon;
}

QIcon ApplicationIcon() {
  return PictureIcon(QStringLiteral("app_icon"));
}

}  // namespace qm::shell
