// The acquisition protocol against the simulated box: every byte, every wait, the attempt
// rules, the decoding and the post-processing.
#include "BoxTestSupport.h"

#include "box/Acquisition.h"
#include "box/Mls.h"
#include "box/Runs.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Fft.h"

#include <cmath>
#include <vector>

using box::sim::TraceEntry;

namespace {

struct Counts {
    int outs = 0, ins = 0, sleeps = 0, sleptMs = 0;
};
Counts count(const std::vector<TraceEntry>& t)
{
    Counts c;
    for (const auto& e : t) {
        if (e.kind == TraceEntry::Out)
            ++c.outs;
        else if (e.kind == TraceEntry::In)
            ++c.ins;
        else {
            ++c.sleeps;
            c.sleptMs += e.value;
        }
    }
    return c;
}

std::vector<int> constantCodes(int c) { return std::vector<int>(4096, c); }

} // namespace

TEST_F(BoxTest, OneAcquisitionFollowsTheSequenceByteForByte)
{
    core::settings().method = 2; // FFT-Analyzer: no MLS, no deconvolution
    sim.setTracing(true);
    core::TimeRecord rec;
    ASSERT_EQ(acquireWith(512, 3, 1, 1, rec), 1);
    const auto& t = sim.trace();

    // Control byte for Line2 at 6.4 kHz without MLS: only bit 2.
    ASSERT_GE(t.size(), 12u);
    EXPECT_EQ(t[0].kind, TraceEntry::Out);
    EXPECT_EQ(t[0].port, 0x37A);
    EXPECT_EQ(t[0].value, 0x04);
    EXPECT_EQ(t[1].kind, TraceEntry::Sleep);
    EXPECT_EQ(t[1].value, 10);
    // Start sequence, one attempt, accepted.
    const int start[] = {0x3F, 0x37, 0x33, 0x13};
    const int waits[] = {1, 1, 1, 60};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(t[2 + 2 * i].port, 0x378);
        EXPECT_EQ(t[2 + 2 * i].value, start[i]);
        EXPECT_EQ(t[3 + 2 * i].value, waits[i]);
    }
    EXPECT_EQ(t[10].kind, TraceEntry::In);
    EXPECT_EQ(t[10].port, 0x379);
    EXPECT_EQ(t[10].value & 0x08, 0);

    // Polls of 40 ms until the 640 ms capture has ended: it started 60 ms before the first
    // status read, so the 15th poll (at 660 ms) sees it finished.
    std::size_t i = 11;
    int polls = 0;
    while (t[i].kind == TraceEntry::Sleep && t[i].value == 40) {
        ++polls;
        i += 2;
    }
    EXPECT_EQ(polls, 15);
    EXPECT_NE(t[i - 1].value & 0x08, 0);
    EXPECT_EQ(t[i].value, 0x37);
    EXPECT_EQ(t[i + 2].value, 0x33);
    i += 4;

    // Read-out: per sample 0x32 (5 reads), 0x30 (5), 0x22 (5), 0x32 (6), 0x30 (5), 0x22 (5).
    const int pattern[] = {0x32, 0x30, 0x22, 0x32, 0x30, 0x22};
    const int reads[] = {5, 5, 5, 6, 5, 5};
    bool patternOk = true;
    for (int s = 0; s < 4096 && patternOk; ++s) {
        for (int b = 0; b < 6; ++b) {
            patternOk = patternOk && t[i].kind == TraceEntry::Out && t[i].value == pattern[b];
            ++i;
            for (int r = 0; r < reads[b]; ++r, ++i)
                patternOk = patternOk && t[i].kind == TraceEntry::In && t[i].port == 0x379;
        }
    }
    EXPECT_TRUE(patternOk);
    EXPECT_EQ(t[i].value, 0x3F);
    EXPECT_EQ(t[i + 1].kind, TraceEntry::Sleep);
    EXPECT_EQ(t[i + 1].value, 40);
    EXPECT_EQ(i + 2, t.size());

    const Counts c = count(t);
    EXPECT_EQ(c.outs, 1 + 4 + 2 + 4096 * 6 + 1);
    EXPECT_EQ(c.ins, 1 + polls + 4096 * 31);
    EXPECT_GT(c.outs + c.ins, 150000);
    EXPECT_EQ(c.sleptMs, 10 + 63 + polls * 40 + 2 + 40);
}

