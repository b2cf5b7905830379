#include "app/Desktop.h"

#include "app/DesktopDialogs.h"
#include "app/DiagramFiles.h"
#include "app/HelpBrowser.h"
#include "app/MainWindow.h"
#include "app/Wiring.h"
#include "box/Runs.h"
#include "box/TsProcedure.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Waterfall.h"
#include "files/ConfigurationFile.h"
#include "files/Export.h"
#include "files/FileDialogs.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"
#include "files/MicFile.h"
#include "plot/Render.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QTime>
#include <QTranslator>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace app
{

namespace
{

std::string recentKey(int i)
{
    return "ZuletztGeoeffnet/" + std::to_string(i + 1);
}

int readInt(const unsigned char* image, std::size_t offset)
{
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= static_cast<std::uint32_t>(image[offset + k]) << (8 * k);
    return static_cast<int>(v);
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

bool installQtGermanTranslations()
{
    // Owned by the application object, so it lives as long as the texts are needed.
    auto* german = new QTranslator(QCoreApplication::instance());
    if (!german->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete german;
        return false;
    }
    return QCoreApplication::installTranslator(german);
}

std::vector<std::string> withRecentFile(std::vector<std::string> list, const std::string& path)
{
    std::erase(list, path);
    list.insert(list.begin(), path);
    if (list.size() > static_cast<std::size_t>(kRecentFileCount))
        list.resize(kRecentFileCount);
    return list;
}

std::string firstStartFolder(const std::string& documents, const std::string& home)
{
    std::error_code ec;
    if (!documents.empty() && std::filesystem::is_directory(documents, ec))
        return documents;
    return home;
}

bool plausibleConfigurationImage(const unsigned char* image, std::size_t size)
{
    if (size != files::kConfigurationFileSize)
        return false;
    namespace c = files::cfg;
    const int rate = readInt(image, c::kSampleRate);
    const int n = readInt(image, c::kFftLength);
    const int input = readInt(image, c::kMeasuringInput);
    const int m1 = readInt(image, c::kMarkerPos);
    const int m2 = readInt(image, c::kMarkerPos + 4);
    const int port = readInt(image, c::kParallelPort);
    return rate >= 1 && rate <= 3 && (n == 512 || n == 1024 || n == 2048 || n == 4096) &&
           input >= 1 && input <= 4 && m1 >= 0 && m1 <= 10000 && m2 >= 0 && m2 <= 10000 &&
           port >= 1 && port <= 3;
}

Desktop::Desktop(MainWindow& window) : QObject(&window), window_(window)
{
    markSaved();
}

Desktop::~Desktop()
{
    // Whoever installed it uninstalls it first; this only keeps a forgotten one from
    // pointing at a desktop that is gone.
    if (&operations() == this)
        setOperations(nullptr);
}

namespace
{
// A run that took a new curve leaves slot 0 without a name (the rotation clears it); the
// overlay's legend then calls it by the time it was measured.
void nameMeasuredCurve(const char* what)
{
    core::MeasurementStore& st = core::store();
    if (st.slotOccupied[0] != 1 || !st.overlayTags[0].name.empty())
        return;
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    st.overlayTags[0].name = std::string(what) + " " + time.toStdString();
    plot::renderView(core::RenderCode::Overlay);
}
} // namespace

void Desktop::runReferenceMeasurement()
{
    box::runReferenceMeasurement(plot::viewRenderer());
    nameMeasuredCurve("Referenz");
}

void Desktop::runAmplitudePhaseMeasurement()
{
    box::runAmplitudePhaseMeasurement(plot::viewRenderer());
    nameMeasuredCurve("Messung");
}

void Desktop::runImpedanceMeasurement()
{
    box::runImpedanceMeasurement(plot::viewRenderer());
}

void Desktop::measureTsParameters()
{
    ts::measureTsParameters(plot::viewRenderer());
}

void Desktop::startLevelMeasurement()
{
#ifdef ORVO_HAVE_DIALOGS
    runLevelMeasurement(window_);
#else
    Operations::startLevelMeasurement();
#endif
}

bool Desktop::computeWaterfall(int fftLength)
{
    dsp::computeWaterfall(fftLength);
    return true;
}

bool Desktop::renderView(int code)
{
    plot::renderView(code);
    return true;
}

files::LoadOutcome Desktop::loadMeasurementFile()
{
    return loadMeasurement();
}

void Desktop::saveMeasurementFile()
{
    saveMeasurement();
}

// An older file imported is a file on disk: nothing is lost when it is not saved again.
files::LoadOutcome Desktop::importVersion133()
{
    const files::LoadOutcome o = files::importVersion133();
    if (o == files::LoadOutcome::Loaded) {
        core::nameOverlayCurves("ORVO 1.33");
        markSaved();
        window_.setOpenFile(""); // the old file is not what Speichern writes
    }
    return o;
}

files::LoadOutcome Desktop::importVersion21()
{
    const files::LoadOutcome o = files::importVersion21();
    if (o == files::LoadOutcome::Loaded) {
        core::nameOverlayCurves("ORVO 2.1");
        markSaved();
        window_.setOpenFile(""); // the old file is not what Speichern writes
    }
    return o;
}

files::LoadOutcome Desktop::loadConfigurationFile()
{
    return files::loadConfigurationFile() != 0 ? files::LoadOutcome::Loaded
                                               : files::LoadOutcome::Failed;
}

void Desktop::saveConfigurationFile()
{
    files::saveConfigurationFile();
}

void Desktop::exportData(Export kind)
{
    files::exportFile(exportKind(kind));
}

void Desktop::importMicFile()
{
    files::importMicFile();
}

void Desktop::runDialog(Dialog d)
{
#ifdef ORVO_HAVE_DIALOGS
    runWindowDialog(window_, d);
#else
    Operations::runDialog(d);
#endif
}

void Desktop::invalidateMain()
{
    window_.invalidateMain();
}

void Desktop::invalidateZoom()
{
    window_.invalidateZoom();
}

void Desktop::repaintMainNow()
{
    window_.repaintMainNow();
}

void Desktop::repaintZoomNow()
{
    window_.repaintZoomNow();
}

bool Desktop::createZoomWindow()
{
    window_.openZoomWindow();
    return true;
}

void Desktop::destroyZoomWindow()
{
    window_.closeZoomWindow();
}

void Desktop::setZoomButton(bool pressed)
{
    window_.setZoomButton(pressed);
}

void Desktop::printerSetup()
{
    window_.printerSetup();
}

void Desktop::printView(int kind)
{
    window_.printView(kind);
}

void Desktop::showHelp(const std::string& keyword)
{
    app::showHelp(&window_, keyword);
}

void Desktop::closeMainWindow()
{
    window_.close();
}

void Desktop::markSaved()
{
    savedImage_ = files::measurementImage();
}

bool Desktop::measurementUnsaved() const
{
    return files::measurementImage() != savedImage_;
}

bool Desktop::confirmDiscard(Replaces what)
{
    const bool axisChanged = box::amplitudeAxisIndex() != core::store().overlayAxisIndex;
    if (!losesUnsavedData(what, savedImage_, files::measurementImage(), axisChanged))
        return true;
    switch (core::messageText("Messung speichern?", "OrvoPro", core::Icon::Question,
                              core::Buttons::YesNoCancel)) {
    case core::Answer::No:
        return true;
    case core::Answer::Yes:
    case core::Answer::Ok:
        saveMeasurement();
        // A cancelled save dialog or a failed write keeps the measurement.
        return !measurementUnsaved();
    case core::Answer::Cancel:
        break;
    }
    return false;
}

files::LoadOutcome Desktop::loadMeasurement()
{
    std::string path;
    if (!files::openDialog(41, "mes", path))
        return files::LoadOutcome::Cancelled;
    return loadMeasurementFrom(path);
}

files::LoadOutcome Desktop::loadMeasurementFrom(const std::string& path)
{
    if (files::readMeasurementFile(path) != files::FileStatus::Loaded)
        return files::LoadOutcome::Failed;
    core::nameOverlayCurves(QFileInfo(QString::fromStdString(path)).fileName().toStdString());
    markSaved();
    rememberFile(path);
    window_.setOpenFile(path);
    return files::LoadOutcome::Loaded;
}

void Desktop::saveMeasurement()
{
    std::string path;
    if (!files::saveDialog(42, "mes", path))
        return;
    if (files::fileExists(path) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return;
    if (files::writeMeasurementFile(path) != files::WriteStatus::Written)
        return;
    markSaved();
    rememberFile(path);
    window_.setOpenFile(path);
}

std::vector<std::string> Desktop::recentFiles() const
{
    std::vector<std::string> list;
    for (int i = 0; i < kRecentFileCount; ++i)
        if (auto v = core::settingsStore().value(recentKey(i)); v && !v->empty())
            list.push_back(*v);
    return list;
}

void Desktop::rememberFile(const std::string& path)
{
    const std::string absolute =
        QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    const std::vector<std::string> list = withRecentFile(recentFiles(), absolute);
    for (int i = 0; i < kRecentFileCount; ++i)
        core::settingsStore().setValue(recentKey(i),
                                       i < static_cast<int>(list.size()) ? list[i] : "");
    updateRecentMenu();
}

void Desktop::updateRecentMenu()
{
    const std::vector<std::string> list = recentFiles();
    QMenu* menu = nullptr;
    for (int i = 0; i < kRecentFileCount; ++i) {
        QAction* a = window_.commandAction(cmd::RecentFile1 + i);
        if (a == nullptr)
            continue;
        const bool used = i < static_cast<int>(list.size());
        if (used) {
            const QFileInfo info(QString::fromStdString(list[i]));
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(info.fileName()));
            a->setToolTip(info.absoluteFilePath());
            a->setStatusTip(info.absoluteFilePath());
        }
        a->setVisible(used);
        if (!menu)
            menu = qobject_cast<QMenu*>(a->parent());
    }
    if (menu && menu->menuAction())
        menu->menuAction()->setEnabled(!list.empty());
}

void Desktop::openRecent(int index)
{
    const std::vector<std::string> list = recentFiles();
    if (index < 0 || index >= static_cast<int>(list.size()))
        return;
    const files::LoadOutcome o = loadMeasurementFrom(list[index]);
    finishLoad(o);
}

bool Desktop::restoreKeptConfiguration()
{
    if (keptPath_.empty() || !files::fileExists(keptPath_))
        return false;
    files::Bytes image;
    const files::ReadStatus rs =
        files::readFileStart(keptPath_, files::kConfigurationFileSize + 1, image);
    if (rs == files::ReadStatus::Ok && plausibleConfigurationImage(image.data(), image.size())) {
        files::applyConfigurationImage(image.data());
        core::writePortToRegistry(core::settings().parallelPort);
        // The box decides about 3.2 kHz at every start, whatever was kept.
        core::settings().sampleRate =
            core::rateCodeForBox(core::settings().sampleRate, core::threeKilohertzAllowed != 0);
        renderView(100);
        refresh();
        return true;
    }
    // Set aside under a name of its own, so the next exit does not overwrite what may still
    // be of use, and the start goes on with the built-in settings.
    const std::string stamp =
        keptPath_ + "." +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
    std::string aside = stamp + ".defekt";
    for (int n = 2; files::fileExists(aside) && n < 100; ++n)
        aside = stamp + "-" + std::to_string(n) + ".defekt";
    std::error_code ec;
    std::filesystem::rename(keptPath_, aside, ec);
    core::messageText("Die beim letzten Beenden gespeicherten Einstellungen sind beschädigt und "
                      "werden nicht geladen:\n" +
                          keptPath_ + "\n" +
                          (ec ? std::string("Die Datei konnte nicht umbenannt werden.")
                              : "Sie wurde beiseitegelegt als:\n" + aside) +
                          "\nDas Programm startet mit den Grundeinstellungen.",
                      "OrvoPro", core::Icon::Warning);
    return false;
}

void Desktop::keepConfiguration()
{
    if (keptPath_.empty())
        return;
    QDir().mkpath(QFileInfo(QString::fromStdString(keptPath_)).absolutePath());
    files::writeConfigurationFile(keptPath_);
}

bool Desktop::runCommand(int id)
{
    switch (id) {
    case cmd::ExportFrd:
        exportFrd();
        return true;
    case cmd::ExportZma:
        exportZma();
        return true;
    case cmd::ExportCsv:
        exportCsv();
        return true;
    case cmd::ImportFrd:
        importFrd();
        return true;
    case cmd::ImportZma:
        importZma();
        return true;
    case cmd::TsFromFiles:
        tsFromFiles();
        return true;
    case cmd::SaveDiagram:
        saveDiagram();
        return true;
    case cmd::CopyDiagram:
        copyDiagram();
        return true;
    case cmd::PrintCurrent:
        printCurrent();
        return true;
    default:
        break;
    }
    if (id >= cmd::RecentFile1 && id < cmd::RecentFile1 + kRecentFileCount) {
        openRecent(id - cmd::RecentFile1);
        return true;
    }
    return false;
}

void Desktop::saveDiagram()
{
    const int view = shell().currentView;
    if (!isDiagramView(view)) {
        core::messageText("Die Startansicht ist kein Diagramm; bitte zuerst eine Ansicht wählen.",
                          "Diagramm speichern als…", core::Icon::Information);
        return;
    }
    // "Wie im Fenster" is the picture the screen shows, in its device pixels.
    const QWidget* area = window_.drawingArea();
    const QSize shown = devicePixelSize(area->size(), area->devicePixelRatioF());
    DiagramChoice choice;
    choice.width = shown.width();
    choice.height = shown.height();
    if (!runSaveDiagramDialog(&window_, shown.width(), shown.height(), choice))
        return;
    if (files::fileExists(choice.path) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return;
    saveDiagramFile(view, choice.path, choice.format, choice.width, choice.height);
}

void Desktop::copyDiagram()
{
    const QWidget* area = window_.drawingArea();
    const QSize shown = devicePixelSize(area->size(), area->devicePixelRatioF());
    QApplication::clipboard()->setImage(
        diagramImage(shell().currentView, shown.width(), shown.height()));
}

void Desktop::printCurrent()
{
    const int view = shell().currentView;
    if (!isDiagramView(view)) {
        core::messageText("Die Startansicht ist kein Diagramm; bitte zuerst eine Ansicht wählen.",
                          "Drucken", core::Icon::Information);
        return;
    }
    window_.printView(view);
}

} // namespace app
