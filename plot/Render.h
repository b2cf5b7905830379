// The pictures of the views: recording by render code, thread-safe replacement and
// replay of a view (view 11 composes three pictures).
#pragma once

#include "plot/Picture.h"

#include <memory>

namespace plot {

// Render codes: 0 start, 1..6 views 1..6, 20 overlay (view 7), 40 sum (view 8), 100 all nine.
// Any other code builds nothing. Code 5 may be called from the level worker thread.
void renderView(int code);

// The current picture of a DiagramKind 0..8. Never null: a view never rendered (and any
// other kind) gives an empty picture. The returned picture stays valid while it is held,
// even when a new one replaces it meanwhile.
std::shared_ptr<const Picture> picture(int kind);

// Forgets every picture (tests).
void resetPictures();

// The start image as a palette bitmap (692 x 434).
std::shared_ptr<const Bitmap> startBitmap();

// Replays view `kind` into the diagram rectangle (left, top, right, bottom) the way the main
// window paints it: views 0..8 fill the rectangle, view 11 puts the time, amplitude and
// impedance pictures into three quarters; any other view draws nothing.
void replayView(Canvas& canvas, int kind, int left, int top, int right, int bottom);

} // namespace plot
