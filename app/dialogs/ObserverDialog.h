// Dialog 153 "Position Beobachter ": the eye position of the waterfall view, in thousands of
// cube units.
#pragma once

#include <QDialog>

#include <array>

namespace app::dialogs {

class WrappingSpinBox;

class ObserverDialog : public QDialog {
public:
    explicit ObserverDialog(QWidget* owner = nullptr);
    // OK and apply: store ×1000, re-render the waterfall, repaint the main window.
    void apply();

private:
    std::array<WrappingSpinBox*, 3> spins_{};
};

} // namespace app::dialogs
