// The sweep and its distortion analysis, checked against devices whose response and harmonics
// are known in closed form: a biquad filter's transfer function evaluated directly, and
// memoryless polynomials whose harmonics follow from the sweep's amplitude by trigonometry.
#include "dsp/Sweep.h"
#include "dsp/Distortion.h"
#include "dsp/RealFft.h"

#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

using namespace dsp;

namespace
{

constexpr double kPi = std::numbers::pi;

double db(double magnitude)
{
    return 20.0 * std::log10(magnitude);
}

// The sweep followed by silence, as long as the analysis wants it.
std::vector<double> paddedSweep(const SweepPlan& plan)
{
    std::vector<double> x = makeSweep(plan);
    x.resize(static_cast<std::size_t>(recommendedCaptureSamples(plan)), 0.0);
    return x;
}

std::vector<double> applyMemoryless(const std::vector<double>& x,
                                    const std::function<double(double)>& device)
{
    std::vector<double> y(x.size());
    std::transform(x.begin(), x.end(), y.begin(), device);
    return y;
}

// A second-order section in direct form I with its analytic response: the independent
// reference for the linear measurement.
struct Biquad {
    double b0, b1, b2, a1, a2;

    std::vector<double> filter(const std::vector<double>& x) const
    {
        std::vector<double> y(x.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            y[n] = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x[n];
            y2 = y1;
            y1 = y[n];
        }
        return y;
    }
    double magnitude(double hz, double rate) const
    {
        const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * hz / rate);
        return std::abs((b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1));
    }
};

// Peaking equaliser and high-pass after the well-known cookbook formulas.
Biquad peaking(double hz, double q, double gainDb, double rate)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double w = 2.0 * kPi * hz / rate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double a0 = 1.0 + alpha / a;
    return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha * a) / a0,
            -2.0 * std::cos(w) / a0, (1.0 - alpha / a) / a0};
}

