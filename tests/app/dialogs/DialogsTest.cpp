#include "tests/app/dialogs/DialogFixture.h"

#include "app/dialogs/ColorsDialog.h"
#include "app/dialogs/MeasurementSystemDialog.h"
#include "app/dialogs/ObserverDialog.h"
#include "app/dialogs/ScalesDialog.h"
#include "app/dialogs/SignalProcessingDialog.h"
#include "app/dialogs/SmallDialogs.h"
#include "app/dialogs/UserTextDialog.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "plot/Render.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>

using namespace app::dialogs;
using core::Icon;

void saveShot(QWidget& dialog, const char* name)
{
    const char* dir = std::getenv("ORVO_DIALOG_SHOTS");
    if (dir == nullptr || *dir == '\0')
        return;
    QDir().mkpath(QString::fromUtf8(dir));
    dialog.adjustSize();
    dialog.grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QString::fromUtf8(name) + ".png");
}

namespace {

bool checked(const QWidget& d, int id)
{
    auto* b = findControl<QRadioButton>(&d, id);
    return b != nullptr && b->isChecked();
}

void setText(const QWidget& d, int id, const char* text)
{
    findControl<QLineEdit>(&d, id)->setText(QString::fromUtf8(text));
}

} // namespace

// The tests are only meaningful when the desktop locale would print a decimal comma.
TEST(DialogLocale, RunsUnderADecimalCommaLocale)
{
    const char* lc = std::getenv("LC_ALL");
    if (lc == nullptr || std::strncmp(lc, "de_DE", 5) != 0)
        GTEST_SKIP() << "not run under a German locale";
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
}

// ---- 122 "Meßsystem" -------------------------------------------------------------------

TEST_F(DialogTest, MeasurementSystemShowsTheSettings)
{
    auto& s = core::settings();
    s.parallelPort = 3;
    s.sampleRate = 2;
    s.fftLength = 2048;
    s.measuringInput = 4;
    s.referenceInput = 2;
    s.method = 1;
    s.micCorrection = 1;
    s.micPhase0Deg = 0;
    s.referenceComputation = 1;
    s.preampGainDb = -12.0f;
    s.micSensitivityMvPerPa = 12.5f;
    core::threeKilohertzAllowed = 1;

    MeasurementSystemDialog d;
    saveShot(d, "122-messsystem");
    EXPECT_TRUE(checked(d, 1064));
    EXPECT_FALSE(checked(d, 1062));
    EXPECT_TRUE(checked(d, 1067));
    EXPECT_TRUE(checked(d, 1107));
    EXPECT_TRUE(checked(d, 1123));
    EXPECT_TRUE(checked(d, 1116));
    EXPECT_TRUE(checked(d, 1131));
    EXPECT_TRUE(checked(d, 1130));
    EXPECT_TRUE(checked(d, 1139));
    EXPECT_TRUE(checked(d, 1115));
    EXPECT_TRUE(control<QRadioButton>(d, 1179)->isEnabled());
    // Decimal points although the desktop locale uses commas.
    EXPECT_EQ(control<QLineEdit>(d, 1004)->text(), "22.00");
    EXPECT_EQ(control<QLineEdit>(d, 1048)->text(), "12.50");
    EXPECT_EQ(control<QLineEdit>(d, 1001)->text(), "50.00");
    EXPECT_EQ(control<QLineEdit>(d, 1002)->text(), "10.00");
    EXPECT_EQ(control<QLineEdit>(d, 1046)->text(), "170.00");
    EXPECT_EQ(control<QLineEdit>(d, 1003)->text(), " 8.0");
    EXPECT_EQ(control<QSpinBox>(d, 1204)->value(), -12);
}

TEST_F(DialogTest, MeasurementSystemThreeKilohertzDisabledButStillShown)
{
    core::settings().sampleRate = 3;
    core::threeKilohertzAllowed = 0;
    MeasurementSystemDialog d;
    auto* b = control<QRadioButton>(d, 1179);
    EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(b->isChecked());
}

