#include "app/Mouse.h"

#include "app/Commands.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "plot/DistortionView.h"

#include <cmath>

namespace app
{

namespace
{
ScaleLookup g_lookup;

AxisScale scaleOf(int index)
{
    AxisScale s;
    if (!g_lookup || !g_lookup(index, s))
        s = AxisScale{};
    return s;
}

struct Value {
    double v;
    std::string unit;
};

Value linear(int family, bool yAxis, int p)
{
    const core::AxisSet& a = core::displaySettings().axisSets[family];
    const AxisScale s = scaleOf(yAxis ? a.y : a.x);
    return {(static_cast<double>(s.max) - s.min) * p / 10000.0 + s.min, s.unit};
}

Value frequency(int family, int px)
{
    const AxisScale s = scaleOf(core::displaySettings().axisSets[family].x);
    // A scale without a positive range would make the logarithm meaningless; it reads
    // linearly instead.
    if (s.min <= 0.0f || s.max <= 0.0f)
        return {(static_cast<double>(s.max) - s.min) * px / 10000.0 + s.min, s.unit};
    const double lo = std::log10(static_cast<double>(s.min));
    const double hi = std::log10(static_cast<double>(s.max));
    return {std::pow(10.0, lo + px * (hi - lo) / 10000.0), s.unit};
}

std::string two(const char* format, const Value& a, const Value& b)
{
    return core::formatC(format, core::str(4), a.v, a.unit.c_str(), b.v, b.unit.c_str());
}

std::string three(const Value& a, const Value& b, const Value& c)
{
    return core::formatC("%s %.2f%s | %.2f%s | %.2f%s", core::str(4), a.v, a.unit.c_str(), b.v,
                         b.unit.c_str(), c.v, c.unit.c_str());
}

void status(const std::string& text)
{
    core::ui().setStatusText(0, text);
}

void stopDragging()
{
    core::settings().markerDragging = {0, 0};
}

void dragMarker(int px)
{
    auto& s = core::settings();
    bool changed = false;
    if (s.markerDragging[0] && px < s.markerPos[1]) {
        s.markerPos[0] = px < 20 ? 0 : px;
        changed = true;
    } else if (s.markerDragging[1] && px > s.markerPos[0]) {
        s.markerPos[1] = px > 9980 ? 10000 : px;
        changed = true;
    }
    if (!changed)
        return;
    Operations& op = operations();
    op.renderView(1);
    op.repaintMainNow();
    if (shell().zoomOpen)
        op.repaintZoomNow();
}
} // namespace

void setScaleLookup(ScaleLookup lookup)
{
    g_lookup = std::move(lookup);
}

bool toLogical(const DiagramRect& r, int x, int y, int& X, int& Y)
{
    if (r.right == r.left || r.bottom == r.top)
        return false;
    X = ((x - r.left) * 12000) / (r.right - r.left);
    Y = ((y - r.bottom) * (-12000)) / (r.bottom - r.top);
    return true;
}

std::string readOut(int view, int px, int py)
{
    const core::DisplaySettings& d = core::displaySettings();
    switch (view) {
    case 1:
        return core::formatC("%s %.2f%s | %.5f%s", core::str(4), linear(0, false, px).v,
                             linear(0, false, px).unit.c_str(), linear(0, true, py).v,
                             linear(0, true, py).unit.c_str());
    case 2:
    case 7:
    case 8: {
        const Value f = frequency(1, px);
        if (d.showAmplitude && !d.showPhase)
            return two("%s %.2f%s | %.2f%s", f, linear(1, true, py));
        if (d.showPhase && !d.showAmplitude)
            return two("%s %.2f%s | %.2f%s", f, linear(2, true, py));
        return three(f, linear(1, true, py), linear(2, true, py));
    }
    case 3:
        return three(frequency(1, px), linear(1, true, py), linear(3, true, py));
    case 4: {
        const Value f = frequency(3, px);
        if (d.showImpedance && !d.showImpedancePhase)
            return two("%s %.2f%s | %.2f%s", f, linear(3, true, py));
        if (d.showImpedancePhase && !d.showImpedance)
            return two("%s %.2f%s  | %.2f%s", f, linear(4, true, py));
        return three(f, linear(3, true, py), linear(4, true, py));
    }
    case 5:
        return two("%s %.2f%s | %.2f%s", frequency(5, px), linear(5, true, py));
    case 9:
        return plot::distortionReadout(
            core::store().distortion,
            plot::distortionShown(d.showHigherHarmonics, d.showThdInsteadOfHarmonics), px, py);
    default:
        return "";
    }
}

void onMouseMove(const DiagramRect& r, int clientTop, int x, int y)
{
    ShellState& sh = shell();
    Operations& op = operations();
    if (sh.zoomOpen && sh.zoomFollow && sh.currentView == sh.zoomView && r.right != r.left &&
        r.bottom != r.top) {
        op.invalidateZoom();
        sh.zoomCenter[0] = (x * 12000) / (r.right - r.left);
        sh.zoomCenter[1] =
            (y * 12000) / (r.bottom - r.top) - ((r.top - clientTop) * 12000) / (r.bottom - r.top);
    }
    int X = 0;
    int Y = 0;
    if (!toLogical(r, x, y, X, Y))
        return;
    switch (sh.currentView) {
    case 0:
        sh.lastPlotPos = {X, Y};
        status(core::str(1));
        stopDragging();
        break;
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9: {
        if (X < 1500 || X > 11500 || Y < 1000 || Y > 11000) {
            stopDragging();
            status(core::str(1));
            break;
        }
        const int px = X - 1500;
        const int py = Y - 1000;
        sh.lastPlotPos = {px, py};
        status(readOut(sh.currentView, px, py));
        if (sh.currentView == 1)
            dragMarker(px);
        break;
    }
    case 6:
        status(core::str(65));
        break;
    case 11:
        status(core::str(109));
        break;
    default:
        break;
    }
}

void onLeftButtonDown()
{
    ShellState& sh = shell();
    if (sh.zoomOpen) {
        sh.zoomFollow = 0;
        operations().setZoomButton(false);
    }
    auto& s = core::settings();
    if (sh.currentView != 1 || s.markerDragging[0] || s.markerDragging[1])
        return;
    const int px = sh.lastPlotPos[0];
    const int py = sh.lastPlotPos[1];
    if (py > 8750 && py < 10000 && px > s.markerPos[0] - 250 && px < s.markerPos[0] + 250)
        s.markerDragging[0] = 1;
    else if (py > 7500 && py < 8750 && px > s.markerPos[1] - 250 && px < s.markerPos[1] + 250)
        s.markerDragging[1] = 1;
}

void onLeftButtonUp()
{
    stopDragging();
}

CursorShape cursorShape(bool inClientArea)
{
    const ShellState& sh = shell();
    const auto& drag = core::settings().markerDragging;
    if (sh.zoomOpen && inClientArea && sh.zoomFollow && sh.currentView == sh.zoomView &&
        !(drag[0] && drag[1]))
        return CursorShape::ZoomSelect;
    if (sh.currentView == 1 && inClientArea && (drag[0] || drag[1]))
        return CursorShape::MarkerDrag;
    return CursorShape::Default;
}

} // namespace app
