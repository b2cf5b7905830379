#include "app/dialogs/SignalProcessingDialog.h"

#include "app/dialogs/DialogWidgets.h"
#include "core/Settings.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <tuple>

namespace app::dialogs {

namespace {

using Item = std::tuple<int, const char*, int>;

QGroupBox* radioGroupBox(const QStringList& heading, RadioGroup* rg, std::initializer_list<Item> items)
{
    QGroupBox* g = makeGroup(heading);
    for (const auto& [id, label, value] : items)
        groupLayout(g)->addWidget(rg->add(id, QString::fromUtf8(label), value, g));
    groupLayout(g)->addStretch(1);
    return g;
}

QHBoxLayout* spinRow(WrappingSpinBox* spin, const QString& unit = {})
{
    auto* row = new QHBoxLayout;
    spin->setMinimumWidth(64);
    spin->setMaximumWidth(80);
    row->addWidget(spin);
    if (!unit.isEmpty())
        row->addWidget(new QLabel(unit));
    row->addStretch(1);
    return row;
}

// A titled frame around one half of the dialog.
QGroupBox* frame(const QString& title)
{
    auto* f = new QGroupBox(title);
    QFont font = f->font();
    font.setBold(true);
    f->setFont(font);
    return f;
}

// Children of a bold frame keep the normal weight.
void normalFont(QWidget* w)
{
    QFont f = w->font();
    f.setBold(false);
    w->setFont(f);
}

} // namespace

SignalProcessingDialog::SignalProcessingDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Signalbearbeitung"));
    setObjectName(QStringLiteral("dialog123"));

    smoothing_ = new RadioGroup(this);
    window_ = new RadioGroup(this);
    stepResponse_ = new RadioGroup(this);
    phaseMode_ = new RadioGroup(this);
    sumMode_ = new RadioGroup(this);
    dbsplDistance_ = new RadioGroup(this);
    levelMethod_ = new RadioGroup(this);
    levelWeighting_ = new RadioGroup(this);
    levelWindow_ = new RadioGroup(this);
    levelCalculation_ = new RadioGroup(this);
    levelAveraging_ = new RadioGroup(this);
    levelCountLimited_ = new RadioGroup(this);

    // Frame "Amplituden- und Phasenmessung ".
    auto* gSmoothing = radioGroupBox({QStringLiteral("Smoothing")}, smoothing_,
                                     {{1077, "Kein", 1}, {1165, "1/12 Okt", 4}, {1081, "1/6 Okt", 3},
                                      {1079, "1/3 Okt", 2}});
    auto* gWindow = radioGroupBox({QStringLiteral("Fenster")}, window_,
                                  {{1072, "Rechteck", 1}, {1068, "Hammig", 2}, {1069, "Hanning", 3},
                                   {1074, "Blackman", 4}});
    auto* gStep = radioGroupBox({QStringLiteral("Sprungantwort"), QStringLiteral("berechnen")},
                                stepResponse_, {{1179, "nein", 0}, {1180, "ja", 1}});
    auto* gPhase = radioGroupBox({QStringLiteral("Phasenfrequenzgang")}, phaseMode_,
                                 {{1040, "Reale Phase", 1}, {1059, "Reale Phase ", 2}, {1060, "Minimalphase", 3}});
    // The second choice continues on a line of its own, under its button's text.
    auto* delayNote = new QLabel(QStringLiteral("mit Laufzeitausgleich"), gPhase);
    delayNote->setIndent(22);
    groupLayout(gPhase)->insertWidget(3, delayNote);
    auto* gSum = radioGroupBox({QStringLiteral("Summe (5)")}, sumMode_,
                               {{1190, "Komplex", 0}, {1191, "Betrag", 1}});

    averages_ = new WrappingSpinBox(1, 30, this);
    averages_->setObjectName(controlName(1099));
    auto* gAverages = makeGroup({QStringLiteral("Mittlungen")});
    groupLayout(gAverages)->addLayout(spinRow(averages_));
    groupLayout(gAverages)->addStretch(1);

    phaseOffset_ = new WrappingSpinBox(-180, 180, this);
    phaseOffset_->setObjectName(controlName(1100));
    auto* gOffset = makeGroup({QStringLiteral("Phasen-Offset")});
    groupLayout(gOffset)->addLayout(spinRow(phaseOffset_, QStringLiteral("Deg")));
    groupLayout(gOffset)->addStretch(1);

