#include "app/MainWindow.h"

#include "app/Commands.h"
#include "app/Desktop.h"
#include "app/HelpBrowser.h"
#include "app/Icons.h"
#include "app/MenuModel.h"
#include "app/Mouse.h"
#include "app/Painting.h"
#include "app/QtUi.h"
#include "app/Startup.h"
#include "app/Wiring.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "files/FileDialogs.h"
#include "files/FileIo.h"
#include "plot/Render.h"

#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>

namespace app
{

namespace
{
// The light grey of the window class's background.
const QColor kBackground(192, 192, 192);

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// Adds the entries of a menu table to a menu; `onCommand` receives the command ids.
template <typename Sink>
void addEntries(QMenu* menu, const std::vector<MenuEntry>& items, Sink&& sink)
{
    for (const MenuEntry& e : items) {
        switch (e.kind) {
        case MenuEntry::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuEntry::Kind::Popup:
            addEntries(menu->addMenu(qs(e.text)), e.items, sink);
            break;
        case MenuEntry::Kind::Command:
            sink(menu->addAction(qs(e.text)), e.id);
            break;
        }
    }
}

template <typename Sink>
void buildMenuBar(QMenuBar* bar, const std::vector<MenuEntry>& items, Sink&& sink)
{
    for (const MenuEntry& e : items) {
        if (e.kind == MenuEntry::Kind::Popup)
            addEntries(bar->addMenu(qs(e.text)), e.items, sink);
        else if (e.kind == MenuEntry::Kind::Command)
            sink(bar->addAction(qs(e.text)), e.id);
    }
}

// A status part that gives way gracefully: too narrow for its text, it shows the beginning
// with "…" and the whole text as a tool tip, instead of a text cut in the middle of a word.
class ElidingLabel : public QLabel
{
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override
    {
        return QSize(fontMetrics().horizontalAdvance(QStringLiteral("OrvoPro…")),
                     QLabel::minimumSizeHint().height());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
        setToolTip(shown == text() ? QString() : text());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
};

class ZoomArea : public QWidget
{
public:
    explicit ZoomArea(QWidget* parent) : QWidget(parent) { setAutoFillBackground(false); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), kBackground);
        const ZoomGeometry g = zoomGeometry(width(), height());
        p.translate(-g.originX, -g.originY);
        replayView(p, shell().zoomView, QRect(0, 0, g.targetWidth, g.targetHeight));
        window()->setWindowTitle(qs(zoomTitle()));
    }
};
} // namespace

// ---------------------------------------------------------------- drawing area

DrawingArea::DrawingArea(MainWindow* owner) : QWidget(owner), owner_(owner)
{
    setMouseTracking(true);
    setMinimumSize(1, 1);
}

void DrawingArea::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    paintDiagram(p, shell().currentView, rect());
    p.end();
    owner_->updateAcquisitionStatus();
}

void DrawingArea::updateCursor()
{
    switch (cursorShape(true)) {
    case CursorShape::ZoomSelect:
        setCursor(zoomSelectCursor());
        break;
    case CursorShape::MarkerDrag:
        setCursor(markerDragCursor());
        break;
    case CursorShape::Default:
        unsetCursor();
        break;
    }
}

void DrawingArea::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    onMouseMove(DiagramRect{0, 0, width(), height()}, 0, pos.x(), pos.y());
    updateCursor();
}

void DrawingArea::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        onLeftButtonDown();
    updateCursor();
}

void DrawingArea::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        onLeftButtonUp();
    updateCursor();
}

// ---------------------------------------------------------------- zoom window

