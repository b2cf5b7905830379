// The bench's physics against closed-form references, and the box's own sequence.
#include "box/Acquisition.h"
#include "box/Mls.h"
#include "box/sim/SimulatedBox.h"
#include "core/SettingsStore.h"
#include "dsp/Distortion.h"
#include "dsp/Sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <complex>
#include <cstdio>
#include <cmath>
#include <utility>
#include <vector>

using namespace box::sim;

namespace {
constexpr double kPi = 3.14159265358979323846;

// The textbook impedance of a driver from its parameters, independent of the mechanical model.
std::complex<double> referenceImpedance(const DriverParameters& d, double f)
{
    const double res = d.reOhm * d.qms / d.qes;
    return std::complex<double>(d.reOhm, 2 * kPi * f * d.leMh * 1e-3) +
           res / std::complex<double>(1.0, d.qms * (f / d.fsHz - d.fsHz / f));
}
} // namespace

TEST(SimulatedBench, DriverImpedanceMatchesTheThieleSmallForm)
{
    Bench b;
    b.driver = {6.0, 0.5, 35.0, 3.0, 0.45, 40.0};
    for (double f : {5.0, 20.0, 35.0, 50.0, 200.0, 2000.0}) {
        const auto z = driverImpedance(b, f);
        const auto ref = referenceImpedance(b.driver, f);
        EXPECT_NEAR(std::abs(z - ref) / std::abs(ref), 0.0, 1e-9) << f;
    }
    EXPECT_NEAR(driverImpedance(b, 0.0).real(), 6.0, 1e-12);
    // At fs the motional part is purely resistive: Re + Re Qms/Qes (plus the coil's jwLe).
    EXPECT_NEAR(driverImpedance(b, 35.0).real(), 6.0 + 6.0 * 3.0 / 0.45, 1e-9);
}

TEST(SimulatedBench, VasAndComplianceRelateThroughRhoCSquared)
{
    Bench b;
    b.diaphragmDiameterMm = 170.0;
    b.driver.vasL = 40.0;
    const DriverModel m = driverModel(b);
    const double sd = kPi * 0.085 * 0.085;
    EXPECT_NEAR(m.sd, sd, 1e-12);
    EXPECT_NEAR(m.cms * kRhoC2 * sd * sd * 1000.0, 40.0, 1e-9);
    EXPECT_NEAR(1.0 / (2 * kPi * std::sqrt(m.mms * m.cms)), b.driver.fsHz, 1e-9);
}

TEST(SimulatedBench, AddedMassLowersAndClosedBoxRaisesTheResonance)
{
    Bench b;
    const DriverModel free = driverModel(b);
    b.massOrBoxApplied = true;
    b.addedMassG = 20.0;
    const DriverModel loaded = driverModel(b);
    EXPECT_NEAR(loaded.mms, free.mms + 0.020, 1e-12);
    const double fsMass = 1.0 / (2 * kPi * std::sqrt(loaded.mms * loaded.cms));
    EXPECT_NEAR(fsMass, b.driver.fsHz * std::sqrt(free.mms / (free.mms + 0.020)), 1e-9);

    // The box stiffens the suspension by Vas / Vb and adds air to the cone: 8 rho a^3 / 3 in
    // free air, twice that on the box (baffle in front, box behind).
    b.closedBoxL = 15.0;
    const DriverModel boxed = driverModel(b);
    const double a = 0.085;
    const double freeLoad = 8.0 / 3.0 * kRho * a * a * a;
    EXPECT_NEAR(freeAirLoadKg(boxed.sd), freeLoad, 1e-12);
    EXPECT_NEAR(closedBoxAirLoadKg(boxed.sd), 2.0 * freeLoad, 1e-12);
    EXPECT_NEAR(boxed.mms, free.mms + freeLoad, 1e-12);
    const double fc = 1.0 / (2 * kPi * std::sqrt(boxed.mms * boxed.cms));
    EXPECT_NEAR(fc,
                b.driver.fsHz * std::sqrt((1.0 + b.driver.vasL / 15.0) * free.mms / boxed.mms),
                1e-9);

    // The "Zusatzmasse" prompt applies it; confirming the speaker-side wiring starts afresh.
    SimulatedBox box;
    box.wiringConfirmed(22);
    EXPECT_EQ(box.bench().line1, Wiring::SpeakerSide);
    box.wiringConfirmed(103);
    EXPECT_TRUE(box.bench().massOrBoxApplied);
    box.wiringConfirmed(21);
    EXPECT_EQ(box.bench().line1, Wiring::AmplifierOutput);
    box.wiringConfirmed(22);
    EXPECT_FALSE(box.bench().massOrBoxApplied);
    // The end of the procedure takes it off too.
    box.wiringConfirmed(103);
    box.procedureEnded();
    EXPECT_FALSE(box.bench().massOrBoxApplied);
}

