// Cumulative spectral decay (waterfall) of the time record.
#pragma once

#include "dsp/Fft.h"

namespace dsp {

inline constexpr int kCsdSlices = 64;
inline constexpr int kCsdBinsPerSlice = 201; // 0 .. 20 kHz in 100 Hz steps

// Cuts a 512-sample segment out of timeRecord at the markers (51.2 kHz data, N the record's
// FFT length from its trailer) and fills csdFrequency/csdLevel/csdTime: point 0 empty, 64
// slices of 201 points, one empty point after them; trailers NO_VALUE, maximum level,
// NO_VALUE. Returns 0.
int computeWaterfall(int N);
int computeWaterfall(FftWork work, int N);

} // namespace dsp
