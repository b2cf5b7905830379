// Level measurement: band computation against a hand-computed sine, mean and peak, the
// worker's series and its shutdown, the read-out maxima.
#include "BoxTestSupport.h"

#include "box/Level.h"
#include "box/Mls.h"
#include "core/Settings.h"
#include "core/Store.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {
std::array<float, core::kLevelBands> flat(float level)
{
    std::array<float, core::kLevelBands> a;
    a.fill(level);
    return a;
}
} // namespace

TEST_F(BoxTest, LevelBandsOfAPureSine)
{
    // "FFT-Terz Analyse", no weighting: a sine of amplitude 1 V exactly on bin 80 (band 15,
    // whose rate correction is 0) gives P = 0.707 in that bin, so 20 log10(0.707) dB.
    core::MeasurementSettings& s = core::settings();
    s.levelMethod = 3;
    s.levelWeighting = 1;
    s.sampleRate = 1;
    static float rec[8192];
    for (int k = 0; k < 4096; ++k)
        rec[k] = static_cast<float>(std::cos(2 * 3.14159265358979 * 80 * k / 4096.0));
    box::computeLevels(0, rec);
    const auto& st = core::store();
    EXPECT_NEAR(st.levelCurrent[15], 20 * std::log10(0.707), 0.01);
    EXPECT_LT(st.levelCurrent[14], -100.0);
    EXPECT_LT(st.levelCurrent[16], -100.0);
    EXPECT_EQ(st.levelMeanPeak[15], st.levelCurrent[15]);
    EXPECT_NEAR(st.levelBandFrequency[0], 4.0, 0.01);
    EXPECT_NEAR(st.levelBandFrequency[27], 2004.47, 0.05);
    EXPECT_EQ(st.levelBandFrequencyView, st.levelBandFrequency);

    // A weighting and preamplifier gain at 51.2 kHz shift the band by their table values.
    s.sampleRate = 2;
    s.levelWeighting = 2;
    s.preampGainDb = 10;
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[15], 20 * std::log10(0.707) - 10 + 0.0f, 0.01);
    EXPECT_NEAR(st.levelBandFrequency[15], 1000.0, 0.01);
}

TEST_F(BoxTest, LevelPeakAndMean)
{
    core::MeasurementSettings& s = core::settings();
    const auto& st = core::store();
    s.levelCalculation = 2; // peak
    box::applyLevelAverage(0, flat(60));
    EXPECT_FLOAT_EQ(st.levelMeanPeak[3], 60);
    box::applyLevelAverage(1, flat(70));
    EXPECT_FLOAT_EQ(st.levelMeanPeak[3], 70);
    box::applyLevelAverage(2, flat(65));
    EXPECT_FLOAT_EQ(st.levelMeanPeak[3], 70);

    s.levelCalculation = 1;
    s.levelAveraging = 1; // "schnell"
    box::applyLevelAverage(0, flat(60));
    box::applyLevelAverage(1, flat(60));
    box::applyLevelAverage(2, flat(60));
    EXPECT_NEAR(st.levelMeanPeak[0], 60, 1e-4);
    box::applyLevelAverage(3, flat(80));
    EXPECT_NEAR(st.levelMeanPeak[0], 20 * std::log10(0.7e3 + 0.3e4), 1e-4);
    EXPECT_NEAR(st.levelMeanPeak[0], 71.4, 0.05);

    s.levelCalculation = 0;
    box::applyLevelAverage(2, flat(50));
    for (float v : st.levelMeanPeak)
        EXPECT_EQ(v, -100000.0f);
    EXPECT_FLOAT_EQ(st.levelCurrent[5], 50);
}