TEST(SimulatedBench, WiringTransfers)
{
    Bench b;
    b.amplifierGainDb = 6.0;
    const double g = std::pow(10.0, 0.3);
    EXPECT_NEAR(std::abs(wiringTransfer(b, Wiring::AmplifierOutput, 100.0)), g, 1e-12);
    EXPECT_EQ(std::abs(wiringTransfer(b, Wiring::Open, 100.0)), 0.0);
    const auto z = driverImpedance(b, 100.0);
    EXPECT_NEAR(std::abs(wiringTransfer(b, Wiring::SpeakerSide, 100.0) - g * z / (22.0 + z)), 0.0,
                1e-12);

    // Microphone well above resonance: the mass-controlled piston radiates
    // p = rho Sd Bl U / (2 pi r Re Mms), flat, delayed by r/c.
    b.amplifierGainDb = 0.0;
    b.driver.leMh = 0.0;
    const DriverModel m = driverModel(b);
    const double flat = kRho * m.sd * m.bl / (2 * kPi * 1.0 * m.re * m.mms) * 6e-3;
    EXPECT_NEAR(std::abs(wiringTransfer(b, Wiring::Microphone, 1000.0)) / flat, 1.0, 0.01);
    EXPECT_EQ(std::abs(wiringTransfer(b, Wiring::Microphone, 0.0)), 0.0);
}

TEST(SimulatedBench, ParsesDriversAndFaults)
{
    DriverParameters d;
    EXPECT_TRUE(parseDriver("6.0,0.5,35,3.0,0.45,40", d));
    EXPECT_DOUBLE_EQ(d.fsHz, 35.0);
    EXPECT_DOUBLE_EQ(d.vasL, 40.0);
    EXPECT_FALSE(parseDriver("6,0.5,35,3,0.45", d));
    EXPECT_FALSE(parseDriver("6,0.5,35,3,0.45,40,1", d));
    EXPECT_FALSE(parseDriver("6,0.5,x,3,0.45,40", d));
    EXPECT_FALSE(parseDriver("6,0.5,-35,3,0.45,40", d));
    // The app runs under the desktop's locale: a German one must not change the reading.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_TRUE(parseDriver("6.5,0.5,35,3.0,0.45,40", d));
    std::setlocale(LC_ALL, "C");
    EXPECT_DOUBLE_EQ(d.reOhm, 6.5);
    Fault f = Fault::None;
    EXPECT_TRUE(parseFault("stuck", f));
    EXPECT_EQ(f, Fault::Stuck);
    EXPECT_FALSE(parseFault("broken", f));
}

TEST(SimulatedBench, PlaysTheDeconvolutionsSequence)
{
    // A unity path with MLS, no noise: the captured codes follow the sequence bit by bit. The
    // converter's anti-alias filter lets the neighbours move a chip, but never across zero
    // and never to full scale.
    SimulatedBox box;
    box.bench().noiseDbFs = -300.0;
    box.bench().latencySamples = 0;
    box.out(0x37A, 0x02 | 0x04); // MLS, 6.4 kHz, Ref_Int
    for (int v : {0x3F, 0x37, 0x33, 0x13})
        box.out(0x378, static_cast<std::uint8_t>(v | 0x40));
    const auto& codes = box.lastCapture();
    ASSERT_EQ(codes.size(), 4096u);
    const int high = static_cast<int>(std::lround(box.bench().mlsVolts * 1280.0));
    double correlation = 0.0;
    for (int n = 0; n < 4096; ++n) {
        const int v = codes[n] - 2047;
        const int sign = box::mlsBit(n % 4095) ? 1 : -1;
        ASSERT_GT(v * sign, 0) << n;
        ASSERT_LT(std::abs(v), 2000) << n;
        correlation += v * sign;
    }
    // The chips' mean level is the filter's centre tap, 0.9 of the sequence's level.
    EXPECT_NEAR(correlation / 4096.0 / high, 0.9, 0.05);
}

