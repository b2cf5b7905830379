#include "dsp/ts/TsParameters.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <cmath>
#include <string>

namespace ts
{

namespace
{

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

} // namespace

float measuredPhaseFactor()
{
    const auto& s = core::settings();
    // The factors compensate the phase the MLS excitation adds at the two low rates; they are
    // the system's measured corrections, not derived values.
    if (s.method == 1 && s.sampleRate == 1)
        return 1.2f;
    if (s.method == 1 && s.sampleRate == 3)
        return 1.4f;
    return 1.0f;
}

float reactanceSample()
{
    const auto& st = core::store();
    return reactanceSample(st.impedanceMagnitude, st.impedancePhase, core::settings().sampleRate,
                           measuredPhaseFactor());
}

float reactanceSample(const core::CurveBuffer& magnitude, const core::CurveBuffer& phase,
                      int rateCode, float phaseFactor)
{
    const int k = rateCode == 2 ? 800 : 640;
    return magnitude[k] * std::sin(phase[k] * 0.01745f * phaseFactor);
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

int computeTsParameters(const ResonanceResult& a, const ResonanceResult& b, float reOhm, float x,
                        TsParameters* out)
{
    return computeTsParameters(evaluationInputsFromSettings(), a, b, reOhm, x, out);
}

int computeTsParameters(const TsEvaluationInputs& s, const ResonanceResult& a,
                        const ResonanceResult& b, float reOhm, float x, TsParameters* out)
{
    const float binHz = tsBinHz(s.rateCode);

    // 2*pi appears as 6.283, 6.2815 and 6.28318 below; the differences are the system's own.
    float f1 = a.resonanceHz;
    if (a.resonanceHz / binHz == 0.0f)
        f1 = 0.00001f * binHz;
    const float f2 = b.resonanceHz;
    const float zMax = a.resonanceOhm;
    const float res = zMax - reOhm;

    const float sd = std::pow(s.diaphragmDiameterMm / 2.0f * 0.001f, 2.0f) * 3.14159f;
    const float ma = 0.575f * std::pow(sd, 1.5f);

    if (f2 == f1)
        return 0;
    float mms; // grams
    float cms; // m/N
    if (f2 < f1) {
        // Added mass: the same compliance resonates lower with the extra mass.
        const float ratio = f1 / f2;
        mms = s.addedMassG / (ratio * ratio - 1.0f) + ma + 1e-9f;
        cms = 1.0f / ((6.283f * f1) * (6.283f * f1) * mms / 1000.0f);
    } else {
        // Closed box: the air spring of the box raises the resonance.
        const float cb = s.boxVolumeL / (1.42e8f * sd * sd);
        const float w1 = (6.283f * f1) * (6.283f * f1);
        const float w2 = (6.283f * f2) * (6.283f * f2);
        const float mPrime = (1.0f / cb - (1.85f * w2 - w1) * ma) / (w2 - w1);
        const float mmsKg = ma / 1000.0f + mPrime + 1e-9f;
        cms = 1.0f / (w1 * mmsKg);
        mms = mmsKg * 1000.0f;
    }
    const float vas = 142000.0f * sd * sd * cms;

    const float r0 = zMax / reOhm;
    const float rt = 0.7f * r0;
    const float level = rt * reOhm;

    // Band edges where the flank models cross 0.7 x Zmax, searched in 0.1 Hz steps.
    float fa = 0.0f;
    bool found = false;
    {
        float xs = static_cast<float>(a.resonanceBin - 1) * binHz;
        do {
            const float y = polyEval(a.lowerFlankCoef.data(), xs, 4);
            xs -= 0.1f;
            if (y < level) {
                fa = xs;
                found = true;
                break;
            }
        } while (xs > a.lowerFlankStartHz && xs > 6.0f * binHz);
    }
    if (!found) {
        showEvaluationMessage(121);
        return 0;
    }
    float fb = 0.0f;
    found = false;
    {
        float xs = static_cast<float>(a.resonanceBin + 1) * binHz;
        do {
            const float y = polyEval(a.upperFlankCoef.data(), xs, 4);
            xs += 0.1f;
            if (y < level) {
                fb = xs;
                found = true;
                break;
            }
        } while (xs < a.upperFlankEndHz && xs < 1600.0f * binHz);
    }
    if (!found) {
        showEvaluationMessage(122);
        return 0;
    }

    // Written so that NaN fails the checks as well.
    if (!(r0 > 1.0f) || !(rt > 1.0f) || !(res >= 0.1f) || !(f1 >= 10.0f)) {
        showEvaluationMessage(118);
        return 0;
    }

    const float qt =
        (1.0f / r0) * f1 / (fb - fa) * std::sqrt((r0 * r0 - rt * rt) / (rt * rt - 1.0f));
    const float qe = qt * r0 / (r0 - 1.0f);
    const float qm = 1.0f / (1.0f / qt - 1.0f / qe);

    const float blSquared = reOhm / (6.283f * f1 * cms * qe);
    if (!(blSquared > 0.0f)) {
        showEvaluationMessage(118);
        return 0;
    }
    const float bl = std::sqrt(blSquared);
    const float rms = 6.28318f * f1 * mms / 1000.0f / qm;

    // Voice-coil inductance: the measured reactance minus that of the motional parallel
    // circuit (Res, Lm, Cm) at the same frequency.
    float fl = 1000.0f;
    const char* label = "L @ 1kHz";
    if (s.rateCode == 2) {
        fl = 10000.0f;
        label = "L @ 10kHz";
    } else if (s.rateCode == 3) {
        fl = 500.0f;
        label = "L @ 500Hz";
    }
    const float lm = res / (6.2815f * f1 * qm);
    const float cm = qm / (res * 6.2815f * f1);
    const float wl = 6.2815f * fl;
    const float yb = wl * cm - 1.0f / (wl * lm);
    const float g = 1.0f / res;
    const float ymag = std::sqrt(yb * yb + g * g);
    const float theta = std::atan(yb / g);
    const float xm = std::sin(-theta) / ymag;
    const float inductance = (x - xm) / (6.283f * fl);

    TsParameters p;
    p.sdM2 = sd;
    p.mmsG = mms;
    p.reOhm = reOhm;
    p.cmsMPerN = cms;
    p.qe = qe;
    p.qm = qm;
    p.qt = qt;
    p.vasL = vas * 1000.0f;
    p.inductanceMh = inductance * 1000.0f;
    p.fsHz = f1;
    p.blTm = bl;
    p.rmsKgPerS = rms;
    // Degenerate flank models can still produce infinities here; showing them as parameters
    // would report a failed evaluation as a result.
    if (!allFinite(p)) {
        showEvaluationMessage(118);
        return 0;
    }

    // The rate's label is the only difference between the three layouts.
    const std::string text =
        core::formatC("Sd=%5.4f m\xC2\xB2    Mms=%4.2f g   Re=%4.2f Ohm   Cms=%6.5f m/N  \r\n"
                      "Qe=%3.2f   Qm=%3.2f   Qt=%3.2f   Vas=%5.2f l    %s=%5.4f mH \r\n"
                      "fs=%5.1f Hz   BL=%3.1f N/A   Rms=%3.1f kg/s  \r\n",
                      p.sdM2, p.mmsG, p.reOhm, p.cmsMPerN, p.qe, p.qm, p.qt, p.vasL, label,
                      p.inductanceMh, p.fsHz, p.blTm, p.rmsKgPerS);
    core::setTsResultText(core::utf8ToCp1252(text).c_str());
    if (out != nullptr)
        *out = p;
    core::messageText(text, "Thiele Small Parameter", core::Icon::Information);
    return 1;
}

} // namespace ts
