// What makes the program fit into a desktop: FRD/ZMA/CSV export and import, T/S from
// impedance files, pictures as files and on the clipboard, the recent measurement files,
// "Messung speichern?" before a measurement is replaced, and the configuration kept between
// starts. One instance belongs to the main window. It is the program's `Operations`: the
// domain and file side it calls itself, the window side it asks of the main window.
#pragma once

#include "app/Commands.h"
#include "files/ByteImage.h"

#include <QObject>

#include <cstddef>
#include <string>
#include <vector>

namespace app
{

class MainWindow;

inline constexpr int kRecentFileCount = cmd::RecentFileCount;

// The recent measurement files after `path` was opened or saved: it moves to the front, a
// second entry of it goes, the list keeps five.
std::vector<std::string> withRecentFile(std::vector<std::string> list, const std::string& path);

// The folder of the first start: the desktop's documents folder, or the home folder when
// there is no documents folder.
std::string firstStartFolder(const std::string& documents, const std::string& home);

// A kept configuration file is plausible when it has the configuration's length and the
// values every measurement and view depends on lie in their ranges.
bool plausibleConfigurationImage(const unsigned char* image, std::size_t size);

// Installs Qt's own German texts (Debian qt6-translations-l10n) for the file, colour and
// print dialogs and the standard buttons; false when they are not installed, and those
// texts then stay English. Call once, with the application object alive.
bool installQtGermanTranslations();

class Desktop final : public QObject, public Operations
{
    Q_OBJECT
public:
    explicit Desktop(MainWindow& window);
    ~Desktop() override;
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The measurement as it is now counts as saved (after start-up, a load, a save).
    void markSaved();
    bool measurementUnsaved() const;
    // "Messung speichern?" (Ja/Nein/Abbrechen) when `what` would take away unsaved data; Ja
    // saves. False when the caller must not go on.
    bool confirmDiscard(Replaces what) override;

    // Where the configuration is kept between starts; empty (the default) keeps nothing.
    void setKeptConfigurationPath(const std::string& path) { keptPath_ = path; }
    const std::string& keptConfigurationPath() const { return keptPath_; }
    // After the start-up: reads the kept configuration; a damaged one is set aside with a
    // message. Returns true when one was taken.
    bool restoreKeptConfiguration();
    // At the end: writes the configuration as it is now.
    void keepConfiguration();

    std::vector<std::string> recentFiles() const;
    void updateRecentMenu();

    // The extra commands (cmd::ExportFrd ... RecentFile1 + 4); false for any other id.
    bool runCommand(int id);

    // Operations.
    void runReferenceMeasurement() override;
    void runAmplitudePhaseMeasurement() override;
    void runImpedanceMeasurement() override;
    void measureTsParameters() override;
    void startLevelMeasurement() override;
    bool computeWaterfall(int fftLength) override;
    bool renderView(int code) override;
    files::LoadOutcome loadMeasurementFile() override;
    void saveMeasurementFile() override;
    files::LoadOutcome importVersion133() override;
    files::LoadOutcome importVersion21() override;
    files::LoadOutcome loadConfigurationFile() override;
    void saveConfigurationFile() override;
    void exportData(Export kind) override;
    void importMicFile() override;
    void runDialog(Dialog d) override;
    void invalidateMain() override;
    void invalidateZoom() override;
    void repaintMainNow() override;
    void repaintZoomNow() override;
    bool createZoomWindow() override;
    void destroyZoomWindow() override;
    void setZoomButton(bool pressed) override;
    void printerSetup() override;
    void printView(int kind) override;
    void showHelp(const std::string& keyword) override;
    void closeMainWindow() override;
    bool extraCommand(int id) override { return runCommand(id); }

private:
    files::LoadOutcome loadMeasurement();
    files::LoadOutcome loadMeasurementFrom(const std::string& path);
    void saveMeasurement();
    void rememberFile(const std::string& path);
    void openRecent(int index);
    void exportFrd();
    void exportZma();
    void exportCsv();
    void importFrd();
    void importZma();
    void tsFromFiles();
    void saveDiagram();
    void copyDiagram();
    void printCurrent();

    MainWindow& window_;
    files::Bytes savedImage_; // the measurement as last loaded or saved
    std::string keptPath_;
    // The file names last typed into "T/S aus Impedanzdateien".
    std::string tsFreePath_;
    std::string tsLoadedPath_;
};

} // namespace app