TEST_F(DialogTest, MeasurementSystemFailedCheckStoresNothingAndCancelKeepsAll)
{
    const core::MeasurementSettings before = core::settings();
    core::settingsStore().setValue("LPT_PORT", "1");
    MeasurementSystemDialog d;
    d.show();
    control<QRadioButton>(d, 1063)->click();  // LPT 2
    control<QRadioButton>(d, 1067)->click();  // 51 kHz
    control<QRadioButton>(d, 1108)->click();  // 4096
    control<QRadioButton>(d, 1070)->click();  // Line1
    control<QRadioButton>(d, 1130)->click();  // mic correction yes
    control<QRadioButton>(d, 1136)->click();  // FFT-Analyzer
    setText(d, 1048, "7.25");
    setText(d, 1046, "200");
    setText(d, 1001, "20.5");
    setText(d, 1002, "35");
    setText(d, 1004, "0");

    control<QPushButton>(d, 1)->click();

    const auto msgs = ui.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].text, core::str(104));
    EXPECT_EQ(msgs[0].caption, core::str(105));
    EXPECT_EQ(msgs[0].icon, Icon::Information);
    EXPECT_TRUE(d.isVisible());

    // Nothing of the refused OK is stored: not the port (nor its stored copy), rate, length,
    // input, nor the four values checked before the reference resistor.
    auto same = [before] {
        const auto& s = core::settings();
        EXPECT_EQ(s.parallelPort, before.parallelPort);
        EXPECT_EQ(s.sampleRate, before.sampleRate);
        EXPECT_EQ(s.fftLength, before.fftLength);
        EXPECT_EQ(s.measuringInput, before.measuringInput);
        EXPECT_EQ(s.markerPos, before.markerPos);
        EXPECT_FLOAT_EQ(s.micSensitivityMvPerPa, before.micSensitivityMvPerPa);
        EXPECT_FLOAT_EQ(s.diaphragmDiameterMm, before.diaphragmDiameterMm);
        EXPECT_FLOAT_EQ(s.addedMassG, before.addedMassG);
        EXPECT_FLOAT_EQ(s.boxVolumeL, before.boxVolumeL);
        EXPECT_FLOAT_EQ(s.referenceResistorOhm, before.referenceResistorOhm);
        EXPECT_EQ(s.micCorrection, before.micCorrection);
        EXPECT_EQ(s.method, before.method);
        EXPECT_EQ(core::settingsStore().value("LPT_PORT").value_or(""), "1");
    };
    same();

    // Abbrechen leaves every setting as it was when the dialog opened.
    control<QPushButton>(d, 2)->click();
    EXPECT_FALSE(d.isVisible());
    same();

    // Corrected and confirmed, everything is stored at once.
    MeasurementSystemDialog again;
    again.show();
    control<QRadioButton>(again, 1063)->click();
    control<QRadioButton>(again, 1108)->click();
    setText(again, 1048, "7.25");
    setText(again, 1004, "8.2");
    control<QPushButton>(again, 1)->click();
    EXPECT_FALSE(again.isVisible());
    EXPECT_EQ(core::settings().parallelPort, 2);
    EXPECT_EQ(core::settingsStore().value("LPT_PORT").value_or(""), "2");
    EXPECT_EQ(core::settings().fftLength, 4096);
    EXPECT_FLOAT_EQ(core::settings().micSensitivityMvPerPa, 7.25f);
    EXPECT_FLOAT_EQ(core::settings().referenceResistorOhm, 8.2f);
}

TEST_F(DialogTest, MeasurementSystemTakesTheDecimalComma)
{
    MeasurementSystemDialog d;
    d.show();
    setText(d, 1004, "22,5");
    setText(d, 1048, "0,5");
    setText(d, 1001, "12,25 g");
    setText(d, 1003, " 4,7 ");
    control<QPushButton>(d, 1)->click();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(d.isVisible());
    const auto& s = core::settings();
    EXPECT_FLOAT_EQ(s.referenceResistorOhm, 22.5f);
    EXPECT_FLOAT_EQ(s.micSensitivityMvPerPa, 0.5f);
    EXPECT_FLOAT_EQ(s.addedMassG, 12.25f);
    EXPECT_FLOAT_EQ(s.dbsplSpeakerImpedanceOhm, 4.7f);
    // Shown again with the point the files and the dialog's formats use.
    MeasurementSystemDialog shown;
    EXPECT_EQ(control<QLineEdit>(shown, 1004)->text(), "22.50");
}

