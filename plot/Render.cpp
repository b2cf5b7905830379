#include "plot/Render.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "plot/Diagram.h"
#include "plot/DistortionView.h"

#include <array>
#include <vector>
#include <mutex>

namespace plot
{

namespace
{

#include "plot/StartImageData.inc"

constexpr int kPictureCount = 10; // start, views 1..6, overlay, sum, distortion

std::mutex g_pictureMutex;
std::array<std::shared_ptr<const Picture>, kPictureCount> g_pictures;
// Pictures whose recording waits until they are first asked for (deferAllViews).
std::array<bool, kPictureCount> g_deferred{};

core::RenderCode codeOfSlot(int slot)
{
    switch (slot) {
    case 7:
        return core::RenderCode::Overlay;
    case 8:
        return core::RenderCode::Sum;
    default:
        return static_cast<core::RenderCode>(slot);
    }
}

const std::shared_ptr<const Picture>& emptyPicture()
{
    static const std::shared_ptr<const Picture> empty = std::make_shared<const Picture>();
    return empty;
}

void publish(int slot, Picture&& p)
{
    auto fresh = std::make_shared<const Picture>(std::move(p));
    std::shared_ptr<const Picture> old;
    {
        std::lock_guard<std::mutex> lock(g_pictureMutex);
        old = std::move(g_pictures[static_cast<std::size_t>(slot)]);
        g_pictures[static_cast<std::size_t>(slot)] = std::move(fresh);
        g_deferred[static_cast<std::size_t>(slot)] = false;
    }
    // `old` is released here, outside the lock; a replay still holding it keeps it alive.
}

std::uint32_t color(int index)
{
    return core::displaySettings().colors[static_cast<std::size_t>(index)];
}

void renderStart()
{
    Picture p = Picture::pixels(kStartImageWidth, kStartImageHeight);
    p.image(0, 0, startBitmap());
    publish(0, std::move(p));
}

void renderTime()
{
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementSettings& s = core::settings();
    Picture p;
    drawFrame(p, 0);
    p.origin(-1500, -1000);
    // The marker labels keep clear of the curves the view shows.
    std::vector<std::vector<Point>> shown;
    if (d.showTimeSignal)
        shown.push_back(timeCurvePoints(1));
    if (d.showStepResponse)
        shown.push_back(timeCurvePoints(11));
    drawMarker(p, color(core::markerColor), s.markerPos[0], "M1", 1, shown);
    drawMarker(p, color(core::markerColor), s.markerPos[1], "M2", 2, shown);
    if (d.showTimeSignal)
        drawCurve(p, 1);
    if (d.showStepResponse)
        drawCurve(p, 11);
    drawUserText(p, 0);
    publish(1, std::move(p));
}

// A frame, then the curves of two visibility flags, then the view's user text.
void renderCurves(int slot, int family, int showFirst, int firstKind, int showSecond,
                  int secondKind, int textSlot)
{
    Picture p;
    drawFrame(p, family);
    p.origin(-1500, -1000);
    if (showFirst)
        drawCurve(p, firstKind);
    if (showSecond)
        drawCurve(p, secondKind);
    // The overlay names its curves over them, so the names stay readable.
    if (family == 20)
        drawOverlayLegend(p);
    drawUserText(p, textSlot);
    publish(slot, std::move(p));
}

void renderLevel()
{
    Picture p;
    drawFrame(p, 5);
    p.origin(-1500, -1000);
    drawLevelBars(p);
    drawUserText(p, 6);
    publish(5, std::move(p));
}

void renderDistortion()
{
    const core::DisplaySettings& d = core::displaySettings();
    Picture p;
    drawDistortion(p, core::store().distortion,
                   distortionShown(d.showHigherHarmonics, d.showThdInsteadOfHarmonics));
    publish(9, std::move(p));
}

void renderWaterfall()
{
    Picture p;
    drawWaterfall(p);
    drawUserText(p, 7);
    publish(6, std::move(p));
}

} // namespace

std::shared_ptr<const Bitmap> startBitmap()
{
    static const std::shared_ptr<const Bitmap> bitmap = [] {
        auto b = std::make_shared<Bitmap>();
        b->width = kStartImageWidth;
        b->height = kStartImageHeight;
        for (const auto& c : kStartImagePalette)
            b->palette.push_back(core::rgb(c[0], c[1], c[2]));
        b->pixels.reserve(static_cast<std::size_t>(b->width * b->height));
        for (std::size_t i = 0; i + 1 < sizeof kStartImageRuns; i += 2)
            b->pixels.insert(b->pixels.end(), kStartImageRuns[i], kStartImageRuns[i + 1]);
        b->pixels.resize(static_cast<std::size_t>(b->width * b->height), 0);
        return std::shared_ptr<const Bitmap>(std::move(b));
    }();
    return bitmap;
}

void renderView(core::RenderCode code)
{
    using core::RenderCode;
    const core::DisplaySettings& d = core::displaySettings();
    switch (code) {
    case RenderCode::Start:
        renderStart();
        break;
    case RenderCode::Time:
        renderTime();
        break;
    case RenderCode::Amplitude:
        renderCurves(2, 1, d.showAmplitude, 2, d.showPhase, 3, 1);
        break;
    case RenderCode::AmplitudeImpedance:
        renderCurves(3, 2, 1, 10, 0, 0, 5);
        break;
    case RenderCode::Impedance:
        renderCurves(4, 3, d.showImpedance, 4, d.showImpedancePhase, 5, 4);
        break;
    case RenderCode::Level:
        renderLevel();
        break;
    case RenderCode::Waterfall:
        renderWaterfall();
        break;
    case RenderCode::Distortion:
        renderDistortion();
        break;
    case RenderCode::Overlay:
        renderCurves(7, 20, d.showAmplitude, 20, d.showPhase, 30, 2);
        // The overlays now stand under this frequency scale.
        core::store().overlayAxisIndex = d.axisSets[1].x;
        break;
    case RenderCode::Sum:
        renderCurves(8, 40, d.showAmplitude, 40, d.showPhase, 50, 3);
        break;
    case RenderCode::All:
        for (RenderCode c :
             {RenderCode::Start, RenderCode::Time, RenderCode::Amplitude,
              RenderCode::AmplitudeImpedance, RenderCode::Impedance, RenderCode::Level,
              RenderCode::Waterfall, RenderCode::Overlay, RenderCode::Sum,
              RenderCode::Distortion})
            renderView(c);
        break;
    }
}

ViewRenderer& viewRenderer()
{
    static ViewRenderer renderer;
    return renderer;
}

void renderView(int code)
{
    using core::RenderCode;
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 9:
    case 20:
    case 40:
    case 100:
        renderView(static_cast<RenderCode>(code));
        break;
    default:
        break;
    }
}

