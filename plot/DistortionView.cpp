#include "plot/DistortionView.h"

#include "core/Display.h"
#include "plot/Diagram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace plot
{

namespace
{

// The left axis: harmonics from -100 dB to 0 dB re the fundamental; THD 0.01 % .. 100 %.
constexpr double kRelativeBottomDb = -100.0;
constexpr double kRelativeTopDb = 0.0;
constexpr double kThdBottomPercent = 0.01;
constexpr double kThdTopPercent = 100.0;
constexpr double kAxisStepDb = 10.0;

// The log frequency scales the amplitude view chooses from, narrowest first.
constexpr int kFrequencyScales[] = {77, 10, 78, 11, 9, 8};
constexpr int kDefaultFrequencyScale = 8; // 20 Hz .. 20 kHz

// Plot area in absolute picture units, as every frame has it.
constexpr int kPlotLeft = 1500, kPlotRight = 11500, kPlotBottom = 1000, kPlotTop = 11000;

std::uint32_t color(int index)
{
    return core::displaySettings().colors[static_cast<std::size_t>(index)];
}

// A colour half way to the plot area's, for the noise floors.
std::uint32_t paled(std::uint32_t c)
{
    const std::uint32_t area = color(core::plotAreaColor);
    auto mix = [](int a, int b) { return (a + b) / 2; };
    return core::rgb(mix(core::colorRed(c), core::colorRed(area)),
                     mix(core::colorGreen(c), core::colorGreen(area)),
                     mix(core::colorBlue(c), core::colorBlue(area)));
}

bool finite(float v)
{
    return std::isfinite(v);
}

// A number as the axes write it: German decimal comma, no trailing zeros.
std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    std::string s = buf;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::string frequencyText(double hz)
{
    if (hz >= 1000.0)
        return number(std::round(hz / 100.0) / 10.0) + " kHz";
    return number(std::round(hz)) + " Hz";
}

// A linear dB axis of 10 dB steps from `bottom` to `top`, its top line named by the unit as
// the table's scales do.
ScaleRecord dbScale(double bottom, double top, const char* unit, const char* topLabel)
{
    ScaleRecord s;
    s.exists = true;
    s.min = static_cast<float>(bottom);
    s.max = static_cast<float>(top);
    s.unitText = unit;
    const int lines = static_cast<int>(std::lround((top - bottom) / kAxisStepDb)) + 1;
    s.gridCount = std::min(lines, kMaxGridLines);
    for (int i = 0; i < s.gridCount; ++i) {
        const double v = bottom + i * kAxisStepDb;
        const auto k = static_cast<std::size_t>(i);
        s.gridPos[k] = roundedGridPos(v, bottom, top, kPlotBottom);
        s.tickLabel[k] = i + 1 == s.gridCount ? topLabel : (v > 0 ? "+" : "") + number(v);
    }
    return s;
}

ScaleRecord thdScale()
{
    ScaleRecord s;
    s.exists = true;
    s.logarithmic = true;
    s.min = static_cast<float>(kThdBottomPercent);
    s.max = static_cast<float>(kThdTopPercent);
    s.unitText = "[%]";
    int i = 0;
    for (double v = kThdBottomPercent; v <= kThdTopPercent * 1.0001; v *= 10.0, ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.gridPos[k] = kPlotBottom + mapRelative(v, s);
        s.tickLabel[k] = v >= kThdTopPercent * 0.999 ? "%" : number(v);
    }
    s.gridCount = i;
    return s;
}

enum class GridLines { None, Solid, Dotted };

// Grid lines across the plot with labels between left and right, right- or left-aligned.
void drawAxis(Picture& p, const ScaleRecord& s, int left, int right, unsigned align,
              std::uint32_t labelColor, GridLines lines)
{
    const Pen pen{color(core::textColor), 2, lines == GridLines::Dotted, false};
    for (int i = 0; i < std::clamp(s.gridCount, 0, kMaxGridLines); ++i) {
        const auto k = static_cast<std::size_t>(i);
        const int pos = s.gridPos[k];
        if (lines != GridLines::None)
            p.line(pen, {kPlotLeft, pos}, {kPlotRight, pos});
        if (!s.tickLabel[k].empty())
            p.text(s.tickLabel[k], left, pos - 100 + kAxisFont.height, right, pos - 100, kAxisFont,
                   labelColor, align | alignBottom | singleLine | noClip);
    }
}

void drawFrequencyAxis(Picture& p, const ScaleRecord& s)
{
    const Pen pen{color(core::textColor), 2, false, false};
    for (int i = 0; i < std::clamp(s.gridCount, 0, kMaxGridLines); ++i) {
        const auto k = static_cast<std::size_t>(i);
        const int pos = s.gridPos[k];
        p.line(pen, {pos, kPlotBottom}, {pos, kPlotTop});
        if (!s.tickLabel[k].empty())
            p.text(s.tickLabel[k], pos - 350, 950, pos + 350, 950 - kAxisFont.height, kAxisFont,
                   color(core::textColor), alignCenter | alignTop | singleLine | noClip);
    }
    p.text(s.unitText, 4000, 200 + kAxisFont.height, 11900, 200, kAxisFont,
           color(core::textColor), alignRight | alignBottom | singleLine | noClip);
}

// One curve in plot coordinates: points outside the frequency axis are left out rather than
// piled up on its edge, and values beyond the value axis stand on its edge.
void drawCurve(Picture& p, const std::vector<float>& hz, const std::vector<float>& values,
               const ScaleRecord& x, const auto& mapY, const Pen& pen)
{
    std::vector<Point> points;
    const std::size_t n = std::min(hz.size(), values.size());
    points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!finite(hz[i]) || !finite(values[i]) || hz[i] < x.min || hz[i] > x.max)
            continue;
        points.push_back({std::clamp(mapLogFrequency(hz[i], x), 0, 10000),
                          std::clamp(mapY(values[i]), 0, 10000)});
    }
    if (!points.empty())
        p.polyline(pen, std::move(points));
}

