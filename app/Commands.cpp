#include "app/Commands.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "plot/Zoom.h"

namespace app {

namespace {
ShellState g_shell;
Operations g_operations;

// Calls a hook, or says plainly that the operation is missing from this build.
template <typename F, typename... Args>
void call(const std::function<F>& hook, const char* what, Args&&... args)
{
    if (hook)
        hook(std::forward<Args>(args)...);
    else
        reportNotAvailable(what);
}

void invalidateMain()
{
    if (g_operations.invalidateMain)
        g_operations.invalidateMain();
}

void invalidateZoom()
{
    if (g_shell.zoomOpen && g_operations.invalidateZoom)
        g_operations.invalidateZoom();
}

void renderView(int code)
{
    call(g_operations.renderView, "Diagramme", code);
}

// After a measurement file was loaded or imported: the snapshot of the file becomes the
// settings, every diagram is drawn anew.
void finishLoad(LoadOutcome outcome)
{
    switch (outcome) {
    case LoadOutcome::Loaded:
        core::restoreSnapshot();
        renderView(100);
        refresh();
        break;
    case LoadOutcome::Failed:
        core::message(116, 0, core::Icon::Error);
        break;
    case LoadOutcome::Cancelled:
        break;
    }
}

void load(const std::function<LoadOutcome()>& hook, const char* what)
{
    if (!hook) {
        reportNotAvailable(what);
        return;
    }
    finishLoad(hook());
}

void showOverlayView()
{
    if (g_shell.currentView == 7 && core::messageText(core::str(92), " ", core::Icon::Question,
                                                      core::Buttons::YesNo) == core::Answer::Yes) {
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
    call(g_operations.startLevelMeasurement, "Pegelmessung");
}

void computeCsd()
{
    if (core::settings().sampleRate != 2) {
        core::messageText(core::str(84), " ", core::Icon::Information);
        return;
    }
    if (!g_operations.computeWaterfall) {
        reportNotAvailable("Wasserfallberechnung");
        return;
    }
    // The length is the one the time record was measured with, not the live setting.
    g_operations.computeWaterfall(core::safeTrailerN(core::store().timeRecord.trailerN()));
    renderView(6);
    g_shell.currentView = 6;
    invalidateMain();
    if (g_operations.repaintMainNow)
        g_operations.repaintMainNow();
}

void openZoom()
{
    if (!g_shell.zoomOpen) {
        call(g_operations.createZoomWindow, "Zoomfenster");
        g_shell.zoomOpen = g_operations.createZoomWindow ? 1 : 0;
    }
    if (!g_shell.timeWindowMode) {
        g_shell.zoomFollow = 1;
        if (g_operations.setZoomButton)
            g_operations.setZoomButton(true);
    }
}

void exportData(Export kind)
{
    call(g_operations.exportData, "Export", kind);
}
void runDialog(Dialog d)
{
    call(g_operations.runDialog, "Dialog", d);
}
void printView(int kind)
{
    call(g_operations.printView, "Drucken", kind);
}
} // namespace

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
    return g_operations;
}

void reportNotAvailable(const char* what)
{
    core::messageText(std::string(what) + ": in dieser Programmversion nicht vorhanden.", "OrvoPro",
                      core::Icon::Information);
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

namespace {
// Commands after which the measurement in the store is replaced: loads, imports and the
// measurements that take new data.
bool replacesMeasurement(int id)
{
    using namespace cmd;
    switch (id) {
    case ReferenceTb:
    case Reference:
    case AmplitudePhaseTb:
    case AmplitudePhase:
    case ImpedanceTb:
    case Impedance:
    case TsTb:
    case Ts:
    case LoadMeasurement:
    case Import133:
    case Import21:
    case ImportFrd:
    case ImportZma:
        return true;
    default:
        return id >= RecentFile1 && id < RecentFile1 + RecentFileCount;
    }
}
} // namespace

bool dispatchCommand(int id)
{
    using namespace cmd;
    Operations& op = g_operations;
    if (replacesMeasurement(id) && op.confirmDiscard && !op.confirmDiscard())
        return true;
    switch (id) {
    case ReferenceTb:
    case Reference:
        call(op.runReferenceMeasurement, "Referenzmessung");
        break;
    case AmplitudePhaseTb:
    case AmplitudePhase:
        call(op.runAmplitudePhaseMeasurement, "Amplituden- und Phasenmessung");
        break;
    case ImpedanceTb:
    case Impedance:
        call(op.runImpedanceMeasurement, "Impedanzmessung");
        break;
    case TsTb:
    case Ts:
        call(op.measureTsParameters, "T/S Parametermessung");
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
    case ShowTsTb:
    case ShowTs:
        showTsResult();
        break;
    case UserTextTb:
    case UserText:
        runDialog(Dialog::UserText);
        break;
    case Zoom:
        openZoom();
        break;
    case LoadMeasurement:
        load(op.loadMeasurementFile, "Messdatei laden");
        break;
    case SaveMeasurement:
        call(op.saveMeasurementFile, "Messdatei speichern");
        break;
    case Import133:
        load(op.importVersion133, "Import ORVO 1.33");
        break;
    case Import21:
        load(op.importVersion21, "Import ORVO 2.1");
        break;
    case LoadConfiguration:
        if (!op.loadConfigurationFile)
            reportNotAvailable("Konfigurationsdatei laden");
        else if (!op.loadConfigurationFile())
            core::message(116, 0, core::Icon::Error);
        break;
    case SaveConfiguration:
        call(op.saveConfigurationFile, "Konfigurationsdatei speichern");
        break;
    case ExportFrequencyOrvo:
        exportData(Export::FrequencyOrvo);
        break;
    case ExportImpedanceOrvo:
        exportData(Export::ImpedanceOrvo);
        break;
    case ExportAmplitudeTernovax:
        exportData(Export::AmplitudeTernovax);
        break;
    case ExportPhaseTernovax:
        exportData(Export::PhaseTernovax);
        break;
    case ExportImpedanceTernovax:
        exportData(Export::ImpedanceTernovax);
        break;
    case ExportImpedancePhaseTernovax:
        exportData(Export::ImpedancePhaseTernovax);
        break;
    case ExportTs:
        exportData(Export::TsParameters);
        break;
    case ImportMic:
        call(op.importMicFile, "Mikrofondaten importieren");
        break;
    case PrinterSetup:
        call(op.printerSetup, "Drucker einrichten");
        break;
    case PrintTime:
        printView(1);
        break;
    case PrintAmplitude:
        printView(2);
        break;
    case PrintPhase:
        printView(3);
        break;
    case PrintImpedance:
        printView(4);
        break;
    case PrintLevel:
        printView(5);
        break;
    case PrintCsd:
        printView(6);
        break;
    case PrintOverlay:
        printView(7);
        break;
    case PrintSum:
        printView(8);
        break;
    case PrintTriple:
        printView(11);
        break;
    case MeasurementSystem:
        runDialog(Dialog::MeasurementSystem);
        break;
    case SoundCard:
        runDialog(Dialog::SoundCard);
        break;
    case SignalProcessing:
        runDialog(Dialog::SignalProcessing);
        break;
    case Scales:
        runDialog(Dialog::Scales);
        break;
    case Colors:
        runDialog(Dialog::Colors);
        break;
    case Observer:
        runDialog(Dialog::Observer);
        break;
    case Info:
        runDialog(Dialog::Info);
        break;
    case Help:
        call(op.showHelp, "Hilfe", std::string());
        break;
    case Exit:
        call(op.closeMainWindow, "Beenden");
        break;
    default:
        return op.extraCommand && op.extraCommand(id);
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
    case ZoomClose:
        s.zoomOpen = 0;
        s.zoomFollow = 0;
        if (g_operations.setZoomButton)
            g_operations.setZoomButton(false);
        if (g_operations.destroyZoomWindow)
            g_operations.destroyZoomWindow();
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
        call(g_operations.showHelp, "Hilfe", std::string("Fenster Zoom"));
        break;
    default:
        return false;
    }
    if (g_operations.repaintZoomNow)
        g_operations.repaintZoomNow();
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
    static constexpr int viewItems[9] = {ZoomStart,  ZoomTime,      ZoomAmplitude,
                                         ZoomAmpImp, ZoomImpedance, ZoomLevel,
                                         ZoomCsd,    ZoomOverlay,   ZoomSum};
    const ShellState& s = g_shell;
    ZoomMenuMarks m;
    m.checkedView = (s.zoomView >= 0 && s.zoomView <= 8) ? viewItems[s.zoomView] : 0;
    m.timeWindowEnabled = s.zoomView == 1;
    m.timeWindowChecked = m.timeWindowEnabled && s.timeWindowMode;
    if (!s.timeWindowMode) {
        m.checkedX = s.fixedFactorX == 1 ? ZoomX1 : s.fixedFactorX == 2 ? ZoomX2 : ZoomX4;
        m.checkedY = s.fixedFactorY == 1 ? ZoomY1 : s.fixedFactorY == 2 ? ZoomY2 : ZoomY4;
    }
    return m;
}

} // namespace app