    distance_ = new QSlider(Qt::Horizontal, this);
    distance_->setObjectName(controlName(1110));
    distance_->setRange(1, 5000);
    distance_->setPageStep(1);
    distance_->setSingleStep(1);
    distance_->setMinimumWidth(240);
    distanceText_ = new QLabel(this);
    distanceText_->setObjectName(controlName(1000));
    distanceText_->setAlignment(Qt::AlignCenter);
    QFont mono = distanceText_->font();
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("Monospace"));
    distanceText_->setFont(mono);
    auto* gDistance = makeGroup({QStringLiteral("Abstand Lautsprecher-Mikrofon [mm]")});
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(new QLabel(QStringLiteral("1 mm")));
    sliderRow->addWidget(distance_, 1);
    sliderRow->addWidget(new QLabel(QStringLiteral("5000 mm")));
    groupLayout(gDistance)->addLayout(sliderRow);
    groupLayout(gDistance)->addWidget(distanceText_);
    connect(distance_, &QSlider::valueChanged, this, [this](int v) { showDistance(v); });

    auto* gDbspl = radioGroupBox({QStringLiteral("dBSPL berechnen")}, dbsplDistance_,
                                 {{1201, "realer Abstand", 1}, {1202, "Abstand = 1m", 0}});

    auto* amp = frame(QStringLiteral("Amplituden- und Phasenmessung "));
    auto* ampGrid = new QGridLayout(amp);
    ampGrid->setSpacing(8);
    ampGrid->addWidget(gSmoothing, 0, 0, 2, 1);
    ampGrid->addWidget(gWindow, 0, 1, 2, 1);
    ampGrid->addWidget(gAverages, 0, 2);
    ampGrid->addWidget(gOffset, 1, 2);
    ampGrid->addWidget(gStep, 0, 3);
    ampGrid->addWidget(gSum, 1, 3);
    ampGrid->addWidget(gPhase, 0, 4, 2, 1);
    ampGrid->addWidget(gDistance, 2, 0, 1, 3);
    ampGrid->addWidget(gDbspl, 2, 3, 1, 2);

    // Frame "Pegelmessung (Terz)".
    auto* gLevelMethod = radioGroupBox({QStringLiteral("Messart")}, levelMethod_,
                                       {{1163, "Rosa Rauschen", 1}, {1164, "Rauschen/MLS", 2},
                                        {1166, "FFT-Terz Analyse", 3}});
    auto* gWeighting = radioGroupBox({QStringLiteral("Bewertung")}, levelWeighting_,
                                     {{1078, "1", 1}, {1075, "A", 2}, {1076, "B", 3}, {1168, "C", 4}});
    auto* gLevelWindow = radioGroupBox({QStringLiteral("Fenster")}, levelWindow_,
                                       {{1073, "Rechteck", 1}, {1070, "Hammig", 2}, {1071, "Hanning", 3},
                                        {1167, "Blackman", 4}});
    auto* gCalc = radioGroupBox({QStringLiteral("Berechnung ")}, levelCalculation_,
                                {{1160, "nur akt. Wert", 0}, {1161, "mit Mittelwert", 1},
                                 {1162, "mit Spitzenwert", 2}});
    auto* gAveraging = radioGroupBox({QStringLiteral("Mittelwert")}, levelAveraging_,
                                     {{1169, "schnell", 1}, {1170, "mittel", 2}, {1171, "träge", 3}});
    levelCount_ = new WrappingSpinBox(1, 99, this);
    levelCount_->setObjectName(controlName(1104));
    auto* gCount = radioGroupBox({QStringLiteral("Anzahl Messungen")}, levelCountLimited_,
                                 {{1192, "unendlich", 0}, {1193, "begrenzt", 1}});
    groupLayout(gCount)->insertLayout(3, spinRow(levelCount_));

    auto* level = frame(QStringLiteral("Pegelmessung (Terz)"));
    auto* levelRow = new QHBoxLayout(level);
    levelRow->setSpacing(8);
    for (QGroupBox* g : {gLevelMethod, gWeighting, gLevelWindow, gCalc, gAveraging, gCount})
        levelRow->addWidget(g);

    for (QGroupBox* g : {gSmoothing, gWindow, gStep, gPhase, gSum, gAverages, gOffset, gDistance,
                         gDbspl, gLevelMethod, gWeighting, gLevelWindow, gCalc, gAveraging, gCount})
        normalFont(g);

    auto* ok = makeButton(1, QStringLiteral("&OK"), this);
    auto* cancel = makeButton(2, QStringLiteral("&Abbrechen"), this);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(10);
    outer->addWidget(amp);
    outer->addWidget(level);
    outer->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    installHelpKey(this, QStringLiteral("Dialog Signalbearbeitung"));

    load();
}

void SignalProcessingDialog::showDistance(int mm) { distanceText_->setText(formatInt("%4i mm", mm)); }

void SignalProcessingDialog::load()
{
    const core::MeasurementSettings& s = core::settings();
    smoothing_->select(s.smoothing);
    window_->select(s.window);
    stepResponse_->select(s.stepResponse);
    phaseMode_->select(s.phaseMode);
    sumMode_->select(s.sumMode);
    dbsplDistance_->select(s.dbsplRealDistance);
    levelMethod_->select(s.levelMethod);
    levelWeighting_->select(s.levelWeighting);
    levelWindow_->select(s.levelWindow);
    levelCalculation_->select(s.levelCalculation);
    levelAveraging_->select(s.levelAveraging);
    levelCountLimited_->select(s.levelCountLimited);

    averages_->setValue(s.averages);
    levelCount_->setValue(s.levelCount);
    phaseOffset_->setValue(static_cast<int>(s.phaseOffsetDeg));
    distance_->setValue(s.distanceMm);
    showDistance(distance_->value());
}

void SignalProcessingDialog::confirm()
{
    core::MeasurementSettings& s = core::settings();
    s.window = window_->valueOr(s.window);
    s.smoothing = smoothing_->valueOr(s.smoothing);
    s.phaseMode = phaseMode_->valueOr(s.phaseMode);
    s.sumMode = sumMode_->valueOr(s.sumMode);
    s.averages = averages_->value();
    core::resetMarkersIfCrossed();
    s.dbsplRealDistance = dbsplDistance_->valueOr(s.dbsplRealDistance);
    s.distanceMm = distance_->value();
    s.levelCalculation = levelCalculation_->valueOr(s.levelCalculation);
    s.levelAveraging = levelAveraging_->valueOr(s.levelAveraging);
    s.levelCount = levelCount_->value();
    s.levelWindow = levelWindow_->valueOr(s.levelWindow);
    s.stepResponse = stepResponse_->valueOr(s.stepResponse);
    s.levelWeighting = levelWeighting_->valueOr(s.levelWeighting);
    s.levelMethod = levelMethod_->valueOr(s.levelMethod);
    s.levelCountLimited = levelCountLimited_->valueOr(s.levelCountLimited);
    s.phaseOffsetDeg = core::signedSpinValue(phaseOffset_->position16());
    done(QDialog::Accepted);
}

} // namespace app::dialogs
