#include "app/dialogs/MeasurementSystemDialog.h"

#include "app/dialogs/DialogWidgets.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Ui.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>
#include <string>

namespace app::dialogs {

namespace {

QLineEdit* makeEdit(int id, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(controlName(id));
    e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setMaxLength(255);
    e->setMinimumWidth(70);
    e->setMaximumWidth(90);
    return e;
}

// An edit with its unit to the right, in one row.
QHBoxLayout* editRow(QWidget* edit, const QString& unit, const QString& label = {})
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    if (!label.isEmpty()) {
        auto* l = new QLabel(label);
        l->setMinimumWidth(135);
        row->addWidget(l);
    }
    row->addWidget(edit);
    row->addWidget(new QLabel(unit));
    row->addStretch(1);
    return row;
}

// One range check of the OK sequence: the message when it fails, the value when it passes.
bool check(core::RangeField field, const QLineEdit* edit, float& value)
{
    const core::RangeCheckResult r =
        core::checkSettingRange(field, edit->text().toStdString().c_str());
    if (!r.ok) {
        core::message(r.messageId, r.captionId, core::Icon::Information);
        return false;
    }
    value = r.value;
    return true;
}

// A number as typed, with a decimal comma or point; NaN when the text is none.
double typedNumber(const QLineEdit* edit)
{
    bool ok = false;
    const double v = edit->text().trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok ? v : std::nan("");
}

} // namespace

