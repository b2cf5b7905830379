#include "app/Commands.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "plot/Zoom.h"

namespace app
{

namespace
{
ShellState g_shell;
Operations g_defaults;
Operations* g_operations = &g_defaults;

void invalidateMain()
{
    g_operations->invalidateMain();
}

void invalidateZoom()
{
    if (g_shell.zoomOpen)
        g_operations->invalidateZoom();
}

void renderView(int code)
{
    if (!g_operations->renderView(code))
        reportNotAvailable("Diagramme");
}

// A configuration file brings the rate of the station it was saved on; the box in use
// decides whether that may be 3.2 kHz.
void keepRateForBox()
{
    core::MeasurementSettings& s = core::settings();
    const int rate = core::rateCodeForBox(s.sampleRate, core::threeKilohertzAllowed != 0);
    if (rate != s.sampleRate) {
        core::message(120, 0, core::Icon::Error);
        s.sampleRate = rate;
    }
}

void showOverlayView()
{
    // The box names the view it clears, where the system left its title blank.
    if (g_shell.currentView == 7 &&
        core::messageText(core::str(92), "Amplitudenfrequenzgang (5 überlagert)",
                          core::Icon::Question, core::Buttons::YesNo) == core::Answer::Yes) {
        core::store().slotOccupied.fill(0);
        renderView(20);
        renderView(40);
    }
    showView(7);
}

void showTsResult()
{
    const auto& text = core::store().tsResultText;
    core::messageText(core::cp1252ToUtf8(text.data(), text.size()), "Thiele Small Parameter",
                      core::Icon::Information);
}

void startLevel()
{
    const int rate = core::settings().sampleRate;
    if (rate != 1 && rate != 2) {
        core::message(115, 0, core::Icon::Error);
        return;
    }
    g_operations->startLevelMeasurement();
}

void computeCsd()
{
    if (core::settings().sampleRate != 2) {
        core::messageText(core::str(84), " ", core::Icon::Information);
        return;
    }
    // The length is the one the time record was measured with, not the live setting.
    if (!g_operations->computeWaterfall(core::safeTrailerN(core::store().timeRecord.trailerN())))
        return;
    renderView(6);
    g_shell.currentView = 6;
    invalidateMain();
    g_operations->repaintMainNow();
}

// A choice of what the distortion view draws: it is drawn again and shown.
void switchDistortionCurves(bool& choice)
{
    choice = !choice;
    renderView(9);
    showView(9);
    invalidateZoom();
}

void openZoom()
{
    if (!g_shell.zoomOpen)
        g_shell.zoomOpen = g_operations->createZoomWindow() ? 1 : 0;
    if (!g_shell.timeWindowMode) {
        g_shell.zoomFollow = 1;
        g_operations->setZoomButton(true);
    }
}
} // namespace

// After a measurement file was loaded or imported: the snapshot of the file becomes the
// settings, every diagram is drawn anew.
void finishLoad(files::LoadOutcome outcome)
{
    switch (outcome) {
    case files::LoadOutcome::Loaded:
        core::restoreSnapshot();
        renderView(100);
        refresh();
        break;
    case files::LoadOutcome::Failed:
        core::message(116, 0, core::Icon::Error);
        break;
    case files::LoadOutcome::Cancelled:
        break;
    }
}

// The defaults: what a build without the operation does.
void Operations::runReferenceMeasurement()
{
    reportNotAvailable("Referenzmessung");
}
void Operations::runAmplitudePhaseMeasurement()
{
    reportNotAvailable("Amplituden- und Phasenmessung");
}
void Operations::runImpedanceMeasurement()
{
    reportNotAvailable("Impedanzmessung");
}
void Operations::measureTsParameters()
{
    reportNotAvailable("T/S Parametermessung");
}
void Operations::startLevelMeasurement()
{
    reportNotAvailable("Pegelmessung");
}
bool Operations::computeWaterfall(int)
{
    reportNotAvailable("Wasserfallberechnung");
    return false;
}
bool Operations::renderView(int)
{
    return false;
}
files::LoadOutcome Operations::loadMeasurementFile()
{
    reportNotAvailable("Messdatei laden");
    return files::LoadOutcome::Cancelled;
}
void Operations::saveMeasurementFile()
{
    reportNotAvailable("Messdatei speichern");
}
files::LoadOutcome Operations::importVersion133()
{
    reportNotAvailable("Import ORVO 1.33");
    return files::LoadOutcome::Cancelled;
}
files::LoadOutcome Operations::importVersion21()
{
    reportNotAvailable("Import ORVO 2.1");
    return files::LoadOutcome::Cancelled;
}
files::LoadOutcome Operations::loadConfigurationFile()
{
    reportNotAvailable("Konfigurationsdatei laden");
    return files::LoadOutcome::Cancelled;
}
void Operations::saveConfigurationFile()
{
    reportNotAvailable("Konfigurationsdatei speichern");
}
void Operations::exportData(Export)
{
    reportNotAvailable("Export");
}
void Operations::importMicFile()
{
    reportNotAvailable("Mikrofondaten importieren");
}
void Operations::runDialog(Dialog)
{
    reportNotAvailable("Dialog");
}
bool Operations::createZoomWindow()
{
    reportNotAvailable("Zoomfenster");
    return false;
}
void Operations::printerSetup()
{
    reportNotAvailable("Drucker einrichten");
}
void Operations::printView(int)
{
    reportNotAvailable("Drucken");
}
void Operations::showHelp(const std::string&)
{
    reportNotAvailable("Hilfe");
}
void Operations::closeMainWindow()
{
    reportNotAvailable("Beenden");
}

ShellState& shell()
{
    return g_shell;
}
void resetShell()
{
    g_shell = ShellState{};
}
Operations& operations()
{
    return *g_operations;
}
void setOperations(Operations* ops)
{
    g_operations = ops ? ops : &g_defaults;
}

void reportNotAvailable(const char* what)
{
    core::messageText(std::string(what) + ": in dieser Programmversion nicht vorhanden.", "OrvoPro",
                      core::Icon::Information);
}

bool isDiagramView(int view)
{
    return (view >= 1 && view <= 9) || view == 11;
}

int menuCheck(int id)
{
    const core::DisplaySettings& d = core::displaySettings();
    switch (id) {
    case cmd::ShowHigherHarmonics:
        return d.showHigherHarmonics ? 1 : 0;
    case cmd::ShowThdInstead:
        return d.showThdInsteadOfHarmonics ? 1 : 0;
    default:
        return -1;
    }
}

void showView(int kind)
{
    g_shell.currentView = kind;
    invalidateMain();
}

void refresh()
{
    invalidateMain();
    invalidateZoom();
}

namespace
{
// Commands after which the measurement in the store is replaced: loads, imports and the
// measurements that take new data, and what of it they replace.
Replaces replacedBy(int id)
{
    using namespace cmd;
    switch (id) {
    case ReferenceTb:
    case Reference:
    case AmplitudePhaseTb:
    case AmplitudePhase:
    case ImportFrd:
        return Replaces::ResponseCurve;
    case ImpedanceTb:
    case Impedance:
    case ImportZma:
        return Replaces::Impedance;
    case TsTb:
    case Ts:
        return Replaces::ImpedanceAndTs;
    case TsFromFiles:
        return Replaces::TsResult;
    case LevelTb:
    case Level:
        return Replaces::Level;
    case CsdTb:
    case Csd:
        return Replaces::Waterfall;
    case LoadMeasurement:
    case Import133:
    case Import21:
        return Replaces::Everything;
    default:
        return id >= RecentFile1 && id < RecentFile1 + RecentFileCount ? Replaces::Everything
                                                                       : Replaces::Nothing;
    }
}
} // namespace

bool dispatchCommand(int id)
{
    using namespace cmd;
    Operations& op = *g_operations;
    if (const Replaces what = replacedBy(id); what != Replaces::Nothing && !op.confirmDiscard(what))
        return true;
    switch (id) {
    case ReferenceTb:
    case Reference:
        op.runReferenceMeasurement();
        break;
    case AmplitudePhaseTb:
    case AmplitudePhase:
        op.runAmplitudePhaseMeasurement();
        break;
    case ImpedanceTb:
    case Impedance:
        op.runImpedanceMeasurement();
        break;
    case TsTb:
    case Ts:
        op.measureTsParameters();
        break;
    case LevelTb:
    case Level:
        startLevel();
        break;
    case CsdTb:
    case Csd:
        computeCsd();
        break;
    case ShowTimeTb:
    case ShowTime:
        showView(1);
        break;
    case ShowAmplitudeTb:
    case ShowAmplitude:
        showView(2);
        break;
    case ShowOverlayTb:
    case ShowOverlay:
        showOverlayView();
        break;
    case ShowSumTb:
    case ShowSum:
        showView(8);
        break;
    case ShowImpedanceTb:
    case ShowImpedance:
        showView(4);
        break;
    case ShowAmpImpTb:
    case ShowAmpImp:
        showView(3);
        break;
    case ShowTripleTb:
    case ShowTriple:
        showView(11);
        break;
    case ShowLevelTb:
    case ShowLevel:
        showView(5);
        break;
    case ShowCsdTb:
    case ShowCsd:
        showView(6);
        break;
    case ShowDistortionTb:
    case ShowDistortion:
        showView(9);
        break;
    case ShowHigherHarmonics:
        switchDistortionCurves(core::displaySettings().showHigherHarmonics);
        break;
    case ShowThdInstead:
        switchDistortionCurves(core::displaySettings().showThdInsteadOfHarmonics);
        break;
    case ShowTsTb:
    case ShowTs:
        showTsResult();
        break;
    case UserTextTb:
    case UserText:
        op.runDialog(Dialog::UserText);
        break;
    case Zoom:
        openZoom();
        break;
    case LoadMeasurement:
        finishLoad(op.loadMeasurementFile());
        break;
    case SaveMeasurement:
        op.saveMeasurementFile();
        break;
    case Import133:
        finishLoad(op.importVersion133());
        break;
    case Import21:
        finishLoad(op.importVersion21());
        break;
    case LoadConfiguration:
        switch (op.loadConfigurationFile()) {
        case files::LoadOutcome::Loaded:
            keepRateForBox();
            break;
        case files::LoadOutcome::Failed:
            core::message(116, 0, core::Icon::Error);
            break;
        case files::LoadOutcome::Cancelled:
            break;
        }
        break;
    case SaveConfiguration:
        op.saveConfigurationFile();
        break;
    case ExportFrequencyOrvo:
        op.exportData(Export::FrequencyOrvo);
        break;
    case ExportImpedanceOrvo:
        op.exportData(Export::ImpedanceOrvo);
        break;
    case ExportAmplitudeTernovax:
        op.exportData(Export::AmplitudeTernovax);
        break;
    case ExportPhaseTernovax:
        op.exportData(Export::PhaseTernovax);
        break;
    case ExportImpedanceTernovax:
        op.exportData(Export::ImpedanceTernovax);
        break;
    case ExportImpedancePhaseTernovax:
        op.exportData(Export::ImpedancePhaseTernovax);
        break;
    case ExportTs:
        op.exportData(Export::TsParameters);
        break;
    case ImportMic:
        op.importMicFile();
        break;
    case PrinterSetup:
        op.printerSetup();
        break;
    case PrintTime:
        op.printView(1);
        break;
    case PrintAmplitude:
        op.printView(2);
        break;
    case PrintPhase:
        op.printView(3);
        break;
    case PrintImpedance:
        op.printView(4);
        break;
    case PrintLevel:
        op.printView(5);
        break;
    case PrintCsd:
        op.printView(6);
        break;
    case PrintOverlay:
        op.printView(7);
        break;
    case PrintSum:
        op.printView(8);
        break;
    case PrintTriple:
        op.printView(11);
        break;
    case PrintDistortion:
        op.printView(9);
        break;
    case MeasurementSystem:
        op.runDialog(Dialog::MeasurementSystem);
        break;
    case SoundCard:
        op.runDialog(Dialog::SoundCard);
        break;
    case SignalProcessing:
        op.runDialog(Dialog::SignalProcessing);
        break;
    case Scales:
        op.runDialog(Dialog::Scales);
        break;
    case Colors:
        op.runDialog(Dialog::Colors);
        break;
    case Observer:
        op.runDialog(Dialog::Observer);
        break;
    case Info:
        op.runDialog(Dialog::Info);
        break;
    case Help:
        op.showHelp(std::string());
        break;
    case Exit:
        op.closeMainWindow();
        break;
    default:
        return op.extraCommand(id);
    }
    return true;
}

bool dispatchZoomCommand(int id)
{
    using namespace cmd;
    ShellState& s = g_shell;
    auto view = [&](int kind) {
        s.zoomView = kind;
        s.timeWindowMode = 0;
    };
    switch (id) {
    case ZoomStart:
        s.zoomView = 0;
        break;
    case ZoomTime:
        s.zoomView = 1;
        break;
    case ZoomAmplitude:
        view(2);
        break;
    case ZoomOverlay:
        view(7);
        break;
    case ZoomSum:
        view(8);
        break;
    case ZoomImpedance:
        view(4);
        break;
    case ZoomAmpImp:
        view(3);
        break;
    case ZoomLevel:
        view(5);
        break;
    case ZoomCsd:
        view(6);
        break;
    case ZoomDistortion:
        view(9);
        break;
    case ZoomClose:
        s.zoomOpen = 0;
        s.zoomFollow = 0;
        g_operations->setZoomButton(false);
        g_operations->destroyZoomWindow();
        return true;
    case ZoomTimeWindow:
        s.timeWindowMode = 1;
        break;
    case ZoomX1:
    case ZoomX2:
    case ZoomX4:
        s.fixedFactorX = id == ZoomX1 ? 1 : id == ZoomX2 ? 2 : 4;
        s.timeWindowMode = 0;
        break;
    case ZoomY1:
    case ZoomY2:
    case ZoomY4:
        s.fixedFactorY = id == ZoomY1 ? 1 : id == ZoomY2 ? 2 : 4;
        s.timeWindowMode = 0;
        break;
    case ZoomHelp:
        g_operations->showHelp("Fenster Zoom");
        break;
    default:
        return false;
    }
    g_operations->repaintZoomNow();
    return true;
}

ZoomGeometry zoomGeometry(int width, int height)
{
    ShellState& s = g_shell;
    plot::ZoomState z;
    z.zoomView = s.zoomView;
    z.timeWindowMode = s.timeWindowMode;
    z.fixedFactorX = s.fixedFactorX;
    z.fixedFactorY = s.fixedFactorY;
    z.zoomCenterX = s.zoomCenter[0];
    z.zoomCenterY = s.zoomCenter[1];
    const auto& m = core::settings().markerPos;
    const plot::ZoomGeometry p = plot::zoomGeometry(z, width, height, m[0], m[1]);
    ZoomGeometry g;
    g.factorX = p.zoomFactorX;
    g.factorY = p.zoomFactorY;
    g.originX = p.originX;
    g.originY = p.originY;
    g.targetWidth = p.targetWidth;
    g.targetHeight = p.targetHeight;
    s.zoomFactorX = g.factorX;
    s.zoomFactorY = g.factorY;
    return g;
}

std::string zoomTitle()
{
    return plot::zoomTitle(g_shell.zoomView, g_shell.zoomFactorX, g_shell.zoomFactorY);
}

ZoomMenuMarks zoomMenuMarks()
{
    using namespace cmd;
    static constexpr int viewItems[10] = {ZoomStart,  ZoomTime,      ZoomAmplitude, ZoomAmpImp,
                                          ZoomImpedance, ZoomLevel,  ZoomCsd,       ZoomOverlay,
                                          ZoomSum,    ZoomDistortion};
    const ShellState& s = g_shell;
    ZoomMenuMarks m;
    m.checkedView = (s.zoomView >= 0 && s.zoomView <= 9) ? viewItems[s.zoomView] : 0;
    m.timeWindowEnabled = s.zoomView == 1;
    m.timeWindowChecked = m.timeWindowEnabled && s.timeWindowMode;
    if (!s.timeWindowMode) {
        m.checkedX = s.fixedFactorX == 1 ? ZoomX1 : s.fixedFactorX == 2 ? ZoomX2 : ZoomX4;
        m.checkedY = s.fixedFactorY == 1 ? ZoomY1 : s.fixedFactorY == 2 ? ZoomY2 : ZoomY4;
    }
    return m;
}

} // namespace app
