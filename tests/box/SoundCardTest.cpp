// The sound card as the measurement box. The signal path (rate conversion, alignment, delay
// search) is checked on a virtual loop; the device itself against a real audio server: a
// private PulseAudio daemon whose null sink, captured from its monitor, is the loop.
#include "BoxTestSupport.h"

#include "box/Acquisition.h"
#include "box/Level.h"
#include "box/Mls.h"
#include "box/Runs.h"
#include "box/SoundCard.h"
#include "box/SoundCardSignal.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "tests/support/AudioServer.h"

#include <chrono>
#include <cmath>
#include <complex>
#include <memory>
#include <cstdio>
#include <thread>
#include <vector>

namespace sc = box::soundcard;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Magnitude (dB) and phase (degrees) of an impulse response at f, by a direct sum.
std::complex<double> dft(const std::vector<double>& h, double f, double fs)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n)
        sum += h[n] * std::polar(1.0, -2.0 * kPi * f * double(n) / fs);
    return sum;
}

// The device's capture path, replayed on frames that a loop with `delay` frames returns.
std::vector<double> virtualLoopImpulse(const sc::PlayedMls& played, std::int64_t delay,
                                       std::int64_t playStart, std::int64_t earliest)
{
    const sc::RateLink link = played.link;
    const std::int64_t cycle = static_cast<std::int64_t>(played.frames.size());
    auto heard = [&](std::int64_t t) -> float {
        const std::int64_t j = t - playStart - delay;
        return j < 0 ? 0.0f : played.frames[static_cast<std::size_t>(j % cycle)];
    };
    const std::int64_t margin = sc::converterMarginFrames(link);
    const std::int64_t span =
        sc::framesFor(link, box::kMlsPeriod + sc::converterMarginSamples(link)) -
        sc::framesFor(link, sc::converterMarginSamples(link));
    const std::int64_t j0 = (earliest - playStart - delay + link.frameStep - 1) /
                            link.frameStep * link.frameStep;
    const std::int64_t first = playStart + j0 + delay;
    std::vector<float> frames;
    for (std::int64_t t = first - margin; t < first + span + margin; ++t)
        frames.push_back(heard(t));
    std::vector<double> converted;
    EXPECT_TRUE(sc::toProgramRate(link, frames.data(), frames.size(), box::kMlsPeriod, converted));
    std::vector<double> aligned(box::kMlsPeriod);
    sc::alignMlsPeriod(converted, (j0 / link.frameStep) * link.sampleStep % box::kMlsPeriod,
                       aligned.data());
    std::vector<float> r(4096);
    for (int k = 0; k < box::kMlsPeriod; ++k)
        r[static_cast<std::size_t>(k)] =
            static_cast<float>(aligned[static_cast<std::size_t>(k)] / played.sequenceLevel);
    box::deconvolveMls(r.data(), 4095.0f);
    return std::vector<double>(r.begin(), r.end());
}

} // namespace

TEST(SoundCardSignal, RateLinksAndCycles)
{
    const sc::RateLink a = sc::rateLink(51200, 48000);
    EXPECT_EQ(a.sampleStep, 16);
    EXPECT_EQ(a.frameStep, 15);
    // 16 sequence periods are 61425 frames at 48 kHz, for every program rate.
    for (int programHz : {51200, 6400, 3200}) {
        const sc::PlayedMls p = sc::makePlayedMls(sc::rateLink(programHz, 48000), 0.5);
        EXPECT_EQ(p.frames.size(), 61425u) << programHz;
    }
    const sc::PlayedMls p44 = sc::makePlayedMls(sc::rateLink(51200, 44100), 0.5);
    EXPECT_EQ(p44.periods, 512);
    EXPECT_EQ(p44.frames.size(), std::size_t(512) * 4095 * 441 / 512);
}

