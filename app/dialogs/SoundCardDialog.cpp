#include "app/dialogs/SoundCardDialog.h"

#include "app/dialogs/DialogWidgets.h"
#include "box/PortAccess.h"
#include "core/SettingsStore.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace app::dialogs {

namespace {

const char* const kInputNames[4] = {"Line1", "Mic.", "Line2", "Ref_Int"};

// Driver values of the radio group.
constexpr int kParallel = 1, kSoundCard = 2, kSimulator = 3;

QString qs(const std::string& s) { return QString::fromUtf8(s.c_str()); }

// A German number with the decimal comma, for the read-outs.
QString german(double value, int decimals)
{
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

SoundCardDialog::SoundCardDialog(QWidget* owner, std::function<void()> release)
    : QDialog(owner), release_(std::move(release))
{
    setWindowTitle(QStringLiteral("Soundkarte"));
    setObjectName(QStringLiteral("dialogSoundCard"));
    auto* top = new QVBoxLayout(this);

    auto* box = new QGroupBox(QStringLiteral("Messbox"), this);
    auto* boxRow = new QHBoxLayout(box);
    driver_ = new RadioGroup(this);
    boxRow->addWidget(driver_->add(1, QStringLiteral("Parallelport"), kParallel, box));
    boxRow->addWidget(driver_->add(2, QStringLiteral("Soundkarte"), kSoundCard, box));
    boxRow->addWidget(driver_->add(3, QStringLiteral("Simulierte Messbox"), kSimulator, box));
    top->addWidget(box);

    auto* devices = new QGroupBox(QStringLiteral("Geräte"), this);
    auto* devForm = new QFormLayout(devices);
    inputDevice_ = new QComboBox(devices);
    inputDevice_->setObjectName(QStringLiteral("inputDevice"));
    outputDevice_ = new QComboBox(devices);
    outputDevice_->setObjectName(QStringLiteral("outputDevice"));
    inputDevice_->addItem(QStringLiteral("(Standardgerät)"), QString());
    outputDevice_->addItem(QStringLiteral("(wie Eingabe)"), QString());
    for (const box::AudioDeviceInfo& d : box::listAudioDevices()) {
        const QString label = QStringLiteral("%1 (%2, %3 ein / %4 aus)")
                                  .arg(qs(d.name), qs(d.hostApi))
                                  .arg(d.inputChannels)
                                  .arg(d.outputChannels);
        if (d.inputChannels > 0)
            inputDevice_->addItem(label, qs(d.name));
        if (d.outputChannels > 0)
            outputDevice_->addItem(label, qs(d.name));
    }
    rate_ = new QComboBox(devices);
    rate_->setObjectName(QStringLiteral("deviceRate"));
    for (int hz : {44100, 48000, 88200, 96000, 192000})
        rate_->addItem(QStringLiteral("%1 Hz").arg(hz), hz);
    devForm->addRow(QStringLiteral("Eingabe:"), inputDevice_);
    devForm->addRow(QStringLiteral("Ausgabe:"), outputDevice_);
    devForm->addRow(QStringLiteral("Abtastrate der Karte:"), rate_);
    warning_ = new QLabel(devices);
    warning_->setObjectName(QStringLiteral("clockWarning"));
    warning_->setWordWrap(true);
    warning_->setStyleSheet(QStringLiteral("color: #a00000"));
    devForm->addRow(warning_);
    top->addWidget(devices);

    auto* inputs = new QGroupBox(QStringLiteral("Eingänge und Pegel"), this);
    auto* grid = new QGridLayout(inputs);
    grid->addWidget(new QLabel(QStringLiteral("Eingang"), inputs), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Kanal"), inputs), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Volt bei 0 dBFS"), inputs), 0, 2);
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new QLabel(QString::fromUtf8(kInputNames[i]), inputs), i + 1, 0);
        channel_[i] = new QSpinBox(inputs);
        channel_[i]->setObjectName(QStringLiteral("channel%1").arg(i + 1));
        channel_[i]->setRange(i == 3 ? 0 : 1, 64);
        if (i == 3)
            channel_[i]->setSpecialValueText(QStringLiteral("digital"));
        grid->addWidget(channel_[i], i + 1, 1);
        fullScale_[i] = new QDoubleSpinBox(inputs);
        fullScale_[i]->setObjectName(QStringLiteral("fullScale%1").arg(i + 1));
        fullScale_[i]->setDecimals(4);
        fullScale_[i]->setRange(0.0001, 999.0);
        fullScale_[i]->setSuffix(QStringLiteral(" V"));
        grid->addWidget(fullScale_[i], i + 1, 2);
    }
    grid->addWidget(new QLabel(QStringLiteral("Zeitreferenz (Schleife)"), inputs), 5, 0);
    timing_ = new QSpinBox(inputs);
    timing_->setObjectName(QStringLiteral("timingChannel"));
    timing_->setRange(0, 64);
    timing_->setSpecialValueText(QStringLiteral("keine"));
    grid->addWidget(timing_, 5, 1);
    grid->addWidget(new QLabel(QStringLiteral("Ausgangspegel (MLS)"), inputs), 6, 0);
    level_ = new QDoubleSpinBox(inputs);
    level_->setObjectName(QStringLiteral("outputLevel"));
    level_->setRange(-60.0, 0.0);
    level_->setDecimals(1);
    level_->setSuffix(QStringLiteral(" dBFS"));
    grid->addWidget(level_, 6, 1);
    top->addWidget(inputs);

    auto* test = new QGroupBox(QStringLiteral("Test"), this);
    auto* testLayout = new QVBoxLayout(test);
    auto* testButtons = new QHBoxLayout;
    auto* testButton = new QPushButton(QStringLiteral("&Test"), test);
    testButton->setObjectName(QStringLiteral("test"));
    auto* latencyButton = new QPushButton(QStringLiteral("&Latenz kalibrieren"), test);
    latencyButton->setObjectName(QStringLiteral("calibrateLatency"));
    testButtons->addWidget(testButton);
    testButtons->addWidget(latencyButton);
    testButtons->addStretch(1);
    testLayout->addLayout(testButtons);
    result_ = new QLabel(test);
    result_->setObjectName(QStringLiteral("testResult"));
    result_->setTextFormat(Qt::RichText);
    result_->setMinimumHeight(60);
    latency_ = new QLabel(test);
    latency_->setObjectName(QStringLiteral("latency"));
    testLayout->addWidget(result_);
    testLayout->addWidget(latency_);
    top->addWidget(test);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(controlName(1));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel->setObjectName(controlName(2));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);

    connect(testButton, &QPushButton::clicked, this, [this] { runTest(); });
    connect(latencyButton, &QPushButton::clicked, this, [this] { runLatencyCalibration(); });
    connect(ok, &QPushButton::clicked, this, [this] {
        store();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(inputDevice_, &QComboBox::currentIndexChanged, this, [this] {
        calibratedLatency_ = -1;
        updateWarning();
    });
    connect(outputDevice_, &QComboBox::currentIndexChanged, this, [this] { updateWarning(); });
    installHelpKey(this, QStringLiteral("Dialog Soundkarte"));
    load();
}

void SoundCardDialog::load()
{
    const box::PortDriver d = box::configuredPortDriver();
    loadedDriver_ = d;
    driver_->select(d == box::PortDriver::SoundCard   ? kSoundCard
                    : d == box::PortDriver::Simulator ? kSimulator
                                                      : kParallel);
    const box::SoundCardConfig c = box::loadSoundCardConfig(core::settingsStore());
    auto choose = [](QComboBox* combo, const std::string& name) {
        int i = combo->findData(qs(name));
        if (i < 0) {
            // A device that isn't there now stays chosen, so OK doesn't lose it.
            combo->addItem(qs(name) + QStringLiteral(" (nicht vorhanden)"), qs(name));
            i = combo->count() - 1;
        }
        combo->setCurrentIndex(i);
    };
    choose(inputDevice_, c.inputDevice);
    choose(outputDevice_, c.outputDevice);
    int r = rate_->findData(c.deviceRateHz);
    if (r < 0) {
        rate_->addItem(QStringLiteral("%1 Hz").arg(c.deviceRateHz), c.deviceRateHz);
        r = rate_->count() - 1;
    }
    rate_->setCurrentIndex(r);
    for (int i = 0; i < 4; ++i) {
        channel_[i]->setValue(c.channel[static_cast<std::size_t>(i)]);
        fullScale_[i]->setValue(c.fullScaleVolts[static_cast<std::size_t>(i)]);
    }
    timing_->setValue(c.timingChannel);
    level_->setValue(c.outputLevelDbfs);
    calibratedLatency_ = c.calibratedLatencyFrames;
    latency_->setText(calibratedLatency_ >= 0
                          ? QStringLiteral("Kalibrierte Latenz: %1 Frames").arg(calibratedLatency_)
                          : QStringLiteral("Latenz nicht kalibriert"));
    updateWarning();
}

box::SoundCardConfig SoundCardDialog::config() const
{
    box::SoundCardConfig c;
    c.inputDevice = inputDevice_->currentData().toString().toStdString();
    c.outputDevice = outputDevice_->currentData().toString().toStdString();
    c.deviceRateHz = rate_->currentData().toInt();
    for (int i = 0; i < 4; ++i) {
        c.channel[static_cast<std::size_t>(i)] = channel_[i]->value();
        c.fullScaleVolts[static_cast<std::size_t>(i)] = fullScale_[i]->value();
    }
    c.timingChannel = timing_->value();
    c.outputLevelDbfs = level_->value();
    c.calibratedLatencyFrames = calibratedLatency_;
    return c;
}

box::PortDriver SoundCardDialog::driver() const
{
    switch (driver_->valueOr(kParallel)) {
    case kSoundCard:
        return box::PortDriver::SoundCard;
    case kSimulator:
        return box::PortDriver::Simulator;
    default:
        // "auto" also means the parallel port (with the simulated box where there is none);
        // it stays as it was unless the user chose the port instead of something else.
        return loadedDriver_ == box::PortDriver::Auto ? box::PortDriver::Auto
                                                      : box::PortDriver::Ppdev;
    }
}

void SoundCardDialog::updateWarning()
{
    const QString in = inputDevice_->currentData().toString();
    const QString out = outputDevice_->currentData().toString();
    warning_->setText(!out.isEmpty() && out != in
                          ? QStringLiteral("Eingabe und Ausgabe auf verschiedenen Geräten: "
                                           "ihre Takte laufen auseinander, Messungen werden "
                                           "ungenau. Besser ein Gerät für beides.")
                          : QString());
}

void SoundCardDialog::runTest()
{
    WaitCursor wait;
    if (release_)
        release_();
    box::SoundCardDevice card(config());
    std::string error;
    if (!card.open(error)) {
        result_->setText(QStringLiteral("<b>%1</b>").arg(qs(error).toHtmlEscaped()));
        return;
    }
    const box::SoundCardTestResult r = card.test();
    if (!r.ok) {
        result_->setText(QStringLiteral("<b>%1</b>").arg(qs(r.error).toHtmlEscaped()));
        return;
    }
    QString text;
    const box::SoundCardConfig c = config();
    for (std::size_t ch = 0; ch < r.peakDbfs.size(); ++ch) {
        QStringList uses;
        for (int i = 0; i < 4; ++i)
            if (c.channel[static_cast<std::size_t>(i)] == int(ch) + 1)
                uses << QString::fromUtf8(kInputNames[i]);
        if (c.timingChannel == int(ch) + 1)
            uses << QStringLiteral("Zeitreferenz");
        const double peak = std::max(r.peakDbfs[ch], -120.0);
        QString line = QStringLiteral("Kanal %1%2: Spitze %3 dBFS")
                           .arg(ch + 1)
                           .arg(uses.isEmpty() ? QString() : " (" + uses.join(", ") + ")")
                           .arg(german(peak, 1));
        if (r.clipped[ch])
            line += QStringLiteral(" <b style=\"color:#c00000\">übersteuert</b>");
        text += line + QStringLiteral("<br>");
    }
    if (r.latencyFrames >= 0)
        text += QStringLiteral("Gemessene Latenz: %1 ms (%2 Frames)")
                    .arg(german(r.latencyMs, 1))
                    .arg(r.latencyFrames);
    else
        text += QStringLiteral("Keine Schleife gehört: Latenz nicht messbar");
    if (r.separateDevices)
        text += QStringLiteral("<br>Eingabe und Ausgabe auf verschiedenen Geräten");
    result_->setText(text);
}

void SoundCardDialog::runLatencyCalibration()
{
    WaitCursor wait;
    if (release_)
        release_();
    box::SoundCardDevice card(config());
    std::string error;
    int frames = -1;
    if (card.open(error))
        frames = card.calibrateLatency(error);
    if (frames < 0) {
        latency_->setText(qs(error));
        return;
    }
    calibratedLatency_ = frames;
    latency_->setText(QStringLiteral("Kalibrierte Latenz: %1 ms (%2 Frames)")
                          .arg(german(1000.0 * frames / config().deviceRateHz, 1))
                          .arg(frames));
}

void SoundCardDialog::store()
{
    core::SettingsStore& st = core::settingsStore();
    const box::SoundCardConfig c = config();
    box::saveSoundCardConfig(st, c);
    if (c.calibratedLatencyFrames >= 0)
        box::saveCalibratedLatency(st, c.inputDevice, c.calibratedLatencyFrames);
    st.setValue("PortDriver", box::portDriverName(driver()));
}

bool runSoundCardDialog(QWidget* owner, const std::function<void()>& release)
{
    SoundCardDialog dialog(owner, release);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace app::dialogs