TEST_F(BoxTest, LevelReadoutMaxima)
{
    core::settings().sampleRate = 1;
    core::settings().levelCalculation = 0;
    auto cur = flat(40);
    cur[10] = 75; // 40 Hz
    cur[20] = 90; // 400 Hz
    box::applyLevelAverage(0, cur);
    core::store().levelCurrent[5] = core::NO_VALUE;
    box::applyLevelAverage(2, core::store().levelCurrent);

    // 20 Hz .. 200 Hz: band 20 lies outside, band 10 inside; NO_VALUE never counts.
    auto r = box::levelReadout(20.0, 200.0, 80.0, "[dB]");
    EXPECT_FLOAT_EQ(r.maxCurrent, 75);
    EXPECT_FLOAT_EQ(r.maxMeanPeak, -10000.0f);
    EXPECT_FALSE(r.currentAboveAxis);
    EXPECT_EQ(r.line1, " Aktueller Wert (max) : 75.00[dB]");
    EXPECT_EQ(r.line2, " Spitzen/Mittel Wert (max): -10000.00[dB]");
    r = box::levelReadout(20.0, 400.0, 80.0, "[dB]");
    EXPECT_FLOAT_EQ(r.maxCurrent, 90);
    EXPECT_TRUE(r.currentAboveAxis);
    // Limits included: band 20 is at 399.94 Hz.
    r = box::levelReadout(0.0, core::store().levelBandFrequencyView[20], 100.0, "[dB]");
    EXPECT_FLOAT_EQ(r.maxCurrent, 90);
}

TEST_F(BoxTest, LevelCommandNeedsSixOrFiftyOneKilohertz)
{
    core::settings().sampleRate = 3;
    EXPECT_EQ(box::startLevelMeasurement(testsupport::noViews()), 0);
    EXPECT_FALSE(box::levelWorkerActive());
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(115));
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Stop);
}

TEST_F(BoxTest, LimitedSeriesStopsByItselfAndCancelWaits)
{
    core::MeasurementSettings& s = core::settings();
    s.sampleRate = 2;
    s.levelCountLimited = 1;
    s.levelCount = 3;
    ASSERT_EQ(box::startLevelMeasurement(testsupport::noViews()), 1);
    const auto buttons = box::levelDialogInit();
    EXPECT_FALSE(buttons.startEnabled);
    EXPECT_TRUE(buttons.stopEnabled);
    while (box::levelRunning.load() == 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int captures = sim.captureCount();
    box::levelDialogCancel();
    EXPECT_FALSE(box::levelWorkerActive());
    EXPECT_EQ(captures, 3);
    EXPECT_EQ(sim.captureCount(), 3);
    // The pass count while it ran; the read-out part is cleared when the measurement ends.
    const auto status = ui.status(0);
    ASSERT_EQ(status.size(), 4u);
    EXPECT_EQ(status[2], "Messung Nr.: 3");
    EXPECT_EQ(status.back(), "");
    EXPECT_EQ(ui.shownViews().front(), 5);
    EXPECT_TRUE(sim.lastMls());
    EXPECT_EQ(core::settings().method, 0); // the setting itself was never touched
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(BoxTest, WorkerStartStopCycles)
{
    core::settings().sampleRate = 1;
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_EQ(box::startLevelMeasurement(testsupport::noViews()), 1);
        box::levelDialogInit();
        if (cycle % 3 == 0)
            box::levelDialogStop();
        if (cycle % 3 == 1) {
            box::levelDialogStop();
            box::levelDialogStart();
        }
        box::levelDialogCancel();
        ASSERT_FALSE(box::levelWorkerActive());
    }
    // Once the dialog is closed nothing drives the box any more.
    const int captures = sim.captureCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim.captureCount(), captures);
}

TEST_F(BoxTest, LevelStimulusCorrectionsAndTables)
{
    // A 1 V sine exactly on bin 20 lies in band 9 (bins 18..21; K 0.45 dB at 6.4 kHz, pink
    // +4.4 dB). P = 2 x 0.5 x the stimulus factor.
    core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    s.sampleRate = 1;
    s.levelWeighting = 1;
    s.levelCalculation = 0;
    static float rec[8192];
    auto sine = [] {
        for (int k = 0; k < 4096; ++k)
            rec[k] = static_cast<float>(std::cos(2 * 3.14159265358979 * 20 * k / 4096.0));
    };
    sine();
    s.levelMethod = 3;
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.707) + 0.45, 0.01);
    s.levelMethod = 1; // "Rosa Rauschen"
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.82) + 0.45 + 4.4, 0.01);
    s.sampleRate = 2; // the 51.2 kHz columns: K 0.44, pink 0.48
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.82) + 0.44 + 0.48, 0.01);

    // Reference and microphone tables of the current rate are taken off at the same bin.
    s.sampleRate = 1;
    s.levelMethod = 3;
    const int t = core::rateTableIndex(1);
    st.referenceAmplitude[t][20] = 6.0f;
    st.micCorrectionAmplitude[t][20] = 1.5f;
    st.referenceAmplitude[core::rateTableIndex(2)][20] = 40.0f; // another rate: unused
    s.referenceComputation = 1;
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.707) + 0.45 - 6.0, 0.01);
    s.micCorrection = 1;
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.707) + 0.45 - 7.5, 0.01);
    s.referenceComputation = 0;
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[9], 20 * std::log10(0.707) + 0.45 - 1.5, 0.01);
}

