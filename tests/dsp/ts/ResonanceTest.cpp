#include "dsp/ts/Resonance.h"

#include "DriverModel.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <complex>
#include <random>

namespace
{

using testsupport::RecordsTest;
using tstest::Driver;

class ResonanceTest : public RecordsTest
{
protected:
    // The single message shown, or "" when there was none.
    std::string onlyMessage()
    {
        auto m = ui.messages();
        if (m.size() != 1)
            return m.empty() ? "" : "several";
        EXPECT_EQ(m[0].caption, " ");
        EXPECT_EQ(m[0].icon, core::Icon::Information);
        return m[0].text;
    }
};

Driver driver(double fs, double qms, double qes)
{
    Driver d;
    d.fsHz = fs;
    d.qms = qms;
    d.qes = qes;
    return d;
}

// Drivers with a mechanical Q from 3 to 20: the resonance of the high-Q ones is only one or
// two bins wide at 6.4 kHz, where reading it off a smoothed curve lost a third of Qts. On the
// measurement's bins with 0.2 % noise, and on a file's 48 points per octave.
TEST_F(ResonanceTest, FitRecoversDriversOfAnyMechanicalQ)
{
    const Driver drivers[] = {driver(22, 15, 0.35), driver(30, 8, 0.4), driver(45, 20, 0.5),
                              driver(60, 10, 0.6), driver(35, 3, 0.45)};
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.002);
    for (const Driver& d : drivers) {
        SCOPED_TRACE(d.fsHz);
        auto bins = tstest::binPoints(d, 1);
        for (auto& p : bins)
            p.magnitudeOhm *= 1.0 + noise(rng);
        const auto file = tstest::filePoints(d, 20.0, 20000.0, 48);
        const ts::FitRequest requests[] = {ts::measuredFitRequest(1), ts::fileFitRequest(1)};
        const std::vector<ts::ImpedancePoint>* sets[] = {&bins, &file};
        for (int k = 0; k < 2; ++k) {
            ts::ResonanceResult r;
            ASSERT_EQ(ts::analyzeResonance(*sets[k], requests[k], r), 0) << k;
            const ts::ImpedanceModel& m = r.fit.model;
            EXPECT_NEAR(m.fsHz, d.fsHz, 0.005 * d.fsHz) << k;
            EXPECT_NEAR(m.qms, d.qms, 0.02 * d.qms) << k;
            EXPECT_NEAR(m.qes(), d.qes, 0.02 * d.qes) << k;
            EXPECT_NEAR(m.qts(), d.qts(), 0.02 * d.qts()) << k;
            EXPECT_NEAR(m.reOhm, d.reOhm, 0.01 * d.reOhm) << k;
            EXPECT_NEAR(m.inductanceH(1000.0), d.leH, 0.02 * d.leH) << k;
            EXPECT_EQ(m.coil, ts::CoilModel::Inductance) << k;
            EXPECT_NEAR(r.resonanceOhm, d.reOhm * (1.0 + d.qms / d.qes), 0.01 * r.resonanceOhm);
            EXPECT_LT(r.fit.residualPercent, k == 0 ? 0.5 : 0.01) << k;
        }
        EXPECT_TRUE(onlyMessage().empty());
    }
}

// A coil with eddy-current losses: K (jw)^0.7. The semi-inductance model is taken, and the
// resonance comes out as well as with a plain coil; a magnitude-only file still fits.
TEST_F(ResonanceTest, SemiInductanceWhereItFitsBetterAndFilesWithoutPhase)
{
    const Driver d = driver(40, 6, 0.4);
    const double k = 0.02;
    const double n = 0.7;
    std::vector<ts::ImpedancePoint> pts;
    for (double f = 10.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 24)) {
        const std::complex<double> jw(0.0, 2.0 * tstest::kPi * f);
        const auto z = d.impedance(f) - jw * d.leH + k * std::pow(jw, n);
        pts.push_back({f, std::abs(z), std::arg(z) * 180.0 / tstest::kPi, true});
    }
    ts::ResonanceResult r;
    ASSERT_EQ(ts::analyzeResonance(pts, ts::fileFitRequest(1), r), 0);
    EXPECT_EQ(r.fit.model.coil, ts::CoilModel::SemiInductance);
    EXPECT_NEAR(r.fit.model.coilExponent, n, 0.02);
    EXPECT_NEAR(r.fit.model.fsHz, d.fsHz, 0.005 * d.fsHz);
    EXPECT_NEAR(r.fit.model.qts(), d.qts(), 0.02 * d.qts());
    const double l1k = std::sin(n * tstest::kPi / 2) * k * std::pow(2.0 * tstest::kPi * 1000, n) /
                       (2.0 * tstest::kPi * 1000);
    EXPECT_NEAR(r.fit.model.inductanceH(1000.0), l1k, 0.03 * l1k);

    for (auto& p : pts)
        p.hasPhase = false;
    ASSERT_EQ(ts::analyzeResonance(pts, ts::fileFitRequest(1), r), 0);
    EXPECT_NEAR(r.fit.model.fsHz, d.fsHz, 0.01 * d.fsHz);
    EXPECT_NEAR(r.fit.model.qts(), d.qts(), 0.05 * d.qts());
}