TEST_F(BoxTest, ControlByteAndSelectionBitsForEveryInputRateAndMethod)
{
    // The protocol needs no signal; the generator stays silent (the Impuls method's
    // calibrated pulse and the analyser's noise overdrive a line input).
    sim.bench().stimulus = box::sim::Stimulus::Silence;
    for (int method = 0; method <= 2; ++method) {
        for (int input = 1; input <= 4; ++input) {
            for (int rate = 1; rate <= 3; ++rate) {
                core::settings().method = method;
                sim.clearTrace();
                sim.setTracing(true);
                core::TimeRecord rec;
                acquireWith(512, input, rate, 1, rec);
                sim.setTracing(false);
                const auto& t = sim.trace();
                int control = 0;
                if (input == 1 || input == 2)
                    control |= 1;
                if (method == 1)
                    control |= 2;
                if (rate != 3)
                    control |= 4;
                int sel = (rate == 2 ? 0x80 : 0) | ((input == 1 || input == 4) ? 0x40 : 0);
                EXPECT_EQ(t[0].value, control) << input << "/" << rate << "/" << method;
                bool allSelected = true;
                for (const auto& e : t)
                    if (e.kind == TraceEntry::Out && e.port == 0x378)
                        allSelected = allSelected && (e.value & 0xC0) == sel;
                EXPECT_TRUE(allSelected) << input << "/" << rate;
                // The box understood the same input, rate and generator.
                EXPECT_EQ(sim.lastInput(), input);
                EXPECT_EQ(sim.lastRate(), rate);
                EXPECT_EQ(sim.lastMls(), method == 1);
            }
        }
    }
    EXPECT_EQ(ui.messages().size(), 0u);
}

TEST_F(BoxTest, PortAddressesFollowTheParallelPortSetting)
{
    // The protocol needs no signal; the generator stays silent (the Impuls method's
    // calibrated pulse and the analyser's noise overdrive a line input).
    sim.bench().stimulus = box::sim::Stimulus::Silence;
    struct Case {
        int lpt;
        int base;
    } cases[] = {{1, 0x378}, {2, 0x278}, {3, 0x3BC}, {4, 0x2BC}, {7, 0x3BC}};
    for (const Case& c : cases) {
        core::settings().parallelPort = c.lpt;
        sim.setBase(static_cast<std::uint16_t>(c.base));
        sim.clearTrace();
        sim.setTracing(true);
        core::TimeRecord rec;
        acquireWith(512, 1, 2, 1, rec);
        sim.setTracing(false);
        bool ok = true;
        for (const auto& e : sim.trace()) {
            if (e.kind == TraceEntry::Out)
                ok = ok && (e.port == c.base || e.port == c.base + 2);
            if (e.kind == TraceEntry::In)
                ok = ok && e.port == c.base + 1;
        }
        EXPECT_TRUE(ok) << c.lpt;
        EXPECT_EQ(sim.trace()[0].port, c.base + 2);
    }
    EXPECT_EQ(ui.messages().size(), 0u);
}

TEST_F(BoxTest, StartMustBeAcknowledgedWithinFortyAttempts)
{
    // The protocol needs no signal; the generator stays silent (the Impuls method's
    // calibrated pulse and the analyser's noise overdrive a line input).
    sim.bench().stimulus = box::sim::Stimulus::Silence;
    core::TimeRecord rec;
    rec.v.fill(7.0f);

    // Answered at the 40th attempt: accepted.
    sim.bench().ignoredStarts = 39;
    EXPECT_EQ(acquireWith(512, 1, 2, 1, rec), 1);
    EXPECT_EQ(ui.messages().size(), 0u);

    // Answered only at the 41st: "Hardware nicht vorhanden", record untouched.
    box::sim::SimulatedBox late;
    late.bench().stimulus = box::sim::Stimulus::Silence;
    late.bench().ignoredStarts = 40;
    box::setPortAccess(&late);
    rec.v.fill(7.0f);
    late.setTracing(true);
    EXPECT_EQ(acquireWith(512, 1, 2, 1, rec), 0);
    EXPECT_EQ(messagesWith(15), 1);
    EXPECT_EQ(ui.messages().back().caption, " ");
    for (float x : rec.v)
        ASSERT_EQ(x, 7.0f);
    int starts = 0;
    for (const auto& e : late.trace())
        if (e.kind == TraceEntry::Out && (e.value & 0x3F) == 0x13)
            ++starts;
    EXPECT_EQ(starts, 41);
}

