#include "dsp/ts/TsParameters.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/ts/DriverPhysics.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace ts
{

namespace
{

constexpr double kPi = 3.14159265358979323846;

void showEvaluationMessage(int id)
{
    core::messageText(core::str(id), " ", core::Icon::Information);
}

bool allFinite(const TsParameters& p)
{
    const float v[] = {p.sdM2, p.mmsG, p.reOhm,        p.cmsMPerN, p.qe,   p.qm,
                       p.qt,   p.vasL, p.inductanceMh, p.fsHz,     p.blTm, p.rmsKgPerS};
    for (float f : v)
        if (!std::isfinite(f))
            return false;
    return true;
}

std::string resultText(const TsParameters& p, const char* label)
{
    auto n = [](int width, int decimals, float v) { return formatSignificant(width, decimals, v); };
    return "Sd=" + n(5, 4, p.sdM2) + " m\xC2\xB2    Mms=" + n(4, 2, p.mmsG) +
           " g   Re=" + n(4, 2, p.reOhm) + " Ohm   Cms=" + n(6, 5, p.cmsMPerN) +
           " m/N  \r\n"
           "Qe=" +
           n(3, 2, p.qe) + "   Qm=" + n(3, 2, p.qm) + "   Qt=" + n(3, 2, p.qt) +
           "   Vas=" + n(5, 2, p.vasL) + " l    " + label + "=" + n(5, 4, p.inductanceMh) +
           " mH \r\n"
           "fs=" +
           n(5, 1, p.fsHz) + " Hz   BL=" + n(3, 1, p.blTm) + " N/A   Rms=" + n(3, 1, p.rmsKgPerS) +
           " kg/s  \r\n";
}

// How well the model fitted, shown below the result. It is not part of the stored text: the
// text export holds 200 bytes, which the three lines nearly fill.
std::string fitText(const ImpedanceFit& fit)
{
    const char* coil =
        fit.model.coil == CoilModel::SemiInductance ? "Semi-Induktivität" : "Induktivität";
    return core::formatC("Modell: Restfehler %.2f %%, %d Werte %.1f-%.0f Hz, Schwingspule als %s",
                         fit.residualPercent, fit.points, fit.lowHz, fit.highHz, coil);
}

} // namespace

std::string formatSignificant(int width, int decimals, double v)
{
    if (std::isfinite(v) && v != 0.0) {
        const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(v))));
        decimals = std::max(decimals, 2 - magnitude);
    }
    return core::formatC("%*.*f", width, decimals, v);
}

TsEvaluationInputs evaluationInputsFromSettings()
{
    const auto& s = core::settings();
    TsEvaluationInputs in;
    in.rateCode = s.sampleRate;
    in.diaphragmDiameterMm = s.diaphragmDiameterMm;
    in.addedMassG = s.addedMassG;
    in.boxVolumeL = s.boxVolumeL;
    return in;
}

int computeTsParameters(const TsEvaluationInputs& s, const ResonanceResult& a,
                        const ResonanceResult& b, float reOhm, TsParameters* out)
{
    const ImpedanceModel& m = a.fit.model;
    const double f1 = m.fsHz;
    const double f2 = b.fit.model.fsHz;
    if (f2 == f1)
        return 0;

    // Written so that NaN fails the checks as well: the peak must stand clearly above the DC
    // resistance, and the resonance must lie where a driver's can.
    const double r0 = a.resonanceOhm / reOhm;
    if (!(r0 > 1.0 / 0.7) || !(a.resonanceOhm - reOhm >= 0.1) || !(f1 >= 10.0) || !(f2 > 0.0) ||
        !(m.qms > 0.0) || !(m.resOhm > 0.0)) {
        showEvaluationMessage(118);
        return 0;
    }

    const double radius = s.diaphragmDiameterMm / 2.0 * 0.001;
    const double sd = kPi * radius * radius;
    const double w1 = (2.0 * kPi * f1) * (2.0 * kPi * f1);
    const double w2 = (2.0 * kPi * f2) * (2.0 * kPi * f2);

    double mmsKg;
    if (f2 < f1) {
        // Added mass: the same compliance resonates lower with the extra mass, which is all
        // the mass that changes (the free-air load is part of Mms already).
        mmsKg = s.addedMassG * 1e-3 / (w1 / w2 - 1.0);
    } else {
        // Closed box: the box's air spring stiffens the suspension and its air adds to the
        // moving mass, w2 (Mms + dM) = w1 Mms + 1 / Cb.
        const double cb = boxComplianceMPerN(s.boxVolumeL, sd);
        mmsKg = (1.0 / cb - w2 * boxAirMassIncrementKg(sd)) / (w2 - w1);
    }
    const double cms = 1.0 / (w1 * mmsKg);
    const double vas = kRhoC2 * sd * sd * cms;

    const double qm = m.qms;
    const double qe = m.qes();
    const double qt = m.qts();
    const double blSquared = 2.0 * kPi * f1 * mmsKg * reOhm / qe;
    if (!(blSquared > 0.0) || !(mmsKg > 0.0)) {
        showEvaluationMessage(118);
        return 0;
    }
    const double rms = 2.0 * kPi * f1 * mmsKg / qm;
    const InductanceSample sample = inductanceSample(s.rateCode);

    TsParameters p;
    p.sdM2 = static_cast<float>(sd);
    p.mmsG = static_cast<float>(mmsKg * 1000.0);
    p.reOhm = reOhm;
    p.cmsMPerN = static_cast<float>(cms);
    p.qe = static_cast<float>(qe);
    p.qm = static_cast<float>(qm);
    p.qt = static_cast<float>(qt);
    p.vasL = static_cast<float>(vas * 1000.0);
    p.inductanceMh = static_cast<float>(m.inductanceH(sample.hz) * 1000.0);
    p.fsHz = static_cast<float>(f1);
    p.blTm = static_cast<float>(std::sqrt(blSquared));
    p.rmsKgPerS = static_cast<float>(rms);
    p.residualPercent = static_cast<float>(a.fit.residualPercent);
    // A degenerate fit can still produce infinities here; showing them as parameters would
    // report a failed evaluation as a result.
    if (!allFinite(p)) {
        showEvaluationMessage(118);
        return 0;
    }

    const std::string text = resultText(p, sample.label);
    core::setTsResultText(core::utf8ToCp1252(text).c_str());
    if (out != nullptr)
        *out = p;
    core::messageText(text + fitText(a.fit), "Thiele Small Parameter", core::Icon::Information);
    return 1;
}

} // namespace ts