// A loop of any delay, converted there and back, reads as the box's direct path: the impulse
// on index 12 and a flat response in the band the converters pass.
TEST(SoundCardSignal, VirtualLoopIsFlatAndAligned)
{
    struct Case {
        int programHz, deviceHz;
        double upToHz;
    };
    for (const Case c : {Case{51200, 48000, 20000}, Case{6400, 48000, 2800},
                         Case{3200, 48000, 1400}, Case{51200, 44100, 19000},
                         Case{51200, 96000, 20000}}) {
        const sc::PlayedMls played = sc::makePlayedMls(sc::rateLink(c.programHz, c.deviceHz), 0.3);
        for (std::int64_t delay : {0, 2558, 7777}) {
            const std::vector<double> h = virtualLoopImpulse(played, delay, 2400, 30000);
            int peak = 0;
            for (int k = 0; k < 4096; ++k)
                if (std::fabs(h[static_cast<std::size_t>(k)]) > std::fabs(h[static_cast<std::size_t>(peak)]))
                    peak = k;
            EXPECT_EQ(peak, 4 + sc::kAlignedDelaySamples) << c.programHz << "/" << c.deviceHz;
            double worstDb = 0.0, worstDeg = 0.0;
            // On the bins of a 4096-point transform, from bin 2 up.
            const double df = c.programHz / 4096.0;
            for (double f = 2 * df; f <= c.upToHz; f = std::ceil(f * 1.1 / df) * df) {
                const std::complex<double> v =
                    dft(h, f, c.programHz) *
                    std::polar(1.0, 2 * kPi * f * (4 + sc::kAlignedDelaySamples) / c.programHz);
                worstDb = std::max(worstDb, std::fabs(20.0 * std::log10(std::abs(v))));
                worstDeg = std::max(worstDeg, std::fabs(std::arg(v) * 180.0 / kPi));
            }
            EXPECT_LT(worstDb, 0.05) << c.programHz << "/" << c.deviceHz << " delay " << delay;
            EXPECT_LT(worstDeg, 0.5) << c.programHz << "/" << c.deviceHz << " delay " << delay;
        }
    }
}

TEST(SoundCardSignal, DelaySearchFindsTheExactFrame)
{
    const sc::PlayedMls played = sc::makePlayedMls(sc::rateLink(51200, 48000), 0.3);
    const std::int64_t cycle = static_cast<std::int64_t>(played.frames.size());
    const std::int64_t delay = 2558;
    std::vector<float> x(4096);
    const std::int64_t firstFrame = 10000; // output frames since the MLS began
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 0.5f * played.frames[static_cast<std::size_t>((firstFrame + std::int64_t(i) - delay) % cycle)];
    const sc::LagMatch m = sc::bestLag(played, x.data(), x.size(), 1, firstFrame, 2000, 3000);
    EXPECT_EQ(m.lag, delay);
    EXPECT_GT(m.correlation, 0.99);
    // One frame off is clearly worse: the search can tell neighbouring frames apart.
    const sc::LagMatch off = sc::bestLag(played, x.data(), x.size(), 1, firstFrame, delay + 1,
                                         delay + 1);
    EXPECT_LT(off.correlation, 0.9);

    std::vector<float> onset(100, 0.001f);
    onset[37] = 0.2f;
    EXPECT_EQ(sc::findOnset(onset.data(), onset.size(), 1, 0.03), 37);
    EXPECT_EQ(sc::findOnset(onset.data(), onset.size(), 1, 0.5), -1);
}

TEST(SoundCardSettings, InputMapAndStoreRoundTrip)
{
    std::array<int, 4> ch{};
    EXPECT_TRUE(box::parseInputMap("1,1,2,digital", ch));
    EXPECT_EQ(ch, (std::array<int, 4>{1, 1, 2, 0}));
    EXPECT_TRUE(box::parseInputMap("3,4,5,6", ch));
    EXPECT_EQ(ch, (std::array<int, 4>{3, 4, 5, 6}));
    for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "0,1,2,3", "a,1,2,3", "1,1,2,-1",
                            "1,digital,2,3", "1,,2,3"})
        EXPECT_FALSE(box::parseInputMap(bad, ch)) << bad;

    core::MemorySettingsStore store;
    box::SoundCardConfig c;
    c.inputDevice = "USB Audio";
    c.outputDevice = "pulse";
    c.deviceRateHz = 96000;
    c.channel = {2, 1, 3, 4};
    c.timingChannel = 2;
    c.outputLevelDbfs = -12.5;
    c.fullScaleVolts = {2.0, 0.05, 1.5, 1.25};
    box::saveSoundCardConfig(store, c);
    box::saveCalibratedLatency(store, "USB Audio", 4321);
    const box::SoundCardConfig back = box::loadSoundCardConfig(store);
    EXPECT_EQ(back.inputDevice, "USB Audio");
    EXPECT_EQ(back.outputDevice, "pulse");
    EXPECT_EQ(back.deviceRateHz, 96000);
    EXPECT_EQ(back.channel, c.channel);
    EXPECT_EQ(back.timingChannel, 2);
    EXPECT_DOUBLE_EQ(back.outputLevelDbfs, -12.5);
    EXPECT_EQ(back.fullScaleVolts, c.fullScaleVolts);
    EXPECT_EQ(back.calibratedLatencyFrames, 4321);
    // Damaged values fall back to the defaults.
    store.setValue("Soundkarte/Abtastrate", "viel");
    store.setValue("Soundkarte/Ausgangspegel", "nan");
    store.setValue("Soundkarte/Kanal/Line1", "0");
    const box::SoundCardConfig fixed = box::loadSoundCardConfig(store);
    EXPECT_EQ(fixed.deviceRateHz, 48000);
    EXPECT_DOUBLE_EQ(fixed.outputLevelDbfs, -10.0);
    EXPECT_EQ(fixed.channel[0], 1);
}

