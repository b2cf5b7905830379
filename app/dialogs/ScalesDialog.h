// Dialog 124 "Einstellungen Skalen": the value axes of each diagram family, the waterfall
// axes, and which curves the amplitude, impedance, time and level views show.
#pragma once

#include <QDialog>

#include <vector>

class QListWidget;

namespace app::dialogs {

class RadioGroup;

class ScalesDialog : public QDialog {
public:
    explicit ScalesDialog(QWidget* owner = nullptr);
    // OK and apply: store, re-render all views, repaint main and zoom window.
    void apply();

private:
    struct ListBinding {
        QListWidget* list;
        int family;
        int axis; // 0 x, 1 y, 2 z
    };
    void load();

    std::vector<ListBinding> lists_;
    RadioGroup* amplitudeCurves_;
    RadioGroup* impedanceCurves_;
    RadioGroup* timeCurves_;
    RadioGroup* levelBars_;
};

} // namespace app::dialogs
