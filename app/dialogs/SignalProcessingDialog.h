// Dialog 123 "Signalbearbeitung": smoothing, window, averaging, phase options, distance and
// the options of the third-octave level measurement. OK stores without checks.
#pragma once

#include <QDialog>

class QLabel;
class QSlider;

namespace app::dialogs {

class RadioGroup;
class WrappingSpinBox;

class SignalProcessingDialog : public QDialog {
public:
    explicit SignalProcessingDialog(QWidget* owner = nullptr);
    void confirm();

private:
    void load();
    void showDistance(int mm);

    RadioGroup* smoothing_;
    RadioGroup* window_;
    RadioGroup* stepResponse_;
    RadioGroup* phaseMode_;
    RadioGroup* sumMode_;
    RadioGroup* dbsplDistance_;
    RadioGroup* levelMethod_;
    RadioGroup* levelWeighting_;
    RadioGroup* levelWindow_;
    RadioGroup* levelCalculation_;
    RadioGroup* levelAveraging_;
    RadioGroup* levelCountLimited_;
    WrappingSpinBox* averages_;
    WrappingSpinBox* phaseOffset_;
    WrappingSpinBox* levelCount_;
    QSlider* distance_;
    QLabel* distanceText_;
};

} // namespace app::dialogs
