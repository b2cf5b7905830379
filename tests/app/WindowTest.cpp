// The Qt windows (offscreen): menu 103 and the toolbar as the user sees them, tool tips,
// the minimum size, status parts, the zoom window, the Qt Ui from a worker thread, help
// and printing to a PDF file.
#include "app/Commands.h"
#include "app/Desktop.h"
#include "app/HelpBrowser.h"
#include "app/MainWindow.h"
#include "app/Painting.h"
#include "app/QtUi.h"
#include "app/Wiring.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "plot/Render.h"
#include "tests/app/HookOperations.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace
{

QApplication& application()
{
    static int argc = 1;
    static char name[] = "app_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = new QApplication(argc, argv);
    return *a;
}

void flatten(const QList<QAction*>& actions, const QString& path, QStringList& out)
{
    for (QAction* a : actions) {
        if (a->isSeparator())
            out << path + QStringLiteral("|---");
        else if (a->menu())
            flatten(a->menu()->actions(), path + QLatin1Char('/') + a->text(), out);
        else
            out << path + QLatin1Char('|') + a->text() + QLatin1Char('|') +
                       QString::number(a->data().toInt());
    }
}

// The window's picture goes to $ORVO_SHOT_DIR/<name>.png when that is set (for review).
void saveShot(QWidget* w, const char* name)
{
    if (const char* dir = std::getenv("ORVO_SHOT_DIR"); dir && *dir)
        w->grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QString::fromUtf8(name) +
                       QStringLiteral(".png"));
}

class WindowTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        application();
        RecordsTest::SetUp();
        app::resetShell();
        window = std::make_unique<app::MainWindow>();
        // What no test hooks goes to the window's desktop, as in the program.
        ops.base = &window->desktop();
        app::setOperations(&ops);
        window->show();
        core::setUi(&ui); // the window installs its Qt Ui; the tests watch messages instead
    }
    void TearDown() override
    {
        app::setOperations(nullptr);
        window.reset();
        RecordsTest::TearDown();
    }
    std::unique_ptr<app::MainWindow> window;
    testsupport::HookOperations ops;
};

