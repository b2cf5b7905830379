#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/Fft.h"
#include "dsp/Response.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

using namespace core;

namespace
{

const double kPi = std::acos(-1.0);

// Two-pole resonator (RBJ band-pass, 0 dB at the centre) and its exact response.
struct Resonator {
    double b0, b2, a1, a2;
    Resonator(double f0, double q, double fs)
    {
        const double w0 = 2.0 * kPi * f0 / fs;
        const double alpha = std::sin(w0) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        b0 = alpha / a0;
        b2 = -alpha / a0;
        a1 = -2.0 * std::cos(w0) / a0;
        a2 = (1.0 - alpha) / a0;
    }
    std::complex<double> response(double f, double fs) const
    {
        const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / fs);
        return (b0 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1);
    }
    // Impulse response starting at sample `delay`.
    void fill(TimeRecord& r, int delay) const
    {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (int n = 0; n < kRecordSamples; ++n) {
            const double x = (n == delay) ? 1.0 : 0.0;
            const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            r[n] = static_cast<float>(y);
        }
    }
};

} // namespace

class ComputeResponseTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        MeasurementSettings& s = settings();
        s.method = 1;
        s.measuringInput = 1; // Line1: no microphone smoothing
        s.sampleRate = 2;
        s.fftLength = 4096;
        s.markerPos = {0, 10000};
    }
    void impulseAt(int n, float value = 1.0f)
    {
        store().timeRecord.v.fill(0.0f);
        store().timeRecord[n] = value;
    }
    // The response as a run computes it: the conditions from the settings, with the mode,
    // length, smoothing and phase mode of the case.
    void compute(core::ResponseMode mode, int N, core::Smoothing smoothing, core::PhaseMode phase,
                 std::span<const float> gain = {}, bool impedanceRun = false)
    {
        dsp::ResponseRequest r = dsp::responseRequest(settings(), mode);
        r.fftLength = N;
        r.smoothing = smoothing;
        r.phaseMode = phase;
        r.stimulusGain = gain;
        r.impedanceRun = impedanceRun;
        dsp::computeResponse(r, store(), amp, pha);
    }
    CurveBuffer amp;
    CurveBuffer pha;
};

TEST_F(ComputeResponseTest, ImpulseGivesFlatAmplitudeAtTheMethodLevel)
{
    impulseAt(10);
    // |X| = 1/N; MLS scaling N/512 x 393, impulse N/512 x 72, analyser 1.41.
    const struct {
        int method;
        double level;
    } cases[] = {{1, 20 * std::log10(393.0 / 512)},
                 {0, 20 * std::log10(72.0 / 512)},
                 {2, 20 * std::log10(1.41 / 4096)}};
    for (const auto& c : cases) {
        settings().method = c.method;
        compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None,
                core::PhaseMode::Real);
        EXPECT_EQ(amp[0], NO_VALUE);
        for (int i = 1; i < 2048; ++i)
            ASSERT_NEAR(amp[i], c.level, 1e-3) << "method " << c.method << " bin " << i;
    }
    // The preamplifier gain is taken out.
    settings().method = 1;
    settings().preampGainDb = 20.0f;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    EXPECT_NEAR(amp[100], 20 * std::log10(393.0 / 512) - 20.0, 1e-3);

    EXPECT_EQ(amp[2048], 4096.0f);
    EXPECT_EQ(amp[2049], 2.0f);
    EXPECT_EQ(pha[2048], 4096.0f);
    EXPECT_EQ(store().stepResponseCurve.trailerN(), 4096.0f);
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ComputeResponseTest, DelayedImpulseGivesLinearPhase)
{
    const int n0 = 37;
    impulseAt(n0);
    // The program converts radians with 3.1415 but unwraps in steps of exactly 360, so the
    // expected phase is the wrapped angle in its degrees plus whole turns.
    auto expected = [&](int i) {
        const double angle = -2.0 * kPi * i * n0 / 4096.0;
        const double wrapped = std::remainder(angle, 2.0 * kPi);
        const double turns = std::round((angle - wrapped) / (2.0 * kPi));
        return wrapped * 180.0 / 3.1415 + 360.0 * turns;
    };
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    for (int i = 1; i < 2048; ++i) {
        ASSERT_LE(std::fabs(pha[i]), 180.0f) << i;
        ASSERT_NEAR(testsupport::phaseDifferenceDeg(pha[i], expected(i)), 0.0, 1e-3) << i;
    }
    // The impedance runs get the unwrapped phase itself.
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real, {},
            true);
    for (int i = 0; i < 2048; ++i)
        ASSERT_NEAR(pha[i], expected(i), 0.01) << i;

    // Delay compensation adds f x distanceMm x 3.76 / 3440 degrees and the phase offset.
    settings().distanceMm = 1234;
    settings().phaseOffsetDeg = 30.0f;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None,
            core::PhaseMode::RealDelayCompensated);
    for (int i = 1; i < 2048; ++i) {
        const double comp = 12.5 * i * 1234 * 3.76 / 3440.0;
        ASSERT_LE(std::fabs(pha[i]), 181.0f) << i;
        ASSERT_NEAR(testsupport::phaseDifferenceDeg(pha[i], expected(i) + comp + 30.0), 0.0, 2e-3)
            << i;
    }
}

