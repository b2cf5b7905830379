// The long real FFT of the sweep analysis against a naive DFT.
#include "dsp/RealFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

using namespace dsp;

namespace
{

constexpr double kPi = std::numbers::pi;

} // namespace

TEST(RealFftTest, MatchesNaiveDftAndRoundTrips)
{
    for (int n : {4, 8, 64, 1024}) {
        RealFft fft(n);
        ASSERT_EQ(fft.length(), n);
        std::mt19937 rng(n);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<double> x(static_cast<std::size_t>(n));
        for (double& v : x)
            v = u(rng);
        std::vector<std::complex<double>> s(static_cast<std::size_t>(n / 2 + 2));
        s.back() = {999.0, 999.0}; // overrun guard
        fft.forward(x.data(), s.data());
        EXPECT_EQ(s.back(), std::complex<double>(999.0, 999.0));
        for (int k = 0; k <= n / 2; ++k) {
            std::complex<double> ref = 0.0;
            for (int t = 0; t < n; ++t)
                ref += x[static_cast<std::size_t>(t)] *
                       std::polar(1.0, -2.0 * kPi * static_cast<double>((k * t) % n) / n);
            EXPECT_NEAR(std::abs(s[static_cast<std::size_t>(k)] - ref), 0.0, 1e-11 * n)
                << "n " << n << " bin " << k;
        }
        std::vector<double> back(static_cast<std::size_t>(n + 1), 777.0);
        fft.inverse(s.data(), back.data());
        EXPECT_EQ(back.back(), 777.0);
        for (int t = 0; t < n; ++t)
            EXPECT_NEAR(back[static_cast<std::size_t>(t)], x[static_cast<std::size_t>(t)], 1e-13);
    }
    EXPECT_EQ(RealFft::lengthFor(100000), 131072);
    EXPECT_EQ(RealFft(1000).length(), 1024);
}
