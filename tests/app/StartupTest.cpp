// Start-up order, the settings store on the first and later starts, the port driver and the
// hardware-number rule.
#include "app/Startup.h"
#include "app/Commands.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace {

class StartupTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        app::resetShell();
        core::setSettingsStore(&store);
        hooks.prepareWindow = [this] { steps.push_back("window"); };
        hooks.openPort = [this](const std::string& driver, int port) {
            steps.push_back("port " + driver + " " + std::to_string(port));
            return portResult;
        };
        hooks.createBars = [this] { steps.push_back("bars"); };
        hooks.choosePrinter = [this] {
            steps.push_back("printer");
            // The records are prepared after the printer and before the store is read.
            EXPECT_EQ(core::store().overlayAxisIndex, 0);
        };
        hooks.documentsFolder = [this] {
            steps.push_back("documents");
            return std::string("/home/user/Dokumente");
        };
        hooks.readHardwareNumber = [this] {
            steps.push_back("hardware");
            EXPECT_EQ(core::settings().method, 1);
            return hardwareNumber;
        };
        hooks.renderView = [this](int code) { steps.push_back("render " + std::to_string(code)); };
    }
    void TearDown() override
    {
        core::setSettingsStore(nullptr);
        RecordsTest::TearDown();
    }

    core::MemorySettingsStore store;
    app::StartupHooks hooks;
    std::vector<std::string> steps;
    app::PortOpenResult portResult;
    int hardwareNumber = 9;
};

using V = std::vector<std::string>;

TEST_F(StartupTest, FirstStartWritesPfadWithoutMessages)
{
    const app::StartupResult r = app::runStartup(hooks);
    EXPECT_EQ(steps, (V{"window", "port auto 1", "bars", "printer", "documents", "hardware",
                        "render 100"}));
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(store.value("Pfad"), "/home/user/Dokumente");
    EXPECT_EQ(store.value("LPT_PORT"), "1");
    EXPECT_EQ(store.value("PortDriver"), "auto");
    EXPECT_EQ(core::installFolder, "/home/user/Dokumente");
    EXPECT_EQ(r.title, "OrvoPro");
    EXPECT_EQ(core::settings().method, 1);
    EXPECT_EQ(core::threeKilohertzAllowed, 1);
    EXPECT_EQ(core::store().overlayAxisIndex, -1);
}

TEST_F(StartupTest, LaterStartReadsStoreAndReportsMissingPort)
{
    store.setValue("Pfad", "/data/orvo");
    store.setValue("LPT_PORT", "2");
    store.setValue("PortDriver", "ppdev");
    app::runStartup(hooks);
    EXPECT_EQ(steps[1], "port ppdev 2");
    EXPECT_EQ(core::settings().parallelPort, 2);
    EXPECT_EQ(core::installFolder, "/data/orvo");
    EXPECT_TRUE(ui.messages().empty());

    core::resetSettings();
    core::resetStore();
    core::MemorySettingsStore other;
    other.setValue("Pfad", "/data/orvo");
    other.setValue("LPT_PORT", "9"); // not a port
    core::setSettingsStore(&other);
    app::runStartup(hooks);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "LPT_Port (HKEY)");
    EXPECT_EQ(ui.messages()[0].caption, "ERROR");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    EXPECT_EQ(core::settings().parallelPort, 1);
}

TEST_F(StartupTest, HardwareOtherThanNineForbids32kHzOnce)
{
    store.setValue("Pfad", "/x");
    store.setValue("LPT_PORT", "1");
    core::settings().sampleRate = 3;
    hardwareNumber = 7;
    app::runStartup(hooks);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, core::str(120));
    EXPECT_EQ(ui.messages()[0].caption, "");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    EXPECT_EQ(core::settings().sampleRate, 2);
    EXPECT_EQ(core::threeKilohertzAllowed, 0);
}

TEST_F(StartupTest, InitialScalesFollowTheRate)
{
    store.setValue("Pfad", "/x");
    store.setValue("LPT_PORT", "1");
    core::settings().sampleRate = 2;
    app::runStartup(hooks);
    const auto& a = core::displaySettings().axisSets;
    EXPECT_EQ(a[0].x, 1);
    EXPECT_EQ(a[1].x, 10);
    EXPECT_EQ(a[2].x, 10);
}

TEST_F(StartupTest, SimulatorAndFailedDriverAreShownPlainly)
{
    store.setValue("Pfad", "/x");
    store.setValue("LPT_PORT", "1");
    portResult.simulator = true;
    app::StartupResult r = app::runStartup(hooks);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(r.title, "OrvoPro - Simulierte Messbox");
    EXPECT_EQ(r.statusTitle, "Simulierte Messbox");
    EXPECT_TRUE(app::shell().simulator);

    store.setValue("PortDriver", "ppdev");
    portResult.ok = false;
    portResult.simulator = false;
    portResult.detail = "/dev/parport0: Permission denied";
    core::resetStore();
    r = app::runStartup(hooks);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_NE(ui.messages()[0].text.find("/dev/parport0: Permission denied"), std::string::npos);
    EXPECT_NE(ui.messages()[0].text.find("ppdev"), std::string::npos);
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    EXPECT_EQ(r.title, "OrvoPro - kein Parallelport");
    EXPECT_FALSE(app::shell().simulator);
}

} // namespace