TEST_F(WindowTest, MainMenuHasEveryEntryIdAndSeparator)
{
    QStringList got;
    flatten(window->menuBar()->actions(), QString(), got);
    const QStringList want = {
        "/&Datei|&Messdatei laden|40010",
        "/&Datei|M&essdatei speichern|40011",
        "/&Datei|---",
        "/&Datei|&Konfigurationsdatei laden|40081",
        "/&Datei|K&onfigurationsdatei speichern|40082",
        "/&Datei|---",
        "/&Datei/Messdaten ex&portieren/&Frequenzgangdaten|O&RVO|40084",
        "/&Datei/Messdaten ex&portieren/&Frequenzgangdaten/T&ERNOVAX|A&MPLITUDE|40114",
        "/&Datei/Messdaten ex&portieren/&Frequenzgangdaten/T&ERNOVAX|P&HASE|40116",
        "/&Datei/Messdaten ex&portieren/&Impedanzdaten|O&RVO|40085",
        "/&Datei/Messdaten ex&portieren/&Impedanzdaten/T&ERNOVAX|A&MPLITUDE|40117",
        "/&Datei/Messdaten ex&portieren/&Impedanzdaten/T&ERNOVAX|P&HASE|40118",
        "/&Datei/Messdaten ex&portieren|&TS - Parameter|40119",
        "/&Datei/Messdaten ex&portieren|---",
        "/&Datei/Messdaten ex&portieren|F&RD-Datei (Amplitude und Phase)…|41001",
        "/&Datei/Messdaten ex&portieren|&ZMA-Datei (Impedanz)…|41002",
        "/&Datei/Messdaten ex&portieren|&CSV-Datei (Kurven der Ansicht)…|41003",
        "/&Datei|---",
        "/&Datei|Messdaten importieren von ORVO &1.33|40125",
        "/&Datei|Messdaten importieren von ORVO &2.1|40136",
        "/&Datei|FRD-Datei als Über&lagerung importieren…|41004",
        "/&Datei|ZMA-Datei als Impeda&nz importieren…|41005",
        "/&Datei|---",
        "/&Datei|Mikrofondaten &importieren|40086",
        "/&Datei|---",
        "/&Datei|Drucker ein&richten|40042",
        "/&Datei/&Drucken|&Zeitsignal|40044",
        "/&Datei/&Drucken|&Amplitudenfrequenzgang|40045",
        "/&Datei/&Drucken|Amplitudenfrequenzgang (&5 überlagert)|40124",
        "/&Datei/&Drucken|Amplitudenfrequenzgang (&Summe)|40128",
        "/&Datei/&Drucken|&Phasenfrequenzgang|40083",
        "/&Datei/&Drucken|&Impedanzfrequenzgang|40046",
        "/&Datei/&Drucken|Zeitsignal, Amplitudenfrequenzgang, Impe&danz|40132",
        "/&Datei/&Drucken|P&egel (Terz)|40108",
        "/&Datei/&Drucken|&Wasserfall (CSD)|40109",
        "/&Datei/&Drucken|K&lirrfaktor|41023",
        "/&Datei/&Drucken|---",
        "/&Datei/&Drucken|A&ktuelle Ansicht|41009",
        "/&Datei|Diagramm speichern &als…|41007",
        "/&Datei|---",
        "/&Datei/&Zuletzt geöffnet|1|41011",
        "/&Datei/&Zuletzt geöffnet|2|41012",
        "/&Datei/&Zuletzt geöffnet|3|41013",
        "/&Datei/&Zuletzt geöffnet|4|41014",
        "/&Datei/&Zuletzt geöffnet|5|41015",
        "/&Datei|---",
        "/&Datei|&Beenden|40079",
        "/B&earbeiten|&Kopieren|41008",
        "/&Meßsystem|&Meßsystem…|40033",
        "/&Meßsystem|&Soundkarte…|40140",
        "|Signal&bearbeitung|40032",
        "/Me&ssungen|&Referenzmessung|40035",
        "/Me&ssungen|&Amplituden- und Phasenmessung|40048",
        "/Me&ssungen|&Impedanzmessung|40036",
        "/Me&ssungen|&T/S Parametermessung|40037",
        "/Me&ssungen|&Pegelmessung|40098",
        "/Me&ssungen|&CSD (Wasserfall) berechnen|40099",
        "/Me&ssungen|---",
        "/Me&ssungen|T/S aus Impe&danzdateien…|41006",
        "/Darste&llung|&Zeitsignal|40038",
        "/Darste&llung|&Amplitudenfrequenzgang|40039",
        "/Darste&llung|Amplitudenfrequenzgang (&5 überlagert)|40122",
        "/Darste&llung|Amplitudenfrequenzgang (&Summe)|40127",
        "/Darste&llung|&Impedanzfrequenzgang|40040",
        "/Darste&llung|Amp&lituden/Impedanzfrequenzgang|40111",
        "/Darste&llung|Zeitsignal, Amplituden&frequenzgang, Impedanz|40131",
        "/Darste&llung|&T/S Parameter|40049",
        "/Darste&llung|&Pegel (Terz)|40100",
        "/Darste&llung|&CSD (Waserfalldiagram) |40101",
        "/Darste&llung|&Klirrfaktor|41022",
        "/Darste&llung|H&4 und H5 zeigen|41025",
        "/Darste&llung|T&HD statt Harmonische|41026",
        "/Darste&llung|---",
        "/Darste&llung|&eigener Text|40135",
        "/Darste&llung|Zoo&m-Fenster|40075",
        "/Einstellun&gen|&Skalen|40103",
        "/Einstellun&gen|&Position Beobachter CSD|40105",
        "/Einstellun&gen|&Farben/Linien|40104",
        "|&Hilfe|40087",
        "|&Info|40031",
    };
    EXPECT_EQ(got, want);
}

