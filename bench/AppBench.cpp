// Speed of painting the main window: every view painted into a 1920 x 1080 image, from the
// pictures of a complete set of simulated measurements, repeated and as a first paint. A
// paint must fit in one frame (16 ms).
#include "app/Painting.h"
#include "app/ScreenPaint.h"
#include "app/Wiring.h"
#include "box/PortAccess.h"
#include "box/Runs.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Waterfall.h"
#include "plot/Render.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

void measureEverything()
{
    static box::sim::SimulatedBox simulated;
    box::setPortAccess(&simulated);
    core::settings().sampleRate = 2;
    core::settings().fftLength = 4096;
    box::runReferenceMeasurement(plot::viewRenderer());
    box::runAmplitudePhaseMeasurement(plot::viewRenderer());
    box::runImpedanceMeasurement(plot::viewRenderer());
    dsp::computeWaterfall(4096);
    plot::renderView(100);
    box::setPortAccess(nullptr);
}

void paintRepeatedly(benchmark::State& state)
{
    const int view = static_cast<int>(state.range(0));
    QImage image(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        p.fillRect(image.rect(), QColor(192, 192, 192));
        app::paintDiagram(p, view, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// Repeated paints of an unchanged view, as the window gets them (the painted image is kept).
void BM_PaintView(benchmark::State& state)
{
    paintRepeatedly(state);
}
BENCHMARK(BM_PaintView)->DenseRange(0, 8)->Arg(11)->Unit(benchmark::kMillisecond);

// The first paint after a view was rendered: the whole replay, nothing kept.
void BM_PaintViewReplay(benchmark::State& state)
{
    app::setPictureReplayer(app::makeScreenReplayer(0));
    paintRepeatedly(state);
    app::setPictureReplayer(app::makeScreenReplayer());
}
BENCHMARK(BM_PaintViewReplay)->DenseRange(0, 8)->Arg(11)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    int qtArgc = 1;
    char name[] = "orvo_bench_app";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    app::wireDiagrams();
    measureEverything();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