struct LegendEntry {
    std::string name;
    std::uint32_t color;
    bool dotted;
};

// The legend in the title row, as the other views have theirs there: a short line of each
// curve's colour and its name; the last entry explains the dotted noise floors.
void drawLegend(Picture& p, const std::vector<LegendEntry>& entries)
{
    // From just after the title; with all five harmonics and the noise the row ends some
    // 700 units short of the plot's right edge.
    int x = 4000;
    const int y = 11200;
    for (const LegendEntry& e : entries) {
        const int mid = y + kLegendFont.height / 2 - 60;
        p.line(Pen{e.color, 30, e.dotted, false}, {x, mid}, {x + 300, mid});
        x += 360;
        p.text(e.name, x, y + kLegendFont.height, x + 3000, y, kLegendFont,
               e.dotted ? color(core::textColor) : e.color,
               alignLeft | alignBottom | singleLine | noClip);
        x += static_cast<int>(e.name.size()) * kLegendFont.width + 150;
    }
}

} // namespace

DistortionShown distortionShown(bool higherHarmonics, bool thdInstead)
{
    if (thdInstead)
        return DistortionShown::Thd;
    return higherHarmonics ? DistortionShown::AllHarmonics : DistortionShown::LowHarmonics;
}

std::uint32_t harmonicColor(int k)
{
    switch (k) {
    case 2:
        return core::rgb(220, 0, 0);
    case 3:
        return core::rgb(0, 150, 0);
    case 4:
        return core::rgb(230, 120, 0);
    case 5:
        return core::rgb(150, 0, 200);
    default:
        return core::rgb(0, 0, 0);
    }
}