TEST_F(ComputeResponseTest, TimeWindowDivisorsAndFades)
{
    auto& st = store();
    st.timeRecord.v.fill(1.0f);
    // M1 1000, M2 9999 at N 4096: start = trunc(409.5) = 409, end = trunc(4095.0) = 4095
    // (with 10000 as divisor it would be 4094).
    settings().markerPos = {1000, 9999};
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    std::vector<float> re(st.fftRe.begin(), st.fftRe.end());
    std::vector<float> im(st.fftIm.begin(), st.fftIm.end());
    dsp::fftInverse({re.data(), im.data()}, 12);
    const double in[] = {0.0488, 0.1502, 0.3332, 0.5799, 0.8247};
    const double out[] = {0.0488, 0.1502, 0.3332, 0.5799};
    EXPECT_NEAR(re[408], 0.0, 1e-5);
    for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(re[409 + k], in[k], 1e-5) << k;
    EXPECT_NEAR(re[414], 1.0, 1e-5);
    EXPECT_NEAR(re[4090], 1.0, 1e-5);
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(re[4094 - k], out[k], 1e-5) << k;
    EXPECT_NEAR(re[4095], 0.0, 1e-5);
}

TEST_F(ComputeResponseTest, FirstValidBin)
{
    impulseAt(300);
    // 6.4 kHz, whole record of 4096: fLow = 1.562 Hz, first valid bin 1.
    settings().sampleRate = 1;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    EXPECT_EQ(amp[0], NO_VALUE);
    EXPECT_EQ(pha[0], NO_VALUE);
    EXPECT_NE(amp[1], NO_VALUE);
    EXPECT_NE(pha[1], NO_VALUE);

    // Markers 2000..4000 of a 1024 record at 51.2 kHz: start 204, end 409, first valid bin 5.
    settings().sampleRate = 2;
    settings().fftLength = 1024;
    settings().markerPos = {2000, 4000};
    for (int phaseMode : {1, 2, 3}) {
        compute(core::ResponseMode::Measurement, 1024, core::Smoothing::None,
                core::phaseModeFromCode(phaseMode));
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(amp[i], NO_VALUE) << i;
            ASSERT_EQ(pha[i], NO_VALUE) << i;
        }
        EXPECT_NE(amp[5], NO_VALUE);
        EXPECT_NE(pha[5], NO_VALUE);
        EXPECT_NE(pha[511], NO_VALUE);
        EXPECT_EQ(amp[2048], 1024.0f);
    }
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ComputeResponseTest, CoincidingMarkersAreReported)
{
    impulseAt(2000);
    settings().markerPos = {5000, 5000}; // start = end = 2047
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    const auto msgs = ui.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].text, str(89));
    EXPECT_EQ(msgs[0].caption, " ");
    EXPECT_EQ(msgs[0].icon, Icon::Information);
    EXPECT_EQ(amp[2045], NO_VALUE);
    EXPECT_NE(amp[2046], NO_VALUE);

    // Crossed markers from a damaged file: reported the same way, nothing is read outside.
    ui.clear();
    settings().markerPos = {9000, -50};
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    EXPECT_EQ(ui.messages().size(), 1u);
}