TEST_F(DialogTest, MeasurementSystemOffersTheSweepWithItsBandAndLength)
{
    core::settings().method = 3;
    MeasurementSystemDialog d;
    d.show();
    EXPECT_TRUE(checked(d, 1140));
    EXPECT_EQ(control<QLineEdit>(d, 1210)->text(), "20");
    EXPECT_EQ(control<QLineEdit>(d, 1211)->text(), "20000");
    EXPECT_EQ(control<QLineEdit>(d, 1212)->text(), "2");

    // A band of less than an octave is refused, and nothing is stored.
    setText(d, 1210, "1000");
    setText(d, 1211, "1500");
    control<QRadioButton>(d, 1131)->click();
    control<QPushButton>(d, 1)->click();
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_NE(ui.messages()[0].text.find("Oktave"), std::string::npos);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(core::settings().method, 3);
    EXPECT_EQ(core::settings().sweepStartHz, 20.0f);

    ui.clear();
    setText(d, 1210, "25");
    setText(d, 1211, "16000");
    setText(d, 1212, "3,5");
    control<QRadioButton>(d, 1140)->click();
    control<QPushButton>(d, 1)->click();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(d.isVisible());
    const auto& s = core::settings();
    EXPECT_EQ(s.method, 3);
    EXPECT_EQ(s.sweepStartHz, 25.0f);
    EXPECT_EQ(s.sweepEndHz, 16000.0f);
    EXPECT_EQ(s.sweepSeconds, 3.5f);
    // Kept for the next start: the configuration file has no place for them.
    core::MeasurementSettings next;
    core::readSweepSettings(core::settingsStore(), next);
    EXPECT_EQ(next.sweepEndHz, 16000.0f);
    EXPECT_EQ(next.sweepSeconds, 3.5f);
}

TEST_F(DialogTest, MeasurementSystemRefusesWhatIsNoNumber)
{
    MeasurementSystemDialog d;
    d.show();
    for (const char* refused : {"1.000,5", "22,5,1", "5x", "abc", "2 2"}) {
        ui.clear();
        setText(d, 1004, refused);
        control<QPushButton>(d, 1)->click();
        const auto msgs = ui.messages();
        ASSERT_EQ(msgs.size(), 1u) << refused;
        EXPECT_EQ(msgs[0].caption, core::str(105)) << refused;
        EXPECT_TRUE(d.isVisible()) << refused;
    }
    EXPECT_FLOAT_EQ(core::settings().referenceResistorOhm, 22.0f);

    // A point still works, also with a unit behind it.
    ui.clear();
    setText(d, 1048, "0.05 mV");
    setText(d, 1004, "47.5 Ohm");
    control<QPushButton>(d, 1)->click();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FLOAT_EQ(core::settings().micSensitivityMvPerPa, 0.05f);
    EXPECT_FLOAT_EQ(core::settings().referenceResistorOhm, 47.5f);
}

TEST_F(DialogTest, MeasurementSystemLastCheckAndSignedGain)
{
    MeasurementSystemDialog d;
    d.show();
    auto* gain = control<QSpinBox>(d, 1204);
    gain->setValue(-50);
    EXPECT_EQ(static_cast<WrappingSpinBox*>(gain)->position16(), 65486);
    setText(d, 1003, "0.5");
    control<QPushButton>(d, 1)->click();
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].caption, core::str(100));
    EXPECT_FLOAT_EQ(core::settings().preampGainDb, 0.0f); // nothing stored

    setText(d, 1003, "4");
    control<QPushButton>(d, 1)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_FLOAT_EQ(core::settings().dbsplSpeakerImpedanceOhm, 4.0f);
    EXPECT_FLOAT_EQ(core::settings().preampGainDb, -50.0f);
    // The new values act at the next measurement or rendering.
    EXPECT_TRUE(renders.empty());
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 0);
}

TEST_F(DialogTest, MeasurementSystemRemapsMarkersForNewRateAndLength)
{
    auto& s = core::settings();
    s.sampleRate = 1;
    s.fftLength = 4096;
    s.markerPos = {1000, 5000};
    MeasurementSystemDialog d;
    d.show();
    control<QRadioButton>(d, 1067)->click();
    control<QRadioButton>(d, 1105)->click();
    control<QPushButton>(d, 1)->click();
    EXPECT_EQ(s.sampleRate, 2);
    EXPECT_EQ(s.fftLength, 512);
    EXPECT_EQ(s.markerPos[0], 0);
    EXPECT_EQ(s.markerPos[1], 10000);
}

// ---- 123 "Signalbearbeitung" -----------------------------------------------------------

