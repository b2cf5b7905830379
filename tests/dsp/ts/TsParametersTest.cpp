#include "dsp/ts/TsParameters.h"

#include "DriverModel.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/ts/DriverPhysics.h"
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
    ts::TsEvaluationInputs inputs;

    // The analysis of a driver's curve on the bins of a run at the inputs' rate, with the DC
    // resistance held as the procedure holds the confirmed one.
    ts::ResonanceResult analyze(const Driver& d, float reOhm = 0.0f)
    {
        const auto pts = tstest::binPoints(d, inputs.rateCode);
        const ts::FitRequest req = ts::measuredFitRequest(inputs.rateCode);
        ts::ResonanceResult r;
        EXPECT_EQ(ts::analyzeResonance(pts, req, r), 0);
        if (reOhm > 0.0f)
            r = ts::refitWithDcResistance(pts, req, r, reOhm);
        return r;
    }

    std::string storedText() { return core::store().tsResultText.data(); }
};

TEST_F(TsParametersTest, RecoversADriverWithAddedMass)
{
    Driver d;
    d.qms = 8.0;
    d.qes = 0.4;
    inputs.addedMassG = 20.0f;
    const auto a = analyze(d, 6.0f);
    const auto b = analyze(d.loaded(0.020, 0.0));
    ui.clear();
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(inputs, a, b, 6.0f, &p), 1);

    EXPECT_NEAR(p.fsHz, d.fsHz, 0.005 * d.fsHz);
    EXPECT_NEAR(p.qt, d.qts(), 0.01 * d.qts());
    EXPECT_NEAR(p.qe, d.qes, 0.01 * d.qes);
    EXPECT_NEAR(p.qm, d.qms, 0.01 * d.qms);
    EXPECT_NEAR(p.vasL, d.vasL, 0.02 * d.vasL);
    EXPECT_NEAR(p.mmsG, d.mmsKg() * 1000.0, 0.02 * d.mmsKg() * 1000.0);
    EXPECT_NEAR(p.blTm, d.bl(), 0.02 * d.bl());
    EXPECT_NEAR(p.rmsKgPerS, d.rms(), 0.02 * d.rms());
    EXPECT_NEAR(p.inductanceMh, d.leH * 1000.0, 0.02 * d.leH * 1000.0);
    EXPECT_NEAR(p.sdM2, d.sd(), 1e-4);

    // The text lands in the store in Windows-1252 and is shown as the information box, with a
    // line below that says how well the model fitted.
    const std::string stored = storedText();
    EXPECT_EQ(stored.rfind("Sd=0.0227 m\xB2    Mms=", 0), 0u) << stored;
    EXPECT_NE(stored.find("L @ 1kHz="), std::string::npos);
    EXPECT_NE(stored.find("Re=6.00 Ohm"), std::string::npos);
    EXPECT_LT(stored.size(), 200u); // the text export holds 200 bytes
    const auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "Thiele Small Parameter");
    EXPECT_EQ(m[0].icon, core::Icon::Information);
    EXPECT_EQ(m[0].text, core::cp1252ToUtf8(stored) +
                             "Modell: Restfehler 0.00 %, 797 Werte 6.2-1250 Hz, Schwingspule als "
                             "Induktivität");
}

// The closed box adds its air spring and the air its baffle and inside put on the cone, as
// the bench's physics has it; both routes give the same driver.
TEST_F(TsParametersTest, ClosedBoxAndAddedMassAgree)
{
    const Driver d;
    inputs.boxVolumeL = 20.0f;
    inputs.addedMassG = 20.0f;
    const auto a = analyze(d, 6.0f);
    const auto inBox = analyze(d.loaded(0.0, 20.0, ts::boxAirMassIncrementKg(d.sd())));
    const auto withMass = analyze(d.loaded(0.020, 0.0));
    ts::TsParameters box;
    ts::TsParameters mass;
    ASSERT_EQ(ts::computeTsParameters(inputs, a, inBox, 6.0f, &box), 1);
    ASSERT_EQ(ts::computeTsParameters(inputs, a, withMass, 6.0f, &mass), 1);
    EXPECT_NEAR(box.vasL, d.vasL, 0.02 * d.vasL);
    EXPECT_NEAR(mass.vasL, d.vasL, 0.02 * d.vasL);
    EXPECT_NEAR(box.mmsG, mass.mmsG, 0.02 * mass.mmsG);
    EXPECT_NEAR(box.qt, d.qts(), 0.01 * d.qts());
}

