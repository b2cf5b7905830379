// Joins the shell to the other layers of this build: the measurement runs, files, diagrams
// and the box. Everything the command table reaches is wired here.
#pragma once

#include "app/Commands.h"
#include "app/Startup.h"

#include <string>

class QWidget;

namespace app
{

class MainWindow;
class QtUi;

// Joins the shell to the diagrams: pictures are replayed on the screen, and the read-out
// finds its scales.
void wireDiagrams();

// Wires what needs the main window: the DC resistance dialog, the help of the dialogs and
// the repaint of the level dialog.
void wireWindow(MainWindow& window, QtUi& ui);

#ifdef ORVO_HAVE_DIALOGS
// The shell's dialogs, owned by the main window.
void runWindowDialog(MainWindow& window, Dialog d);
// Starts the level measurement and, when it runs, shows its dialog.
void runLevelMeasurement(MainWindow& window);
#endif

// Start-up steps that need the box.
PortOpenResult openPortDriver(const std::string& driver, int parallelPort);
int readHardwareNumber();
// On shutdown: the port is released.
void closePortDriver();
// Stops the sound card's stream (before its dialog tests the devices itself).
void releaseSoundCard();

} // namespace app
