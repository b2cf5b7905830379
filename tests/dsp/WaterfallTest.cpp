#include "dsp/Waterfall.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Tapers.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <limits>
#include <vector>

using namespace core;

namespace {
constexpr int kLast = 1 + 64 * 201; // the closing empty point
}

class WaterfallTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        settings().sampleRate = 2;
    }
    bool emptyPoint(int p) const
    {
        const auto& st = store();
        return st.csdFrequency[p] == NO_VALUE && st.csdLevel[p] == NO_VALUE &&
               st.csdTime[p] == NO_VALUE;
    }
    static int point(int slice, int bin) { return 1 + slice * 201 + bin; }
};

TEST(Tapers, TablesHaveTheirShape)
{
    using dsp::edgeTaper;
    using dsp::sliceTaper;
    for (int n = 0; n < 512; ++n) {
        ASSERT_EQ(sliceTaper[n], sliceTaper[511 - n]) << n;
        ASSERT_NEAR(sliceTaper[n] * 100.0, std::round(sliceTaper[n] * 100.0), 1e-9);
        if (n > 0 && n < 256) {
            ASSERT_GE(sliceTaper[n], sliceTaper[n - 1]) << n;
        }
    }
    EXPECT_EQ(sliceTaper[0], 0.3);
    EXPECT_EQ(sliceTaper[50], 0.5);
    EXPECT_EQ(sliceTaper[100], 0.69);
    EXPECT_EQ(sliceTaper[150], 0.85);
    EXPECT_EQ(sliceTaper[200], 0.96);
    EXPECT_EQ(sliceTaper[237], 0.99);
    EXPECT_EQ(sliceTaper[238], 1.0);
    EXPECT_EQ(sliceTaper[273], 1.0);
    EXPECT_EQ(sliceTaper[274], 0.99);
    EXPECT_EQ(sliceTaper[511], 0.3);

    EXPECT_EQ(edgeTaper[0], 0.0003);
    EXPECT_EQ(edgeTaper[7], 0.979);
    EXPECT_EQ(edgeTaper[8], 1.0);
    EXPECT_EQ(edgeTaper[502], 1.0);
    EXPECT_EQ(edgeTaper[503], 0.979);
    EXPECT_EQ(edgeTaper[510], 0.0003);
    EXPECT_EQ(edgeTaper[511], 0.0);
}

TEST_F(WaterfallTest, TooShortAWindowLeavesEverySliceEmpty)
{
    settings().markerPos = {5000, 5005}; // 2 samples at N 4096
    store().timeRecord.v.fill(0.3f);
    EXPECT_EQ(dsp::computeWaterfall(4096), 0);
    for (int p = 0; p <= kLast; ++p)
        ASSERT_TRUE(emptyPoint(p)) << p;
    EXPECT_EQ(store().csdLevel[kCsdPoints], -100000.0f);
    EXPECT_EQ(store().csdFrequency[kCsdPoints], NO_VALUE);
    EXPECT_EQ(store().csdTime[kCsdPoints], NO_VALUE);
}

TEST_F(WaterfallTest, ThreeHundredSampleWindow)
{
    // M1 0, M2 733 at N 4096: start 0, end 300.
    settings().markerPos = {0, 733};
    auto& st = store();
    st.timeRecord.v.fill(0.0f);
    st.timeRecord[20] = 1.0f;
    dsp::computeWaterfall(4096);

    EXPECT_TRUE(emptyPoint(0));
    // Slice 0: kMin 2. An impulse under the flat part of the edge taper has |X| = 1/512.
    EXPECT_TRUE(emptyPoint(point(0, 0)));
    EXPECT_TRUE(emptyPoint(point(0, 1)));
    const float flat = static_cast<float>(20 * std::log10(1.0 / 512 * 1.41 * 28.2));
    for (int k = 2; k <= 200; ++k) {
        ASSERT_EQ(st.csdFrequency[point(0, k)], k * 100.0f);
        ASSERT_NEAR(st.csdLevel[point(0, k)], flat, 1e-3) << k;
        ASSERT_EQ(st.csdTime[point(0, k)], 0.0f);
    }
    // Slice 40: d 240, L 60, fLow 853.3 Hz, kMin 9.
    EXPECT_TRUE(emptyPoint(point(40, 8)));
    EXPECT_FALSE(emptyPoint(point(40, 9)));
    EXPECT_FLOAT_EQ(st.csdTime[point(40, 9)], 240 * 0.00001953125f);
    // Slice 49 still has L 6; from 50 on L < 4.
    EXPECT_FALSE(emptyPoint(point(49, 200)));
    for (int p = point(50, 0); p <= kLast; ++p)
        ASSERT_TRUE(emptyPoint(p)) << p;

    float maxLevel = -100000.0f;
    for (int p = 1; p < kLast; ++p)
        if (st.csdLevel[p] != NO_VALUE)
            maxLevel = std::max(maxLevel, st.csdLevel[p]);
    EXPECT_EQ(st.csdLevel[kCsdPoints], maxLevel);
}

