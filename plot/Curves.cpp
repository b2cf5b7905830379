#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/Response.h"
#include "plot/Diagram.h"
#include "plot/Scales.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace plot {

namespace {

std::uint32_t color(int index)
{
    return core::displaySettings().colors[static_cast<std::size_t>(index)];
}

// A value the curves can draw: not the store's marker for a missing value, and a real number
// (files may carry NaN or infinities).
bool hasValue(float v) { return v != core::NO_VALUE && std::isfinite(v); }

// The stored FFT length of a buffer, bounded to what the buffers hold; a foreign trailer
// may give any number, and 0 means "nothing to draw".
int boundedLength(float n)
{
    if (!std::isfinite(n) || n < 0.0f)
        return 0;
    return n > 4096.0f ? 4096 : static_cast<int>(n);
}

// Collects the points of one curve by the polyline rule: skipped points do not break the
// line, everything is clamped to the plot, and a point on the left edge is not drawn.
class PolylineBuilder {
public:
    void add(int x, int y)
    {
        x = std::clamp(x, 0, 10000);
        y = std::clamp(y, 0, 10000);
        if (x == 0)
            return;
        points_.push_back({x, y});
    }
    void draw(Picture& p, std::uint32_t c)
    {
        p.polyline(Pen{c, core::displaySettings().lineWidth, false, false}, std::move(points_));
        points_.clear();
    }
    std::vector<Point> take() { return std::move(points_); }

private:
    std::vector<Point> points_;
};

bool usesDbspl(const ScaleRecord& y) { return y.unitText == "[dBSPL]"; }

int curveEnd(int n) { return (n * 1603) / 4096; }

double binFrequency(int i, const ScaleRecord& x, int c)
{
    return static_cast<long double>(i - 1) * static_cast<long double>(x.max) / c;
}

void drawFrequencyCurve(Picture& p, const core::CurveBuffer& curve, const ScaleRecord& x,
                        const ScaleRecord& y, std::uint32_t c, bool amplitude)
{
    const int n = boundedLength(curve.trailerN());
    const int end = curveEnd(n);
    if (end <= 0)
        return;
    const bool dbspl = amplitude && usesDbspl(y);
    PolylineBuilder line;
    for (int i = 2; i <= end; ++i) {
        float v = curve[static_cast<std::size_t>(i - 1)];
        if (!hasValue(v))
            continue;
        if (dbspl)
            v = dsp::toDbspl(v);
        line.add(mapLogFrequency(binFrequency(i, x, end), x), mapLinear(v, y));
    }
    line.draw(p, c);
}

// The time curves scale the value before dividing by the span, unlike the value-axis mapping
// (span divided first); the two orders differ by one unit at some values, the top of the
// axis among them.
int timeValueY(float v, const ScaleRecord& y)
{
    const double span = static_cast<double>(y.max) - static_cast<double>(y.min);
    if (!(span != 0.0))
        return 0;
    const double r = 10000.0 * (static_cast<double>(v) - static_cast<double>(y.min)) / span;
    return static_cast<int>(std::clamp(r, -1e9, 1e9));
}

std::vector<Point> timeCurvePointsOf(const core::TimeRecord& values)
{
    const core::TimeRecord& rec = core::store().timeRecord;
    const int n = boundedLength(rec.trailerN());
    const ScaleRecord& y = axisScale(0, 'y');
    PolylineBuilder line;
    for (int i = 1; i < n; ++i) {
        // The time record decides which samples exist, for the step response too.
        if (!hasValue(rec[static_cast<std::size_t>(i)]))
            continue;
        const float v = values[static_cast<std::size_t>(i)];
        if (!std::isfinite(v))
            continue;
        line.add(mapTimeSample(i, n), timeValueY(v, y));
    }
    return line.take();
}

void drawTimeCurve(Picture& p, const core::TimeRecord& values, std::uint32_t c)
{
    p.polyline(Pen{c, core::displaySettings().lineWidth, false, false}, timeCurvePointsOf(values));
}

void drawOverlaid(Picture& p, bool amplitude)
{
    const core::MeasurementStore& st = core::store();
    const auto& slots = amplitude ? st.amplitudeSlots : st.phaseSlots;
    const int family = amplitude ? 1 : 2;
    const ScaleRecord& x = axisScale(family, 'x');
    const ScaleRecord& y = amplitude ? axisScale(1, 'y') : scaleRecord(19);
    const int base = amplitude ? core::amplitudeColor0 : core::phaseColor0;
    if (st.slotOccupied[0] == 1)
        drawFrequencyCurve(p, slots[0], x, y, color(base + core::overlayColorSlot(0)), amplitude);
    for (int s = 1; s <= 4; ++s) {
        if (st.slotOccupied[static_cast<std::size_t>(s)] != 1)
            break;
        drawFrequencyCurve(p, slots[static_cast<std::size_t>(s)], x, y,
                           color(base + core::overlayColorSlot(s)), amplitude);
    }
}

void drawSum(Picture& p, bool amplitude)
{
    const core::MeasurementStore& st = core::store();
    if (st.slotOccupied[0] != 1)
        return;
    if (!amplitude && core::settings().sumMode != 0)
        return;
    const auto& slots = amplitude ? st.amplitudeSlots : st.phaseSlots;
    const int end = curveEnd(boundedLength(slots[0].trailerN()));
    const ScaleRecord& x = axisScale(amplitude ? 1 : 2, 'x');
    const ScaleRecord& y = amplitude ? axisScale(1, 'y') : scaleRecord(19);
    const bool dbspl = amplitude && usesDbspl(y);
    PolylineBuilder line;
    for (int i = 2; i <= end; ++i) {
        const auto bin = static_cast<std::size_t>(i - 1);
        bool any = false;
        for (std::size_t s = 0; s < 5 && !any; ++s)
            any = st.slotOccupied[s] == 1 && hasValue(slots[s][bin]);
        if (!any)
            continue;
        const dsp::OverlaySum sum = dsp::overlaySum(i - 1);
        float v = amplitude ? sum.amplitudeDb : sum.phaseDeg;
        if (!std::isfinite(v))
            continue;
        if (dbspl)
            v = dsp::toDbspl(v);
        line.add(mapLogFrequency(binFrequency(i, x, end), x), mapLinear(v, y));
    }
    line.draw(p, color(amplitude ? core::amplitudeColor0 : core::phaseColor0));
}

} // namespace

