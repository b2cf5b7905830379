// OrvoPro: the main window and its message loop. The program has no command line.
#include "app/MainWindow.h"
#include "app/QtSettingsStore.h"
#include "app/Wiring.h"
#include "core/SettingsStore.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // Qt takes the desktop's locale for the C library; every number the program formats or
    // parses uses the "C" conventions.
    std::setlocale(LC_ALL, "C");
    QApplication::setApplicationName(QStringLiteral("OrvoPro"));

    app::QtSettingsStore store;
    core::setSettingsStore(&store);
    app::wireOperations();

    int result = 0;
    {
        app::MainWindow window;
        window.show();
        window.start();
        result = QApplication::exec();
    }
    app::closePortDriver();
    core::setSettingsStore(nullptr);
    return result;
}
