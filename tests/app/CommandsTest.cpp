// The command table: every id reaches its operation, the view rules, the rate
// preconditions, the load outcomes and the zoom window's commands.
#include "app/Commands.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/app/HookOperations.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace
{

using app::cmd::Zoom;

class CommandsTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        app::resetShell();
        app::setOperations(&ops);
        testsupport::HookOperations::Hooks& op = ops.on;
        auto rec = [this](std::string name) { return [this, name] { calls.push_back(name); }; };
        op.runReferenceMeasurement = rec("reference");
        op.runAmplitudePhaseMeasurement = rec("amplitudePhase");
        op.runImpedanceMeasurement = rec("impedance");
        op.measureTsParameters = rec("ts");
        op.startLevelMeasurement = rec("level");
        op.computeWaterfall = [this](int n) { calls.push_back("waterfall " + std::to_string(n)); };
        op.renderView = [this](int c) { calls.push_back("render " + std::to_string(c)); };
        op.loadMeasurementFile = [this] {
            calls.push_back("loadMes");
            return outcome;
        };
        op.importVersion133 = [this] {
            calls.push_back("import133");
            return outcome;
        };
        op.importVersion21 = [this] {
            calls.push_back("import21");
            return outcome;
        };
        op.saveMeasurementFile = rec("saveMes");
        op.loadConfigurationFile = [this] {
            calls.push_back("loadCfg");
            return configOk;
        };
        op.saveConfigurationFile = rec("saveCfg");
        op.exportData = [this](app::Export e) {
            calls.push_back("export " + std::to_string(static_cast<int>(e)));
        };
        op.importMicFile = rec("mic");
        op.runDialog = [this](app::Dialog d) {
            calls.push_back("dialog " + std::to_string(static_cast<int>(d)));
        };
        op.invalidateMain = rec("invalidateMain");
        op.invalidateZoom = rec("invalidateZoom");
        op.repaintMainNow = rec("repaintMain");
        op.repaintZoomNow = rec("repaintZoom");
        op.createZoomWindow = rec("createZoom");
        op.destroyZoomWindow = rec("destroyZoom");
        op.setZoomButton = [this](bool b) { calls.push_back(b ? "press" : "release"); };
        op.printerSetup = rec("printerSetup");
        op.printView = [this](int k) { calls.push_back("print " + std::to_string(k)); };
        op.showHelp = [this](const std::string& k) { calls.push_back("help " + k); };
        op.closeMainWindow = rec("close");
    }
    void TearDown() override
    {
        app::setOperations(nullptr);
        RecordsTest::TearDown();
    }
    std::vector<std::string> run(int id)
    {
        calls.clear();
        EXPECT_TRUE(app::dispatchCommand(id)) << id;
        return calls;
    }

    testsupport::HookOperations ops;
    std::vector<std::string> calls;
    files::LoadOutcome outcome = files::LoadOutcome::Loaded;
    bool configOk = true;
};

using V = std::vector<std::string>;

