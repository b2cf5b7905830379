// The desktop additions in the window (offscreen): "Messung speichern?" before a measurement is
// replaced, the recent files, the configuration kept between starts, pictures as files and on
// the clipboard against orvo-tool's render, and printing in the window's proportions.
#include "app/Desktop.h"
#include "app/Commands.h"
#include "app/DiagramFiles.h"
#include "app/MainWindow.h"
#include "app/Painting.h"
#include "app/QtUi.h"
#include "app/UnsavedLoss.h"
#include "app/Wiring.h"
#include "box/Runs.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "files/ConfigurationFile.h"
#include "files/MeasurementFile.h"
#include "plot/Render.h"
#include "tests/app/DialogWatch.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace
{

namespace fs = std::filesystem;

using testsupport::readAll;

class DesktopTest : public testsupport::WindowFixture
{
};

TEST_F(DesktopTest, MeasurementSaveQuestionBeforeItIsReplaced)
{
    app::Desktop& d = window->desktop();
    // Nothing measured: a load goes straight to its dialog.
    EXPECT_FALSE(d.measurementUnsaved());
    app::dispatchCommand(app::cmd::LoadMeasurement);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(ui.fileRequests().size(), 1u);

    measureSomething();
    ASSERT_TRUE(d.measurementUnsaved());
    ui.clear();
    ui.queueAnswer(core::Answer::Cancel);
    app::dispatchCommand(app::cmd::LoadMeasurement);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Messung speichern?");
    EXPECT_EQ(ui.messages()[0].buttons, core::Buttons::YesNoCancel);
    EXPECT_TRUE(ui.fileRequests().empty()); // Abbrechen: nothing happens

    // Ja, but the save dialog is cancelled: the measurement stays, the load does not run.
    ui.clear();
    ui.queueAnswer(core::Answer::Yes);
    app::dispatchCommand(app::cmd::ImportZma);
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_TRUE(ui.fileRequests()[0].save);

    // Ja and saved: the load follows, and the question is not asked again.
    ui.clear();
    const std::string saved = dir + "/gemessen.mes";
    ui.queueAnswer(core::Answer::Yes);
    ui.queuePath(saved);
    ui.queuePath(""); // the load's own dialog, cancelled
    app::dispatchCommand(app::cmd::LoadMeasurement);
    EXPECT_EQ(fs::file_size(saved), files::kMeasurementFileSize);
    EXPECT_EQ(ui.fileRequests().size(), 2u);
    EXPECT_FALSE(d.measurementUnsaved());

    // Nein: the measurement is given up.
    measureSomething();
    core::store().impedancePhase[7] = 99.0f;
    ui.clear();
    ui.queueAnswer(core::Answer::No);
    app::dispatchCommand(app::cmd::Import133);
    EXPECT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_FALSE(ui.fileRequests()[0].save);

    // A view command or an export never asks.
    ui.clear();
    app::dispatchCommand(app::cmd::ShowImpedance);
    EXPECT_TRUE(ui.messages().empty());
}

// "Messung speichern?" is asked only when unsaved data would be gone: not for a curve that
// moves on into an overlay, nor for data that is empty or as it was saved.
TEST_F(DesktopTest, OnlyDataThatWouldBeLostIsAskedFor)
{
    using app::Replaces;
    auto& st = core::store();
    auto curve = [&st](int slot, float level) {
        for (int k = 0; k < 100; ++k) {
            st.amplitudeSlots[slot][k] = level + 0.01f * k;
            st.phaseSlots[slot][k] = -level;
        }
        st.slotOccupied[slot] = 1;
    };
    auto loses = [](Replaces what, const files::Bytes& saved, bool axisChanged = false) {
        return app::losesUnsavedData(what, saved, files::measurementImage(), axisChanged);
    };
    const files::Bytes empty = files::measurementImage();
    for (Replaces what : {Replaces::ResponseCurve, Replaces::Impedance, Replaces::ImpedanceAndTs,
                          Replaces::TsResult, Replaces::Level, Replaces::Waterfall,
                          Replaces::Everything})
        EXPECT_FALSE(loses(what, empty));

    // A reference run, then an amplitude run: the first curve moves into the overlays.
    curve(0, 80.0f);
    EXPECT_FALSE(loses(Replaces::ResponseCurve, empty));
    EXPECT_TRUE(loses(Replaces::ResponseCurve, empty, true)); // a new axis drops every overlay
    EXPECT_TRUE(loses(Replaces::Everything, empty));
    EXPECT_FALSE(loses(Replaces::Impedance, empty));
    // Five curves: the oldest would drop off the last slot.
    for (int slot = 1; slot < 5; ++slot)
        curve(slot, 80.0f + slot);
    EXPECT_TRUE(loses(Replaces::ResponseCurve, empty));
    // Saved, then moved on one place by a run: every curve still is in some slot of the file.
    const files::Bytes saved = files::measurementImage();
    box::rotateOverlaySlots();
    curve(0, 60.0f);
    EXPECT_FALSE(loses(Replaces::ResponseCurve, saved));
    // Four runs later the unsaved 60 dB curve is the one in the last slot.
    for (int run = 0; run < 4; ++run) {
        EXPECT_FALSE(loses(Replaces::ResponseCurve, saved)) << run;
        box::rotateOverlaySlots();
        curve(0, 50.0f - run);
    }
    EXPECT_TRUE(loses(Replaces::ResponseCurve, saved));

    // Impedance, T/S result, levels and waterfall: each asks for itself only.
    measureSomething();
    EXPECT_TRUE(loses(Replaces::Impedance, saved));
    EXPECT_TRUE(loses(Replaces::ImpedanceAndTs, saved));
    EXPECT_FALSE(loses(Replaces::TsResult, saved));
    EXPECT_FALSE(loses(Replaces::Level, saved));
    core::setTsResultText("fs = 35 Hz");
    EXPECT_TRUE(loses(Replaces::TsResult, saved));
    st.levelMeanPeak[3] = 70.0f;
    EXPECT_TRUE(loses(Replaces::Level, saved));
    EXPECT_FALSE(loses(Replaces::Waterfall, saved));
    st.csdLevel[10] = -3.0f;
    EXPECT_TRUE(loses(Replaces::Waterfall, saved));
    const files::Bytes all = files::measurementImage();
    for (Replaces what : {Replaces::Impedance, Replaces::TsResult, Replaces::Level,
                          Replaces::Waterfall, Replaces::Everything})
        EXPECT_FALSE(loses(what, all));
    // Distortion curves follow the fixed image; only a whole replacement looks at them.
    files::Bytes withCurves = all;
    withCurves.resize(all.size() + 104, 1);
    EXPECT_FALSE(app::losesUnsavedData(Replaces::Impedance, all, withCurves, false));
    EXPECT_TRUE(app::losesUnsavedData(Replaces::Everything, all, withCurves, false));

    // In the window: a level measurement over unsaved levels asks, over saved ones it doesn't.
    window->desktop().markSaved();
    ui.clear();
    EXPECT_TRUE(window->desktop().confirmDiscard(Replaces::Level));
    EXPECT_TRUE(ui.messages().empty());
    st.levelMeanPeak[4] = 71.0f;
    ui.queueAnswer(core::Answer::Cancel);
    EXPECT_FALSE(window->desktop().confirmDiscard(Replaces::Level));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Messung speichern?");
}

TEST_F(DesktopTest, RecentFilesAreKeptNewestFirstAndOpen)
{
    std::vector<std::string> list;
    for (const char* p : {"a.mes", "b.mes", "a.mes", "c.mes", "d.mes", "e.mes", "f.mes"})
        list = app::withRecentFile(list, p);
    EXPECT_EQ(list, (std::vector<std::string>{"f.mes", "e.mes", "d.mes", "c.mes", "a.mes"}));

    measureSomething();
    const std::string path = dir + "/eins.mes";
    ASSERT_EQ(files::writeMeasurementFile(path), files::WriteStatus::Written);
    core::resetStore();
    window->desktop().markSaved();
    ui.queuePath(path);
    app::dispatchCommand(app::cmd::LoadMeasurement);
    EXPECT_EQ(core::store().impedanceMagnitude[25], 46.0f);
    ASSERT_FALSE(window->desktop().recentFiles().empty());
    EXPECT_EQ(window->desktop().recentFiles().front(), path);
    QAction* first = window->commandAction(app::cmd::RecentFile1);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->text(), QStringLiteral("&1 eins.mes"));

    // Opened from the list: no dialog.
    core::resetStore();
    window->desktop().markSaved();
    ui.clear();
    app::dispatchCommand(app::cmd::RecentFile1);
    EXPECT_TRUE(ui.fileRequests().empty());
    EXPECT_EQ(core::store().impedanceMagnitude[25], 46.0f);
    // A file gone since: the program's read failure, nothing changed.
    fs::remove(path);
    ui.clear();
    app::dispatchCommand(app::cmd::RecentFile1);
    EXPECT_FALSE(ui.messages().empty());
}

