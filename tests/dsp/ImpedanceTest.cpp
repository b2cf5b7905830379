#include "dsp/Impedance.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <complex>

using namespace core;

class ImpedanceTest : public testsupport::RecordsTest
{
protected:
    // Run curves of a divider: U1 at the amplifier, U2 = U1 Z / (R + Z) at the loudspeaker.
    void setRuns(std::complex<double> u1, std::complex<double> u2)
    {
        auto& st = store();
        for (int i = 0; i < kCurveBins; ++i) {
            st.impedanceRunAmplitude[0][i] = static_cast<float>(20 * std::log10(std::abs(u1)));
            st.impedanceRunAmplitude[1][i] = static_cast<float>(20 * std::log10(std::abs(u2)));
            st.impedanceRunPhase[0][i] = static_cast<float>(std::arg(u1) * 180 / std::acos(-1.0));
            st.impedanceRunPhase[1][i] = static_cast<float>(std::arg(u2) * 180 / std::acos(-1.0));
        }
    }
};

TEST_F(ImpedanceTest, HalfVoltageGivesTheResistorValue)
{
    settings().sampleRate = 2;
    settings().fftLength = 1024;
    auto& st = store();
    for (int i = 0; i < kCurveBins; ++i) {
        st.impedanceRunAmplitude[0][i] = 0.0f;
        st.impedanceRunAmplitude[1][i] = -6.0206f;
    }
    dsp::computeImpedance(core::store(), core::settings().referenceResistorOhm,
                          core::settings().fftLength, core::settings().sampleRate);
    EXPECT_NEAR(st.impedanceMagnitude[0], 21.78f, 1e-3);
    EXPECT_NEAR(st.impedanceMagnitude[2047], 21.78f, 1e-3);
    EXPECT_NEAR(st.impedancePhase[100], 0.0f, 1e-3);
    EXPECT_EQ(st.impedanceMagnitude.trailerN(), 1024.0f);
    EXPECT_EQ(st.impedancePhase.trailerRate(), 2.0f);
}

TEST_F(ImpedanceTest, ComplexLoadThroughTheDivider)
{
    // Z = 6 + j8 (10 ohm at 53.13 degrees) behind 22 ohm.
    const std::complex<double> z(6.0, 8.0);
    const std::complex<double> u1 = std::polar(0.8, 0.3);
    setRuns(u1, u1 * z / (22.0 + z));
    dsp::computeImpedance(core::store(), core::settings().referenceResistorOhm,
                          core::settings().fftLength, core::settings().sampleRate);
    EXPECT_NEAR(store().impedanceMagnitude[10], 0.99 * 10.0, 1e-3);
    // 0.0174532 and 3.1415 are not quite pi / 180 and pi: a few thousandths of a degree.
    EXPECT_NEAR(store().impedancePhase[10], 53.1301, 0.01);
}

TEST_F(ImpedanceTest, ResponsesOfADividerGiveItsOhms)
{
    // The two records of a real 8-ohm load behind the 22-ohm resistor, through the response
    // computation as the impedance run uses it.
    settings().sampleRate = 2;
    settings().fftLength = 2048;
    settings().method = 1;
    settings().measuringInput = 1;
    settings().markerPos = {3000, 3100}; // ignored during impedance runs
    auto& st = store();
    dsp::ResponseRequest run = dsp::responseRequest(settings(), core::ResponseMode::Measurement);
    run.smoothing = core::Smoothing::Twelfth;
    run.impedanceRun = true;
    st.timeRecord.v.fill(0.0f);
    // Kept near sample 0: the program's 3.1415 and 0.0174532 cost about 0.01 degree per turn
    // of a long delay's phase.
    st.timeRecord[0] = 1.0f;
    st.timeRecord[1] = 0.5f;
    dsp::computeResponse(run, st, st.impedanceRunAmplitude[0], st.impedanceRunPhase[0]);
    for (int n = 0; n < kRecordSamples; ++n)
        st.timeRecord[n] *= 8.0f / 30.0f;
    dsp::computeResponse(run, st, st.impedanceRunAmplitude[1], st.impedanceRunPhase[1]);
    dsp::computeImpedance(core::store(), core::settings().referenceResistorOhm,
                          core::settings().fftLength, core::settings().sampleRate);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_NEAR(st.impedanceMagnitude[i], 0.99 * 8.0, 1e-3) << i;
        ASSERT_NEAR(st.impedancePhase[i], 0.0, 0.01) << i;
    }
}

TEST_F(ImpedanceTest, EqualRunsAreClampedOnlyAt51And3kHz)
{
    setRuns(1.0, 1.0);
    for (int rate : {2, 3}) {
        settings().sampleRate = rate;
        dsp::computeImpedance(core::store(), core::settings().referenceResistorOhm,
                          core::settings().fftLength, core::settings().sampleRate);
        EXPECT_EQ(store().impedanceMagnitude[5], 400.0f) << rate;
        EXPECT_LE(std::fabs(store().impedancePhase[5]), 180.0f);
    }
    settings().sampleRate = 1;
    dsp::computeImpedance(core::store(), core::settings().referenceResistorOhm,
                          core::settings().fftLength, core::settings().sampleRate);
    EXPECT_GT(store().impedanceMagnitude[5], 1e6f);
}
