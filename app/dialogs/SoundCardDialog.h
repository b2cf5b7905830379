// "Soundkarte…": which box the program measures with (parallel port, sound card, simulated
// box), and the sound card's devices, rate, input channels, timing channel, output level and
// calibration, with a "Test" that plays the MLS once and a latency calibration.
#pragma once

#include "box/PortAccess.h"
#include "box/SoundCard.h"
#include "box/sim/SimulatedBox.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace app::dialogs {

class RadioGroup;

// What the stored driver "auto" has given the running program: the parallel port where it
// can be opened, the simulated box where there is none.
enum class AutoBox { ParallelPort, Simulator };

// A measured input (Line1, Mic., Line2) on the timing channel, which carries the looped-back
// stimulus: the German message naming both, empty when there is none. Ref_Int may share it,
// since a reference on a channel is the same cable from the output.
QString timingConflict(const box::SoundCardConfig& config);

class SoundCardDialog : public QDialog {
public:
    // `release` stops the sound card the program measures with, so that the dialog's test
    // can have the device. `autoBox` is what "auto" is running now, so the dialog shows the
    // box really in use.
    SoundCardDialog(QWidget* owner, std::function<void()> release,
                    AutoBox autoBox = AutoBox::ParallelPort);

    // What the dialog shows: the settings store's driver and configuration.
    void load();
    // The configuration as the controls have it.
    box::SoundCardConfig config() const;
    box::PortDriver driver() const;
    // The simulated driver's distortion as the controls have it.
    box::sim::DriverDistortion simulatedDistortion() const;

    void runTest();
    void runLatencyCalibration();
    // OK: stores driver, configuration and the simulated driver's distortion in the settings
    // store.
    void store();
    // The OK button: refuses a timing channel that is also a measured input (the message
    // stays in the dialog), otherwise stores and closes. True when it closed.
    bool confirm();

private:
    void updateWarning();
    void updateInputs();

    std::function<void()> release_;
    RadioGroup* driver_ = nullptr;
    QComboBox* inputDevice_ = nullptr;
    QComboBox* outputDevice_ = nullptr;
    QComboBox* rate_ = nullptr;
    QSpinBox* channel_[4]{};
    QSpinBox* timing_ = nullptr;
    QDoubleSpinBox* level_ = nullptr;
    QDoubleSpinBox* fullScale_[4]{};
    QLabel* warning_ = nullptr;
    QLabel* inUse_ = nullptr;
    QLabel* conflict_ = nullptr;
    QLabel* refNote_ = nullptr;
    QLabel* result_ = nullptr;
    QLabel* latency_ = nullptr;
    QCheckBox* simDistortion_ = nullptr;
    QDoubleSpinBox* simH2_ = nullptr;
    QDoubleSpinBox* simH3_ = nullptr;
    int calibratedLatency_ = -1;
    box::PortDriver loadedDriver_ = box::PortDriver::Auto;
    AutoBox autoBox_ = AutoBox::ParallelPort;
    int shownDriver_ = 0; // the radio value load() selected
};

// Runs the dialog; true when the user pressed OK (driver and configuration stored).
bool runSoundCardDialog(QWidget* owner, const std::function<void()>& release, AutoBox autoBox);

} // namespace app::dialogs