TEST_F(ComputeResponseTest, ReferenceThenMeasurementGivesL0)
{
    Resonator(1000.0, 5.0, 6400.0).fill(store().timeRecord, 20);
    settings().sampleRate = 1;
    settings().smoothing = 4;
    compute(core::ResponseMode::Reference, 4096, core::Smoothing::Twelfth, core::PhaseMode::Real);
    const auto& ref = store().referenceAmplitude[rateTableIndex(1)];
    const double meanAt80 = (ref[80] + ref[81] + ref[82] + ref[83]) / 4.0;
    EXPECT_NEAR(meanAt80, 0.0, 1e-4);
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(amp[i], ref[i]) << i; // the output is the table itself

    settings().referenceComputation = 1;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::Twelfth, core::PhaseMode::Real);
    const float level = amp[1];
    for (int i = 1; i < 2048; ++i) {
        ASSERT_NEAR(amp[i], level, 1e-3) << i;
        ASSERT_NEAR(pha[i], 0.0, 1e-3) << i;
    }
    // The constant is L0: the mean level at bins 80..83 of the smoothed reference.
    settings().referenceComputation = 0;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::Twelfth, core::PhaseMode::Real);
    EXPECT_NEAR((amp[80] + amp[81] + amp[82] + amp[83]) / 4.0, level, 1e-3);
}

TEST_F(ComputeResponseTest, TablesReadOnTheGridAndNeverPastTheirEnds)
{
    auto& st = store();
    impulseAt(10);
    settings().fftLength = 512;
    settings().referenceComputation = 1;
    settings().micCorrection = 1;
    const int t = rateTableIndex(2);
    for (int g = 0; g < kCurveBins; ++g) {
        st.referenceAmplitude[t][g] = 0.001f * g;
        st.referencePhase[t][g] = 0.002f * g;
    }
    for (int g = 0; g < kMicTableSize; ++g) {
        st.micCorrectionAmplitude[t][g] = -0.0005f * g;
        st.micCorrectionPhase[t][g] = 0.0f;
    }
    // Sentinels right behind the tables of 51.2 kHz.
    st.referenceAmplitude[t + 1].fill(1e9f);
    st.referencePhase[t + 1].fill(1e9f);
    st.micCorrectionAmplitude[t + 1].fill(1e9f);
    st.micCorrectionPhase[t + 1].fill(1e9f);

    const double base = 20 * std::log10(393.0 / 512 * 512 / 512);
    for (int phaseMode : {1, 2, 3}) {
        compute(core::ResponseMode::Measurement, 512, core::Smoothing::None,
                core::phaseModeFromCode(phaseMode));
        for (int i = 1; i < 256; ++i)
            ASSERT_NEAR(amp[i], base - 0.001 * 8 * i + 0.0005 * 8 * i, 1e-3) << i;
        for (int i = 0; i < 2048; ++i) {
            ASSERT_GT(amp[i], -1e5f) << i;
            ASSERT_LT(std::fabs(pha[i]), 1e6f) << i;
        }
    }
    EXPECT_EQ(amp[2048], 512.0f);
}

TEST_F(ComputeResponseTest, MicrophoneInputIsAlwaysSmoothed)
{
    Resonator(2000.0, 5.0, 51200.0).fill(store().timeRecord, 20);
    settings().measuringInput = 1;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    CurveBuffer line = amp;
    settings().measuringInput = 2;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    // a = 24 leaves bins below 72 alone and averages d + 1 bins above.
    for (int i = 1; i < 72; ++i)
        ASSERT_EQ(amp[i], line[i]) << i;
    EXPECT_NE(amp[160], line[160]);
    // At 2 kHz (bin 160, d = 2) the level is the mean of bins 158..160 of the linear magnitude.
    const double mean = (std::pow(10, line[158] / 20) + std::pow(10, line[159] / 20) +
                         std::pow(10, line[160] / 20)) /
                        3.0;
    EXPECT_NEAR(amp[160], 20 * std::log10(mean), 1e-3);
}

