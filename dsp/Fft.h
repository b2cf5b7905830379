// FFT, time windows, Hilbert transform and proportional smoothing: the numeric primitives of
// every spectral computation.
//
// The transforms work in place on a pair of real/imaginary work arrays of 4096 floats. The
// store's fftRe/fftIm are the default pair; the level worker passes its own pair so that it
// never shares arrays with the user-interface thread.
#pragma once

namespace dsp {

inline constexpr int kFftMaxOrder = 12;
inline constexpr int kFftMaxSize = 1 << kFftMaxOrder;

struct FftWork {
    float* re;
    float* im;
};

// The store's fftRe/fftIm.
FftWork sharedFftWork();

// 512 -> 9, 1024 -> 10, 2048 -> 11, 4096 and anything else -> 12.
int fftOrderFor(int fftLength);
// The lengths the computations accept: 512, 1024, 2048, anything else counts as 4096.
int fftLengthFor(int fftLength);

// `value` with its lowest `bits` bits in reverse order (bits 0..31).
unsigned bitReverse(unsigned value, int bits);

// Forward DFT with the kernel e^(-j2pi kn/N), scaled by 1/N (every butterfly halves), so a
// constant input a gives re[0] = a. N = 2^fftOrder; orders outside 1..12 do nothing.
void fftForward(int fftOrder);
void fftForward(FftWork work, int fftOrder);
// Inverse transform, unscaled: fftInverse after fftForward restores the input.
void fftInverse(int fftOrder);
void fftInverse(FftWork work, int fftOrder);

// Window factor w(n) of window code 1 "Rechteck", 2 "Hammig", 3 "Hanning", 4 "Blackman"
// (periodic: divided by N). Unknown codes give 1.
double windowValue(int windowCode, int n, int N);
// Multiplies samples[0..N-1] by the window; N is limited to 0..4096.
void applyWindow(float* samples, int N, int windowCode);

// Hilbert transform of the real sequence in re[0..N-1] (im is overwritten); the result is
// left in re. N is taken as 512, 1024, 2048 or 4096 like the FFT lengths.
void hilbertTransform(int N);
void hilbertTransform(FftWork work, int N);

// One-sided proportional moving average, in place: for i = highBin down to lowBin + 1, v[i]
// becomes the mean of the not yet smoothed v[i - d] .. v[i] with d = i / (3 a). a = 20000
// means no smoothing. highBin is limited to 4096; values must hold highBin + 1 floats.
void smoothProportional(float* values, int octaveDivisor, int lowBin, int highBin);

} // namespace dsp