MeasurementSystemDialog::MeasurementSystemDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Meßsystem"));
    setObjectName(QStringLiteral("dialog122"));
    installHelpKey(this, QStringLiteral("Dialog Meßsystem"));

    port_ = new RadioGroup(this);
    rate_ = new RadioGroup(this);
    fftLength_ = new RadioGroup(this);
    measuringInput_ = new RadioGroup(this);
    micCorrection_ = new RadioGroup(this);
    micPhase_ = new RadioGroup(this);
    referenceComputation_ = new RadioGroup(this);
    referenceInput_ = new RadioGroup(this);
    method_ = new RadioGroup(this);

    auto radios = [](QGroupBox* g, RadioGroup* rg,
                     std::initializer_list<std::tuple<int, const char*, int>> items) {
        for (const auto& [id, label, value] : items)
            groupLayout(g)->addWidget(rg->add(id, QString::fromUtf8(label), value, g));
        groupLayout(g)->addStretch(1);
        return g;
    };

    auto* gPort = radios(makeGroup({QStringLiteral("Anschluß-"), QStringLiteral("port")}), port_,
                         {{1062, "LPT 1", 1}, {1063, "LPT 2", 2}, {1064, "LPT 3", 3}});
    auto* gRate = radios(makeGroup({QStringLiteral("Abtastrate")}), rate_,
                         {{1179, "3,2kHz", 3}, {1178, "6,4kHz", 1}, {1067, "51 kHz", 2}});
    auto* gFft = radios(makeGroup({QStringLiteral("FFT-Länge")}), fftLength_,
                        {{1105, "  512", 512}, {1106, "1024", 1024}, {1107, "2048", 2048},
                         {1108, "4096", 4096}});
    auto* gInput = radios(makeGroup({QStringLiteral("Meßeingang ")},
                                    {QStringLiteral("für Amplituden- und"),
                                     QStringLiteral("Phasenmessung")}),
                          measuringInput_,
                          {{1135, "Mic.", 2}, {1070, "Line1", 1}, {1122, "Line2", 3},
                           {1123, "Ref_Intern", 4}});
    auto* gRefInput = radios(makeGroup({QStringLiteral("Referenz")}), referenceInput_,
                             {{1124, "INT", 4}, {1125, "Line1", 1}, {1126, "Line2", 3},
                              {1116, "Mic.", 2}});
    auto* gMethod = radios(makeGroup({QStringLiteral("Meßverfahren")}), method_,
                           {{1132, "Impuls", 0}, {1131, "MLS", 1}, {1136, "FFT-Analyzer", 2},
                            {1140, "Sweep", 3}});
    auto* gMicCorr = radios(makeGroup({QStringLiteral("Mikrofon-"), QStringLiteral("korrektur")}),
                            micCorrection_, {{1133, "Nein", 0}, {1130, "Ja", 1}});
    auto* gMicPhase = radios(makeGroup({QStringLiteral("Mikrofon-"), QStringLiteral("phase")}),
                             micPhase_, {{1137, "0 Deg", 1}, {1139, "180 Deg", 0}});
    auto* gRefComp = radios(makeGroup({QStringLiteral("Referenzberechnung")}),
                            referenceComputation_, {{1114, "Nein", 0}, {1115, "Ja", 1}});

    preamp_ = new WrappingSpinBox(-50, 50, this);
    preamp_->setObjectName(controlName(1204));
    preamp_->setMinimumWidth(70);
    preamp_->setMaximumWidth(90);
    auto* gPreamp = makeGroup({QStringLiteral("ext. Vorverstärker")});
    groupLayout(gPreamp)->addLayout(editRow(preamp_, QStringLiteral("dB")));

    referenceResistor_ = makeEdit(1004, this);
    auto* gRefRes = makeGroup({QStringLiteral("Referenzwiderstand")},
                             {QStringLiteral("für Impedanzmessung")});
    groupLayout(gRefRes)->addLayout(editRow(referenceResistor_, QStringLiteral("Ohm")));

    micSensitivity_ = makeEdit(1048, this);
    auto* gMicSens = makeGroup({QStringLiteral("Mikrofonempfindlichkeit")});
    groupLayout(gMicSens)->addLayout(editRow(micSensitivity_, QStringLiteral("mV/Pa")));

    dbsplImpedance_ = makeEdit(1003, this);
    auto* gDbspl = makeGroup({QStringLiteral("dBSPL Ls.-Impedanz")});
    groupLayout(gDbspl)->addLayout(editRow(dbsplImpedance_, QStringLiteral("Ohm")));

    addedMass_ = makeEdit(1001, this);
    boxVolume_ = makeEdit(1002, this);
    diaphragm_ = makeEdit(1046, this);
    auto* gTs = makeGroup({QStringLiteral("T/S-Parametermessung")});
    groupLayout(gTs)->addLayout(editRow(addedMass_, QStringLiteral("Gramm"), QStringLiteral("Zusatzmasse")));
    groupLayout(gTs)->addLayout(editRow(boxVolume_, QStringLiteral("Liter"), QStringLiteral("Gehaeusevolumen")));
    groupLayout(gTs)->addLayout(editRow(diaphragm_, QStringLiteral("mm"), QStringLiteral("Membrandurchmesser")));

    sweepStart_ = makeEdit(1210, this);
    sweepEnd_ = makeEdit(1211, this);
    sweepSeconds_ = makeEdit(1212, this);
    auto* gSweep = makeGroup({QStringLiteral("Sweep")});
    groupLayout(gSweep)->addLayout(editRow(sweepStart_, QStringLiteral("Hz"), QStringLiteral("Sweep von")));
    groupLayout(gSweep)->addLayout(editRow(sweepEnd_, QStringLiteral("Hz"), QStringLiteral("bis")));
    groupLayout(gSweep)->addLayout(editRow(sweepSeconds_, QStringLiteral("s"), QStringLiteral("Dauer")));

    // Hardware and inputs on the left, numbers and T/S helpers on the right.
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    grid->addWidget(gPort, 0, 0);
    grid->addWidget(gRate, 0, 1);
    grid->addWidget(gFft, 0, 2);
    grid->addWidget(gInput, 0, 3);
    grid->addWidget(gRefInput, 1, 0);
    grid->addWidget(gMethod, 1, 1);
    grid->addWidget(gRefComp, 1, 2);
    auto* micColumn = new QHBoxLayout;
    micColumn->setSpacing(8);
    micColumn->addWidget(gMicCorr);
    micColumn->addWidget(gMicPhase);
    grid->addLayout(micColumn, 1, 3);

    auto* right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(gTs);
    auto* numbers = new QGridLayout;
    numbers->setSpacing(8);
    numbers->addWidget(gRefRes, 0, 0);
    numbers->addWidget(gPreamp, 0, 1);
    numbers->addWidget(gMicSens, 1, 0);
    numbers->addWidget(gDbspl, 1, 1);
    right->addLayout(numbers);
    right->addWidget(gSweep);
    right->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    top->addLayout(grid);
    top->addLayout(right);

    auto* ok = makeButton(1, QStringLiteral("&OK"), this);
    auto* cancel = makeButton(2, QStringLiteral("&Abbrechen"), this);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(12);
    outer->addLayout(top);
    outer->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    load();
}

