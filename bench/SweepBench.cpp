// Speed of the sweep analysis. One 2 s sweep at 48 kHz (deconvolution, harmonic separation and
// the distortion curves) should take no more than 50 ms on one core, so that a measurement
// costs little more than the sweep's own length.
#include "dsp/Distortion.h"
#include "dsp/RealFft.h"
#include "dsp/Sweep.h"

#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

namespace
{

// What a driver with a little second and third harmonic and some hiss sends back.
std::vector<double> distortedCapture(const dsp::SweepPlan& plan)
{
    std::vector<double> y = dsp::makeSweep(plan);
    y.resize(static_cast<std::size_t>(dsp::recommendedCaptureSamples(plan)), 0.0);
    std::mt19937 rng(7);
    std::normal_distribution<double> hiss(0.0, 1e-4);
    for (double& v : y)
        v = v + 0.05 * v * v + 0.1 * v * v * v + hiss(rng);
    return y;
}

dsp::SweepPlan twoSeconds()
{
    dsp::SweepRequest request;
    request.lengthSeconds = 2.0;
    request.rateHz = 48000;
    return dsp::planSweep(request);
}

void BM_SweepAnalysis2s48k(benchmark::State& state)
{
    const dsp::SweepPlan plan = twoSeconds();
    const std::vector<double> capture = distortedCapture(plan);
    for (auto _ : state) {
        dsp::SweepAnalysis a = dsp::analyzeSweep(plan, capture);
        benchmark::DoNotOptimize(a.curves.thdPercent.data());
    }
    state.SetLabel("deconvolution, h1..h5, curves");
}
BENCHMARK(BM_SweepAnalysis2s48k)->Unit(benchmark::kMillisecond);

void BM_SweepDeconvolution2s48k(benchmark::State& state)
{
    const dsp::SweepPlan plan = twoSeconds();
    const std::vector<double> capture = distortedCapture(plan);
    for (auto _ : state) {
        dsp::SweepDeconvolution d = dsp::deconvolveSweep(plan, capture);
        benchmark::DoNotOptimize(d.response.data());
    }
}
BENCHMARK(BM_SweepDeconvolution2s48k)->Unit(benchmark::kMillisecond);

void BM_SweepGeneration2s48k(benchmark::State& state)
{
    const dsp::SweepPlan plan = twoSeconds();
    for (auto _ : state) {
        std::vector<double> x = dsp::makeSweep(plan);
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_SweepGeneration2s48k)->Unit(benchmark::kMillisecond);

// The transform alone at the lengths a sweep of 0.5..10 s needs.
void BM_RealFftForward(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    dsp::RealFft fft(n);
    std::vector<double> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] = (i * 7919 % 113) / 113.0 - 0.5;
    std::vector<std::complex<double>> s(static_cast<std::size_t>(n / 2 + 1));
    for (auto _ : state) {
        fft.forward(x.data(), s.data());
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_RealFftForward)
    ->Arg(1 << 17)
    ->Arg(1 << 18)
    ->Arg(1 << 19)
    ->Unit(benchmark::kMillisecond);

} // namespace
