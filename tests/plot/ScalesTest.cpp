#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "plot/Scales.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <limits>

using namespace plot;

namespace {
std::vector<int> positions(int index)
{
    const ScaleRecord& s = scaleRecord(index);
    return {s.gridPos.begin(), s.gridPos.begin() + s.gridCount};
}
std::vector<std::string> labels(int index)
{
    const ScaleRecord& s = scaleRecord(index);
    return {s.tickLabel.begin(), s.tickLabel.begin() + s.gridCount};
}
} // namespace

TEST(ScaleTable, RoundingRuleAgainstHandComputedPositions)
{
    // 0..640 ms: 100 ms is 1562.5 units, an exact half that rounds down.
    EXPECT_EQ(positions(0), (std::vector<int>{1500, 3062, 4625, 6187, 7750, 9312, 10875, 11500}));
    // Seven steps of 10000/7 = 1428.57...: 1429, 2857, 4286, 5714, 7143, 8571.
    EXPECT_EQ(positions(12), (std::vector<int>{1000, 2429, 3857, 5286, 6714, 8143, 9571, 11000}));
    EXPECT_EQ(positions(4), (std::vector<int>{1000, 2667, 4333, 6000, 7667, 9333, 11000}));
    EXPECT_EQ(positions(21), (std::vector<int>{1500, 3500, 5500, 7500, 9500, 11500}));
    EXPECT_EQ(positions(63).front(), 1000);
    EXPECT_EQ(positions(63).back(), 11000);
    EXPECT_EQ(positions(63)[5], 6000);
    // Waterfall axes start at 0; the 15-line axis has 14 steps of 714.28...
    EXPECT_EQ(positions(38)[1], 714);
    EXPECT_EQ(positions(38)[7], 5000);
    EXPECT_EQ(positions(53), (std::vector<int>{0, 1250, 2500, 3750, 5000, 6250, 7500, 8750, 10000}));
    EXPECT_EQ(roundedGridPos(0.5, 0, 1, 0), 5000);
    EXPECT_EQ(roundedGridPos(1, 0, 16, 0), 625);
    EXPECT_EQ(roundedGridPos(1, 0, 32, 0), 312);   // 312.5 rounds down
    EXPECT_EQ(roundedGridPos(3, 0, 32, 0), 937);   // 937.5 rounds down
    EXPECT_EQ(roundedGridPos(5, 0, 7, 0), 7143);
}

TEST(ScaleTable, EightLineWaterfallLevelAxesKeepTheir1428)
{
    for (int idx : {39, 40, 41, 42, 43, 44, 35, 72, 56, 75}) {
        SCOPED_TRACE(idx);
        EXPECT_EQ(positions(idx), (std::vector<int>{0, 1428, 2857, 4286, 5714, 7143, 8571, 10000}));
    }
    // The same division on a two-dimensional value axis rounds normally.
    EXPECT_EQ(positions(16)[1], 2429);
    EXPECT_EQ(positions(32)[1], 1667);
}

TEST(ScaleTable, LogarithmicAxesAreLiteral)
{
    EXPECT_EQ(positions(29), (std::vector<int>{1500, 1852, 2885, 3918, 4952, 5985, 7018, 8052, 9085,
                                               10119, 11152, 11500}));
    EXPECT_EQ(labels(62), (std::vector<std::string>{"", "4", "8", "16", "31,5", "63", "125", "250",
                                                    "500", "1k", "2k", ""}));
    EXPECT_EQ(positions(55), (std::vector<int>{0, 1111, 2676, 3787, 4648, 5352, 5947, 6463}));
    EXPECT_EQ(labels(55)[2], "3k");
    EXPECT_EQ(labels(55)[3], "");
    EXPECT_EQ(scaleRecord(8).gridCount, 28);
    EXPECT_EQ(scaleRecord(78).gridCount, 25);
    // Literal positions agree with the logarithm within a few units (a typing check).
    for (int idx : {8, 9, 10, 11, 77, 78, 29, 62}) {
        const ScaleRecord& s = scaleRecord(idx);
        for (int i = 0; i < s.gridCount; ++i)
            EXPECT_GE(s.gridPos[i], i == 0 ? 1500 : s.gridPos[i - 1] + 1) << idx << " line " << i;
        EXPECT_EQ(s.gridPos[s.gridCount - 1], 11500) << idx;
    }
    // "100" on scale 8 stands where 100 Hz lies.
    EXPECT_NEAR(scaleRecord(8).gridPos[8], 1500 + 10000 * std::log(5.0) / std::log(1000.0), 1.0);
}

