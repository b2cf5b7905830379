// The pictures of the views: recording by render code, thread-safe replacement and
// replay of a view (view 11 composes three pictures).
#pragma once

#include "core/Renderer.h"
#include "plot/Picture.h"

#include <memory>

namespace plot
{

// The sides of a picture written to a file, in pixels: large enough to read, small enough
// that one image (4 bytes a pixel, 256 MiB at the most) is drawn in a few seconds.
inline constexpr int kMinPictureSide = 16;
inline constexpr int kMaxPictureSide = 8192;

// Records the picture of a view (All: all ten). The level picture may be recorded from the
// level worker thread.
void renderView(core::RenderCode code);
// The same by the number of a RenderCode (the window's commands carry numbers); any other
// number records nothing.
void renderView(int code);

// The renderer the measurement layer is given where the views are shown: it records the
// pictures above. It holds nothing, so one serves every caller.
class ViewRenderer final : public core::Renderer
{
public:
    void render(core::RenderCode code) override { renderView(code); }
};
ViewRenderer& viewRenderer();

// Marks every picture to be recorded when first asked for by picture(), from the data as
// they are then. The start-up uses it: only the view shown is drawn before the window
// appears. A recording by renderView() meanwhile takes a picture's mark away.
void deferAllViews();

// The current picture of a DiagramKind 0..9. Never null: a view never rendered (and any
// other kind) gives an empty picture. The returned picture stays valid while it is held,
// even when a new one replaces it meanwhile.
std::shared_ptr<const Picture> picture(int kind);

// Forgets every picture (tests).
void resetPictures();

// The start image as a palette bitmap (692 x 434).
std::shared_ptr<const Bitmap> startBitmap();

// Replays view `kind` into the diagram rectangle (left, top, right, bottom) the way the main
// window paints it: views 0..9 fill the rectangle, view 11 puts the time, amplitude and
// impedance pictures into three quarters; any other view draws nothing.
void replayView(Canvas& canvas, int kind, int left, int top, int right, int bottom);

} // namespace plot