TEST_F(BoxTest, LevelNoiseMlsDeconvolvesTapersAndTiltsTheBands)
{
    // "Rauschen/MLS": the record of the box's sequence delayed by D deconvolves (divisor 57)
    // to an impulse of 4096/57 at 4 + D over a constant -1/57, so every bin away from 0 has
    // |X| = 1/57 and P = 2 x 6.38 / 57. Band b sums its bins and gains 15 - b dB.
    core::MeasurementSettings& s = core::settings();
    const core::MeasurementStore& st = core::store();
    s.sampleRate = 2;
    s.levelMethod = 2;
    s.levelWeighting = 1;
    s.levelCalculation = 0;
    static float rec[8192];
    auto mlsDelayed = [](int d) {
        for (int n = 0; n < 4095; ++n)
            rec[n] = box::mlsBit((n - d + 4095) % 4095) ? 1.0f : -1.0f;
        rec[4095] = 0.0f;
    };
    const double p = 2 * 6.38 / 57.0;
    auto expected = [&](int b) {
        const box::LevelBand& band = box::kLevelBands[static_cast<std::size_t>(b)];
        double sum = b == 0 ? p * p : p * p * (band.lastBin - band.firstBin + 1);
        return 20 * std::log10(std::sqrt(sum)) + band.k512 + 15 - b;
    };

    // Impulse early in the record: no window touches it.
    s.levelWindow = 1;
    mlsDelayed(100);
    box::computeLevels(0, rec);
    for (int b : {3, 5, 15, 27})
        EXPECT_NEAR(st.levelCurrent[b], expected(b), 0.02) << b;
    EXPECT_EQ(st.levelCurrent[0], core::NO_VALUE); // narrower than a bin

    // Late impulse: with window 1 nothing changes; with Hann the falling half takes w(k).
    const int d = 3000;
    mlsDelayed(d);
    box::computeLevels(0, rec);
    EXPECT_NEAR(st.levelCurrent[15], expected(15), 0.02);
    s.levelWindow = 3;
    mlsDelayed(d);
    box::computeLevels(0, rec);
    const double w = 0.5 * (1.0 + std::cos(6.2831 * (4 + d) / 4096.0 + 3.14155));
    EXPECT_NEAR(st.levelCurrent[15], expected(15) + 20 * std::log10(w), 0.05);
}

TEST_F(BoxTest, BandsNarrowerThanABinHaveNoValue)
{
    // A third octave is 0.2316 fc wide: below 6.75 Hz at 6.4 kHz (1.5625 Hz bins) and below
    // 54 Hz at 51.2 kHz (12.5 Hz bins) a band is narrower than the bins it is summed from.
    // With white noise these bands carry no current and no mean value, not even after
    // averaging; the others do.
    core::MeasurementSettings& s = core::settings();
    const core::MeasurementStore& st = core::store();
    s.levelMethod = 3;
    s.levelWeighting = 1;
    s.levelCalculation = 1;
    static float rec[8192];
    std::uint32_t x = 12345;
    for (int k = 0; k < 4096; ++k) {
        x = x * 1664525u + 1013904223u;
        rec[k] = static_cast<float>(x >> 8) / static_cast<float>(1u << 24) - 0.5f;
    }
    for (int rate : {1, 2}) {
        s.sampleRate = rate;
        for (int pass = 0; pass < 3; ++pass)
            box::computeLevels(pass, rec);
        for (int b = 0; b < 3; ++b) {
            EXPECT_EQ(st.levelCurrent[b], core::NO_VALUE) << b;
            EXPECT_EQ(st.levelMeanPeak[b], core::NO_VALUE) << b;
        }
        for (int b = 3; b < core::kLevelBands; ++b) {
            EXPECT_LT(st.levelCurrent[b], 0.0f) << b;
            EXPECT_LT(st.levelMeanPeak[b], 0.0f) << b;
        }
    }
}
