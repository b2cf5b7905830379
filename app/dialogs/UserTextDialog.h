// Dialog 170 "Text eingeben": the eight user texts written under the diagrams.
#pragma once

#include <QDialog>

#include <array>

class QLineEdit;

namespace app::dialogs {

class UserTextDialog : public QDialog {
public:
    explicit UserTextDialog(QWidget* owner = nullptr);
    // OK and apply: store every field whole, re-render all views, repaint.
    void apply();

    static constexpr int kMaxChars = 50;

private:
    std::array<QLineEdit*, 8> edits_{};
};

} // namespace app::dialogs
