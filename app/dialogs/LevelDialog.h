// Dialog 159 "Pegel Messungen": Start, Stop and Abbrechen of the running level measurement,
// and a two-line read-out of the highest current and mean/peak levels.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;

namespace app::dialogs {

// The two values of the read-out: the highest current and mean/peak band levels among the
// bands with a value whose centre lies on the level view's frequency axis (in dB SPL when
// that view's level axis is in dB SPL). Both start at -10000.
struct LevelReadout {
    float highestCurrent = -10000.0f;
    float highestMeanPeak = -10000.0f;
    float axisMax = 0.0f;       // maximum of the level axis: above it a line shows red
    QString unitText;           // unit text of the level axis
};
LevelReadout computeLevelReadout();

class LevelDialog : public QDialog {
public:
    explicit LevelDialog(QWidget* owner = nullptr);
    ~LevelDialog() override;

    void start();
    void stop();
    // "Abbrechen": ends the series and the worker, waits for its last pass, closes.
    void abort();
    // Escape and the window's close button end the measurement as "Abbrechen" does, so the
    // worker never outlives its dialog.
    void reject() override;

    // Asks the open level dialog (if any) to repaint its read-out; callable from any thread.
    static void requestRepaint();

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* abort_;
    QWidget* readout_;
    bool ending_ = false;
};

} // namespace app::dialogs