int mapRelative(double value, const ScaleRecord& relative)
{
    if (!relative.logarithmic)
        return mapLinear(value, relative);
    if (!(value > 0.0) || !std::isfinite(value) || !(relative.min > 0.0f) ||
        !(relative.max > relative.min))
        return 0;
    const double r = 10000.0 * std::log(value / relative.min) /
                     std::log(static_cast<double>(relative.max) / relative.min);
    return static_cast<int>(std::clamp(r, -1e9, 1e9));
}

DistortionAxes distortionAxes(const core::DistortionRecord& r, DistortionShown shown)
{
    DistortionAxes a;
    a.frequency = scaleRecord(kDefaultFrequencyScale);
    if (!r.empty()) {
        const double lo = r.hz.front(), hi = r.hz.back();
        for (int index : kFrequencyScales) {
            const ScaleRecord& s = scaleRecord(index);
            if (s.exists && s.min <= lo && hi <= s.max) {
                a.frequency = s;
                break;
            }
        }
    }
    a.relative = shown == DistortionShown::Thd
                     ? thdScale()
                     : dbScale(kRelativeBottomDb, kRelativeTopDb, "[dB]", "dB");
    double peak = -std::numeric_limits<double>::infinity();
    for (float v : r.fundamentalDb)
        if (finite(v))
            peak = std::max(peak, static_cast<double>(v));
    const double top = std::isfinite(peak) ? std::ceil(peak / kAxisStepDb) * kAxisStepDb : 0.0;
    a.fundamental = dbScale(top - (kRelativeTopDb - kRelativeBottomDb), top, "[dB]", "dB");
    return a;
}

std::vector<float> thdNoisePercent(const core::DistortionRecord& r)
{
    std::vector<float> out;
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        double power = 0.0;
        bool any = false;
        for (int k = 0; k < core::kDistortionHarmonics; ++k) {
            const auto& noise = r.noiseDb[static_cast<std::size_t>(k)];
            const auto& harmonic = r.harmonicDb[static_cast<std::size_t>(k)];
            // Only the harmonics the THD itself counts there: those still within the band.
            if (i < noise.size() && i < harmonic.size() && finite(noise[i])) {
                power += std::pow(10.0, noise[i] / 10.0);
                any = true;
            }
        }
        if (!any)
            break;
        out.push_back(static_cast<float>(100.0 * std::sqrt(power)));
    }
    return out;
}

std::string distortionReadout(const core::DistortionRecord& r, DistortionShown shown, int px,
                              int py)
{
    const DistortionAxes a = distortionAxes(r, shown);
    const double x = std::clamp(px, 0, 10000) / 10000.0;
    const double y = std::clamp(py, 0, 10000) / 10000.0;
    const double hz = a.frequency.min * std::pow(static_cast<double>(a.frequency.max) /
                                                     a.frequency.min, x);
    const double left =
        a.relative.logarithmic
            ? a.relative.min * std::pow(static_cast<double>(a.relative.max) / a.relative.min, y)
            : a.relative.min + (static_cast<double>(a.relative.max) - a.relative.min) * y;
    const double right =
        a.fundamental.min + (static_cast<double>(a.fundamental.max) - a.fundamental.min) * y;
    char buf[128];
    std::snprintf(buf, sizeof buf, "Wert (X|Y): %.2f[Hz] | %.*f%s | %.2f[dB]", hz,
                  a.relative.logarithmic ? 3 : 2, left, a.relative.unitText.c_str(), right);
    return buf;
}

std::string sweepDescription(const core::DistortionRecord& r)
{
    return "Sweep " + frequencyText(r.sweepStartHz) + " \u2013 " + frequencyText(r.sweepEndHz) +
           ", " + number(std::round(r.sweepSeconds * 100.0) / 100.0) + " s";
}