TEST_F(TsParametersTest, RateDecidesTheInductanceFrequency)
{
    const Driver d;
    inputs.rateCode = 3;
    inputs.addedMassG = 20.0f;
    const auto a = analyze(d, 6.0f);
    const auto b = analyze(d.loaded(0.020, 0.0));
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(inputs, a, b, 6.0f, &p), 1);
    EXPECT_NE(storedText().find("L @ 500Hz="), std::string::npos);
    EXPECT_NEAR(p.inductanceMh, 0.5, 0.01);
    EXPECT_NEAR(p.fsHz, d.fsHz, 0.005 * d.fsHz);
}

// A tweeter's small values keep three significant digits; ordinary values keep the layout.
TEST_F(TsParametersTest, SmallValuesKeepTheirDigits)
{
    EXPECT_EQ(ts::formatSignificant(5, 2, 0.0125), "0.0125");
    EXPECT_EQ(ts::formatSignificant(6, 5, 0.00025), "0.000250");
    EXPECT_EQ(ts::formatSignificant(5, 2, 45.234), "45.23");
    EXPECT_EQ(ts::formatSignificant(3, 2, 0.42), "0.420");
    EXPECT_EQ(ts::formatSignificant(5, 1, 1234.5), "1234.5");
    EXPECT_EQ(ts::formatSignificant(4, 2, 0.0), "0.00");

    Driver tweeter;
    tweeter.diameterMm = 25.0;
    tweeter.fsHz = 900.0;
    tweeter.vasL = 0.02;
    tweeter.qms = 2.0;
    tweeter.qes = 1.2;
    tweeter.leH = 0.05e-3;
    inputs.rateCode = 2;
    inputs.diaphragmDiameterMm = 25.0f;
    inputs.addedMassG = 0.2f;
    const auto a = analyze(tweeter, 6.0f);
    const auto b = analyze(tweeter.loaded(0.0002, 0.0));
    ts::TsParameters p;
    ASSERT_EQ(ts::computeTsParameters(inputs, a, b, 6.0f, &p), 1);
    EXPECT_NEAR(p.vasL, 0.02, 0.001);
    EXPECT_NE(storedText().find("Vas=0.0200 l"), std::string::npos) << storedText();
}

// Every failed evaluation keeps the previous result text.
TEST_F(TsParametersTest, FailuresKeepThePreviousText)
{
    const Driver d;
    const auto a = analyze(d, 6.0f);
    core::setTsResultText("previous");
    ui.clear();

    // Equal resonances: nothing to evaluate, and nothing said.
    EXPECT_EQ(ts::computeTsParameters(inputs, a, a, 6.0f), 0);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(storedText(), "previous");

    const auto b = analyze(d.loaded(0.020, 0.0));
    ts::ResonanceResult tooLow = a;
    tooLow.fit.model.fsHz = 9.5;
    const struct {
        const char* what;
        ts::ResonanceResult a;
        float re;
    } cases[] = {
        {"Re above the peak", a, a.resonanceOhm + 1.0f},
        {"peak barely above Re", a, a.resonanceOhm - 0.05f},
        {"resonance below 10 Hz", tooLow, 6.0f},
    };
    for (const auto& c : cases) {
        ui.clear();
        EXPECT_EQ(ts::computeTsParameters(inputs, c.a, b, c.re), 0) << c.what;
        const auto m = ui.messages();
        ASSERT_EQ(m.size(), 1u) << c.what;
        EXPECT_EQ(m[0].text, core::str(118)) << c.what;
        EXPECT_EQ(m[0].caption, " ");
        EXPECT_EQ(storedText(), "previous") << c.what;
    }
}

} // namespace