namespace {
// One capture of the bench's periodic noise at 6.4 kHz on the microphone or line input 1.
std::vector<int> captureNoise(const Bench& bench, bool microphone)
{
    SimulatedBox box(bench);
    box.bench().noiseDbFs = -300.0;
    box.bench().stimulus = Stimulus::Noise;
    box.out(0x37A, 0x01 | 0x04); // no MLS, 6.4 kHz, line/microphone selection
    for (int v : {0x3F, 0x37, 0x33, 0x13})
        box.out(0x378, static_cast<std::uint8_t>(microphone ? v : v | 0x40));
    return box.lastCapture();
}
} // namespace

TEST(SimulatedBench, DriverDistortionHasItsHarmonicsAtTheReferenceLevel)
{
    DriverDistortion off;
    for (double v : {-3.0, -0.1, 0.0, 0.7, 12.5})
        EXPECT_EQ(distortDrive(off, v), v);

    DriverDistortion d;
    d.enabled = true;
    d.h2Db = -40.0;
    d.h3Db = -50.0;
    d.referenceVolts = 0.5;
    EXPECT_EQ(distortDrive(d, 0.0), 0.0);

    // A sweep of the reference amplitude through it reads the harmonics as set; at half
    // that amplitude the second harmonic is 6 dB lower, the third 12 dB.
    for (double share : {1.0, 0.5}) {
        dsp::SweepRequest request;
        request.endHz = 4000.0; // the third harmonic stays below the Nyquist frequency
        request.amplitude = d.referenceVolts * share;
        const dsp::SweepPlan plan = dsp::planSweep(request);
        std::vector<double> y = dsp::makeSweep(plan);
        y.resize(static_cast<std::size_t>(dsp::recommendedCaptureSamples(plan)), 0.0);
        for (double& v : y)
            v = distortDrive(d, v);
        const dsp::DistortionCurves c = dsp::analyzeSweep(plan, y).curves;
        // T3's linear term lowers the fundamental of a quieter sine by 3 c3 (1 - share^2).
        const double c2 = std::pow(10.0, d.h2Db / 20.0);
        const double c3 = std::pow(10.0, d.h3Db / 20.0);
        const double fundamental = 1.0 - 3.0 * c3 * (1.0 - share * share);
        for (std::size_t i = 0; i < c.harmonicDb[1].size(); ++i) {
            if (c.hz[i] < 100.0)
                continue;
            EXPECT_NEAR(c.harmonicDb[0][i], 20.0 * std::log10(c2 * share / fundamental), 0.05)
                << c.hz[i];
            EXPECT_NEAR(c.harmonicDb[1][i], 20.0 * std::log10(c3 * share * share / fundamental),
                        0.05)
                << c.hz[i];
            EXPECT_NEAR(c.fundamentalDb[i], 20.0 * std::log10(fundamental), 0.02) << c.hz[i];
        }
    }

    // Only the microphone hears it.
    Bench bench;
    bench.distortion = d;
    bench.distortion.referenceVolts = 20.0;
    EXPECT_NE(captureNoise(bench, true), captureNoise(Bench(), true));
    EXPECT_EQ(captureNoise(bench, false), captureNoise(Bench(), false));

    DriverDistortion parsed;
    ASSERT_TRUE(parseDistortion("-35.5,-60", parsed));
    EXPECT_TRUE(parsed.enabled);
    EXPECT_EQ(parsed.h2Db, -35.5);
    EXPECT_EQ(parsed.h3Db, -60.0);
    for (const char* bad : {"", "-40", "-40,-50,-60", "3,-50", "-40,x", "nan,-50", "-40,-250"})
        EXPECT_FALSE(parseDistortion(bad, parsed)) << bad;
}