TEST_F(WindowTest, ToolbarEntriesImagesAndToolTips)
{
    const QList<QAction*> actions = window->toolBar()->actions();
    ASSERT_EQ(actions.size(), 22);
    const int ids[22] = {40001, 40002, 40003, 40004, 40093, 40088, 0,     40005,
                         40006, 40121, 40126, 40052, 40110, 40130, 40054, 40090,
                         40097, 41021, 0,     40134, 0,     40075};
    const char* tips[22] = {"Referenzmessung",
                            "Phasen und Amplitudenfrequenzgang messen",
                            "Impedanzfrequenzgang messen",
                            "T/S Parameter messen",
                            "Pegel messen [Terz]",
                            "Wasserfalldiagramm berechnen (CSD)",
                            nullptr,
                            "Zeitdaten anzeigen",
                            "Amplitudenfrequenzgang anzeigen",
                            "Amplitudenfrequenzgang anzeigen ( 5 überlagert)",
                            "Amplitudenfrequenzgang anzeigen (Summe)",
                            "Impedanzfrequenzgang anzeigen",
                            "Amplituden- und Impedanzfrequenzgang anzeigen",
                            "Zeitdaten, Amplituden-, Impedanzfrequenzgang anzeigen",
                            "T/S Parameter anzeigen",
                            "Pegel anzeigen",
                            "Wasserfalldiagramm (CSD) anzeigen",
                            "Klirrfaktor anzeigen",
                            nullptr,
                            "Text eingeben",
                            nullptr,
                            "Zoom"};
    for (int i = 0; i < 22; ++i) {
        QAction* a = actions[i];
        if (!ids[i]) {
            EXPECT_TRUE(a->isSeparator()) << i;
            continue;
        }
        EXPECT_EQ(a->data().toInt(), ids[i]) << i;
        EXPECT_EQ(a->toolTip(), QString::fromUtf8(tips[i])) << i;
        EXPECT_TRUE(a->isEnabled());
        const QPixmap pm = a->icon().pixmap(QSize(32, 16));
        EXPECT_EQ(pm.size(), QSize(32, 16)) << i;
    }
    EXPECT_EQ(window->toolBar()->iconSize(), QSize(32, 16));
}

TEST_F(WindowTest, GeometryTitleAndMinimumSize)
{
    // Room for the status bar and the widest dialog, within the screen and centred on it.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->size(), QSize(1120, 720).boundedTo(screen.size()));
    EXPECT_TRUE(screen.contains(window->frameGeometry().topLeft()));
    EXPECT_NEAR(window->geometry().center().x(), screen.center().x(), 8);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ORVO"));
    window->resize(350, 200);
    EXPECT_EQ(window->width(), 400);
    EXPECT_EQ(window->height(), 300);
}