TEST_F(DialogTest, SignalProcessingShowsAndStoresTheSettings)
{
    auto& s = core::settings();
    s.smoothing = 4;
    s.window = 3;
    s.averages = 7;
    s.phaseMode = 2;
    s.sumMode = 1;
    s.distanceMm = 50;
    s.dbsplRealDistance = 0;
    s.levelMethod = 3;
    s.levelWeighting = 4;
    s.levelWindow = 4;
    s.levelCalculation = 2;
    s.levelAveraging = 3;
    s.levelCountLimited = 1;
    s.levelCount = 12;
    s.phaseOffsetDeg = -90.0f;
    s.stepResponse = 1;

    SignalProcessingDialog d;
    d.show();
    saveShot(d, "123-signalbearbeitung");
    for (int id : {1165, 1069, 1059, 1191, 1202, 1166, 1168, 1167, 1162, 1171, 1193, 1180})
        EXPECT_TRUE(checked(d, id)) << id;
    EXPECT_EQ(control<QSpinBox>(d, 1099)->value(), 7);
    EXPECT_EQ(control<QSpinBox>(d, 1104)->value(), 12);
    EXPECT_EQ(control<QSpinBox>(d, 1100)->value(), -90);
    EXPECT_EQ(control<QLabel>(d, 1000)->text(), "  50 mm");
    control<QSlider>(d, 1110)->setValue(4321);
    EXPECT_EQ(control<QLabel>(d, 1000)->text(), "4321 mm");

    control<QRadioButton>(d, 1079)->click();
    control<QRadioButton>(d, 1072)->click();
    control<QRadioButton>(d, 1160)->click();
    control<QPushButton>(d, 1)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(s.smoothing, 2);
    EXPECT_EQ(s.window, 1);
    EXPECT_EQ(s.levelCalculation, 0);
    EXPECT_EQ(s.distanceMm, 4321);
    EXPECT_EQ(s.averages, 7);
    EXPECT_EQ(s.levelCount, 12);
    EXPECT_FLOAT_EQ(s.phaseOffsetDeg, -90.0f);
    EXPECT_EQ(s.levelMethod, 3);
    EXPECT_EQ(s.levelCountLimited, 1);
    EXPECT_TRUE(renders.empty());
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 0);
}

TEST_F(DialogTest, SignalProcessingSpinsWrapAndStepWithArrowKeys)
{
    core::settings().averages = 30;
    SignalProcessingDialog d;
    d.show();
    auto* averages = control<QSpinBox>(d, 1099);
    QTest::keyClick(averages, Qt::Key_Up);
    EXPECT_EQ(averages->value(), 1);
    QTest::keyClick(averages, Qt::Key_Down);
    EXPECT_EQ(averages->value(), 30);
    QTest::keyClick(averages, Qt::Key_Down);
    EXPECT_EQ(averages->value(), 29);
    // Typing is not offered.
    QTest::keyClicks(averages, "5");
    EXPECT_EQ(averages->value(), 29);

    auto* offset = control<QSpinBox>(d, 1100);
    offset->setValue(180);
    offset->stepUp();
    EXPECT_EQ(offset->value(), -180);
    auto* count = control<QSpinBox>(d, 1104);
    count->setValue(1);
    count->stepDown();
    EXPECT_EQ(count->value(), 99);
}

TEST_F(DialogTest, SignalProcessingResetsCrossedMarkersOnOk)
{
    core::settings().markerPos = {5000, 5000};
    SignalProcessingDialog d;
    d.show();
    EXPECT_EQ(core::settings().markerPos[0], 5000); // nothing happens on open
    control<QPushButton>(d, 1)->click();
    EXPECT_EQ(core::settings().markerPos[0], 0);
    EXPECT_EQ(core::settings().markerPos[1], 10000);
}

TEST_F(DialogTest, SignalProcessingCancelStoresNothingAndF1OpensHelp)
{
    QString keyword;
    setHelpHandler([&](const QString& k) { keyword = k; });
    SignalProcessingDialog d;
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QTest::keyClick(&d, Qt::Key_F1);
    EXPECT_EQ(keyword, "Dialog Signalbearbeitung");
    control<QRadioButton>(d, 1074)->click();
    control<QPushButton>(d, 2)->click();
    EXPECT_EQ(core::settings().window, 1);
}

// ---- 124 scales ------------------------------------------------------------------------

