#include "app/dialogs/ScalesDialog.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "core/Display.h"
#include "core/Ui.h"
#include "plot/Scales.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace app::dialogs {

namespace {

// The three-way choice of a flag pair is coded 1 (first only), 2 (second only), 3 (both).
int pairCode(int first, int second)
{
    if (first && second)
        return 3;
    if (first)
        return 1;
    if (second)
        return 2;
    return 0; // no button checked
}

void storePair(int code, int& first, int& second)
{
    if (code == 0)
        return;
    first = code != 2 ? 1 : 0;
    second = code != 1 ? 1 : 0;
}

int& axisRef(core::AxisSet& set, int axis)
{
    return axis == 0 ? set.x : axis == 1 ? set.y : set.z;
}

} // namespace

ScalesDialog::ScalesDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Einstellungen Skalen"));
    setObjectName(QStringLiteral("dialog124"));

    auto makeList = [this](int id, plot::ScaleList which, int family, int axis) {
        auto* list = new QListWidget(this);
        list->setObjectName(controlName(id));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        for (int index : plot::scaleList(which)) {
            const std::string& text = plot::scaleRecord(index).optionText;
            auto* item = new QListWidgetItem(QString::fromStdString(text), list);
            item->setData(Qt::UserRole, index);
        }
        // Whole rows only: at most six visible, the rest scrolls.
        const int rows = std::min(list->count(), 6);
        list->setFixedHeight(list->sizeHintForRow(0) * rows + 2 * list->frameWidth());
        list->setMinimumWidth(list->sizeHintForColumn(0) + 30);
        lists_.push_back({list, family, axis});
        return list;
    };

    auto labelled = [](const QString& label, QListWidget* list) {
        auto* box = new QVBoxLayout;
        box->setSpacing(2);
        box->addWidget(new QLabel(label));
        box->addWidget(list);
        box->addStretch(1);
        return box;
    };

    amplitudeCurves_ = new RadioGroup(this);
    impedanceCurves_ = new RadioGroup(this);
    timeCurves_ = new RadioGroup(this);
    levelBars_ = new RadioGroup(this);

    auto radioColumn = [](RadioGroup* rg, std::initializer_list<std::tuple<int, const char*, int>> items) {
        auto* col = new QVBoxLayout;
        col->setSpacing(3);
        for (const auto& [id, label, value] : items)
            col->addWidget(rg->add(id, QString::fromUtf8(label), value));
        col->addStretch(1);
        return col;
    };

    auto familyFrame = [&](const QString& title, QListWidget* list, QVBoxLayout* radios) {
        auto* g = new QGroupBox(title, this);
        auto* row = new QHBoxLayout(g);
        row->setSpacing(10);
        row->addLayout(labelled(QStringLiteral("Y_Achse"), list), 1);
        row->addLayout(radios);
        return g;
    };

    auto* gAmp = familyFrame(QStringLiteral("Amplitudenfrequenzgang"),
                             makeList(1096, plot::ScaleList::amplitude, 1, 1),
                             radioColumn(amplitudeCurves_, {{1183, "Amplitude", 1}, {1182, "Phase", 2},
                                                            {1187, "Amplit&ude && Phase", 3}}));
    auto* gImp = familyFrame(QStringLiteral("Impedanzfrequenzgang"),
                             makeList(1097, plot::ScaleList::impedance, 3, 1),
                             radioColumn(impedanceCurves_, {{1186, "Amplitude", 1}, {1185, "Phase", 2},
                                                            {1188, "Amplitu&de && Phase", 3}}));
    auto* gTime = familyFrame(QStringLiteral("Zeitsignal"), makeList(1026, plot::ScaleList::timeSignal, 0, 1),
                              radioColumn(timeCurves_, {{1177, "Zeitsignal", 1}, {1175, "Sprungantwort", 2},
                                                        {1178, "Zeitsi&gnal && Sprunga.", 3}}));
    auto* gLevel = familyFrame(QStringLiteral("Pegelanzeige (TERZ)"),
                               makeList(1101, plot::ScaleList::amplitude, 5, 1),
                               radioColumn(levelBars_, {{1189, "Aktuell", 1}, {1184, "Mittel/Spitze", 2},
                                                        {1190, "Aktuell && Mittel/S", 3}}));

    auto* gCsd = new QGroupBox(QStringLiteral("Waserfalldiagramm (CSD)"), this);
    auto* csdRow = new QHBoxLayout(gCsd);
    csdRow->setSpacing(10);
    csdRow->addLayout(labelled(QStringLiteral("X_Achse"), makeList(1169, plot::ScaleList::waterfallX, 6, 0)), 1);
    csdRow->addLayout(labelled(QStringLiteral("Y_Achse"), makeList(1171, plot::ScaleList::waterfallY, 6, 1)), 1);
    csdRow->addLayout(labelled(QStringLiteral("Z_Achse"), makeList(1173, plot::ScaleList::waterfallZ, 6, 2)), 1);

    auto* grid = new QGridLayout;
    grid->setSpacing(10);
    grid->addWidget(gAmp, 0, 0);
    grid->addWidget(gTime, 0, 1);
    grid->addWidget(gImp, 1, 0);
    grid->addWidget(gLevel, 1, 1);
    grid->addWidget(gCsd, 2, 0, 1, 2);

    const ApplyButtons buttons =
        makeApplyButtons(this, QStringLiteral("&OK"), QStringLiteral("&Übernehmen"),
                         QStringLiteral("&Abbrechen"), [this] { apply(); });

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(10);
    outer->addLayout(grid);
    outer->addLayout(buttonRow(buttons));
    installHelpKey(this, QStringLiteral("Dialog Einstellungen Skalen"));

    load();
}

void ScalesDialog::load()
{
    core::DisplaySettings& d = core::displaySettings();
    for (const ListBinding& b : lists_) {
        const int current = axisRef(d.axisSets[static_cast<std::size_t>(b.family)], b.axis);
        b.list->clearSelection();
        for (int row = 0; row < b.list->count(); ++row) {
            QListWidgetItem* item = b.list->item(row);
            if (item->data(Qt::UserRole).toInt() == current) {
                b.list->setCurrentItem(item);
                item->setSelected(true);
                b.list->scrollToItem(item);
                break;
            }
        }
    }
    amplitudeCurves_->select(pairCode(d.showAmplitude, d.showPhase));
    impedanceCurves_->select(pairCode(d.showImpedance, d.showImpedancePhase));
    timeCurves_->select(pairCode(d.showTimeSignal, d.showStepResponse));
    levelBars_->select(d.levelDisplayMode);
}

void ScalesDialog::apply()
{
    core::DisplaySettings& d = core::displaySettings();
    for (const ListBinding& b : lists_) {
        const QList<QListWidgetItem*> selected = b.list->selectedItems();
        if (selected.isEmpty())
            continue; // a list without a selection leaves its scale as it is
        axisRef(d.axisSets[static_cast<std::size_t>(b.family)], b.axis) =
            selected.front()->data(Qt::UserRole).toInt();
    }
    storePair(amplitudeCurves_->valueOr(0), d.showAmplitude, d.showPhase);
    storePair(impedanceCurves_->valueOr(0), d.showImpedance, d.showImpedancePhase);
    storePair(timeCurves_->valueOr(0), d.showTimeSignal, d.showStepResponse);
    d.levelDisplayMode = levelBars_->valueOr(d.levelDisplayMode);

    renderView(100);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

} // namespace app::dialogs
