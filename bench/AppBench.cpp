// Speed of painting the main window: every view painted into a 1920 x 1080 image, from the
// pictures of a complete set of simulated measurements, repeated and as a first paint. A
// paint must fit in one frame (16 ms).
#include "app/Commands.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "app/Painting.h"
#include "app/ScreenPaint.h"
#include "app/Wiring.h"
#include "box/PortAccess.h"
#include "box/Runs.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "dsp/Waterfall.h"
#include "plot/Render.h"

#include <QApplication>
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

// The first paint of a view in the real window at 1920 x 1080 after its picture was recorded
// anew (as after a load): replay into the window's backing store and the flush to the screen,
// as repaint() does them.
void BM_FirstPaintInWindow(benchmark::State& state)
{
    const int view = static_cast<int>(state.range(0));
    app::MainWindow window;
    app::setOperations(&window.desktop());
    window.resize(1920, 1080);
    window.show();
    QApplication::processEvents();
    app::showView(view);
    for (auto _ : state) {
        state.PauseTiming();
        plot::renderView(100); // new pictures: nothing the window kept fits them
        state.ResumeTiming();
        window.drawingArea()->repaint();
    }
    app::setOperations(nullptr);
}
BENCHMARK(BM_FirstPaintInWindow)->DenseRange(0, 8)->Arg(11)->Unit(benchmark::kMillisecond);

// From the window's construction to its first paint: the menus, the start-up (the box, the
// settings) and the start picture, the only view drawn before the window appears.
void BM_StartToFirstPaint(benchmark::State& state)
{
    for (auto _ : state) {
        app::MainWindow window;
        app::setOperations(&window.desktop());
        window.show();
        window.start();
        window.drawingArea()->repaint();
        state.PauseTiming();
        app::setOperations(nullptr);
        state.ResumeTiming();
    }
    // The start-up left the simulated box open; the next benchmarks run on their own data.
    measureEverything();
}
BENCHMARK(BM_StartToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv)
{
    int qtArgc = 1;
    char name[] = "orvo_bench_app";
    char* qtArgv[] = {name, nullptr};
    QApplication application(qtArgc, qtArgv);
    core::MemorySettingsStore store; // the window's start-up reads and writes it
    core::setSettingsStore(&store);
    app::wireDiagrams();
    measureEverything();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core::setSettingsStore(nullptr);
    return 0;
}
