// F1 in the dialogs: each dialog with a page in the help asks for it by its keyword.
#include "tests/app/dialogs/DialogFixture.h"

#include "app/dialogs/ColorsDialog.h"
#include "app/dialogs/LevelDialog.h"
#include "app/dialogs/MeasurementSystemDialog.h"
#include "app/dialogs/ObserverDialog.h"
#include "app/dialogs/ScalesDialog.h"
#include "app/dialogs/SmallDialogs.h"
#include "app/dialogs/UserTextDialog.h"

#include <QTest>

using namespace app::dialogs;

// F1 looks up the dialog's own keyword; every dialog with a help page answers it.
TEST_F(DialogTest, HelpKeywordsOfTheDialogs)
{
    QStringList asked;
    setHelpHandler([&](const QString& k) { asked << k; });
    auto pressF1 = [](QDialog&& d) {
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        QTest::keyClick(&d, Qt::Key_F1);
        d.reject();
    };
    pressF1(ScalesDialog());
    pressF1(ColorsDialog());
    pressF1(ObserverDialog());
    pressF1(MeasurementSystemDialog());
    pressF1(UserTextDialog());
    pressF1(InfoDialog());
    pressF1(DcResistanceDialog(5.6f));
    pressF1(LevelDialog());
    EXPECT_EQ(asked, (QStringList{"Dialog Einstellungen Skalen", "Dialog Einstellungen Farben",
                                  "Dialog Einstellungen Postion Beobachter", "Dialog Meßsystem",
                                  "Dialog Text eingeben", "Dialog Info",
                                  "Dialog Gleichstromwiderstand", "Dialog Pegel Messungen"}));
    EXPECT_TRUE(renders.empty()); // closing without apply renders nothing
}
