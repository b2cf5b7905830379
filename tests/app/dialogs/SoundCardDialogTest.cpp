// "Soundkarte…": the settings it shows and stores, and its Test on a real audio server loop.
#include "DialogFixture.h"

#include "app/dialogs/SoundCardDialog.h"
#include "box/PortAccess.h"
#include "core/SettingsStore.h"
#include "tests/support/AudioServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
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
    EXPECT_TRUE(result.contains(QStringLiteral("Kanal 1 (Line1, Mic.): Spitze")))
        << result.toStdString();
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

TEST_F(DialogTest, SoundCardDialogShowsTheBoxAutoHasGiven)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    store.setValue("PortDriver", "auto");
    auto checked = [](const SoundCardDialog& d, int id) {
        return app::dialogs::findControl<QRadioButton>(&d, id)->isChecked();
    };
    {
        // No port: the program runs on the simulated box, and the dialog says so.
        SoundCardDialog dialog(nullptr, {}, app::dialogs::AutoBox::Simulator);
        EXPECT_TRUE(checked(dialog, 3));
        EXPECT_FALSE(checked(dialog, 1));
        auto* note = dialog.findChild<QLabel*>(QStringLiteral("boxInUse"));
        EXPECT_FALSE(note->isHidden());
        EXPECT_TRUE(note->text().contains(QStringLiteral("simulierten Messbox")));
        saveShot(dialog, "soundcard-auto-simulated");
        // Keeping that choice keeps "auto", so a port plugged in later is taken.
        EXPECT_EQ(dialog.driver(), box::PortDriver::Auto);
        app::dialogs::findControl<QRadioButton>(&dialog, 1)->click();
        EXPECT_EQ(dialog.driver(), box::PortDriver::Ppdev);
    }
    {
        SoundCardDialog dialog(nullptr, {}, app::dialogs::AutoBox::ParallelPort);
        EXPECT_TRUE(checked(dialog, 1));
        EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("boxInUse"))->isHidden());
        EXPECT_EQ(dialog.driver(), box::PortDriver::Auto);
        app::dialogs::findControl<QRadioButton>(&dialog, 3)->click();
        EXPECT_EQ(dialog.driver(), box::PortDriver::Simulator);
    }
    core::setSettingsStore(nullptr);
}

TEST_F(DialogTest, SoundCardDialogRefIntDigitalHasNoVoltage)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    box::SoundCardConfig c;
    c.fullScaleVolts[3] = 2.0;
    box::saveSoundCardConfig(store, c); // Ref_Int "digital" by default
    SoundCardDialog dialog(nullptr, {});
    auto* ref = dialog.findChild<QSpinBox*>(QStringLiteral("channel4"));
    auto* volts = dialog.findChild<QDoubleSpinBox*>(QStringLiteral("fullScale4"));
    EXPECT_FALSE(volts->isEnabled());
    EXPECT_TRUE(volts->toolTip().contains(QStringLiteral("digital")));
    EXPECT_TRUE(dialog.findChild<QDoubleSpinBox*>(QStringLiteral("fullScale3"))->isEnabled());
    // On a channel it is a cable from the output again, with a voltage.
    ref->setValue(3);
    EXPECT_TRUE(volts->isEnabled());
    EXPECT_TRUE(volts->toolTip().isEmpty());
    ref->setValue(0);
    EXPECT_FALSE(volts->isEnabled());
    // The calibration is kept, not lost, while it can't be edited.
    EXPECT_DOUBLE_EQ(dialog.config().fullScaleVolts[3], 2.0);
    core::setSettingsStore(nullptr);
}

TEST_F(DialogTest, SoundCardDialogRefusesAMeasuredInputAsTimingChannel)
{
    using app::dialogs::timingConflict;
    box::SoundCardConfig c; // Line1 1, Mic. 1, Line2 2, Ref_Int digital
    EXPECT_TRUE(timingConflict(c).isEmpty());
    c.timingChannel = 3;
    EXPECT_TRUE(timingConflict(c).isEmpty());
    c.channel[3] = 3; // a reference on the timing cable is the same loop: allowed
    EXPECT_TRUE(timingConflict(c).isEmpty());
    c.timingChannel = 1;
    const QString both = timingConflict(c);
    EXPECT_TRUE(both.contains(QStringLiteral("Kanal 1 ist für Line1 und Mic.")))
        << both.toStdString();

    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    c = box::SoundCardConfig{};
    c.timingChannel = 2; // on Line2's channel
    box::saveSoundCardConfig(store, c);
    SoundCardDialog dialog(nullptr, {});
    auto* warning = dialog.findChild<QLabel*>(QStringLiteral("timingConflict"));
    EXPECT_FALSE(warning->isHidden());
    EXPECT_TRUE(warning->text().contains(QStringLiteral("Kanal 2 ist für Line2 und zugleich als "
                                                        "Zeitreferenz")))
        << warning->text().toStdString();
    saveShot(dialog, "soundcard-conflict");

    // OK is refused and nothing is stored.
    dialog.findChild<QDoubleSpinBox*>(QStringLiteral("outputLevel"))->setValue(-20.0);
    app::dialogs::findControl<QPushButton>(&dialog, 1)->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(box::loadSoundCardConfig(store).outputLevelDbfs, -10.0);

    // A free channel for the cable: the warning goes and OK takes the settings.
    dialog.findChild<QSpinBox*>(QStringLiteral("timingChannel"))->setValue(3);
    EXPECT_TRUE(warning->isHidden());
    app::dialogs::findControl<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(box::loadSoundCardConfig(store).timingChannel, 3);
    EXPECT_DOUBLE_EQ(box::loadSoundCardConfig(store).outputLevelDbfs, -20.0);
    core::setSettingsStore(nullptr);
}

