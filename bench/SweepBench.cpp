// Speed of the sweep analysis. One 2 s sweep at 48 kHz (deconvolution, harmonic separation and
// the distortion curves) should take no more than 50 ms on one core, so that a measurement
// costs little more than the sweep's own length. The sound card's whole processing of one sweep
// (its delay on the timing channel, the analysis, the record at 51.2 kHz) is measured beside it.
#include "box/SoundCardSignal.h"
#include "dsp/Distortion.h"
#include "dsp/DistortionRecord.h"
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

// The capture of a 2 s sweep at 48 kHz as the sound card gets it: a driver with a little
// second and third harmonic and some hiss, and the sweep's tail.
std::vector<double> cardCapture(const dsp::SweepPlan& plan)
{
    std::vector<double> capture = dsp::makeSweep(plan);
    capture.resize(capture.size() + static_cast<std::size_t>(box::soundcard::sweepTailFrames(plan)),
                   0.0);
    std::mt19937 rng(7);
    std::normal_distribution<double> hiss(0.0, 1e-4);
    for (double& v : capture)
        v = v + 0.05 * v * v + 0.1 * v * v * v + hiss(rng);
    return capture;
}

dsp::SweepPlan cardSweep()
{
    box::CaptureRequest request;
    request.excitation = box::Excitation::Sweep;
    return box::soundcard::planDeviceSweep(request, 48000, 0.316);
}

// What follows the end of the capture of one 2 s sweep at 48 kHz: the analysis of the measured
// channel, the linear response as the 4096-sample record at 51.2 kHz (rate conversion and band
// edge) and the distortion record.
void BM_SoundCardSweepAfterCapture(benchmark::State& state)
{
    namespace sc = box::soundcard;
    const dsp::SweepPlan plan = cardSweep();
    const std::vector<double> capture = cardCapture(plan);
    // The device keeps the MLS of the program rate, whose band edge the record takes.
    const sc::PlayedMls edge = sc::makePlayedMls(sc::rateLink(51200, 48000), 0.316);
    std::vector<double> record(4096);
    for (auto _ : state) {
        const dsp::SweepAnalysis a = dsp::analyzeSweep(plan, capture);
        sc::sweepRecord(plan, a.deconvolution, edge, 1280.0, record.data());
        core::DistortionRecord d = dsp::distortionRecord(plan, a.curves);
        benchmark::DoNotOptimize(record.data());
        benchmark::DoNotOptimize(d.hz.data());
    }
    state.SetLabel("analysis, record at 51.2 kHz, distortion record");
}
BENCHMARK(BM_SoundCardSweepAfterCapture)->Unit(benchmark::kMillisecond);

// The delay from the impulse on the timing channel, taken while the sweep's tail is recorded.
void BM_SoundCardSweepDelay(benchmark::State& state)
{
    const dsp::SweepPlan plan = cardSweep();
    std::vector<double> look = cardCapture(plan);
    look.resize(static_cast<std::size_t>(plan.totalSamples) + 2400);
    for (auto _ : state) {
        const box::soundcard::SweepArrival a = box::soundcard::sweepArrival(plan, look, 48000);
        benchmark::DoNotOptimize(a.lag);
    }
}
BENCHMARK(BM_SoundCardSweepDelay)->Unit(benchmark::kMillisecond);

// The record alone: linear window, conversion to 51.2 kHz, band edge round the circle.
void BM_SoundCardSweepRecord(benchmark::State& state)
{
    namespace sc = box::soundcard;
    const dsp::SweepPlan plan = cardSweep();
    const dsp::SweepDeconvolution d = dsp::deconvolveSweep(plan, cardCapture(plan));
    const sc::PlayedMls edge = sc::makePlayedMls(sc::rateLink(51200, 48000), 0.316);
    std::vector<double> record(4096);
    for (auto _ : state) {
        sc::sweepRecord(plan, d, edge, 1280.0, record.data());
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_SoundCardSweepRecord)->Unit(benchmark::kMillisecond);

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
