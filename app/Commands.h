// The shell's command table: every menu and toolbar id of the main window and the zoom
// window, the shell state the commands change, and the operations they reach.
//
// The table itself is plain C++ so it can be exercised without a window. Everything it
// reaches outside its own state goes through `Operations`: the measurement runs, files and
// dialogs of the other layers, and the window side (invalidate, print, help). The program
// installs its implementation; tests install recorders instead.
#pragma once

#include "app/UnsavedLoss.h"
#include "files/LoadOutcome.h"

#include <array>
#include <string>

namespace app
{

namespace cmd
{
// Toolbar and menu ids of the main window.
inline constexpr int ReferenceTb = 40001, Reference = 40035;
inline constexpr int AmplitudePhaseTb = 40002, AmplitudePhase = 40048;
inline constexpr int ImpedanceTb = 40003, Impedance = 40036;
inline constexpr int TsTb = 40004, Ts = 40037;
inline constexpr int LevelTb = 40093, Level = 40098;
inline constexpr int CsdTb = 40088, Csd = 40099;
inline constexpr int ShowTimeTb = 40005, ShowTime = 40038;
inline constexpr int ShowAmplitudeTb = 40006, ShowAmplitude = 40039;
inline constexpr int ShowOverlayTb = 40121, ShowOverlay = 40122;
inline constexpr int ShowSumTb = 40126, ShowSum = 40127;
inline constexpr int ShowImpedanceTb = 40052, ShowImpedance = 40040;
inline constexpr int ShowAmpImpTb = 40110, ShowAmpImp = 40111;
inline constexpr int ShowTripleTb = 40130, ShowTriple = 40131;
inline constexpr int ShowTsTb = 40054, ShowTs = 40049;
inline constexpr int ShowLevelTb = 40090, ShowLevel = 40100;
inline constexpr int ShowCsdTb = 40097, ShowCsd = 40101;
inline constexpr int UserTextTb = 40134, UserText = 40135;
inline constexpr int Zoom = 40075;
inline constexpr int LoadMeasurement = 40010, SaveMeasurement = 40011;
inline constexpr int LoadConfiguration = 40081, SaveConfiguration = 40082;
inline constexpr int ExportFrequencyOrvo = 40084, ExportImpedanceOrvo = 40085;
inline constexpr int ExportAmplitudeTernovax = 40114, ExportPhaseTernovax = 40116;
inline constexpr int ExportImpedanceTernovax = 40117, ExportImpedancePhaseTernovax = 40118;
inline constexpr int ExportTs = 40119;
inline constexpr int Import133 = 40125, Import21 = 40136;
inline constexpr int ImportMic = 40086;
inline constexpr int PrinterSetup = 40042;
inline constexpr int PrintTime = 40044, PrintAmplitude = 40045, PrintPhase = 40083,
                     PrintImpedance = 40046, PrintLevel = 40108, PrintCsd = 40109,
                     PrintOverlay = 40124, PrintSum = 40128, PrintTriple = 40132;
inline constexpr int MeasurementSystem = 40033, SignalProcessing = 40032;
inline constexpr int SoundCard = 40140;
inline constexpr int Scales = 40103, Colors = 40104, Observer = 40105, Info = 40031;
inline constexpr int Help = 40087;
inline constexpr int Exit = 40079;

// Zoom window (menu 131).
inline constexpr int ZoomStart = 40072, ZoomTime = 40068, ZoomAmplitude = 40069,
                     ZoomOverlay = 40123, ZoomSum = 40129, ZoomImpedance = 40070,
                     ZoomAmpImp = 40112, ZoomLevel = 40106, ZoomCsd = 40107;
inline constexpr int ZoomClose = 40080, ZoomTimeWindow = 40071;
inline constexpr int ZoomX1 = 40061, ZoomX2 = 40062, ZoomX4 = 40063;
inline constexpr int ZoomY1 = 40064, ZoomY2 = 40065, ZoomY4 = 40067;
inline constexpr int ZoomHelp = 40087;

// Commands of the exchange formats and desktop comforts; they go to Operations::extraCommand.
inline constexpr int ExportFrd = 41001, ExportZma = 41002, ExportCsv = 41003;
inline constexpr int ImportFrd = 41004, ImportZma = 41005;
inline constexpr int TsFromFiles = 41006;
inline constexpr int SaveDiagram = 41007, CopyDiagram = 41008, PrintCurrent = 41009;
inline constexpr int RecentFile1 = 41011, RecentFileCount = 5; // 41011 .. 41015

// The distortion view (view 9) and what it draws; the table takes these itself.
inline constexpr int ShowDistortionTb = 41021, ShowDistortion = 41022;
inline constexpr int PrintDistortion = 41023, ZoomDistortion = 41024;
inline constexpr int ShowHigherHarmonics = 41025, ShowThdInstead = 41026;
} // namespace cmd

// The view a DiagramKind number shows as one diagram or the three-panel view: 1..9 and 11.
// The start picture (0) is none.
bool isDiagramView(int view);

// The check mark of a menu entry that switches something on and off: 1 checked, 0 not,
// -1 for an entry that is no such switch.
int menuCheck(int id);

// The dialogs the shell runs by their template numbers.
enum class Dialog {
    MeasurementSystem = 122,
    SignalProcessing = 123,
    Scales = 124,
    Colors = 126,
    Info = 146,
    Observer = 153,
    UserText = 170,
    SoundCard = 200, // "Soundkarte…", the program's own
};

enum class Export {
    FrequencyOrvo,
    ImpedanceOrvo,
    AmplitudeTernovax,
    PhaseTernovax,
    ImpedanceTernovax,
    ImpedancePhaseTernovax,
    TsParameters,
};

// Process-wide state of the shell (main window and zoom window).
struct ShellState {
    int currentView = 0; // DiagramKind shown in the main window
    int zoomOpen = 0;
    int zoomView = 1; // DiagramKind shown in the zoom window
    int timeWindowMode = 1;
    int fixedFactorX = 4;
    int fixedFactorY = 4;
    float zoomFactorX = 1.0f;
    float zoomFactorY = 1.0f;
    std::array<int, 2> zoomCenter{6000, 6000};
    int zoomFollow = 0; // the toolbar zoom button is pressed
    std::array<int, 2> lastPlotPos{0, 0};
    int printerChosen = 0;
    bool simulator = false; // the box is the simulated one
};

ShellState& shell();
void resetShell();

// Everything the command table reaches outside its own state. Each default is what a build
// without that operation does: a command says it is not available instead of doing nothing,
// the window side and the pictures stay as they are. The program implements it once (Desktop);
// tests install recorders.
class Operations
{
public:
    Operations() = default;
    virtual ~Operations() = default;
    Operations(const Operations&) = delete;
    Operations& operator=(const Operations&) = delete;

