// Dialog 122 "Meßsystem": port, rate, FFT length, inputs, method, corrections and the T/S
// helper values. Works on the live settings; OK checks every field, then stores them all.
#pragma once

#include <QDialog>

class QLineEdit;

namespace app::dialogs {

class RadioGroup;
class WrappingSpinBox;

class MeasurementSystemDialog : public QDialog {
public:
    explicit MeasurementSystemDialog(QWidget* owner = nullptr);

    // OK: runs the six checks in order, then that of the sweep's band and length; a failed
    // check shows its message and leaves the dialog open with nothing stored. When all pass,
    // every value is stored (the sweep's also in the settings store) and the dialog closes
    // (returns true).
    bool confirm();

private:
    void load();

    RadioGroup* port_;
    RadioGroup* rate_;
    RadioGroup* fftLength_;
    RadioGroup* measuringInput_;
    RadioGroup* micCorrection_;
    RadioGroup* micPhase_;
    RadioGroup* referenceComputation_;
    RadioGroup* referenceInput_;
    RadioGroup* method_;
    WrappingSpinBox* preamp_;
    QLineEdit* referenceResistor_;
    QLineEdit* micSensitivity_;
    QLineEdit* addedMass_;
    QLineEdit* boxVolume_;
    QLineEdit* diaphragm_;
    QLineEdit* dbsplImpedance_;
    QLineEdit* sweepStart_;
    QLineEdit* sweepEnd_;
    QLineEdit* sweepSeconds_;
};

} // namespace app::dialogs