namespace {

// One capture through the box's protocol on `box`, as the program takes it: the MLS record
// deconvolved as acquireRecord does, or the sweep's record as the bench delivers it.
box::CaptureOutcome captureThrough(SimulatedBox& sim, box::Excitation excitation, int input,
                                   int rate, box::RawCapture& out, double sweepEndHz = 20000.0)
{
    box::setPortAccess(&sim);
    box::ParallelPortBox device;
    box::CaptureRequest request;
    request.input = input;
    request.rateCode = rate;
    request.excitation = excitation;
    request.sweepEndHz = sweepEndHz;
    const box::CaptureOutcome outcome = device.capture(request, out);
    box::setPortAccess(nullptr);
    if (outcome == box::CaptureOutcome::Delivered && excitation == box::Excitation::Mls) {
        std::vector<float> f(out.v.begin(), out.v.end());
        box::deconvolveMls(f.data(), 3300.0f);
        std::copy(f.begin(), f.end(), out.v.begin());
    }
    return outcome;
}

// The record's spectrum at `hz` by a direct sum, an independent reference.
std::complex<double> spectrumAt(const std::array<double, 4096>& v, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    for (int n = 2; n < 4095; ++n)
        sum += v[static_cast<std::size_t>(n)] * std::polar(1.0, -2.0 * kPi * hz * n / rate);
    return sum;
}

} // namespace

// Without noise the sweep's record is the MLS's record of the same chain: same level, same
// time zero (the phase), over the sweep's band, on every kind of input and at both rates.
TEST(SimulatedBench, SweepDeliversTheMlsRecordOfTheSameChain)
{
    struct Case {
        const char* name;
        int input, rate;
        Wiring line1;
    };
    const Case cases[] = {{"Ref_Int, 51.2 kHz", 4, 2, Wiring::AmplifierOutput},
                          {"Mic., 51.2 kHz", 2, 2, Wiring::AmplifierOutput},
                          {"Mic., 6.4 kHz", 2, 1, Wiring::AmplifierOutput},
                          {"Line1 speaker side, 6.4 kHz", 1, 1, Wiring::SpeakerSide}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox sim;
        sim.bench().noiseDbFs = -300.0;
        sim.bench().line1 = c.line1;
        // Loud enough at the microphone input that the converter's rounding, which differs
        // between the two signals, stays small.
        sim.bench().micSensitivityMvPerPa = 100.0;
        box::RawCapture mls, sweep;
        ASSERT_EQ(captureThrough(sim, box::Excitation::Mls, c.input, c.rate, mls),
                  box::CaptureOutcome::Delivered);
        ASSERT_EQ(captureThrough(sim, box::Excitation::Sweep, c.input, c.rate, sweep),
                  box::CaptureOutcome::Delivered);
        EXPECT_TRUE(sim.lastSweep());
        EXPECT_FALSE(sweep.clipped);
        // The sweep as played, at the box's rate: at 6.4 kHz too, below the lowest rate the
        // sweep's planning takes, its band starts at 20 Hz and ends below 0.9 of Nyquist.
        const core::DistortionRecord& d = sweep.distortion;
        ASSERT_FALSE(d.empty());
        EXPECT_TRUE(core::isPlausibleDistortionRecord(d));
        EXPECT_EQ(d.sweepRateHz, c.rate == 2 ? 51200 : 6400);
        EXPECT_NEAR(d.sweepStartHz, 20.0, 0.5);
        EXPECT_NEAR(d.hz.front(), 20.0, 0.5);
        EXPECT_NEAR(d.sweepEndHz, c.rate == 2 ? 20000.0 : 2880.0, 1.0);
        EXPECT_NEAR(d.sweepSeconds, 2.0, 0.3);
        // The impulse's largest sample at the same index.
        auto peakIndex = [](const std::array<double, 4096>& v) {
            std::size_t at = 2;
            for (std::size_t n = 2; n < 4095; ++n)
                if (std::fabs(v[n]) > std::fabs(v[at]))
                    at = n;
            return at;
        };
        EXPECT_EQ(peakIndex(sweep.v), peakIndex(mls.v));

        const double rate = c.rate == 2 ? 51200.0 : 6400.0;
        const double top = std::min(20000.0, 0.9 * rate / 2.0);
        double worstDb = 0.0, worstDeg = 0.0;
        // At the record's bins: the MLS's record carries a small constant (its chips' mean),
        // which leaks into frequencies between them. From a decade above the sweep's start:
        // below, the response of the sweep's lower band edge is longer than the 80 ms of a
        // record at 51.2 kHz, and on a path that passes DC it wraps around the record.
        const double bin = rate / 4096.0;
        for (double f = 200.0; f <= top; f *= 1.1) {
            const double hz = bin * std::round(f / bin);
            const std::complex<double> a = spectrumAt(sweep.v, hz, rate);
            const std::complex<double> b = spectrumAt(mls.v, hz, rate);
            worstDb = std::max(worstDb, std::fabs(20.0 * std::log10(std::abs(a) / std::abs(b))));
            worstDeg = std::max(worstDeg, std::fabs(std::arg(a / b)) * 180.0 / kPi);
        }
        std::printf("%s: sweep against MLS within %.3f dB, %.2f deg\n", c.name, worstDb, worstDeg);
        EXPECT_LT(worstDb, 0.15);
        EXPECT_LT(worstDeg, 1.0);
    }
}

