#include "app/MenuModel.h"

#include "app/Commands.h"
#include "core/Strings.h"

namespace app {

namespace {
using K = MenuEntry::Kind;

MenuEntry item(const char* text, int id)
{
    return {K::Command, text, id, {}};
}
MenuEntry separator()
{
    return {K::Separator, "", 0, {}};
}
MenuEntry popup(const char* text, std::vector<MenuEntry> items)
{
    return {K::Popup, text, 0, std::move(items)};
}

std::vector<MenuEntry> buildMainMenu()
{
    using namespace cmd;
    return {
        popup(
            "&Datei",
            {
                item("&Messdatei laden", LoadMeasurement),
                item("M&essdatei speichern", SaveMeasurement),
                separator(),
                item("&Konfigurationsdatei laden", LoadConfiguration),
                item("K&onfigurationsdatei speichern", SaveConfiguration),
                separator(),
                popup("Messdaten ex&portieren",
                      {
                          popup("&Frequenzgangdaten",
                                {
                                    item("O&RVO", ExportFrequencyOrvo),
                                    popup("T&ERNOVAX", {item("A&MPLITUDE", ExportAmplitudeTernovax),
                                                        item("P&HASE", ExportPhaseTernovax)}),
                                }),
                          popup("&Impedanzdaten",
                                {
                                    item("O&RVO", ExportImpedanceOrvo),
                                    popup("T&ERNOVAX",
                                          {item("A&MPLITUDE", ExportImpedanceTernovax),
                                           item("P&HASE", ExportImpedancePhaseTernovax)}),
                                }),
                          item("&TS - Parameter", ExportTs),
                          separator(),
                          item("F&RD-Datei (Amplitude und Phase)…", ExportFrd),
                          item("&ZMA-Datei (Impedanz)…", ExportZma),
                          item("&CSV-Datei (Kurven der Ansicht)…", ExportCsv),
                      }),
                separator(),
                item("Messdaten importieren von ORVO &1.33", Import133),
                item("Messdaten importieren von ORVO &2.1", Import21),
                item("FRD-Datei als Über&lagerung importieren…", ImportFrd),
                item("ZMA-Datei als Impeda&nz importieren…", ImportZma),
                separator(),
                item("Mikrofondaten &importieren", ImportMic),
                separator(),
                item("Drucker ein&richten", PrinterSetup),
                popup("&Drucken",
                      {
                          item("&Zeitsignal", PrintTime),
                          item("&Amplitudenfrequenzgang", PrintAmplitude),
                          item("Amplitudenfrequenzgang (&5 überlagert)", PrintOverlay),
                          item("Amplitudenfrequenzgang (&Summe)", PrintSum),
                          item("&Phasenfrequenzgang", PrintPhase),
                          item("&Impedanzfrequenzgang", PrintImpedance),
                          item("Zeitsignal, Amplitudenfrequenzgang, Impe&danz", PrintTriple),
                          item("P&egel (Terz)", PrintLevel),
                          item("&Wasserfall (CSD)", PrintCsd),
                          item("K&lirrfaktor", PrintDistortion),
                          separator(),
                          item("A&ktuelle Ansicht", PrintCurrent),
                      }),
                item("Diagramm speichern &als…", SaveDiagram),
                separator(),
                popup("&Zuletzt geöffnet",
                      {
                          item("1", RecentFile1),
                          item("2", RecentFile1 + 1),
                          item("3", RecentFile1 + 2),
                          item("4", RecentFile1 + 3),
                          item("5", RecentFile1 + 4),
                      }),
                separator(),
                item("&Beenden", Exit),
            }),
        popup("B&earbeiten", {item("&Kopieren", CopyDiagram)}),
        popup("&Meßsystem",
              {
                  item("&Meßsystem…", MeasurementSystem),
                  item("&Soundkarte…", SoundCard),
              }),
        item("Signal&bearbeitung", SignalProcessing),
        popup("Me&ssungen",
              {
                  item("&Referenzmessung", Reference),
                  item("&Amplituden- und Phasenmessung", AmplitudePhase),
                  item("&Impedanzmessung", Impedance),
                  item("&T/S Parametermessung", Ts),
                  item("&Pegelmessung", Level),
                  item("&CSD (Wasserfall) berechnen", Csd),
                  separator(),
                  item("T/S aus Impe&danzdateien…", TsFromFiles),
              }),
        popup("Darste&llung",
              {
                  item("&Zeitsignal", ShowTime),
                  item("&Amplitudenfrequenzgang", ShowAmplitude),
                  item("Amplitudenfrequenzgang (&5 überlagert)", ShowOverlay),
                  item("Amplitudenfrequenzgang (&Summe)", ShowSum),
                  item("&Impedanzfrequenzgang", ShowImpedance),
                  item("Amp&lituden/Impedanzfrequenzgang", ShowAmpImp),
                  item("Zeitsignal, Amplituden&frequenzgang, Impedanz", ShowTriple),
                  item("&T/S Parameter", ShowTs),
                  item("&Pegel (Terz)", ShowLevel),
                  item("&CSD (Waserfalldiagram) ", ShowCsd),
                  item("&Klirrfaktor", ShowDistortion),
                  item("H&4 und H5 zeigen", ShowHigherHarmonics),
                  item("T&HD statt Harmonische", ShowThdInstead),
                  separator(),
                  item("&eigener Text", UserText),
                  item("Zoo&m-Fenster", Zoom),
              }),
        popup("Einstellun&gen",
              {
                  item("&Skalen", Scales),
                  item("&Position Beobachter CSD", Observer),
                  item("&Farben/Linien", Colors),
              }),
        item("&Hilfe", Help),
        item("&Info", Info),
    };
}

// The zoom window's menu: its views, the zoom factors, help and closing.
std::vector<MenuEntry> buildZoomMenu()
{
    using namespace cmd;
    return {
        popup("&Darstellung",
              {
                  item("S&tartbild", ZoomStart),
                  item("&Zeitsignal", ZoomTime),
                  item("&Amplitudenfrequenzgang", ZoomAmplitude),
                  item("Amplitudenfrequenzgang (&5 überlagert)", ZoomOverlay),
                  item("Amplitudenfrequenzgang (&Summe)", ZoomSum),
                  item("&Impedanzfrequenzgang", ZoomImpedance),
                  item("Amp&lituden/Impedanzfrequenzgang", ZoomAmpImp),
                  item("&Pegel (Terz)", ZoomLevel),
                  item("&Wasserfall (CSD)", ZoomCsd),
                  item("&Klirrfaktor", ZoomDistortion),
              }),
        popup("&Faktor",
              {
                  item("&Zeitfenster", ZoomTimeWindow),
                  separator(),
                  item("&XFaktor=1", ZoomX1),
                  item("X&Faktor=2", ZoomX2),
                  item("XF&aktor=4", ZoomX4),
                  separator(),
                  item("YFaktor=&1", ZoomY1),
                  item("YFaktor=&2", ZoomY2),
                  item("YFaktor=&4", ZoomY4),
              }),
        item("&Hilfe", ZoomHelp),
        item("&Beenden", ZoomClose),
    };
}
} // namespace

const std::vector<MenuEntry>& mainMenu()
{
    static const std::vector<MenuEntry> menu = buildMainMenu();
    return menu;
}

const std::vector<MenuEntry>& zoomMenu()
{
    static const std::vector<MenuEntry> menu = buildZoomMenu();
    return menu;
}

const std::vector<ToolbarEntry>& toolbarEntries()
{
    using namespace cmd;
    static const std::vector<ToolbarEntry> entries = {
        {0, ReferenceTb, 5},
        {1, AmplitudePhaseTb, 6},
        {2, ImpedanceTb, 7},
        {3, TsTb, 8},
        {4, LevelTb, 60},
        {5, CsdTb, 61},
        {-1, 0, 0},
        {6, ShowTimeTb, 9},
        {7, ShowAmplitudeTb, 10},
        {8, ShowOverlayTb, 43},
        {9, ShowSumTb, 94},
        {10, ShowImpedanceTb, 12},
        {11, ShowAmpImpTb, 66},
        {12, ShowTripleTb, 108},
        {13, ShowTsTb, 13},
        {14, ShowLevelTb, 62},
        {15, ShowCsdTb, 63},
        {18, ShowDistortionTb, 0, "Klirrfaktor anzeigen"},
        {-1, 0, 0},
        {16, UserTextTb, 110},
        {-1, 0, 0},
        {17, Zoom, 102},
    };
    return entries;
}

const char* toolTipFor(int id)
{
    for (const ToolbarEntry& e : toolbarEntries())
        if (e.id != 0 && e.id == id)
            return e.toolTipText ? e.toolTipText : core::str(e.toolTipId);
    return nullptr;
}

int viewOfButton(int id)
{
    using namespace cmd;
    switch (id) {
    case ShowTimeTb:
        return 1;
    case ShowAmplitudeTb:
        return 2;
    case ShowAmpImpTb:
        return 3;
    case ShowImpedanceTb:
        return 4;
    case ShowLevelTb:
        return 5;
    case ShowCsdTb:
        return 6;
    case ShowOverlayTb:
        return 7;
    case ShowSumTb:
        return 8;
    case ShowTripleTb:
        return 11;
    case ShowDistortionTb:
        return 9;
    default:
        return 0;
    }
}

} // namespace app
