// What the sound card costs on a private audio server (a null sink whose monitor is the
// loop): the time of the first measurement after the card was opened, and the share of a
// core the process uses while the card sits idle with its stream open. Skipped (with the
// reason) where no audio server can be started.
#include "box/Runs.h"
#include "box/SoundCard.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Ui.h"
#include "tests/support/AudioServer.h"
#include "tests/support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

namespace {

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Fresh records, a scripted user interface and a sound card on the loop (timing cable on
// channel 2), made the box the runs measure with.
struct LoopBench {
    testsupport::AudioServer server;
    core::ScriptedUi ui;
    std::unique_ptr<box::SoundCardDevice> card;
    std::string why;

    bool start()
    {
        if (!server.start(testsupport::makeTempDir(), why, 48000))
            return false;
        core::resetSettings();
        core::resetStore();
        core::prepareRecordsForStart();
        core::setUi(&ui);
        core::MeasurementSettings& s = core::settings();
        s.sampleRate = 2;
        s.fftLength = 4096;
        s.measuringInput = 1;
        s.method = 1;
        s.averages = 1;
        return true;
    }
    bool open()
    {
        box::setAcquisitionDevice(nullptr);
        box::SoundCardConfig c;
        c.timingChannel = 2;
        card = std::make_unique<box::SoundCardDevice>(c);
        if (!card->open(why))
            return false;
        box::setAcquisitionDevice(card.get());
        return true;
    }
    ~LoopBench()
    {
        box::setAcquisitionDevice(nullptr);
        card.reset();
        core::setUi(nullptr);
    }
};

// Opening the card the way the program does when the sound card becomes the box, then the
// first amplitude/phase run: the time the user waits for the first curve.
void BM_FirstMeasurementAfterOpen(benchmark::State& state)
{
    LoopBench bench;
    if (!bench.start()) {
        state.SkipWithError(("no audio server: " + bench.why).c_str());
        return;
    }
    double worst = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!bench.open()) {
            state.SkipWithError(bench.why.c_str());
            return;
        }
        // The user chooses a measurement a moment (range(0) ms) after the window shows the card.
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        box::runAmplitudePhaseMeasurement(testsupport::noViews());
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        worst = std::max(worst, s);
    }
    state.counters["worst_s"] = worst;
    state.counters["messages"] = static_cast<double>(bench.ui.messages().size());
}
BENCHMARK(BM_FirstMeasurementAfterOpen)
    ->Arg(1500)
    ->Arg(8000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// A minute after the card was opened: the stream must still be there.
BENCHMARK(BM_FirstMeasurementAfterOpen)
    ->Arg(65000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The card idle with its stream open, after a measurement: the share of one core the whole
// process (the audio callback and the server's client threads included) uses over
// `range(0)` seconds.
void BM_IdleWithStreamOpen(benchmark::State& state)
{
    LoopBench bench;
    if (!bench.start() || !bench.open()) {
        state.SkipWithError(("no audio server: " + bench.why).c_str());
        return;
    }
    box::runAmplitudePhaseMeasurement(testsupport::noViews());
    double share = 0.0;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        share = (processCpuSeconds() - cpu0) / wall;
    }
    state.counters["core_percent"] = 100.0 * share;
}
BENCHMARK(BM_IdleWithStreamOpen)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
