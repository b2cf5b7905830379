#include "app/dialogs/ColorsDialog.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "core/Display.h"
#include "core/Ui.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace app::dialogs {

namespace {

struct ColorControl {
    int button;
    const char* label;
    int swatch;
};

// In colour-index order 0..21.
constexpr ColorControl kControls[22] = {
    {1071, "&Schrift Linien", 1087},   {1075, "&Hintergrund", 1089},
    {1076, "&Diagramm ", 1090},        {1078, "&Marker", 1091},
    {1080, "&Zeitsignal", 1092},       {1079, "Sprungantwort", 1096},
    {1082, "Amplituden&fre. 1", 1093}, {1088, "Amplitudenfre. 2", 1097},
    {1101, "Amplitudenfre. 3", 1100},  {1105, "Amplitudenfre. 4", 1104},
    {1109, "Amplitudenfre. 5", 1108},  {1083, "&Phasenfre. 1", 1094},
    {1099, "Phasenfre. 2", 1098},      {1103, "Phasenfre. 3", 1102},
    {1107, "Phasenfre. 4", 1106},      {1111, "Phasenfre. 5", 1110},
    {1085, "&ImpedanzAmpfre.", 1095},  {1121, "ImpedanzPhaf&re.", 1120},
    {1168, "Pe&gel akt.", 1163},       {1166, "Pegel mi&ttel", 1164},
    {1084, "&CSD Lienen", 1170},       {1086, "CSD F&laechen", 1172},
};

QColor toQColor(std::uint32_t c)
{
    return QColor(core::colorRed(c), core::colorGreen(c), core::colorBlue(c));
}

std::uint32_t fromQColor(const QColor& c) { return core::rgb(c.red(), c.green(), c.blue()); }

} // namespace

ColorsDialog::ColorsDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Einstellungen Farben"));
    setObjectName(QStringLiteral("dialog126"));

    working_ = core::displaySettings().colors;

    // Two columns: general colours and single curves left, the overlay slots right.
    auto* colours = new QGroupBox(this);
    auto* grid = new QGridLayout(colours);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(5);
    auto place = [&](int index, int row, int column) {
        const ColorControl& c = kControls[index];
        auto* button = makeButton(c.button, QString::fromUtf8(c.label), this);
        button->setMinimumWidth(140);
        auto* swatch = new QFrame(this);
        swatch->setObjectName(controlName(c.swatch));
        swatch->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        swatch->setLineWidth(2);
        swatch->setFixedSize(44, button->sizeHint().height() - 4);
        swatch->setAutoFillBackground(true);
        swatches_[static_cast<std::size_t>(index)] = swatch;
        grid->addWidget(button, row, column * 2);
        grid->addWidget(swatch, row, column * 2 + 1);
        connect(button, &QPushButton::clicked, this, [this, index] { chooseColorAt(index); });
        paintSwatch(index);
    };
    const int left[] = {0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 20, 21};
    for (int row = 0; row < 12; ++row)
        place(left[row], row, 0);
    for (int slot = 0; slot < 5; ++slot) {
        place(core::amplitudeColor0 + slot, slot, 1);
        place(core::phaseColor0 + slot, slot + 6, 1);
    }
    grid->setColumnMinimumWidth(2, 20);
    grid->setColumnStretch(4, 0);

    lineWidth_ = new RadioGroup(this);
    auto* gWidth = makeGroup({QStringLiteral("Graphenstärke")});
    for (const auto& [id, label, value] :
         {std::tuple{1157, "schmal", 1}, std::tuple{1158, "mittel", 20}, std::tuple{1159, "breit", 40}})
        groupLayout(gWidth)->addWidget(lineWidth_->add(id, QString::fromUtf8(label), value, gWidth));
    groupLayout(gWidth)->addStretch(1);

    const ApplyButtons buttons =
        makeApplyButtons(this, QStringLiteral("&OK"), QStringLiteral("&Übernehmen"),
                         QStringLiteral("&Abbrechen"), [this] { apply(); });

    auto* side = new QVBoxLayout;
    side->setSpacing(8);
    side->addWidget(gWidth);
    side->addStretch(1);
    side->addWidget(buttons.ok);
    side->addWidget(buttons.apply);
    side->addWidget(buttons.cancel);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(12);
    outer->addWidget(colours);
    outer->addLayout(side);

    installHelpKey(this, QStringLiteral("Dialog Einstellungen Farben"));

    lineWidth_->select(core::displaySettings().lineWidth);
}

void ColorsDialog::paintSwatch(int index)
{
    QFrame* swatch = swatches_[static_cast<std::size_t>(index)];
    QPalette p = swatch->palette();
    p.setColor(QPalette::Window, toQColor(working_[static_cast<std::size_t>(index)]));
    swatch->setPalette(p);
    swatch->update();
}

void ColorsDialog::chooseColorAt(int index)
{
    if (index < 0 || index >= core::kColorCount)
        return;
    auto& c = working_[static_cast<std::size_t>(index)];
    c = fromQColor(chooseColor(toQColor(c), this));
    paintSwatch(index);
}

void ColorsDialog::apply()
{
    core::DisplaySettings& d = core::displaySettings();
    d.colors = working_;
    d.lineWidth = lineWidth_->valueOr(d.lineWidth);
    renderView(100);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

} // namespace app::dialogs