TEST_F(ComputeResponseTest, ResonatorMatchesItsAnalyticMagnitude)
{
    const Resonator r(1000.0, 5.0, 51200.0);
    r.fill(store().timeRecord, 10);
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    double worst = 0.0;
    for (int i = 8; i <= 800; ++i) { // 100 Hz .. 10 kHz in 12.5 Hz bins
        const double expected = 20 * std::log10(std::abs(r.response(12.5 * i, 51200.0)) * 393.0 /
                                                512.0 * 4096.0 / 4096.0);
        worst = std::max(worst, std::fabs(amp[i] - expected));
    }
    EXPECT_LT(worst, 0.1);
}

TEST_F(ComputeResponseTest, MinimumPhaseOfAOnePoleFilter)
{
    // y(n) = 0.9 y(n-1) + x(n) is minimum phase: its phase is -atan(a sin w / (1 - a cos w)).
    auto& rec = store().timeRecord;
    rec.v.fill(0.0f);
    for (int n = 5; n < 400; ++n)
        rec[n] = static_cast<float>(std::pow(0.9, n - 5));
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Minimum);
    for (int i = 100; i < 1900; i += 50) {
        const double w = 2.0 * kPi * i / 4096.0;
        const double expected =
            -std::atan2(0.9 * std::sin(w), 1.0 - 0.9 * std::cos(w)) * 180.0 / kPi;
        EXPECT_NEAR(pha[i], expected, 1.0) << i;
    }
}

TEST_F(ComputeResponseTest, StepResponseOfAnImpulseJumps)
{
    impulseAt(1000);
    settings().stepResponse = 1;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    const auto& step = store().stepResponseCurve;
    // Direct evaluation of the integration: bin 0 halved, every bin k of 1..N-1 divided by
    // j k, inverse transform, real part relative to sample 0, times N / 16.
    auto direct = [](int n) {
        const int N = 4096;
        double sum = 0.5 / N;
        for (int k = 1; k < N; ++k) {
            const std::complex<double> x = std::polar(1.0 / N, -2.0 * kPi * k * 1000 / N);
            sum +=
                (x / std::complex<double>(0.0, k) * std::polar(1.0, 2.0 * kPi * k * n / N)).real();
        }
        return sum;
    };
    const double r0 = direct(0);
    for (int n : {1, 500, 999, 1000, 1001, 3000, 4095})
        EXPECT_NEAR(step[n], (direct(n) - r0) * 4096 / 16.0, 1e-4) << n;
    EXPECT_GT(step[1001] - step[999], 0.17); // the jump at the impulse
    // The spectrum is restored afterwards: the amplitude is unchanged.
    EXPECT_NEAR(amp[100], 20 * std::log10(393.0 / 512), 1e-3);

    settings().stepResponse = 0;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(step[i], 0.0f);
}

TEST_F(ComputeResponseTest, PhaseTablesAndDelayCompensationOnTheGrid)
{
    // A reference of a delayed impulse stores its unwrapped phase and shows the raw one.
    auto& st = store();
    const int t = rateTableIndex(2);
    impulseAt(37);
    compute(core::ResponseMode::Reference, 4096, core::Smoothing::None, core::PhaseMode::Real);
    const auto& refPhase = st.referencePhase[t];
    for (int i = 1; i < 2048; ++i)
        ASSERT_LE(std::fabs(pha[i]), 180.01f) << i;
    // 37 samples of delay: 18 turns by bin 2000 (each 0.01 degree long with 3.1415).
    EXPECT_NEAR(refPhase[2000], -360.0 * 37 * 2000 / 4096, 0.5);
    EXPECT_NEAR(refPhase[100], pha[100] - 360.0, 0.01);

    // The same record at N 1024 relative to that reference: real phase is flat, less the
    // microphone table at i x gridStep.
    settings().fftLength = 1024;
    settings().referenceComputation = 1;
    compute(core::ResponseMode::Measurement, 1024, core::Smoothing::None, core::PhaseMode::Real);
    for (int i = 1; i < 512; ++i)
        ASSERT_NEAR(pha[i], 0.0, 0.01) << i;
    settings().micCorrection = 1;
    for (int g = 0; g < kMicTableSize; ++g)
        st.micCorrectionPhase[t][g] = (g % 4 == 0) ? 10.0f : 99.0f;
    compute(core::ResponseMode::Measurement, 1024, core::Smoothing::None, core::PhaseMode::Real);
    for (int i = 1; i < 512; ++i)
        ASSERT_NEAR(pha[i], -10.0, 0.01) << i;

    // Delay compensation with the reference adds one grid step more: (4i + 1) x delta.
    settings().micCorrection = 0;
    settings().distanceMm = 500;
    settings().phaseOffsetDeg = -20.0f;
    compute(core::ResponseMode::Measurement, 1024, core::Smoothing::None,
            core::PhaseMode::RealDelayCompensated);
    const double delta = 12.5 * 500 * 3.76 / 3440.0;
    for (int i = 1; i < 512; ++i) {
        ASSERT_LE(std::fabs(pha[i]), 181.01f) << i;
        ASSERT_NEAR(testsupport::phaseDifferenceDeg(pha[i], (4 * i + 1) * delta - 20.0), 0.0, 0.02)
            << i;
    }
    for (int i = 512; i < 2048; ++i)
        ASSERT_EQ(pha[i], NO_VALUE) << i;
}