TEST_F(DialogTest, ScalesListsHoldTheirEntriesInOrder)
{
    ScalesDialog d;
    saveShot(d, "124-skalen");
    struct {
        int id;
        int count;
        int first;
        int last;
    } const lists[] = {{1026, 9, 4, 63},  {1096, 20, 12, 69}, {1101, 20, 12, 69},
                       {1097, 5, 73, 74}, {1169, 3, 31, 55},  {1171, 15, 38, 75},
                       {1173, 3, 52, 53}};
    for (const auto& l : lists) {
        auto* list = control<QListWidget>(d, l.id);
        ASSERT_EQ(list->count(), l.count) << l.id;
        EXPECT_EQ(list->item(0)->data(Qt::UserRole).toInt(), l.first);
        EXPECT_EQ(list->item(l.count - 1)->data(Qt::UserRole).toInt(), l.last);
    }
    EXPECT_EQ(control<QListWidget>(d, 1096)->item(0)->text(), "Min:-100dB   Max:+40dB");
    // Defaults selected: 27, 17, 57, 27, 31, 56, 33.
    EXPECT_EQ(control<QListWidget>(d, 1096)->selectedItems().front()->data(Qt::UserRole).toInt(), 27);
    EXPECT_EQ(control<QListWidget>(d, 1097)->selectedItems().front()->data(Qt::UserRole).toInt(), 17);
    EXPECT_EQ(control<QListWidget>(d, 1171)->selectedItems().front()->data(Qt::UserRole).toInt(), 56);
    EXPECT_TRUE(checked(d, 1187));
    EXPECT_TRUE(checked(d, 1188));
    EXPECT_TRUE(checked(d, 1177));
    EXPECT_TRUE(checked(d, 1190));
    EXPECT_EQ(control<QRadioButton>(d, 1187)->text(), "Amplit&ude && Phase");
}

TEST_F(DialogTest, ScalesApplyStoresAndRendersOkCloses)
{
    auto& disp = core::displaySettings();
    disp.showTimeSignal = 0;
    disp.showStepResponse = 0;
    ScalesDialog d;
    d.show();
    EXPECT_FALSE(checked(d, 1177) || checked(d, 1175) || checked(d, 1178));

    control<QListWidget>(d, 1096)->setCurrentRow(0);
    control<QListWidget>(d, 1173)->setCurrentRow(2);
    control<QRadioButton>(d, 1182)->click();
    control<QRadioButton>(d, 1186)->click();
    control<QRadioButton>(d, 1184)->click();

    control<QPushButton>(d, 1008)->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(disp.axisSets[1].y, 12);
    EXPECT_EQ(disp.axisSets[6].z, 53);
    EXPECT_EQ(disp.axisSets[5].y, 27);
    EXPECT_EQ(disp.showAmplitude, 0);
    EXPECT_EQ(disp.showPhase, 1);
    EXPECT_EQ(disp.showImpedance, 1);
    EXPECT_EQ(disp.showImpedancePhase, 0);
    EXPECT_EQ(disp.showTimeSignal, 0); // no button checked: flags unchanged
    EXPECT_EQ(disp.showStepResponse, 0);
    EXPECT_EQ(disp.levelDisplayMode, 2);
    EXPECT_EQ(renders, std::vector<int>{100});
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 1);
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::ZoomWindow), 1);

    const auto before = disp.axisSets;
    control<QPushButton>(d, 1)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(renders, (std::vector<int>{100, 100}));
    for (int f = 0; f < core::kAxisSetCount; ++f) {
        EXPECT_EQ(disp.axisSets[f].x, before[f].x);
        EXPECT_EQ(disp.axisSets[f].y, before[f].y);
        EXPECT_EQ(disp.axisSets[f].z, before[f].z);
    }
}

TEST_F(DialogTest, ScalesListWithoutSelectionLeavesTheScale)
{
    core::displaySettings().axisSets[3].y = 55; // not an impedance scale (foreign file)
    ScalesDialog d;
    EXPECT_TRUE(control<QListWidget>(d, 1097)->selectedItems().isEmpty());
    d.apply();
    EXPECT_EQ(core::displaySettings().axisSets[3].y, 55);
}

