// Speed of the diagrams. Every settings dialog re-renders all nine pictures at once, and the
// main window replays the current picture on every paint, so both must stay well inside one
// frame: all nine pictures in 10 ms, one replay into a full-HD image in 16 ms.
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "plot/Render.h"
#include "plot/SvgCanvas.h"

#ifdef ORVO_BENCH_QT
#include "plot/qt/QtCanvas.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#endif

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// A measurement with every buffer in use: 4096-point records at 51.2 kHz, five occupied
// overlay slots, impedance, 28 level bands and a waterfall of 64 slices by 201 points.
void fillFullStore()
{
    core::resetStore();
    core::resetDisplaySettings();
    core::MeasurementStore& st = core::store();
    st.timeRecord.stamp(4096, 2);
    st.stepResponseCurve.stamp(4096, 2);
    for (int i = 0; i < core::kRecordSamples; ++i) {
        st.timeRecord[i] = static_cast<float>(0.008 * std::exp(-i / 200.0) * std::sin(i * 0.3));
        st.stepResponseCurve[i] = static_cast<float>(0.005 * (1.0 - std::exp(-i / 150.0)));
    }
    for (int s = 0; s < 5; ++s) {
        auto& a = st.amplitudeSlots[static_cast<std::size_t>(s)];
        auto& p = st.phaseSlots[static_cast<std::size_t>(s)];
        a.stamp(4096, 2);
        p.stamp(4096, 2);
        for (int i = 0; i < core::kCurveBins; ++i) {
            a[i] = static_cast<float>(-20.0 - 2.0 * s + 3.0 * std::sin(i * 0.01));
            p[i] = static_cast<float>(std::fmod(i * 7.0 + 30.0 * s, 360.0) - 180.0);
        }
        st.slotOccupied[static_cast<std::size_t>(s)] = 1;
    }
    st.impedanceMagnitude.stamp(4096, 2);
    st.impedancePhase.stamp(4096, 2);
    for (int i = 0; i < core::kCurveBins; ++i) {
        const double f = i * 12.5;
        st.impedanceMagnitude[i] = static_cast<float>(6.0 + 40.0 / (1.0 + std::pow((f - 40.0) / 8.0, 2)));
        st.impedancePhase[i] = static_cast<float>(45.0 * std::sin(i * 0.003));
    }
    for (int b = 0; b < core::kLevelBands; ++b) {
        st.levelBandFrequency[static_cast<std::size_t>(b)] =
            static_cast<float>(25.0 * std::pow(2.0, b / 3.0));
        st.levelCurrent[static_cast<std::size_t>(b)] = static_cast<float>(-30.0 + b * 0.5);
        st.levelMeanPeak[static_cast<std::size_t>(b)] = static_cast<float>(-28.0 + b * 0.5);
    }
    int k = 0;
    for (int s = 0; s < 64; ++s) {
        for (int j = 0; j <= 200; ++j, ++k) {
            st.csdFrequency[static_cast<std::size_t>(k)] = static_cast<float>(j * 100);
            st.csdLevel[static_cast<std::size_t>(k)] =
                static_cast<float>(-10.0 - 0.4 * s - j / 40.0 + std::sin(j * 0.2));
            st.csdTime[static_cast<std::size_t>(k)] = static_cast<float>(s * 0.004 / 64.0);
        }
    }
    st.csdLevel[core::kCsdPoints] = -9.0f;
    core::settings().sampleRate = 2;
}

void BM_RenderAllViews(benchmark::State& state)
{
    fillFullStore();
    for (auto _ : state)
        plot::renderView(100);
}
BENCHMARK(BM_RenderAllViews)->Unit(benchmark::kMillisecond);

// Replays onto the SVG writer at the main window's usual size; arg: the view.
void BM_ReplaySvg(benchmark::State& state)
{
    fillFullStore();
    plot::renderView(100);
    const int view = static_cast<int>(state.range(0));
    for (auto _ : state) {
        plot::SvgCanvas svg(1920, 1080);
        plot::replayView(svg, view, 0, 0, 1920, 1080);
        benchmark::DoNotOptimize(svg.finish());
    }
}
BENCHMARK(BM_ReplaySvg)->Arg(2)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond);

#ifdef ORVO_BENCH_QT
// Replays into a 1920 x 1080 image through QPainter; args: the view, and 1 for smooth lines
// (image files) or 0 (the windows).
void BM_ReplayQImage(benchmark::State& state)
{
    if (QGuiApplication::instance() == nullptr) {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "orvo_bench_plot";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
    }
    fillFullStore();
    plot::renderView(100);
    const int view = static_cast<int>(state.range(0));
    const bool smooth = state.range(1) != 0;
    QImage image(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        plot::replayViewOnPainter(painter, view, QRect(0, 0, 1920, 1080), smooth);
    }
}
BENCHMARK(BM_ReplayQImage)
    ->ArgsProduct({{1, 2, 5, 6, 7, 8, 11}, {0}})
    ->ArgsProduct({{2, 6, 7}, {1}})
    ->Unit(benchmark::kMillisecond);
#endif

} // namespace
