#include "dsp/ts/TsFromCurves.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/ts/Resonance.h"
#include "dsp/ts/TsProcedure.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace ts
{

namespace
{

constexpr const char* kCaption = "T/S aus Impedanzdateien";

void refuse(const std::string& text)
{
    core::messageText(text, kCaption, core::Icon::Error);
}

// A number in a message as the user interface writes it, with a decimal comma.
std::string germanNumber(const char* format, double v)
{
    std::string s = core::formatC(format, v);
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

bool hasValue(float v)
{
    return v != core::NO_VALUE && std::isfinite(v);
}

// Every bin the analysis reads must hold a number: the searched bins and the bin of the
// reactance sample.
bool coversAnalysis(const core::CurveBuffer& mag, const core::CurveBuffer& phase)
{
    if (core::safeTrailerN(mag.trailerN()) != kTsFftLength ||
        core::safeTrailerRate(mag.trailerRate()) != kTsFileRateCode)
        return false;
    for (int b = kFirstSearchBin; b <= kLastSearchBin; ++b)
        if (!hasValue(mag[b]) || !hasValue(phase[b]))
            return false;
    return hasValue(mag[640]) && hasValue(phase[640]);
}

} // namespace

int tsFromImpedanceCurves(const core::CurveBuffer& freeMagnitude,
                          const core::CurveBuffer& freePhase,
                          const core::CurveBuffer& loadedMagnitude,
                          const core::CurveBuffer& loadedPhase, const TsCurveInputs& in,
                          TsParameters* out)
{
    const float binHz = tsBinHz(kTsFileRateCode);
    const std::string range = germanNumber("%.1f", kFirstSearchBin * binHz) + " Hz bis " +
                              germanNumber("%.1f", kLastSearchBin * binHz) + " Hz";
    const char* secondName = in.second == SecondRun::AddedMass ? "mit Zusatzmasse" : "im Gehäuse";
    if (!coversAnalysis(freeMagnitude, freePhase)) {
        refuse("Die Impedanzkurve in freier Luft hat nicht von " + range +
               " Werte mit Phase; die Auswertung braucht diesen Bereich.");
        return 0;
    }
    if (!coversAnalysis(loadedMagnitude, loadedPhase)) {
        refuse(std::string("Die Impedanzkurve ") + secondName + " hat nicht von " + range +
               " Werte mit Phase; die Auswertung braucht diesen Bereich.");
        return 0;
    }
    if (in.dcResistanceOhm != 0.0f && !acceptDcResistance(in.dcResistanceOhm))
        return 0;

    // The analysis smooths the magnitude near the resonance; it works on copies.
    core::CurveBuffer zA = freeMagnitude;
    ResonanceResult a;
    if (analyzeResonance(zA, freePhase, a) != 0)
        return 0;
    showResonanceNotice(a, true);
    // The file holds the phase as it is: no correction of the program's own MLS phase.
    const float x = reactanceSample(zA, freePhase, kTsFileRateCode, 1.0f);

    core::CurveBuffer zB = loadedMagnitude;
    ResonanceResult b;
    if (analyzeResonance(zB, loadedPhase, b) != 0)
        return 0;
    showResonanceNotice(b, false);

    const bool lower = b.resonanceHz < a.resonanceHz;
    const bool higher = b.resonanceHz > a.resonanceHz;
    if (in.second == SecondRun::AddedMass && !lower) {
        refuse("Die Resonanz mit Zusatzmasse (" + germanNumber("%.1f", b.resonanceHz) +
               " Hz) liegt nicht unter der in freier Luft (" + germanNumber("%.1f", a.resonanceHz) +
               " Hz).\nSind die Dateien vertauscht, oder wurde im Gehäuse gemessen?");
        return 0;
    }
    if (in.second == SecondRun::ClosedBox && !higher) {
        refuse("Die Resonanz im Gehäuse (" + germanNumber("%.1f", b.resonanceHz) +
               " Hz) liegt nicht über der in freier Luft (" + germanNumber("%.1f", a.resonanceHz) +
               " Hz).\nSind die Dateien vertauscht, oder wurde mit Zusatzmasse gemessen?");
        return 0;
    }

    const float reOhm = in.dcResistanceOhm != 0.0f
                            ? in.dcResistanceOhm
                            : confirmDcResistance(dcResistanceProposal(a.minOhmAbove));
    TsEvaluationInputs ev;
    ev.rateCode = kTsFileRateCode;
    ev.diaphragmDiameterMm = in.diaphragmDiameterMm;
    ev.addedMassG = in.addedMassG;
    ev.boxVolumeL = in.boxVolumeL;
    return computeTsParameters(ev, a, b, reOhm, x, out);
}

} // namespace ts