TEST_F(WaterfallTest, ReferenceAndMicrophoneCorrection)
{
    settings().markerPos = {0, 733};
    auto& st = store();
    st.timeRecord.v.fill(0.0f);
    st.timeRecord[20] = 1.0f;
    const int t = rateTableIndex(2);
    for (int g = 0; g < kCurveBins; ++g)
        st.referenceAmplitude[t][g] = 0.01f * g;
    st.micCorrectionAmplitude[t].fill(3.0f);
    st.referenceAmplitude[0].fill(1e6f); // another rate's table: never used
    dsp::computeWaterfall(4096);
    const float plain = st.csdLevel[point(0, 50)];

    // Without the reference the microphone correction is not applied either.
    settings().micCorrection = 1;
    dsp::computeWaterfall(4096);
    EXPECT_EQ(st.csdLevel[point(0, 50)], plain);

    settings().referenceComputation = 1;
    dsp::computeWaterfall(4096);
    EXPECT_NEAR(st.csdLevel[point(0, 50)], plain - 0.01f * 400 - 3.0f, 1e-3);
    settings().micCorrection = 0;
    dsp::computeWaterfall(4096);
    EXPECT_NEAR(st.csdLevel[point(0, 50)], plain - 0.01f * 400, 1e-3);
}

TEST_F(WaterfallTest, DecayingToneDiesAwayAndOddTrailersAreSafe)
{
    settings().markerPos = {0, 10000};
    auto& st = store();
    for (int n = 0; n < kRecordSamples; ++n)
        st.timeRecord[n] =
            static_cast<float>(std::exp(-n / 60.0) * std::sin(n * 2 * 3.14159265 * 2000 / 51200));
    dsp::computeWaterfall(512);
    // Bin 20 = 2 kHz loses level from slice to slice.
    EXPECT_GT(st.csdLevel[point(0, 20)], st.csdLevel[point(20, 20)] + 10.0f);
    EXPECT_GT(st.csdLevel[point(20, 20)], st.csdLevel[point(60, 20)]);
    EXPECT_TRUE(emptyPoint(kLast));

    // A damaged trailer N and markers outside the axis: no crash, lists framed as always.
    settings().markerPos = {-400, 20000};
    dsp::computeWaterfall(123456);
    EXPECT_TRUE(emptyPoint(0));
    EXPECT_TRUE(emptyPoint(kLast));
}

TEST(ImpulseArrival, FirstSampleAtATenthOfThePeak)
{
    std::vector<float> rec(4096, 0.0f);
    for (int n = 0; n < 4096; ++n)
        rec[n] = 0.002f * static_cast<float>(std::sin(n * 0.7)); // noise floor, -54 dB
    // A rise over 8 samples to the peak at 208: 0.05, 0.1, 0.2, ... (0.1 reached at 201).
    const float rise[] = {0.05f, 0.1f, 0.2f, 0.4f, 0.6f, 0.8f, 0.9f, 0.95f, 1.0f};
    for (int i = 0; i < 9; ++i)
        rec[200 + i] = -rise[i]; // the sign does not matter
    rec[209] = 0.5f;
    EXPECT_EQ(dsp::impulseArrival(rec, 0, 4096), 201);
    // Silence, inverted ranges, ranges beyond the samples.
    EXPECT_EQ(dsp::impulseArrival(std::vector<float>(4096, 0.0f), 0, 4096), -1);
    EXPECT_EQ(dsp::impulseArrival(rec, 500, 100), -1);
    EXPECT_EQ(dsp::impulseArrival(rec, -50, 99999), 201);
    // Markers for missing values and non-numbers from a file are not the peak.
    rec[50] = NO_VALUE;
    rec[60] = std::numeric_limits<float>::quiet_NaN();
    rec[70] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(dsp::impulseArrival(rec, 0, 4096), 201);
}

TEST(WaterfallSpan, StartMovesToTheArrivalOnlyFromBeforeIt)
{
    std::vector<float> rec(4096, 0.0f);
    rec[200] = 1.0f;
    rec[201] = -0.5f;
    // M1 at 0: the start moves to 20 samples before the arrival.
    dsp::WaterfallSpan s = dsp::waterfallSpan(rec, 4096, 0, 10000);
    EXPECT_EQ(s.start, 180);
    EXPECT_EQ(s.end, 4095);
    EXPECT_TRUE(s.startsAtArrival);
    // M1 within the lead before the arrival (sample 184) or after it (sample 307): kept.
    s = dsp::waterfallSpan(rec, 4096, 450, 10000);
    EXPECT_EQ(s.start, 184);
    EXPECT_FALSE(s.startsAtArrival);
    s = dsp::waterfallSpan(rec, 4096, 750, 10000);
    EXPECT_EQ(s.start, 307);
    EXPECT_FALSE(s.startsAtArrival);
    // An impulse beyond M2 is not looked at.
    s = dsp::waterfallSpan(rec, 4096, 0, 400); // end 163
    EXPECT_EQ(s.start, 0);
    EXPECT_FALSE(s.startsAtArrival);
}

TEST_F(WaterfallTest, SlicesFromBeforeTheArrivalEqualThoseFromTheArrival)
{
    // A decaying 1 kHz tone arriving at sample 200: with M1 at 0 the waterfall is the one
    // cut at sample 180, and it decays from its first slices on.
    auto& st = store();
    st.timeRecord.v.fill(0.0f);
    for (int n = 200; n < kRecordSamples; ++n)
        st.timeRecord[n] = static_cast<float>(std::exp(-(n - 200) / 30.0) *
                                              std::sin((n - 200) * 2 * 3.14159265 * 1000 / 51200));
    settings().markerPos = {0, 10000};
    dsp::computeWaterfall(4096);
    const auto fromZero = st.csdLevel;
    const auto timesFromZero = st.csdTime;
    settings().markerPos = {440, 10000}; // sample 180
    dsp::computeWaterfall(4096);
    EXPECT_EQ(fromZero, st.csdLevel);
    EXPECT_EQ(timesFromZero, st.csdTime);
    EXPECT_EQ(st.csdTime[point(0, 10)], 0.0f);
    EXPECT_GT(st.csdLevel[point(0, 10)], st.csdLevel[point(7, 10)] + 6.0f);
}
