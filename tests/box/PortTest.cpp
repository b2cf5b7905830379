// Port back-ends and their selection; ppdev only as far as it can be tried without hardware.
#include "box/PpdevPort.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Ui.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(PortAccess, BaseAddressesAndDevicePaths)
{
    EXPECT_EQ(box::portBase(1), 0x378);
    EXPECT_EQ(box::portBase(2), 0x278);
    EXPECT_EQ(box::portBase(3), 0x3BC);
    EXPECT_EQ(box::portBase(4), 0x2BC);
    EXPECT_EQ(box::portBase(0), 0x3BC);
    EXPECT_EQ(box::portBase(-5), 0x3BC);
    EXPECT_EQ(box::ppdevPath(1), "/dev/parport0");
    EXPECT_EQ(box::ppdevPath(2), "/dev/parport1");
    EXPECT_EQ(box::ppdevPath(3), "/dev/parport2");
}

TEST(PortAccess, MissingDeviceGivesAClearError)
{
    std::string error;
    auto p = box::PpdevPort::open("/dev/orvo-no-such-parport", error);
    EXPECT_EQ(p, nullptr);
    EXPECT_NE(error.find("/dev/orvo-no-such-parport"), std::string::npos);
    EXPECT_NE(error.find("geöffnet"), std::string::npos);

    // A file that opens but is no parallel port cannot be claimed.
    p = box::PpdevPort::open("/dev/null", error);
    EXPECT_EQ(p, nullptr);
    EXPECT_NE(error.find("belegt"), std::string::npos);
}

TEST(PortAccess, DriverSelection)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    const bool haveParport = std::filesystem::exists(box::ppdevPath(1));

    store.setValue("PortDriver", "simulator");
    auto sel = box::openConfiguredPort(2);
    EXPECT_TRUE(sel.simulated);
    EXPECT_TRUE(sel.error.empty());
    auto* simBox = dynamic_cast<box::sim::SimulatedBox*>(sel.port.get());
    ASSERT_NE(simBox, nullptr);

    if (!haveParport) {
        store.setValue("PortDriver", "ppdev");
        sel = box::openConfiguredPort(1);
        EXPECT_FALSE(sel.simulated);
        EXPECT_NE(sel.error.find("/dev/parport0"), std::string::npos);
        ASSERT_NE(sel.port, nullptr);
        EXPECT_EQ(sel.port->in(0x379), 0xFF);

        store.setValue("PortDriver", "auto");
        sel = box::openConfiguredPort(1);
        EXPECT_TRUE(sel.simulated);
        EXPECT_TRUE(sel.error.empty());
    }
    core::setSettingsStore(nullptr);
    EXPECT_EQ(box::configuredPortDriver(), box::PortDriver::Auto);
}

// The window's simulated bench does what the user says was done: the values of the settings,
// and at the "Zusatzmasse ..." prompt the mass or the box, as the user answers.
TEST(PortAccess, TheWindowsSimulatedBenchFollowsTheSettings)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    core::ScriptedUi ui;
    core::setUi(&ui);
    store.setValue("PortDriver", "simulator");
    auto sel = box::openConfiguredPort(1);
    auto* simBox = dynamic_cast<box::sim::SimulatedBox*>(sel.port.get());
    ASSERT_NE(simBox, nullptr);
    auto& s = core::settings();
    s.addedMassG = 20.0f;
    s.boxVolumeL = 15.0f;
    s.referenceResistorOhm = 10.0f;
    s.diaphragmDiameterMm = 130.0f;

    simBox->wiringConfirmed(22);
    EXPECT_DOUBLE_EQ(simBox->bench().referenceResistorOhm, 10.0);
    EXPECT_DOUBLE_EQ(simBox->bench().diaphragmDiameterMm, 130.0);
    EXPECT_TRUE(ui.messages().empty());

    ui.queueAnswer(core::Answer::Yes);
    simBox->wiringConfirmed(103);
    EXPECT_DOUBLE_EQ(simBox->bench().addedMassG, 20.0);
    EXPECT_DOUBLE_EQ(simBox->bench().closedBoxL, 0.0);
    EXPECT_TRUE(simBox->bench().massOrBoxApplied);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_NE(ui.messages()[0].text.find("20,00 g"), std::string::npos);

    simBox->procedureEnded();
    ui.queueAnswer(core::Answer::No);
    simBox->wiringConfirmed(103);
    EXPECT_DOUBLE_EQ(simBox->bench().closedBoxL, 15.0);

    core::setUi(nullptr);
    core::resetSettings();
    core::setSettingsStore(nullptr);
}