// --- on a real audio server ------------------------------------------------------------

namespace {

class SoundCardLoopTest : public BoxTest {
protected:
    static void SetUpTestSuite()
    {
        folder_ = new std::string(testsupport::makeTempDir());
        server_ = new testsupport::AudioServer;
        why_ = new std::string;
    }
    static void TearDownTestSuite()
    {
        delete server_;
        delete why_;
        delete folder_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        BoxTest::SetUp();
        core::prepareRecordsForStart();
        if (!server_->running()) {
            // A test may have killed the server; every test starts with a fresh loop.
            server_->stop();
            if (!server_->start(*folder_, *why_)) {
                if (testsupport::audioRequired())
                    FAIL() << "audio server: " << *why_;
                GTEST_SKIP() << "no audio server: " << *why_;
            }
        }
        ::setenv("PULSE_SINK", "orvo_loop", 1);
    }
    void TearDown() override
    {
        box::setAcquisitionDevice(nullptr);
        card_.reset();
        BoxTest::TearDown();
    }

    // Opens a sound card on the loop and makes it the box the runs measure with.
    box::SoundCardDevice& useCard(box::SoundCardConfig config)
    {
        box::setAcquisitionDevice(nullptr);
        card_ = std::make_unique<box::SoundCardDevice>(std::move(config));
        std::string error;
        EXPECT_TRUE(card_->open(error)) << error;
        box::setAcquisitionDevice(card_.get());
        return *card_;
    }

    // Measuring input and rate, N 4096.
    static void measureOn(int input, int rateCode)
    {
        core::MeasurementSettings& s = core::settings();
        s.measuringInput = input;
        s.sampleRate = rateCode;
        s.fftLength = 4096;
    }

    std::unique_ptr<box::SoundCardDevice> card_;

    // A sound card on the loop: Line1 on channel 1, the timing cable on channel 2.
    static box::SoundCardConfig loopConfig(int timingChannel = 2)
    {
        box::SoundCardConfig c;
        c.timingChannel = timingChannel;
        return c;
    }

    static testsupport::AudioServer* server_;
    static std::string* why_;
    static std::string* folder_;
};
testsupport::AudioServer* SoundCardLoopTest::server_ = nullptr;
std::string* SoundCardLoopTest::why_ = nullptr;
std::string* SoundCardLoopTest::folder_ = nullptr;

// Worst deviation from 0 dB of slot 0 between two frequencies.
double worstDeviationDb(double fromHz, double toHz)
{
    const core::CurveBuffer& a = core::store().amplitudeSlots[0];
    const double df = core::sampleRateHz(static_cast<int>(a.trailerRate())) / a.trailerN();
    double worst = 0.0;
    for (int i = static_cast<int>(std::ceil(fromHz / df)); i * df <= toHz; ++i)
        worst = std::max(worst, std::fabs(static_cast<double>(a[i])));
    return worst;
}

int peakIndex(const core::TimeRecord& r)
{
    int peak = 0;
    for (int k = 0; k < 4096; ++k)
        if (std::fabs(r[k]) > std::fabs(r[peak]))
            peak = k;
    return peak;
}

} // namespace

TEST_F(SoundCardLoopTest, LoopReadsZeroDecibel)
{
    box::SoundCardDevice& card = useCard(loopConfig());
    ASSERT_FALSE(HasFailure());
    measureOn(1, 2);
    core::MeasurementSettings& s = core::settings();
    box::runAmplitudePhaseMeasurement();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(card.lastTiming(), box::TimingSource::TimingChannel);
    EXPECT_EQ(peakIndex(core::store().timeRecord), 4 + sc::kAlignedDelaySamples);
    const double at512 = worstDeviationDb(20.0, 20000.0);
    EXPECT_LT(at512, 0.1);

    s.sampleRate = 1;
    box::runAmplitudePhaseMeasurement();
    const double at64 = worstDeviationDb(10.0, 2800.0);
    EXPECT_LT(at64, 0.1);

    // A reference taken on the same loop, then the response with it: flat to 0.05 dB.
    s.sampleRate = 2;
    s.referenceInput = 1;
    box::runReferenceMeasurement();
    s.referenceComputation = 1;
    box::runAmplitudePhaseMeasurement();
    const double withReference = worstDeviationDb(20.0, 20000.0);
    EXPECT_LT(withReference, 0.05);
    EXPECT_TRUE(ui.messages().empty());
    std::printf("loop: %.3f dB (51.2 kHz), %.3f dB (6.4 kHz), %.3f dB with reference\n", at512,
                at64, withReference);

    // Wall time on the running stream (figures for the record, not a timed test): one
    // measurement after the MLS fell silent, and one with 8 averages.
    s.referenceComputation = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto t0 = std::chrono::steady_clock::now();
    box::runAmplitudePhaseMeasurement();
    const double one = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    s.averages = 8;
    t0 = std::chrono::steady_clock::now();
    box::runAmplitudePhaseMeasurement();
    const double eight = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(worstDeviationDb(20.0, 20000.0), 0.1);
    std::printf("wall: one MLS measurement %.3f s, 8 averages %.3f s\n", one, eight);
}

