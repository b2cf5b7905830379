// The exponential sine sweep: its generation and the deconvolution of what a device answered
// to it.
//
// The sweep is synchronised: its time constant L is chosen so that startHz * L is a whole
// number, which makes the sweep advanced by L ln k exactly the sweep at k times the phase.
// A device's k-th harmonic therefore appears in the deconvolved response as an impulse
// response of its own, L ln k before the linear one, with a phase that means something; the
// separation and the distortion curves are in dsp/Distortion.h.
//
// The fades lie outside the band: the sweep starts below startHz and ends above endHz, and
// only there is its level faded, so that the response is flat from startHz to endHz.
#pragma once

#include <span>
#include <vector>

namespace dsp
{

inline constexpr double kSweepMinSeconds = 0.5;
inline constexpr double kSweepMaxSeconds = 10.0;
// The lowest start frequency: above it a whole-numbered startHz * L always leaves a length
// within 0.5..10 s.
inline constexpr double kSweepMinStartHz = 10.0;
// The end frequency stays below this share of the Nyquist frequency, the top of the fade-out
// below kSweepFadeNyquistShare, so that the converters' anti-alias filters leave them alone.
inline constexpr double kSweepEndNyquistShare = 0.9;
inline constexpr double kSweepFadeNyquistShare = 0.95;

// What is asked for; planSweep brings every value into range.
struct SweepRequest {
    double startHz = 20.0;
    double endHz = 20000.0;
    double lengthSeconds = 2.0; // from startHz to endHz, 0.5..10
    int rateHz = 48000;
    double amplitude = 0.5;       // peak within the band, 1.0 = digital full scale
    double fadeInSeconds = 0.3;   // below startHz, 0..1
    double fadeOutSeconds = 0.02; // above endHz, shortened to stay below the Nyquist frequency
};

// The sweep as it is played.
struct SweepPlan {
    int rateHz = 48000;
    double startHz = 20.0;
    double endHz = 20000.0;
    double amplitude = 0.5;
    double timeConstantSeconds = 0.0; // L: the instantaneous frequency is startHz e^(t/L)
    double lengthSeconds = 0.0;       // from startHz to endHz: L ln(endHz / startHz)
    double fadeOutSeconds = 0.0;
    int startSample = 0;    // where the sweep passes startHz (t = 0), = the fade-in's samples
    int totalSamples = 0;   // fade-in, sweep and fade-out
    double lowestHz = 0.0;  // at the start of the fade-in
    double highestHz = 0.0; // at the end of the fade-out
};

// The plan of `request`: the rate limited to 8..768 kHz, the end to 0.9 of the Nyquist frequency,
// the start to 10 Hz .. end/2, the length to 0.5..10 s and then moved to the nearest length
// with a whole-numbered startHz * L within that range, the amplitude to 0..1.
SweepPlan planSweep(const SweepRequest& request);

// The played samples: plan.totalSamples values.
std::vector<double> makeSweep(const SweepPlan& plan);

// How strongly the deconvolved response holds `hz`: 1 from startHz to endHz; across the fades
// the inverse filter's weight times the level the sweep had when it passed `hz`; 0 outside
// what was played. A device's response read from the sweep is divided by it where it is not 1.
double sweepResponseGain(const SweepPlan& plan, double hz);

// Seconds by which the k-th harmonic's impulse response precedes the linear one: L ln k.
double harmonicLeadSeconds(const SweepPlan& plan, int harmonic);

// The capture length that lets every frequency's noise be estimated after the linear
// response: the sweep and a tail of L ln 2 + 0.25 s.
int recommendedCaptureSamples(const SweepPlan& plan);

// The response of a device to the sweep, deconvolved: a circular sequence of `response.size()`
// samples (a power of two) with the linear impulse response's time zero at `arrivalIndex`
// and the k-th harmonic's at arrivalIndex - L ln k * rate (taken modulo the size).
struct SweepDeconvolution {
    int rateHz = 48000;
    int arrivalIndex = 0;
    int captureSamples = 0;
    std::vector<double> response;
};

// Deconvolves `capture` (sample 0 played with the sweep's first sample: the caller removes the
// loop's latency) by the sweep's analytic inverse filter, scaled by 1/amplitude so that a
// direct loop reads 1. A capture longer than the sweep is taken whole; a shorter one counts
// as silence after its end.
SweepDeconvolution deconvolveSweep(const SweepPlan& plan, std::span<const double> capture);

// The linear impulse response from `samplesBefore` samples ahead of its time zero, `length`
// samples, for the caller to bring to its own rate and record. `samplesBefore` is kept below
// half the second harmonic's lead, so that no harmonic enters; samples past the end of the
// deconvolved response read 0.
std::vector<double> linearImpulseResponse(const SweepPlan& plan, const SweepDeconvolution& d,
                                          int samplesBefore, int length);

// The linear impulse response as one period of a periodic excitation's response: `period`
// samples with the response's time zero at sample `index`. The response from `samplesBefore`
// ahead of its time zero over `span` samples (at least `period`) is wrapped around the period,
// as an MLS's circular deconvolution wraps it: a response longer than the record (the sweep's
// slow lower band edge on a path that passes DC, a resonance at the lowest frequencies) reads
// at the record's frequencies as with the MLS instead of being cut off.
std::vector<double> periodicImpulseResponse(const SweepPlan& plan, const SweepDeconvolution& d,
                                            int samplesBefore, int span, int period, int index);

} // namespace dsp
