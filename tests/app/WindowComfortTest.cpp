// The window as a new user meets it (offscreen): pictures at the size asked for and at the
// screen's device pixels, printing without a default printer, the toolbar following the view,
// one menu letter per level, help for every menu command and F1 everywhere, file filters that
// say what they show, message boxes with a title.
#include "app/Commands.h"
#include "app/Desktop.h"
#include "app/DiagramFiles.h"
#include "app/HelpBrowser.h"
#include "app/MainWindow.h"
#include "app/MenuModel.h"
#include "app/QtUi.h"
#include "app/Wiring.h"
#include "box/Runs.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "plot/Render.h"
#include "tests/app/DialogWatch.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

namespace
{

using testsupport::readAll;

class WindowComfortTest : public testsupport::WindowFixture
{
protected:
    void measureImpedance()
    {
        measureSomething();
        plot::renderView(100);
    }
    // "Diagramm speichern als…" for the current view, filled in as a user would: the size
    // (0 x 0 keeps "wie im Fenster"), the format and the file name, then Speichern.
    void saveDiagramThroughDialog(const std::string& path, int formatIndex, int width, int height,
                                  const char* shot = "")
    {
        bool windowStillChecked = true;
        testsupport::onNextDialog(shot, [&](QWidget* w) {
            auto radios = w->findChildren<QRadioButton*>();
            QRadioButton* own = nullptr;
            QRadioButton* shown = nullptr;
            for (QRadioButton* r : radios)
                (r->text().startsWith(QStringLiteral("eigene")) ? own : shown) = r;
            ASSERT_TRUE(own && shown);
            w->findChild<QComboBox*>()->setCurrentIndex(formatIndex);
            if (width > 0) {
                QTest::mouseClick(own, Qt::LeftButton);
                auto spins = w->findChildren<QSpinBox*>();
                ASSERT_EQ(spins.size(), 2);
                spins[0]->setValue(width);
                spins[1]->setValue(height);
            }
            windowStillChecked = shown->isChecked();
            w->findChild<QLineEdit*>()->setText(QString::fromStdString(path));
            if (const char* shots = std::getenv("ORVO_SHOT_DIR"); shots && *shot)
                w->grab().save(QString::fromUtf8(shots) + QLatin1Char('/') +
                               QString::fromUtf8(shot) + QStringLiteral(".png"));
            w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        });
        app::dispatchCommand(app::cmd::SaveDiagram);
        EXPECT_EQ(windowStillChecked, width == 0);
    }
};

TEST_F(WindowComfortTest, DiagramSavedAtTheSizeTheUserEnters)
{
    measureImpedance();
    app::showView(4);
    const std::string png = dir + "/breit.png";
    const std::string svg = dir + "/breit.svg";
    saveDiagramThroughDialog(png, 0, 1600, 600, "diagramm-eigene-groesse");
    saveDiagramThroughDialog(svg, 1, 1600, 600);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(1600, 600));
    EXPECT_NE(readAll(svg).find("width=\"1600\" height=\"600\""), std::string::npos);
}

// Run a second time with QT_SCALE_FACTOR=2 (its own test entry): the window's picture is
// saved and copied at the pixels the screen shows, not at the logical size.
TEST_F(WindowComfortTest, DiagramAsTheWindowShowsItAtTheScreensDevicePixels)
{
    measureImpedance();
    app::showView(4);
    const QWidget* area = window->drawingArea();
    const double ratio = area->devicePixelRatioF();
    const QSize expected = app::devicePixelSize(area->size(), ratio);
    EXPECT_EQ(expected, QSize(qRound(area->width() * ratio), qRound(area->height() * ratio)));
    const std::string png = dir + "/fenster.png";
    const std::string svg = dir + "/fenster.svg";
    saveDiagramThroughDialog(png, 0, 0, 0);
    saveDiagramThroughDialog(svg, 1, 0, 0);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), expected);
    const std::string size = "width=\"" + std::to_string(expected.width()) + "\" height=\"" +
                             std::to_string(expected.height()) + "\"";
    EXPECT_NE(readAll(svg).find(size), std::string::npos) << size;
    app::dispatchCommand(app::cmd::CopyDiagram);
    EXPECT_EQ(QApplication::clipboard()->image().size(), expected);
    if (const char* f = std::getenv("QT_SCALE_FACTOR"); f && std::string(f) == "2") {
        EXPECT_EQ(ratio, 2.0);
    }
}

