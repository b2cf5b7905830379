// Dialog 126 "Einstellungen Farben": the 22 diagram colours (on a working copy) and the
// curve line width.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class QFrame;

namespace app::dialogs {

class RadioGroup;

class ColorsDialog : public QDialog {
public:
    explicit ColorsDialog(QWidget* owner = nullptr);
    // Opens the colour chooser for colour `index` and keeps its answer in the working copy.
    void chooseColorAt(int index);
    // OK and apply: working copy and line width back into the display settings, re-render.
    void apply();
    std::uint32_t workingColor(int index) const { return working_[static_cast<std::size_t>(index)]; }

private:
    void paintSwatch(int index);

    std::array<std::uint32_t, 22> working_{};
    std::array<QFrame*, 22> swatches_{};
    RadioGroup* lineWidth_;
};

} // namespace app::dialogs
