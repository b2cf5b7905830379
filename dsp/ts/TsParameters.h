// Thiele-Small parameters from the fitted impedance models of two impedance measurements.
#pragma once

#include "dsp/ts/Resonance.h"

#include <string>

namespace ts
{

// What the evaluation needs besides the two analyses; the measurement takes it from the
// settings.
struct TsEvaluationInputs {
    int rateCode = 1;
    float diaphragmDiameterMm = 170.0f;
    float addedMassG = 50.0f;
    float boxVolumeL = 10.0f;
};
TsEvaluationInputs evaluationInputsFromSettings();

// The parameter set as computed, for callers that want the numbers rather than the text.
struct TsParameters {
    float sdM2 = 0.0f;
    float mmsG = 0.0f;
    float reOhm = 0.0f;
    float cmsMPerN = 0.0f;
    float qe = 0.0f;
    float qm = 0.0f;
    float qt = 0.0f;
    float vasL = 0.0f;
    float inductanceMh = 0.0f;
    float fsHz = 0.0f;
    float blTm = 0.0f;
    float rmsKgPerS = 0.0f;
    float residualPercent = 0.0f;
};

// Evaluates run A (free air, fitted with its Re held at `reOhm`, the confirmed DC resistance)
// against run B (added mass when B resonates lower, closed box when higher). On success writes
// tsResultText (Windows-1252), shows it in the information box "Thiele Small Parameter" and
// returns 1. Message 118 returns 0; equal resonance frequencies return 0 silently. On every
// failure tsResultText is left as it was.
int computeTsParameters(const TsEvaluationInputs& in, const ResonanceResult& a,
                        const ResonanceResult& b, float reOhm, TsParameters* out = nullptr);

// A number with the decimals of `format`'s layout (width, decimals), but with at least three
// significant digits: a tweeter's Vas of 0.0125 l would otherwise print as "0.01".
std::string formatSignificant(int width, int decimals, double v);

} // namespace ts
