#include "dsp/Fft.h"
#include "core/Store.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <complex>
#include <random>
#include <vector>

using namespace dsp;

namespace {

// Naive O(N^2) DFT in double precision with the forward kernel and 1/N scaling: the
// independent reference for the fast transform.
std::vector<std::complex<double>> naiveDft(const std::vector<float>& re,
                                           const std::vector<float>& im)
{
    const int n = static_cast<int>(re.size());
    std::vector<std::complex<double>> out(n);
    const double pi = std::acos(-1.0);
    for (int k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (int t = 0; t < n; ++t) {
            const double angle =
                -2.0 * pi * static_cast<double>((static_cast<long>(k) * t) % n) / n;
            sum += std::complex<double>(re[t], im[t]) * std::polar(1.0, angle);
        }
        out[k] = sum / static_cast<double>(n);
    }
    return out;
}

std::vector<float> randomSignal(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(gen);
    return v;
}

struct OwnWork {
    std::vector<float> re = std::vector<float>(kFftMaxSize, 0.0f);
    std::vector<float> im = std::vector<float>(kFftMaxSize, 0.0f);
    FftWork work() { return {re.data(), im.data()}; }
};

} // namespace

class FftTest : public testsupport::RecordsTest
{
};

TEST_F(FftTest, BitReverse)
{
    EXPECT_EQ(bitReverse(1, 12), 2048u);
    EXPECT_EQ(bitReverse(6, 4), 6u);
    EXPECT_EQ(bitReverse(0b100110, 6), 0b011001u);
    EXPECT_EQ(bitReverse(5, 0), 0u);
}

TEST_F(FftTest, ForwardMatchesNaiveDft)
{
    for (int order : {3, 9, 12}) {
        const int n = 1 << order;
        OwnWork w;
        std::vector<float> re = randomSignal(n, 1u + order);
        std::vector<float> im = randomSignal(n, 100u + order);
        std::copy(re.begin(), re.end(), w.re.begin());
        std::copy(im.begin(), im.end(), w.im.begin());
        const auto ref = naiveDft(re, im);
        fftForward(w.work(), order);
        double peak = 0.0;
        for (const auto& c : ref)
            peak = std::max(peak, std::abs(c));
        for (int k = 0; k < n; ++k) {
            ASSERT_NEAR(w.re[k], ref[k].real(), 1e-5 * peak) << "order " << order << " bin " << k;
            ASSERT_NEAR(w.im[k], ref[k].imag(), 1e-5 * peak) << "order " << order << " bin " << k;
        }
    }
}

TEST_F(FftTest, ImpulseConstantAndCosine)
{
    auto& s = core::store();
    const int n = 4096;
    s.fftRe.fill(0.0f);
    s.fftIm.fill(0.0f);
    s.fftRe[0] = 1.0f;
    fftForward(12);
    for (int k = 0; k < n; ++k) {
        ASSERT_FLOAT_EQ(s.fftRe[k], 1.0f / n);
        ASSERT_EQ(s.fftIm[k], 0.0f);
    }
    fftInverse(12);
    EXPECT_NEAR(s.fftRe[0], 1.0f, 1e-6);
    for (int k = 1; k < n; ++k)
        ASSERT_NEAR(s.fftRe[k], 0.0f, 1e-6);

    s.fftRe.fill(2.5f);
    s.fftIm.fill(0.0f);
    fftForward(9);
    EXPECT_NEAR(s.fftRe[0], 2.5f, 1e-6);
    EXPECT_NEAR(s.fftRe[1], 0.0f, 1e-6);

    // A cosine of 7 cycles per record, amplitude 3: 1.5 in bins 7 and N - 7.
    const double pi = std::acos(-1.0);
    for (int t = 0; t < 1024; ++t)
        s.fftRe[t] = static_cast<float>(3.0 * std::cos(2.0 * pi * 7 * t / 1024));
    std::fill(s.fftIm.begin(), s.fftIm.end(), 0.0f);
    fftForward(10);
    EXPECT_NEAR(s.fftRe[7], 1.5f, 1e-5);
    EXPECT_NEAR(s.fftRe[1024 - 7], 1.5f, 1e-5);
    EXPECT_NEAR(s.fftRe[8], 0.0f, 1e-5);
}