    virtual void runReferenceMeasurement();
    virtual void runAmplitudePhaseMeasurement();
    virtual void runImpedanceMeasurement();
    virtual void measureTsParameters();
    virtual void startLevelMeasurement();
    // False when the build has no waterfall (said already); the view then stays as it is.
    virtual bool computeWaterfall(int fftLength);
    // False when the build has no diagrams; nothing is said, the caller decides.
    virtual bool renderView(int code);

    // The loads say "not available" by default and give Cancelled, so nothing follows.
    virtual files::LoadOutcome loadMeasurementFile();
    virtual void saveMeasurementFile();
    virtual files::LoadOutcome importVersion133();
    virtual files::LoadOutcome importVersion21();
    virtual files::LoadOutcome loadConfigurationFile(); // Failed: reported by the shell
    virtual void saveConfigurationFile();
    virtual void exportData(Export kind);
    virtual void importMicFile();

    virtual void runDialog(Dialog d);

    // Window side.
    virtual void invalidateMain() {} // the drawing area is painted again later
    virtual void invalidateZoom() {}
    virtual void repaintMainNow() {} // painted before the call returns
    virtual void repaintZoomNow() {}
    // Only called while none exists; false when the build has no zoom window (said already).
    virtual bool createZoomWindow();
    virtual void destroyZoomWindow() {}
    virtual void setZoomButton(bool pressed) { (void)pressed; }
    virtual void printerSetup();
    virtual void printView(int kind);
    virtual void showHelp(const std::string& keyword); // "" = start page
    virtual void closeMainWindow();

    // Commands the table itself does not know (exchange formats, pictures, recent files):
    // false for an id it does not take either.
    virtual bool extraCommand(int id)
    {
        (void)id;
        return false;
    }
    // Asked before a command replaces data of the measurement: false keeps everything as it
    // is (the user cancelled, or wanted to save and the save did not happen). By default no
    // question.
    virtual bool confirmDiscard(Replaces what)
    {
        (void)what;
        return true;
    }
};

// The operations installed, or the defaults when none are.
Operations& operations();
// Installs `ops` (owned by the caller, who uninstalls it before it goes); nullptr: the
// defaults.
void setOperations(Operations* ops);

// Runs the command of a main-window menu or toolbar id. Returns false for an unknown id.
bool dispatchCommand(int id);

// Runs a command of the zoom window's menu. Returns false for an unknown id.
bool dispatchZoomCommand(int id);

// "Show view k": the view becomes current and the drawing area is painted again.
void showView(int kind);
// Invalidate the drawing area and, while it is open, the zoom window.
void refresh();

// After a measurement file was loaded or imported: the file's snapshot becomes the settings
// and every diagram is drawn anew; a failed load gets message 116.
void finishLoad(files::LoadOutcome outcome);

// The message a command gives when its operation is not part of this build.
void reportNotAvailable(const char* what);

// Zoom window arithmetic for a client of W x H pixels (uses and updates the zoom factors of
// the shell state).
struct ZoomGeometry {
    float factorX = 1.0f;
    float factorY = 1.0f;
    int originX = 0;
    int originY = 0;
    int targetWidth = 0;
    int targetHeight = 0;
};
ZoomGeometry zoomGeometry(int width, int height);

// "ZOOM   %s (%s%.1f; %s=%.1f)" with the view name and the factors in effect.
std::string zoomTitle();

// Check marks of menu 131 as they follow from the state.
struct ZoomMenuMarks {
    int checkedView = 0; // command id of the checked view item
    bool timeWindowEnabled = false;
    bool timeWindowChecked = false;
    int checkedX = 0; // command id of the checked X factor, 0 = none
    int checkedY = 0;
};
ZoomMenuMarks zoomMenuMarks();

} // namespace app
