// Resonance analysis of an impedance curve: locates the impedance peak of a drive unit and
// models its flanks, for the Thiele-Small evaluation.
#pragma once

#include "core/Store.h"

#include <array>

namespace ts
{

// Every T/S measurement uses this FFT length; the bin spacing follows the sample rate.
inline constexpr int kTsFftLength = 4096;
// Only these bins are searched for the resonance.
inline constexpr int kFirstSearchBin = 10;
inline constexpr int kLastSearchBin = 1279;

struct ResonanceResult {
    int resonanceBin = 0;
    float resonanceHz = 0.0f;
    float resonanceOhm = 0.0f;
    float minOhmAbove = 0.0f;
    // Degree-4 polynomials in Hz, highest power first; the sixth value is never read.
    std::array<float, 6> lowerFlankCoef{};
    std::array<float, 6> upperFlankCoef{};
    float lowerFlankStartHz = 0.0f;
    float upperFlankEndHz = 0.0f;
};

// Bin spacing in Hz of a T/S curve measured at the given rate code (N = 4096).
float tsBinHz(int rateCode);

// Analyses the store's impedanceMagnitude/impedancePhase, fills `result` and smooths the
// magnitude curve near the resonance with the fitted models. Returns 0 on success, 1 after
// showing message 85, 86 or 87.
int analyzeResonance(ResonanceResult& result);
// The same on any pair of curves (N = 4096, rate from the magnitude curve's trailer); `z` is
// smoothed near the resonance as the store's curve would be.
int analyzeResonance(core::CurveBuffer& z, const core::CurveBuffer& phase,
                     ResonanceResult& result);

// Least-squares polynomial of the given degree through `count` points, coefficients highest
// power first (degree + 1 of them). Returns 1, or 0 when the normal equations were singular;
// the coefficients are written either way.
int polyFit(const float* x, const float* y, int count, int degree, float* coef);

// Sum over i = 0..degree of coef[i] * x^(degree - i).
float polyEval(const float* coef, float x, int degree);

} // namespace ts