std::vector<Point> timeCurvePoints(int curveKind)
{
    const core::MeasurementStore& st = core::store();
    if (curveKind == 1)
        return timeCurvePointsOf(st.timeRecord);
    if (curveKind == 11)
        return timeCurvePointsOf(st.stepResponseCurve);
    return {};
}

void drawCurve(Picture& p, int curveKind)
{
    const core::MeasurementStore& st = core::store();
    switch (curveKind) {
    case 1:
        drawTimeCurve(p, st.timeRecord, color(core::timeSignalColor));
        break;
    case 11:
        drawTimeCurve(p, st.stepResponseCurve, color(core::stepResponseColor));
        break;
    case 2:
        drawFrequencyCurve(p, st.amplitudeSlots[0], axisScale(1, 'x'), axisScale(1, 'y'),
                           color(core::amplitudeColor0), true);
        break;
    case 3:
        drawFrequencyCurve(p, st.phaseSlots[0], axisScale(2, 'x'), scaleRecord(19),
                           color(core::phaseColor0), false);
        break;
    case 4:
        drawFrequencyCurve(p, st.impedanceMagnitude, axisScale(3, 'x'), axisScale(3, 'y'),
                           color(core::impedanceColor), false);
        break;
    case 5:
        drawFrequencyCurve(p, st.impedancePhase, axisScale(4, 'x'), scaleRecord(19),
                           color(core::impedancePhaseColor), false);
        break;
    case 10:
        if (axisScaleIndex(2, 'x') == axisScaleIndex(4, 'x')) {
            drawCurve(p, 2);
            drawCurve(p, 4);
        } else {
            p.text(core::str(67), 2000, 8000, 8000, 4000, kMessageFont,
                   color(core::amplitudeColor0), alignLeft | alignBottom | wordBreak | noClip);
        }
        break;
    case 20:
        drawOverlaid(p, true);
        break;
    case 30:
        drawOverlaid(p, false);
        break;
    case 40:
        drawSum(p, true);
        break;
    case 50:
        drawSum(p, false);
        break;
    default:
        break;
    }
}

