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
    int bits = 0;
    while ((1 << bits) < half_)
        ++bits;
    bitReversed_.resize(static_cast<std::size_t>(half_));
    for (int i = 0; i < half_; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        bitReversed_[static_cast<std::size_t>(i)] = r;
    }
    // Each factor from its own angle rather than by repeated multiplication, so that the
    // error does not grow along the table.
    const double step = 2.0 * std::numbers::pi / n_;
    twiddles_.resize(static_cast<std::size_t>(std::max(1, half_ / 2)));
    for (std::size_t m = 0; m < twiddles_.size(); ++m)
        twiddles_[m] = std::polar(1.0, -2.0 * step * static_cast<double>(m));
    splitTwiddles_.resize(static_cast<std::size_t>(half_ + 1));
    for (std::size_t k = 0; k < splitTwiddles_.size(); ++k)
        splitTwiddles_[k] = std::polar(1.0, -step * static_cast<double>(k));
    work_.resize(static_cast<std::size_t>(half_));
}

void RealFft::complexTransform(std::complex<double>* z, bool inverse)
{
    for (int i = 0; i < half_; ++i) {
        const int r = bitReversed_[static_cast<std::size_t>(i)];
        if (r > i)
            std::swap(z[i], z[r]);
    }
    for (int len = 2; len <= half_; len <<= 1) {
        const int halfLen = len / 2;
        const int stride = half_ / len;
        for (int start = 0; start < half_; start += len) {
            std::complex<double>* a = z + start;
            std::complex<double>* b = a + halfLen;
            for (int j = 0; j < halfLen; ++j) {
                std::complex<double> w = twiddles_[static_cast<std::size_t>(j * stride)];
                if (inverse)
                    w = std::conj(w);
                // Written out: std::complex's operator* checks for infinities on every call.
                const double tr = b[j].real() * w.real() - b[j].imag() * w.imag();
                const double ti = b[j].real() * w.imag() + b[j].imag() * w.real();
                const std::complex<double> t(tr, ti);
                b[j] = a[j] - t;
                a[j] += t;
            }
        }
    }
}

void RealFft::forward(const double* x, std::complex<double>* spectrum)
{
    // The even samples as real parts, the odd ones as imaginary parts: one complex transform
    // of half the length, then split into the two halves' spectra.
    for (int i = 0; i < half_; ++i)
        work_[static_cast<std::size_t>(i)] = {x[2 * i], x[2 * i + 1]};
    complexTransform(work_.data(), false);
    for (int k = 0; k <= half_; ++k) {
        const std::complex<double> zk = work_[static_cast<std::size_t>(k % half_)];
        const std::complex<double> zc =
            std::conj(work_[static_cast<std::size_t>((half_ - k) % half_)]);
        const std::complex<double> even = 0.5 * (zk + zc);
        const std::complex<double> diff = 0.5 * (zk - zc);
        const std::complex<double> odd(diff.imag(), -diff.real()); // diff / j
        const std::complex<double> w = splitTwiddles_[static_cast<std::size_t>(k)];
        spectrum[k] = even + std::complex<double>(odd.real() * w.real() - odd.imag() * w.imag(),
                                                  odd.real() * w.imag() + odd.imag() * w.real());
    }
}

void RealFft::inverse(const std::complex<double>* spectrum, double* x)
{
    auto bin = [&](int k) {
        if (k == 0 || k == half_)
            return std::complex<double>(spectrum[k].real(), 0.0);
        return spectrum[k];
    };
    for (int k = 0; k < half_; ++k) {
        const std::complex<double> xk = bin(k);
        const std::complex<double> xc = std::conj(bin(half_ - k));
        const std::complex<double> even = 0.5 * (xk + xc);
        const std::complex<double> diff = 0.5 * (xk - xc);
        const std::complex<double> w = std::conj(splitTwiddles_[static_cast<std::size_t>(k)]);
        const std::complex<double> odd(diff.real() * w.real() - diff.imag() * w.imag(),
                                       diff.real() * w.imag() + diff.imag() * w.real());
        // even + j odd
        work_[static_cast<std::size_t>(k)] = {even.real() - odd.imag(), even.imag() + odd.real()};
    }
    complexTransform(work_.data(), true);
    const double scale = 1.0 / half_;
    for (int i = 0; i < half_; ++i) {
        x[2 * i] = work_[static_cast<std::size_t>(i)].real() * scale;
        x[2 * i + 1] = work_[static_cast<std::size_t>(i)].imag() * scale;
    }
}

} // namespace dsp
