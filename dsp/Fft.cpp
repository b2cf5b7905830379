#include "dsp/Fft.h"

#include "core/Store.h"

#include <array>
#include <cmath>

namespace dsp {

namespace {

// The program's own single-precision pi for the FFT twiddles.
constexpr double kFftPi = static_cast<double>(3.1415927f);

// Twiddles of the 4096-point transform; a smaller transform of order M reads every
// 2^(12 - M)-th entry. Only angles below pi occur (the bit-reversed group index is even).
struct FftTables {
    std::array<double, kFftMaxSize / 2> cosine{};
    std::array<double, kFftMaxSize / 2> sine{};
    std::array<unsigned short, kFftMaxSize> reverse12{};

    FftTables()
    {
        for (int r = 0; r < kFftMaxSize / 2; ++r) {
            const double angle = 2.0 * kFftPi * r / kFftMaxSize;
            cosine[r] = std::cos(angle);
            sine[r] = std::sin(angle);
        }
        for (int k = 0; k < kFftMaxSize; ++k)
            reverse12[k] = static_cast<unsigned short>(bitReverse(static_cast<unsigned>(k), 12));
    }
};

const FftTables& tables()
{
    static const FftTables t;
    return t;
}

// Decimation in time on natural-order input with bit-reversed twiddles, then the reordering.
template <bool kForward> void transform(FftWork w, int order)
{
    if (order < 1 || order > kFftMaxOrder)
        return;
    const FftTables& t = tables();
    const int n = 1 << order;
    const int tableStep = kFftMaxSize / n;
    float* re = w.re;
    float* im = w.im;
    for (int half = n / 2, e = order - 1; half >= 1; half /= 2, --e) {
        for (int start = 0; start < n; start += 2 * half) {
            // p = k / 2^e is the same for every butterfly of the group.
            const unsigned p = static_cast<unsigned>(start) >> e;
            const unsigned r = t.reverse12[p] >> (kFftMaxOrder - order);
            const double c = t.cosine[r * tableStep];
            const double s = t.sine[r * tableStep];
            for (int k = start; k < start + half; ++k) {
                const double xRe = re[k + half];
                const double xIm = im[k + half];
                const double aRe = re[k];
                const double aIm = im[k];
                if constexpr (kForward) {
                    const double tRe = c * xRe + s * xIm;
                    const double tIm = c * xIm - s * xRe;
                    re[k + half] = static_cast<float>((aRe - tRe) * 0.5);
                    im[k + half] = static_cast<float>((aIm - tIm) * 0.5);
                    re[k] = static_cast<float>((aRe + tRe) * 0.5);
                    im[k] = static_cast<float>((aIm + tIm) * 0.5);
                } else {
                    const double tRe = c * xRe - s * xIm;
                    const double tIm = c * xIm + s * xRe;
                    re[k + half] = static_cast<float>(aRe - tRe);
                    im[k + half] = static_cast<float>(aIm - tIm);
                    re[k] = static_cast<float>(aRe + tRe);
                    im[k] = static_cast<float>(aIm + tIm);
                }
            }
        }
    }
    for (int k = 0; k < n; ++k) {
        const int r = t.reverse12[k] >> (kFftMaxOrder - order);
        if (r > k) {
            std::swap(re[k], re[r]);
            std::swap(im[k], im[r]);
        }
    }
}

} // namespace

FftWork sharedFftWork()
{
    core::MeasurementStore& s = core::store();
    return {s.fftRe.data(), s.fftIm.data()};
}

int fftOrderFor(int fftLength)
{
    switch (fftLength) {
    case 512:
        return 9;
    case 1024:
        return 10;
    case 2048:
        return 11;
    default:
        return 12;
    }
}

int fftLengthFor(int fftLength)
{
    return 1 << fftOrderFor(fftLength);
}

unsigned bitReverse(unsigned value, int bits)
{
    unsigned r = 0;
    for (int i = 0; i < bits; ++i) {
        r = 2 * r + (value % 2);
        value /= 2;
    }
    return r;
}

void fftForward(int fftOrder)
{
    transform<true>(sharedFftWork(), fftOrder);
}
void fftForward(FftWork work, int fftOrder)
{
    transform<true>(work, fftOrder);
}
void fftInverse(int fftOrder)
{
    transform<false>(sharedFftWork(), fftOrder);
}
void fftInverse(FftWork work, int fftOrder)
{
    transform<false>(work, fftOrder);
}

double windowValue(int windowCode, int n, int N)
{
    if (N <= 0)
        return 1.0;
    // 6.2831, 3.14155 and 12.5662 are the program's own approximations of 2pi, pi and 4pi;
    // they make w(0) a tiny positive value rather than 0 and are kept as they are.
    const double x = 6.2831 * n / N + 3.14155;
    switch (windowCode) {
    case 2:
        return 0.54 + 0.46 * std::cos(x);
    case 3:
        return 0.5 * (1.0 + std::cos(x));
    case 4:
        return 0.42 + 0.5 * std::cos(x) + 0.08 * std::cos(12.5662 * n / N);
    default:
        return 1.0;
    }
}

void applyWindow(float* samples, int N, int windowCode)
{
    if (windowCode < 2 || windowCode > 4 || N <= 0)
        return;
    if (N > kFftMaxSize)
        N = kFftMaxSize;
    for (int n = 0; n < N; ++n)
        samples[n] = static_cast<float>(samples[n] * windowValue(windowCode, n, N));
}

void hilbertTransform(int N)
{
    hilbertTransform(sharedFftWork(), N);
}

void hilbertTransform(FftWork w, int N)
{
    const int order = fftOrderFor(N);
    const int n = 1 << order;
    fftForward(w, order);
    for (int i = 0; i < n; ++i) {
        const float re = w.re[i];
        const float im = w.im[i];
        if (i <= n / 2) { // times -j; bins 0 and N/2 go with the positive ones
            w.re[i] = im;
            w.im[i] = -re;
        } else { // times +j
            w.re[i] = -im;
            w.im[i] = re;
        }
    }
    fftInverse(w, order);
}

void smoothProportional(float* values, int octaveDivisor, int lowBin, int highBin)
{
    if (octaveDivisor == 20000 || octaveDivisor <= 0)
        return;
    if (highBin > kFftMaxSize)
        highBin = kFftMaxSize;
    if (lowBin < 0)
        lowBin = 0;
    if (highBin <= lowBin)
        return;
    // Running sums of the untouched values: going downwards, every mean reads only values
    // below the bin being written, so the sums stay valid for the whole pass.
    std::array<double, kFftMaxSize + 2> sum;
    sum[0] = 0.0;
    for (int i = 0; i <= highBin; ++i)
        sum[i + 1] = sum[i] + values[i];
    const int divisor = 3 * octaveDivisor;
    for (int i = highBin; i > lowBin; --i) {
        const int d = i / divisor;
        if (d == 0)
            continue;
        values[i] = static_cast<float>((sum[i + 1] - sum[i - d]) / (d + 1));
    }
}

} // namespace dsp
