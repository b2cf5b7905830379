// Harmonic distortion from a synchronised sweep: the deconvolved response (dsp/Sweep.h) cut
// into the linear impulse response and those of the harmonics 2..5, and their levels against
// the excitation frequency with the noise floor of the capture beside them.
#pragma once

#include "dsp/Sweep.h"

#include <array>
#include <complex>
#include <span>
#include <vector>

namespace dsp
{

// h1 (linear) .. h5.
inline constexpr int kSweepHarmonics = 5;
inline constexpr int kDistortionMinPointsPerOctave = 24;

// One harmonic's impulse response, cut out of the deconvolved response with a tapered window
// and moved by the fraction of a sample its arrival lies off the sampling grid (a phase shift
// of its spectrum), so that its time zero is sample `zeroIndex` exactly.
struct HarmonicResponse {
    std::vector<double> samples;
    int zeroIndex = 0;
    // The spectrum of `samples`, zero-padded, with its phase relative to time zero: bin m at
    // m * binHz, which is the frequency at the device's output (k times the excitation's).
    double binHz = 0.0;
    std::vector<std::complex<double>> spectrum;
    // Sum of the window's squares: a white noise of unit variance per sample reads this
    // power in every bin of `spectrum`.
    double windowEnergy = 0.0;
};

struct HarmonicResponses {
    std::array<HarmonicResponse, kSweepHarmonics> h; // h[0] linear, h[k - 1] the k-th harmonic
};

// Each harmonic's window reaches from a fifth of the way to the next higher harmonic's
// arrival to four fifths of the way to the next lower one's, since impulse responses ring on
// after their arrival. The gap between the second harmonic and the linear response is split in
// the middle instead: the band's lower edge makes the linear response ring ahead of its time
// zero too. After its time zero the linear response's window reaches four fifths of the
// second harmonic's lead.
HarmonicResponses separateHarmonics(const SweepPlan& plan, const SweepDeconvolution& d);

// The curves are drawn against the excitation frequency: H_k at hz[i] is the k-th harmonic's
// response at k * hz[i]. Every value is the mean power over a band as wide as the grid's
// spacing.
struct DistortionCurves {
    std::vector<double> hz; // startHz * 2^(i / pointsPerOctave) up to endHz / 2
    // The linear response in dB: 0 dB = the capture has the sweep's level.
    std::vector<double> fundamentalDb;
    // H2..H5 in dB re the fundamental. harmonicDb[k - 2] holds the first points of hz, as
    // long as k * hz stays within the sweep's band, so the higher harmonics' curves end
    // earlier.
    std::array<std::vector<double>, kSweepHarmonics - 1> harmonicDb;
    // 100 * sqrt(sum of the harmonics' powers) / fundamental, of the harmonics within the band.
    std::vector<double> thdPercent;
    // The noise in each harmonic's reading, in dB re the fundamental, point for point like
    // harmonicDb: a harmonic near or below it is noise, not distortion.
    std::array<std::vector<double>, kSweepHarmonics - 1> noiseDb;
    // False when the capture ended too soon after the sweep for a stretch of pure noise
    // (see recommendedCaptureSamples): the floor is then low at the highest frequencies.
    bool noiseCoversBand = false;
};

DistortionCurves distortionCurves(const SweepPlan& plan, const SweepDeconvolution& d,
                                  const HarmonicResponses& harmonics,
                                  int pointsPerOctave = kDistortionMinPointsPerOctave);

// Deconvolution, separation and curves of one capture.
struct SweepAnalysis {
    SweepDeconvolution deconvolution;
    HarmonicResponses harmonics;
    DistortionCurves curves;
};
SweepAnalysis analyzeSweep(const SweepPlan& plan, std::span<const double> capture);

} // namespace dsp
