// Joins the shell to the other layers of this build: the measurement runs, files, diagrams
// and the box. Everything the command table reaches is wired here.
#pragma once

#include "app/Startup.h"

#include <string>

class QWidget;

namespace app {

class MainWindow;
class QtUi;

// Fills the domain hooks of `operations()` (runs, files, exports, diagrams).
void wireOperations();

// Wires what needs the main window: dialogs, their help and repaint hooks, the picture
// replay and the scale look-up of the read-out.
void wireWindow(MainWindow& window, QtUi& ui);

// Start-up steps that need the box.
PortOpenResult openPortDriver(const std::string& driver, int parallelPort);
int readHardwareNumber();
// On shutdown: the port is released.
void closePortDriver();
// Stops the sound card's stream (before its dialog tests the devices itself).
void releaseSoundCard();

} // namespace app