TEST_F(SoundCardLoopTest, DigitalReferenceIsTheIdealInternalPath)
{
    useCard(loopConfig());
    ASSERT_FALSE(HasFailure());
    measureOn(4, 2);
    box::runAmplitudePhaseMeasurement();
    EXPECT_LT(worstDeviationDb(20.0, 20000.0), 0.05);
    EXPECT_EQ(peakIndex(core::store().timeRecord), 4 + sc::kAlignedDelaySamples);
    EXPECT_TRUE(ui.messages().empty());
}

// Fresh streams have different delays; the timing channel puts every impulse on the same
// sample, and the phase at 1 kHz stays put.
TEST_F(SoundCardLoopTest, TimingChannelMakesRunsRepeatable)
{
    measureOn(1, 2);
    std::vector<double> phases;
    for (int run = 0; run < 20; ++run) {
        useCard(loopConfig());
        ASSERT_FALSE(HasFailure());
        box::runAmplitudePhaseMeasurement();
        EXPECT_EQ(peakIndex(core::store().timeRecord), 4 + sc::kAlignedDelaySamples)
            << "run " << run << ": "
            << (ui.messages().empty() ? std::string("no message") : ui.messages().back().text)
            << " / " << card_->lastError() << " / timing "
            << static_cast<int>(card_->lastTiming());
        phases.push_back(core::store().phaseSlots[0][80]); // 1 kHz
    }
    for (double p : phases)
        EXPECT_NEAR(p, phases[0], 1.0);
    EXPECT_TRUE(ui.messages().empty());
}

