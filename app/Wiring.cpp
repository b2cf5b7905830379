#include "app/Wiring.h"

#include "app/Commands.h"
#include "app/HelpBrowser.h"
#include "app/MainWindow.h"
#include "app/Mouse.h"
#include "app/Painting.h"
#include "app/QtUi.h"
#include "app/ScreenPaint.h"
#include "box/Acquisition.h"
#include "box/Level.h"
#include "box/PortAccess.h"
#include "box/SoundCard.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "plot/Render.h"
#include "plot/Scales.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#ifdef ORVO_HAVE_DIALOGS
#include "app/dialogs/DialogHost.h"
#include "app/dialogs/Dialogs.h"
#include "app/dialogs/SoundCardDialog.h"
#endif

namespace app
{

namespace
{
std::unique_ptr<box::PortAccess> g_port;
std::unique_ptr<box::SoundCardDevice> g_soundCard;

} // namespace

void wireDiagrams()
{
    setPictureReplayer(makeScreenReplayer());
    setScaleLookup([](int index, AxisScale& out) {
        const plot::ScaleRecord& r = plot::scaleRecord(index);
        if (!r.exists)
            return false;
        out = AxisScale{r.min, r.max, r.unitText};
        return true;
    });
}

namespace
{
// After "Soundkarte…": the box the user chose, named in the title and the status bar, and
// the 3.2 kHz rule for it.
[[maybe_unused]] void reopenBox(MainWindow& window)
{
    const std::string driver = core::settingsStore().value("PortDriver").value_or("auto");
    const PortOpenResult port = openPortDriver(driver, core::settings().parallelPort);
    if (!port.ok)
        core::messageText(port.detail, "OrvoPro", core::Icon::Error);
    const StartupResult names = describeBox(port);
    shell().simulator = port.simulator;
    window.setWindowTitle(QString::fromUtf8(names.title.c_str()));
    window.setStatus(2, QString::fromUtf8(names.statusTitle.c_str()));
    const core::BoxRate rate =
        core::rateForBox(box::readHardwareNumber(), core::settings().sampleRate);
    core::threeKilohertzAllowed = rate.threeKilohertzAllowed ? 1 : 0;
    // The start has said already that this kind of box has no 3.2 kHz; here it is news only
    // when the rate in force has to change.
    if (rate.rateChanged) {
        core::message(120, 0, core::Icon::Error);
        core::settings().sampleRate = rate.rateCode;
    }
}
} // namespace

#ifdef ORVO_HAVE_DIALOGS
void runWindowDialog(MainWindow& window, Dialog d)
{
    QWidget* owner = &window;
    switch (d) {
    case Dialog::MeasurementSystem:
        dialogs::runMeasurementSystemDialog(owner);
        break;
    case Dialog::SignalProcessing:
        dialogs::runSignalProcessingDialog(owner);
        break;
    case Dialog::Scales:
        dialogs::runScalesDialog(owner);
        break;
    case Dialog::Colors:
        dialogs::runColorsDialog(owner);
        break;
    case Dialog::Info:
        dialogs::runInfoDialog(owner);
        break;
    case Dialog::Observer:
        dialogs::runObserverDialog(owner);
        break;
    case Dialog::UserText:
        dialogs::runUserTextDialog(owner);
        break;
    case Dialog::SoundCard:
        if (dialogs::runSoundCardDialog(owner, releaseSoundCard,
                                        shell().simulator ? dialogs::AutoBox::Simulator
                                                          : dialogs::AutoBox::ParallelPort))
            reopenBox(window);
        break;
    }
}

void runLevelMeasurement(MainWindow& window)
{
    if (box::startLevelMeasurement(plot::viewRenderer()))
        dialogs::runLevelDialog(&window);
}
#endif

void wireWindow(MainWindow& window, QtUi& ui)
{
#ifdef ORVO_HAVE_DIALOGS
    QWidget* owner = &window;
    ui.setDcResistanceDialog(dialogs::runDcResistanceDialog);
    dialogs::setHelpHandler([owner](const QString& keyword) {
        app::showHelp(owner, keyword.toStdString(), app::HelpCaller::Dialog);
    });
    auto windowRepaint = ui.repaint;
    ui.repaint = [windowRepaint](core::RepaintTarget target) {
        if (target == core::RepaintTarget::LevelDialog)
            dialogs::repaintLevelDialog();
        else if (windowRepaint)
            windowRepaint(target);
    };
#else
    (void)window;
    (void)ui;
#endif
}

PortOpenResult openPortDriver(const std::string& driver, int parallelPort)
{
    (void)driver; // the box layer reads `PortDriver` itself
    closePortDriver();
    box::PortSelection sel = box::openConfiguredPort(parallelPort);
    g_port = std::move(sel.port);
    g_soundCard = std::move(sel.soundCard);
    box::setPortAccess(g_port.get());
    box::setAcquisitionDevice(g_soundCard.get());
    PortOpenResult r;
    r.ok = sel.error.empty();
    r.simulator = sel.simulated;
    r.soundCard = g_soundCard != nullptr;
    r.detail = sel.error;
    r.description = sel.description;
    return r;
}

int readHardwareNumber()
{
    return box::readHardwareNumber();
}

void closePortDriver()
{
    box::setAcquisitionDevice(nullptr);
    box::setPortAccess(nullptr);
    g_soundCard.reset();
    g_port.reset();
}

void releaseSoundCard()
{
    if (g_soundCard)
        g_soundCard->stop();
}

} // namespace app
