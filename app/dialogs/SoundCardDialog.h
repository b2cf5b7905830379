// "Soundkarte…": which box the program measures with (parallel port, sound card, simulated
// box), and the sound card's devices, rate, input channels, timing channel, output level and
// calibration, with a "Test" that plays the MLS once and a latency calibration.
#pragma once

#include "box/PortAccess.h"
#include "box/SoundCard.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace app::dialogs {

class RadioGroup;

class SoundCardDialog : public QDialog {
public:
    // `release` stops the sound card the program measures with, so that the dialog's test
    // can have the device.
    SoundCardDialog(QWidget* owner, std::function<void()> release);

    // What the dialog shows: the settings store's driver and configuration.
    void load();
    // The configuration as the controls have it.
    box::SoundCardConfig config() const;
    box::PortDriver driver() const;

    void runTest();
    void runLatencyCalibration();
    // OK: stores driver and configuration in the settings store.
    void store();

private:
    void updateWarning();

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
    QLabel* result_ = nullptr;
    QLabel* latency_ = nullptr;
    int calibratedLatency_ = -1;
    box::PortDriver loadedDriver_ = box::PortDriver::Auto;
};

// Runs the dialog; true when the user pressed OK (driver and configuration stored).
bool runSoundCardDialog(QWidget* owner, const std::function<void()>& release);

} // namespace app::dialogs
