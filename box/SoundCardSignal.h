// The signal side of measuring through a sound card, without any audio I/O: the box's MLS
// converted to the device's rate, the capture converted back to the program's rate and
// aligned on the sequence, and the search for the loop delay.
#pragma once

#include "box/Acquisition.h"
#include "box/Mls.h"
#include "core/Store.h"
#include "dsp/Distortion.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace box::soundcard {

// A direct loop lands its impulse at index 4 + 28: clear of the samples the acquisition
// zeroes and of the response computation's fade-in, with room for the pre-ringing of the
// band-limited stimulus to decay (below 1e-3 of the peak) before the record starts.
inline constexpr int kAlignedDelaySamples = 28;

// The whole-number relation between the program's rate and the device's: every `frameStep`
// device frames are exactly `sampleStep` program samples (48 kHz and 51.2 kHz: 15 and 16).
struct RateLink {
    int programHz = 51200;
    int deviceHz = 48000;
    int sampleStep = 16;
    int frameStep = 15;
};
RateLink rateLink(int programHz, int deviceHz);

// Device frames of a span of program samples (rounded up).
std::int64_t framesFor(const RateLink& link, std::int64_t samples);

// The MLS as the device plays it. The sequence's period (4095 program samples) is rarely a
// whole number of device frames, so one cycle holds as many periods as make a whole number
// of frames: 16 periods (61425 frames, 1.28 s) at 48 kHz for every program rate. Frame j of
// the cycle is program sample j·sampleStep/frameStep of the sequence.
//
// The pulse and the periodic noise are played the same way, each with a period of one
// record (4096 program samples; the noise repeats within it), which every usual device rate
// makes a whole number of frames.
struct PlayedMls {
    RateLink link;
    Excitation excitation = Excitation::Mls;
    int periodSamples = kMlsPeriod; // program samples of one period
    int noisePeriod = 4096;         // the noise's own period within it
    double amplitude = 0.0;     // digital peak of what is played, 1.0 = full scale
    // The ±level of the sequence before band-limiting: band-limiting raises the peaks by
    // some 6 dB, so the sequence is played that much quieter to keep its peak at `amplitude`.
    double sequenceLevel = 0.0;
    int periods = 1;            // sequence periods in one cycle
    std::vector<double> period; // one period at the program's rate, band-limited
    std::vector<double> edge;   // the band-limiting filter's taps from its centre, DC gain 1
    std::vector<float> frames;  // one cycle at the device's rate, one channel
    // The sweep only: its frames a quarter turn on at every frequency (its Hilbert transform),
    // to check a capture of it whatever the path's phase.
    std::vector<float> quadrature;
};
PlayedMls makePlayedMls(const RateLink& link, double amplitude);
// The pulse (one per period, at sample 0) or periodic noise (equal lines with Schroeder's
// phases on every bin of `noisePeriod`, which divides 4096), band-limited like the MLS. Its
// `sequenceLevel` is the digital level of a unit pulse, or of a line of unit peak.
PlayedMls makePlayedStimulus(const RateLink& link, double amplitude, Excitation excitation,
                             int noisePeriod);

// The band-limiting filter's gain at `hz` (program rate): 1 in band, falling to 0 at 96.5 %
// of the lower Nyquist frequency; 0 beyond the program's Nyquist frequency.
double stimulusGain(const PlayedMls& played, double hz);

// Frames the rate converter needs on either side of a captured span, so that its start and
// end transients stay outside: a whole number of steps.
std::int64_t converterMarginFrames(const RateLink& link);
std::int64_t converterMarginSamples(const RateLink& link);

// Converts device frames to `samples` program samples. `frames` holds the span from
// converterMarginFrames() before the first wanted sample to at least as many after the last
// one; `frameCount` is its length. Returns false when the span is too short.
bool toProgramRate(const RateLink& link, const float* frames, std::size_t frameCount,
                   int samples, std::vector<double>& out);

// Rotates one captured period of the MLS response into the sequence's phase, delayed by
// kAlignedDelaySamples: `captured[k]` answers program sample `firstSample + k` of the
// sequence (k = 0..4094); out[n] receives the response to sample n − kAlignedDelaySamples.
// out holds 4095 values.
void alignMlsPeriod(const std::vector<double>& captured, std::int64_t firstSample, double* out,
                    int period = kMlsPeriod);