// Three measurements and an imported file in the overlay, as the window shows them; the
// picture goes to $ORVO_SHOT_DIR/overlay-legende.png for review.
TEST_F(WindowComfortTest, OverlayLegendNamesTheCurvesInTheWindow)
{
    auto& st = core::store();
    core::displaySettings().axisSets[1].y = 12; // the amplitude in dB, not dB SPL
    const char* names[] = {"Messung 14:32:05", "Messung 14:30:41", "hochtoener.frd",
                           "Messung 14:21:10"};
    for (int s = 0; s < 4; ++s) {
        box::rotateOverlaySlots();
        for (int k = 0; k < core::kCurveBins; ++k) {
            const float f = static_cast<float>(k);
            st.amplitudeSlots[0][k] =
                -40.0f - 6.0f * (3 - s) + 8.0f * std::sin(f / (40.0f + 9.0f * s));
            st.phaseSlots[0][k] = 60.0f * std::cos(f / (70.0f + 11 * s));
        }
        st.amplitudeSlots[0].stamp(4096, 1);
        st.phaseSlots[0].stamp(4096, 1);
        st.slotOccupied[0] = 1;
        st.overlayTags[0].name = names[3 - s];
    }
    plot::renderView(100);
    window->runCommand(app::cmd::ShowOverlay);
    window->resize(1000, 650);
    QApplication::processEvents();
    const QImage shown = window->grab().toImage();
    if (const char* shots = std::getenv("ORVO_SHOT_DIR"))
        shown.save(QString::fromUtf8(shots) + QStringLiteral("/overlay-legende.png"));
    std::vector<std::string> texts;
    for (const plot::Op& op : plot::picture(7)->ops())
        if (op.kind == plot::OpKind::text)
            texts.push_back(op.text);
    for (const char* n : names)
        EXPECT_NE(std::find(texts.begin(), texts.end(), n), texts.end()) << n;
}

TEST(DevicePixelSize, RoundsAndStaysWithinTheRenderBounds)
{
    EXPECT_EQ(app::devicePixelSize(QSize(800, 528), 2.0), QSize(1600, 1056));
    EXPECT_EQ(app::devicePixelSize(QSize(801, 3), 1.5), QSize(1202, plot::kMinPictureSide));
    EXPECT_EQ(app::devicePixelSize(QSize(6000, 10), 2.0), QSize(plot::kMaxPictureSide, 20));
    EXPECT_EQ(app::devicePixelSize(QSize(300, 200), 0.0), QSize(300, 200));
}

TEST_F(WindowComfortTest, PrintingWithoutAPrinterOpensThePrintDialogAndKeepsTheChoice)
{
    if (!QPrinterInfo::defaultPrinter().isNull())
        GTEST_SKIP() << "this machine has a default printer";
    measureImpedance();
    bool printDialog = false;
    testsupport::onNextDialog("", [&](QWidget* w) {
        printDialog = qobject_cast<QPrintDialog*>(w) != nullptr;
    });
    window->printView(4);
    EXPECT_TRUE(printDialog);
    EXPECT_EQ(app::shell().printerChosen, 0); // cancelled: nothing chosen

    // A choice made in an earlier session is used without a dialog: printing into a PDF file
    // asks only for the file's name.
    core::settingsStore().setValue("Drucker", "PDF-Datei");
    const std::string file = dir + "/druck.pdf";
    ui.queuePath(file);
    printDialog = false;
    window->printView(4);
    EXPECT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_EQ(readAll(file).rfind("%PDF-", 0), 0u);
}

TEST_F(WindowComfortTest, PrinterSetupSaysWhatItsButtonDoes)
{
    QStringList texts;
    testsupport::onNextDialog("", [&](QWidget* w) {
        for (QDialogButtonBox* box : w->findChildren<QDialogButtonBox*>())
            for (QAbstractButton* b : box->buttons())
                texts << b->text();
    });
    window->printerSetup();
    EXPECT_TRUE(texts.contains(QStringLiteral("Übernehmen"))) << texts.join(',').toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("&Drucken")) ||
                 texts.contains(QStringLiteral("Drucken")));
}