TEST_F(DesktopTest, ConfigurationKeptBetweenStartsAndADamagedOneSetAside)
{
    EXPECT_EQ(app::firstStartFolder(dir + "/gibt-es-nicht", "/home/x"), "/home/x");
    EXPECT_EQ(app::firstStartFolder(dir, "/home/x"), dir);

    app::Desktop& d = window->desktop();
    const std::string kept = dir + "/TAVEN/OrvoPro2.3Deutsch.cfg";
    d.setKeptConfigurationPath(kept);
    EXPECT_FALSE(d.restoreKeptConfiguration()); // the first start: nothing kept yet
    core::settings().fftLength = 2048;
    core::settings().distanceMm = 777;
    core::displaySettings().lineWidth = 3;
    d.keepConfiguration();
    ASSERT_EQ(fs::file_size(kept), files::kConfigurationFileSize);

    core::resetSettings();
    core::resetDisplaySettings();
    ASSERT_TRUE(d.restoreKeptConfiguration());
    EXPECT_EQ(core::settings().fftLength, 2048);
    EXPECT_EQ(core::settings().distanceMm, 777);
    EXPECT_EQ(core::displaySettings().lineWidth, 3);
    EXPECT_TRUE(ui.messages().empty());

    // Ending the program keeps the configuration; with an unsaved measurement it asks first,
    // and Abbrechen keeps the program open.
    fs::remove(kept);
    measureSomething();
    ui.clear();
    ui.queueAnswer(core::Answer::Cancel);
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(fs::exists(kept));
    ui.queueAnswer(core::Answer::No);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(fs::file_size(kept), files::kConfigurationFileSize);
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_EQ(ui.messages()[1].text, "Messung speichern?");

    // Damaged: cut short, or of the right length with values no measurement can use.
    for (int damage = 0; damage < 2; ++damage) {
        SCOPED_TRACE(damage);
        std::string bytes = readAll(kept);
        if (damage == 0)
            bytes.resize(1000);
        else
            bytes[files::cfg::kSampleRate] = 9;
        std::ofstream(kept, std::ios::binary | std::ios::trunc) << bytes;
        core::resetSettings();
        ui.clear();
        EXPECT_FALSE(d.restoreKeptConfiguration());
        EXPECT_EQ(core::settings().fftLength, 512); // built-in settings
        EXPECT_FALSE(fs::exists(kept));
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_NE(ui.messages()[0].text.find("beiseitegelegt"), std::string::npos);
        int aside = 0;
        for (const auto& e : fs::directory_iterator(dir + "/TAVEN"))
            aside += e.path().string().ends_with(".defekt");
        EXPECT_EQ(aside, damage + 1);
        d.keepConfiguration(); // the next exit writes a good one again
    }
}

