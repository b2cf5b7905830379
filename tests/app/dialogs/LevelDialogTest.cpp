#include "tests/app/dialogs/DialogFixture.h"

#include "app/dialogs/Dialogs.h"
#include "app/dialogs/LevelDialog.h"
#include "box/Level.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"

#include <QCoreApplication>
#include <QImage>
#include <QPushButton>

using namespace app::dialogs;

namespace {

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

class LevelDialogTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        box::levelRunning = 1; // as the level command leaves it before the dialog opens
        box::levelExit = 0;
    }
    void TearDown() override
    {
        box::levelDialogCancel();
        DialogTest::TearDown();
    }
};

} // namespace

TEST_F(LevelDialogTest, ButtonsFollowStartStopAndALimitedSeries)
{
    LevelDialog d;
    saveShot(d, "159-pegel");
    d.show();
    auto* start = control<QPushButton>(d, 1191);
    auto* stop = control<QPushButton>(d, 1189);
    EXPECT_EQ(box::levelDialogOpen, 1);
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(start->isEnabled());

    stop->click();
    EXPECT_EQ(box::levelRunning, 0);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());

    start->click();
    EXPECT_EQ(box::levelRunning, 1);
    // A limited series ends by itself: the buttons stay until the user presses Stop.
    box::levelRunning = 0;
    QCoreApplication::processEvents();
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    stop->click();
    EXPECT_TRUE(start->isEnabled());
}

TEST_F(LevelDialogTest, AbbrechenAndEscapeEndTheWorker)
{
    {
        LevelDialog d;
        d.show();
        control<QPushButton>(d, 1190)->click();
        EXPECT_EQ(box::levelRunning, 0);
        EXPECT_EQ(box::levelExit, 1);
        EXPECT_EQ(box::levelDialogOpen, 0);
        EXPECT_FALSE(d.isVisible());
    }
    repaintLevelDialog(); // closed: nothing to do

    box::levelRunning = 1;
    box::levelExit = 0;
    LevelDialog d;
    d.show();
    d.reject();
    EXPECT_EQ(box::levelExit, 1);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(LevelDialogTest, AxesFollowRateAndLevelScale)
{
    core::settings().sampleRate = 1;
    core::displaySettings().axisSets[5].y = 46;
    LevelAxes a = levelAxes();
    EXPECT_DOUBLE_EQ(a.minHz, 3.0);
    EXPECT_DOUBLE_EQ(a.maxHz, 2500.0);
    EXPECT_DOUBLE_EQ(a.levelMax, 0.0);
    EXPECT_EQ(a.unitText, "[dB]");
    core::settings().sampleRate = 2;
    core::displaySettings().axisSets[5].y = 27;
    a = levelAxes();
    EXPECT_DOUBLE_EQ(a.minHz, 25.0);
    EXPECT_DOUBLE_EQ(a.maxHz, 20000.0);
    EXPECT_EQ(a.unitText, "[dBSPL]");
}

TEST_F(LevelDialogTest, ReadoutTurnsRedAboveTheAxisMaximum)
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

    // Moving the dialog repaints what it uncovered in the main and zoom windows.
    const int before = ui.repaintCount(core::RepaintTarget::MainWindow);
    d.move(d.pos() + QPoint(40, 30));
    QCoreApplication::processEvents();
    EXPECT_GT(ui.repaintCount(core::RepaintTarget::MainWindow), before);
    EXPECT_GT(ui.repaintCount(core::RepaintTarget::ZoomWindow), 0);
}
