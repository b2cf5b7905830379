// Thiele-Small parameters from the resonance analyses of two impedance measurements.
#pragma once

#include "dsp/ts/Resonance.h"

namespace ts
{

// The reactance sample of the free-air run, taken from the store's impedance curves right
// after its analysis: at 1 kHz (6.4 kHz rate), 10 kHz (51.2 kHz) or 500 Hz (3.2 kHz).
float reactanceSample();
// The same from any pair of curves measured at `rateCode`; `phaseFactor` is the correction the
// measurement applies to its own MLS phase (1 for curves that carry the true phase).
float reactanceSample(const core::CurveBuffer& magnitude, const core::CurveBuffer& phase,
                      int rateCode, float phaseFactor);
// The factor the measurement uses for its own curves at the live settings.
float measuredPhaseFactor();

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
};

// Evaluates run A (free air) against run B (added mass when B resonates lower, closed box
// when higher) with the confirmed DC resistance `reOhm` and the reactance sample `x`.
// On success writes tsResultText (Windows-1252), shows it in the information box
// "Thiele Small Parameter" and returns 1. A message 118, 121 or 122 returns 0; equal
// resonance frequencies return 0 silently. On every failure tsResultText is left as it was.
int computeTsParameters(const ResonanceResult& a, const ResonanceResult& b, float reOhm, float x,
                        TsParameters* out = nullptr);
int computeTsParameters(const TsEvaluationInputs& in, const ResonanceResult& a,
                        const ResonanceResult& b, float reOhm, float x,
                        TsParameters* out = nullptr);

} // namespace ts
