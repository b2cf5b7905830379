#include "dsp/ts/TsParameters.h"

#include "DriverModel.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <cstring>
#include <string>

namespace
{

using testsupport::RecordsTest;
using tstest::Driver;

class TsParametersTest : public RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        core::settings().method = 0; // no MLS phase factor in the reactance sample
        core::settings().diaphragmDiameterMm = 170.0f;
    }

    // Analysis of the free-air curve, with its reactance sample.
    ts::ResonanceResult analyze(const Driver& d, float* x = nullptr)
    {
        tstest::writeImpedance(d, core::settings().sampleRate);
        ts::ResonanceResult r;
        EXPECT_EQ(ts::analyzeResonance(r), 0);
        if (x != nullptr)
            *x = ts::reactanceSample();
        return r;
    }

    std::string storedText() { return core::store().tsResultText.data(); }
};

TEST_F(TsParametersTest, RecoversADriverWithAddedMass)
{
    const Driver d;
    core::settings().addedMassG = 20.0f;
    float x = 0.0f;
    const auto a = analyze(d, &x);
    const auto b = analyze(d.loaded(0.020, 0.0));
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(a, b, 6.0f, x, &p), 1);

    EXPECT_NEAR(p.fsHz, d.fsHz, 0.01 * d.fsHz);
    EXPECT_NEAR(p.qt, d.qts(), 0.05 * d.qts());
    EXPECT_NEAR(p.qe, d.qes, 0.05 * d.qes);
    EXPECT_NEAR(p.qm, d.qms, 0.05 * d.qms);
    EXPECT_NEAR(p.vasL, d.vasL, 0.05 * d.vasL);
    EXPECT_NEAR(p.mmsG, d.mmsKg() * 1000.0, 0.05 * d.mmsKg() * 1000.0);
    EXPECT_NEAR(p.blTm, d.bl(), 0.05 * d.bl());
    EXPECT_NEAR(p.rmsKgPerS, d.rms(), 0.08 * d.rms());
    EXPECT_NEAR(p.inductanceMh, d.leH * 1000.0, 0.05 * d.leH * 1000.0);
    EXPECT_NEAR(p.sdM2, d.sd(), 1e-4);

    // The text lands in the store in Windows-1252 and is shown as the information box.
    const std::string stored = storedText();
    EXPECT_EQ(stored.rfind("Sd=0.0227 m\xB2    Mms=", 0), 0u) << stored;
    EXPECT_NE(stored.find("L @ 1kHz="), std::string::npos);
    EXPECT_NE(stored.find("Re=6.00 Ohm"), std::string::npos);
    const auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "Thiele Small Parameter");
    EXPECT_EQ(m[0].icon, core::Icon::Information);
    EXPECT_EQ(m[0].text, core::cp1252ToUtf8(stored));
}

TEST_F(TsParametersTest, RecoversADriverInAClosedBox)
{
    const Driver d;
    core::settings().boxVolumeL = 20.0f;
    // The box formula assumes the enclosed air adds 0.85 of the free-air load mass
    // 0.575 Sd^1.5; with that mass in the model, what it returns is the cone mass without
    // the air load, so Cms and Vas come out larger by Mms / (Mms - Ma).
    const double ma = 0.575 * std::pow(d.sd(), 1.5);
    float x = 0.0f;
    const auto a = analyze(d, &x);
    const auto b = analyze(d.loaded(0.0, 20.0, 0.85 * ma));
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(a, b, 6.0f, x, &p), 1);
    const double expectedVas = d.vasL * d.mmsKg() / (d.mmsKg() - ma);
    EXPECT_NEAR(p.fsHz, d.fsHz, 0.01 * d.fsHz);
    EXPECT_NEAR(p.vasL, expectedVas, 0.04 * expectedVas);
    EXPECT_NEAR(p.vasL, d.vasL, 0.25 * d.vasL);
    EXPECT_NEAR(p.qt, d.qts(), 0.05 * d.qts());
}