TEST(ScaleTable, EveryEntryIsComplete)
{
    int present = 0;
    for (int i = 0; i < kScaleCount; ++i) {
        const ScaleRecord& s = scaleRecord(i);
        EXPECT_EQ(s.index, i);
        if (!s.exists)
            continue;
        ++present;
        SCOPED_TRACE(s.optionText);
        EXPECT_FALSE(s.unitText.empty());
        EXPECT_LT(s.min, s.max);
        EXPECT_GT(s.gridCount, 1);
        EXPECT_LE(s.gridCount, kMaxGridLines);
        // A label past the grid count would mean a typing slip in the table.
        for (int k = s.gridCount; k < kMaxGridLines; ++k)
            EXPECT_TRUE(s.tickLabel[k].empty());
    }
    EXPECT_EQ(present, 79 - 7);
    for (int never : {14, 22, 23, 24, 25, 28, 30})
        EXPECT_FALSE(scaleRecord(never).exists);
    EXPECT_EQ(scaleRecord(16).optionText, "Min:-30dB    Max:+5dB  ");
    EXPECT_EQ(scaleRecord(56).unitText, "[dB(rel)]");
    EXPECT_EQ(labels(56).back(), "dB(rel.)");
    EXPECT_EQ(labels(60), (std::vector<std::string>{"-0,001", "-0,0005", "0", "0,0005", "Volt"}));
    EXPECT_EQ(scaleRecord(27).unitText, "[dBSPL]");
    // The dialog lists hold every offered entry exactly once.
    std::vector<int> all;
    for (ScaleList l : {ScaleList::timeSignal, ScaleList::amplitude, ScaleList::impedance,
                        ScaleList::waterfallX, ScaleList::waterfallY, ScaleList::waterfallZ})
        for (int i : scaleList(l)) {
            EXPECT_TRUE(scaleRecord(i).exists) << i;
            all.push_back(i);
        }
    EXPECT_EQ(all.size(), 9u + 20 + 5 + 3 + 15 + 3);
    // Outside the table: an empty record, never an out-of-bounds read.
    EXPECT_FALSE(scaleRecord(-1).exists);
    EXPECT_EQ(scaleRecord(79).gridCount, 0);
    EXPECT_EQ(scaleRecord(1 << 30).unitText, "");
}

class AxisChoice : public testsupport::RecordsTest {};

TEST_F(AxisChoice, TimeAndFrequencyTables)
{
    const int lengths[4] = {512, 1024, 2048, 4096};
    const int time[3][4] = {{3, 2, 1, 0}, {21, 20, 61, 3}, {2, 1, 0, 76}};
    const int freq[3][4] = {{10, 10, 11, 11}, {9, 9, 8, 8}, {77, 77, 78, 78}};
    for (int r = 1; r <= 3; ++r)
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(timeAxisFor(lengths[n], r), time[r - 1][n]);
            EXPECT_EQ(frequencyAxisFor(lengths[n], r), freq[r - 1][n]);
        }
    EXPECT_EQ(timeAxisFor(7, 1), -1);
    EXPECT_EQ(frequencyAxisFor(4096, 4), -1);
    // Each span of the time axis equals N samples at the rate.
    for (int r = 1; r <= 3; ++r)
        for (int n : lengths)
            EXPECT_FLOAT_EQ(scaleRecord(timeAxisFor(n, r)).max, 1000.0f * n / core::sampleRateHz(r));
}