TEST_F(DesktopTest, PicturesMatchTheToolsRenderAndTheClipboard)
{
    measureSomething();
    plot::renderView(100);
    const std::string mes = dir + "/bild.mes";
    ASSERT_EQ(files::writeMeasurementFile(mes), files::WriteStatus::Written);
    const std::string cmd = "cd '" + dir + "' && QT_QPA_PLATFORM=offscreen '" +
                            std::string(ORVO_TOOL_PATH) +
                            "' render 4 bild.mes tool.png --size 400x300 && '" + ORVO_TOOL_PATH +
                            "' render 4 bild.mes tool.svg --size 400x300 >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    const std::string png = dir + "/fenster.png";
    const std::string svg = dir + "/fenster.svg";
    const std::string pdf = dir + "/fenster.pdf";
    ASSERT_EQ(app::saveDiagramFile(4, png, app::DiagramFormat::Png, 400, 300),
              files::WriteStatus::Written);
    ASSERT_EQ(app::saveDiagramFile(4, svg, app::DiagramFormat::Svg, 400, 300),
              files::WriteStatus::Written);
    ASSERT_EQ(app::saveDiagramFile(4, pdf, app::DiagramFormat::Pdf, 400, 300),
              files::WriteStatus::Written);
    const QImage fromTool(QString::fromStdString(dir + "/tool.png"));
    const QImage fromWindow(QString::fromStdString(png));
    ASSERT_EQ(fromWindow.size(), QSize(400, 300));
    EXPECT_TRUE(fromTool.convertToFormat(QImage::Format_RGB32) ==
                fromWindow.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(readAll(svg), readAll(dir + "/tool.svg"));
    EXPECT_EQ(readAll(pdf).rfind("%PDF-", 0), 0u);
    EXPECT_EQ(app::diagramFormatFor("x.PNG"), app::DiagramFormat::Png);
    EXPECT_EQ(app::diagramFormatFor("x.svg"), app::DiagramFormat::Svg);
    EXPECT_FALSE(app::diagramFormatFor("x.bmp"));

    // Kopieren puts the current view at the size of the drawing area on the clipboard.
    app::showView(4);
    app::dispatchCommand(app::cmd::CopyDiagram);
    const QWidget* area = window->drawingArea();
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_TRUE(copied.convertToFormat(QImage::Format_RGB32) ==
                app::diagramImage(4, area->width(), area->height()));
}

TEST_F(DesktopTest, PrintKeepsTheWindowsProportionsOnALandscapePage)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    QRect replayed;
    app::setPictureReplayer(
        [&](QPainter& p, int, const QRect& target) { replayed = p.transform().mapRect(target); });
    window->setPrinter(std::move(printer));
    const std::string file = dir + "/druck.pdf";
    ui.queuePath(file);
    window->printView(4);
    app::setPictureReplayer(nullptr);
    ASSERT_TRUE(replayed.isValid());
    const QWidget* area = window->drawingArea();
    ASSERT_GT(area->width(), area->height());
    EXPECT_GT(replayed.width(), replayed.height());
    EXPECT_NEAR(static_cast<double>(replayed.width()) / replayed.height(),
                static_cast<double>(area->width()) / area->height(), 0.01);
    EXPECT_EQ(readAll(file).rfind("%PDF-", 0), 0u);

    // The next print asks again rather than overwriting the last file.
    ui.clear();
    window->printView(4);
    EXPECT_EQ(ui.fileRequests().size(), 1u);
}

} // namespace