ZoomWindow::ZoomWindow(QWidget* owner) : QMainWindow(owner, Qt::Window), area_(new ZoomArea(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("Zoom"));
    setWindowTitle(QStringLiteral("Zoom"));
    move(200, 200);
    resize(300, 200);
    setCentralWidget(area_);
    buildMenuBar(menuBar(), zoomMenu(), [this](QAction* a, int id) {
        a->setData(id);
        if (id != cmd::ZoomHelp && id != cmd::ZoomClose)
            a->setCheckable(true);
        actions_[id] = a;
        connect(a, &QAction::triggered, this, [this, id] {
            if (dispatchZoomCommand(id) && id != cmd::ZoomClose)
                updateMarks();
        });
    });
    updateMarks();
}

QAction* ZoomWindow::action(int id) const
{
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void ZoomWindow::updateMarks()
{
    const ZoomMenuMarks m = zoomMenuMarks();
    for (auto& [id, a] : actions_) {
        if (!a->isCheckable())
            continue;
        if (id == cmd::ZoomTimeWindow) {
            a->setEnabled(m.timeWindowEnabled);
            a->setChecked(m.timeWindowChecked);
        } else if (id >= cmd::ZoomX1 && id <= cmd::ZoomY4) {
            a->setChecked(id == m.checkedX || id == m.checkedY);
        } else {
            a->setChecked(id == m.checkedView);
        }
    }
}

void ZoomWindow::closeEvent(QCloseEvent* e)
{
    // Closing by the window frame does what "Beenden" does.
    if (shell().zoomOpen) {
        shell().zoomOpen = 0;
        shell().zoomFollow = 0;
        operations().setZoomButton(false);
    }
    QMainWindow::closeEvent(e);
}

// ---------------------------------------------------------------- main window

MainWindow::MainWindow()
{
    setObjectName(QStringLiteral("ORVO"));
    setWindowTitle(QStringLiteral("ORVO"));
    setWindowIcon(programIcon());
    // Large enough for the status bar and the widest dialog (985 pixels) on a 1366 x 768
    // screen, never larger than the screen it opens on.
    QRect available(0, 0, 1120, 720);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    const QSize size = QSize(1120, 720).boundedTo(available.size());
    move(available.topLeft() + QPoint((available.width() - size.width()) / 2,
                                      (available.height() - size.height()) / 2));
    resize(size);
    // The window never gets narrower than 400 or lower than 300 pixels; the edge the user
    // drags is the one that stops.
    setMinimumSize(400, 300);
    area_ = new DrawingArea(this);
    setCentralWidget(area_);
    buildMenu();
    buildToolBar();
    buildStatusBar();

    // Messages, repaint requests and status texts of every layer reach this window.
    ui_ = new QtUi(this);
    ui_->setOwner(this);
    ui_->repaint = [this](core::RepaintTarget target) {
        if (target == core::RepaintTarget::MainWindow)
            area_->repaint();
        else if (target == core::RepaintTarget::ZoomWindow && zoom_)
            zoom_->area()->repaint();
    };
    ui_->statusText = [this](int part, const QString& text) { setStatus(part, text); };
    ui_->viewShown = [this](int kind) {
        showView(kind);
        updateViewButtons();
    };
    core::setUi(ui_);
    wireWindow(*this, *ui_);
    desktop_ = new Desktop(*this);
    desktop_->updateRecentMenu();
    // F1 opens the page of the main window, as the dialogs open theirs.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { desktop_->showHelp("Hauptfenster"); });
}

MainWindow::~MainWindow()
{
    shell().zoomOpen = 0;
    if (&core::ui() == ui_)
        core::setUi(nullptr);
}

void MainWindow::buildMenu()
{
    buildMenuBar(menuBar(), mainMenu(), [this](QAction* a, int id) {
        a->setData(id);
        actions_.emplace(id, a);
        if (const int checked = menuCheck(id); checked >= 0) {
            a->setCheckable(true);
            a->setChecked(checked == 1);
        }
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
        // The desktop's usual keys; each belongs to the first entry of its command.
        if (actions_.count(id) == 1) {
            if (id == cmd::LoadMeasurement)
                a->setShortcut(QKeySequence::Open);
            else if (id == cmd::SaveMeasurement)
                a->setShortcut(QKeySequence::Save);
            else if (id == cmd::PrintCurrent)
                a->setShortcut(QKeySequence::Print);
            else if (id == cmd::CopyDiagram)
                a->setShortcut(QKeySequence::Copy);
        }
    });
}

void MainWindow::runCommand(int id)
{
    dispatchCommand(id);
    updateViewButtons();
    for (auto& [entry, a] : actions_)
        if (const int checked = menuCheck(entry); checked >= 0)
            a->setChecked(checked == 1);
    // Dialogs, configuration files and runs may have changed rate, length or input; the
    // read-out follows at once, not only at the next paint.
    updateAcquisitionStatus();
    updateTitle();
}

void MainWindow::setOpenFile(const std::string& path)
{
    openFile_ = path.empty() ? QString() : QFileInfo(qs(path)).fileName();
    updateTitle();
}

void MainWindow::updateTitle()
{
    if (baseTitle_.isEmpty())
        return; // before the start-up has named the box
    QString title = baseTitle_;
    if (!openFile_.isEmpty()) {
        title += QStringLiteral(" - ") + openFile_;
        if (desktop_->measurementUnsaved())
            title += QStringLiteral(" *");
    }
    if (windowTitle() != title)
        setWindowTitle(title);
}

void MainWindow::updateAcquisitionStatus()
{
    const QString text = qs(acquisitionSummary(shell().currentView));
    setStatus(1, text);
    // The read-out is never cut: it keeps the room its text needs and the title in part 2
    // gives way when the window is narrow.
    status_[1]->setMinimumWidth(status_[1]->fontMetrics().horizontalAdvance(text) + 8);
}

void MainWindow::buildToolBar()
{
    toolbar_ = addToolBar(QStringLiteral("Werkzeugleiste"));
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(32, 16));
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    for (const ToolbarEntry& e : toolbarEntries()) {
        if (e.image < 0) {
            toolbar_->addSeparator();
            continue;
        }
        QAction* a = toolbar_->addAction(QIcon(toolbarImage(e.image)), QString());
        a->setData(e.id);
        a->setToolTip(QString::fromUtf8(toolTipFor(e.id)));
        actions_.emplace(e.id, a);
        const int id = e.id;
        if (id == cmd::Zoom) {
            // The zoom button stays pressed while the zoom centre follows the mouse.
            zoomAction_ = a;
            a->setCheckable(true);
            connect(a, &QAction::triggered, this, [this] {
                runCommand(cmd::Zoom);
                zoomAction_->setChecked(shell().zoomFollow != 0);
            });
        } else {
            connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
            // The view buttons show which view is on screen.
            a->setCheckable(viewOfButton(id) != 0);
        }
    }
}

