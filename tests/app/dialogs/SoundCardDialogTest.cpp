// "Soundkarte…": the settings it shows and stores, and its Test on a real audio server loop.
#include "DialogFixture.h"

#include "app/dialogs/SoundCardDialog.h"
#include "box/PortAccess.h"
#include "core/SettingsStore.h"
#include "tests/support/AudioServer.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <cstdlib>

using app::dialogs::SoundCardDialog;

TEST_F(DialogTest, SoundCardDialogStoresWhatItShows)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    box::SoundCardConfig c;
    c.deviceRateHz = 96000;
    c.channel = {3, 1, 4, 0};
    c.timingChannel = 2;
    c.outputLevelDbfs = -20.0;
    c.fullScaleVolts = {2.5, 0.1, 1.6, 1.6};
    c.inputDevice = "Nicht angeschlossen";
    box::saveSoundCardConfig(store, c);
    store.setValue("PortDriver", "soundcard");

    int releases = 0;
    SoundCardDialog dialog(nullptr, [&] { ++releases; });
    EXPECT_EQ(dialog.driver(), box::PortDriver::SoundCard);
    const box::SoundCardConfig shown = dialog.config();
    EXPECT_EQ(shown.deviceRateHz, 96000);
    EXPECT_EQ(shown.channel, c.channel);
    EXPECT_EQ(shown.timingChannel, 2);
    EXPECT_DOUBLE_EQ(shown.outputLevelDbfs, -20.0);
    EXPECT_DOUBLE_EQ(shown.fullScaleVolts[0], 2.5);
    // A device that is missing now stays chosen, so OK doesn't lose it.
    EXPECT_EQ(shown.inputDevice, "Nicht angeschlossen");

    dialog.findChild<QSpinBox*>(QStringLiteral("channel1"))->setValue(5);
    dialog.findChild<QSpinBox*>(QStringLiteral("timingChannel"))->setValue(0);
    dialog.store();
    const box::SoundCardConfig back = box::loadSoundCardConfig(store);
    EXPECT_EQ(back.channel[0], 5);
    EXPECT_EQ(back.timingChannel, 0);
    EXPECT_EQ(back.inputDevice, "Nicht angeschlossen");
    EXPECT_EQ(store.value("PortDriver").value_or(""), "soundcard");

    // The test of a missing device says so, and releases the program's own device first.
    dialog.runTest();
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("testResult"))
                    ->text()
                    .contains(QStringLiteral("Nicht angeschlossen")));
    core::setSettingsStore(nullptr);
}

TEST_F(DialogTest, SoundCardDialogTestOnTheLoop)
{
    testsupport::AudioServer server;
    std::string why;
    const std::string folder = testsupport::makeTempDir();
    if (!server.start(folder, why)) {
        if (testsupport::audioRequired())
            FAIL() << why;
        GTEST_SKIP() << why;
    }
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    box::SoundCardConfig c;
    c.timingChannel = 2;
    box::saveSoundCardConfig(store, c);
    store.setValue("PortDriver", "soundcard");
    SoundCardDialog dialog(nullptr, {});
    dialog.show();
    dialog.runTest();
    const QString result = dialog.findChild<QLabel*>(QStringLiteral("testResult"))->text();
    // Both channels of the loop hear the MLS at its level (-10 dBFS, a little more at the
    // band-limited sequence's peaks), nothing clips, and the latency is measured.
    EXPECT_TRUE(result.contains(QStringLiteral("Kanal 1 (Line1, Mic.): Spitze"))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("Kanal 2 (Line2, Zeitreferenz): Spitze")))
        << result.toStdString();
    EXPECT_FALSE(result.contains(QStringLiteral("übersteuert"))) << result.toStdString();
    EXPECT_TRUE(result.contains(QStringLiteral("Gemessene Latenz"))) << result.toStdString();
    saveShot(dialog, "soundcard-test");

    dialog.runLatencyCalibration();
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("latency"))
                    ->text()
                    .startsWith(QStringLiteral("Kalibrierte Latenz")));
    const int frames = dialog.config().calibratedLatencyFrames;
    EXPECT_GE(frames, 0);
    dialog.store();
    EXPECT_EQ(box::loadSoundCardConfig(store).calibratedLatencyFrames, frames);
    core::setSettingsStore(nullptr);
}