namespace
{

using testsupport::onNextDialog;

QStringList buttonTexts(QWidget* w)
{
    QStringList texts;
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->isVisible() && !b->text().isEmpty())
            texts << b->text();
    return texts;
}

} // namespace

TEST_F(DesktopTest, DialogsSpeakGerman)
{
    if (!app::installQtGermanTranslations())
        GTEST_SKIP() << "qtbase_de.qm is not installed (Debian qt6-translations-l10n)";
    app::QtUi& qtUi = *window->ui();
    core::setUi(&qtUi);

    // Qt's own file dialog, as "Messdatei laden" opens it.
    QStringList fileButtons;
    onNextDialog("datei-dialog", [&](QWidget* w) { fileButtons = buttonTexts(w); });
    core::FileDialogRequest r;
    r.title = "Messdatei laden";
    r.filter = "(*.mes)";
    r.pattern = "*.mes";
    r.initialFolder = dir;
    std::string path;
    EXPECT_FALSE(qtUi.fileDialog(r, path));
    EXPECT_TRUE(fileButtons.contains(QStringLiteral("&Öffnen")) ||
                fileButtons.contains(QStringLiteral("Öffnen")))
        << fileButtons.join(QStringLiteral(", ")).toStdString();
    EXPECT_TRUE(fileButtons.contains(QStringLiteral("Abbrechen")))
        << fileButtons.join(QStringLiteral(", ")).toStdString();

    // "Messung speichern?" with Ja/Nein/Abbrechen; closing it is Abbrechen.
    measureSomething();
    QStringList questionButtons;
    onNextDialog("messung-speichern", [&](QWidget* w) { questionButtons = buttonTexts(w); });
    EXPECT_FALSE(window->desktop().confirmDiscard(app::Replaces::Everything));
    EXPECT_EQ(questionButtons.size(), 3);
    EXPECT_TRUE(questionButtons.contains(QStringLiteral("&Ja")));
    EXPECT_TRUE(questionButtons.contains(QStringLiteral("&Nein")));
    EXPECT_TRUE(questionButtons.contains(QStringLiteral("Abbrechen")));

    // "Diagramm speichern als…" for the impedance view.
    plot::renderView(100);
    app::showView(4);
    QString title;
    onNextDialog("diagramm-speichern-als", [&](QWidget* w) { title = w->windowTitle(); });
    app::dispatchCommand(app::cmd::SaveDiagram);
    EXPECT_EQ(title, QStringLiteral("Diagramm speichern als…"));
    core::setUi(&ui);
}

