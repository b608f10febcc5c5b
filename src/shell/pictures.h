#pragma once
// The program's pictures, drawn from the SVG files under resources/.
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace qm::shell {

// Registers the pictures of the static shell library; call once after the application
// object exists.
void InitShellResources();

// A picture of resources/ (":/qm/name.svg") drawn at the given size.
QPixmap RenderPicture(const QString& name, QSize size);
QIcon PictureIcon(const QString& name);
QIcon ApplicationIcon();

}  // namespace qm::shell