namespace {
// A name as the legend shows it: at most `limit` characters (UTF-8 counted by characters),
// cut with "…", and a '&' kept as itself (the text operation treats '&' as a prefix).
std::string legendName(const std::string& name, std::size_t limit, int& chars)
{
    std::string out;
    std::size_t count = 0;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t len = 1;
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0xF0) len = 4;
        else if (c >= 0xE0) len = 3;
        else if (c >= 0xC0) len = 2;
        if (count + 1 == limit && i + len < name.size()) {
            out += "\u2026";
            ++count;
            break;
        }
        const std::string ch = name.substr(i, len);
        out += ch == "&" ? "&&" : ch;
        ++count;
        i += len;
    }
    chars = static_cast<int>(count);
    return out;
}
} // namespace

void drawOverlayLegend(Picture& p)
{
    const core::MeasurementStore& st = core::store();
    const core::DisplaySettings& d = core::displaySettings();
    if (!d.showAmplitude && !d.showPhase)
        return;
    // The curves the view draws: slot 0 and the occupied slots after it, newest first.
    struct Entry {
        std::string text;
        int colorSlot;
    };
    std::vector<Entry> entries;
    int widest = 0;
    for (int s = 0; s <= 4; ++s) {
        if (st.slotOccupied[static_cast<std::size_t>(s)] != 1) {
            if (s == 0)
                continue;
            break;
        }
        const std::string& name = st.overlayTags[static_cast<std::size_t>(s)].name;
        int chars = 0;
        std::string text =
            legendName(name.empty() ? "Kurve " + std::to_string(s + 1) : name, 24, chars);
        widest = std::max(widest, chars);
        entries.push_back({std::move(text), core::overlayColorSlot(s)});
    }
    if (entries.empty())
        return;
    const Font& f = kAxisFont;
    const int row = f.height + 40;
    const int keyWidth = (d.showAmplitude && d.showPhase) ? 700 : 350;
    const int right = 9900;
    const int top = 9900;
    const int left = right - 100 - widest * f.width - 150 - keyWidth - 100;
    const int bottom = top - 80 - row * static_cast<int>(entries.size());
    p.fillRect(left, bottom, right, top, color(core::plotAreaColor));
    const Pen frame{color(core::textColor), 2, false, false};
    p.line(frame, {left, bottom}, {right, bottom});
    p.line(frame, {right, bottom}, {right, top});
    p.line(frame, {right, top}, {left, top});
    p.line(frame, {left, top}, {left, bottom});
    int y = top - 40;
    for (const Entry& e : entries) {
        const int mid = y - row / 2;
        int x = left + 100;
        if (d.showAmplitude) {
            p.line(Pen{color(core::amplitudeColor0 + e.colorSlot), 30, false, false}, {x, mid},
                   {x + 300, mid});
            x += 350;
        }
        if (d.showPhase)
            p.line(Pen{color(core::phaseColor0 + e.colorSlot), 30, false, false}, {x, mid},
                   {x + 300, mid});
        p.text(e.text, left + 100 + keyWidth + 150, y, right - 50, y - row, f,
               color(core::textColor), alignLeft | alignBottom | singleLine | noClip);
        y -= row;
    }
}

} // namespace plot
