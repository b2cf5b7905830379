#include "dsp/ts/Resonance.h"

#include "DriverModel.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <cmath>

namespace
{

using testsupport::RecordsTest;

// A triangular impedance peak on a flat floor, with the phase positive below the peak bin
// and negative above it, at 6.4 kHz.
void writePeak(int peakBin, float peakOhm, float floorOhm, int halfWidth)
{
    auto& st = core::store();
    for (int b = 0; b < core::kCurveBins; ++b) {
        const int d = std::abs(b - peakBin);
        const float rise =
            d < halfWidth ? (peakOhm - floorOhm) * (1.0f - float(d) / halfWidth) : 0.0f;
        st.impedanceMagnitude[b] = floorOhm + rise;
        st.impedancePhase[b] = b < peakBin ? 40.0f : b == peakBin ? 0.0f : -40.0f;
    }
    st.impedanceMagnitude.stamp(4096, 1);
    st.impedancePhase.stamp(4096, 1);
}

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

TEST(PolyFit, RecoversAQuarticFromNinePoints)
{
    const float want[5] = {2e-6f, -3e-4f, 0.02f, -0.5f, 9.0f};
    float x[9];
    float y[9];
    for (int i = 0; i < 9; ++i) {
        x[i] = 12.5f + 2.5f * i;
        y[i] = ts::polyEval(want, x[i], 4);
    }
    float c[6] = {};
    EXPECT_EQ(ts::polyFit(x, y, 9, 4, c), 1);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(ts::polyEval(c, x[i], 4), y[i], 1e-3f * std::fabs(y[i]));
    for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(c[k], want[k], 1e-3f * std::fabs(want[k])) << k;
}

TEST(PolyFit, ParabolaThroughSixPointsAndSingularFlag)
{
    // y = -(x - 50)^2 + 30, exactly representable.
    float x[6];
    float y[6];
    for (int i = 0; i < 6; ++i) {
        x[i] = 45.0f + 2.0f * i;
        y[i] = -(x[i] - 50.0f) * (x[i] - 50.0f) + 30.0f;
    }
    float c[3];
    EXPECT_EQ(ts::polyFit(x, y, 6, 2, c), 1);
    EXPECT_NEAR(c[0], -1.0f, 1e-4f);
    EXPECT_NEAR(-c[1] / (2.0f * c[0]), 50.0f, 1e-3f);

    // Nine equal abscissas: singular, flagged, but the coefficients are still numbers.
    float same[9];
    float vals[9];
    for (int i = 0; i < 9; ++i) {
        same[i] = 20.0f;
        vals[i] = 5.0f;
    }
    float q[6] = {};
    EXPECT_EQ(ts::polyFit(same, vals, 9, 4, q), 0);
    for (int k = 0; k < 5; ++k)
        EXPECT_FALSE(std::isnan(q[k]));
}

TEST(PolyEval, Basics)
{
    const float identity[5] = {0, 0, 0, 1, 0};
    EXPECT_FLOAT_EQ(ts::polyEval(identity, 37.25f, 4), 37.25f);
    const float cubic[4] = {1, -2, 0, 3}; // x^3 - 2x^2 + 3
    EXPECT_FLOAT_EQ(ts::polyEval(cubic, 2.0f, 3), 3.0f);
}

// The threshold rule shows in the edges: with a floor of 7 ohm and flanks falling linearly
// over 50 bins, the edge lies where the flank first reaches the threshold.
TEST_F(ResonanceTest, ThresholdFollowsPeakHeight)
{
    struct Case {
        float peak;
        int edgeDistance; // first d with (peak - 7)(1 - d/50) <= Zt - 7
    };
    // 40 > 5.5*7 = 38.5: Zt = 10.5; 21 <= 30 <= 38.5: Zt = 9.1; 20 < 3*7: Zt = 8.05.
    const Case cases[] = {{40.0f, 45}, {30.0f, 46}, {20.0f, 46}, {14.0f, 43}};
    const float binHz = 6400.0f / 4096.0f;
    for (const Case& c : cases) {
        writePeak(300, c.peak, 7.0f, 50);
        ts::ResonanceResult r;
        ASSERT_EQ(ts::analyzeResonance(r), 0) << c.peak;
        EXPECT_EQ(r.resonanceBin, 300);
        EXPECT_FLOAT_EQ(r.minOhmAbove, 7.0f);
        EXPECT_FLOAT_EQ(r.lowerFlankStartHz, (300 - c.edgeDistance) * binHz) << c.peak;
        EXPECT_FLOAT_EQ(r.upperFlankEndHz, (300 + c.edgeDistance) * binHz) << c.peak;
    }
    EXPECT_EQ(onlyMessage(), "");
}

TEST_F(ResonanceTest, RefusesPeaksItCannotModel)
{
    // Edges 8 bins either side: 17 bins in all.
    writePeak(300, 40.0f, 7.0f, 10);
    ts::ResonanceResult r;
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(87));