// The DC resistance held in the fit: Qes follows that Re, fs and Qms stay.
TEST_F(ResonanceTest, RefitWithTheConfirmedDcResistance)
{
    const Driver d = driver(30, 8, 0.4);
    const auto pts = tstest::filePoints(d, 15.0, 2000.0, 48);
    const ts::FitRequest req = ts::fileFitRequest(1);
    ts::ResonanceResult free;
    ASSERT_EQ(ts::analyzeResonance(pts, req, free), 0);
    const ts::ResonanceResult held = ts::refitWithDcResistance(pts, req, free, 6.0f);
    EXPECT_DOUBLE_EQ(held.fit.model.reOhm, 6.0);
    EXPECT_NEAR(held.fit.model.qes(), 0.4, 0.004);
    // A value above the peak is not fitted; the evaluation refuses it.
    const ts::ResonanceResult refused = ts::refitWithDcResistance(pts, req, free, 500.0f);
    EXPECT_DOUBLE_EQ(refused.fit.model.reOhm, free.fit.model.reOhm);
}

TEST_F(ResonanceTest, RefusesCurvesWithoutAResonanceItCanFit)
{
    const Driver d = driver(35, 5, 0.45);
    struct Case {
        const char* what;
        std::vector<ts::ImpedancePoint> points;
        int message;
    };
    std::vector<ts::ImpedancePoint> rising;
    for (double f = 10.0; f < 2000.0; f *= 1.05)
        rising.push_back({f, 6.0 + f * 0.01, 20.0, true});
    // The resonance below the first point: the curve only falls from its start.
    const auto cutBelow = tstest::filePoints(d, 60.0, 2000.0, 48);
    // A file of 3 points per octave has too few around the resonance.
    const auto sparse = tstest::filePoints(d, 10.0, 2000.0, 3);
    std::vector<ts::ImpedancePoint> broken = tstest::filePoints(d, 10.0, 2000.0, 48);
    for (auto& p : broken)
        p.magnitudeOhm = std::nan("");
    const Case cases[] = {
        {"rising coil, no peak", rising, 85},
        {"resonance below the first point", cutBelow, 86},
        {"three points per octave", sparse, 87},
        {"no finite values", broken, 85},
        {"no points", {}, 85},
    };
    for (const Case& c : cases) {
        ui.clear();
        ts::ResonanceResult r;
        EXPECT_EQ(ts::analyzeResonance(c.points, ts::fileFitRequest(1), r), 1) << c.what;
        EXPECT_EQ(onlyMessage(), core::str(c.message)) << c.what;
    }
}

// The measurement's points: from the first usable bin, no NO_VALUE bins, the phase kept.
TEST_F(ResonanceTest, MeasuredPointsSkipBinsWithoutValue)
{
    tstest::writeImpedance(driver(35, 3, 0.45), 1);
    auto& st = core::store();
    st.impedanceMagnitude[100] = core::NO_VALUE;
    st.impedancePhase[200] = core::NO_VALUE;
    const auto pts = ts::measuredPoints(st.impedanceMagnitude, st.impedancePhase);
    ASSERT_FALSE(pts.empty());
    EXPECT_DOUBLE_EQ(pts.front().frequencyHz, 3 * 6400.0 / 4096.0);
    for (const auto& p : pts) {
        EXPECT_NE(p.frequencyHz, 100 * 6400.0 / 4096.0);
        if (p.frequencyHz == 200 * 6400.0 / 4096.0) {
            EXPECT_FALSE(p.hasPhase);
        }
    }
    EXPECT_STREQ(ts::inductanceSample(2).label, "L @ 10kHz");
    EXPECT_FLOAT_EQ(ts::inductanceSample(3).hz, 500.0f);
}

} // namespace