// A one-pole low-pass (the LADSPA example filter) in the loop is measured as its analytic
// response: magnitude within 0.2 dB, phase within 2 degrees once the delay is fitted out.
TEST_F(SoundCardLoopTest, KnownFilterInTheLoop)
{
    if (!server_->loadLadspaSink("orvo_lpf", "filter", "lpf", "3000")) {
        if (testsupport::audioRequired())
            FAIL() << "module-ladspa-sink with filter.so did not load";
        GTEST_SKIP() << "module-ladspa-sink with filter.so did not load";
    }
    useCard(loopConfig());
    ASSERT_FALSE(HasFailure());
    measureOn(1, 2);
    box::runAmplitudePhaseMeasurement();
    server_->pactl("unload-module module-ladspa-sink");
    ::setenv("PULSE_SINK", "orvo_loop", 1);

    // y(n) = (1 − a) x(n) + a y(n − 1) at the device's 48 kHz.
    const double comp = 2.0 - std::cos(2.0 * kPi * 3000.0 / 48000.0);
    const double a = comp - std::sqrt(comp * comp - 1.0);
    const core::CurveBuffer& amp = core::store().amplitudeSlots[0];
    const core::CurveBuffer& pha = core::store().phaseSlots[0];
    const double df = 12.5;
    std::vector<double> f, residual;
    double worstDb = 0.0;
    for (int i = 2; i * df <= 20000.0; ++i) {
        const std::complex<double> h =
            (1.0 - a) / (1.0 - a * std::polar(1.0, -2.0 * kPi * i * df / 48000.0));
        worstDb = std::max(worstDb, std::fabs(amp[i] - 20.0 * std::log10(std::abs(h))));
        double d = pha[i] - std::arg(h) * 180.0 / kPi;
        f.push_back(i * df);
        residual.push_back(d);
    }
    // Unwrap the difference and fit a delay (a straight line through 0 Hz).
    for (std::size_t k = 1; k < residual.size(); ++k)
        while (residual[k] - residual[k - 1] > 180.0)
            residual[k] -= 360.0;
    for (std::size_t k = 1; k < residual.size(); ++k)
        while (residual[k] - residual[k - 1] < -180.0)
            residual[k] += 360.0;
    double sxy = 0.0, sxx = 0.0, sy = 0.0, sx = 0.0;
    const double n = static_cast<double>(f.size());
    for (std::size_t k = 0; k < f.size(); ++k) {
        sxy += f[k] * residual[k];
        sxx += f[k] * f[k];
        sy += residual[k];
        sx += f[k];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    const double wrapped = std::remainder(offset, 360.0);
    double worstDeg = 0.0;
    for (std::size_t k = 0; k < f.size(); ++k)
        worstDeg = std::max(worstDeg, std::fabs(residual[k] - offset - slope * f[k]));
    EXPECT_LT(worstDb, 0.2);
    EXPECT_LT(worstDeg, 2.0);
    EXPECT_LT(std::fabs(wrapped), 2.0); // no phase offset beyond the delay
    std::printf("low-pass 3 kHz: %.3f dB, %.2f deg\n", worstDb, worstDeg);
}

// The level measurement on the loop: 100 passes without a message, and the bands of the
// simulated box's internal path within 0.5 dB.
TEST_F(SoundCardLoopTest, LevelPassesOnTheLoop)
{
    core::MeasurementSettings& s = core::settings();
    s.sampleRate = 2;
    s.levelCalculation = 0;
    s.measuringInput = 4;
    box::measureLevels(0); // on the simulated box of the fixture
    const auto simulated = core::store().levelCurrent;

    useCard(loopConfig());
    ASSERT_FALSE(HasFailure());
    s.measuringInput = 1;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        box::measureLevels(i);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(ui.messages().empty());
    double worst = 0.0;
    for (int b = 0; b < core::kLevelBands; ++b)
        worst = std::max(worst, std::fabs(double(core::store().levelCurrent[b]) - simulated[b]));
    EXPECT_LT(worst, 0.5);
    std::printf("level: 100 passes in %.2f s, worst band %.3f dB from the simulated box\n",
                seconds, worst);
}

TEST_F(SoundCardLoopTest, LevelWorkerStopsPromptly)
{
    useCard(loopConfig());
    ASSERT_FALSE(HasFailure());
    measureOn(1, 2);
    ASSERT_EQ(box::startLevelMeasurement(), 1);
    // Once the passes follow each other (the first waits for the stream to start), Stop and
    // Abbrechen take effect within a pass.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ui.status(0).size() < 3 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(ui.status(0).size(), 3u);
    auto t0 = std::chrono::steady_clock::now();
    box::levelDialogStop();
    std::size_t passes = ui.status(0).size();
    while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(300)) {
        if (ui.status(0).size() != passes) {
            passes = ui.status(0).size();
            // A pass that was running when Stop came may still end; none begins after it.
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    box::levelDialogStart();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    t0 = std::chrono::steady_clock::now();
    box::levelDialogCancel();
    const double cancelS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(cancelS, 0.3);
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(SoundCardLoopTest, NoSuchDeviceIsHardwareNotPresent)
{
    box::SoundCardConfig c = loopConfig();
    c.inputDevice = "Gibt es nicht";
    box::SoundCardDevice card(c);
    std::string error;
    EXPECT_FALSE(card.open(error));
    EXPECT_NE(error.find("Gibt es nicht"), std::string::npos) << error;
    box::setAcquisitionDevice(&card);
    core::TimeRecord& r = core::store().timeRecord;
    r[100] = 0.25f;
    EXPECT_EQ(box::acquireRecord(4096, 1, 2, 1, r, 0), 0);
    EXPECT_EQ(messagesWith(15), 1);
    EXPECT_EQ(r[100], 0.25f);
}

TEST_F(SoundCardLoopTest, ServerDyingMidCaptureIsHardwareFault)
{
    useCard(loopConfig(0));
    ASSERT_FALSE(HasFailure());
    core::TimeRecord& r = core::store().timeRecord;
    r[100] = 0.25f;
    // At 3.2 kHz a capture waits more than a second for its period; the server dies meanwhile.
    std::thread killer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        server_->kill();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const int delivered = box::acquireRecord(4096, 1, 3, 1, r, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    killer.join();
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(messagesWith(16), 1) << (ui.messages().empty() ? std::string("no message")
                                                              : ui.messages()[0].text);
    EXPECT_EQ(r[100], 0.25f);
    EXPECT_LT(seconds, 3.5);
    // The next capture finds no server: a clear message again, and no hang.
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(box::acquireRecord(4096, 1, 2, 1, r, 0), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count(), 3.5);
    EXPECT_EQ(r[100], 0.25f);
}
