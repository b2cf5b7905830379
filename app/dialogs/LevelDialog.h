// Dialog 159 "Pegel Messungen": Start, Stop and Abbrechen of the running level measurement,
// and a two-line read-out of the highest current and mean/peak levels. The worker and the
// state of its flags belong to the box layer; this is their window.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;

namespace app::dialogs {

// The level view's axes as the read-out needs them: the frequency axis follows the live rate,
// the level axis is the user's choice.
struct LevelAxes {
    double minHz = 0.0;
    double maxHz = 0.0;
    double levelMax = 0.0;
    QString unitText;
};
LevelAxes levelAxes();

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
    void showButtons(bool startEnabled, bool stopEnabled);

    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* abort_;
    QWidget* readout_;
    bool ending_ = false;
};

} // namespace app::dialogs
