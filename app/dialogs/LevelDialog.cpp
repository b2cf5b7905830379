#include "app/dialogs/LevelDialog.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/ScaleChoices.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QThread>
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

// The read-out area (control 1200), painted from the store on every paint.
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
        const LevelReadout r = computeLevelReadout();
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

        const QByteArray unit = r.unitText.toUtf8();
        auto line = [&](int stringId, float value, int colorIndex, int top) {
            const QString text = QString::fromStdString(
                core::formatC(" %s %.2f%s", core::str(stringId), value, unit.constData()));
            p.setPen(value > r.axisMax ? QColor(255, 0, 0) : toQColor(d.colors[static_cast<std::size_t>(colorIndex)]));
            p.drawText(QPoint(0, top + p.fontMetrics().ascent()), text);
        };
        line(98, r.highestCurrent, core::levelCurrentColor, 0);
        line(99, r.highestMeanPeak, core::levelMeanColor, 20);
    }
};

} // namespace

LevelReadout computeLevelReadout()
{
    LevelReadout r;
    const core::MeasurementStore& s = core::store();
    const ScaleChoice* freqAxis = scaleChoice(levelFrequencyScale(core::settings().sampleRate));
    const ScaleChoice* levelAxis = scaleChoice(core::displaySettings().axisSets[5].y);
    if (levelAxis) {
        r.axisMax = levelAxis->max;
        r.unitText = QString::fromUtf8(levelAxis->unitText);
    }
    const bool dbspl = r.unitText == QLatin1String("[dBSPL]");
    for (int b = 0; b < core::kLevelBands; ++b) {
        const auto i = static_cast<std::size_t>(b);
        float current = s.levelCurrent[i];
        if (current == core::NO_VALUE)
            continue;
        const float f = s.levelBandFrequencyView[i];
        if (freqAxis && (f < freqAxis->min || f > freqAxis->max))
            continue;
        float meanPeak = s.levelMeanPeak[i];
        if (dbspl) {
            current = dsp::toDbspl(current);
            meanPeak = dsp::toDbspl(meanPeak);
        }
        if (current > r.highestCurrent)
            r.highestCurrent = current;
        if (meanPeak > r.highestMeanPeak)
            r.highestMeanPeak = meanPeak;
    }
    return r;
}

LevelDialog::LevelDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Pegel Messungen"));
    setObjectName(QStringLiteral("dialog159"));

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

    const bool running = levelWorkerHooks().running() == 1;
    stop_->setEnabled(running);
    start_->setEnabled(!running);

    std::lock_guard<std::mutex> lock(g_openMutex);
    g_open = this;
}

LevelDialog::~LevelDialog()
{
    std::lock_guard<std::mutex> lock(g_openMutex);
    if (g_open == this)
        g_open = nullptr;
}

void LevelDialog::start()
{
    levelWorkerHooks().setRunning(1);
    stop_->setEnabled(true);
    start_->setEnabled(false);
}

void LevelDialog::stop()
{
    levelWorkerHooks().setRunning(0);
    stop_->setEnabled(false);
    start_->setEnabled(true);
}

void LevelDialog::abort()
{
    if (ending_)
        return;
    ending_ = true;
    LevelWorkerHooks& hooks = levelWorkerHooks();
    hooks.setRunning(0);
    hooks.requestExit();
    start_->setEnabled(false);
    stop_->setEnabled(false);
    abort_->setEnabled(false);
    // The box must not be driven by two threads: wait for the worker's last pass before the
    // next command can start a measurement. Events keep flowing, since the worker may be
    // waiting on the GUI thread for a message box or a repaint.
    while (!hooks.finished()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
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
