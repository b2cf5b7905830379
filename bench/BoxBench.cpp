// Speed of a whole measurement on the simulated box: one amplitude/phase run (acquisitions,
// read-out of about 150,000 port accesses each, deconvolution, response, overlays) and one
// pass of the level measurement. The simulated box costs no waiting time, so this is the
// program's own share of a measurement; the real box adds its capture and settling time.
#include "box/Level.h"
#include "box/PortAccess.h"
#include "box/Runs.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Ui.h"

#include <benchmark/benchmark.h>

namespace
{

// Fresh records on a simulated box at 51.2 kHz, MLS, the internal reference path.
struct SimulatedBench {
    box::sim::SimulatedBox sim;
    core::ScriptedUi ui;

    SimulatedBench()
    {
        core::resetSettings();
        core::resetStore();
        core::prepareRecordsForStart();
        core::setUi(&ui);
        box::setPortAccess(&sim);
        core::MeasurementSettings& s = core::settings();
        s.sampleRate = 2;
        s.fftLength = 4096;
        s.measuringInput = 4;
        s.method = 1;
    }
    ~SimulatedBench()
    {
        box::setPortAccess(nullptr);
        core::setUi(nullptr);
    }
};

void BM_AmplitudePhaseRun(benchmark::State& state)
{
    SimulatedBench bench;
    core::MeasurementSettings& s = core::settings();
    s.averages = static_cast<int>(state.range(0));
    s.phaseMode = 3;
    s.smoothing = 4;
    s.stepResponse = 1;
    core::NoRenderer views;
    box::runAmplitudePhaseMeasurement(views); // the bench's clean signal is computed once
    for (auto _ : state) {
        box::runAmplitudePhaseMeasurement(views);
        benchmark::DoNotOptimize(core::store().amplitudeSlots[0].data());
    }
    state.counters["captures"] = static_cast<double>(bench.sim.captureCount());
}
BENCHMARK(BM_AmplitudePhaseRun)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_MeasureLevels(benchmark::State& state)
{
    SimulatedBench bench;
    core::MeasurementSettings& s = core::settings();
    s.levelMethod = static_cast<int>(state.range(0));
    s.levelCalculation = 1;
    s.levelWindow = 3;
    box::measureLevels(0);
    int pass = 1;
    for (auto _ : state) {
        box::measureLevels(pass++);
        benchmark::DoNotOptimize(core::store().levelCurrent.data());
    }
}
BENCHMARK(BM_MeasureLevels)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
