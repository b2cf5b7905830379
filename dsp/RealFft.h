// A double-precision FFT of real sequences for the long transforms of a sweep (2^17 to 2^19
// points), beside the program's own 4096-point float transform, which stays as it is.
#pragma once

#include <complex>
#include <vector>

namespace dsp
{

// The transform of one power-of-two length N (2^2 .. 2^24); its tables are built once in the
// constructor, so a caller that transforms several sequences of one length keeps one object.
// It owns its work array: one object serves one thread.
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
    void forward(const double* x, std::complex<double>* spectrum);
    // The inverse of forward including the 1/N: x receives N values. Only the N/2 + 1 bins of
    // a real sequence's spectrum are read; the imaginary parts of bins 0 and N/2 are ignored.
    void inverse(const std::complex<double>* spectrum, double* x);

private:
    // In-place complex transform of the half length N/2, sign -1 forward, +1 inverse.
    void complexTransform(std::complex<double>* z, bool inverse);

    int n_ = 0;
    int half_ = 0;
    std::vector<int> bitReversed_;                    // N/2 entries
    std::vector<std::complex<double>> twiddles_;      // e^(-j2pi m/(N/2)), m = 0..N/4-1
    std::vector<std::complex<double>> splitTwiddles_; // e^(-j2pi k/N), k = 0..N/2
    std::vector<std::complex<double>> work_;          // N/2, the packed sequence
};

} // namespace dsp
