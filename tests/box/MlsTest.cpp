#include "box/Mls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

using namespace box;

namespace {

// +1 for a one bit, -1 for a zero bit.
double bipolar(int n)
{
    return mlsBit(((n % kMlsPeriod) + kMlsPeriod) % kMlsPeriod) ? 1.0 : -1.0;
}

// Direct circular cross-correlation with the +-1 sequence, in double precision: what the
// Hadamard method must reproduce, including the three-sample lag and the output offset.
std::vector<double> directCorrelation(const std::vector<float>& r, double divisor)
{
    std::vector<double> h(kMlsSize, 0.0);
    for (int i = 1; i < kMlsSize; ++i) {
        double sum = 0.0;
        for (int n = 0; n < kMlsPeriod; ++n)
            sum += bipolar(n + 4 - i) * r[n];
        h[i] = sum / divisor;
    }
    return h;
}

} // namespace

TEST(Mls, GeneratorPeriodAndBalance)
{
    unsigned s = kMlsStartState;
    std::vector<bool> seen(kMlsSize, false);
    int ones = 0;
    for (int k = 0; k < kMlsPeriod; ++k) {
        ASSERT_NE(s, 0u);
        ASSERT_FALSE(seen[s]) << "state repeats early at step " << k;
        seen[s] = true;
        ones += static_cast<int>(s & 1u);
        s = mlsNextState(s);
    }
    EXPECT_EQ(s, kMlsStartState);
    EXPECT_EQ(ones, 2048); // one more one than zeros
    // Circular autocorrelation of the +-1 sequence: 4095 at lag 0, -1 elsewhere.
    for (int lag : {1, 2, 3, 100, 2047, 4094}) {
        double sum = 0.0;
        for (int n = 0; n < kMlsPeriod; ++n)
            sum += bipolar(n) * bipolar(n + lag);
        EXPECT_EQ(sum, -1.0) << "lag " << lag;
    }
}

TEST(Mls, OrderTablesHoldTheKnownEntries)
{
    const auto& in = mlsInputOrder();
    const int firstIn[] = {3520, 2944, 1792, 3584, 3073, 2050, 4,    8, 16,
                           32,   64,   128,  256,  512,  1025, 2051, 6, 13};
    for (int k = 0; k < 18; ++k)
        EXPECT_EQ(in[k], firstIn[k]) << k;
    EXPECT_EQ(in[4094], 1760);
    EXPECT_EQ(in[4095], 0);

    const auto& out = mlsOutputOrder();
    const int firstOut[] = {1, 2, 2369, 3, 642, 2370, 632, 4};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(out[k], firstOut[k]) << k;
    EXPECT_EQ(out[4094], 1439);
    EXPECT_EQ(out[4095], 0);

    std::vector<int> sorted(out.begin(), out.begin() + kMlsPeriod);
    std::sort(sorted.begin(), sorted.end());
    for (int k = 0; k < kMlsPeriod; ++k)
        ASSERT_EQ(sorted[k], k + 1);
}

TEST(Mls, OutputMasksSelectDelayedBits)
{
    // The parity of s(n) AND u must be a(n - d(u)) for every state: check all masks over a
    // stretch of the sequence long enough to cover every delay.
    const auto& in = mlsInputOrder();
    const auto& out = mlsOutputOrder();
    for (int u = 1; u < kMlsSize; u += 7) {
        const int d = out[u - 1] - 1;
        for (int n = 0; n < kMlsPeriod; n += 97) {
            const int parity = std::popcount(static_cast<unsigned>(in[n] & u)) & 1;
            ASSERT_EQ(parity, mlsBit((n - d + kMlsPeriod) % kMlsPeriod)) << "u " << u << " n " << n;
        }
    }
}