Biquad highPass(double hz, double q, double rate)
{
    const double w = 2.0 * kPi * hz / rate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    const double c = std::cos(w);
    return {(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
            (1.0 - alpha) / a0};
}

// Largest |measured - expected| over the points of a curve whose frequency lies in lo..hi.
double worstDeviation(const std::vector<double>& hz, const std::vector<double>& measured, double lo,
                      double hi, const std::function<double(double)>& expected)
{
    double worst = 0.0;
    for (std::size_t i = 0; i < measured.size() && i < hz.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi)
            worst = std::max(worst, std::abs(measured[i] - expected(hz[i])));
    return worst;
}

// The highest value of a curve over the points whose frequency lies in lo..hi.
double highest(const std::vector<double>& hz, const std::vector<double>& curve, double lo,
               double hi)
{
    double top = -1e300;
    for (std::size_t i = 0; i < curve.size() && i < hz.size(); ++i)
        if (hz[i] >= lo && hz[i] <= hi)
            top = std::max(top, curve[i]);
    return top;
}

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

TEST(SweepPlanTest, ClampsAndSynchronises)
{
    const SweepPlan p = planSweep(SweepRequest{});
    EXPECT_EQ(p.startHz, 20.0);
    EXPECT_EQ(p.endHz, 20000.0);
    // startHz * L whole, and the length the nearest one that allows it.
    EXPECT_NEAR(p.startHz * p.timeConstantSeconds, std::round(p.startHz * p.timeConstantSeconds),
                1e-9);
    EXPECT_NEAR(p.lengthSeconds, p.timeConstantSeconds * std::log(1000.0), 1e-12);
    EXPECT_NEAR(p.lengthSeconds, 2.0, 0.5 * std::log(1000.0) / 20.0);
    EXPECT_LE(p.highestHz, 0.95 * 24000.0);
    EXPECT_EQ(static_cast<int>(makeSweep(p).size()), p.totalSamples);

    SweepRequest high;
    high.endHz = 30000.0;
    EXPECT_EQ(planSweep(high).endHz, 0.9 * 24000.0);
    high.rateHz = 44100;
    high.endHz = 20000.0;
    EXPECT_EQ(planSweep(high).endHz, 0.9 * 22050.0);
    EXPECT_LE(planSweep(high).highestHz, 0.95 * 22050.0 + 1e-9);

    for (double asked : {0.1, 0.5, 10.0, 60.0, -3.0, std::nan("")}) {
        SweepRequest s;
        s.lengthSeconds = asked;
        s.startHz = 37.0;
        const SweepPlan q = planSweep(s);
        EXPECT_GE(q.lengthSeconds, kSweepMinSeconds) << asked;
        EXPECT_LE(q.lengthSeconds, kSweepMaxSeconds) << asked;
        EXPECT_NEAR(37.0 * q.timeConstantSeconds, std::round(37.0 * q.timeConstantSeconds), 1e-9);
    }

    SweepRequest odd;
    odd.startHz = 1.0; // below the lowest start
    odd.endHz = 15.0;  // less than an octave above it
    odd.amplitude = 3.0;
    const SweepPlan q = planSweep(odd);
    EXPECT_EQ(q.startHz, kSweepMinStartHz);
    EXPECT_GE(q.endHz, 2.0 * q.startHz);
    EXPECT_EQ(q.amplitude, 1.0);
}

TEST(SweepTest, SweepPeakAndSynchronisedHarmonics)
{
    // A polynomial computed on the samples folds every harmonic above the Nyquist frequency
    // back into the band, where a real device's converter would have filtered it; ending the
    // sweep at 4 kHz keeps the fifth harmonic below 24 kHz.
    SweepRequest request;
    request.endHz = 4000.0;
    const SweepPlan p = planSweep(request);
    const std::vector<double> x = makeSweep(p);
    double peak = 0.0;
    for (double v : x)
        peak = std::max(peak, std::abs(v));
    EXPECT_LE(peak, p.amplitude);
    EXPECT_GT(peak, 0.999 * p.amplitude);
    EXPECT_EQ(x.front(), 0.0); // faded in from silence

    // Harmonic k's response arrives L ln k ahead of the linear one. A device of odd
    // Chebyshev polynomials (T3(sin) = -sin 3phi, T5(sin) = sin 5phi) leaves one clean pulse
    // per harmonic; its peak, interpolated, lies at the predicted fractional position.
    const double a = p.amplitude;
    auto device = [a](double v) {
        const double s = v / a;
        return v + a * 0.1 * (4 * s * s * s - 3 * s) +
               a * 0.05 * (16 * std::pow(s, 5) - 20 * s * s * s + 5 * s);
    };
    std::vector<double> y = applyMemoryless(paddedSweep(p), device);
    const SweepDeconvolution d = deconvolveSweep(p, y);
    const long n = static_cast<long>(d.response.size());
    for (int k : {1, 3, 5}) {
        const double predicted = d.arrivalIndex - harmonicLeadSeconds(p, k) * p.rateHz;
        const long guess = static_cast<long>(std::lround(predicted));
        long best = guess;
        auto v = [&](long i) {
            return std::abs(d.response[static_cast<std::size_t>((i % n + n) % n)]);
        };
        for (long i = guess - 20; i <= guess + 20; ++i)
            if (v(i) > v(best))
                best = i;
        const double l = v(best - 1), c = v(best), r = v(best + 1);
        const double peakAt = best + 0.5 * (l - r) / (l - 2 * c + r);
        EXPECT_NEAR(peakAt, predicted, 0.05) << "harmonic " << k;
    }

    // After the fractional shift each harmonic's spectrum has the polynomial's phase: 180
    // degrees for -sin 3phi, 0 for sin 5phi, and its level: 0.1 and 0.05 of the fundamental.
    const HarmonicResponses h = separateHarmonics(p, d);
    for (double outHz : {300.0, 1000.0, 2500.0, 3900.0}) {
        const HarmonicResponse& h3 = h.h[2];
        const HarmonicResponse& h5 = h.h[4];
        const std::complex<double> v3 =
            h3.spectrum[static_cast<std::size_t>(std::lround(outHz / h3.binHz))];
        const std::complex<double> v5 =
            h5.spectrum[static_cast<std::size_t>(std::lround(outHz / h5.binHz))];
        EXPECT_NEAR(std::abs(testsupport::phaseDifferenceDeg(std::arg(v3) * 180 / kPi, 180.0)), 0.0,
                    0.5)
            << outHz;
        EXPECT_NEAR(testsupport::phaseDifferenceDeg(std::arg(v5) * 180 / kPi, 0.0), 0.0, 0.5)
            << outHz;
        EXPECT_NEAR(db(std::abs(v3)), db(0.1), 0.05) << outHz;
        EXPECT_NEAR(db(std::abs(v5)), db(0.05), 0.05) << outHz;
    }
}

TEST(SweepTest, LinearDeviceReadsItsAnalyticResponse)
{
    const SweepPlan p = planSweep(SweepRequest{});
    const double rate = p.rateHz;
    const Biquad hp = highPass(40.0, 0.8, rate);
    const Biquad peq = peaking(2500.0, 2.0, 6.0, rate);
    const std::vector<double> y = peq.filter(hp.filter(paddedSweep(p)));
    auto expected = [&](double hz) { return db(hp.magnitude(hz, rate) * peq.magnitude(hz, rate)); };

    // The linear impulse response as the caller takes it, transformed whole.
    const SweepAnalysis a = analyzeSweep(p, y);
    const int before = 64;
    std::vector<double> ir = linearImpulseResponse(p, a.deconvolution, before, 32768);
    RealFft fft(32768);
    std::vector<std::complex<double>> s(32768 / 2 + 1);
    fft.forward(ir.data(), s.data());
    double worst = 0.0;
    double worstHz = 0.0;
    for (std::size_t k = 1; k < s.size(); ++k) {
        const double hz = k * rate / 32768;
        if (hz < 25.0 || hz > 20000.0)
            continue;
        const double e = std::abs(db(std::abs(s[k])) - expected(hz));
        if (e > worst) {
            worst = e;
            worstHz = hz;
        }
    }
    EXPECT_LT(worst, 0.3) << "at " << worstHz << " Hz";

    // The fundamental of the distortion curves, from its shorter window.
    const double curveWorst =
        worstDeviation(a.curves.hz, a.curves.fundamentalDb, 25.0, 10000.0, expected);
    EXPECT_LT(curveWorst, 0.3);
    EXPECT_EQ(a.curves.hz.front(), 20.0);
    EXPECT_LE(a.curves.hz.back(), 10000.0);
    EXPECT_GT(a.curves.hz.back(), 10000.0 / std::exp2(1.0 / 24));
    // A linear device has no harmonics: far below the fundamental.
    EXPECT_LT(highest(a.curves.hz, a.curves.harmonicDb[0], 100.0, 5000.0), -100.0);
    EXPECT_LT(highest(a.curves.hz, a.curves.harmonicDb[1], 100.0, 5000.0), -100.0);
}

// A record shorter than the device's response: wrapped around it as an MLS's period wraps
// it, the record's bins read the device; cut off at the record's length, they don't.
TEST(SweepTest, ARecordShorterThanTheResponseHoldsItWrapped)
{
    const SweepPlan p = planSweep(SweepRequest{});
    const double rate = p.rateHz;
    const Biquad hp = highPass(40.0, 0.8, rate);
    const Biquad peq = peaking(2500.0, 2.0, 6.0, rate);
    const SweepAnalysis a = analyzeSweep(p, peq.filter(hp.filter(paddedSweep(p))));
    constexpr int kPeriod = 1024; // 21 ms, where the 40 Hz high-pass rings for much longer
    constexpr int kIndex = 40;
    const std::vector<double> wrapped =
        periodicImpulseResponse(p, a.deconvolution, 512, 24000, kPeriod, kIndex);
    ASSERT_EQ(wrapped.size(), static_cast<std::size_t>(kPeriod));
    std::vector<double> cut = linearImpulseResponse(p, a.deconvolution, 0, kPeriod - kIndex);
    cut.insert(cut.begin(), kIndex, 0.0);
    auto worstOf = [&](const std::vector<double>& ir) {
        RealFft fft(kPeriod);
        std::vector<std::complex<double>> s(kPeriod / 2 + 1);
        fft.forward(ir.data(), s.data());
        double worst = 0.0;
        for (std::size_t k = 2; k < s.size(); ++k) {
            const double hz = k * rate / kPeriod;
            if (hz > 20000.0)
                break;
            worst = std::max(worst, std::abs(db(std::abs(s[k])) -
                                             db(hp.magnitude(hz, rate) * peq.magnitude(hz, rate))));
        }
        return worst;
    };
    EXPECT_LT(worstOf(wrapped), 0.2);
    EXPECT_GT(worstOf(cut), 0.5);
    // Time zero lies on `index`: the high-pass's impulse is there.
    EXPECT_EQ(std::max_element(wrapped.begin(), wrapped.end()) - wrapped.begin(), kIndex);
}

TEST(SweepTest, PolynomialHarmonicsAndThd)
{
    const SweepPlan p = planSweep(SweepRequest{});
    const double a2 = 0.1, a3 = 0.2;
    const std::vector<double> y =
        applyMemoryless(paddedSweep(p), [&](double v) { return v + a2 * v * v + a3 * v * v * v; });
    const DistortionCurves c = analyzeSweep(p, y).curves;

    // x = A sin phi: x^2 = A^2 (1 - cos 2phi) / 2, x^3 = A^3 (3 sin phi - sin 3phi) / 4.
    const double amp = p.amplitude;
    const double fundamental = amp + 0.75 * a3 * amp * amp * amp;
    const double h2 = a2 * amp * amp / 2.0 / fundamental;
    const double h3 = a3 * amp * amp * amp / 4.0 / fundamental;
    const double thd = 100.0 * std::hypot(h2, h3);

    const double e2 =
        worstDeviation(c.hz, c.harmonicDb[0], 100.0, 5000.0, [&](double) { return db(h2); });
    const double e3 =
        worstDeviation(c.hz, c.harmonicDb[1], 100.0, 5000.0, [&](double) { return db(h3); });
    const double e1 = worstDeviation(c.hz, c.fundamentalDb, 100.0, 5000.0,
                                     [&](double) { return db(fundamental / amp); });
    EXPECT_LT(e2, 1.0);
    EXPECT_LT(e3, 1.5);
    EXPECT_LT(e1, 0.1);
    double thdWorst = 0.0;
    for (std::size_t i = 0; i < c.hz.size(); ++i)
        if (c.hz[i] >= 100.0 && c.hz[i] <= 5000.0)
            thdWorst = std::max(thdWorst, std::abs(c.thdPercent[i] / thd - 1.0));
    EXPECT_LT(thdWorst, 0.15);
    // No fourth or fifth harmonic in a cubic.
    EXPECT_LT(highest(c.hz, c.harmonicDb[2], 100.0, 5000.0), -80.0);
    EXPECT_LT(highest(c.hz, c.harmonicDb[3], 100.0, 3000.0), -80.0);
    // Each harmonic's curve ends where it leaves the band.
    for (int k = 2; k <= kSweepHarmonics; ++k) {
        const auto& curve = c.harmonicDb[static_cast<std::size_t>(k - 2)];
        ASSERT_FALSE(curve.empty());
        EXPECT_LE(k * c.hz[curve.size() - 1], p.endHz * (1 + 1e-9));
        if (curve.size() < c.hz.size()) {
            EXPECT_GT(k * c.hz[curve.size()], p.endHz);
        }
    }
}

TEST(SweepTest, CleanLoopAndNoiseFloor)
{
    const SweepPlan p = planSweep(SweepRequest{});
    // A loop through a 24-bit converter with its rounding noise and a little hiss.
    std::mt19937 rng(24);
    const double sigma = 1e-5;
    std::normal_distribution<double> hiss(0.0, sigma);
    std::vector<double> y = paddedSweep(p);
    for (double& v : y)
        v = std::round((v + hiss(rng)) * 8388608.0) / 8388608.0;
    const SweepAnalysis a = analyzeSweep(p, y);
    const DistortionCurves& c = a.curves;
    EXPECT_LT(highest(c.hz, c.harmonicDb[0], 100.0, 5000.0), -70.0);
    EXPECT_LT(highest(c.hz, c.harmonicDb[1], 100.0, 5000.0), -70.0);

    // White noise of variance s^2 reads s^2 |1/X(F)|^2 = s^2 4F / (rate^2 A^2 L) per unit of
    // window energy after the inverse filter.
    ASSERT_TRUE(c.noiseCoversBand);
    const double variance = sigma * sigma + 1.0 / (12.0 * 8388608.0 * 8388608.0);
    const HarmonicResponses& h = a.harmonics;
    const double rate = p.rateHz;
    for (int k = 2; k <= 3; ++k) {
        const auto& noise = c.noiseDb[static_cast<std::size_t>(k - 2)];
        const double energy = h.h[static_cast<std::size_t>(k - 1)].windowEnergy;
        double sum = 0.0;
        int count = 0;
        for (std::size_t i = 0; i < noise.size(); ++i) {
            if (c.hz[i] < 200.0)
                continue;
            const double f = k * c.hz[i];
            const double expect =
                10.0 *
                    std::log10(variance * 4.0 * f /
                               (rate * rate * p.amplitude * p.amplitude * p.timeConstantSeconds) *
                               energy) -
                c.fundamentalDb[i];
            sum += noise[i] - expect;
            ++count;
        }
        EXPECT_NEAR(sum / count, 0.0, 1.0) << "harmonic " << k;
    }
}

TEST(SweepTest, ShortEmptyAndSilentCaptures)
{
    const SweepPlan p = planSweep(SweepRequest{});
    // A capture that ends with the sweep: the curves are there, the noise floor is marked as
    // not covering the whole band.
    const std::vector<double> x = makeSweep(p);
    const SweepAnalysis exact = analyzeSweep(p, x);
    EXPECT_FALSE(exact.curves.noiseCoversBand);
    EXPECT_EQ(exact.curves.fundamentalDb.size(), exact.curves.hz.size());
    EXPECT_NEAR(exact.curves.fundamentalDb[exact.curves.hz.size() / 2], 0.0, 0.05);

    for (const std::vector<double>& capture :
         {std::vector<double>{}, std::vector<double>(1000, 0.0),
          std::vector<double>(x.size() * 3, 0.0)}) {
        const DistortionCurves c = analyzeSweep(p, capture).curves;
        EXPECT_EQ(c.thdPercent.size(), c.hz.size());
        auto finite = [](double v) { return std::isfinite(v); };
        EXPECT_TRUE(std::all_of(c.fundamentalDb.begin(), c.fundamentalDb.end(), finite));
        EXPECT_TRUE(std::all_of(c.thdPercent.begin(), c.thdPercent.end(), finite));
    }

    // A pure delay of 100 samples: the linear response's peak 100 samples after time zero.
    std::vector<double> delayed(static_cast<std::size_t>(recommendedCaptureSamples(p)), 0.0);
    std::copy(x.begin(), x.end(), delayed.begin() + 100);
    const std::vector<double> ir = linearImpulseResponse(p, deconvolveSweep(p, delayed), 28, 4096);
    ASSERT_EQ(ir.size(), 4096u);
    EXPECT_EQ(std::max_element(ir.begin(), ir.end()) - ir.begin(), 128);
    // The band ends at 20 kHz of the 24 kHz the rate allows: the peak is that share of 1.
    EXPECT_NEAR(*std::max_element(ir.begin(), ir.end()), 20000.0 / 24000.0, 0.03);
}
