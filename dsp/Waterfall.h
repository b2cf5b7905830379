// Cumulative spectral decay (waterfall) of the time record.
#pragma once

#include "dsp/Fft.h"

#include <span>

namespace dsp {

inline constexpr int kCsdSlices = 64;
inline constexpr int kCsdBinsPerSlice = 201; // 0 .. 20 kHz in 100 Hz steps
inline constexpr double kCsdSamplePeriodS = 0.00001953125; // 51.2 kHz

// The impulse counts as arrived where it first reaches this fraction of its peak (-20 dB):
// far above the noise before the sound, well below the first half-wave.
inline constexpr double kArrivalFraction = 0.1;
// The segment starts this many samples before the arrival (0.39 ms), so that the rising edge
// of the segment's taper (8 samples) lies in the silence before the sound.
inline constexpr int kArrivalLeadSamples = 20;

// The first sample in [from, to) whose magnitude reaches kArrivalFraction of the largest
// magnitude in that range; -1 when the range is empty or silent. Samples that are not
// finite or are the store's NO_VALUE do not count.
int impulseArrival(std::span<const float> samples, int from, int to);

// The samples the waterfall is cut from: the markers' samples, except that a start before
// the impulse's arrival moves to kArrivalLeadSamples before it. Before the sound the slices
// would all hold the whole impulse and show no decay.
struct WaterfallSpan {
    int start = 0;
    int end = 0;
    bool startsAtArrival = false; // the start was moved to the arrival
};
WaterfallSpan waterfallSpan(std::span<const float> samples, int N, int marker1Pos, int marker2Pos);

// Cuts a 512-sample segment out of timeRecord at waterfallSpan (51.2 kHz data, N the record's
// FFT length from its trailer) and fills csdFrequency/csdLevel/csdTime: point 0 empty, 64
// slices of 201 points, one empty point after them; trailers NO_VALUE, maximum level,
// NO_VALUE. Returns 0.
int computeWaterfall(int N);
int computeWaterfall(FftWork work, int N);

} // namespace dsp