TEST_F(DialogTest, SoundCardDialogNumbersWithDecimalCommaAndExplained)
{
    // A desktop with decimal points (as under a bare X server) still gets the comma.
    struct DefaultLocale {
        DefaultLocale() { QLocale::setDefault(QLocale::c()); }
        ~DefaultLocale() { QLocale::setDefault(QLocale::system()); }
    } pointDesktop;
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    SoundCardDialog dialog(nullptr, {});
    auto* volts = dialog.findChild<QDoubleSpinBox*>(QStringLiteral("fullScale1"));
    EXPECT_EQ(volts->text(), QStringLiteral("1,6000 V"));
    EXPECT_EQ(dialog.findChild<QDoubleSpinBox*>(QStringLiteral("outputLevel"))->text(),
              QStringLiteral("-10,0 dBFS"));
    // Typed with a comma, taken as the number.
    volts->findChild<QLineEdit*>()->setText(QStringLiteral("2,5 V"));
    volts->interpretText();
    EXPECT_DOUBLE_EQ(volts->value(), 2.5);

    const QString text = dialog.findChild<QLabel*>(QStringLiteral("timingExplanation"))->text();
    EXPECT_TRUE(text.contains(QStringLiteral("Zeitreferenz")));
    EXPECT_TRUE(text.contains(QStringLiteral("Latenz kalibrieren")));
    saveShot(dialog, "soundcard");
    core::setSettingsStore(nullptr);
}

// The simulated driver's distortion: shown from the settings store, stored on OK under
// "Simulation/...", its levels only editable while it is on.
TEST_F(DialogTest, SoundCardDialogKeepsTheSimulatedDriversDistortion)
{
    core::MemorySettingsStore store;
    core::setSettingsStore(&store);
    {
        SoundCardDialog dialog(nullptr, [] {});
        EXPECT_EQ(dialog.findChild<QGroupBox*>(QStringLiteral("simDistortion"))->title(),
                  QStringLiteral("Klirrfaktor des simulierten Treibers"));
        auto* active = dialog.findChild<QCheckBox*>(QStringLiteral("simDistortionActive"));
        auto* h2 = dialog.findChild<QDoubleSpinBox*>(QStringLiteral("simH2"));
        auto* h3 = dialog.findChild<QDoubleSpinBox*>(QStringLiteral("simH3"));
        ASSERT_TRUE(active && h2 && h3);
        EXPECT_EQ(active->text(), QStringLiteral("aktiv"));
        EXPECT_FALSE(active->isChecked());
        EXPECT_DOUBLE_EQ(h2->value(), -40.0);
        EXPECT_DOUBLE_EQ(h3->value(), -50.0);
        EXPECT_FALSE(h2->isEnabled());
        active->setChecked(true);
        EXPECT_TRUE(h2->isEnabled());
        // Typed as a German user types it, whatever the desktop's locale.
        h2->findChild<QLineEdit*>()->setText(QStringLiteral("-32,5 dB"));
        h2->interpretText();
        h3->setValue(-45.0);
        dialog.store();
    }
    EXPECT_EQ(store.value("Simulation/Klirrfaktor").value_or(""), "1");
    EXPECT_EQ(store.value("Simulation/H2dB").value_or(""), "-32.5");
    const box::sim::DriverDistortion d = box::loadSimulatedDistortion(store);
    EXPECT_TRUE(d.enabled);
    EXPECT_DOUBLE_EQ(d.h2Db, -32.5);
    EXPECT_DOUBLE_EQ(d.h3Db, -45.0);

    // The next dialog shows what was stored.
    SoundCardDialog again(nullptr, [] {});
    EXPECT_TRUE(again.findChild<QCheckBox*>(QStringLiteral("simDistortionActive"))->isChecked());
    EXPECT_DOUBLE_EQ(again.findChild<QDoubleSpinBox*>(QStringLiteral("simH2"))->value(), -32.5);
    core::setSettingsStore(nullptr);
}
