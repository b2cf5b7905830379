// The program's own images, drawn at start: the toolbar strip (19 images of 32 x 16), the
// window icon and the two cursors (135 zoom select, 144 marker drag).
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace app {

inline constexpr int kToolbarImageCount = 19;

QPixmap toolbarImage(int index); // 32 x 16; an empty pixmap for an unknown index
QIcon programIcon();
QCursor zoomSelectCursor(); // 135
QCursor markerDragCursor(); // 144

} // namespace app
