#include "dsp/Response.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "tests/support/TestSupport.h"

#include <cmath>

using namespace core;

class ResponseHelpersTest : public testsupport::RecordsTest
{
};

TEST_F(ResponseHelpersTest, DbsplConversion)
{
    EXPECT_EQ(dsp::toDbspl(NO_VALUE), NO_VALUE);
    // 0 dB, 6 mV/Pa, 8 ohm, real distance 1 m: 20 log10(5e7 / 6).
    EXPECT_NEAR(dsp::toDbspl(0.0f), 20.0 * std::log10(5e7 / 6.0), 1e-3);
    settings().distanceMm = 500;
    EXPECT_NEAR(dsp::toDbspl(0.0f), 20.0 * std::log10(5e7 / 6.0) - 6.0206, 1e-3);
    settings().dbsplRealDistance = 0;
    settings().dbsplSpeakerImpedanceOhm = 4.0f;
    EXPECT_NEAR(dsp::toDbspl(-6.0f), 20.0 * std::log10(5e7 / 6.0) - 6.0 - 3.0103, 1e-3);
}

TEST_F(ResponseHelpersTest, OverlaySumComplexAndMagnitude)
{
    MeasurementStore& s = store();
    // Two equal curves in antiphase cancel in the complex sum, add in the magnitude sum.
    s.slotOccupied = {1, 1, 0, 0, 0};
    s.amplitudeSlots[0][10] = 0.0f;
    s.amplitudeSlots[1][10] = 0.0f;
    s.phaseSlots[0][10] = 0.0f;
    s.phaseSlots[1][10] = 180.0f;
    s.amplitudeSlots[2][10] = 40.0f; // unoccupied slot: ignored
    settings().sumMode = 1;
    EXPECT_NEAR(dsp::overlaySum(10).amplitudeDb, 6.0206f, 1e-3);
    settings().sumMode = 0;
    EXPECT_LT(dsp::overlaySum(10).amplitudeDb, -80.0f);

    // In phase: +6 dB and the common phase.
    s.phaseSlots[1][10] = 0.0f;
    s.phaseSlots[0][10] = 30.0f;
    s.phaseSlots[1][10] = 30.0f;
    EXPECT_NEAR(dsp::overlaySum(10).amplitudeDb, 6.0206f, 1e-3);
    EXPECT_NEAR(dsp::overlaySum(10).phaseDeg, 30.0f, 1e-3);

    // A NO_VALUE bin is skipped; a bin outside the curve gives no crash.
    s.amplitudeSlots[1][10] = NO_VALUE;
    EXPECT_NEAR(dsp::overlaySum(10).amplitudeDb, 0.0f, 1e-4);
    dsp::overlaySum(-1);
    dsp::overlaySum(5000);
}