// The status bar describes the data the view draws when they were taken otherwise than the
// settings say, the title bar names the file, and size, place and view last from one start to
// the next.
TEST_F(WindowTest, StatusAndTitleDescribeTheShownDataAndThePlaceIsKept)
{
    auto& s = core::settings();
    s.sampleRate = 2;
    s.fftLength = 4096;
    s.measuringInput = 4;
    window->start();
    QApplication::processEvents();
    saveShot(window.get(), "fenster-standardgroesse");
    const QString settingsText = QStringLiteral("Abtastrate: 51.00 kHz     FFT-Länge: 4096   IN:Ref_Int");
    auto& st = core::store();
    st.amplitudeSlots[0].stamp(512, 1);
    st.slotOccupied[0] = 1;
    window->commandAction(app::cmd::ShowAmplitude)->trigger();
    EXPECT_EQ(window->statusPart(1)->text(),
              QStringLiteral("Kurve: 6.40 kHz, N 512     Einstellung: ") + settingsText);
    QApplication::processEvents();
    saveShot(window.get(), "status-kurve-und-einstellung");
    window->commandAction(app::cmd::ShowLevel)->trigger(); // levels carry no rate
    EXPECT_EQ(window->statusPart(1)->text(), settingsText);
    st.impedanceMagnitude.stamp(4096, 2); // as set: the settings alone
    window->commandAction(app::cmd::ShowImpedance)->trigger();
    EXPECT_EQ(window->statusPart(1)->text(), settingsText);

    const QString title = window->windowTitle();
    window->desktop().markSaved();
    window->setOpenFile("/irgendwo/Tieftöner.mes");
    EXPECT_EQ(window->windowTitle(), title + QStringLiteral(" - Tieftöner.mes"));
    st.impedanceMagnitude[3] = 7.0f;
    window->commandAction(app::cmd::ShowImpedance)->trigger();
    EXPECT_EQ(window->windowTitle(), title + QStringLiteral(" - Tieftöner.mes *"));

    // A title that does not fit gives way with "…", its whole text in the tool tip.
    window->setStatus(2, QString(60, QLatin1Char('W')));
    window->resize(400, 300);
    QApplication::processEvents();
    EXPECT_LE(window->statusPart(2)->geometry().right(), window->statusBar()->width());

    window->resize(700, 500);
    ui.queueAnswer(core::Answer::No); // "Messung speichern?"
    ASSERT_TRUE(window->close());
    app::resetShell();
    app::MainWindow second;
    second.start();
    EXPECT_EQ(second.size(), QSize(700, 500));
    EXPECT_EQ(app::shell().currentView, 4);
    app::setOperations(&ops);
    // The store outlives the test; the next windows open as new.
    core::settingsStore().setValue("Fenster/Geometrie", "");
    core::settingsStore().setValue("Fenster/Ansicht", "");
}

TEST_F(WindowTest, StartShowsTitleAndStatusParts)
{
    core::settings().sampleRate = 2;
    core::settings().fftLength = 4096;
    core::settings().measuringInput = 4;
    window->start();
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("OrvoPro")));
    EXPECT_FALSE(window->statusPart(2)->text().isEmpty());
    (void)window->drawingArea()->grab();
    EXPECT_EQ(window->statusPart(1)->text(),
              QStringLiteral("Abtastrate: 51.00 kHz     FFT-Länge: 4096   IN:Ref_Int"));
    core::settings().sampleRate = 3;
    core::settings().measuringInput = 2;
    (void)window->drawingArea()->grab();
    EXPECT_EQ(window->statusPart(1)->text(),
              QStringLiteral("Abtastrate: 3.20 kHz     FFT-Länge: 4096   IN:Mic.(+-0,15V)"));
}

TEST_F(WindowTest, ZoomWindowOpensOnceWithItsMenuAndTitle)
{
    app::shell().timeWindowMode = 0;
    window->commandAction(app::cmd::Zoom)->trigger();
    app::ZoomWindow* zoom = window->zoomWindow();
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(zoom->size(), QSize(300, 200));
    EXPECT_EQ(zoom->pos(), QPoint(200, 200));
    EXPECT_EQ(zoom->parentWidget(), window.get());
    EXPECT_TRUE(window->commandAction(app::cmd::Zoom)->isChecked());
    window->commandAction(app::cmd::Zoom)->trigger();
    EXPECT_EQ(window->zoomWindow(), zoom);

    zoom->action(app::cmd::ZoomImpedance)->trigger();
    EXPECT_TRUE(zoom->action(app::cmd::ZoomImpedance)->isChecked());
    EXPECT_FALSE(zoom->action(app::cmd::ZoomTime)->isChecked());
    EXPECT_FALSE(zoom->action(app::cmd::ZoomTimeWindow)->isEnabled());
    (void)zoom->area()->grab();
    EXPECT_EQ(zoom->windowTitle(),
              QStringLiteral("ZOOM   Impedanzfrequenzgang (X - Faktor:4.0; Y - Faktor=4.0)"));

    zoom->action(app::cmd::ZoomClose)->trigger();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->zoomWindow(), nullptr);
    EXPECT_EQ(app::shell().zoomOpen, 0);
    EXPECT_FALSE(window->commandAction(app::cmd::Zoom)->isChecked());
}