TEST_F(DesktopTest, EachFileDialogReturnsToItsLastFolder)
{
    app::QtUi& qtUi = *window->ui();
    core::setUi(&qtUi);
    fs::create_directories(dir + "/messungen");
    std::ofstream(dir + "/messungen/a.mes") << "x";
    core::FileDialogRequest r;
    r.title = "Messdatei laden";
    r.filter = "(*.mes)";
    r.pattern = "*.mes";
    r.initialFolder = dir;
    QString started;
    onNextDialog("", [&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        started = d->directory().absolutePath();
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(dir + "/messungen/a.mes"));
        static_cast<QDialog*>(d)->accept(); // QFileDialog hides its accept()
    });
    std::string path;
    ASSERT_TRUE(qtUi.fileDialog(r, path));
    EXPECT_EQ(started.toStdString(), dir);
    EXPECT_EQ(path, dir + "/messungen/a.mes");

    // Every dialog of measurement files starts where the last one was left (a save after a
    // load); the dialogs of another kind of file keep their own folder.
    r.title = "Messdatei speichern";
    r.save = true;
    onNextDialog("", [&](QWidget* w) {
        started = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
    });
    EXPECT_FALSE(qtUi.fileDialog(r, path));
    EXPECT_EQ(started.toStdString(), dir + "/messungen");
    r.title = "Konfigurationsdatei laden";
    r.pattern = "*.cfg";
    r.save = false;
    onNextDialog("", [&](QWidget* w) {
        started = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
    });
    EXPECT_FALSE(qtUi.fileDialog(r, path));
    EXPECT_EQ(started.toStdString(), dir);
    core::setUi(&ui);

    EXPECT_EQ(app::folderKind("*.mes"), "Messdateien");
    EXPECT_EQ(app::folderKind("*.ZMA"), "Impedanzdateien");
    for (const char* picture : {"*.png", "*.svg", "*.pdf"})
        EXPECT_EQ(app::folderKind(picture), "Bilder");
    for (const char* exported : {"*.frd", "*.csv", "*.amp", "*.imp", "*.tsp"})
        EXPECT_EQ(app::folderKind(exported), "Exporte");
}