void MainWindow::updateViewButtons()
{
    for (const ToolbarEntry& e : toolbarEntries()) {
        const int view = viewOfButton(e.id);
        if (view == 0)
            continue;
        for (QAction* a : toolbar_->actions())
            if (a->data().toInt() == e.id)
                a->setChecked(view == shell().currentView);
    }
}

void MainWindow::buildStatusBar()
{
    status_[0] = new QLabel(this);
    status_[1] = new QLabel(this);
    status_[2] = new ElidingLabel(this);
    // Part 0 holds the read-out; with three values it needs more room than 270 pixels in
    // the desktop's font, so it is as wide as the longest read-out.
    const QString longest = QStringLiteral("Wert (X|Y): 2000.00[Hz] | -10.00[dBSPL] | -18.00[Deg]");
    status_[0]->setFixedWidth(
        std::max(270, status_[0]->fontMetrics().horizontalAdvance(longest) + 8));
    // Part 1 takes the room left between the read-out and the title and is as wide as its
    // text at least (updateAcquisitionStatus); the title in part 2 is the one that gives way
    // (it is cut from the right) when the window is too narrow for all three.
    status_[1]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    status_[2]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    status_[2]->setMinimumWidth(1);
    statusBar()->addWidget(status_[0]);
    statusBar()->addWidget(status_[1], 1);
    statusBar()->addPermanentWidget(status_[2]);
    statusBar()->setSizeGripEnabled(true);
}