TEST_F(AxisChoice, ChooseFromTrailersAndKeepOnGarbage)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    st.timeRecord.stamp(512, 2);
    chooseAxes(0);
    EXPECT_EQ(d.axisSets[0].x, 21);
    EXPECT_EQ(scaleRecord(21).optionText, "Min:0ms  Max:10ms");

    st.amplitudeSlots[0].stamp(4096, 2);
    st.phaseSlots[0].stamp(1024, 3);
    st.impedanceMagnitude.stamp(2048, 1);
    st.impedancePhase.stamp(7, 1);                 // not a length: stays as it was
    chooseAxes(20);
    EXPECT_EQ(d.axisSets[1].x, 8);
    EXPECT_EQ(d.axisSets[2].x, 77);
    EXPECT_EQ(d.axisSets[3].x, 11);
    EXPECT_EQ(d.axisSets[4].x, 10);
    st.amplitudeSlots[0].trailerN() = std::numeric_limits<float>::quiet_NaN();
    st.amplitudeSlots[0].trailerRate() = 1e30f;
    chooseAxes(1);
    EXPECT_EQ(d.axisSets[1].x, 8);

    // The level axis follows the live rate, not the data.
    core::settings().sampleRate = 1;
    chooseAxes(5);
    EXPECT_EQ(d.axisSets[5].x, 62);
    core::settings().sampleRate = 3;
    chooseAxes(5);
    EXPECT_EQ(d.axisSets[5].x, 29);
    EXPECT_EQ(axisScaleIndex(40, 'x'), 8);         // the sum view uses the amplitude axes
    EXPECT_EQ(axisScale(20, 'y').index, 27);
}

TEST(Mappings, EdgesTruncationAndGarbage)
{
    const ScaleRecord& db = scaleRecord(12); // -100 .. 40
    EXPECT_EQ(mapLinear(-100, db), 0);
    EXPECT_EQ(mapLinear(40, db), 10000);
    EXPECT_EQ(mapLinear(-30, db), 5000);
    EXPECT_EQ(mapLinear(0, db), 7142);              // 7142.857 truncated
    EXPECT_EQ(mapLinear(-100.01, db), 0);           // -0.7 truncates toward zero
    EXPECT_EQ(mapLinear(std::numeric_limits<double>::quiet_NaN(), db), 0);
    EXPECT_EQ(mapLinear(1e30, db), 1000000000);     // bounded, the caller clamps
    EXPECT_EQ(mapLinear(5, scaleRecord(14)), 0);    // empty entry: zero range
    EXPECT_EQ(mapTimeSample(1, 512), 19);
    EXPECT_EQ(mapTimeSample(511, 512), 9980);
    EXPECT_EQ(mapTimeSample(5, 0), 0);

    const ScaleRecord& f = scaleRecord(8); // 20 .. 20000
    for (double hz : {20.0, 25.0, 100.0, 1000.0, 12345.0, 20000.0}) {
        const double exact = 10000 * std::log(hz / 20.0) / std::log(1000.0);
        EXPECT_NEAR(mapLogFrequency(hz, f), exact, 1.0) << hz;
        EXPECT_NEAR(mapBarFrequency(hz, f), exact, 1.0) << hz;
    }
    EXPECT_LE(mapLogFrequency(20.0, f), 0 + 1);
    EXPECT_LT(mapLogFrequency(10.0, f), 0);
    EXPECT_EQ(mapLogFrequency(0.0, f), 0);
    EXPECT_EQ(mapLogFrequency(-5.0, f), 0);
    EXPECT_EQ(mapLogFrequency(std::numeric_limits<double>::infinity(), f), 0);
    EXPECT_EQ(mapLogFrequency(100.0, scaleRecord(-3)), 0);
    EXPECT_EQ(mapBarFrequency(31.5, scaleRecord(29)), static_cast<int>(10000 / std::log(800.0) * std::log(31.5 / 25)));
}
