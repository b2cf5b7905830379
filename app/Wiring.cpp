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
#include "box/Render.h"
#include "box/Runs.h"
#include "box/SoundCard.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Waterfall.h"
#include "dsp/ts/TsProcedure.h"
#include "files/ConfigurationFile.h"
#include "files/Export.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"
#include "files/MicFile.h"
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

namespace app {

namespace {
std::unique_ptr<box::PortAccess> g_port;
std::unique_ptr<box::SoundCardDevice> g_soundCard;

LoadOutcome outcome(files::LoadResult r)
{
    switch (r) {
    case files::LoadResult::Loaded:
        return LoadOutcome::Loaded;
    case files::LoadResult::Failed:
        return LoadOutcome::Failed;
    case files::LoadResult::Cancelled:
        break;
    }
    return LoadOutcome::Cancelled;
}

files::ExportKind exportKind(Export e)
{
    switch (e) {
    case Export::FrequencyOrvo:
        return files::ExportKind::AmplitudePhase;
    case Export::ImpedanceOrvo:
        return files::ExportKind::Impedance;
    case Export::AmplitudeTernovax:
        return files::ExportKind::AmplitudeTernovax;
    case Export::PhaseTernovax:
        return files::ExportKind::PhaseTernovax;
    case Export::ImpedanceTernovax:
        return files::ExportKind::ImpedanceTernovax;
    case Export::ImpedancePhaseTernovax:
        return files::ExportKind::ImpedancePhaseTernovax;
    case Export::TsParameters:
        break;
    }
    return files::ExportKind::TsParameters;
}
} // namespace

void wireOperations()
{
    Operations& op = operations();
    op.renderView = plot::renderView;
    // The runs and the level worker re-record their views through the box layer's hook.
    box::setRenderFunction(plot::renderView);
    setPictureReplayer(makeScreenReplayer());
    setScaleLookup([](int index, AxisScale& out) {
        const plot::ScaleRecord& r = plot::scaleRecord(index);
        if (!r.exists)
            return false;
        out = AxisScale{r.min, r.max, r.unitText};
        return true;
    });

    op.runReferenceMeasurement = box::runReferenceMeasurement;
    op.runAmplitudePhaseMeasurement = box::runAmplitudePhaseMeasurement;
    op.runImpedanceMeasurement = box::runImpedanceMeasurement;
    op.measureTsParameters = [] { ts::measureTsParameters(); };
    op.computeWaterfall = [](int n) { dsp::computeWaterfall(n); };

    op.loadMeasurementFile = [] { return outcome(files::loadMeasurementFile()); };
    op.saveMeasurementFile = [] { files::saveMeasurementFile(); };
    op.importVersion133 = [] { return outcome(files::importVersion133()); };
    op.importVersion21 = [] { return outcome(files::importVersion21()); };
    op.loadConfigurationFile = [] { return files::loadConfigurationFile() != 0; };
    op.saveConfigurationFile = [] { files::saveConfigurationFile(); };
    op.exportData = [](Export e) { files::exportFile(exportKind(e)); };
    op.importMicFile = [] { files::importMicFile(); };
}

namespace {
// After "Soundkarte…": the box the user chose, named in the title and the status bar, and
// the 3.2 kHz rule for it.
[[maybe_unused]] void reopenBox(MainWindow& window)
{
    const std::string driver = core::settingsStore().value("PortDriver").value_or("auto");
    const PortOpenResult port = openPortDriver(driver, core::settings().parallelPort);
    if (!port.ok)
        core::messageText(port.detail, "OrvoPro", core::Icon::Error);
    const StartupResult names = describeBox(port);
    window.setWindowTitle(QString::fromUtf8(names.title.c_str()));
    window.setStatus(2, QString::fromUtf8(names.statusTitle.c_str()));
    core::threeKilohertzAllowed = box::readHardwareNumber() == 9 ? 1 : 0;
    if (!core::threeKilohertzAllowed && core::settings().sampleRate == 3) {
        core::message(120, 0, core::Icon::Error);
        core::settings().sampleRate = 2;
    }
}
} // namespace

void wireWindow(MainWindow& window, QtUi& ui)
{
#ifdef ORVO_HAVE_DIALOGS
    QWidget* owner = &window;
    operations().runDialog = [owner](Dialog d) {
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
            if (dialogs::runSoundCardDialog(owner, releaseSoundCard))
                reopenBox(*static_cast<MainWindow*>(owner));
            break;
        }
    };
    ui.setDcResistanceDialog(dialogs::runDcResistanceDialog);
    dialogs::setHelpHandler([owner](const QString& keyword) {
        app::showHelp(owner, keyword.toStdString(), app::HelpCaller::Dialog);
    });
    operations().startLevelMeasurement = [owner] {
        if (box::startLevelMeasurement())
            dialogs::runLevelDialog(owner);
    };
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
