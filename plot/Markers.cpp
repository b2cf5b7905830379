#include "core/Strings.h"
#include "plot/Diagram.h"
#include "plot/Scales.h"
#include "plot/Zoom.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace plot {

namespace {

// Horizontal distance a marker label keeps from the curve and the step of the search.
constexpr int kLabelClearance = 60;
constexpr int kLabelStep = 50;
constexpr int kLabelMaxShift = 3000;

// Whether a line through `curve` (points in increasing x, as samples run) passes through the
// box widened by the clearance; a segment counts with its bounding box.
bool curveInBox(const std::vector<Point>& curve, int left, int right, int bottom, int top)
{
    left -= kLabelClearance;
    right += kLabelClearance;
    bottom -= kLabelClearance;
    top += kLabelClearance;
    auto it = std::lower_bound(curve.begin(), curve.end(), left,
                               [](const Point& p, int x) { return p.x < x; });
    if (it != curve.begin())
        --it; // the segment that enters the box from the left
    for (; it != curve.end() && it->x <= right; ++it) {
        const auto next = std::next(it);
        const Point b = next != curve.end() ? *next : *it;
        if (std::max(it->x, b.x) < left)
            continue;
        if (std::max(it->y, b.y) >= bottom && std::min(it->y, b.y) <= top)
            return true;
    }
    return false;
}

bool curvesInBox(const std::vector<std::vector<Point>>& curves, int left, int right, int bottom,
                 int top)
{
    return std::any_of(curves.begin(), curves.end(), [&](const std::vector<Point>& c) {
        return curveInBox(c, left, right, bottom, top);
    });
}

// How far a label of `width` beside the line must move away from it (to the right for M1,
// to the left for M2) to leave the curve uncovered; 0 when no place within reach is free,
// which keeps the label at the line.
int labelShift(const std::vector<std::vector<Point>>& curves, int x, int width, int bottom, int top,
               bool right)
{
    for (int shift = 0; shift <= kLabelMaxShift; shift += kLabelStep) {
        const int left = right ? x + 20 + shift : x - 20 - shift - width;
        if (!curvesInBox(curves, left, left + width, bottom, top))
            return shift;
    }
    return 0;
}

} // namespace

void drawMarker(Picture& p, std::uint32_t color, int x, const std::string& name, int which,
                const std::vector<std::vector<Point>>& curves)
{
    // Positions from files are not trusted; a marker never leaves the plot's width.
    x = std::clamp(x, 0, 10000);
    p.line(Pen{color, 1, false, false}, {x, -150}, {x, 10500});
    const ScaleRecord& t = axisScale(0, 'x');
    const double ms = x / 10000.0 * (static_cast<double>(t.max) - t.min);
    const std::string label = core::formatC("(%.2fmsec)", ms);
    const unsigned flags = alignBottom | singleLine | noClip;
    const int width = std::max(static_cast<int>(name.size()) * kMarkerNameFont.width,
                               static_cast<int>(label.size()) * kMarkerTimeFont.width);
    if (which == 1) {
        const int dx = labelShift(curves, x, width, 8250, 8750 + kMarkerNameFont.height, true);
        p.text(name, x + 20 + dx, 10000, x + 3000 + dx, 8750, kMarkerNameFont, color,
               flags | alignLeft);
        p.text(label, x + 20 + dx, 9500, x + 3000 + dx, 8250, kMarkerTimeFont, color,
               flags | alignLeft);
    } else {
        const int dx = labelShift(curves, x, width, 7000, 7500 + kMarkerNameFont.height, false);
        p.text(name, x - 3000 - dx, 8750, x - 20 - dx, 7500, kMarkerNameFont, color,
               flags | alignRight);
        p.text(label, x - 3000 - dx, 8250, x - 20 - dx, 7000, kMarkerTimeFont, color,
               flags | alignRight);
    }
}

namespace {
int truncBounded(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -2e9, 2e9));
}
} // namespace

ZoomGeometry zoomGeometry(const ZoomState& st, int width, int height, int marker1, int marker2)
{
    ZoomGeometry g;
    const double w = width, h = height;
    if (st.timeWindowMode && st.zoomView == 1) {
        if (marker2 <= marker1) {
            marker1 = 0;
            marker2 = 10000;
        }
        g.zoomFactorY = 1.0f;
        g.zoomFactorX = 12000.0f / static_cast<float>(marker2 - marker1);
        g.originX = truncBounded(w * (marker1 + 1500) / 12000.0 * g.zoomFactorX);
        g.originY = truncBounded(h * 0.5 * g.zoomFactorY - h * 0.5);
    } else {
        g.zoomFactorX = static_cast<float>(st.fixedFactorX);
        g.zoomFactorY = static_cast<float>(st.fixedFactorY);
        g.originX = truncBounded(st.zoomCenterX / 12000.0 * w * g.zoomFactorX - w / 2);
        g.originY = truncBounded(st.zoomCenterY / 12000.0 * h * g.zoomFactorY - h / 2);
    }
    g.targetWidth = truncBounded(w * g.zoomFactorX);
    g.targetHeight = truncBounded(h * g.zoomFactorY);
    return g;
}

const char* zoomViewName(int zoomView)
{
    static constexpr int kNames[9] = {35, 36, 37, 38, 39, 64, 65, 91, 95};
    if (zoomView == 9)
        return "Klirrfaktor";
    if (zoomView < 0 || zoomView > 8)
        return "";
    return core::str(kNames[zoomView]);
}

std::string zoomTitle(int zoomView, float factorX, float factorY)
{
    return core::formatC("ZOOM   %s (%s%.1f; %s=%.1f)", zoomViewName(zoomView), core::str(33),
                         static_cast<double>(factorX), core::str(34), static_cast<double>(factorY));
}

LogicalPoint logicalFromClient(int x, int y, int left, int top, int right, int bottom)
{
    LogicalPoint p;
    if (right != left)
        p.x = static_cast<int>((static_cast<long long>(x - left) * 12000) / (right - left));
    if (bottom != top)
        p.y = static_cast<int>((static_cast<long long>(y - bottom) * -12000) / (bottom - top));
    return p;
}

LogicalPoint zoomCenterFromClient(int x, int y, int left, int top, int right, int bottom, int clientTop)
{
    LogicalPoint p;
    if (right != left)
        p.x = static_cast<int>((static_cast<long long>(x) * 12000) / (right - left));
    if (bottom != top)
        p.y = static_cast<int>((static_cast<long long>(y) * 12000) / (bottom - top) -
                               (static_cast<long long>(top - clientTop) * 12000) / (bottom - top));
    return p;
}

int markerHit(int px, int py, int marker1, int marker2)
{
    if (py > 8750 && py < 10000 && px > marker1 - 250 && px < marker1 + 250)
        return 1;
    if (py > 7500 && py < 8750 && px > marker2 - 250 && px < marker2 + 250)
        return 2;
    return 0;
}

int dragMarker(int which, int px, int& marker1, int& marker2)
{
    if (which == 1 && px < marker2) {
        marker1 = px < 20 ? 0 : px;
        return 1;
    }
    if (which == 2 && px > marker1) {
        marker2 = px > 9980 ? 10000 : px;
        return 1;
    }
    return 0;
}

} // namespace plot