QAction* MainWindow::commandAction(int id) const
{
    // The zoom command is also in the menu; its pressed state belongs to the toolbar button.
    if (id == cmd::Zoom && zoomAction_)
        return zoomAction_;
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::setStatus(int part, const QString& text)
{
    if (part >= 0 && part < 3 && status_[part]->text() != text)
        status_[part]->setText(text);
}

void MainWindow::invalidateMain()
{
    area_->update();
}

void MainWindow::invalidateZoom()
{
    if (zoom_)
        zoom_->area()->update();
}

void MainWindow::repaintMainNow()
{
    area_->repaint();
}

void MainWindow::repaintZoomNow()
{
    if (zoom_)
        zoom_->area()->repaint();
}

void MainWindow::openZoomWindow()
{
    zoom_ = new ZoomWindow(this);
    connect(zoom_, &QObject::destroyed, this, [this] { zoom_ = nullptr; });
    zoom_->show();
}

void MainWindow::closeZoomWindow()
{
    if (zoom_)
        zoom_->close();
}

void MainWindow::setZoomButton(bool pressed)
{
    zoomAction_->setChecked(pressed);
}

void MainWindow::start()
{
    StartupHooks hooks;
    hooks.openPort = openPortDriver;
    hooks.choosePrinter = [] {
        // The printer itself is taken at the first print; here only whether one exists.
        (void)QPrinterInfo::defaultPrinter();
    };
    hooks.documentsFolder = [] {
        // The documents folder need not exist (a fresh account, another language); `Pfad`
        // must name a folder then all the same, never a file called "Documents".
        return firstStartFolder(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString(),
            QDir::homePath().toStdString());
    };
    hooks.readHardwareNumber = readHardwareNumber;
    // Every view shows its frame and axes before the first measurement, but only the one on
    // screen is drawn now; the others when they are first shown.
    hooks.renderView = [](int code) {
        if (code == static_cast<int>(core::RenderCode::All))
            plot::deferAllViews();
        else
            plot::renderView(code);
    };
    const StartupResult r = runStartup(hooks);
    baseTitle_ = qs(r.title);
    setWindowTitle(baseTitle_);
    setStatus(2, qs(r.statusTitle));
    updateAcquisitionStatus();
    // The settings of the last session come after the start-up, which keeps its own order
    // and messages.
    desktop_->restoreKeptConfiguration();
    desktop_->markSaved();
    desktop_->updateRecentMenu();
    restorePlace();
    area_->update();
}

namespace
{
const std::string kGeometryKey = "Fenster/Geometrie";
const std::string kViewKey = "Fenster/Ansicht";
} // namespace

void MainWindow::restorePlace()
{
    core::SettingsStore& store = core::settingsStore();
    if (const auto g = store.value(kGeometryKey); g && !g->empty())
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*g)));
    if (const auto v = store.value(kViewKey); v && !v->empty()) {
        // Views 1..9 and 11; anything else (a damaged store) keeps the start picture.
        const int view = std::atoi(v->c_str());
        if (isDiagramView(view))
            showView(view);
    }
}

void MainWindow::keepPlace()
{
    core::SettingsStore& store = core::settingsStore();
    store.setValue(kGeometryKey, saveGeometry().toBase64().toStdString());
    store.setValue(kViewKey, std::to_string(shell().currentView));
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    if (!desktop_->confirmDiscard(Replaces::Everything)) {
        e->ignore();
        return;
    }
    desktop_->keepConfiguration();
    keepPlace();
    QMainWindow::closeEvent(e);
}

} // namespace app
