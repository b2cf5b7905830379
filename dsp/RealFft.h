// A double-precision FFT of real sequences for the long transforms of a sweep (2^17 to 2^19
// points), beside the program's own 4096-point float transform, which stays as it is.
#pragma once

#include <complex>
#include <vector>

namespace dsp
{

// The transform of one power-of-two length N (2^2 .. 2^24); its table is built once in the
// constructor, so a caller that transforms several sequences of one length keeps one object.
// The transforms work in the caller's arrays and leave the object unchanged.
class RealFft
{
public:
    // Lengths that are not a power of two in range are raised to the next one that is.
    explicit RealFft(int length);

    int length() const { return n_; }
    // The smallest length the class accepts that holds `samples` values.
    static int lengthFor(long samples);

    // spectrum[k] = sum over n of x[n] e^(-j2pi kn/N), k = 0..N/2, unscaled. `x` holds N
    // values, `spectrum` receives N/2 + 1.
    void forward(const double* x, std::complex<double>* spectrum) const;
    // The inverse of forward including the 1/N: x receives N values from the N/2 + 1 bins of
    // a real sequence's spectrum (the imaginary parts of bins 0 and N/2 are ignored). The
    // spectrum serves as work space and is left overwritten.
    void inverse(std::complex<double>* spectrum, double* x) const;

private:
    // In-place complex transform of the half length N/2, kernel e^(-j..) forward, e^(+j..)
    // inverse, unscaled.
    void complexTransform(std::complex<double>* z, bool inverse) const;

    int n_ = 0;
    int half_ = 0;
    std::vector<std::complex<double>> twiddles_; // e^(-j2pi k/N), k = 0..N/2
};

} // namespace dsp
