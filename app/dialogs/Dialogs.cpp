#include "app/dialogs/Dialogs.h"

#include "app/dialogs/ColorsDialog.h"
#include "app/dialogs/LevelDialog.h"
#include "app/dialogs/MeasurementSystemDialog.h"
#include "app/dialogs/ObserverDialog.h"
#include "app/dialogs/ScalesDialog.h"
#include "app/dialogs/SignalProcessingDialog.h"
#include "app/dialogs/SmallDialogs.h"
#include "app/dialogs/UserTextDialog.h"

namespace app::dialogs {

namespace {

template <class D>
int runModal(QWidget* owner)
{
    D dialog(owner);
    dialog.exec();
    return 0;
}

} // namespace

int runMeasurementSystemDialog(QWidget* owner) { return runModal<MeasurementSystemDialog>(owner); }
int runSignalProcessingDialog(QWidget* owner) { return runModal<SignalProcessingDialog>(owner); }
int runScalesDialog(QWidget* owner) { return runModal<ScalesDialog>(owner); }
int runColorsDialog(QWidget* owner) { return runModal<ColorsDialog>(owner); }
int runObserverDialog(QWidget* owner) { return runModal<ObserverDialog>(owner); }
int runUserTextDialog(QWidget* owner) { return runModal<UserTextDialog>(owner); }
int runInfoDialog(QWidget* owner) { return runModal<InfoDialog>(owner); }

bool runDcResistanceDialog(QWidget* owner, float proposalOhm, float& valueOhm)
{
    DcResistanceDialog dialog(proposalOhm, owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    valueOhm = dialog.valueOhm();
    return true;
}

int runLevelDialog(QWidget* owner) { return runModal<LevelDialog>(owner); }
void repaintLevelDialog() { LevelDialog::requestRepaint(); }

} // namespace app::dialogs
