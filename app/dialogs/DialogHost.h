// What the dialogs need from the shell and from the layers that are wired in by the shell:
// help, the box's hardware number, the diagram renderer, the colour chooser and the level
// worker's flags. The shell installs these once at start-up; tests install fakes.
#pragma once

#include <QColor>
#include <QString>

#include <functional>

class QWidget;

namespace app::dialogs {

// F1 in a dialog: keyword lookup in the help ("Dialog Signalbearbeitung", ...). The handler
// also reports a help file that can't be opened.
using HelpHandler = std::function<void(const QString& keyword)>;
void setHelpHandler(HelpHandler handler);
void showHelp(const QString& keyword);

// The decimal number shown after "Hardwarenummer:" in the information box.
using HardwareNumberProvider = std::function<int()>;
void setHardwareNumberProvider(HardwareNumberProvider provider);
int hardwareNumber();

// Records the picture(s) of a render code (0..6, 20, 40, 100).
using RenderHandler = std::function<void(int code)>;
void setRenderHandler(RenderHandler handler);
void renderView(int code);

// The system colour chooser. Returns the chosen colour, or `initial` when cancelled.
using ColorChooser = std::function<QColor(const QColor& initial, QWidget* parent)>;
void setColorChooser(ColorChooser chooser); // empty: the Qt colour dialog
QColor chooseColor(const QColor& initial, QWidget* parent);

// The level worker as the level dialog drives it. The worker is started before the dialog
// opens; the dialog only flips the flags and, on "Abbrechen", asks it to end and waits
// (pumping events, so the worker's calls into the GUI thread still get through) until
// `finished` reports true.
struct LevelWorkerHooks {
    std::function<int()> running;            // levelRunning
    std::function<void(int)> setRunning;     // levelRunning = value
    std::function<void()> requestExit;       // levelExit = 1
    std::function<bool()> finished;          // the worker thread has ended
};
void setLevelWorkerHooks(LevelWorkerHooks hooks);
LevelWorkerHooks& levelWorkerHooks();

// Back to the defaults (no help, hardware number 0, no renderer, Qt colour dialog, a
// stand-in level worker whose flags live here). For tests.
void resetDialogHost();

} // namespace app::dialogs
