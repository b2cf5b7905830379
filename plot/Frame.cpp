#include "core/Display.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "plot/Diagram.h"
#include "plot/Scales.h"

#include <algorithm>
#include <climits>

namespace plot {

namespace {

std::uint32_t color(int index)
{
    return core::displaySettings().colors[static_cast<std::size_t>(index)];
}

// Single-line text standing on `bottom` from `left`, without clipping.
void textOnLine(Picture& p, const std::string& s, int left, int bottom, const Font& f,
                std::uint32_t c)
{
    p.text(s, left, bottom + f.height, 12000, bottom, f, c, alignLeft | alignBottom | singleLine | noClip);
}

struct Column {
    int left;
    int right;
};

// One value axis: grid lines across the plot and right-aligned labels standing 100 units
// below each line. `top` collects the highest label baseline of the picture.
void drawValueAxis(Picture& p, const ScaleRecord& s, bool dotted, Column col, int& top)
{
    const Pen pen{color(core::textColor), 2, dotted, false};
    const int n = std::clamp(s.gridCount, 0, kMaxGridLines);
    for (int i = 0; i < n; ++i) {
        const int pos = s.gridPos[static_cast<std::size_t>(i)];
        p.line(pen, {1500, pos}, {11500, pos});
        const std::string& label = s.tickLabel[static_cast<std::size_t>(i)];
        if (!label.empty())
            p.text(label, col.left, pos - 100 + kAxisFont.height, col.right, pos - 100, kAxisFont,
                   color(core::textColor), alignRight | alignBottom | singleLine | noClip);
        top = std::max(top, pos - 100);
    }
}

void keyLine(Picture& p, int top, int k, Column key, int width, std::uint32_t c)
{
    if (top == INT_MIN)
        return; // an axis without grid lines has no place for a key
    const int y = top - 100 * k;
    p.line(Pen{c, width, false, false}, {key.left, y}, {key.right, y});
}

void drawXAxis(Picture& p, const ScaleRecord& s)
{
    const Pen pen{color(core::textColor), 2, false, false};
    const int n = std::clamp(s.gridCount, 0, kMaxGridLines);
    for (int i = 0; i < n; ++i) {
        const int pos = s.gridPos[static_cast<std::size_t>(i)];
        p.line(pen, {pos, 1000}, {pos, 11000});
        const std::string& label = s.tickLabel[static_cast<std::size_t>(i)];
        if (!label.empty())
            p.text(label, pos - 350, 950, pos + 350, 950 - kAxisFont.height, kAxisFont,
                   color(core::textColor), alignCenter | alignTop | singleLine | noClip);
    }
}

const char* titleOf(int family)
{
    switch (family) {
    case 0: return "Zeitsignal";
    case 1: return "Amplitudenfrequenzgang";
    case 20: return "Amplitudenfrequenzgang (5) ";
    case 40: return "Amplitudenfrequenzgang (Summe)";
    case 2: return "Amplituden- && Impedanzfre.";
    case 3: return "Impedanzfrequenzgang";
    case 5: return "Pegel (Terz)";
    default: return "";
    }
}

void drawLegends(Picture& p, int family)
{
    const core::DisplaySettings& d = core::displaySettings();
    auto legend = [&](const char* s, int colorIndex, int left) {
        textOnLine(p, s, left, 11200, family == 5 ? kLevelLegendFont : kLegendFont, color(colorIndex));
    };
    switch (family) {
    case 0:
        if (d.showTimeSignal)
            legend("Zeitsignal", core::timeSignalColor, 7000);
        if (d.showStepResponse)
            legend("Sprungantwort", core::stepResponseColor, 9000);
        break;
    case 1: case 20: case 40:
        if (d.showAmplitude)
            legend("Amplitude", core::amplitudeColor0, 9000);
        if (d.showPhase)
            legend("Phase", core::phaseColor0, 10800);
        break;
    case 2:
        legend("Amplitudenfre.", core::amplitudeColor0, 7500);
        legend("Impedanzfre.", core::impedanceColor, 9800);
        break;
    case 3:
        if (d.showImpedance)
            legend("Amplitude", core::impedanceColor, 7000);
        if (d.showImpedancePhase)
            legend("Phase", core::impedancePhaseColor, 9000);
        break;
    case 5:
        legend("Pegel Aktuell", core::levelCurrentColor, 6300);
        legend("Pegel Mittel/Spitze", core::levelMeanColor, 8800);
        break;
    default:
        break;
    }
}

void drawValueAxes(Picture& p, int family)
{
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    int top = INT_MIN;
    const Column primaryColumn{500, 1450};
    switch (family) {
    case 0: {
        const bool both = d.showStepResponse && d.showTimeSignal;
        const ScaleRecord& y = axisScale(0, 'y');
        if (d.showStepResponse) {
            const Column c = both ? Column{0, 650} : Column{800, 1450};
            drawValueAxis(p, y, both, c, top);
            keyLine(p, top, 1, c, 2, color(core::stepResponseColor));
        }
        if (d.showTimeSignal) {
            drawValueAxis(p, y, false, primaryColumn, top);
            keyLine(p, top, 1, {800, 1450}, 2, color(core::timeSignalColor));
        }
        break;
    }
    case 1: case 20: case 40: {
        const bool both = d.showPhase && d.showAmplitude;
        // In the overlay each curve keeps its own colour, the current one included.
        auto slotColor = [family](int base, int s) {
            return color(base + (family == 20 ? core::overlayColorSlot(s) : s));
        };
        if (d.showPhase) {
            const Column c = both ? Column{100, 650} : Column{900, 1450};
            drawValueAxis(p, scaleRecord(19), both, c, top);
            keyLine(p, top, 1, c, 30, slotColor(core::phaseColor0, 0));
            if (family == 20)
                for (int s = 1; s <= 4; ++s)
                    if (st.slotOccupied[static_cast<std::size_t>(s)] == 1)
                        keyLine(p, top, s + 1, c, 30, slotColor(core::phaseColor0, s));
        }
        if (d.showAmplitude) {
            drawValueAxis(p, axisScale(1, 'y'), false, primaryColumn, top);
            keyLine(p, top, 1, {900, 1450}, 30, slotColor(core::amplitudeColor0, 0));
            if (family == 20)
                for (int s = 1; s <= 4; ++s)
                    if (st.slotOccupied[static_cast<std::size_t>(s)] == 1)
                        keyLine(p, top, s + 1, {900, 1450}, 30,
                                slotColor(core::amplitudeColor0, s));
        }
        break;
    }
    case 2:
        drawValueAxis(p, axisScale(3, 'y'), true, {0, 650}, top);
        keyLine(p, top, 1, {0, 650}, 2, color(core::impedanceColor));
        drawValueAxis(p, axisScale(1, 'y'), false, primaryColumn, top);
        keyLine(p, top, 1, {800, 1450}, 2, color(core::amplitudeColor0));
        break;
    case 3: {
        const bool both = d.showImpedancePhase && d.showImpedance;
        if (d.showImpedancePhase) {
            drawValueAxis(p, scaleRecord(19), both, both ? Column{-300, 650} : Column{500, 1450}, top);
            keyLine(p, top, 1, both ? Column{0, 650} : Column{800, 1450}, 2,
                    color(core::impedancePhaseColor));
        }
        if (d.showImpedance) {
            drawValueAxis(p, axisScale(3, 'y'), false, primaryColumn, top);
            keyLine(p, top, 1, {800, 1450}, 2, color(core::impedanceColor));
        }
        break;
    }
    case 5:
        drawValueAxis(p, axisScale(5, 'y'), false, primaryColumn, top);
        break;
    default:
        break;
    }
}

} // namespace

void drawFrame(Picture& p, int family)
{
    chooseAxes(family);
    p.fillRect(0, 0, 12000, 12000, color(core::backgroundColor));
    p.fillRect(1500, 1000, 11500, 11000, color(core::plotAreaColor));

    textOnLine(p, titleOf(family), 1700, 11050, kTitleFont, color(core::textColor));
    drawLegends(p, family);

    // The unit names the family's own x scale; the grid below uses the amplitude family's
    // for the combined, overlay and sum views.
    p.text(axisScale(family, 'x').unitText, 4000, 200 + kAxisFont.height, 11900, 200, kAxisFont,
           color(core::textColor), alignRight | alignBottom | singleLine | noClip);

    // An impedance curve the T/S procedure left is named below the plot, on the left (the
    // unit stands on the right).
    if (family == 2 || family == 3)
        if (const core::ImpedanceCurveKind kind = core::impedanceCurveKind();
            kind != core::ImpedanceCurveKind::Unlabelled)
            textOnLine(p, std::string("Impedanz: T/S-Messung ") + core::impedanceCurveText(kind),
                       1500, 100, kAxisFont, color(core::impedanceColor));

    drawValueAxes(p, family);
    drawXAxis(p, family == 2 ? axisScale(1, 'x') : axisScale(family, 'x'));
}

void drawUserText(Picture& p, int slot)
{
    if (slot < 0 || slot > 7)
        return;
    const auto& raw = core::displaySettings().userText[static_cast<std::size_t>(slot)];
    const std::string text = core::cp1252ToUtf8(raw.data(), raw.size());
    p.text(text, -800, 500, 10000, -950, kUserTextFont, color(core::textColor),
           alignLeft | alignBottom | singleLine | noClip);
}

} // namespace plot
