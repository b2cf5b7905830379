#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <clocale>
#include <cmath>

using namespace core;

class SettingsTest : public testsupport::RecordsTest {};

TEST_F(SettingsTest, DefaultsAreTheInitialImage)
{
    const MeasurementSettings& s = settings();
    EXPECT_EQ(s.parallelPort, 1);
    EXPECT_EQ(s.fftLength, 512);
    EXPECT_EQ(s.markerPos[0], 0);
    EXPECT_EQ(s.markerPos[1], 10000);
    EXPECT_EQ(s.measuringInput, 2);
    EXPECT_EQ(s.referenceInput, 4);
    EXPECT_EQ(s.distanceMm, 1000);
    EXPECT_FLOAT_EQ(s.referenceResistorOhm, 22.0f);
    EXPECT_FLOAT_EQ(s.dbsplSpeakerImpedanceOhm, 8.0f);
    EXPECT_EQ(s.method, 0);
    EXPECT_EQ(s.micPhase0Deg, 1);
    EXPECT_EQ(s.levelMethod, 2);
    EXPECT_EQ(s.levelAveraging, 2);
    EXPECT_EQ(s.levelCalculation, 1);
}

TEST_F(SettingsTest, RemapMarkersClampsAndRepairsWhenTheSpanShrinks)
{
    // 6.4 kHz / 4096 (640 ms) to 51.2 kHz / 512 (10 ms): 64 ms and 320 ms lie past the end.
    settings().markerPos = {1000, 5000};
    remapMarkers(1, 4096, 2, 512);
    EXPECT_EQ(settings().sampleRate, 2);
    EXPECT_EQ(settings().fftLength, 512);
    EXPECT_EQ(settings().markerPos[0], 0);
    EXPECT_EQ(settings().markerPos[1], 10000);
}

TEST_F(SettingsTest, RemapMarkersKeepsEndsAndAbsoluteTimes)
{
    settings().markerPos = {0, 10000};
    remapMarkers(1, 512, 1, 4096);
    EXPECT_EQ(settings().markerPos[0], 0);
    EXPECT_EQ(settings().markerPos[1], 10000);

    // 80 ms record, markers at 8 ms and 40 ms; to 160 ms: 500 and 2500 (float times may
    // truncate one unit lower).
    settings().markerPos = {1000, 5000};
    remapMarkers(1, 512, 1, 1024);
    EXPECT_NEAR(settings().markerPos[0], 500, 1);
    EXPECT_LE(settings().markerPos[0], 500);
    EXPECT_NEAR(settings().markerPos[1], 2500, 1);
}

TEST_F(SettingsTest, MarkerResetOnlyWhenCrossed)
{
    settings().markerPos = {3000, 3000};
    resetMarkersIfCrossed();
    EXPECT_EQ(settings().markerPos[0], 0);
    EXPECT_EQ(settings().markerPos[1], 10000);
    settings().markerPos = {100, 200};
    resetMarkersIfCrossed();
    EXPECT_EQ(settings().markerPos[0], 100);
}

TEST_F(SettingsTest, SignedSpinPositions)
{
    EXPECT_FLOAT_EQ(signedSpinValue(65486), -50.0f);
    EXPECT_FLOAT_EQ(signedSpinValue(50), 50.0f);
    EXPECT_FLOAT_EQ(signedSpinValue(65356), -180.0f);
    EXPECT_FLOAT_EQ(signedSpinValue(0), 0.0f);
}

TEST_F(SettingsTest, RangeChecksReadTypedNumbersWithCommaOrPoint)
{
    // Whatever the desktop locale: a comma and a point are both decimal separators.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    RangeCheckResult r = checkSettingRange(RangeField::MicSensitivity, "0,5");
    EXPECT_TRUE(r.ok);
    EXPECT_FLOAT_EQ(r.value, 0.5f);
    r = checkSettingRange(RangeField::MicSensitivity, "0,5,");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messageId, 51);
    EXPECT_EQ(r.captionId, 52);
    r = checkSettingRange(RangeField::ReferenceResistor, "22,5");
    EXPECT_TRUE(r.ok);
    EXPECT_FLOAT_EQ(r.value, 22.5f);
    r = checkSettingRange(RangeField::MicSensitivity, "0.05");
    EXPECT_TRUE(r.ok);
    EXPECT_FLOAT_EQ(r.value, 0.05f);
    std::setlocale(LC_ALL, "C");

    EXPECT_TRUE(checkSettingRange(RangeField::AddedMass, "0.1").ok);
    EXPECT_FALSE(checkSettingRange(RangeField::AddedMass, "0.09").ok);
    EXPECT_TRUE(checkSettingRange(RangeField::BoxVolume, "0.1").ok);
    EXPECT_TRUE(checkSettingRange(RangeField::BoxVolume, "200").ok);
    EXPECT_FALSE(checkSettingRange(RangeField::BoxVolume, "200.01").ok);
    EXPECT_FALSE(checkSettingRange(RangeField::ReferenceResistor, "abc").ok);
    EXPECT_TRUE(checkSettingRange(RangeField::ReferenceResistor, "  10000 Ohm").ok);
    EXPECT_FALSE(checkSettingRange(RangeField::DiaphragmDiameter, "0.99").ok);

    const RangeCheckResult imp = checkSettingRange(RangeField::DbsplSpeakerImpedance, "0");
    EXPECT_EQ(imp.messageId, 53);
    EXPECT_EQ(imp.captionId, 100);
    const RangeCheckResult res = checkSettingRange(RangeField::ReferenceResistor, "0");
    EXPECT_EQ(res.messageId, 104);
    EXPECT_EQ(res.captionId, 105);
    const RangeCheckResult box = checkSettingRange(RangeField::BoxVolume, "");
    EXPECT_EQ(box.messageId, 73);
    EXPECT_EQ(box.captionId, 74);
}