TEST_F(WindowTest, QtUiCarriesWorkerCallsToTheGuiThread)
{
    app::QtUi* qtUi = window->ui();
    std::atomic<bool> onGuiThread{false};
    qtUi->statusText = [&](int part, const QString& text) {
        onGuiThread = QThread::currentThread() == QApplication::instance()->thread();
        window->setStatus(part, text);
    };
    // Answer the message box the worker raises as soon as it shows.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QStringLiteral("&Nein"))
                        b->click();
    });
    timer.start(10);
    core::Answer answer = core::Answer::Ok;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        qtUi->setStatusText(0, "Messung Nr.: 3");
        answer = qtUi->messageBox("Frage?", " ", core::Icon::Question, core::Buttons::YesNo);
        done = true;
    });
    while (!done)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    QApplication::processEvents();
    EXPECT_EQ(answer, core::Answer::No);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(window->statusPart(0)->text(), QStringLiteral("Messung Nr.: 3"));
}

TEST_F(WindowTest, HelpOpensKeywordPages)
{
    ASSERT_FALSE(app::helpFolder().isEmpty());
    EXPECT_EQ(app::helpTarget("Dialog Signalbearbeitung"),
              QStringLiteral("signalbearbeitung.html"));
    EXPECT_EQ(app::helpTarget("unbekannt"), QStringLiteral("index.html"));
    for (const char* k :
         {"Fenster Zoom", "Dialog Einstellungen Skalen", "Dialog Einstellungen Farben",
          "Dialog Einstellungen Postion Beobachter"}) {
        const QString target = app::helpTarget(k);
        EXPECT_NE(target, QStringLiteral("index.html")) << k;
        QFile f(app::helpFolder() + QLatin1Char('/') + target);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << k;
        EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains(QString::fromUtf8(k))) << k;
    }
    window->commandAction(app::cmd::Help)->trigger();
    QTextBrowser* browser = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<app::HelpBrowser*>(w); h && h->isVisible())
            browser = h->browser();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->source().toString().endsWith(QStringLiteral("index.html")));
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("OrvoPro")));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(WindowTest, PanelsOfTheCombinedViewAndThePrintedPage)
{
    std::vector<std::pair<int, QRect>> replays;
    app::setPictureReplayer([&](QPainter& p, int kind, const QRect& target) {
        replays.emplace_back(kind, p.transform().mapRect(target));
    });
    QImage image(1000, 500, QImage::Format_RGB32);
    {
        QPainter p(&image);
        app::paintDiagram(p, 11, QRect(0, 0, 1000, 500));
    }
    ASSERT_EQ(replays.size(), 3u);
    EXPECT_EQ(replays[0], std::make_pair(1, QRect(10, 5, 480, 240)));
    EXPECT_EQ(replays[1], std::make_pair(2, QRect(510, 5, 480, 240)));
    EXPECT_EQ(replays[2], std::make_pair(4, QRect(10, 255, 480, 240)));

    replays.clear();
    {
        QPainter p(&image);
        app::paintPage(p, 11, QRect(0, 0, 1000, 500));
        app::paintPage(p, 10, QRect(0, 0, 1000, 500)); // no view
        app::paintPage(p, 5, QRect(0, 0, 1000, 500));
        app::paintPage(p, 9, QRect(0, 0, 1000, 500));
    }
    ASSERT_EQ(replays.size(), 5u);
    // The bottom-right 47 % of the page stays blank.
    EXPECT_EQ(replays[1].second, QRect(530, 15, 440, 220));
    EXPECT_EQ(replays[2].second, QRect(30, 265, 440, 220));
    EXPECT_EQ(replays[3], std::make_pair(5, QRect(0, 0, 1000, 500)));
    EXPECT_EQ(replays[4], std::make_pair(9, QRect(0, 0, 1000, 500)));
    app::setPictureReplayer(nullptr);
}