TEST_F(CommandsTest, EveryOperationCommandReachesItsOperation)
{
    core::settings().sampleRate = 2;
    const std::map<int, V> expected = {
        {40001, {"reference"}},
        {40035, {"reference"}},
        {40002, {"amplitudePhase"}},
        {40048, {"amplitudePhase"}},
        {40003, {"impedance"}},
        {40036, {"impedance"}},
        {40004, {"ts"}},
        {40037, {"ts"}},
        {40093, {"level"}},
        {40098, {"level"}},
        {40011, {"saveMes"}},
        {40082, {"saveCfg"}},
        {40084, {"export 0"}},
        {40085, {"export 1"}},
        {40114, {"export 2"}},
        {40116, {"export 3"}},
        {40117, {"export 4"}},
        {40118, {"export 5"}},
        {40119, {"export 6"}},
        {40086, {"mic"}},
        {40042, {"printerSetup"}},
        {40044, {"print 1"}},
        {40045, {"print 2"}},
        {40083, {"print 3"}},
        {40046, {"print 4"}},
        {40108, {"print 5"}},
        {40109, {"print 6"}},
        {40124, {"print 7"}},
        {40128, {"print 8"}},
        {40132, {"print 11"}},
        {41023, {"print 9"}},
        {40033, {"dialog 122"}},
        {40032, {"dialog 123"}},
        {40103, {"dialog 124"}},
        {40104, {"dialog 126"}},
        {40105, {"dialog 153"}},
        {40031, {"dialog 146"}},
        {40134, {"dialog 170"}},
        {40135, {"dialog 170"}},
        {40087, {"help "}},
        {40079, {"close"}},
    };
    for (const auto& [id, want] : expected)
        EXPECT_EQ(run(id), want) << id;
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(CommandsTest, ViewCommandsShowTheirViewFromToolbarAndMenu)
{
    const std::map<int, int> views = {
        {40005, 1}, {40038, 1}, {40006, 2}, {40039, 2}, {40126, 8},  {40127, 8},
        {40052, 4}, {40040, 4}, {40110, 3}, {40111, 3}, {40130, 11}, {40131, 11},
        {40090, 5}, {40100, 5}, {40097, 6}, {40101, 6}, {40121, 7},  {40122, 7},
        {41021, 9}, {41022, 9},
    };
    for (const auto& [id, view] : views) {
        app::shell().currentView = 0;
        EXPECT_EQ(run(id), V{"invalidateMain"}) << id;
        EXPECT_EQ(app::shell().currentView, view) << id;
    }
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(app::dispatchCommand(40000));
    EXPECT_FALSE(app::dispatchCommand(40072)); // a zoom-window id is not a main-window command
}

TEST_F(CommandsTest, OverlayViewTwiceAsksToClearOldMeasurements)
{
    core::store().slotOccupied = {1, 1, 1, 0, 1};
    run(40121); // from view 0: no question
    EXPECT_TRUE(ui.messages().empty());

    ui.queueAnswer(core::Answer::No);
    EXPECT_EQ(run(40122), V{"invalidateMain"});
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Alte Messungen löschen?");
    EXPECT_EQ(ui.messages()[0].caption, "Amplitudenfrequenzgang (5 überlagert)");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Question);
    EXPECT_EQ(ui.messages()[0].buttons, core::Buttons::YesNo);
    EXPECT_EQ(core::store().slotOccupied[0], 1);

    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(run(40121), (V{"render 20", "render 40", "invalidateMain"}));
    EXPECT_EQ(core::store().slotOccupied, (std::array<int, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(app::shell().currentView, 7);
}

TEST_F(CommandsTest, WaterfallOnlyAt51kHzWithTheRecordsLength)
{
    core::settings().sampleRate = 1;
    app::shell().currentView = 2;
    EXPECT_TRUE(run(40088).empty());
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(84));
    EXPECT_EQ(ui.messages()[0].caption, " ");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Information);
    EXPECT_EQ(app::shell().currentView, 2);

    core::settings().sampleRate = 2;
    core::settings().fftLength = 512;
    core::store().timeRecord.stamp(2048, 2);
    EXPECT_EQ(run(40099), (V{"waterfall 2048", "render 6", "invalidateMain", "repaintMain"}));
    EXPECT_EQ(app::shell().currentView, 6);

    // A trailer from a foreign file never reaches the computation as a bad length.
    core::store().timeRecord.stamp(7, 2);
    EXPECT_EQ(run(40088)[0], "waterfall 512");
}

TEST_F(CommandsTest, LevelMeasurementNotAt32kHz)
{
    core::settings().sampleRate = 3;
    EXPECT_TRUE(run(40093).empty());
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(115));
    EXPECT_EQ(ui.messages()[0].caption, "");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    core::settings().sampleRate = 1;
    EXPECT_EQ(run(40098), V{"level"});
}

TEST_F(CommandsTest, LoadOutcomes)
{
    core::snapshot().averages = 7;
    core::settings().averages = 1;
    app::shell().zoomOpen = 1;
    for (int id : {40010, 40125, 40136}) {
        outcome = files::LoadOutcome::Loaded;
        const V c = run(id);
        ASSERT_EQ(c.size(), 4u) << id;
        EXPECT_EQ(c[1], "render 100");
        EXPECT_EQ(c[2], "invalidateMain");
        EXPECT_EQ(c[3], "invalidateZoom");
        EXPECT_EQ(core::settings().averages, 7); // snapshot restored

        outcome = files::LoadOutcome::Cancelled;
        EXPECT_EQ(run(id).size(), 1u);
        EXPECT_TRUE(ui.messages().empty());

        outcome = files::LoadOutcome::Failed;
        EXPECT_EQ(run(id).size(), 1u);
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_EQ(ui.messages()[0].text, "Fehler beim lesen der Datei");
        EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
        ui.clear();
    }
    configOk = false;
    run(40081);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(116));
}