void drawDistortion(Picture& p, const core::DistortionRecord& r, DistortionShown shown)
{
    const DistortionAxes axes = distortionAxes(r, shown);
    p.fillRect(0, 0, 12000, 12000, color(core::backgroundColor));
    p.fillRect(kPlotLeft, kPlotBottom, kPlotRight, kPlotTop, color(core::plotAreaColor));
    p.text("Klirrfaktor", 1700, 11050 + kTitleFont.height, 12000, 11050, kTitleFont,
           color(core::textColor), alignLeft | alignBottom | singleLine | noClip);
    drawFrequencyAxis(p, axes.frequency);
    drawAxis(p, axes.relative, 500, 1450, alignRight, color(core::textColor), GridLines::Solid);

    if (r.empty()) {
        // On a clear patch, so that the grid does not cross the words.
        p.fillRect(1900, 4800, 11100, 7200, color(core::plotAreaColor));
        p.text(kNoDistortionText, 2000, 7000, 11000, 5000, kMessageFont, color(core::textColor),
               alignLeft | alignBottom | wordBreak | noClip);
        return;
    }

    const std::uint32_t fundamentalColor = color(core::amplitudeColor0);
    // The fundamental's axis on the right, in its colour. Its steps are the harmonics' axis's;
    // beside the THD's logarithmic axis it has dotted lines of its own.
    drawAxis(p, axes.fundamental, 11550, 12000, alignLeft, fundamentalColor,
             shown == DistortionShown::Thd ? GridLines::Dotted : GridLines::None);

    const int width = core::displaySettings().lineWidth;
    // Dotted and paled, but as wide as the curves: a hairline floor is lost on paper.
    const Pen noisePen{0, width, true, false};
    std::vector<LegendEntry> legend{{"Grundton", fundamentalColor, false}};

    p.origin(-kPlotLeft, -kPlotBottom);
    const auto onRelative = [&](float v) { return mapRelative(v, axes.relative); };
    const auto onFundamental = [&](float v) { return mapLinear(v, axes.fundamental); };
    bool anyNoise = false;
    if (shown == DistortionShown::Thd) {
        const std::uint32_t c = harmonicColor(2);
        const std::vector<float> noise = thdNoisePercent(r);
        if (!noise.empty()) {
            Pen pen = noisePen;
            pen.color = paled(c);
            drawCurve(p, r.hz, noise, axes.frequency, onRelative, pen);
            anyNoise = true;
        }
        drawCurve(p, r.hz, r.thdPercent, axes.frequency, onRelative, Pen{c, width, false, false});
        legend.push_back({"THD", c, false});
    } else {
        const int last = shown == DistortionShown::AllHarmonics ? 5 : 3;
        // The noise floors first, so that no floor hides a harmonic.
        for (int k = 2; k <= last; ++k) {
            const auto& noise = r.noiseDb[static_cast<std::size_t>(k - 2)];
            if (noise.empty())
                continue;
            Pen pen = noisePen;
            pen.color = paled(harmonicColor(k));
            drawCurve(p, r.hz, noise, axes.frequency, onRelative, pen);
            anyNoise = true;
        }
        for (int k = 2; k <= last; ++k) {
            drawCurve(p, r.hz, r.harmonicDb[static_cast<std::size_t>(k - 2)], axes.frequency,
                      onRelative, Pen{harmonicColor(k), width, false, false});
            legend.push_back({"H" + std::to_string(k), harmonicColor(k), false});
        }
    }
    drawCurve(p, r.hz, r.fundamentalDb, axes.frequency, onFundamental,
              Pen{fundamentalColor, width, false, false});
    p.origin(0, 0);

    if (anyNoise)
        legend.push_back({"Rauschgrenze", color(core::textColor), true});
    drawLegend(p, legend);

    // Below the plot on the left: the sweep, and where the noise floor is not to be trusted.
    std::string foot = sweepDescription(r);
    if (anyNoise && !r.noiseCoversBand)
        foot += "; Rauschgrenze oben unsicher (Aufnahme nach dem Sweep zu kurz)";
    p.text(foot, 1500, 100 + kAxisFont.height, 12000, 100, kAxisFont, color(core::textColor),
           alignLeft | alignBottom | singleLine | noClip);
}

} // namespace plot