TEST_F(WindowTest, PrintsToAPdfFileOnceChosen)
{
    const QString file = QString::fromStdString(testsupport::makeTempDir()) + "/seite.pdf";
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    int replayed = 0;
    app::setPictureReplayer([&](QPainter& p, int, const QRect& target) {
        ++replayed;
        p.fillRect(target, Qt::white);
    });
    window->setPrinter(std::move(printer));
    // Printing into a file asks for the file's name; cancelled, nothing is printed.
    window->printView(11);
    EXPECT_EQ(replayed, 0);
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_EQ(ui.fileRequests()[0].pattern, "*.pdf");
    ui.queuePath(file.toStdString());
    window->printView(11);
    app::setPictureReplayer(nullptr);
    EXPECT_EQ(replayed, 3);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(5) == "%PDF-");
}

} // namespace

// ---- honest messages and views -----------------------------------------------------------

namespace
{

// Runs `inside` while a message box or dialog is up (from within its event loop).
void whileModal(std::function<void()> inside)
{
    QTimer::singleShot(0, [inside = std::move(inside)] { inside(); });
}

} // namespace

// The load messages of the system put their whole message into the caption (text string 0);
// the caption is cut or hidden by window managers, which left a red X with an empty body.
TEST_F(WindowTest, ErrorBoxesShowTheirMessageInTheBody)
{
    EXPECT_EQ(app::messageBody("", "Fehler beim Öffnen der Datei"),
              QStringLiteral("Fehler beim Öffnen der Datei"));
    EXPECT_EQ(app::messageBody("Fehler beim lesen der Datei", ""),
              QStringLiteral("Fehler beim lesen der Datei"));
    EXPECT_EQ(app::messageBody("Text", "Titel"), QStringLiteral("Text"));

    app::QtUi* qtUi = window->ui();
    QStringList bodies;
    QStringList titles;
    auto answer = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                bodies << box->text();
                titles << box->windowTitle();
                box->buttons().front()->click();
            }
    };
    whileModal(answer);
    qtUi->messageBox("", "Fehler beim Lesen der Datei", core::Icon::Error, core::Buttons::Ok);
    whileModal(answer);
    qtUi->messageBox("evt. Messdatei von anderer ORVO Version ", "Fehler Messdaten Datei",
                     core::Icon::Error, core::Buttons::Ok);
    EXPECT_EQ(bodies, (QStringList{QStringLiteral("Fehler beim Lesen der Datei"),
                                   QStringLiteral("evt. Messdatei von anderer ORVO Version ")}));
    EXPECT_EQ(titles.value(0), QStringLiteral("Fehler beim Lesen der Datei"));
}

// F1 in a dialog opens the help; while the dialog runs, the help window must take clicks (it
// used to be blocked with the main window), and it stays open after the dialog closes.
TEST_F(WindowTest, HelpFromAModalDialogIsUsable)
{
    ASSERT_FALSE(app::helpFolder().isEmpty());
    QDialog dialog(window.get());
    dialog.resize(300, 200);
    bool helpShown = false;
    bool closedByClick = false;
    whileModal([&] {
        app::showHelp(window.get(), "Dialog Signalbearbeitung", app::HelpCaller::Dialog);
        app::HelpBrowser* help = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* h = qobject_cast<app::HelpBrowser*>(w); h && h->isVisible())
                help = h;
        helpShown = help != nullptr;
        if (help) {
            // A click on "Schließen" as the window system delivers it to the help window.
            QPushButton* close = nullptr;
            for (QPushButton* b : help->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("&Schließen"))
                    close = b;
            if (close && help->windowHandle()) {
                QTest::mouseClick(help->windowHandle(), Qt::LeftButton, {},
                                  close->mapTo(help, close->rect().center()));
                QApplication::processEvents();
                closedByClick = !help->isVisible();
            }
            app::showHelp(window.get(), "Dialog Signalbearbeitung", app::HelpCaller::Dialog);
        }
        dialog.accept();
    });
    dialog.exec();
    EXPECT_TRUE(helpShown);
    EXPECT_TRUE(closedByClick);
    QApplication::processEvents();
    app::HelpBrowser* after = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<app::HelpBrowser*>(w); h && h->isVisible())
            after = h;
    ASSERT_NE(after, nullptr) << "the help closed with the dialog";
    EXPECT_EQ(after->parentWidget(), window.get());
    EXPECT_TRUE(
        after->browser()->source().toString().endsWith(QStringLiteral("signalbearbeitung.html")));
    after->close();
}

