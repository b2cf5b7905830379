// Painting a view's picture on the screen: the replay tuned for windows, and a cache of the
// painted images so that a repaint of an unchanged view only copies pixels.
#pragma once

#include "app/Painting.h"

#include <cstddef>

namespace app {

// The replayer for setPictureReplayer(). It keeps the images of the last `cachedImages`
// (view, size) pairs it painted on windows or images (four: the three panels of the combined
// view and one more), and no more than 20 MiB of them however large the screen; a view's
// image is painted afresh when its picture has been re-rendered. Printers and other vector
// devices always get the replay, and so does everything with `cachedImages` 0.
PictureReplayer makeScreenReplayer(std::size_t cachedImages = 4);

} // namespace app
