// CSV tables of the curves a view shows: which curves each view has, and the table text.
#include "files/Exchange.h"
#include "files/ExchangeInternal.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "dsp/Response.h"

#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace files
{

using detail::CurveGrid;
using detail::gridOf;
using detail::hasValue;

namespace
{

std::string csvNumber(double v, const char* format)
{
    return core::formatC(format, v);
}

// Columns of frequency curves keyed by frequency, so curves of different grids share rows.
struct CsvTable {
    std::vector<std::string> names;
    std::map<double, std::vector<std::optional<double>>> rows;

    void addCurve(const std::string& name, const core::CurveBuffer& c, bool dbspl)
    {
        const std::size_t col = names.size();
        names.push_back(name);
        for (auto& [x, cells] : rows)
            cells.resize(names.size());
        const CurveGrid g = gridOf(c);
        if (!g.ok)
            return;
        for (int k = 1; k < g.bins; ++k) {
            if (!hasValue(c[k]))
                continue;
            auto& cells = rows[k * g.df];
            cells.resize(names.size());
            cells[col] =
                dbspl ? static_cast<double>(dsp::toDbspl(c[k])) : static_cast<double>(c[k]);
        }
    }
    void addPoint(double x, std::size_t col, double v)
    {
        auto& cells = rows[x];
        cells.resize(names.size());
        cells[col] = v;
    }
};

std::string quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

ExchangeText noValues()
{
    ExchangeText out;
    out.message = "Die Ansicht enthält keine Werte.";
    return out;
}

ExchangeText csvText(const std::string& xName, const CsvTable& t)
{
    if (t.rows.empty())
        return noValues();
    ExchangeText out;
    std::string text = quoted(xName);
    for (const std::string& n : t.names)
        text += "," + quoted(n);
    text += "\r\n";
    for (const auto& [x, cells] : t.rows) {
        text += csvNumber(x, "%.6g");
        for (std::size_t i = 0; i < t.names.size(); ++i) {
            text += ",";
            if (i < cells.size() && cells[i])
                text += csvNumber(*cells[i], "%.6g");
        }
        text += "\r\n";
    }
    out.ok = true;
    out.text = std::move(text);
    return out;
}

// View 1: time signal and step response over the record's own rate and length.
ExchangeText timeCsv(const core::MeasurementStore& st)
{
    CsvTable t;
    const core::TimeRecord& rec = st.timeRecord;
    if (!core::isValidTrailer(rec.trailerN(), rec.trailerRate()))
        return noValues();
    const int n = core::safeTrailerN(rec.trailerN());
    const double dtMs = 1000.0 / core::sampleRateHz(core::safeTrailerRate(rec.trailerRate()));
    t.names = {"Zeitsignal [V]", "Sprungantwort"};
    for (int i = 0; i < n; ++i) {
        t.addPoint(i * dtMs, 0, rec[i]);
        if (hasValue(st.stepResponseCurve[i]))
            t.addPoint(i * dtMs, 1, st.stepResponseCurve[i]);
    }
    return csvText("Zeit [ms]", t);
}

// View 5: the level bands, current and mean/peak.
ExchangeText levelCsv(const core::MeasurementStore& st)
{
    CsvTable t;
    t.names = {"Pegel aktuell [dB]", "Mittelwert/Spitze [dB]"};
    for (int b = 0; b < core::kLevelBands; ++b) {
        const double f = st.levelBandFrequencyView[b];
        if (!std::isfinite(f) || f <= 0.0)
            continue;
        if (hasValue(st.levelCurrent[b]))
            t.addPoint(f, 0, st.levelCurrent[b]);
        if (hasValue(st.levelMeanPeak[b]))
            t.addPoint(f, 1, st.levelMeanPeak[b]);
    }
    return csvText("Frequenz [Hz]", t);
}

// View 6: the waterfall's point list as it is stored, one row per point.
ExchangeText waterfallCsv(const core::MeasurementStore& st)
{
    std::string text = "\"Zeit [ms]\",\"Frequenz [Hz]\",\"Pegel [dB]\"\r\n";
    int count = 0;
    for (int i = 0; i < core::kCsdPoints; ++i) {
        const float tm = st.csdTime[i];
        const float f = st.csdFrequency[i];
        const float l = st.csdLevel[i];
        if (!hasValue(tm) || !hasValue(f) || !hasValue(l))
            continue;
        text += csvNumber(tm * 1000.0, "%.6g") + "," + csvNumber(f, "%.6g") + "," +
                csvNumber(l, "%.6g") + "\r\n";
        ++count;
    }
    if (count == 0)
        return noValues();
    ExchangeText out;
    out.ok = true;
    out.text = std::move(text);
    return out;
}

// View 8: the sum as the view draws it, on the grid of slot 0.
void addOverlaySum(CsvTable& t, const core::MeasurementStore& st, const char* ampName, bool dbspl)
{
    const CurveGrid g = gridOf(st.amplitudeSlots[0]);
    if (!g.ok)
        return;
    core::CurveBuffer amp;
    core::CurveBuffer phase;
    amp.v.fill(core::NO_VALUE);
    phase.v.fill(core::NO_VALUE);
    amp.stamp(g.n, g.rate);
    phase.stamp(g.n, g.rate);
    bool any = false;
    for (int k = 0; k < 5; ++k)
        any = any || st.slotOccupied[k] == 1;
    if (any)
        for (int k = 1; k < g.bins; ++k) {
            const dsp::OverlaySum s = dsp::overlaySum(k);
            amp[k] = s.amplitudeDb;
            phase[k] = s.phaseDeg;
        }
    t.addCurve(std::string("Summe ") + ampName, amp, dbspl);
    t.addCurve("Summe Phase [Grad]", phase, false);
}

} // namespace

ExchangeText buildThdCsv(const core::DistortionRecord& distortion)
{
    if (distortion.empty()) {
        ExchangeText out;
        out.message = "Die Messung enthält keine Klirrfaktordaten; sie entstehen nur bei einer "
                      "Messung mit dem Sweep.";
        return out;
    }
    // Rows by index, not keyed by frequency as the views' tables: the points are the record's
    // own, and two that round to the same float stay two rows.
    std::string text = quoted("Frequenz [Hz]") + "," + quoted("Grundwelle [dB]");
    for (int k = 2; k < 2 + core::kDistortionHarmonics; ++k)
        text += "," + quoted(core::formatC("H%d [dB re Grundwelle]", k));
    text += "," + quoted("THD [%]") + "\r\n";
    for (std::size_t i = 0; i < distortion.hz.size(); ++i) {
        text += csvNumber(distortion.hz[i], "%.6g");
        text += "," + csvNumber(distortion.fundamentalDb[i], "%.6g");
        for (const std::vector<float>& h : distortion.harmonicDb) {
            text += ",";
            if (i < h.size())
                text += csvNumber(h[i], "%.6g");
        }
        text += ",";
        if (i < distortion.thdPercent.size())
            text += csvNumber(distortion.thdPercent[i], "%.6g");
        text += "\r\n";
    }
    ExchangeText out;
    out.ok = true;
    out.text = std::move(text);
    return out;
}

ExchangeText buildViewCsv(int view, bool dbspl)
{
    const core::MeasurementStore& st = core::store();
    switch (view) {
    case 1:
        return timeCsv(st);
    case 5:
        return levelCsv(st);
    case 6:
        return waterfallCsv(st);
    default:
        break;
    }
    // The views of frequency curves.
    CsvTable t;
    const char* ampName = dbspl ? "Amplitude [dBSPL]" : "Amplitude [dB]";
    switch (view) {
    case 2:
        t.addCurve(ampName, st.amplitudeSlots[0], dbspl);
        t.addCurve("Phase [Grad]", st.phaseSlots[0], false);
        break;
    case 3:
    case 11:
        t.addCurve(ampName, st.amplitudeSlots[0], dbspl);
        t.addCurve("Phase [Grad]", st.phaseSlots[0], false);
        t.addCurve("Impedanz [Ohm]", st.impedanceMagnitude, false);
        t.addCurve("Impedanzphase [Grad]", st.impedancePhase, false);
        break;
    case 4:
        t.addCurve("Impedanz [Ohm]", st.impedanceMagnitude, false);
        t.addCurve("Impedanzphase [Grad]", st.impedancePhase, false);
        break;
    case 7:
        for (int k = 0; k < 5; ++k)
            if (st.slotOccupied[k] == 1)
                t.addCurve(core::formatC("Kurve %d %s", k, ampName), st.amplitudeSlots[k], dbspl);
        break;
    case 8:
        addOverlaySum(t, st, ampName, dbspl);
        break;
    default: {
        ExchangeText out;
        out.message = "Diese Ansicht enthält keine Kurven.";
        return out;
    }
    }
    return csvText("Frequenz [Hz]", t);
}

} // namespace files