// Before any measurement a view shows its frame and axes, not an empty grey area.
TEST_F(WindowTest, ViewsShowTheirFramesBeforeAnyMeasurement)
{
    app::wireDiagrams();
    plot::resetPictures();
    window->start();
    const QColor grey(192, 192, 192);
    for (int id : {app::cmd::ShowTime, app::cmd::ShowAmplitude, app::cmd::ShowImpedance,
                   app::cmd::ShowAmpImp, app::cmd::ShowOverlay, app::cmd::ShowSum,
                   app::cmd::ShowLevel, app::cmd::ShowCsd, app::cmd::ShowTriple,
                   app::cmd::ShowDistortion}) {
        window->commandAction(id)->trigger();
        const QImage image = window->drawingArea()->grab().toImage();
        int drawn = 0;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                drawn += image.pixelColor(x, y) != grey;
        const int samples = ((image.height() + 2) / 3) * ((image.width() + 2) / 3);
        EXPECT_GT(drawn, samples / 4) << "view of command " << id;
    }
    app::closePortDriver();
    app::setPictureReplayer(nullptr);
}

// A sweep in the store: the menu entry shows the distortion view, the status bar names the sweep,
// the two switches carry their check marks and draw the view anew, and the zoom window and the
// printer take the view like any other.
TEST_F(WindowTest, DistortionViewFromTheMenuWithItsSwitches)
{
    app::wireDiagrams();
    plot::resetPictures();
    core::settings().sampleRate = 2;
    core::settings().measuringInput = 4;
    window->start();
    core::DistortionRecord& d = core::store().distortion;
    for (double f = 20.0; f <= 10000.0; f *= std::pow(2.0, 1.0 / 24.0)) {
        const auto i = static_cast<float>(d.hz.size());
        d.hz.push_back(static_cast<float>(f));
        d.fundamentalDb.push_back(-15.0f - 10.0f / (1.0f + static_cast<float>(f) / 40.0f));
        d.thdPercent.push_back(3.0f / (1.0f + i / 20.0f) + 0.1f);
        for (std::size_t k = 0; k < 4; ++k) {
            if (f * static_cast<double>(k + 2) > 20000.0)
                continue;
            d.harmonicDb[k].push_back(-35.0f - 8.0f * static_cast<float>(k) - i / 12.0f);
            d.noiseDb[k].push_back(-95.0f + i / 30.0f);
        }
    }
    d.noiseCoversBand = true;
    d.sweepStartHz = 20.0;
    d.sweepEndHz = 20000.0;
    d.sweepSeconds = 2.0;
    d.sweepAmplitude = 0.5;
    d.sweepRateHz = 48000;
    plot::renderView(core::RenderCode::Distortion);

    QAction* view = window->commandAction(app::cmd::ShowDistortion);
    ASSERT_NE(view, nullptr);
    view->trigger();
    EXPECT_EQ(app::shell().currentView, 9);
    EXPECT_TRUE(window->statusPart(1)->text().startsWith(
        QStringLiteral("Sweep 20 Hz – 20 kHz, 2 s, 48.0 kHz     Einstellung: ")))
        << window->statusPart(1)->text().toStdString();
    for (QAction* a : window->toolBar()->actions()) {
        if (a->data().toInt() == app::cmd::ShowDistortionTb) {
            EXPECT_TRUE(a->isChecked());
        }
    }
    QApplication::processEvents();
    saveShot(window.get(), "klirrfaktor-h2-h3");

    QAction* higher = window->commandAction(app::cmd::ShowHigherHarmonics);
    QAction* thd = window->commandAction(app::cmd::ShowThdInstead);
    ASSERT_TRUE(higher && thd);
    EXPECT_TRUE(higher->isCheckable());
    EXPECT_FALSE(higher->isChecked());
    const QImage before = window->drawingArea()->grab().toImage();
    higher->trigger();
    EXPECT_TRUE(higher->isChecked());
    EXPECT_TRUE(core::displaySettings().showHigherHarmonics);
    const QImage withHigher = window->drawingArea()->grab().toImage();
    EXPECT_NE(before, withHigher) << "the view was not drawn anew";
    QApplication::processEvents();
    saveShot(window.get(), "klirrfaktor-h2-bis-h5");
    thd->trigger();
    EXPECT_TRUE(thd->isChecked());
    EXPECT_NE(window->drawingArea()->grab().toImage(), withHigher);
    QApplication::processEvents();
    saveShot(window.get(), "klirrfaktor-thd");
    thd->trigger();
    EXPECT_FALSE(core::displaySettings().showThdInsteadOfHarmonics);

    app::shell().timeWindowMode = 0;
    window->commandAction(app::cmd::Zoom)->trigger();
    app::ZoomWindow* zoom = window->zoomWindow();
    ASSERT_NE(zoom, nullptr);
    zoom->action(app::cmd::ZoomDistortion)->trigger();
    EXPECT_TRUE(zoom->action(app::cmd::ZoomDistortion)->isChecked());
    (void)zoom->area()->grab();
    EXPECT_TRUE(zoom->windowTitle().startsWith(QStringLiteral("ZOOM   Klirrfaktor (")));
    zoom->action(app::cmd::ZoomClose)->trigger();
    QApplication::processEvents();

    // "CSV-Datei (Kurven der Ansicht)" writes the distortion curves of this view.
    const std::string csv = testsupport::makeTempDir() + "/klirr.csv";
    ui.queuePath(csv);
    window->commandAction(app::cmd::ExportCsv)->trigger();
    std::ifstream written(csv);
    std::string header;
    std::getline(written, header);
    EXPECT_NE(header.find("H2 [dB re Grundwelle]"), std::string::npos) << header;

    std::vector<int> printed;
    ops.on.printView = [&printed](int k) { printed.push_back(k); };
    window->commandAction(app::cmd::PrintDistortion)->trigger();
    EXPECT_EQ(printed, (std::vector<int>{9}));
    EXPECT_TRUE(ui.messages().empty());
    app::closePortDriver();
    app::setPictureReplayer(nullptr);
}

