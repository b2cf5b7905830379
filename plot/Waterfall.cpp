#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/Response.h"
#include "dsp/Waterfall.h"
#include "plot/Diagram.h"
#include "plot/Scales.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace plot {

namespace {

std::uint32_t color(int index)
{
    return core::displaySettings().colors[static_cast<std::size_t>(index)];
}

int truncBounded(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

// Central projection onto the plane z = P, stretched afterwards so that the eight cube
// corners fill 0..10000 in X and in Y.
struct Projection {
    double ox, oy, oz, plane;
    double xMin = 0, yMin = 0, ax = 1, ay = 1;

    Projection()
    {
        const core::DisplaySettings& d = core::displaySettings();
        ox = d.observer[0];
        oy = d.observer[1];
        oz = d.observer[2];
        plane = d.projectionPlaneZ;
        double xMax = -1e300, yMax = -1e300;
        xMin = 1e300;
        yMin = 1e300;
        for (int c = 0; c < 8; ++c) {
            const double x = (c & 1) ? 10000 : 0, y = (c & 2) ? 10000 : 0, z = (c & 4) ? 10000 : 0;
            const double px = rawX(x, z), py = rawY(y, z);
            xMin = std::min(xMin, px);
            xMax = std::max(xMax, px);
            yMin = std::min(yMin, py);
            yMax = std::max(yMax, py);
        }
        // An observer inside the cube's depth (possible only from a foreign file) would make
        // the stretch meaningless; keep the numbers finite instead of dividing by zero.
        ax = (xMax > xMin && std::isfinite(xMax - xMin)) ? 10000.0 / (xMax - xMin) : 1.0;
        ay = (yMax > yMin && std::isfinite(yMax - yMin)) ? 10000.0 / (yMax - yMin) : 1.0;
        if (!std::isfinite(xMin))
            xMin = 0;
        if (!std::isfinite(yMin))
            yMin = 0;
    }
    double s(double z) const
    {
        const double den = z - oz;
        return den == 0.0 ? 0.0 : (plane - oz) / den;
    }
    double rawX(double x, double z) const { return ox + s(z) * (x - ox); }
    double rawY(double y, double z) const { return oy + s(z) * (y - oy); }
    Point operator()(int x, int y, int z) const
    {
        const double px = static_cast<double>(truncBounded(rawX(x, z)));
        const double py = static_cast<double>(truncBounded(rawY(y, z)));
        return {truncBounded(px * ax) - truncBounded(ax * xMin), truncBounded(py * ay) - truncBounded(ay * yMin)};
    }
};

struct WaterfallScales {
    const ScaleRecord& x;
    const ScaleRecord& y;
    const ScaleRecord& z;
    enum class LevelUnit { plain, dbspl, relative } unit = LevelUnit::plain;
    float highest = 0.0f;
};

float convertLevel(const WaterfallScales& s, float level)
{
    switch (s.unit) {
    case WaterfallScales::LevelUnit::dbspl: return dsp::toDbspl(level);
    case WaterfallScales::LevelUnit::relative: return level - s.highest;
    default: return level;
    }
}

bool inRange(float v, float lo, float hi) { return v >= lo && v <= hi; }

Point mapPoint(const Projection& proj, const WaterfallScales& s, float f, float level, float t)
{
    const double fmin = s.x.min, fmax = s.x.max;
    int x = 0;
    if (fmin > 0.0 && fmax > fmin && f > 0.0f)
        x = truncBounded(10000.0 / (std::log10(fmax) - std::log10(fmin)) * (std::log10(f) - std::log10(fmin)));
    const double ymin = s.y.min, ymax = s.y.max;
    double v = level;
    if (!std::isfinite(v))
        v = ymin;
    v = std::clamp(v, std::min(ymin, ymax), std::max(ymin, ymax));
    const double ySpan = std::fabs(ymax - ymin);
    const int y = ySpan > 0.0 ? truncBounded(std::fabs(v - ymin) / ySpan * 10000.0) : 0;
    const double tSpan = std::fabs(static_cast<double>(s.z.max) - s.z.min);
    const int z = tSpan > 0.0 ? truncBounded(std::fabs(t - static_cast<double>(s.z.min)) / tSpan * 10000.0) : 0;
    return proj(x, y, z);
}

constexpr int kSlices = 64;
constexpr int kSlicePoints = 400;
constexpr float kBandEdges[22] = {0,    100,  200,  300,  400,  500,  600,   700,   800,   900,   1000,
                                  2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000, 30000};

void cubeLabel(Picture& p, const Projection& proj, const std::string& s, int x1, int y1, int z1,
               int x2, int y2, int z2, unsigned align)
{
    if (s.empty())
        return;
    const Point a = proj(x1, y1, z1);
    const Point b = proj(x2, y2, z2);
    p.text(s, a.x, a.y, b.x, b.y, kAxisFont, color(core::textColor),
           align | alignBottom | singleLine | noClip);
}

bool waterfallHasPoints(const core::MeasurementStore& st)
{
    for (int k = 0; k < core::kCsdPoints; ++k) {
        const float f = st.csdFrequency[static_cast<std::size_t>(k)];
        if (f != core::NO_VALUE && std::isfinite(f) && f > 0.0f)
            return true;
    }
    return false;
}

} // namespace

std::string waterfallStartNote(const core::MeasurementStore& st, int marker1Pos, int marker2Pos)
{
    // The stored slices carry times from their own start only, so the start is found again
    // from the time record and the markers, as the computation found it.
    if (st.timeRecord.trailerRate() != 2.0f || !waterfallHasPoints(st))
        return {};
    const dsp::WaterfallSpan span =
        dsp::waterfallSpan(std::span<const float>(st.timeRecord.v.data(), core::kRecordSamples),
                           core::safeTrailerN(st.timeRecord.trailerN()), marker1Pos, marker2Pos);
    if (!span.startsAtArrival)
        return {};
    std::string ms = core::formatC("%.2f", span.start * dsp::kCsdSamplePeriodS * 1000.0);
    std::replace(ms.begin(), ms.end(), '.', ',');
    return "Beginn bei Ankunft des Impulses: " + ms + " ms";
}

Point projectCube(int x, int y, int z) { return Projection()(x, y, z); }

void drawWaterfall(Picture& p)
{
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    const Projection proj;

    p.fillRect(0, 0, 12000, 12000, color(core::backgroundColor));
    p.text(core::str(65), 1700, 11050 + kTitleFont.height, 12000, 11050, kTitleFont,
           color(core::textColor), alignLeft | alignBottom | singleLine | noClip);
    // Where the slices do not start at M1, the view says where they start; top right, level
    // with the title, where nothing of the cube stands.
    const core::MeasurementSettings& ms = core::settings();
    if (const std::string note = waterfallStartNote(st, ms.markerPos[0], ms.markerPos[1]);
        !note.empty())
        p.text(note, 6000, 11050 + kLegendFont.height, 11800, 11050, kLegendFont,
               color(core::textColor), alignRight | alignBottom | singleLine | noClip);
    p.origin(-1500, -1000);

    // Walls: back, left, floor.
    const Pen wallPen{core::rgb(0, 0, 0), 40, false, false};
    const std::uint32_t wallBrush = color(core::plotAreaColor);
    p.polygon(wallPen, wallBrush, {proj(0, 0, 0), proj(0, 10000, 0), proj(10000, 10000, 0), proj(10000, 0, 0)});
    p.polygon(wallPen, wallBrush, {proj(0, 0, 0), proj(0, 10000, 0), proj(0, 10000, 10000), proj(0, 0, 10000)});
    p.polygon(wallPen, wallBrush, {proj(0, 0, 0), proj(0, 0, 10000), proj(10000, 0, 10000), proj(10000, 0, 0)});

    const WaterfallScales scales{axisScale(6, 'x'), axisScale(6, 'y'), axisScale(6, 'z'),
                                 axisScale(6, 'y').unitText == "[dBSPL]" ? WaterfallScales::LevelUnit::dbspl
                                 : axisScale(6, 'y').unitText == "[dB(rel)]" ? WaterfallScales::LevelUnit::relative
                                                                             : WaterfallScales::LevelUnit::plain,
                                 st.csdLevel[core::kCsdPoints]};

    // Grids and labels.
    const Pen gridPen{color(core::textColor), 1, false, false};
    for (int i = 0; i < std::clamp(scales.x.gridCount, 0, kMaxGridLines); ++i) {
        const int pos = scales.x.gridPos[static_cast<std::size_t>(i)];
        p.polyline(gridPen, {proj(pos, 10000, 0), proj(pos, 0, 0), proj(pos, 0, 10000)});
        cubeLabel(p, proj, scales.x.tickLabel[static_cast<std::size_t>(i)], pos - 100, -100, 10300, pos + 100,
                  -600, 10300, alignRight);
    }
    for (int i = 0; i < std::clamp(scales.y.gridCount, 0, kMaxGridLines); ++i) {
        const int pos = scales.y.gridPos[static_cast<std::size_t>(i)];
        p.polyline(gridPen, {proj(10000, pos, 0), proj(0, pos, 0), proj(0, pos, 10000)});
        cubeLabel(p, proj, scales.y.tickLabel[static_cast<std::size_t>(i)], -600, pos + 100, 10300, -200,
                  pos - 100, 10300, alignRight);
    }
    for (int i = 0; i < std::clamp(scales.z.gridCount, 0, kMaxGridLines); ++i) {
        const int pos = scales.z.gridPos[static_cast<std::size_t>(i)];
        p.polyline(gridPen, {proj(0, 10000, pos), proj(0, 0, pos), proj(10000, 0, pos)});
        cubeLabel(p, proj, scales.z.tickLabel[static_cast<std::size_t>(i)], 10200, -200, pos, 10600, -400,
                  pos, alignLeft);
    }

    // Collect the points into the working grid of 64 slices by 400 points.
    std::vector<float> gf(kSlices * kSlicePoints, core::NO_VALUE);
    std::vector<float> gl(kSlices * kSlicePoints, core::NO_VALUE);
    std::vector<float> gt(kSlices * kSlicePoints, core::NO_VALUE);
    int slice = -1;
    int point = 0;
    float previousTime = core::NO_VALUE;
    float level = core::NO_VALUE;
    const float fmin = scales.x.min, fmax = scales.x.max, tmin = scales.z.min, tmax = scales.z.max;
    for (int k = 0; k < core::kCsdPoints; ++k) {
        const float stored = st.csdLevel[static_cast<std::size_t>(k)];
        if (stored != core::NO_VALUE && std::isfinite(stored))
            level = convertLevel(scales, stored);
        const float f = st.csdFrequency[static_cast<std::size_t>(k)];
        const float t = st.csdTime[static_cast<std::size_t>(k)];
        if (!inRange(f, fmin, fmax) || !inRange(t, tmin, tmax))
            continue;
        if (t != previousTime) {
            ++slice;
            point = 0;
            previousTime = t;
        }
        // More slices than the grid holds never come from the waterfall computation; they
        // are left out rather than written past the grid.
        if (slice >= kSlices)
            continue;
        const std::size_t at = static_cast<std::size_t>(slice * kSlicePoints + point);
        gf[at] = f;
        gl[at] = level;
        gt[at] = t;
        point = std::min(point + 1, kSlicePoints - 1);
    }
    auto cell = [](int s, int i) { return static_cast<std::size_t>(s * kSlicePoints + i); };

    // Ribbons, from the farthest slice to the nearest, one polygon per frequency band.
    const Pen ribbonPen{color(core::csdLineColor), d.lineWidth, false, false};
    std::vector<Point> poly;
    for (int s = 1; s < kSlices; ++s) {
        for (int j = 0; j < 21; ++j) {
            const float lo = kBandEdges[j], hi = kBandEdges[j + 1];
            poly.clear();
            for (int i = 0; i < kSlicePoints; ++i) {
                const std::size_t c = cell(s - 1, i);
                if (gf[c] >= lo && gf[c] <= hi)
                    poly.push_back(mapPoint(proj, scales, gf[c], gl[c], gt[c]));
            }
            for (int i = kSlicePoints - 1; i >= 0; --i) {
                const std::size_t c = cell(s, i);
                if (gf[c] >= lo && gf[c] <= hi)
                    poly.push_back(mapPoint(proj, scales, gf[c], gl[c], gt[c]));
            }
            if (!poly.empty())
                p.polygon(ribbonPen, color(core::csdFaceColor), poly);
        }
    }

    // Slice lines and decay lines, dotted, combined with what lies below them.
    const Pen dotPen{color(core::csdLineColor), 1, true, true};
    std::vector<Point> line;
    for (int s = 0; s < kSlices; ++s) {
        line.clear();
        for (int i = 0; i < kSlicePoints; ++i) {
            const std::size_t c = cell(s, i);
            if (gf[c] != core::NO_VALUE)
                line.push_back(mapPoint(proj, scales, gf[c], gl[c], gt[c]));
        }
        p.polyline(dotPen, line);
    }
    for (const float edge : kBandEdges) {
        line.clear();
        float lineLevel = core::NO_VALUE;
        for (int k = 0; k < core::kCsdPoints; ++k) {
            const float stored = st.csdLevel[static_cast<std::size_t>(k)];
            if (stored != core::NO_VALUE && std::isfinite(stored))
                lineLevel = convertLevel(scales, stored);
            const float f = st.csdFrequency[static_cast<std::size_t>(k)];
            const float t = st.csdTime[static_cast<std::size_t>(k)];
            if (f != edge || !inRange(f, fmin, fmax) || !inRange(t, tmin, tmax))
                continue;
            line.push_back(mapPoint(proj, scales, f, lineLevel, t));
        }
        p.polyline(dotPen, line);
    }
}

void drawLevelBars(Picture& p)
{
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    const ScaleRecord& x = axisScale(5, 'x');
    const ScaleRecord& y = axisScale(5, 'y');
    const bool dbspl = y.unitText == "[dBSPL]";
    auto bars = [&](const std::array<float, core::kLevelBands>& values, std::uint32_t brush, int half) {
        for (int b = 0; b < core::kLevelBands; ++b) {
            const auto i = static_cast<std::size_t>(b);
            const float current = st.levelCurrent[i];
            const float f = st.levelBandFrequency[i];
            if (current == core::NO_VALUE || !std::isfinite(current) || !inRange(f, x.min, x.max))
                continue;
            float v = values[i];
            if (!std::isfinite(v))
                continue;
            if (dbspl)
                v = dsp::toDbspl(v);
            const int bx = mapBarFrequency(f, x);
            const int by = std::clamp(mapLinear(v, y), 0, 10000);
            p.fillRect(bx - half, 0, bx + half, by, brush);
        }
    };
    if (d.levelDisplayMode != 1)
        bars(st.levelMeanPeak, color(core::levelMeanColor), 160);
    if (d.levelDisplayMode != 2)
        bars(st.levelCurrent, color(core::levelCurrentColor), 70);
}

} // namespace plot
