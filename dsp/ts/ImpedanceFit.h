// The electrical impedance model of a moving-coil driver and its least-squares fit to measured
// or imported impedance points. The Thiele-Small parameters are read from the fitted model,
// not from a smoothed curve: a driver with a high mechanical Q has a resonance only a few
// bins wide, and smoothing or reading -3 dB points off the bins flattens it.
#pragma once

#include <complex>
#include <optional>
#include <vector>

namespace ts
{

struct ImpedancePoint {
    double frequencyHz = 0.0;
    double magnitudeOhm = 0.0;
    double phaseDeg = 0.0;
    bool hasPhase = false;
};

enum class CoilModel {
    // Z = j w L
    Inductance,
    // Z = K (j w)^n with 0 < n < 1: a coil whose eddy-current losses make its reactance rise
    // slower than w and add a resistance that grows with frequency.
    SemiInductance,
};

// Re + coil + the motional parallel circuit of the suspension:
// Z = Re + Zcoil + Res / (1 + j Qms (f / fs - fs / f)).
struct ImpedanceModel {
    double reOhm = 0.0;
    double resOhm = 0.0; // motional resistance, Zmax - Re
    double fsHz = 0.0;
    double qms = 0.0;
    CoilModel coil = CoilModel::Inductance;
    double coilK = 0.0;        // henry for Inductance; ohm per (rad/s)^n for SemiInductance
    double coilExponent = 1.0; // n; 1 for Inductance

    std::complex<double> impedance(double fHz) const;
    std::complex<double> coilImpedance(double fHz) const;
    double qes() const { return resOhm > 0.0 ? qms * reOhm / resOhm : 0.0; }
    double qts() const;
    double peakOhm() const { return reOhm + resOhm; }
    // The inductance the coil shows at fHz: its reactance over omega, henry.
    double inductanceH(double fHz) const;
};

struct FitRequest {
    // Points below lowestHz are not used (the first bins of a measurement hold no usable
    // impedance); the resonance is searched up to searchHighHz.
    double lowestHz = 0.0;
    double searchHighHz = 2000.0;
    // The coil is fitted up to here (and no further than the points go), so that the
    // inductance at this frequency comes from the model rather than an extrapolation.
    double coilHz = 1000.0;
    // A measured DC resistance, held fixed in the fit.
    std::optional<double> fixedReOhm;
};

enum class FitFailure {
    None,
    NoResonance,       // no impedance peak in the searched range, or it lies at its upper end
    ResonanceAtLowEnd, // the peak lies at the range's lower end
    TooFewPoints,      // not enough points around the resonance to fit it
};

struct ImpedanceFit {
    FitFailure failure = FitFailure::None;
    ImpedanceModel model;
    // Root mean square of |Zmodel - Zpoint| / |Zpoint| over the fitted points, in percent.
    double residualPercent = 0.0;
    int points = 0;
    double lowHz = 0.0;
    double highHz = 0.0;
    // Where the peak was found, for messages about missing points.
    double peakHz = 0.0;
};

// Fits the model to the points (rising frequencies; points without a positive, finite
// magnitude are skipped). Points with phase are fitted as complex values, points without as
// magnitudes; every point is weighted by the share of log frequency it stands for, so that a
// dense linear bin grid does not let the band above the resonance outweigh the resonance.
// Both coil models are tried; the semi-inductance is kept only where it fits clearly better.
ImpedanceFit fitImpedanceModel(const std::vector<ImpedancePoint>& points, const FitRequest& req);

} // namespace ts