TEST_F(BoxTest, FaultsAreReportedAndLeaveTheRecordAlone)
{
    core::TimeRecord rec;
    rec.v.fill(7.0f);
    sim.bench().fault = box::sim::Fault::Absent;
    sim.setTracing(true);
    acquireWith(512, 1, 1, 1, rec);
    EXPECT_EQ(messagesWith(15), 1);
    int starts = 0;
    for (const auto& e : sim.trace())
        if (e.kind == TraceEntry::Out && (e.value & 0x3F) == 0x13)
            ++starts;
    EXPECT_EQ(starts, 42);

    // Capture never finishes: 125 polls, "Hardware Fehler".
    sim.bench().fault = box::sim::Fault::Stuck;
    sim.clearTrace();
    acquireWith(512, 1, 1, 1, rec);
    EXPECT_EQ(messagesWith(16), 1);
    int polls = 0;
    for (const auto& e : sim.trace())
        if (e.kind == TraceEntry::Sleep && e.value == 40)
            ++polls;
    EXPECT_EQ(polls, 125);
    for (float x : rec.v)
        ASSERT_EQ(x, 7.0f);

    // Clipping: one warning per acquisition, the record is still delivered.
    sim.bench().fault = box::sim::Fault::Clip;
    core::settings().method = 1;
    EXPECT_EQ(acquireWith(4096, 1, 1, 1, rec), 1);
    EXPECT_EQ(messagesWith(18), 1);
    EXPECT_NE(rec[100], 7.0f);
    // Not in the level measurement's raw mode.
    acquireWith(4096, 1, 1, 1, rec, true);
    EXPECT_EQ(messagesWith(18), 1);
    for (const auto& m : ui.messages()) {
        EXPECT_EQ(m.caption, " ");
        EXPECT_EQ(m.icon, core::Icon::Information);
    }
}

TEST_F(BoxTest, SingleOutOfRangeCodeWarnsOnce)
{
    core::settings().method = 2;
    std::vector<int> codes = constantCodes(2047);
    codes[10] = 4093;
    codes[20] = 2;
    sim.setNextCapture(codes);
    core::TimeRecord rec;
    acquireWith(512, 1, 1, 1, rec);
    EXPECT_EQ(messagesWith(18), 1);
    EXPECT_NEAR(rec[10], (4093 - 2047) / 1280.0, 1e-6);
}

TEST_F(BoxTest, ConstantCodeThroughAnalyzerAndImpulse)
{
    core::settings().method = 2; // FFT-Analyzer keeps the mean
    core::settings().fftLength = 1024;
    const int c = 2500;
    sim.setNextCapture(constantCodes(c));
    core::TimeRecord rec;
    rec.v.fill(-9.0f);
    acquireWith(1024, 1, 1, 1, rec);
    EXPECT_EQ(rec[0], 0.0f);
    EXPECT_EQ(rec[1], 0.0f);
    for (int k = 2; k < 1024; ++k)
        ASSERT_FLOAT_EQ(rec[k], (c - 2047) / 1280.0f) << k;
    EXPECT_EQ(rec[1024], -9.0f); // beyond N stays
    EXPECT_EQ(rec[4096], 1024.0f);
    EXPECT_EQ(rec[4097], 1.0f);

    // N = 4096: element 4095 is zeroed as well.
    sim.setNextCapture(constantCodes(c));
    acquireWith(4096, 1, 1, 1, rec);
    EXPECT_EQ(rec[4095], 0.0f);
    EXPECT_FLOAT_EQ(rec[4094], (c - 2047) / 1280.0f);

    // Impuls: the mean of the N values (the zeros included) is removed, then the ends zeroed.
    core::settings().method = 0;
    sim.setNextCapture(constantCodes(c));
    acquireWith(1024, 1, 1, 1, rec);
    const double v = c - 2047;
    const double mean = v * 1022 / 1024;
    EXPECT_EQ(rec[0], 0.0f);
    EXPECT_EQ(rec[1], 0.0f);
    for (int k = 2; k < 1024; ++k)
        ASSERT_NEAR(rec[k], (v - mean) / 1280.0, 1e-6) << k;
}

TEST_F(BoxTest, CodesComeFromTheNextIterationsHighNibble)
{
    core::settings().method = 2;
    std::vector<int> codes(4096);
    for (int k = 0; k < 4096; ++k)
        codes[k] = (k * 37 + 11) % 4096;
    // Keep clear of the clip limits so no warning interferes.
    for (int& x : codes)
        x = 3 + x % 4090;
    sim.setNextCapture(codes);
    core::TimeRecord rec;
    acquireWith(4096, 3, 1, 1, rec);
    for (int k = 2; k < 4095; ++k)
        ASSERT_FLOAT_EQ(rec[k], (codes[k] - 2047) / 1280.0f) << k;
    EXPECT_EQ(rec[4095], 0.0f);
    EXPECT_EQ(ui.messages().size(), 0u);
}

