// The mouse over the diagrams: read-out strings, marker grabbing and dragging, cursors.
#include "app/Mouse.h"
#include "app/Commands.h"
#include "core/Display.h"
#include "core/Strings.h"
#include "core/Settings.h"
#include "tests/app/HookOperations.h"
#include "tests/support/TestSupport.h"

#include <map>

namespace
{

// A 1200 x 1200 diagram rectangle: logical X = 10 x, Y = 10 (1200 - y), so plot
// coordinates are px = 10 x - 1500, py = 11000 - 10 y.
const app::DiagramRect kRect{0, 0, 1200, 1200};
int xFor(int px)
{
    return (px + 1500) / 10;
}
int yFor(int py)
{
    return (11000 - py) / 10;
}

class MouseTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        app::resetShell();
        ops.on.renderView = [this](int code) { renders.push_back(code); };
        app::setOperations(&ops);
        auto& sets = core::displaySettings().axisSets;
        for (int f = 0; f < 7; ++f) {
            sets[f].x = 100 + f;
            sets[f].y = 200 + f;
        }
        const std::map<int, app::AxisScale> scales = {
            {100, {0, 80, "ms"}},   {200, {-1, 1, "V"}},       {101, {20, 20000, "Hz"}},
            {201, {-40, 40, "dB"}}, {202, {-180, 180, "Deg"}}, {103, {10, 1000, "Hz"}},
            {203, {0, 100, "Ohm"}}, {204, {-90, 90, "Deg"}},   {105, {20, 20000, "Hz"}},
            {205, {0, 100, "dB"}},
        };
        app::setScaleLookup([scales](int i, app::AxisScale& out) {
            const auto it = scales.find(i);
            if (it == scales.end())
                return false;
            out = it->second;
            return true;
        });
    }
    void TearDown() override
    {
        app::setScaleLookup(nullptr);
        app::setOperations(nullptr);
        RecordsTest::TearDown();
    }
    std::string moveTo(int px, int py)
    {
        app::onMouseMove(kRect, 0, xFor(px), yFor(py));
        const auto s = ui.status(0);
        return s.empty() ? "" : s.back();
    }
    testsupport::HookOperations ops;
    std::vector<int> renders;
};

// The distortion view reads its own axes (the harmonics' dB and the fundamental's, or the THD),
// not the amplitude family's; outside the plot it says there is no diagram there.
TEST_F(MouseTest, DistortionViewReadsItsOwnAxes)
{
    app::shell().currentView = 9;
    EXPECT_EQ(moveTo(5000, 6000), "Wert (X|Y): 632.46[Hz] | -40.00[dB] | -40.00[dB]");
    core::displaySettings().showThdInsteadOfHarmonics = true;
    EXPECT_EQ(moveTo(5000, 5000), "Wert (X|Y): 632.46[Hz] | 1.000[%] | -50.00[dB]");
    app::onMouseMove(kRect, 0, 5, 5);
    EXPECT_EQ(ui.status(0).back(), core::str(1));
}

TEST_F(MouseTest, ReadOutPerViewAndFlags)
{
    auto& d = core::displaySettings();
    app::shell().currentView = 1;
    EXPECT_EQ(moveTo(5000, 5000), "Wert (X|Y): 40.00ms | 0.00000V");

    app::shell().currentView = 2;
    d.showAmplitude = 1;
    d.showPhase = 0;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 632.46Hz | 20.00dB");
    d.showAmplitude = 0;
    d.showPhase = 1;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 632.46Hz | 90.00Deg");
    d.showAmplitude = 1;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 632.46Hz | 20.00dB | 90.00Deg");
    app::shell().currentView = 8;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 632.46Hz | 20.00dB | 90.00Deg");

    app::shell().currentView = 3;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 632.46Hz | 20.00dB | 75.00Ohm");

    app::shell().currentView = 4;
    d.showImpedance = 1;
    d.showImpedancePhase = 0;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 100.00Hz | 75.00Ohm");
    d.showImpedance = 0;
    d.showImpedancePhase = 1;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 100.00Hz  | 45.00Deg");
    d.showImpedance = 1;
    EXPECT_EQ(moveTo(5000, 7500), "Wert (X|Y): 100.00Hz | 75.00Ohm | 45.00Deg");

    app::shell().currentView = 5;
    EXPECT_EQ(moveTo(0, 10000), "Wert (X|Y): 20.00Hz | 100.00dB");

    app::shell().currentView = 6;
    EXPECT_EQ(moveTo(5000, 5000), "Wasserfalldiagramm (CSD)");
    app::shell().currentView = 11;
    EXPECT_EQ(moveTo(5000, 5000), "Zeitdaten, Amplituden-, Impedanzfrequenzgang ");
    app::shell().currentView = 0;
    EXPECT_EQ(moveTo(5000, 5000), "Kein Diagramm");
    app::shell().currentView = 2;
    EXPECT_EQ(moveTo(-200, 5000), "Kein Diagramm"); // left of the plot rectangle
}