TEST_F(DialogTest, WithoutAHandlerRendersReachTheDiagramLayer)
{
    resetDialogHost();
    plot::resetPictures();
    ASSERT_TRUE(plot::picture(2)->empty());
    ScalesDialog d;
    d.apply();
    EXPECT_FALSE(plot::picture(2)->empty());
    EXPECT_FALSE(plot::picture(6)->empty());
    plot::resetPictures();
}

// ---- 126 colours -----------------------------------------------------------------------

TEST_F(DialogTest, ColoursWorkOnACopyUntilApplied)
{
    setColorChooser([](const QColor&, QWidget*) { return QColor(1, 2, 3); });
    const auto original = core::displaySettings().colors;
    {
        ColorsDialog d;
        saveShot(d, "126-farben");
        d.show();
        control<QPushButton>(d, 1166)->click(); // "Pegel mi&ttel" = colour 19
        EXPECT_EQ(d.workingColor(19), core::rgb(1, 2, 3));
        EXPECT_EQ(control<QFrame>(d, 1164)->palette().color(QPalette::Window), QColor(1, 2, 3));
        control<QPushButton>(d, 2)->click();
    }
    EXPECT_EQ(core::displaySettings().colors, original);
    EXPECT_TRUE(renders.empty());

    ColorsDialog d;
    d.show();
    EXPECT_TRUE(checked(d, 1158));
    control<QPushButton>(d, 1082)->click(); // amplitude slot 0 = colour 6
    control<QRadioButton>(d, 1159)->click();
    control<QPushButton>(d, 1008)->click();
    control<QPushButton>(d, 2)->click();
    EXPECT_EQ(core::displaySettings().colors[6], core::rgb(1, 2, 3));
    EXPECT_EQ(core::displaySettings().colors[19], original[19]);
    EXPECT_EQ(core::displaySettings().lineWidth, 40);
    EXPECT_EQ(renders, std::vector<int>{100});
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 1);
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::ZoomWindow), 1);
}

TEST_F(DialogTest, ColoursCancelledChooserChangesNothing)
{
    setColorChooser([](const QColor& initial, QWidget*) { return initial; });
    core::displaySettings().lineWidth = 7; // no button for it: kept
    ColorsDialog d;
    d.show();
    control<QPushButton>(d, 1071)->click();
    control<QPushButton>(d, 1)->click();
    EXPECT_EQ(core::displaySettings().colors, core::DisplaySettings().colors);
    EXPECT_EQ(core::displaySettings().lineWidth, 7);
}

// ---- 153 observer ----------------------------------------------------------------------

TEST_F(DialogTest, ObserverShowsThousandsAndStoresTimesThousand)
{
    core::displaySettings().observer = {15500, 60000, 45000};
    ObserverDialog d;
    saveShot(d, "153-beobachter");
    d.show();
    auto* x = control<QSpinBox>(d, 1140);
    auto* z = control<QSpinBox>(d, 1142);
    EXPECT_EQ(x->value(), 15);
    EXPECT_EQ(z->value(), 45);
    z->setValue(25);
    control<QPushButton>(d, 1008)->click();
    EXPECT_EQ(core::displaySettings().observer[0], 15000);
    EXPECT_EQ(core::displaySettings().observer[2], 25000);
    EXPECT_EQ(renders, std::vector<int>{6});
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 1);
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::ZoomWindow), 0);
}

TEST_F(DialogTest, ObserverUpArrowDecreasesAndWraps)
{
    core::displaySettings().observer = {2000, 100000, 25000};
    ObserverDialog d;
    d.show();
    auto* x = control<QSpinBox>(d, 1140);
    QTest::keyClick(x, Qt::Key_Up);
    EXPECT_EQ(x->value(), 1);
    QTest::keyClick(x, Qt::Key_Up);
    EXPECT_EQ(x->value(), 40);
    auto* y = control<QSpinBox>(d, 1141);
    QTest::keyClick(y, Qt::Key_Down);
    EXPECT_EQ(y->value(), 1);
    auto* z = control<QSpinBox>(d, 1142);
    QTest::keyClick(z, Qt::Key_Up);
    EXPECT_EQ(z->value(), 60);
}

// ---- 170 user texts --------------------------------------------------------------------

