#include "dsp/ts/TsFromCurves.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/ts/Resonance.h"
#include "dsp/ts/TsPrompts.h"

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

std::string hz(double v)
{
    return germanNumber(v < 100.0 ? "%.1f" : "%.0f", v) + " Hz";
}

// Fits one curve; on failure says what the curve lacks, in the words of the file.
bool analyzeFile(const std::vector<ImpedancePoint>& points, const char* name,
                 const FitRequest& request, ResonanceResult& result)
{
    const ImpedanceFit fit = fitImpedanceModel(points, request);
    if (fit.failure == FitFailure::None) {
        result = resonanceResultOf(fit);
        return true;
    }
    const std::string curve = std::string("Die Impedanzkurve ") + name;
    std::string range = " hat keine Werte";
    if (!points.empty())
        range = " reicht von " + hz(points.front().frequencyHz) + " bis " +
                hz(points.back().frequencyHz);
    switch (fit.failure) {
    case FitFailure::NoResonance:
        // A curve that ends below the search limit may simply stop before its resonance.
        if (!points.empty() && points.back().frequencyHz < request.searchHighHz)
            refuse(curve + range +
                   " und zeigt bis zu ihrem Ende keine Resonanz (kein Maximum, nach dem die "
                   "Impedanz wieder fällt).\nDie Auswertung braucht Werte bis zur doppelten "
                   "Resonanzfrequenz.");
        else
            refuse(curve + range + " und zeigt bis " + hz(request.searchHighHz) +
                   " keine Resonanz (kein Maximum, nach dem die Impedanz wieder fällt).");
        break;
    case FitFailure::ResonanceAtLowEnd:
        refuse(curve + range +
               ": ihre Resonanz liegt am Anfang der Kurve oder darunter.\n"
               "Die Auswertung braucht Werte ab der halben Resonanzfrequenz.");
        break;
    default:
        refuse(curve + range + ": um die Resonanz bei " + hz(fit.peakHz) +
               " hat sie zu wenig Werte.\nDie Auswertung braucht von " + hz(fit.peakHz / 2.0) +
               " bis " + hz(fit.peakHz * 2.0) +
               " mindestens 8 Werte, je 3 unter und über der Resonanz.");
        break;
    }
    return false;
}

} // namespace

std::vector<ImpedancePoint> impedancePoints(const std::vector<double>& frequencyHz,
                                            const std::vector<double>& ohm,
                                            const std::vector<double>& phaseDeg)
{
    std::vector<ImpedancePoint> points;
    const std::size_t n = std::min(frequencyHz.size(), ohm.size());
    points.reserve(n);
    const bool withPhase = phaseDeg.size() >= n && !phaseDeg.empty();
    for (std::size_t i = 0; i < n; ++i)
        points.push_back({frequencyHz[i], ohm[i], withPhase ? phaseDeg[i] : 0.0, withPhase});
    return points;
}

int tsFromImpedanceCurves(const std::vector<ImpedancePoint>& freeAir,
                          const std::vector<ImpedancePoint>& loaded, const TsCurveInputs& in,
                          TsParameters* out)
{
    const char* secondName = in.second == SecondRun::AddedMass ? "mit Zusatzmasse" : "im Gehäuse";
    if (in.dcResistanceOhm != 0.0f && !acceptDcResistance(in.dcResistanceOhm))
        return 0;

    const FitRequest request = fileFitRequest(kTsFileRateCode);
    ResonanceResult a;
    if (!analyzeFile(freeAir, "in freier Luft", request, a))
        return 0;
    showResonanceNotice(a, true);

    ResonanceResult b;
    if (!analyzeFile(loaded, secondName, request, b))
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

    const float reOhm = in.dcResistanceOhm != 0.0f ? in.dcResistanceOhm
                                                   : confirmDcResistance(dcResistanceProposal(a));
    TsEvaluationInputs ev;
    ev.rateCode = kTsFileRateCode;
    ev.diaphragmDiameterMm = in.diaphragmDiameterMm;
    ev.addedMassG = in.addedMassG;
    ev.boxVolumeL = in.boxVolumeL;
    return computeTsParameters(ev, refitWithDcResistance(freeAir, request, a, reOhm), b, reOhm,
                               out);
}

} // namespace ts