TEST_F(DesktopTest, TsFromImpedanceFilesInTheWindow)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    onNextDialog("ts-aus-impedanzdateien", [&](QWidget* w) {
        const auto edits = w->findChildren<QLineEdit*>();
        // In the order of the form: free air, loaded, Re, diameter, mass, volume.
        ASSERT_EQ(edits.size(), 6);
        edits[0]->setText(QString::fromStdString(data + "woofer16-free-fixed.zma"));
        edits[1]->setText(QString::fromStdString(data + "woofer16-mass16g-exp.zma"));
        edits[2]->setText(QStringLiteral("5,8")); // a decimal comma, as typed in German
        edits[3]->setText(QStringLiteral("130"));
        edits[4]->setText(QStringLiteral("16"));
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("Berechnen"))
                b->click();
    });
    app::dispatchCommand(app::cmd::TsFromFiles);
    const auto m = ui.messages();
    ASSERT_EQ(m.size(), 3u); // the two resonance notices and the result
    EXPECT_EQ(m[2].caption, "Thiele Small Parameter");
    EXPECT_NE(m[2].text.find("Re=5.80 Ohm"), std::string::npos) << m[2].text;
    EXPECT_NE(m[2].text.find("fs= 42.0 Hz"), std::string::npos) << m[2].text;
    EXPECT_NE(std::string(core::store().tsResultText.data()).find("fs= 42.0 Hz"),
              std::string::npos);
}

TEST_F(DesktopTest, ARefusedImportChangesNothingAndAGoodOneTakesTheRotation)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    core::settings().fftLength = 4096;
    core::settings().sampleRate = 1;
    const files::Bytes before = files::measurementImage();
    for (const char* bad : {"descending.frd", "nan.frd", "empty.frd"}) {
        SCOPED_TRACE(bad);
        ui.clear();
        ui.queuePath(data + bad);
        app::dispatchCommand(app::cmd::ImportFrd);
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_EQ(ui.messages()[0].caption, "FRD-Import");
        EXPECT_TRUE(files::measurementImage() == before);
    }
    ui.clear();
    ui.queuePath(data + "semicolon.frd");
    app::dispatchCommand(app::cmd::ImportFrd);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(core::store().slotOccupied[0], 1);
    EXPECT_EQ(core::store().amplitudeSlots[0].trailerN(), 4096.0f);
    EXPECT_EQ(app::shell().currentView, 7);
    EXPECT_TRUE(window->desktop().measurementUnsaved());

    ui.queuePath(data + "woofer16-free-fixed.zma");
    ui.queueAnswer(core::Answer::No); // the file goes to 20 kHz: keep the grid
    app::dispatchCommand(app::cmd::ImportZma);
    EXPECT_GT(core::store().impedanceMagnitude[27], 50.0f); // the 42 Hz peak
    EXPECT_EQ(app::shell().currentView, 4);
}

namespace
{

TEST_F(DesktopTest, AnImportTheGridCutsNamesThePartAndOffersTheRateThatHoldsIt)
{
    const std::string wide = std::string(ORVO_TEST_DATA) + "/files/exchange/wide-20hz-20khz.frd";
    auto& s = core::settings();
    s.sampleRate = 1;
    s.fftLength = 512;
    s.markerPos = {2500, 7500};
    // Where the measurement-system dialog's OK would put the markers at 51.2 kHz, N 4096.
    core::remapMarkers(1, 512, 2, 4096);
    const auto movedMarkers = s.markerPos;
    s.sampleRate = 1;
    s.fftLength = 512;
    s.markerPos = {2500, 7500};

    // Nein: taken on the grid in force, as cut as the message says.
    ui.clear();
    ui.queuePath(wide);
    ui.queueAnswer(core::Answer::No);
    app::dispatchCommand(app::cmd::ImportFrd);
    auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "FRD-Import");
    EXPECT_EQ(m[0].buttons, core::Buttons::YesNoCancel);
    EXPECT_NE(m[0].text.find("nur 25 bis 3187,5 Hz. Weggelassen: 3187,5 bis 20000 Hz."),
              std::string::npos)
        << m[0].text;
    EXPECT_NE(m[0].text.find("Auf 51,2 kHz Abtastrate und N 4096 umschalten, damit die ganze "
                             "Datei übernommen wird?"),
              std::string::npos)
        << m[0].text;
    auto& st = core::store();
    EXPECT_EQ(st.slotOccupied[0], 1);
    EXPECT_EQ(st.amplitudeSlots[0].trailerRate(), 1.0f);
    EXPECT_EQ(s.sampleRate, 1);
    EXPECT_EQ(s.fftLength, 512);