// A configuration saved at a station with the 3.2 kHz box must not bring that rate to a box
// without it; with the 3.2 kHz box, or at another rate, the file's rate stays unannounced.
TEST_F(CommandsTest, LoadedConfigurationKeepsToTheRatesOfTheBox)
{
    int fileRate = 3;
    ops.on.loadConfigurationFile = [&fileRate] {
        core::settings().sampleRate = fileRate;
        return true;
    };
    core::threeKilohertzAllowed = 0;
    run(40081);
    EXPECT_EQ(core::settings().sampleRate, 2);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(120));
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    ui.clear();

    fileRate = 1;
    run(40081);
    EXPECT_EQ(core::settings().sampleRate, 1);
    EXPECT_TRUE(ui.messages().empty());

    fileRate = 3;
    core::threeKilohertzAllowed = 1;
    run(40081);
    EXPECT_EQ(core::settings().sampleRate, 3);
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(CommandsTest, TsResultTextBoxConvertsTheStoredText)
{
    core::setTsResultText("Vas = 40 dm\xB3"); // Windows-1252 superscript three
    run(40054);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Vas = 40 dm³");
    EXPECT_EQ(ui.messages()[0].caption, "Thiele Small Parameter");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Information);
}

TEST_F(CommandsTest, MissingOperationIsReportedNotSilent)
{
    ops.on.runReferenceMeasurement = nullptr;
    run(40001);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_NE(ui.messages()[0].text.find("Referenzmessung"), std::string::npos);
}

TEST_F(CommandsTest, ZoomButtonOpensOnceAndPressesUnlessTimeWindow)
{
    app::shell().timeWindowMode = 0;
    EXPECT_EQ(run(Zoom), (V{"createZoom", "press"}));
    EXPECT_EQ(app::shell().zoomOpen, 1);
    EXPECT_EQ(run(Zoom), V{"press"});
    app::shell().timeWindowMode = 1;
    app::shell().zoomFollow = 0;
    EXPECT_TRUE(run(Zoom).empty());
    EXPECT_EQ(app::shell().zoomFollow, 0);
}

TEST_F(CommandsTest, ZoomMenuCommandsAndMarks)
{
    using namespace app::cmd;
    app::ShellState& s = app::shell();
    s.zoomOpen = 1;
    EXPECT_TRUE(app::dispatchZoomCommand(ZoomAmpImp));
    EXPECT_EQ(s.zoomView, 3);
    EXPECT_EQ(s.timeWindowMode, 0);
    auto m = app::zoomMenuMarks();
    EXPECT_EQ(m.checkedView, ZoomAmpImp);
    EXPECT_FALSE(m.timeWindowEnabled);
    EXPECT_EQ(m.checkedX, ZoomX4);
    EXPECT_EQ(m.checkedY, ZoomY4);

    app::dispatchZoomCommand(ZoomTime);
    app::dispatchZoomCommand(ZoomTimeWindow);
    m = app::zoomMenuMarks();
    EXPECT_TRUE(m.timeWindowEnabled);
    EXPECT_TRUE(m.timeWindowChecked);
    EXPECT_EQ(m.checkedX, 0); // factor items unchecked in time-window mode

    app::dispatchZoomCommand(ZoomX2);
    app::dispatchZoomCommand(ZoomY1);
    EXPECT_EQ(s.timeWindowMode, 0);
    EXPECT_EQ(s.fixedFactorX, 2);
    EXPECT_EQ(s.fixedFactorY, 1);
    m = app::zoomMenuMarks();
    EXPECT_EQ(m.checkedX, ZoomX2);
    EXPECT_EQ(m.checkedY, ZoomY1);

    calls.clear();
    app::dispatchZoomCommand(ZoomHelp);
    EXPECT_EQ(calls, (V{"help Fenster Zoom", "repaintZoom"}));
    calls.clear();
    app::dispatchZoomCommand(ZoomClose);
    EXPECT_EQ(calls, (V{"release", "destroyZoom"}));
    EXPECT_EQ(s.zoomOpen, 0);
    EXPECT_FALSE(app::dispatchZoomCommand(40010));
}

