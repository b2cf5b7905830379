#include "app/Wiring.h"

#include "app/Commands.h"
#include "app/MainWindow.h"
#include "app/QtUi.h"

namespace app {

void wireOperations()
{
    // The layers join here as they become part of the build.
}

void wireWindow(MainWindow& window, QtUi& ui)
{
    (void)window;
    (void)ui;
}

PortOpenResult openPortDriver(const std::string& driver, int parallelPort)
{
    (void)driver;
    (void)parallelPort;
    PortOpenResult r;
    r.simulator = true;
    return r;
}

int readHardwareNumber() { return 9; }

void closePortDriver() {}

} // namespace app