void MeasurementSystemDialog::load()
{
    const core::MeasurementSettings& s = core::settings();
    port_->select(s.parallelPort);
    rate_->select(s.sampleRate);
    fftLength_->select(s.fftLength);
    measuringInput_->select(s.measuringInput);
    micCorrection_->select(s.micCorrection);
    micPhase_->select(s.micPhase0Deg);
    referenceComputation_->select(s.referenceComputation);
    referenceInput_->select(s.referenceInput);
    method_->select(s.method);

    referenceResistor_->setText(formatNumber("%4.2f", s.referenceResistorOhm));
    micSensitivity_->setText(formatNumber("%4.2f", s.micSensitivityMvPerPa));
    addedMass_->setText(formatNumber("%4.2f", s.addedMassG));
    boxVolume_->setText(formatNumber("%4.2f", s.boxVolumeL));
    diaphragm_->setText(formatNumber("%4.2f", s.diaphragmDiameterMm));
    dbsplImpedance_->setText(formatNumber("%4.1f", s.dbsplSpeakerImpedanceOhm));
    sweepStart_->setText(formatNumber("%.6g", s.sweepStartHz));
    sweepEnd_->setText(formatNumber("%.6g", s.sweepEndHz));
    sweepSeconds_->setText(formatNumber("%.6g", s.sweepSeconds));

    // A gain outside the control's range (from a foreign file) is shown at the nearest end.
    preamp_->setValue(static_cast<int>(s.preampGainDb));

    // A stored 3.2 kHz stays visible (checked) even when the box can't do it.
    rate_->button(3)->setEnabled(core::threeKilohertzAllowed != 0);
}

bool MeasurementSystemDialog::confirm()
{
    // Every field is checked before anything is stored: a refused value leaves all settings
    // (and the stored port) as they were, so Abbrechen after a failed OK really cancels. The
    // checks run in the dialog's order, so the first offending field is the one reported.
    float micSensitivity = 0.0f;
    float diaphragm = 0.0f;
    float addedMass = 0.0f;
    float boxVolume = 0.0f;
    float referenceResistor = 0.0f;
    float dbsplImpedance = 0.0f;
    if (!check(core::RangeField::MicSensitivity, micSensitivity_, micSensitivity) ||
        !check(core::RangeField::DiaphragmDiameter, diaphragm_, diaphragm) ||
        !check(core::RangeField::AddedMass, addedMass_, addedMass) ||
        !check(core::RangeField::BoxVolume, boxVolume_, boxVolume) ||
        !check(core::RangeField::ReferenceResistor, referenceResistor_, referenceResistor) ||
        !check(core::RangeField::DbsplSpeakerImpedance, dbsplImpedance_, dbsplImpedance))
        return false;
    const double sweepStart = typedNumber(sweepStart_);
    const double sweepEnd = typedNumber(sweepEnd_);
    const double sweepSeconds = typedNumber(sweepSeconds_);
    if (const std::string problem = core::sweepSettingsProblem(sweepStart, sweepEnd, sweepSeconds);
        !problem.empty()) {
        core::messageText(problem, "Meßsystem", core::Icon::Information);
        return false;
    }

    core::MeasurementSettings& s = core::settings();
    s.micSensitivityMvPerPa = micSensitivity;
    s.diaphragmDiameterMm = diaphragm;
    s.addedMassG = addedMass;
    s.boxVolumeL = boxVolume;

    s.parallelPort = port_->valueOr(s.parallelPort);
    core::writePortToRegistry(s.parallelPort);

    // Re-mapped on every OK, also when neither rate nor length changed.
    core::remapMarkers(s.sampleRate, s.fftLength, rate_->valueOr(s.sampleRate),
                       fftLength_->valueOr(s.fftLength));

    s.measuringInput = measuringInput_->valueOr(s.measuringInput);
    s.referenceResistorOhm = referenceResistor;
    s.referenceComputation = referenceComputation_->valueOr(s.referenceComputation);
    s.micCorrection = micCorrection_->valueOr(s.micCorrection);
    s.micPhase0Deg = micPhase_->valueOr(s.micPhase0Deg);
    s.method = method_->valueOr(s.method);
    s.referenceInput = referenceInput_->valueOr(s.referenceInput);
    s.dbsplSpeakerImpedanceOhm = dbsplImpedance;
    s.preampGainDb = core::signedSpinValue(preamp_->position16());
    s.sweepStartHz = static_cast<float>(sweepStart);
    s.sweepEndHz = static_cast<float>(sweepEnd);
    s.sweepSeconds = static_cast<float>(sweepSeconds);
    core::writeSweepSettings(core::settingsStore(), s);
    done(QDialog::Accepted);
    return true;
}

} // namespace app::dialogs