// The two switches of the distortion view: each flips its choice, draws view 9 anew and shows
// it; their check marks follow the choice, and no other id is a switch.
TEST_F(CommandsTest, DistortionSwitchesRedrawAndShowTheView)
{
    using namespace app::cmd;
    EXPECT_EQ(app::menuCheck(ShowHigherHarmonics), 0);
    EXPECT_EQ(app::menuCheck(ShowThdInstead), 0);
    EXPECT_EQ(app::menuCheck(ShowDistortion), -1);
    EXPECT_EQ(app::menuCheck(ShowAmplitude), -1);

    EXPECT_EQ(run(ShowHigherHarmonics), (V{"render 9", "invalidateMain"}));
    EXPECT_EQ(app::shell().currentView, 9);
    EXPECT_EQ(app::menuCheck(ShowHigherHarmonics), 1);
    EXPECT_TRUE(core::displaySettings().showHigherHarmonics);
    run(ShowThdInstead);
    EXPECT_EQ(app::menuCheck(ShowThdInstead), 1);
    run(ShowThdInstead);
    EXPECT_EQ(app::menuCheck(ShowThdInstead), 0);
    EXPECT_EQ(app::menuCheck(ShowHigherHarmonics), 1);

    EXPECT_TRUE(app::dispatchZoomCommand(ZoomDistortion));
    EXPECT_EQ(app::shell().zoomView, 9);
    EXPECT_EQ(app::zoomMenuMarks().checkedView, ZoomDistortion);

    EXPECT_TRUE(app::isDiagramView(9));
    EXPECT_TRUE(app::isDiagramView(11));
    EXPECT_FALSE(app::isDiagramView(0));
    EXPECT_FALSE(app::isDiagramView(10));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(CommandsTest, ZoomFactorsAndTitles)
{
    app::ShellState& s = app::shell();
    // Time-window mode over the whole axis: 12000 / 10000.
    s.zoomView = 1;
    s.timeWindowMode = 1;
    app::ZoomGeometry g = app::zoomGeometry(300, 200);
    EXPECT_FLOAT_EQ(g.factorX, 1.2f);
    EXPECT_FLOAT_EQ(g.factorY, 1.0f);
    EXPECT_EQ(g.originX, 45); // 300 * 1500 / 12000 * 1.2: the plot starts at the left edge
    EXPECT_EQ(g.originY, 0);
    EXPECT_EQ(g.targetWidth, 360);
    EXPECT_EQ(app::zoomTitle(), "ZOOM   Zeitsignal (X - Faktor:1.2; Y - Faktor=1.0)");

    // The window spans M1..M2 exactly: M1 maps to x 0, M2 to the width.
    core::settings().markerPos = {2000, 6000};
    g = app::zoomGeometry(300, 200);
    EXPECT_FLOAT_EQ(g.factorX, 3.0f);
    EXPECT_EQ(g.originX, static_cast<int>(300.0 * 3500 / 12000 * 3));
    EXPECT_NEAR(300.0 * (6000 + 1500) / 12000 * 3 - g.originX, 300.0, 1.0);

    // Equal or reversed markers (from a file) show the whole time axis.
    core::settings().markerPos = {5000, 5000};
    g = app::zoomGeometry(300, 200);
    EXPECT_FLOAT_EQ(g.factorX, 1.2f);
    core::settings().markerPos = {6000, 2000};
    g = app::zoomGeometry(300, 200);
    EXPECT_FLOAT_EQ(g.factorX, 1.2f);

    // Fixed factors around the centre.
    s.zoomView = 3;
    s.zoomCenter = {6000, 6000};
    g = app::zoomGeometry(300, 200);
    EXPECT_FLOAT_EQ(g.factorX, 4.0f);
    EXPECT_EQ(g.originX, 450); // 0.5 * 300 * 4 - 150
    EXPECT_EQ(g.originY, 300);
    EXPECT_EQ(app::zoomTitle(), "ZOOM   Phasenfrequenzgang (X - Faktor:4.0; Y - Faktor=4.0)");
    s.zoomView = 8;
    EXPECT_EQ(app::zoomTitle(),
              "ZOOM   Amplitudenfrequenzgang (Summe) (X - Faktor:4.0; Y - Faktor=4.0)");
}

} // namespace