// The played sequence itself as a record in the sequence's phase, delayed like an aligned
// capture: the ideal internal path. out holds one period (4095 values for the MLS).
void digitalMlsPeriod(const PlayedMls& played, double* out);

// The first of `count` values (every `stride`-th float from `x`) whose magnitude reaches
// `threshold` after at least `quietRun` values below it; -1 when there is none. The quiet run
// skips what an audio server still held of an earlier stream before this one's silence.
std::int64_t findOnset(const float* x, std::size_t count, int stride, double threshold,
                       std::size_t quietRun = 0);

// The delay (device frames) within [minLag, maxLag] at which the captured frames
// x[0..count) (every `stride`-th float) best match the played cycle, x[i] answering cycle
// frame (firstFrame + i − lag) mod cycle length. `firstFrame` is the output frame index of
// x[0] on the stream's clock (frames since the MLS started). Returns the lag and its
// normalised correlation (1.0 for a perfect copy).
struct LagMatch {
    std::int64_t lag = -1;
    double correlation = 0.0;
};
LagMatch bestLag(const PlayedMls& played, const float* x, std::size_t count, int stride,
                 std::int64_t firstFrame, std::int64_t minLag, std::int64_t maxLag);

// --- the sweep ---------------------------------------------------------------------------

// The sweep a capture request asks for, planned at the device's rate and played at `amplitude`
// (peak, 1.0 = digital full scale).
dsp::SweepPlan planDeviceSweep(const CaptureRequest& request, int deviceHz, double amplitude);

// The sweep as the stream plays it: once, from the stream frame it starts on, then silence.
PlayedMls makePlayedSweep(const RateLink& link, const dsp::SweepPlan& plan);

// Device frames captured after the sweep's last sample: enough for the noise estimate's stretch
// after the linear response (a segment past 1.25 second-harmonic leads), and no more, so that a
// measurement lasts little longer than the sweep.
std::int64_t sweepTailFrames(const dsp::SweepPlan& plan);

// Where a loop's impulse lies in the response to the sweep in `capture` (sample 0 played with
// the sweep's first sample): its lag in device frames, -1 when no impulse stands out of the
// noise. `concentration` is the share of the linear response's energy within a few samples of
// the peak (near 1 for a cable; a buffer lost or repeated in mid-sweep splits the impulse).
struct SweepArrival {
    std::int64_t lag = -1;
    double concentration = 0.0;
};
SweepArrival sweepArrival(const dsp::SweepPlan& plan, std::span<const double> capture,
                          std::int64_t maxLag);

// Whether the sweep came back whole in `x` (x[i] answering sweep frame i, `count` frames): in
// blocks from 100 Hz on its correlation with the played sweep, taken regardless of phase,
// stays within 0.85 of the best block's. A buffer lost or repeated in mid-sweep spoils the
// block it falls in and, the sweep then being off in time, those after it.
bool sweepArrivedWhole(const dsp::SweepPlan& plan, const PlayedMls& sweep, const float* x,
                       std::size_t count);

// How strongly a sweep's record holds `hz`: the sweep's band with its fades, and the band edge
// of the played MLS (`edgeSource`: the MLS at the record's program rate), which the record is
// band-limited with so that it ends where an MLS record ends.
double sweepStimulusGain(const dsp::SweepPlan& plan, const PlayedMls& edgeSource, double hz);

// The record of a sweep's deconvolution `d`: the linear impulse response brought to the
// program's rate, band-limited like the MLS (`edgeSource`), multiplied by `countsPerUnit` (the
// counts a unity chain's response reads) and placed with its time zero on index
// 4 + kAlignedDelaySamples, where a direct loop's MLS impulse lies. out holds 4096 values.
// False when the rate converter failed.
bool sweepRecord(const dsp::SweepPlan& plan, const dsp::SweepDeconvolution& d,
                 const PlayedMls& edgeSource, double countsPerUnit, double* out);

} // namespace box::soundcard