TEST_F(WindowComfortTest, TheToolbarShowsTheViewOnScreen)
{
    auto pressed = [&] {
        std::vector<int> ids;
        for (QAction* a : window->toolBar()->actions())
            if (a->isChecked() && a->data().toInt() != app::cmd::Zoom)
                ids.push_back(a->data().toInt());
        return ids;
    };
    window->runCommand(app::cmd::ShowAmplitudeTb);
    EXPECT_EQ(pressed(), std::vector<int>{app::cmd::ShowAmplitudeTb});
    // A run shows its view through the user-interaction seam, as the impedance run does.
    window->ui()->showView(4);
    QApplication::processEvents();
    EXPECT_EQ(app::shell().currentView, 4);
    EXPECT_EQ(pressed(), std::vector<int>{app::cmd::ShowImpedanceTb});

    // A ZMA import shows the impedance view, whichever button was pressed before.
    window->runCommand(app::cmd::ShowSumTb);
    EXPECT_EQ(pressed(), std::vector<int>{app::cmd::ShowSumTb});
    ui.queuePath(std::string(ORVO_TEST_DATA) + "/files/exchange/woofer16-free-fixed.zma");
    window->runCommand(app::cmd::ImportZma);
    ASSERT_EQ(app::shell().currentView, 4);
    EXPECT_EQ(pressed(), std::vector<int>{app::cmd::ShowImpedanceTb});
    window->runCommand(app::cmd::ShowTsTb); // a message, not a view: the button stays
    EXPECT_EQ(pressed(), std::vector<int>{app::cmd::ShowImpedanceTb});
}

// The letter after '&' (lower case), or 0 when the text has none.
QChar mnemonic(const std::string& text)
{
    const QString t = QString::fromStdString(text);
    for (int i = 0; i + 1 < t.size(); ++i) {
        if (t[i] != QLatin1Char('&'))
            continue;
        if (t[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return t[i + 1].toLower();
    }
    return QChar();
}

void checkMnemonics(const std::vector<app::MenuEntry>& items, const std::string& where)
{
    std::set<QChar> used;
    for (const app::MenuEntry& e : items) {
        if (e.kind == app::MenuEntry::Kind::Separator)
            continue;
        const QChar m = mnemonic(e.text);
        // The recent files get their numbers when the menu is filled.
        const bool recent = e.id >= app::cmd::RecentFile1 &&
                            e.id < app::cmd::RecentFile1 + app::kRecentFileCount;
        EXPECT_TRUE(!m.isNull() || recent) << where << ": no letter in \"" << e.text << '"';
        if (!m.isNull()) {
            EXPECT_TRUE(used.insert(m).second)
                << where << ": letter " << QString(m).toStdString() << " twice (\"" << e.text
                << "\")";
        }
        if (e.kind == app::MenuEntry::Kind::Popup)
            checkMnemonics(e.items, where + "/" + e.text);
    }
}

TEST(MenuKeys, EachLetterOnceAtEveryLevelAndTheZoomWindowInTheMenu)
{
    checkMnemonics(app::mainMenu(), "Hauptmenü");
    checkMnemonics(app::zoomMenu(), "Zoom");
    bool zoomInMenu = false;
    std::function<void(const std::vector<app::MenuEntry>&)> find =
        [&](const std::vector<app::MenuEntry>& items) {
            for (const app::MenuEntry& e : items) {
                zoomInMenu = zoomInMenu || e.id == app::cmd::Zoom;
                find(e.items);
            }
        };
    find(app::mainMenu());
    EXPECT_TRUE(zoomInMenu);
}

// The plain words of every help page, entities resolved and blanks collapsed.
QString helpText()
{
    QString all;
    const QDir folder(app::helpFolder());
    for (const QString& name : folder.entryList({QStringLiteral("*.html")})) {
        QFile f(folder.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QTextDocument doc;
        doc.setHtml(QString::fromUtf8(f.readAll()));
        all += doc.toPlainText() + QLatin1Char('\n');
    }
    return all.simplified();
}

QString menuWords(const std::string& text)
{
    QString t = QString::fromStdString(text);
    t.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    t.remove(QLatin1Char('&'));
    t.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    t.remove(QChar(0x2026)); // "…"
    return t.simplified();
}

void collectMissing(const std::vector<app::MenuEntry>& items, const QString& help,
                    QStringList& missing)
{
    for (const app::MenuEntry& e : items) {
        if (e.kind == app::MenuEntry::Kind::Separator ||
            (e.id >= app::cmd::RecentFile1 && e.id < app::cmd::RecentFile1 + app::kRecentFileCount))
            continue;
        if (!help.contains(menuWords(e.text)))
            missing << menuWords(e.text);
        collectMissing(e.items, help, missing);
    }
}

TEST(HelpPages, DescribeEveryMenuCommand)
{
    testsupport::desktopApplication();
    const QString help = helpText();
    ASSERT_FALSE(help.isEmpty()) << "no help pages found";
    QStringList missing;
    collectMissing(app::mainMenu(), help, missing);
    collectMissing(app::zoomMenu(), help, missing);
    EXPECT_TRUE(missing.isEmpty()) << missing.join(QStringLiteral(" | ")).toStdString();
    // The question of the overlay view is explained where the view is.
    EXPECT_TRUE(help.contains(QStringLiteral("Alte Messungen löschen?")));
    // The pages the dialogs ask for exist.
    for (const char* keyword : {"Hauptfenster", "Dialog Meßsystem", "Dialog Gleichstromwiderstand",
                                "Dialog Pegel Messungen", "Dialog Diagramm speichern"}) {
        const QString target = app::helpTarget(keyword).section(QLatin1Char('#'), 0, 0);
        EXPECT_TRUE(QFile::exists(app::helpFolder() + QLatin1Char('/') + target)) << keyword;
    }
}

app::HelpBrowser* visibleHelp()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<app::HelpBrowser*>(w); h && h->isVisible())
            return h;
    return nullptr;
}

TEST_F(WindowComfortTest, F1OpensHelpInTheWindowAndTheSaveDialogAndEscClosesIt)
{
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(window.get(), Qt::Key_F1);
    app::HelpBrowser* help = visibleHelp();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->browser()->source().fileName() == QStringLiteral("hauptfenster.html"));
    QApplication::setActiveWindow(help);
    QTest::keyClick(help, Qt::Key_Escape);
    EXPECT_EQ(visibleHelp(), nullptr);

    // "Diagramm speichern als…" opens its section of the files page.
    measureImpedance();
    app::showView(4);
    QString page;
    testsupport::onNextDialog("", [&](QWidget* w) {
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_F1);
        if (app::HelpBrowser* h = visibleHelp())
            page = h->browser()->source().fileName();
    });
    app::dispatchCommand(app::cmd::SaveDiagram);
    EXPECT_EQ(page, QStringLiteral("dateien.html"));
}