TEST_F(DialogTest, UserTextsKeepFiftyCharactersInWindows1252)
{
    const QString fifty = QString::fromUtf8("Größe ") + QString(44, QLatin1Char('x'));
    ASSERT_EQ(fifty.size(), 50);
    UserTextDialog d;
    saveShot(d, "170-text");
    d.show();
    auto* edit = control<QLineEdit>(d, 1212);
    edit->setText(fifty);
    control<QPushButton>(d, 1008)->click();
    const auto& slot = core::displaySettings().userText[2];
    EXPECT_EQ(std::strlen(slot.data()), 50u);
    EXPECT_EQ(static_cast<unsigned char>(slot[2]), 0xF6); // "ö" in Windows-1252
    EXPECT_EQ(renders, std::vector<int>{100});
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::MainWindow), 1);
    EXPECT_EQ(ui.repaintCount(core::RepaintTarget::ZoomWindow), 1);

    // Typing beyond 50 is refused; OK keeps the text whole.
    edit->end(false);
    QTest::keyClicks(edit, "yz");
    EXPECT_EQ(edit->text(), fifty);
    control<QPushButton>(d, 1)->click();
    EXPECT_EQ(std::strlen(slot.data()), 50u);

    UserTextDialog again;
    EXPECT_EQ(control<QLineEdit>(again, 1212)->text(), fifty);
    EXPECT_TRUE(control<QLineEdit>(again, 1210)->text().isEmpty());
}

TEST_F(DialogTest, UserTextLongerThanTheLimitSurvivesOk)
{
    // A configuration file may carry up to 99 characters in a slot.
    auto& slot = core::displaySettings().userText[7];
    const std::string seventy(70, 'w');
    std::copy(seventy.begin(), seventy.end(), slot.begin());
    UserTextDialog d;
    d.show();
    auto* edit = control<QLineEdit>(d, 1217);
    EXPECT_EQ(edit->text().size(), 70);
    QTest::keyClicks(edit, "x"); // no typing beyond it
    EXPECT_EQ(edit->text().size(), 70);
    control<QPushButton>(d, 1)->click();
    EXPECT_EQ(std::string(slot.data()), seventy);
}

// ---- 146 info, 155 DC resistance -------------------------------------------------------

TEST_F(DialogTest, InfoLineCarriesVersionAndHardwareNumber)
{
    setHardwareNumberProvider([] { return 9; });
    InfoDialog d;
    saveShot(d, "146-info");
    EXPECT_EQ(control<QLineEdit>(d, 1129)->text(),
              QString::fromUtf8("OrvoPro Version: 2.30 Deutsch      Hardwarenummer: 9"));
}

TEST_F(DialogTest, DcResistanceBounds)
{
    DcResistanceDialog d(6.27f);
    saveShot(d, "155-gleichstromwiderstand");
    d.show();
    auto* edit = control<QLineEdit>(d, 1181);
    EXPECT_EQ(edit->text(), "6.3");
    // The proposal comes from the impedance curve; the dialog says a measured value is better.
    auto* note = d.findChild<QLabel*>(QStringLiteral("dcEstimateNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains(QStringLiteral("Schätzung")));
    EXPECT_TRUE(note->isVisibleTo(&d));
    for (const char* refused : {"0.4", "100", "0,4", "abc"}) {
        edit->setText(QString::fromUtf8(refused));
        control<QPushButton>(d, 1)->click();
        EXPECT_TRUE(d.isVisible()) << refused;
    }
    const auto msgs = ui.messages();
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_EQ(msgs[0].text, core::str(112));
    EXPECT_EQ(msgs[0].caption, core::str(71));
    EXPECT_EQ(msgs[0].icon, Icon::Information);
    EXPECT_FLOAT_EQ(d.valueOhm(), 6.27f);

    edit->setText(QStringLiteral("99.9"));
    control<QPushButton>(d, 1)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FLOAT_EQ(d.valueOhm(), 99.9f);
}

// "5,8" typed in the German interface is 5.8 Ohm, not 5 (which made Qe 0.33 instead of 0.39).
TEST_F(DialogTest, DcResistanceTakesTheDecimalComma)
{
    DcResistanceDialog d(6.27f);
    d.show();
    control<QLineEdit>(d, 1181)->setText(QStringLiteral("5,8"));
    control<QPushButton>(d, 1)->click();
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(d.isVisible());
    EXPECT_FLOAT_EQ(d.valueOhm(), 5.8f);

    DcResistanceDialog second(6.27f);
    second.show();
    control<QLineEdit>(second, 1181)->setText(QStringLiteral("0,45"));
    control<QPushButton>(second, 1)->click();
    EXPECT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(second.isVisible());
}
