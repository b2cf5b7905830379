// The shell's entry points to the dialogs. Each runs its dialog modally over `owner` and
// returns 0, as every dialog of the program does (the DC-resistance prompt returns whether
// a value was accepted).
#pragma once

class QWidget;

namespace app::dialogs {

int runMeasurementSystemDialog(QWidget* owner);   // 122 "Meßsystem", command 40033
int runSignalProcessingDialog(QWidget* owner);    // 123 "Signalbearbeitung", command 40032
int runScalesDialog(QWidget* owner);              // 124, command 40103
int runColorsDialog(QWidget* owner);              // 126, command 40104
int runObserverDialog(QWidget* owner);            // 153, command 40105
int runUserTextDialog(QWidget* owner);            // 170, commands 40134/40135
int runInfoDialog(QWidget* owner);                // 146, command 40031
// 155: edits `valueOhm` starting from the proposal; false when cancelled.
bool runDcResistanceDialog(QWidget* owner, float proposalOhm, float& valueOhm);
// 159: shown after box::startLevelMeasurement() has started the worker.
int runLevelDialog(QWidget* owner);
// The worker's "update the level dialog": any thread, no-op when the dialog is closed.
void repaintLevelDialog();

} // namespace app::dialogs
