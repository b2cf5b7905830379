// Resonance analysis of a drive unit's impedance: the impedance model fitted to the
// unsmoothed points around the resonance, for the Thiele-Small evaluation.
#pragma once

#include "core/Store.h"
#include "dsp/ts/ImpedanceFit.h"

#include <optional>
#include <vector>

namespace ts
{

// Every T/S measurement uses this FFT length; the bin spacing follows the sample rate.
inline constexpr int kTsFftLength = 4096;
// The resonance is searched up to this bin of a measurement.
inline constexpr int kLastSearchBin = 1279;

struct ResonanceResult {
    float resonanceHz = 0.0f;  // the fitted fs
    float resonanceOhm = 0.0f; // the fitted model's peak, Re + Res
    ImpedanceFit fit;
};

// Bin spacing in Hz of a T/S curve measured at the given rate code (N = 4096).
float tsBinHz(int rateCode);

// The frequency at which the result names the voice coil's inductance, and its label: 1 kHz
// at 6.4 kHz, 10 kHz at 51.2 kHz, 500 Hz at 3.2 kHz.
struct InductanceSample {
    float hz;
    const char* label;
};
InductanceSample inductanceSample(int rateCode);

// The points of a T/S run's impedance curves (N = 4096, rate from the magnitude's trailer)
// that the measurement can use, and the fit request that goes with them.
std::vector<ImpedancePoint> measuredPoints(const core::CurveBuffer& magnitude,
                                           const core::CurveBuffer& phase);
FitRequest measuredFitRequest(int rateCode, std::optional<double> fixedReOhm = std::nullopt);
// For the points of an impedance file, which carry the true phase at their own frequencies;
// rateCode decides the inductance's frequency as for a measurement.
FitRequest fileFitRequest(int rateCode, std::optional<double> fixedReOhm = std::nullopt);

// The result of a successful fit: fs and the model's peak, with the fit itself.
ResonanceResult resonanceResultOf(const ImpedanceFit& fit);

// Fits the impedance model and fills `result`. Returns 0 on success, 1 after showing message
// 85 (no resonance in the range, or at its upper end), 86 (at its lower end) or 87 (too few
// points around it).
int analyzeResonance(const std::vector<ImpedancePoint>& points, const FitRequest& request,
                     ResonanceResult& result);

// The free-air analysis again with the DC resistance the user confirmed held fixed, so that
// Qes and the motional values belong to that Re. Shows nothing: a value the peak does not
// stand clearly above, or a fit that fails with it, gives back `freeFit`, and the evaluation
// then says what is wrong with the value.
ResonanceResult refitWithDcResistance(const std::vector<ImpedancePoint>& points,
                                      const FitRequest& request, const ResonanceResult& freeFit,
                                      float reOhm);

} // namespace ts
