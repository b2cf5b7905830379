#include "app/dialogs/ObserverDialog.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "core/Display.h"
#include "core/Ui.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace app::dialogs {

ObserverDialog::ObserverDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Position Beobachter "));
    setObjectName(QStringLiteral("dialog153"));

    struct Field {
        int edit;
        const char* label;
        int low;  // the spin range is given larger end first, so "up" makes the number smaller
        int high;
    };
    constexpr Field fields[3] = {{1140, "X-Position (Beobachter)", 1, 40},
                                 {1141, "Y-Position (Beobachter)", 1, 100},
                                 {1142, "Z-Position (Beobachter)", 25, 60}};

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    const auto& observer = core::displaySettings().observer;
    for (int i = 0; i < 3; ++i) {
        auto* spin = new WrappingSpinBox(fields[i].low, fields[i].high, this, true);
        spin->setObjectName(controlName(fields[i].edit));
        spin->setMinimumWidth(70);
        spin->setValue(observer[static_cast<std::size_t>(i)] / 1000);
        spins_[static_cast<std::size_t>(i)] = spin;
        auto* label = new QLabel(QString::fromUtf8(fields[i].label), this);
        label->setBuddy(spin);
        grid->addWidget(label, i, 0);
        grid->addWidget(spin, i, 1);
    }

    const ApplyButtons buttons =
        makeApplyButtons(this, QStringLiteral("&OK"), QStringLiteral("&Übernehmen"),
                         QStringLiteral("&Abbrechen"), [this] { apply(); });

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 12);
    outer->setSpacing(14);
    outer->addLayout(grid);
    outer->addLayout(buttonRow(buttons));
    installHelpKey(this, QStringLiteral("Dialog Einstellungen Postion Beobachter"));
}

void ObserverDialog::apply()
{
    auto& observer = core::displaySettings().observer;
    for (std::size_t i = 0; i < 3; ++i)
        observer[i] = spins_[i]->value() * 1000;
    renderView(6);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
}

} // namespace app::dialogs
