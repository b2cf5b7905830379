// What the mouse does over the diagrams of the main window: the axis read-out in the status
// bar, grabbing and dragging the time-window markers, the zoom centre, the cursor shape.
// Plain C++ on the shell state; the main window passes its events in.
#pragma once

#include <functional>
#include <string>

namespace app {

// The parts of one scale-table entry the read-out needs.
struct AxisScale {
    float min = 0.0f;
    float max = 0.0f;
    std::string unit; // UTF-8
};
// Looks a scale up by its index in the scale table; false for an unknown index.
using ScaleLookup = std::function<bool(int index, AxisScale& out)>;
void setScaleLookup(ScaleLookup lookup);

// The diagram rectangle of the main window in client pixels.
struct DiagramRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Logical diagram coordinates (0..12000, y up) of a client pixel; false for an empty rect.
bool toLogical(const DiagramRect& r, int x, int y, int& X, int& Y);

// The status read-out for plot coordinates px, py (0..10000) in a view; "" when the view
// has none.
std::string readOut(int view, int px, int py);

// Mouse move at client pixel (x, y); clientTop is the client rectangle's top.
void onMouseMove(const DiagramRect& r, int clientTop, int x, int y);
void onLeftButtonDown();
void onLeftButtonUp();

enum class CursorShape { Default, ZoomSelect, MarkerDrag };
CursorShape cursorShape(bool inClientArea);

} // namespace app
