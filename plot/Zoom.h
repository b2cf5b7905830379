// The arithmetic of the zoom window and of the mouse over the diagrams, as plain functions
// the window code calls.
#pragma once

#include <string>

namespace plot {

struct ZoomState {
    int zoomView = 1;           // DiagramKind 0..9
    int timeWindowMode = 1;     // stretch the time window M1..M2 over the width (view 1 only)
    int fixedFactorX = 4;       // 1, 2 or 4
    int fixedFactorY = 4;
    int zoomCenterX = 6000;     // logical picture units, y measured down from the top
    int zoomCenterY = 6000;
};

struct ZoomGeometry {
    float zoomFactorX = 1.0f;
    float zoomFactorY = 1.0f;
    int originX = 0;            // the viewport origin is (-originX, -originY)
    int originY = 0;
    int targetWidth = 0;        // target rectangle (0, 0, targetWidth, targetHeight)
    int targetHeight = 0;
};

// Factors, origin and target of a zoom-window paint of client size W x H. Markers that do
// not enclose a time window (equal or crossed, from a foreign file) show the whole time axis.
ZoomGeometry zoomGeometry(const ZoomState& state, int width, int height, int marker1, int marker2);

// "ZOOM   <view> (X - Faktor:4.0; Y - Faktor=4.0)"
std::string zoomTitle(int zoomView, float factorX, float factorY);
// The view name of the zoom title (views 0..9); "" for a view without one.
const char* zoomViewName(int zoomView);

// Logical diagram coordinates of a client pixel, diagram rectangle (L, T, R, B).
struct LogicalPoint {
    int x = 0;
    int y = 0;
};
LogicalPoint logicalFromClient(int x, int y, int left, int top, int right, int bottom);
// The zoom centre that follows the mouse; clientTop is the top of the client area.
LogicalPoint zoomCenterFromClient(int x, int y, int left, int top, int right, int bottom, int clientTop);

// Marker dragging in plot units: which marker a press at (px, py) grabs (0 none, 1 M1, 2 M2).
int markerHit(int px, int py, int marker1, int marker2);
// A drag move of marker `which` (1 or 2) to px; returns 1 and updates the marker when it
// moved, 0 when the move would cross the other marker.
int dragMarker(int which, int px, int& marker1, int& marker2);

} // namespace plot