TEST(Mls, HadamardTransformSmallCases)
{
    float a[4] = {1, 0, 0, 0};
    hadamardTransform(a, 2);
    EXPECT_EQ(std::vector<float>(a, a + 4), (std::vector<float>{1, 1, 1, 1}));
    float b[4] = {0, 1, 0, 0};
    hadamardTransform(b, 2);
    EXPECT_EQ(std::vector<float>(b, b + 4), (std::vector<float>{1, -1, 1, -1}));
    // Applied twice it gives n times the input.
    std::vector<float> c(256);
    for (int i = 0; i < 256; ++i)
        c[i] = static_cast<float>((i * 37) % 11) - 5.0f;
    std::vector<float> d = c;
    hadamardTransform(d.data(), 8);
    hadamardTransform(d.data(), 8);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(d[i], 256.0f * c[i]);
}

TEST(Mls, DeconvolutionWorkedExample)
{
    std::vector<float> r(kMlsSize, 0.0f);
    for (int n = 0; n < kMlsPeriod; ++n)
        r[n] = static_cast<float>(bipolar(n));
    std::vector<float> x = r;
    deconvolveMls(x.data(), 3300.0f);
    EXPECT_EQ(x[0], 0.0f);
    EXPECT_NEAR(x[4], 4095.0 / 3300.0, 1e-6);
    for (int i = 1; i < kMlsSize; ++i)
        if (i != 4) {
            ASSERT_NEAR(x[i], -1.0 / 3300.0, 1e-7) << i;
        }

    // Delayed by D and inverted: a negative peak at 4 + D.
    const int D = 100;
    for (int n = 0; n < kMlsPeriod; ++n)
        x[n] = -static_cast<float>(bipolar(n - D));
    deconvolveMls(x.data(), 3300.0f);
    EXPECT_NEAR(x[4 + D], -4095.0 / 3300.0, 1e-6);
    // A delay past the end of the period wraps round.
    for (int n = 0; n < kMlsPeriod; ++n)
        x[n] = static_cast<float>(bipolar(n - 4093));
    deconvolveMls(x.data(), 3300.0f);
    EXPECT_NEAR(x[2], 4095.0 / 3300.0, 1e-6);
}

TEST(Mls, ZeroAndConstantRecords)
{
    std::vector<float> x(kMlsSize, 0.0f);
    deconvolveMls(x.data(), 57.0f);
    for (float v : x)
        ASSERT_EQ(v, 0.0f);
    std::fill(x.begin(), x.end(), 2.5f);
    deconvolveMls(x.data(), 57.0f);
    EXPECT_EQ(x[0], 0.0f);
    for (int i = 1; i < kMlsSize; ++i)
        ASSERT_NEAR(x[i], 2.5 / 57.0, 1e-6) << i;
}

TEST(Mls, DeconvolutionRecoversAnImpulseResponse)
{
    // A decaying, ringing impulse response played through the sequence by circular
    // convolution, as the box would record it.
    std::vector<double> g(60);
    for (int j = 0; j < 60; ++j)
        g[j] = std::exp(-j / 12.0) * std::cos(j * 0.7);
    std::vector<float> r(kMlsSize, 0.0f);
    for (int n = 0; n < kMlsPeriod; ++n) {
        double sum = 0.0;
        for (int j = 0; j < 60; ++j)
            sum += g[j] * bipolar(n - j);
        r[n] = static_cast<float>(sum);
    }
    const std::vector<double> expected = directCorrelation(r, 3300.0);
    std::vector<float> x = r;
    deconvolveMls(x.data(), 3300.0f);
    double gSum = 0.0;
    for (double v : g)
        gSum += v;
    for (int i = 0; i < kMlsSize; ++i) {
        ASSERT_NEAR(x[i], expected[i], 2e-5) << i;
        // Each tap comes back at 4 + j, scaled by 4096 / divisor, riding on -sum(g)/divisor.
        const double tap = (i >= 4 && i < 64) ? g[i - 4] : 0.0;
        if (i > 0) {
            ASSERT_NEAR(x[i], (4096.0 * tap - gSum) / 3300.0, 2e-5) << i;
        }
    }
}