TEST_F(TsParametersTest, RateDecidesTheInductanceFrequency)
{
    const Driver d;
    core::settings().sampleRate = 3;
    core::settings().addedMassG = 20.0f;
    float x = 0.0f;
    const auto a = analyze(d, &x);
    const auto b = analyze(d.loaded(0.020, 0.0));
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(a, b, 6.0f, x, &p), 1);
    EXPECT_NE(storedText().find("L @ 500Hz="), std::string::npos);
    EXPECT_NEAR(p.inductanceMh, 0.5, 0.05);
    EXPECT_NEAR(p.fsHz, d.fsHz, 0.01 * d.fsHz);
}

TEST_F(TsParametersTest, ReactanceSampleBinAndFactor)
{
    auto& st = core::store();
    st.impedanceMagnitude[640] = 10.0f;
    st.impedancePhase[640] = 30.0f;
    st.impedanceMagnitude[800] = 4.0f;
    st.impedancePhase[800] = -60.0f;
    auto& s = core::settings();
    s.method = 1;
    s.sampleRate = 1;
    EXPECT_FLOAT_EQ(ts::reactanceSample(), 10.0f * std::sin(30.0f * 0.01745f * 1.2f));
    s.sampleRate = 3;
    EXPECT_FLOAT_EQ(ts::reactanceSample(), 10.0f * std::sin(30.0f * 0.01745f * 1.4f));
    s.sampleRate = 2;
    EXPECT_FLOAT_EQ(ts::reactanceSample(), 4.0f * std::sin(-60.0f * 0.01745f));
    s.method = 0;
    s.sampleRate = 1;
    EXPECT_FLOAT_EQ(ts::reactanceSample(), 10.0f * std::sin(30.0f * 0.01745f));
}

// Every failed evaluation keeps the previous result text.
TEST_F(TsParametersTest, FailuresKeepThePreviousText)
{
    const Driver d;
    float x = 0.0f;
    const auto a = analyze(d, &x);
    core::setTsResultText("previous");
    ui.clear();

    // Equal resonances: nothing to evaluate, and nothing said.
    EXPECT_EQ(ts::computeTsParameters(a, a, 6.0f, x), 0);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(storedText(), "previous");

    const auto b = analyze(d.loaded(0.020, 0.0));
    struct Case {
        const char* what;
        ts::ResonanceResult a;
        float re;
        int message;
    };
    ts::ResonanceResult noLower = a;
    noLower.lowerFlankCoef = {0, 0, 0, 0, 1000.0f, 0};
    ts::ResonanceResult noUpper = a;
    noUpper.upperFlankCoef = {0, 0, 0, 0, 1000.0f, 0};
    ts::ResonanceResult tooLow = a;
    tooLow.resonanceHz = 9.5f;
    ts::ResonanceResult flatFlanks = a;
    flatFlanks.lowerFlankCoef = {0, 0, 0, 0, std::nanf(""), 0};
    const Case cases[] = {
        {"lower band edge", noLower, 6.0f, 121},
        {"upper band edge", noUpper, 6.0f, 122},
        {"Re above the peak", a, a.resonanceOhm + 1.0f, 118},
        {"peak barely above Re", a, a.resonanceOhm - 0.05f, 118},
        {"resonance below 10 Hz", tooLow, 6.0f, 118},
        {"undefined flank model", flatFlanks, 6.0f, 121},
    };
    for (const Case& c : cases) {
        ui.clear();
        EXPECT_EQ(ts::computeTsParameters(c.a, b, c.re, x), 0) << c.what;
        const auto m = ui.messages();
        ASSERT_EQ(m.size(), 1u) << c.what;
        EXPECT_EQ(m[0].text, core::str(c.message)) << c.what;
        EXPECT_EQ(m[0].caption, " ");
        EXPECT_EQ(storedText(), "previous") << c.what;
    }
}

} // namespace
