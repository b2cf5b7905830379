#include "tests/app/dialogs/DialogFixture.h"

#include "app/dialogs/Dialogs.h"
#include "app/dialogs/LevelDialog.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"

#include <QImage>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace app::dialogs;

namespace {

// A stand-in for the level worker: the two flags and a thread that ends when asked.
struct FakeWorker {
    std::atomic<int> running{1};
    std::atomic<int> exit{0};
    std::atomic<bool> done{false};

    LevelWorkerHooks hooks()
    {
        LevelWorkerHooks h;
        h.running = [this] { return running.load(); };
        h.setRunning = [this](int v) { running = v; };
        h.requestExit = [this] { exit = 1; };
        h.finished = [this] { return done.load(); };
        return h;
    }
};

bool hasPureRed(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == qRgb(255, 0, 0))
                return true;
    return false;
}

void fillBands(float current, float meanPeak, float frequency)
{
    auto& s = core::store();
    s.levelCurrent.fill(current);
    s.levelMeanPeak.fill(meanPeak);
    s.levelBandFrequencyView.fill(frequency);
}

} // namespace

TEST_F(DialogTest, LevelButtonsFollowStartStopAndALimitedSeries)
{
    FakeWorker worker;
    setLevelWorkerHooks(worker.hooks());
    LevelDialog d;
    saveShot(d, "159-pegel");
    d.show();
    auto* start = control<QPushButton>(d, 1191);
    auto* stop = control<QPushButton>(d, 1189);
    EXPECT_TRUE(stop->isEnabled()); // the command starts the worker running
    EXPECT_FALSE(start->isEnabled());

    stop->click();
    EXPECT_EQ(worker.running, 0);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());

    start->click();
    EXPECT_EQ(worker.running, 1);
    // A limited series ends by itself: the buttons stay until the user presses Stop.
    worker.running = 0;
    QCoreApplication::processEvents();
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    stop->click();
    EXPECT_TRUE(start->isEnabled());
}

TEST_F(DialogTest, LevelAbortWaitsForTheWorkerToEnd)
{
    FakeWorker worker;
    setLevelWorkerHooks(worker.hooks());
    std::thread thread([&] {
        while (worker.exit == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the last pass
        repaintLevelDialog(); // the worker's repaint after its pass reaches the dialog
        worker.done = true;
    });
    LevelDialog d;
    d.show();
    control<QPushButton>(d, 1190)->click();
    EXPECT_TRUE(worker.done);
    EXPECT_EQ(worker.running, 0);
    EXPECT_EQ(worker.exit, 1);
    EXPECT_FALSE(d.isVisible());
    thread.join();
    repaintLevelDialog(); // closed: nothing to do
}

TEST_F(DialogTest, LevelEscapeEndsTheMeasurementToo)
{
    FakeWorker worker;
    worker.done = true;
    setLevelWorkerHooks(worker.hooks());
    LevelDialog d;
    d.show();
    d.reject();
    EXPECT_EQ(worker.exit, 1);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(DialogTest, LevelReadoutTakesBandsOnTheAxisOnly)
{
    core::settings().sampleRate = 1; // axis 3 Hz .. 2.5 kHz
    core::displaySettings().axisSets[5].y = 12; // -100 .. +40 dB, not dB SPL
    fillBands(core::NO_VALUE, core::NO_VALUE, 100.0f);
    auto& s = core::store();
    s.levelCurrent[3] = -20.0f;
    s.levelMeanPeak[3] = -25.0f;
    s.levelCurrent[4] = 10.0f;      // off the axis: ignored
    s.levelMeanPeak[4] = 30.0f;
    s.levelBandFrequencyView[4] = 4000.0f;
    s.levelCurrent[5] = -30.0f;
    s.levelMeanPeak[5] = -5.0f;
    s.levelBandFrequencyView[5] = 2500.0f; // the axis maximum is included

    LevelReadout r = computeLevelReadout();
    EXPECT_FLOAT_EQ(r.highestCurrent, -20.0f);
    EXPECT_FLOAT_EQ(r.highestMeanPeak, -5.0f);
    EXPECT_EQ(r.unitText, "[dB]");
    EXPECT_FLOAT_EQ(r.axisMax, 40.0f);

    // "nur akt. Wert": the mean/peak line keeps its starting value.
    s.levelMeanPeak.fill(-100000.0f);
    r = computeLevelReadout();
    EXPECT_FLOAT_EQ(r.highestMeanPeak, -10000.0f);
}

TEST_F(DialogTest, LevelReadoutInDbsplFollowsTheAxisUnit)
{
    core::settings().sampleRate = 2;
    core::displaySettings().axisSets[5].y = 27; // dB SPL
    fillBands(-20.0f, -30.0f, 1000.0f);
    const LevelReadout r = computeLevelReadout();
    EXPECT_EQ(r.unitText, "[dBSPL]");
    EXPECT_FLOAT_EQ(r.highestCurrent, dsp::toDbspl(-20.0f));
    EXPECT_FLOAT_EQ(r.highestMeanPeak, dsp::toDbspl(-30.0f));
}

TEST_F(DialogTest, LevelReadoutTurnsRedAboveTheAxisMaximum)
{
    core::displaySettings().axisSets[5].y = 46; // -70 .. 0 dB
    LevelDialog d;
    QWidget* area = control<QWidget>(d, 1200);
    d.show();

    fillBands(-10.0f, -12.0f, 100.0f);
    EXPECT_FALSE(hasPureRed(area->grab().toImage()));
    fillBands(5.0f, -12.0f, 100.0f);
    EXPECT_TRUE(hasPureRed(area->grab().toImage()));
    saveShot(d, "159-pegel-rot");
    d.done(0);
}