TEST_F(MouseTest, MarkersAreGrabbedOnlyInTheirLabelBands)
{
    app::shell().currentView = 1;
    auto& s = core::settings();
    moveTo(100, 5000); // on M1's line, but below its label band
    app::onLeftButtonDown();
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{0, 0}));

    moveTo(9900, 9000); // M2's x, but M1's band
    app::onLeftButtonDown();
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{0, 0}));

    moveTo(9900, 8000);
    app::onLeftButtonDown();
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{0, 1}));
    app::onLeftButtonUp();

    moveTo(200, 9000);
    app::onLeftButtonDown();
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{1, 0}));
    EXPECT_EQ(app::cursorShape(true), app::CursorShape::MarkerDrag);
    app::onLeftButtonUp();
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{0, 0}));
    EXPECT_EQ(app::cursorShape(true), app::CursorShape::Default);
}

TEST_F(MouseTest, DraggingSnapsAtTheEdgesAndNeverCrosses)
{
    app::shell().currentView = 1;
    auto& s = core::settings();
    moveTo(100, 9000);
    app::onLeftButtonDown();
    moveTo(3000, 9000);
    EXPECT_EQ(s.markerPos[0], 3000);
    EXPECT_EQ(renders, std::vector<int>{1});
    moveTo(10, 9000); // within 20 of the left edge
    EXPECT_EQ(s.markerPos[0], 0);
    moveTo(3000, 9000);
    moveTo(10000, 9000); // onto M2: stays where it was
    EXPECT_EQ(s.markerPos[0], 3000);
    app::onLeftButtonUp();

    moveTo(9900, 8000);
    app::onLeftButtonDown();
    moveTo(9990, 8000);
    EXPECT_EQ(s.markerPos[1], 10000);
    moveTo(6000, 8000);
    EXPECT_EQ(s.markerPos[1], 6000);
    moveTo(3000, 8000); // onto M1
    EXPECT_EQ(s.markerPos[1], 6000);
    moveTo(2000, 8000); // past M1
    EXPECT_EQ(s.markerPos[1], 6000);

    // Leaving the plot ends the drag.
    app::onMouseMove(kRect, 0, 10, 600);
    EXPECT_EQ(ui.status(0).back(), "Kein Diagramm");
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{0, 0}));
    moveTo(7000, 8000);
    EXPECT_EQ(s.markerPos[1], 6000);
}

TEST_F(MouseTest, ZoomCentreFollowsWhilePressedAndClickReleases)
{
    auto& sh = app::shell();
    sh.zoomOpen = 1;
    sh.zoomFollow = 1;
    sh.zoomView = 2;
    sh.currentView = 2;
    bool released = false;
    ops.on.setZoomButton = [&](bool pressed) { released = !pressed; };
    app::onMouseMove(app::DiagramRect{0, 29, 800, 529}, 0, 400, 129);
    EXPECT_EQ(sh.zoomCenter[0], 6000);
    EXPECT_EQ(sh.zoomCenter[1], 129 * 12000 / 500 - 29 * 12000 / 500);
    EXPECT_EQ(app::cursorShape(true), app::CursorShape::ZoomSelect);
    app::onLeftButtonDown();
    EXPECT_TRUE(released);
    EXPECT_EQ(sh.zoomFollow, 0);
    app::onMouseMove(app::DiagramRect{0, 29, 800, 529}, 0, 0, 129);
    EXPECT_EQ(sh.zoomCenter[0], 6000);
}

} // namespace