TEST_F(ComputeResponseTest, ImpedanceRunsIgnoreWindowPreampAndStepResponse)
{
    impulseAt(10, 0.5f);
    settings().markerPos = {5000, 5000}; // would be reported and cut everything
    settings().preampGainDb = 20.0f;
    settings().stepResponse = 1;
    store().stepResponseCurve.v.fill(3.0f);
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real, {},
            true);
    EXPECT_TRUE(ui.messages().empty());
    for (int i = 0; i < 2048; ++i)
        ASSERT_NEAR(amp[i], 20 * std::log10(0.5 * 393.0 / 512), 1e-3) << i;
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(store().stepResponseCurve[i], 0.0f) << i;
    EXPECT_EQ(store().stepResponseCurve.trailerN(), 4096.0f);
}

// A stimulus that excites the upper bins weaker (a sound card's band-limited MLS): the
// response is divided by it where it reaches a tenth, and the bins beyond carry no value in
// every phase mode. The division comes before the smoothing, which then sees no cliff at the
// band's end; the reference table itself stays finite.
TEST_F(ComputeResponseTest, StimulusGainDividesAndEndsTheBand)
{
    impulseAt(10);
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None, core::PhaseMode::Real);
    const double level = amp[100];
    std::vector<float> gain(2049, 0.0f);
    for (int i = 0; i < 2049; ++i)
        gain[static_cast<std::size_t>(i)] =
            i < 1000 ? 1.0f : std::max(0.0f, 1.0f - static_cast<float>(i - 1000) / 500.0f);
    const int lastExcited = 1450; // a tenth, 1 - 450/500
    for (int phaseMode : {1, 2, 3}) {
        settings().phaseMode = phaseMode;
        compute(core::ResponseMode::Measurement, 4096, core::Smoothing::None,
                core::phaseModeFromCode(phaseMode), gain);
        for (int i = 1; i <= lastExcited; ++i)
            ASSERT_NEAR(amp[i], level - 20.0 * std::log10(gain[static_cast<std::size_t>(i)]), 1e-3)
                << phaseMode << "/" << i;
        EXPECT_NE(pha[lastExcited], NO_VALUE) << phaseMode;
        for (int i = lastExcited + 1; i < 2048; ++i) {
            ASSERT_EQ(amp[i], NO_VALUE) << phaseMode << "/" << i;
            ASSERT_EQ(pha[i], NO_VALUE) << phaseMode << "/" << i;
        }
    }
    // A band that ends sharply: smoothed, the last bins keep their level.
    std::vector<float> band(2049, 1.0f);
    for (int i = lastExcited + 1; i < 2049; ++i)
        band[static_cast<std::size_t>(i)] = 0.0f;
    compute(core::ResponseMode::Measurement, 4096, core::Smoothing::Third, core::PhaseMode::Real,
            band);
    for (int i = 1; i <= lastExcited; ++i)
        ASSERT_NEAR(amp[i], level, 1e-3) << i;

    compute(core::ResponseMode::Reference, 4096, core::Smoothing::Twelfth, core::PhaseMode::Real,
            gain);
    const auto& ref = store().referenceAmplitude[rateTableIndex(2)];
    EXPECT_EQ(amp[2000], NO_VALUE);
    EXPECT_TRUE(std::isfinite(ref[2000]) && ref[2000] != NO_VALUE);
    EXPECT_EQ(amp[lastExcited], ref[lastExcited]);
}
