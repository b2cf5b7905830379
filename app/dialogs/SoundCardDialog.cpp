#include "app/dialogs/SoundCardDialog.h"

#include "app/dialogs/DialogWidgets.h"
#include "box/PortAccess.h"
#include "box/sim/SimulatedBox.h"
#include "core/SettingsStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
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

// The spin boxes take and show numbers as the read-outs do, whatever the desktop's locale.
QLocale germanLocale()
{
    QLocale l(QLocale::German, QLocale::Germany);
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

QString timingConflict(const box::SoundCardConfig& config)
{
    if (config.timingChannel <= 0)
        return {};
    QStringList inputs;
    for (std::size_t i = 0; i < 3; ++i)
        if (config.channel[i] == config.timingChannel)
            inputs << QString::fromUtf8(kInputNames[i]);
    if (inputs.isEmpty())
        return {};
    const QString names = inputs.size() == 1
                              ? inputs.front()
                              : QStringList(inputs.mid(0, inputs.size() - 1)).join(", ") +
                                    QStringLiteral(" und ") + inputs.back();
    return QStringLiteral("Kanal %1 ist für %2 und zugleich als Zeitreferenz eingestellt.\n"
                          "Die Zeitreferenz bekommt über ein Kabel das gespielte Signal zurück\n"
                          "und kann nicht zugleich Messeingang sein: bitte für die\n"
                          "Zeitreferenz einen freien Kanal wählen oder „keine“.")
        .arg(config.timingChannel)
        .arg(names);
}

SoundCardDialog::SoundCardDialog(QWidget* owner, std::function<void()> release, AutoBox autoBox)
    : QDialog(owner), release_(std::move(release)), autoBox_(autoBox)
{
    setWindowTitle(QStringLiteral("Soundkarte"));
    setObjectName(QStringLiteral("dialogSoundCard"));
    auto* top = new QVBoxLayout(this);

    auto* box = new QGroupBox(QStringLiteral("Messbox"), this);
    auto* boxRow = new QHBoxLayout;
    driver_ = new RadioGroup(this);
    boxRow->addWidget(driver_->add(1, QStringLiteral("Parallelport"), kParallel, box));
    boxRow->addWidget(driver_->add(2, QStringLiteral("Soundkarte"), kSoundCard, box));
    boxRow->addWidget(driver_->add(3, QStringLiteral("Simulierte Messbox"), kSimulator, box));
    auto* boxLayout = new QVBoxLayout;
    boxLayout->addLayout(boxRow);
    inUse_ = new QLabel(box);
    inUse_->setObjectName(QStringLiteral("boxInUse"));
    inUse_->setWordWrap(true);
    boxLayout->addWidget(inUse_);
    box->setLayout(boxLayout);
    top->addWidget(box);

    // The simulated box's driver can distort, so that a rehearsal of the sweep shows harmonics.
    auto* distortion = new QGroupBox(QStringLiteral("Klirrfaktor des simulierten Treibers"), this);
    distortion->setObjectName(QStringLiteral("simDistortion"));
    auto* distortionRow = new QHBoxLayout(distortion);
    simDistortion_ = new QCheckBox(QStringLiteral("aktiv"), distortion);
    simDistortion_->setObjectName(QStringLiteral("simDistortionActive"));
    distortionRow->addWidget(simDistortion_);
    QDoubleSpinBox** harmonics[2] = {&simH2_, &simH3_};
    for (int k = 0; k < 2; ++k) {
        auto* spin = new QDoubleSpinBox(distortion);
        spin->setObjectName(QStringLiteral("simH%1").arg(k + 2));
        spin->setRange(-200.0, 0.0);
        spin->setDecimals(1);
        spin->setSuffix(QStringLiteral(" dB"));
        spin->setLocale(germanLocale());
        distortionRow->addWidget(new QLabel(QStringLiteral("H%1").arg(k + 2), distortion));
        distortionRow->addWidget(spin);
        *harmonics[k] = spin;
    }
    distortionRow->addStretch(1);
    top->addWidget(distortion);

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
    rate_->addItem(QStringLiteral("wie das Gerät"), 0);
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
        fullScale_[i]->setLocale(germanLocale());
        grid->addWidget(fullScale_[i], i + 1, 2);
    }
    refNote_ = new QLabel(QStringLiteral("digital: ohne Spannung"), inputs);
    refNote_->setObjectName(QStringLiteral("refIntNote"));
    refNote_->setStyleSheet(QStringLiteral("color: #606060"));
    grid->addWidget(refNote_, 4, 3);
    grid->addWidget(new QLabel(QStringLiteral("Zeitreferenz (Schleife)"), inputs), 5, 0);
    timing_ = new QSpinBox(inputs);
    timing_->setObjectName(QStringLiteral("timingChannel"));
    timing_->setRange(0, 64);
    timing_->setSpecialValueText(QStringLiteral("keine"));
    grid->addWidget(timing_, 5, 1);
    conflict_ = new QLabel(inputs);
    conflict_->setObjectName(QStringLiteral("timingConflict"));
    conflict_->setStyleSheet(QStringLiteral("color: #a00000"));
    grid->addWidget(new QLabel(QStringLiteral("Ausgangspegel (MLS)"), inputs), 6, 0);
    level_ = new QDoubleSpinBox(inputs);
    level_->setObjectName(QStringLiteral("outputLevel"));
    level_->setRange(-60.0, 0.0);
    level_->setDecimals(1);
    level_->setSuffix(QStringLiteral(" dBFS"));
    level_->setLocale(germanLocale());
    grid->addWidget(level_, 6, 1);
    grid->addWidget(conflict_, 7, 0, 1, 4);
    auto* explanation = new QLabel(
        QStringLiteral("Zeitreferenz: ein Kabel von einem Ausgangskanal zurück auf einen\n"
                       "freien Eingang. Mit ihr liegt jede Messung auf das Sample genau an\n"
                       "derselben Stelle. Ohne Zeitreferenz sucht das Programm das Signal\n"
                       "im gemessenen Kanal selbst. „Latenz kalibrieren“ misst die Laufzeit\n"
                       "der Schleife einmal und speichert sie für das Gerät."),
        inputs);
    explanation->setObjectName(QStringLiteral("timingExplanation"));
    // Broken by hand: a wrapping label in a grid is cut off when the dialog takes its size.
    grid->addWidget(explanation, 8, 0, 1, 4);
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
    connect(ok, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(inputDevice_, &QComboBox::currentIndexChanged, this, [this] {
        calibratedLatency_ = -1;
        updateWarning();
    });
    connect(outputDevice_, &QComboBox::currentIndexChanged, this, [this] { updateWarning(); });
    for (QSpinBox* spin : channel_)
        connect(spin, &QSpinBox::valueChanged, this, [this] { updateInputs(); });
    connect(timing_, &QSpinBox::valueChanged, this, [this] { updateInputs(); });
    connect(simDistortion_, &QCheckBox::toggled, this, [this](bool on) {
        simH2_->setEnabled(on);
        simH3_->setEnabled(on);
    });
    installHelpKey(this, QStringLiteral("Dialog Soundkarte"));
    load();
}

void SoundCardDialog::load()
{
    const box::PortDriver d = box::configuredPortDriver();
    loadedDriver_ = d;
    // "auto" shows the box it has given: the simulated one where no port could be opened.
    const bool autoSimulated = d == box::PortDriver::Auto && autoBox_ == AutoBox::Simulator;
    shownDriver_ = d == box::PortDriver::SoundCard                    ? kSoundCard
                   : d == box::PortDriver::Simulator || autoSimulated ? kSimulator
                                                                      : kParallel;
    driver_->select(shownDriver_);
    inUse_->setText(autoSimulated ? QStringLiteral("Kein Parallelport gefunden: gemessen wird "
                                                   "mit der simulierten Messbox.")
                                  : QString());
    inUse_->setVisible(autoSimulated);
    const box::sim::DriverDistortion distortion =
        box::loadSimulatedDistortion(core::settingsStore());
    simDistortion_->setChecked(distortion.enabled);
    simH2_->setValue(distortion.h2Db);
    simH3_->setValue(distortion.h3Db);
    simH2_->setEnabled(distortion.enabled);
    simH3_->setEnabled(distortion.enabled);
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
    updateInputs();
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

box::sim::DriverDistortion SoundCardDialog::simulatedDistortion() const
{
    box::sim::DriverDistortion d;
    d.enabled = simDistortion_->isChecked();
    d.h2Db = simH2_->value();
    d.h3Db = simH3_->value();
    return d;
}

box::PortDriver SoundCardDialog::driver() const
{
    const int chosen = driver_->valueOr(shownDriver_);
    // "auto" stays as long as the user keeps the box it has given; choosing another one
    // stores that one.
    if (loadedDriver_ == box::PortDriver::Auto && chosen == shownDriver_)
        return box::PortDriver::Auto;
    switch (chosen) {
    case kSoundCard:
        return box::PortDriver::SoundCard;
    case kSimulator:
        return box::PortDriver::Simulator;
    default:
        return box::PortDriver::Ppdev;
    }
}

void SoundCardDialog::updateInputs()
{
    // Ref_Int "digital" is the played signal itself: no input voltage stands behind its full
    // scale, so its calibration is kept but can't be edited.
    const bool digital = channel_[3]->value() == 0;
    fullScale_[3]->setEnabled(!digital);
    fullScale_[3]->setToolTip(
        digital ? QStringLiteral("Ref_Int ist „digital“, das gespielte Signal selbst: dort gibt "
                                 "es keine Eingangsspannung. Mit einem Kanal (Kabel vom Ausgang) "
                                 "gilt der Wert wieder.")
                : QString());
    refNote_->setVisible(digital);
    conflict_->setText(timingConflict(config()));
    conflict_->setVisible(!conflict_->text().isEmpty());
}

bool SoundCardDialog::confirm()
{
    const QString why = timingConflict(config());
    if (!why.isEmpty()) {
        conflict_->setText(why);
        conflict_->setVisible(true);
        timing_->setFocus();
        timing_->selectAll();
        QApplication::beep();
        return false;
    }
    store();
    accept();
    return true;
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
                          .arg(german(1000.0 * frames / card.rateHz(), 1))
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
    box::saveSimulatedDistortion(st, simulatedDistortion());
}

bool runSoundCardDialog(QWidget* owner, const std::function<void()>& release, AutoBox autoBox)
{
    SoundCardDialog dialog(owner, release, autoBox);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace app::dialogs
