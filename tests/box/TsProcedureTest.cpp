// The whole T/S procedure against the simulated box and bench.
#include "box/TsProcedure.h"

#include "box/PortAccess.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/Impedance.h"
#include "dsp/Response.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace
{

using core::Answer;

testsupport::RecordingRenderer g_views;
std::vector<int>& g_rendered = g_views.codes;

struct Parsed {
    float fs = 0, qt = 0, qe = 0, qm = 0, vas = 0, re = 0;
};

// Reads the figures back from the result text, as a user would.
bool parseResult(const std::string& text, Parsed& p)
{
    auto num = [&](const char* key, float& v) {
        const auto at = text.find(key);
        return at != std::string::npos &&
               std::sscanf(text.c_str() + at + std::strlen(key), "%f", &v) == 1;
    };
    return num("fs=", p.fs) && num("Qt=", p.qt) && num("Qe=", p.qe) && num("Qm=", p.qm) &&
           num("Vas=", p.vas) && num("Re=", p.re);
}

class TsProcedureTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        auto& s = core::settings();
        s.method = 1;
        s.sampleRate = 1;
        s.averages = 1;
        s.addedMassG = 20.0f;
        s.boxVolumeL = 20.0f;
        s.diaphragmDiameterMm = 170.0f;
        // Values the procedure must give back.
        s.markerPos = {1000, 5000};
        s.fftLength = 1024;
        s.measuringInput = 2;
        s.phaseMode = 3;

        auto& b = sim.bench();
        b.driver = {6.0, 0.5, 35.0, 3.0, 0.45, 40.0};
        b.diaphragmDiameterMm = 170.0;
        b.referenceResistorOhm = s.referenceResistorOhm;
        b.addedMassG = 20.0;
        b.closedBoxL = 0.0;
        box::setPortAccess(&sim);
        g_rendered.clear();
    }
    void TearDown() override
    {
        box::setPortAccess(nullptr);
        RecordsTest::TearDown();
    }

    void queue(std::initializer_list<Answer> answers)
    {
        for (Answer a : answers)
            ui.queueAnswer(a);
    }

    void expectRestored()
    {
        const auto& s = core::settings();
        EXPECT_EQ(s.markerPos[0], 1000);
        EXPECT_EQ(s.markerPos[1], 5000);
        EXPECT_EQ(s.fftLength, 1024);
        EXPECT_EQ(s.measuringInput, 2);
        EXPECT_EQ(s.phaseMode, 3);
    }

    std::vector<std::string> texts()
    {
        std::vector<std::string> t;
        for (const auto& m : ui.messages())
            t.push_back(m.text);
        return t;
    }

    Parsed runComplete(float dcOhm)
    {
        // "Neue Referenzmessung?" comes only when a stored amplifier-output run could be reused.
        const auto& st = core::store();
        const int rate = core::settings().sampleRate;
        if (dsp::runMatches(st.impedanceRunAmplitude[0], 4096, rate) &&
            dsp::runMatches(st.amplifierRunRawAmplitude, 4096, rate))
            queue({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
        else
            queue({Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
        ui.queueDcResistance(dcOhm);
        EXPECT_EQ(ts::measureTsParameters(g_views), 1);
        Parsed p;
        EXPECT_TRUE(parseResult(core::store().tsResultText.data(), p))
            << core::store().tsResultText.data();
        return p;
    }

    box::sim::SimulatedBox sim;
};

TEST_F(TsProcedureTest, RecoversTheSimulatedDriverWithAddedMass)
{
    const Parsed p = runComplete(6.0f);
    std::printf("added mass 20 g: fs %.1f Qt %.2f Qe %.2f Qm %.2f Vas %.2f\n", p.fs, p.qt, p.qe,
                p.qm, p.vas);
    const double qts = 3.0 * 0.45 / 3.45;
    EXPECT_NEAR(p.fs, 35.0, 0.02 * 35.0);
    EXPECT_NEAR(p.qt, qts, 0.10 * qts);
    EXPECT_NEAR(p.qe, 0.45, 0.10 * 0.45);
    EXPECT_NEAR(p.qm, 3.0, 0.15 * 3.0);
    EXPECT_NEAR(p.vas, 40.0, 0.15 * 40.0);
    EXPECT_FLOAT_EQ(p.re, 6.0f);

    // The prompts in their order (no stored run: "Neue Referenzmessung?" is not asked), the
    // two notices, the result.
    const auto t = texts();
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0], core::str(19));
    EXPECT_EQ(t[1], core::str(21));
    EXPECT_EQ(t[2], core::str(22));
    EXPECT_EQ(t[3].rfind(std::string(core::str(23)) + "  Z=", 0), 0u) << t[3];
    EXPECT_EQ(t[4], core::str(103));
    EXPECT_EQ(t[5].rfind(std::string(core::str(24)) + " Z=", 0), 0u) << t[5];
    EXPECT_EQ(ui.messages()[6].caption, "Thiele Small Parameter");
    // The impedance view after each analysis.
    EXPECT_EQ(std::count(g_rendered.begin(), g_rendered.end(),
                         static_cast<int>(core::RenderCode::Impedance)),
              2);
    expectRestored();
    // The curve left in the view is the second run's, named as such.
    EXPECT_EQ(core::impedanceCurveKind(), core::ImpedanceCurveKind::AddedMass);

    // The proposal is the fitted model's Re (the measured curve carries the 0.99 of the
    // impedance computation), as the prompt's one-decimal text gives it back.
    const auto proposals = ui.dcProposals();
    ASSERT_EQ(proposals.size(), 1u);
    EXPECT_NEAR(proposals[0], 0.99f * 6.0f, 0.06f);
    EXPECT_FLOAT_EQ(proposals[0] * 10.0f, std::round(proposals[0] * 10.0f));
}

// Drivers with a mechanical Q from 3 to 20 on the simulated bench at 6.4 kHz: the resonance
// of the high-Q ones spans one or two bins, where the smoothed curve lost up to 40 % of Qms.
// Both routes: the added mass for all, the closed box for three.
TEST_F(TsProcedureTest, RecoversDriversOfAnyMechanicalQOnBothRoutes)
{
    struct Case {
        double fs, qms, qes, vas;
        bool box;
    };
    const Case cases[] = {{22, 15, 0.35, 80, true},
                          {30, 8, 0.4, 60, true},
                          {45, 20, 0.5, 30, false},
                          {60, 10, 0.6, 20, true},
                          {35, 3, 0.45, 40, false}};
    core::settings().fftLength = 4096;
    for (const Case& c : cases) {
        for (bool box : {false, true}) {
            if (box && !c.box)
                continue;
            SCOPED_TRACE(testing::Message() << "fs " << c.fs << (box ? " box" : " mass"));
            ui.clear();
            sim.bench().driver = {6.0, 0.5, c.fs, c.qms, c.qes, c.vas};
            sim.bench().closedBoxL = box ? 20.0 : 0.0;
            const Parsed p = runComplete(6.0f);
            const double qts = c.qms * c.qes / (c.qms + c.qes);
            std::printf("fs %.0f Qms %.0f %s: fs %.2f Qm %.3f Qe %.3f Qt %.3f Vas %.2f\n", c.fs,
                        c.qms, box ? "box " : "mass", p.fs, p.qm, p.qe, p.qt, p.vas);
            EXPECT_NEAR(p.fs, c.fs, 0.02 * c.fs);
            EXPECT_NEAR(p.qm, c.qms, 0.05 * c.qms);
            EXPECT_NEAR(p.qe, c.qes, 0.05 * c.qes);
            EXPECT_NEAR(p.qt, qts, 0.05 * qts);
            EXPECT_NEAR(p.vas, c.vas, (box ? 0.05 : 0.10) * c.vas);
        }
    }
}

TEST_F(TsProcedureTest, RecoversTheSimulatedDriverInAClosedBox)
{
    sim.bench().closedBoxL = 20.0;
    const Parsed p = runComplete(6.0f);
    std::printf("closed box 20 l: fs %.1f Qt %.2f Vas %.2f\n", p.fs, p.qt, p.vas);
    EXPECT_NEAR(p.fs, 35.0, 0.02 * 35.0);
    // The box adds the air its baffle and its inside put on the cone, which the evaluation
    // takes into account.
    EXPECT_NEAR(p.vas, 40.0, 0.05 * 40.0);
    expectRestored();
    EXPECT_EQ(core::impedanceCurveKind(), core::ImpedanceCurveKind::ClosedBox);
}

TEST_F(TsProcedureTest, TheMassOrBoxComesOffWhenTheProcedureEnds)
{
    runComplete(6.0f);
    EXPECT_FALSE(sim.bench().massOrBoxApplied);

    // Also when it ends without a result: no new amplifier run, speaker wiring, mass, then
    // the DC resistance cannot be evaluated.
    ui.clear();
    queue({Answer::Yes, Answer::No, Answer::Ok, Answer::Ok});
    ui.queueDcResistance(80.0f);
    EXPECT_EQ(ts::measureTsParameters(g_views), 0);
    EXPECT_FALSE(sim.bench().massOrBoxApplied);
}

TEST_F(TsProcedureTest, RunsAtTheHighRateWithoutOverdrivingTheInputs)
{
    // The default bench's driver at 51.2 kHz: its 38 Hz resonance is too narrow for the
    // analysis at 12.5 Hz bins ("Keine Auswertung möglich"), but the amplifier and the
    // speaker-side runs are taken and must not overdrive the inputs.
    core::settings().sampleRate = 2;
    sim.bench().driver = box::sim::DriverParameters{};
    queue({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok});
    ts::measureTsParameters(g_views);
    EXPECT_EQ(sim.captureCount(), 2);
    EXPECT_FALSE(ui.messages().empty());
    for (const auto& m : ui.messages())
        EXPECT_NE(m.text, core::str(18));
    expectRestored();
}

TEST_F(TsProcedureTest, AveragingImpulseRunsRemovesTheConvertersRounding)
{
    // A pulse low enough for the line inputs; the converter's own noise dithers its rounding,
    // so averaged captures come closer to the truth than any single one.
    auto& s = core::settings();
    s.method = 0;
    s.averages = 8;
    sim.bench().stimulus = box::sim::Stimulus::Impulse;
    sim.bench().impulseVolts = 1.0;
    const Parsed p = runComplete(6.0f);
    std::printf("Impuls, 8 averages: fs %.1f Qt %.2f Qe %.2f Qm %.2f\n", p.fs, p.qt, p.qe, p.qm);
    EXPECT_NEAR(p.qm, 3.0, 0.08 * 3.0);
    EXPECT_NEAR(p.qe, 0.45, 0.08 * 0.45);
}

TEST_F(TsProcedureTest, TheFftLengthSettingDoesNotChangeTheResult)
{
    // The procedure measures 4096 points whatever the FFT-length setting; with the analyser
    // the generator's noise must repeat at that length too, not at the setting's.
    auto& s = core::settings();
    s.method = 2;
    sim.bench().noiseLineVolts = 0.05; // low enough for the line inputs
    std::string results[2];
    for (int k = 0; k < 2; ++k) {
        s.fftLength = k == 0 ? 1024 : 4096;
        ui.clear();
        sim = box::sim::SimulatedBox{};
        sim.bench().driver = {6.0, 0.5, 35.0, 3.0, 0.45, 40.0};
        sim.bench().referenceResistorOhm = s.referenceResistorOhm;
        sim.bench().addedMassG = 20.0;
        sim.bench().noiseLineVolts = 0.05;
        runComplete(6.0f);
        results[k] = core::store().tsResultText.data();
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(s.fftLength, 4096);
}

TEST_F(TsProcedureTest, EveryWayOutRestoresTheSettings)
{
    struct Case {
        const char* what;
        std::vector<Answer> answers;
        int prompts; // messages shown in all
    };
    const Case cases[] = {
        {"No to the start", {Answer::No}, 1},
        {"Cancel at the amplifier wiring", {Answer::Yes, Answer::Yes, Answer::Cancel}, 3},
        {"Cancel at the speaker wiring", {Answer::Yes, Answer::Yes, Answer::Ok, Answer::Cancel}, 4},
        {"Cancel at the mass or box prompt",
         {Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Cancel},
         6},
    };
    for (const Case& c : cases) {
        ui.clear();
        g_rendered.clear();
        for (Answer a : c.answers)
            ui.queueAnswer(a);
        EXPECT_EQ(ts::measureTsParameters(g_views), 0) << c.what;
        EXPECT_EQ(static_cast<int>(ui.messages().size()), c.prompts) << c.what;
        expectRestored();
    }
}

TEST_F(TsProcedureTest, ReusesTheAmplifierRunWhenNoNewReferenceIsWanted)
{
    const Parsed first = runComplete(6.0f);
    const int captures = sim.captureCount();
    ui.clear();
    queue({Answer::Yes, Answer::No, Answer::Ok, Answer::Ok});
    ui.queueDcResistance(6.0f);
    EXPECT_EQ(ts::measureTsParameters(g_views), 1);
    EXPECT_EQ(sim.captureCount() - captures, 2);
    const auto t = texts();
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[2], core::str(22));
    Parsed second;
    ASSERT_TRUE(parseResult(core::store().tsResultText.data(), second));
    EXPECT_NEAR(second.fs, first.fs, 0.2);
    expectRestored();
}

// An impedance run at 512 points left its amplifier-output run behind; the procedure works at
// 4096 and must not combine the two: instead of "Neue Referenzmessung?", whose "Nein" could
// only be refused, a notice says why the wiring prompt for a new run follows.
TEST_F(TsProcedureTest, AnAmplifierRunOfAnotherLengthIsMeasuredAnew)
{
    core::store().impedanceRunAmplitude[0].stamp(512, core::settings().sampleRate);
    queue({Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
    ui.queueDcResistance(6.0f);
    EXPECT_EQ(ts::measureTsParameters(g_views), 1);
    const auto t = texts();
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(t[1], core::str(140));
    EXPECT_EQ(ui.messages()[1].icon, core::Icon::Information);
    EXPECT_EQ(t[2], core::str(21));
    EXPECT_EQ(t[3], core::str(22));
    EXPECT_EQ(std::count(t.begin(), t.end(), core::str(20)), 0);
    EXPECT_EQ(core::store().impedanceRunAmplitude[0].trailerN(), 4096.0f);
    Parsed p;
    ASSERT_TRUE(parseResult(core::store().tsResultText.data(), p));
    EXPECT_NEAR(p.fs, 35.0, 0.02 * 35.0);

    // Cancelling that prompt ends the procedure without a capture.
    core::store().impedanceRunAmplitude[0].stamp(512, core::settings().sampleRate);
    ui.clear();
    const int captures = sim.captureCount();
    queue({Answer::Yes, Answer::Cancel});
    EXPECT_EQ(ts::measureTsParameters(g_views), 0);
    EXPECT_EQ(sim.captureCount(), captures);
    EXPECT_EQ(texts().size(), 3u);
    expectRestored();
}

// Cancelled at the "Zusatzmasse" prompt, then the time view: it shows the record it held before
// the procedure, and its picture is drawn from that record, so dragging a marker (which draws
// it anew) changes nothing but the marker.
TEST_F(TsProcedureTest, TheTimeViewKeepsItsRecord)
{
    auto& st = core::store();
    for (int k = 0; k < core::kRecordSamples; ++k)
        st.timeRecord[k] = 0.001f * static_cast<float>(k % 100);
    st.timeRecord.stamp(512, 2);
    const core::TimeRecord before = st.timeRecord;
    core::settings().averages = 2;
    queue({Answer::Yes, Answer::Ok, Answer::Ok, Answer::Cancel});
    EXPECT_EQ(ts::measureTsParameters(g_views), 0);
    EXPECT_EQ(st.timeRecord.v, before.v);
    // The averaged captures drew the procedure's records into view 1; the last drawing of it
    // comes after the record was put back.
    ASSERT_FALSE(g_rendered.empty());
    EXPECT_GT(
        std::count(g_rendered.begin(), g_rendered.end(), static_cast<int>(core::RenderCode::Time)),
        1);
    EXPECT_EQ(g_rendered.back(), static_cast<int>(core::RenderCode::Time));
    expectRestored();
}

TEST_F(TsProcedureTest, FailuresShowTheImpedanceAndKeepTheText)
{
    core::setTsResultText("previous");

    // No box: the curves carry nothing to analyse.
    sim.bench().fault = box::sim::Fault::Absent;
    queue({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok});
    EXPECT_EQ(ts::measureTsParameters(g_views), 0);
    EXPECT_EQ(std::count(g_rendered.begin(), g_rendered.end(),
                         static_cast<int>(core::RenderCode::Impedance)),
              1);
    EXPECT_FALSE(ui.shownViews().empty());
    EXPECT_STREQ(core::store().tsResultText.data(), "previous");
    expectRestored();

    // A DC resistance above the peak cannot be evaluated.
    sim.bench().fault = box::sim::Fault::None;
    ui.clear();
    queue({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
    ui.queueDcResistance(80.0f);
    EXPECT_EQ(ts::measureTsParameters(g_views), 0);
    EXPECT_EQ(texts().back(), core::str(118));
    EXPECT_STREQ(core::store().tsResultText.data(), "previous");
    expectRestored();
}

TEST_F(TsProcedureTest, DcResistancePromptLimits)
{
    EXPECT_FALSE(ts::dcResistanceInRange(0.4f));
    EXPECT_TRUE(ts::dcResistanceInRange(0.5f));
    EXPECT_TRUE(ts::dcResistanceInRange(99.9f));
    EXPECT_FALSE(ts::dcResistanceInRange(100.0f));

    // Refused values are told and asked again; Cancel then keeps the proposal.
    queue({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
    ui.queueDcResistance(0.4f);
    ui.queueDcResistance(100.0f);
    ui.queueDcResistance(-1.0f);
    EXPECT_EQ(ts::measureTsParameters(g_views), 1);
    int refused = 0;
    for (const auto& m : ui.messages())
        if (m.text == core::str(112)) {
            EXPECT_EQ(m.caption, core::str(71));
            ++refused;
        }
    EXPECT_EQ(refused, 2);
    Parsed p;
    ASSERT_TRUE(parseResult(core::store().tsResultText.data(), p));
    EXPECT_FLOAT_EQ(p.re, ui.dcProposals().front());
}

} // namespace

// The procedure with a sweep finds the driver's parameters the MLS finds, within 1 %. Swept
// from 20 Hz, just an octave below this driver's 35 Hz, the lower band edge would leave a slow
// response ahead of the impulse on both impedance runs (their paths pass DC), which the
// record's zeroed and faded end samples cut: Qe and Qt were some 4 % off. The impedance runs
// therefore sweep from 10 Hz at the latest.
TEST_F(TsProcedureTest, SweepGivesTheParametersOfTheMls)
{
    const Parsed mls = runComplete(6.0f);
    for (auto [startHz, tolerance] : {std::pair{10.0f, 0.01}, std::pair{20.0f, 0.01}}) {
        SCOPED_TRACE(testing::Message() << "sweep from " << startHz << " Hz");
        ui.clear();
        core::settings().method = 3;
        core::settings().sweepStartHz = startHz;
        const Parsed sweep = runComplete(6.0f);
        std::printf("MLS:             fs %.2f Qm %.3f Qe %.3f Qt %.3f Vas %.2f\n"
                    "Sweep from %.0f Hz: fs %.2f Qm %.3f Qe %.3f Qt %.3f Vas %.2f\n",
                    mls.fs, mls.qm, mls.qe, mls.qt, mls.vas, startHz, sweep.fs, sweep.qm, sweep.qe,
                    sweep.qt, sweep.vas);
        EXPECT_NEAR(sweep.fs, mls.fs, tolerance * mls.fs);
        EXPECT_NEAR(sweep.qm, mls.qm, tolerance * mls.qm);
        EXPECT_NEAR(sweep.qe, mls.qe, tolerance * mls.qe);
        EXPECT_NEAR(sweep.qt, mls.qt, tolerance * mls.qt);
        EXPECT_NEAR(sweep.vas, mls.vas, tolerance * mls.vas);
        EXPECT_EQ(core::settings().method, 3);
        expectRestored();
    }
}