TEST_F(SettingsTest, TypedNumbers)
{
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_DOUBLE_EQ(parseTypedNumber("5,8").value_or(-1), 5.8);
    EXPECT_DOUBLE_EQ(parseTypedNumber("5.8").value_or(-1), 5.8);
    EXPECT_DOUBLE_EQ(parseTypedNumber("  -0,25  ").value_or(-1), -0.25);
    EXPECT_DOUBLE_EQ(parseTypedNumber(",5").value_or(-1), 0.5);
    EXPECT_DOUBLE_EQ(parseTypedNumber("22,5 Ohm").value_or(-1), 22.5);
    EXPECT_DOUBLE_EQ(parseTypedNumber("1,5e3").value_or(-1), 1500.0);
    EXPECT_FALSE(parseTypedNumber("8\xce\xa9").has_value()); // no blank before the unit
    std::setlocale(LC_ALL, "C");
    for (const char* no : {"", " ", ",", "abc", "5x", "5,8x", "1.000,5", "1,000.5", "5 8",
                           "5 ,8", "--5", "1e999", "e5"})
        EXPECT_FALSE(parseTypedNumber(no).has_value()) << no;
}

TEST_F(SettingsTest, LeadingNumberParser)
{
    EXPECT_DOUBLE_EQ(parseLeadingNumber("  -12.5e1xyz"), -125.0);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("3e"), 3.0);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("."), 0.0);
    EXPECT_DOUBLE_EQ(parseLeadingNumber(nullptr), 0.0);
}

TEST_F(SettingsTest, SnapshotCopiesTheSevenFieldsBothWays)
{
    settings().markerPos = {10, 20};
    settings().averages = 7;
    settings().smoothing = 3;
    settings().distanceMm = 250;
    settings().window = 4;
    settings().referenceResistorOhm = 8.2f;
    settings().fftLength = 4096;
    takeSnapshot();
    settings() = MeasurementSettings{};
    restoreSnapshot();
    EXPECT_EQ(settings().markerPos[1], 20);
    EXPECT_EQ(settings().averages, 7);
    EXPECT_EQ(settings().smoothing, 3);
    EXPECT_EQ(settings().distanceMm, 250);
    EXPECT_EQ(settings().window, 4);
    EXPECT_FLOAT_EQ(settings().referenceResistorOhm, 8.2f);
    EXPECT_EQ(settings().fftLength, 512); // not a snapshot field
}

TEST_F(SettingsTest, SpansByRateAndLength)
{
    EXPECT_EQ(recordSpanMs(1, 512), 80);
    EXPECT_EQ(recordSpanMs(2, 4096), 80);
    EXPECT_EQ(recordSpanMs(3, 4096), 1280);
    EXPECT_EQ(recordSpanMs(3, 1000), 0);
    EXPECT_EQ(sampleRateHz(7), 6400);
}

TEST_F(SettingsTest, SweepSettingsAreCheckedAndKeptInTheStore)
{
    EXPECT_EQ(sweepSettingsProblem(20, 20000, 2), "");
    EXPECT_EQ(sweepSettingsProblem(10, 20, 0.5), "");
    EXPECT_NE(sweepSettingsProblem(5, 20000, 2).find("Sweep von"), std::string::npos);
    EXPECT_NE(sweepSettingsProblem(20, 500000, 2).find("Sweep bis"), std::string::npos);
    EXPECT_NE(sweepSettingsProblem(1000, 1500, 2).find("Oktave"), std::string::npos);
    EXPECT_NE(sweepSettingsProblem(20, 20000, 11).find("Dauer"), std::string::npos);
    EXPECT_NE(sweepSettingsProblem(std::nan(""), 20000, 2), "");

    MemorySettingsStore store;
    MeasurementSettings written;
    written.sweepStartHz = 15.5f;
    written.sweepEndHz = 18000.0f;
    written.sweepSeconds = 4.25f;
    writeSweepSettings(store, written);
    MeasurementSettings read;
    readSweepSettings(store, read);
    EXPECT_EQ(read.sweepStartHz, 15.5f);
    EXPECT_EQ(read.sweepEndHz, 18000.0f);
    EXPECT_EQ(read.sweepSeconds, 4.25f);

    // A hand-edited store with a value out of range, or no number, changes nothing.
    store.setValue("Sweep/Dauer", "100");
    MeasurementSettings kept;
    readSweepSettings(store, kept);
    EXPECT_EQ(kept.sweepStartHz, 20.0f);
    EXPECT_EQ(kept.sweepSeconds, 2.0f);
    store.setValue("Sweep/Dauer", "zwei");
    readSweepSettings(store, kept);
    EXPECT_EQ(kept.sweepStartHz, 15.5f);
    EXPECT_EQ(kept.sweepSeconds, 2.0f);
}