    // A peak cut off by the range's end: the smallest value above it is high, so is the
    // threshold, and too few bins remain.
    ui.clear();
    writePeak(1260, 40.0f, 7.0f, 100);
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(87));

    // The lower flank reaches the lowest bins still above the threshold.
    ui.clear();
    writePeak(30, 40.0f, 7.0f, 100);
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(86));
}

TEST_F(ResonanceTest, StaysInsideTheCurveAtTheEdges)
{
    auto& st = core::store();
    // No negative phase anywhere in the range: the resonance lies above it.
    writePeak(300, 40.0f, 7.0f, 50);
    for (int b = 0; b < core::kCurveBins; ++b)
        st.impedancePhase[b] = 20.0f;
    ts::ResonanceResult r;
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(85));

    // The deepest phase at the range's first bin: nothing below it to search.
    ui.clear();
    writePeak(9, 40.0f, 7.0f, 50);
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(86));

    // Phase negative throughout: the search starts at bin 10 and the lower edge is missing.
    ui.clear();
    writePeak(12, 40.0f, 7.0f, 50);
    for (int b = 0; b < core::kCurveBins; ++b)
        st.impedancePhase[b] = -20.0f - 0.01f * b;
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_EQ(onlyMessage(), core::str(86));

    // Garbage from a file: NaN everywhere ends in a message, not in a read past the curve.
    ui.clear();
    for (int b = 0; b < core::kCurveBins; ++b) {
        st.impedanceMagnitude[b] = std::nanf("");
        st.impedancePhase[b] = b > 500 ? -10.0f : std::nanf("");
    }
    EXPECT_EQ(ts::analyzeResonance(r), 1);
    EXPECT_NE(onlyMessage(), "");
}

TEST_F(ResonanceTest, LocatesTheResonanceOfAKnownDriver)
{
    const tstest::Driver d;
    for (int rate : {1, 3}) {
        tstest::writeImpedance(d, rate);
        const float binHz = ts::tsBinHz(rate);
        ts::ResonanceResult r;
        ASSERT_EQ(ts::analyzeResonance(r), 0) << rate;
        EXPECT_NEAR(r.resonanceHz, d.fsHz, 0.01 * d.fsHz) << rate;
        EXPECT_NEAR(r.resonanceOhm, d.reOhm * (1.0 + d.qms / d.qes), 1.0) << rate;
        EXPECT_EQ(r.resonanceBin, static_cast<int>(std::lround(d.fsHz / binHz))) << rate;
        // The refined peak replaces the bin value.
        EXPECT_FLOAT_EQ(core::store().impedanceMagnitude[r.resonanceBin], r.resonanceOhm);
        // The flank models follow the true curve between their end points.
        for (float f = r.lowerFlankStartHz + 2.0f * binHz; f < (r.resonanceBin - 1) * binHz;
             f += 0.5f)
            EXPECT_NEAR(ts::polyEval(r.lowerFlankCoef.data(), f, 4), std::abs(d.impedance(f)),
                        0.05 * std::abs(d.impedance(f)))
                << rate << " " << f;
    }
}

} // namespace
