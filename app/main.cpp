// OrvoPro: the main window and its message loop. The program has no command line.
#include "app/Commands.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "app/QtSettingsStore.h"
#include "app/Wiring.h"
#include "core/SettingsStore.h"

#include <QApplication>
#include <QStandardPaths>

#include <clocale>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // Qt takes the desktop's locale for the C library; every number the program formats or
    // parses uses the "C" conventions.
    std::setlocale(LC_ALL, "C");
    QApplication::setApplicationName(QStringLiteral("OrvoPro"));
    // Qt's own German texts for the file, colour and print dialogs and the message-box
    // buttons (Debian qt6-translations-l10n); without them those stay English.
    app::installQtGermanTranslations();

    app::QtSettingsStore store;
    core::setSettingsStore(&store);
    app::wireDiagrams();

    int result = 0;
    {
        app::MainWindow window;
        // The commands reach the runs, files and the window through the window's desktop.
        app::setOperations(&window.desktop());
        // The configuration is kept beside the settings store, in the desktop's
        // configuration folder.
        window.desktop().setKeptConfigurationPath(
            (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/TAVEN/OrvoPro2.3Deutsch.cfg"))
                .toStdString());
        window.show();
        window.start();
        result = QApplication::exec();
        app::setOperations(nullptr);
    }
    app::closePortDriver();
    core::setSettingsStore(nullptr);
    return result;
}
