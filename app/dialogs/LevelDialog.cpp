#include "app/dialogs/LevelDialog.h"

#include "app/dialogs/DialogWidgets.h"
#include "box/Level.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Ui.h"
#include "plot/Scales.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <mutex>

namespace app::dialogs {

namespace {

// The open level dialog; the worker's repaint requests reach it through here.
std::mutex g_openMutex;
LevelDialog* g_open = nullptr;

QColor toQColor(std::uint32_t c)
{
    return QColor(core::colorRed(c), core::colorGreen(c), core::colorBlue(c));
}

// The read-out area (control 1200), painted from the level tables on every paint.
class ReadoutArea : public QWidget {
public:
    explicit ReadoutArea(QWidget* parent) : QWidget(parent)
    {
        setObjectName(controlName(1200));
        setMinimumSize(330, 50);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const core::DisplaySettings& d = core::displaySettings();
        const LevelAxes axes = levelAxes();
        const box::LevelReadout r =
            box::levelReadout(axes.minHz, axes.maxHz, axes.levelMax, axes.unitText.toStdString());

        QPainter p(this);
        p.fillRect(rect(), toQColor(d.colors[core::plotAreaColor]));
        // Height 20, average width 6, bold, sans-serif: a narrow face.
        QFont f(QStringLiteral("Sans Serif"));
        f.setStyleHint(QFont::SansSerif);
        f.setPixelSize(20);
        f.setWeight(QFont::Bold);
        f.setStretch(62);
        p.setFont(f);
        p.setBackgroundMode(Qt::TransparentMode);

        const QColor red(255, 0, 0);
        const int ascent = p.fontMetrics().ascent();
        p.setPen(r.currentAboveAxis ? red : toQColor(d.colors[core::levelCurrentColor]));
        p.drawText(QPoint(0, ascent), QString::fromStdString(r.line1));
        p.setPen(r.meanPeakAboveAxis ? red : toQColor(d.colors[core::levelMeanColor]));
        p.drawText(QPoint(0, 20 + ascent), QString::fromStdString(r.line2));
    }
};

} // namespace

LevelAxes levelAxes()
{
    const plot::ScaleRecord& f = plot::scaleRecord(plot::levelAxisFor(core::settings().sampleRate));
    const plot::ScaleRecord& l = plot::scaleRecord(core::displaySettings().axisSets[5].y);
    LevelAxes a;
    a.minHz = f.min;
    a.maxHz = f.max;
    a.levelMax = l.max;
    a.unitText = QString::fromStdString(l.unitText);
    return a;
}

LevelDialog::LevelDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Pegel Messungen"));
    setObjectName(QStringLiteral("dialog159"));
    installHelpKey(this, QStringLiteral("Dialog Pegel Messungen"));

    readout_ = new ReadoutArea(this);
    start_ = makeButton(1191, QStringLiteral("St&art"), this);
    stop_ = makeButton(1189, QStringLiteral("&Stop"), this);
    abort_ = makeButton(1190, QStringLiteral("&Abbrechen"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    buttons->addWidget(abort_);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(10);
    outer->addWidget(readout_, 1);
    outer->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, &LevelDialog::start);
    connect(stop_, &QPushButton::clicked, this, &LevelDialog::stop);
    connect(abort_, &QPushButton::clicked, this, &LevelDialog::abort);

    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open = this;
    }
    const box::LevelButtons b = box::levelDialogInit();
    showButtons(b.startEnabled, b.stopEnabled);
}

LevelDialog::~LevelDialog()
{
    std::lock_guard<std::mutex> lock(g_openMutex);
    if (g_open == this)
        g_open = nullptr;
}

void LevelDialog::showButtons(bool startEnabled, bool stopEnabled)
{
    start_->setEnabled(startEnabled);
    stop_->setEnabled(stopEnabled);
}

void LevelDialog::start()
{
    const box::LevelButtons b = box::levelDialogStart();
    showButtons(b.startEnabled, b.stopEnabled);
}

void LevelDialog::stop()
{
    const box::LevelButtons b = box::levelDialogStop();
    showButtons(b.startEnabled, b.stopEnabled);
}

void LevelDialog::abort()
{
    if (ending_)
        return;
    ending_ = true;
    showButtons(false, false);
    abort_->setEnabled(false);
    // Waits for the worker's last pass, so no other command drives the box meanwhile. Events
    // keep flowing: the worker may be waiting on this thread for a message box or a repaint.
    box::levelDialogCancel([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        if (g_open == this)
            g_open = nullptr;
    }
    done(QDialog::Rejected);
}

void LevelDialog::reject() { abort(); }

void LevelDialog::requestRepaint()
{
    std::lock_guard<std::mutex> lock(g_openMutex);
    if (g_open != nullptr) {
        QWidget* area = g_open->readout_;
        QMetaObject::invokeMethod(area, [area] { area->repaint(); }, Qt::QueuedConnection);
    }
}

void LevelDialog::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
    readout_->update();
}

} // namespace app::dialogs
