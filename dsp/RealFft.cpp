#include "dsp/RealFft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dsp
{

namespace
{

constexpr int kMinOrder = 2;
constexpr int kMaxOrder = 24;

// a * b written out: std::complex's operator* checks for infinities on every call.
inline std::complex<double> times(std::complex<double> a, std::complex<double> b)
{
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

} // namespace

int RealFft::lengthFor(long samples)
{
    int order = kMinOrder;
    while (order < kMaxOrder && (1L << order) < samples)
        ++order;
    return 1 << order;
}

RealFft::RealFft(int length) : n_(lengthFor(length)), half_(n_ / 2)
{
    // e^(-j2pi k/N) for k = 0..N/2 from the first eighth of the circle by its symmetries; each
    // value from its own angle rather than by repeated multiplication, so that the error does
    // not grow along the table.
    twiddles_.assign(static_cast<std::size_t>(half_ + 1), {});
    const double step = 2.0 * std::numbers::pi / n_;
    const int quarter = n_ / 4;
    for (int k = 0; k <= n_ / 8; ++k) {
        const double c = std::cos(step * k);
        const double s = std::sin(step * k);
        auto put = [&](int index, double re, double im) {
            twiddles_[static_cast<std::size_t>(index)] = {re, im};
        };
        put(k, c, -s);
        put(quarter - k, s, -c);
        put(quarter + k, -s, -c);
        put(half_ - k, -c, -s);
    }
}

void RealFft::complexTransform(std::complex<double>* z, bool inverse) const
{
    // Bit-reversed order by counting backwards in reversed binary.
    for (int i = 1, r = 0; i < half_; ++i) {
        int bit = half_ >> 1;
        while (r & bit) {
            r ^= bit;
            bit >>= 1;
        }
        r |= bit;
        if (r > i)
            std::swap(z[i], z[r]);
    }
    // The half length's factors e^(-j2pi m/(N/2)) are every second entry of the table.
    for (int len = 2; len <= half_; len <<= 1) {
        const int halfLen = len / 2;
        const int stride = 2 * (half_ / len);
        for (int start = 0; start < half_; start += len) {
            std::complex<double>* a = z + start;
            std::complex<double>* b = a + halfLen;
            for (int j = 0; j < halfLen; ++j) {
                std::complex<double> w = twiddles_[static_cast<std::size_t>(j * stride)];
                if (inverse)
                    w = std::conj(w);
                const std::complex<double> t = times(b[j], w);
                b[j] = a[j] - t;
                a[j] += t;
            }
        }
    }
}

void RealFft::forward(const double* x, std::complex<double>* spectrum) const
{
    // The even samples as real parts, the odd ones as imaginary parts: one complex transform
    // of half the length in the output array, then split into the two halves' spectra, bins k
    // and N/2 - k together so that it can be done in place.
    for (int i = 0; i < half_; ++i)
        spectrum[i] = {x[2 * i], x[2 * i + 1]};
    complexTransform(spectrum, false);
    auto split = [&](std::complex<double> zk, std::complex<double> zmk, int k) {
        const std::complex<double> zc = std::conj(zmk);
        const std::complex<double> even = 0.5 * (zk + zc);
        const std::complex<double> diff = 0.5 * (zk - zc);
        const std::complex<double> odd(diff.imag(), -diff.real()); // diff / j
        return even + times(odd, twiddles_[static_cast<std::size_t>(k)]);
    };
    const std::complex<double> z0 = spectrum[0];
    spectrum[0] = split(z0, z0, 0);
    spectrum[half_] = split(z0, z0, half_);
    for (int k = 1; k <= half_ / 2; ++k) {
        const std::complex<double> zk = spectrum[k];
        const std::complex<double> zm = spectrum[half_ - k];
        spectrum[k] = split(zk, zm, k);
        spectrum[half_ - k] = split(zm, zk, half_ - k);
    }
}

void RealFft::inverse(std::complex<double>* spectrum, double* x) const
{
    // Bins 0 and N/2 of a real sequence are real; what else they hold is ignored.
    spectrum[0] = {spectrum[0].real(), 0.0};
    spectrum[half_] = {spectrum[half_].real(), 0.0};
    auto merge = [&](std::complex<double> xk, std::complex<double> xmk, int k) {
        const std::complex<double> xc = std::conj(xmk);
        const std::complex<double> even = 0.5 * (xk + xc);
        const std::complex<double> diff = 0.5 * (xk - xc);
        const std::complex<double> odd =
            times(diff, std::conj(twiddles_[static_cast<std::size_t>(k)]));
        return std::complex<double>(even.real() - odd.imag(),
                                    even.imag() + odd.real()); // even + j odd
    };
    const std::complex<double> x0 = spectrum[0];
    const std::complex<double> xh = spectrum[half_];
    spectrum[0] = merge(x0, xh, 0);
    for (int k = 1; k <= half_ / 2; ++k) {
        const std::complex<double> xk = spectrum[k];
        const std::complex<double> xm = spectrum[half_ - k];
        spectrum[k] = merge(xk, xm, k);
        if (half_ - k != k)
            spectrum[half_ - k] = merge(xm, xk, half_ - k);
    }
    complexTransform(spectrum, true);
    const double scale = 1.0 / half_;
    for (int i = 0; i < half_; ++i) {
        x[2 * i] = spectrum[i].real() * scale;
        x[2 * i + 1] = spectrum[i].imag() * scale;
    }
}

} // namespace dsp