TEST(FileFilters, EveryKindNamedAndAllFilesOffered)
{
    for (const char* ext : {"mes", "cfg", "mic", "amp", "pha", "imp", "phe", "tsp", "frd", "zma",
                            "csv", "png", "svg", "pdf"}) {
        core::FileDialogRequest r;
        r.filter = std::string("(*.") + ext + ")";
        r.pattern = std::string("*.") + ext;
        const QString f = app::fileFilterText(r);
        const QStringList parts = f.split(QStringLiteral(";;"));
        ASSERT_EQ(parts.size(), 2) << f.toStdString();
        EXPECT_FALSE(parts[0].startsWith(QLatin1Char('('))) << f.toStdString();
        EXPECT_NE(parts[0].indexOf(QStringLiteral("Dateien ")), 0) << f.toStdString();
        EXPECT_TRUE(parts[0].endsWith(QStringLiteral("(*.") + QLatin1String(ext) + ")"));
        EXPECT_EQ(parts[1], QStringLiteral("Alle Dateien (*)"));
    }
    core::FileDialogRequest named;
    named.filter = "Messdateien (*.mes)";
    named.pattern = "*.mes";
    EXPECT_EQ(app::fileFilterText(named), QStringLiteral("Messdateien (*.mes);;Alle Dateien (*)"));
}

TEST_F(WindowComfortTest, MessageBoxesHaveATitleAndGiveTheKeysBack)
{
    app::QtUi& qtUi = *window->ui();
    QApplication::setActiveWindow(window.get());
    QString title;
    testsupport::onNextDialog("", [&](QWidget* w) { title = w->windowTitle(); });
    qtUi.messageBox("Fehler beim lesen der Datei", "", core::Icon::Error, core::Buttons::Ok);
    EXPECT_EQ(title, QStringLiteral("OrvoPro"));
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), window.get());

    // The system's blank caption " " is no title either.
    testsupport::onNextDialog("", [&](QWidget* w) { title = w->windowTitle(); });
    qtUi.messageBox("Berechnung Wasserfall nur bei Abtastrate 51k möglich !", " ",
                    core::Icon::Information, core::Buttons::Ok);
    EXPECT_EQ(title, QStringLiteral("OrvoPro"));
    testsupport::onNextDialog("", [&](QWidget* w) { title = w->windowTitle(); });
    qtUi.messageBox("Text", "FRD-Import", core::Icon::Information, core::Buttons::Ok);
    EXPECT_EQ(title, QStringLiteral("FRD-Import"));
}

} // namespace
