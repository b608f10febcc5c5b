#pragma once
// Where a window appears when it is shown: centred on its screen, or on the whole desktop
// (all screens together). Without this a dialog with a parent would sit over its parent.
class QWidget;

namespace qm::shell {

enum class TPlacement { ScreenCentre, DesktopCentre };

// Moves `window` so that its outer frame is centred on the available area of its screen or
// of the desktop. Call it once the window is shown, when its frame is known.
void CentreWindow(QWidget& window, TPlacement where);

}  // namespace qm::shell
