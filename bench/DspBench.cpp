// Speed of the signal processing on one MLS or impulse capture. The box needs about 0.4 s per
// capture at 51.2 kHz, so processing should stay well below 1 % of that.
#include "box/Mls.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Fft.h"
#include "dsp/Response.h"
#include "dsp/Waterfall.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#ifdef ORVO_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

void fillDecayingTone(core::TimeRecord& r)
{
    for (int n = 0; n < core::kRecordSamples; ++n)
        r[n] = static_cast<float>(std::exp(-n / 300.0) * std::sin(n * 0.2) +
                                  0.001 * ((n * 7919) % 13));
}

void BM_FftForward4096(benchmark::State& state)
{
    auto& st = core::store();
    for (auto _ : state) {
        for (int i = 0; i < 4096; ++i) {
            st.fftRe[i] = static_cast<float>(i % 17);
            st.fftIm[i] = 0.0f;
        }
        dsp::fftForward(12);
        benchmark::DoNotOptimize(st.fftRe.data());
    }
}
BENCHMARK(BM_FftForward4096);

#ifdef ORVO_BENCH_FFTW
void BM_FftwComplex4096(benchmark::State& state)
{
    fftwf_complex* in = fftwf_alloc_complex(4096);
    fftwf_complex* out = fftwf_alloc_complex(4096);
    fftwf_plan plan = fftwf_plan_dft_1d(4096, in, out, FFTW_FORWARD, FFTW_MEASURE);
    for (auto _ : state) {
        for (int i = 0; i < 4096; ++i) {
            in[i][0] = static_cast<float>(i % 17);
            in[i][1] = 0.0f;
        }
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}
BENCHMARK(BM_FftwComplex4096);
#endif

void BM_DeconvolveMls(benchmark::State& state)
{
    std::vector<float> record(box::kMlsSize);
    for (int n = 0; n < box::kMlsPeriod; ++n)
        record[n] = box::mlsBit(n) ? 1.0f : -1.0f;
    std::vector<float> work(record.size());
    for (auto _ : state) {
        work = record;
        box::deconvolveMls(work.data(), 3300.0f);
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_DeconvolveMls);

void BM_ComputeResponseMinimumPhaseStep(benchmark::State& state)
{
    core::resetSettings();
    core::MeasurementSettings& s = core::settings();
    s.method = 1;
    s.sampleRate = 2;
    s.fftLength = 4096;
    s.measuringInput = 2;
    s.stepResponse = 1;
    s.smoothing = 4;
    s.phaseMode = 3;
    fillDecayingTone(core::store().timeRecord);
    const dsp::ResponseRequest request = dsp::responseRequest(s, core::ResponseMode::Measurement);
    core::CurveBuffer amp;
    core::CurveBuffer pha;
    for (auto _ : state) {
        dsp::computeResponse(request, core::store(), amp, pha);
        benchmark::DoNotOptimize(amp.data());
    }
}
BENCHMARK(BM_ComputeResponseMinimumPhaseStep);

void BM_ComputeWaterfall(benchmark::State& state)
{
    core::resetSettings();
    core::settings().sampleRate = 2;
    core::settings().markerPos = {0, 10000};
    fillDecayingTone(core::store().timeRecord);
    for (auto _ : state) {
        dsp::computeWaterfall(512);
        benchmark::DoNotOptimize(core::store().csdLevel.data());
    }
}
BENCHMARK(BM_ComputeWaterfall);

} // namespace