TEST_F(FftTest, RoundTripOnSharedAndOwnArrays)
{
    auto& s = core::store();
    const std::vector<float> x = randomSignal(2048, 7);
    std::copy(x.begin(), x.end(), s.fftRe.begin());
    std::fill(s.fftIm.begin(), s.fftIm.end(), 0.0f);
    s.fftRe[2048] = 99.0f; // beyond the transform: must stay untouched
    OwnWork w;
    std::copy(x.begin(), x.end(), w.re.begin());

    fftForward(11);
    fftForward(w.work(), 11);
    for (int k = 0; k < 2048; ++k) {
        ASSERT_EQ(s.fftRe[k], w.re[k]);
        ASSERT_EQ(s.fftIm[k], w.im[k]);
    }
    fftInverse(11);
    for (int k = 0; k < 2048; ++k) {
        ASSERT_NEAR(s.fftRe[k], x[k], 1e-5);
        ASSERT_NEAR(s.fftIm[k], 0.0f, 1e-5);
    }
    EXPECT_EQ(s.fftRe[2048], 99.0f);
}

TEST_F(FftTest, WindowsAtKnownPoints)
{
    EXPECT_DOUBLE_EQ(windowValue(3, 0, 512), 0.5 * (1.0 + std::cos(3.14155)));
    EXPECT_GT(windowValue(3, 0, 512), 0.0);
    EXPECT_NEAR(windowValue(3, 256, 512), 1.0, 1e-8);
    EXPECT_NEAR(windowValue(2, 0, 4096), 0.08, 1e-8);
    EXPECT_NEAR(windowValue(2, 2048, 4096), 1.0, 1e-8);
    EXPECT_NEAR(windowValue(4, 0, 1024), 0.0, 1e-8);
    EXPECT_NEAR(windowValue(4, 512, 1024), 1.0, 1e-4);
    EXPECT_EQ(windowValue(1, 5, 512), 1.0);
    // Periodic: n = N/4 of the Hanning window is 0.5.
    EXPECT_NEAR(windowValue(3, 128, 512), 0.5, 1e-4);

    std::vector<float> v(513, 2.0f);
    applyWindow(v.data(), 512, 1);
    EXPECT_EQ(v[0], 2.0f);
    applyWindow(v.data(), 512, 3);
    EXPECT_FLOAT_EQ(v[0], static_cast<float>(2.0 * windowValue(3, 0, 512)));
    EXPECT_NEAR(v[256], 2.0f, 1e-6);
    EXPECT_EQ(v[512], 2.0f);
}

TEST_F(FftTest, HilbertOfCosineIsSine)
{
    auto& s = core::store();
    const double pi = std::acos(-1.0);
    for (int t = 0; t < 512; ++t)
        s.fftRe[t] = static_cast<float>(std::cos(2.0 * pi * 5 * t / 512));
    std::fill(s.fftIm.begin(), s.fftIm.end(), 0.0f);
    hilbertTransform(512);
    for (int t = 0; t < 512; ++t)
        ASSERT_NEAR(s.fftRe[t], std::sin(2.0 * pi * 5 * t / 512), 1e-5) << t;

    OwnWork w;
    for (int t = 0; t < 4096; ++t)
        w.re[t] = static_cast<float>(std::sin(2.0 * pi * 33 * t / 4096));
    hilbertTransform(w.work(), 4096);
    for (int t = 0; t < 4096; ++t)
        ASSERT_NEAR(w.re[t], -std::cos(2.0 * pi * 33 * t / 4096), 1e-5) << t;
}

TEST_F(FftTest, ProportionalSmoothing)
{
    std::vector<float> flat(2049, 4.0f);
    smoothProportional(flat.data(), 3, 0, 2048);
    for (float v : flat)
        ASSERT_NEAR(v, 4.0f, 1e-5);

    // Step at bin 95: bin 100 averages bins 89..100 (d = 11), six of them ones.
    std::vector<float> step(2049, 0.0f);
    for (int i = 95; i <= 2048; ++i)
        step[i] = 1.0f;
    std::vector<float> untouched = step;
    smoothProportional(step.data(), 20000, 0, 2048);
    EXPECT_EQ(step, untouched);
    smoothProportional(step.data(), 3, 0, 2048);
    EXPECT_NEAR(step[100], 6.0f / 12.0f, 1e-6);
    EXPECT_EQ(step[94], 0.0f);
    EXPECT_NEAR(step[95], 1.0f / 11.0f, 1e-6); // d = 10: bins 85..95
    EXPECT_EQ(step[8], 0.0f);                  // below 3a nothing changes

    // One-sided and from unsmoothed values: compare with a direct evaluation.
    std::vector<float> ramp(301);
    for (int i = 0; i <= 300; ++i)
        ramp[i] = static_cast<float>(i * i % 17);
    std::vector<float> expect = ramp;
    for (int i = 300; i > 40; --i) {
        const int d = i / 18;
        double sum = 0.0;
        for (int j = i - d; j <= i; ++j)
            sum += ramp[j];
        expect[i] = static_cast<float>(sum / (d + 1));
    }
    smoothProportional(ramp.data(), 6, 40, 300);
    for (int i = 0; i <= 300; ++i)
        ASSERT_NEAR(ramp[i], expect[i], 1e-5) << i;
}