// At the default 800 px the read-out of part 1 is shown whole, and it follows the settings as
// soon as a dialog (or any command) changed them, not at the next paint.
TEST_F(WindowTest, StatusReadOutIsWholeAndFollowsTheSettings)
{
    window->start(); // the title of part 2
    ASSERT_FALSE(window->statusPart(2)->text().isEmpty());
    ASSERT_EQ(window->width(), 800);
    int calls = 0;
    ops.on.runDialog = [&calls](app::Dialog) {
        auto& s = core::settings();
        s.sampleRate = 2;
        s.fftLength = 4096;
        s.measuringInput = 1 + calls++ % 4;
    };
    window->commandAction(app::cmd::MeasurementSystem)->trigger();
    EXPECT_EQ(window->statusPart(1)->text(),
              QStringLiteral("Abtastrate: 51.00 kHz     FFT-Länge: 4096   IN:Line1(+-1,5V)"));
    for (int i = 0; i < 4; ++i) {
        window->commandAction(app::cmd::SignalProcessing)->trigger();
        QApplication::processEvents();
        QLabel* part = window->statusPart(1);
        const int needed = part->fontMetrics().horizontalAdvance(part->text());
        EXPECT_GE(part->width(), needed) << part->text().toStdString();
        EXPECT_LE(part->geometry().right(), window->statusBar()->width()) << i;
        // The title gives way, but stays in the window.
        EXPECT_LE(window->statusPart(0)->geometry().right(), part->geometry().left());
    }
    ops.on.runDialog = nullptr;
    app::closePortDriver();
}