// The faults give what the MLS's capture gives; a sweep costs its length in virtual time.
TEST(SimulatedBench, SweepCaptureFaultsAndClock)
{
    box::RawCapture out;
    for (auto [fault, outcome] :
         {std::pair{Fault::Absent, box::CaptureOutcome::NotPresent},
          std::pair{Fault::Stuck, box::CaptureOutcome::Failed}}) {
        SimulatedBox mlsBox, sweepBox;
        mlsBox.bench().fault = fault;
        sweepBox.bench().fault = fault;
        EXPECT_EQ(captureThrough(mlsBox, box::Excitation::Mls, 2, 2, out), outcome);
        EXPECT_EQ(captureThrough(sweepBox, box::Excitation::Sweep, 2, 2, out), outcome);
    }

    SimulatedBox clip;
    clip.bench().fault = Fault::Clip;
    ASSERT_EQ(captureThrough(clip, box::Excitation::Sweep, 3, 2, out),
              box::CaptureOutcome::Delivered);
    EXPECT_TRUE(out.clipped);

    // A 2 s sweep at 6.4 kHz, its fade-in, and the tail after it in which the noise is read:
    // some 3 s of the bench's clock, none of the wall's.
    SimulatedBox sim;
    const std::int64_t before = sim.nowUs();
    ASSERT_EQ(captureThrough(sim, box::Excitation::Sweep, 4, 1, out),
              box::CaptureOutcome::Delivered);
    EXPECT_FALSE(out.clipped);
    const double seconds = static_cast<double>(sim.nowUs() - before) * 1e-6;
    EXPECT_GT(seconds, 2.5);
    EXPECT_LT(seconds, 3.5);
    EXPECT_EQ(sim.captureCount(), 1);
    EXPECT_EQ(sim.lastRate(), 1);
    EXPECT_EQ(sim.lastInput(), 4);
}

// The window's setting: kept in the settings store, damaged values read as the defaults, and
// the simulated box the program opens has its driver distort as set.
TEST(SimulatedBench, DistortionSettingReachesTheOpenedBox)
{
    core::MemorySettingsStore store;
    EXPECT_EQ(box::loadSimulatedDistortion(store), DriverDistortion{});
    box::saveSimulatedDistortion(store, {true, -32.5, -47.0, 1.0});
    EXPECT_EQ(box::loadSimulatedDistortion(store), (DriverDistortion{true, -32.5, -47.0, 1.0}));
    for (const char* bad : {"5", "-250", "nan", "-40dB", ""}) {
        store.setValue("Simulation/H2dB", bad);
        EXPECT_EQ(box::loadSimulatedDistortion(store).h2Db, -40.0) << bad;
    }
    store.setValue("Simulation/Klirrfaktor", "ja");
    EXPECT_FALSE(box::loadSimulatedDistortion(store).enabled);

    box::saveSimulatedDistortion(store, {true, -30.0, -40.0, 1.0});
    store.setValue("PortDriver", "simulator");
    core::setSettingsStore(&store);
    box::PortSelection sel = box::openConfiguredPort(1);
    core::setSettingsStore(nullptr);
    ASSERT_TRUE(sel.simulated);
    auto* sim = dynamic_cast<SimulatedBox*>(sel.port.get());
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->bench().distortion, (DriverDistortion{true, -30.0, -40.0, 1.0}));
}