    // Abbrechen: nothing is taken.
    const files::Bytes before = files::measurementImage();
    ui.clear();
    ui.queuePath(wide);
    ui.queueAnswer(core::Answer::Cancel);
    app::dispatchCommand(app::cmd::ImportFrd);
    EXPECT_TRUE(files::measurementImage() == before);
    EXPECT_EQ(s.sampleRate, 1);

    // Ja: the rate and N are switched as the dialog switches them, and the whole file is in.
    ui.clear();
    ui.queuePath(wide);
    ui.queueAnswer(core::Answer::Yes);
    app::dispatchCommand(app::cmd::ImportFrd);
    EXPECT_EQ(s.sampleRate, 2);
    EXPECT_EQ(s.fftLength, 4096);
    EXPECT_EQ(s.markerPos, movedMarkers);
    EXPECT_EQ(st.amplitudeSlots[0].trailerRate(), 2.0f);
    EXPECT_EQ(st.amplitudeSlots[0].trailerN(), 4096.0f);
    // 25 Hz and 20 kHz (a dB SPL axis shifts both alike).
    EXPECT_NEAR(st.amplitudeSlots[0][1600] - st.amplitudeSlots[0][2],
                70.0 - (80.0 + 6.0 * std::log(25.0 / 20.0) / std::log(10.0)), 0.01);
    EXPECT_EQ(st.amplitudeSlots[0][1], core::NO_VALUE); // 12.5 Hz, below the file
}

TEST_F(DesktopTest, TsFromFilesReopensWithWhatWasTypedAfterTheEvaluationRefuses)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    const QString freeAir = QString::fromStdString(data + "woofer16-free-fixed.zma");
    const QString loaded = QString::fromStdString(data + "woofer16-mass16g-exp.zma");
    QStringList reopened;
    QStringList later;
    // Swapped files: the evaluation refuses (the "added mass" resonance lies higher).
    onNextDialog("", [&](QWidget* w) {
        auto edits = w->findChildren<QLineEdit*>();
        ASSERT_EQ(edits.size(), 6);
        edits[0]->setText(loaded);
        edits[1]->setText(freeAir);
        edits[3]->setText(QStringLiteral("130"));
        edits[4]->setText(QStringLiteral("16"));
        onNextDialog("", [&](QWidget* again) {
            for (QLineEdit* e : again->findChildren<QLineEdit*>())
                reopened << e->text();
        });
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("Berechnen"))
                b->click();
    });
    app::dispatchCommand(app::cmd::TsFromFiles);
    bool refused = false;
    for (const auto& m : ui.messages())
        refused = refused || m.text.find("Sind die Dateien vertauscht") != std::string::npos;
    EXPECT_TRUE(refused);
    ASSERT_EQ(reopened.size(), 6);
    EXPECT_EQ(reopened[0], loaded);
    EXPECT_EQ(reopened[1], freeAir);
    EXPECT_EQ(reopened[3], QStringLiteral("130"));
    EXPECT_EQ(reopened[4], QStringLiteral("16"));

    // Cancelled then, the next "T/S aus Impedanzdateien…" still has both names.
    onNextDialog("", [&](QWidget* w) {
        for (QLineEdit* e : w->findChildren<QLineEdit*>())
            later << e->text();
    });
    app::dispatchCommand(app::cmd::TsFromFiles);
    ASSERT_EQ(later.size(), 6);
    EXPECT_EQ(later[0], loaded);
    EXPECT_EQ(later[1], freeAir);
}

} // namespace