TEST_F(BoxTest, WindowAndMicrophonePolarity)
{
    core::settings().method = 2;
    const int c = 2300;
    core::TimeRecord rec;
    sim.setNextCapture(constantCodes(c));
    acquireWith(512, 1, 1, 3, rec);
    for (int k = 2; k < 512; ++k)
        ASSERT_NEAR(rec[k], (c - 2047) / 1280.0 * dsp::windowValue(3, k, 512), 1e-6);

    core::settings().micPhase0Deg = 0; // "180 Deg"
    sim.setNextCapture(constantCodes(c));
    acquireWith(512, 2, 1, 1, rec);
    EXPECT_FLOAT_EQ(rec[100], -(c - 2047) / 12800.0f);
    sim.setNextCapture(constantCodes(c));
    acquireWith(512, 1, 1, 1, rec);
    EXPECT_FLOAT_EQ(rec[100], (c - 2047) / 1280.0f);
    core::settings().micPhase0Deg = 1;
    sim.setNextCapture(constantCodes(c));
    acquireWith(512, 2, 1, 1, rec);
    EXPECT_FLOAT_EQ(rec[100], (c - 2047) / 12800.0f);
}

TEST_F(BoxTest, MlsWritesTheWholeRecordAndReadsUnityOnTheInternalPath)
{
    core::settings().method = 1;
    core::settings().fftLength = 1024;
    core::TimeRecord rec;
    rec.v.fill(5.0f);
    acquireWith(1024, 4, 2, 1, rec);
    EXPECT_EQ(rec[4096], 1024.0f);
    EXPECT_EQ(rec[4097], 2.0f);
    for (int k = 0; k < 4096; ++k)
        ASSERT_NE(rec[k], 5.0f) << k;
    // The box's sequence without delay would put the impulse at index 4; the converters'
    // latency moves it on. With the response computation's MLS scale 393/512 it reads as
    // gain 1 (0 dB).
    // The converter's anti-alias filter spreads it over a few samples either side: their sum
    // is the gain at low frequencies.
    const int peak = 4 + sim.bench().latencySamples;
    double area = 0.0;
    for (int k = peak - 24; k <= peak + 24; ++k)
        area += rec[k];
    EXPECT_NEAR(area * 393.0 / 512.0, 1.0, 0.02);
    EXPECT_GT(rec[peak] * 393.0 / 512.0, 0.8);
    double rest = 0.0;
    for (int k = peak + 24; k < 4090; ++k)
        rest = std::max(rest, std::fabs(static_cast<double>(rec[k])));
    EXPECT_LT(rest, 0.005);
}

TEST_F(BoxTest, HardwareNumberIsReadUpToTenTimes)
{
    sim.setTracing(true);
    EXPECT_EQ(box::readHardwareNumber(), 9);
    int reads = 0;
    for (const auto& e : sim.trace()) {
        if (e.kind == TraceEntry::In)
            ++reads;
        if (e.kind == TraceEntry::Out) {
            EXPECT_EQ(e.port, 0x378);
            EXPECT_TRUE(e.value == 0x04 || e.value == 0x06 || e.value == 0xFF);
        }
    }
    EXPECT_EQ(reads, 20);
    EXPECT_EQ(sim.sleptMs(), 10 * 50);

    // A number in 33..99 ends the loop at once.
    sim.bench().hardwareNumber = 0x47;
    sim.clearTrace();
    EXPECT_EQ(box::readHardwareNumber(), 0x47);
    EXPECT_EQ(sim.trace().size(), 9u);
    sim.bench().hardwareNumber = 200;
    EXPECT_EQ(box::readHardwareNumber(), 200);
    // No box: the status lines float high, both nibbles read 7 (line 7 is inverted).
    box::sim::SimulatedBox absent;
    absent.bench().fault = box::sim::Fault::Absent;
    box::setPortAccess(&absent);
    EXPECT_EQ(box::readHardwareNumber(), 0x77);
}

// The box on the parallel port plays only its MLS: a sweep is refused before a byte goes to
// the port, with a message that says why, and nothing of the measurement is stored.
TEST_F(BoxTest, TheBoxOnTheParallelPortRefusesTheSweep)
{
    box::UnconnectedPort port;
    box::setPortAccess(&port);
    core::settings().method = 3;
    core::TimeRecord rec;
    rec.v.fill(7.0f);
    core::DistortionRecord distortion;
    distortion.hz = {100.0f};
    box::AcquisitionRequest r = box::acquisitionRequest(core::settings());
    EXPECT_FALSE(box::acquireRecord(r, rec, &distortion));
    for (float x : rec.v)
        ASSERT_EQ(x, 7.0f);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, box::sweepRefusedText());
    EXPECT_EQ(messagesWith(15) + messagesWith(16), 0);

    // A run with the method keeps the curves and the distortion it had.
    core::MeasurementStore& st = core::store();
    st.amplitudeSlots[0][10] = 3.0f;
    st.distortion.hz = {50.0f};
    core::NoRenderer views;
    box::runAmplitudePhaseMeasurement(views);
    box::runReferenceMeasurement(views);
    EXPECT_EQ(st.amplitudeSlots[0][10], 3.0f);
    EXPECT_EQ(st.slotOccupied[1], 0);
    EXPECT_EQ(st.distortion.hz, std::vector<float>{50.0f});
}
