// The FRD and ZMA texts of stored curves, and the writing of any exchange text.
#include "files/Exchange.h"
#include "files/ExchangeInternal.h"
#include "files/FileDialogs.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace files
{

namespace detail
{

bool hasValue(float v)
{
    return v != core::NO_VALUE && std::isfinite(v);
}

CurveGrid gridOf(const core::CurveBuffer& c)
{
    CurveGrid g;
    if (!core::isValidTrailer(c.trailerN(), c.trailerRate()))
        return g;
    g.n = core::safeTrailerN(c.trailerN());
    g.rate = core::safeTrailerRate(c.trailerRate());
    g.df = static_cast<double>(core::sampleRateHz(g.rate)) / g.n;
    g.bins = std::min(g.n / 2, core::kCurveBins);
    g.ok = true;
    return g;
}

} // namespace detail

using detail::CurveGrid;
using detail::gridOf;
using detail::hasValue;

namespace
{

// The header lines every FRD/ZMA file of the program starts with.
std::string exchangeHeader(const char* what, const CurveGrid& g, const char* columns)
{
    std::string h;
    h += core::formatC("* OrvoPro 2.3: %s\r\n", what);
    h += core::formatC("* Abtastrate %d Hz, N = %d, Frequenzabstand %.5f Hz\r\n",
                       core::sampleRateHz(g.rate), g.n, g.df);
    h += core::formatC("* Spalten: %s\r\n", columns);
    h += "* Phase in Grad, Zeitfunktion e^(+j*2*pi*f*t): eine Laufzeit ergibt eine mit der\r\n"
         "* Frequenz fallende Phase, eine induktive Impedanz eine positive Phase\r\n";
    return h;
}

// Rows of a value curve and its phase: bins without a value in either are left out.
ExchangeText curveRows(const core::CurveBuffer& value, const core::CurveBuffer& phase,
                       const char* what, const char* columns, bool dbspl)
{
    ExchangeText t;
    const CurveGrid g = gridOf(value);
    if (!g.ok) {
        t.message = "Die Kurve hat keine gültige FFT-Länge oder Abtastrate.";
        return t;
    }
    // A curve without any phase (one read from a two-column file) is written with two
    // columns; otherwise a bin needs both values.
    bool anyPhase = false;
    for (int k = 1; k < g.bins && !anyPhase; ++k)
        anyPhase = hasValue(value[k]) && hasValue(phase[k]);
    std::string rows;
    int count = 0;
    // Bin 0 (0 Hz) has no place on a logarithmic frequency axis and is never written.
    for (int k = 1; k < g.bins; ++k) {
        const float v = value[k];
        const float p = phase[k];
        if (!hasValue(v) || (anyPhase && !hasValue(p)))
            continue;
        const double shown = dbspl ? static_cast<double>(dsp::toDbspl(v)) : static_cast<double>(v);
        rows += anyPhase
                    ? core::formatC("%.4f %.4f %.3f\r\n", k * g.df, shown, static_cast<double>(p))
                    : core::formatC("%.4f %.4f\r\n", k * g.df, shown);
        ++count;
    }
    if (count == 0) {
        t.message = "Die Kurve enthält keine Werte.";
        return t;
    }
    std::string cols = columns;
    if (!anyPhase)
        cols = cols.substr(0, cols.rfind(',')) + " (keine Phase)";
    t.text = exchangeHeader(what, g, cols.c_str()) + rows;
    t.ok = true;
    return t;
}

} // namespace

ExchangeText buildFrd(int slot, bool dbspl)
{
    const core::MeasurementStore& st = core::store();
    if (slot < 0 || slot > 4) {
        ExchangeText t;
        t.message = "Es gibt nur die Kurvenplätze 0 bis 4.";
        return t;
    }
    if (st.slotOccupied[slot] != 1) {
        ExchangeText t;
        t.message = slot == 0 ? "Es ist keine Amplitudenmessung vorhanden."
                              : core::formatC("Der Kurvenplatz %d ist nicht belegt.", slot);
        return t;
    }
    const std::string what = core::formatC("Amplitudenfrequenzgang (FRD), Kurvenplatz %d%s", slot,
                                           slot == 0 ? " (aktuell)" : "");
    return curveRows(st.amplitudeSlots[slot], st.phaseSlots[slot], what.c_str(),
                     dbspl ? "Frequenz [Hz], Amplitude [dBSPL], Phase [Grad]"
                           : "Frequenz [Hz], Amplitude [dB], Phase [Grad]",
                     dbspl);
}

ExchangeText buildZma()
{
    const core::MeasurementStore& st = core::store();
    // After start-up the impedance curve is all zeros: that is no measurement.
    bool any = false;
    for (int k = 1; k < core::kCurveBins && !any; ++k)
        any = hasValue(st.impedanceMagnitude[k]) && st.impedanceMagnitude[k] != 0.0f;
    if (!any) {
        ExchangeText t;
        t.message = "Es ist keine Impedanzmessung vorhanden.";
        return t;
    }
    // A curve the T/S procedure left says which of its runs it is.
    std::string what = "Impedanzfrequenzgang (ZMA)";
    if (const core::ImpedanceCurveKind kind = core::impedanceCurveKind();
        kind != core::ImpedanceCurveKind::Unlabelled)
        what += std::string(", T/S-Messung ") + core::impedanceCurveText(kind);
    return curveRows(st.impedanceMagnitude, st.impedancePhase, what.c_str(),
                     "Frequenz [Hz], Impedanz [Ohm], Phase [Grad]", false);
}

WriteStatus writeExchangeText(const ExchangeText& t, const std::string& path, const char* caption)
{
    if (!t.ok) {
        core::messageText(t.message, caption, core::Icon::Error);
        return WriteStatus::WriteFailed;
    }
    const SaveResult s =
        saveReplacing(path, reinterpret_cast<const unsigned char*>(t.text.data()), t.text.size());
    showSaveFailure(path, s);
    return s.status;
}

} // namespace files