void deferAllViews()
{
    // The overlays stand under the frequency scale in force from now on, as when their
    // picture is recorded: the next measurement decides by it whether they are kept.
    core::store().overlayAxisIndex = core::displaySettings().axisSets[1].x;
    std::lock_guard<std::mutex> lock(g_pictureMutex);
    g_deferred.fill(true);
}

std::shared_ptr<const Picture> picture(int kind)
{
    if (kind < 0 || kind >= kPictureCount)
        return emptyPicture();
    bool deferred = false;
    {
        std::lock_guard<std::mutex> lock(g_pictureMutex);
        deferred = g_deferred[static_cast<std::size_t>(kind)];
    }
    // Recorded outside the lock: the recording publishes under it.
    if (deferred)
        renderView(codeOfSlot(kind));
    std::lock_guard<std::mutex> lock(g_pictureMutex);
    const auto& p = g_pictures[static_cast<std::size_t>(kind)];
    return p ? p : emptyPicture();
}

void resetPictures()
{
    std::lock_guard<std::mutex> lock(g_pictureMutex);
    for (auto& p : g_pictures)
        p.reset();
    g_deferred.fill(false);
}

void replayView(Canvas& canvas, int kind, int left, int top, int right, int bottom)
{
    if (kind >= 0 && kind <= 9) {
        replay(*picture(kind), canvas, {double(left), double(top), double(right), double(bottom)});
        return;
    }
    if (kind != 11)
        return;
    // Three panels of 48 % of the rectangle's corner coordinates, shifted by 1 % and 51 %.
    const int w = right * 48 / 100 - left;
    const int h = bottom * 48 / 100 - top;
    const int dx1 = (right - left) / 100, dy1 = (bottom - top) / 100;
    const int dx2 = (right - left) * 51 / 100, dy2 = (bottom - top) * 51 / 100;
    auto panel = [&](int view, int dx, int dy) {
        const double l = left + dx, t = top + dy;
        replay(*picture(view), canvas, {l, t, l + w, t + h});
    };
    panel(1, dx1, dy1);
    panel(2, dx2, dy1);
    panel(4, dx1, dy2);
}

} // namespace plot
