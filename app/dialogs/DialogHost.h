// What the dialogs need from the shell and the other layers: help, the box's hardware number,
// the diagram renderer and the colour chooser. The shell installs its handlers once at
// start-up; tests install fakes.
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

// The decimal number shown after "Hardwarenummer:" in the information box; without a
// provider, the number the box reports on the configured port.
using HardwareNumberProvider = std::function<int()>;
void setHardwareNumberProvider(HardwareNumberProvider provider);
int hardwareNumber();

// Records the picture(s) of a render code (0..6, 20, 40, 100); without a handler of its
// own it goes straight to the diagram layer.
using RenderHandler = std::function<void(int code)>;
void setRenderHandler(RenderHandler handler);
void renderView(int code);

// The system colour chooser. Returns the chosen colour, or `initial` when cancelled.
using ColorChooser = std::function<QColor(const QColor& initial, QWidget* parent)>;
void setColorChooser(ColorChooser chooser); // empty: the Qt colour dialog
QColor chooseColor(const QColor& initial, QWidget* parent);

// Back to the defaults (no help, box hardware number, diagram renderer, Qt colour dialog).
void resetDialogHost();

} // namespace app::dialogs
