#include "app/dialogs/SmallDialogs.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace app::dialogs
{

namespace
{

// The information box's picture: a loudspeaker and its response, drawn rather than shipped.
QPixmap infoPicture()
{
    QPixmap pm(280, 120);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 120);
    bg.setColorAt(0, QColor(0, 0, 128));
    bg.setColorAt(1, QColor(64, 0, 192));
    p.fillRect(pm.rect(), bg);
    // Driver seen from the side.
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(22, 45, 16, 30);
    QPainterPath cone;
    cone.moveTo(38, 48);
    cone.lineTo(62, 22);
    cone.lineTo(62, 98);
    cone.lineTo(38, 72);
    cone.closeSubpath();
    p.drawPath(cone);
    // A response curve.
    p.setPen(QPen(QColor(50, 255, 50), 3));
    p.setBrush(Qt::NoBrush);
    QPainterPath curve;
    curve.moveTo(80, 95);
    curve.cubicTo(110, 30, 140, 62, 180, 55);
    curve.cubicTo(220, 50, 240, 58, 268, 90);
    p.drawPath(curve);
    QFont f = p.font();
    f.setPixelSize(22);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(80, 4, 195, 30), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("OrvoPro"));
    return pm;
}

} // namespace

InfoDialog::InfoDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("INFO"));
    setObjectName(QStringLiteral("dialog146"));
    installHelpKey(this, QStringLiteral("Dialog Info"));

    auto* picture = new QLabel(this);
    picture->setObjectName(controlName(147));
    picture->setPixmap(infoPicture());
    picture->setAlignment(Qt::AlignCenter);

    auto* line = new QLineEdit(this);
    line->setObjectName(controlName(1129));
    line->setReadOnly(true);
    line->setText(infoLine(hardwareNumber()));
    line->setMinimumWidth(line->fontMetrics().horizontalAdvance(line->text()) + 24);

    auto* ok = makeButton(1, QStringLiteral("&OK"), this);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 12);
    outer->setSpacing(12);
    outer->addWidget(picture);
    outer->addWidget(line);
    outer->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString InfoDialog::infoLine(int number)
{
    return QString::fromStdString(core::formatC("%s %3.2f %s      %s %d", core::str(70), 2.3,
                                                "Deutsch", core::str(68), number));
}

DcResistanceDialog::DcResistanceDialog(float proposalOhm, QWidget* owner)
    : QDialog(owner), value_(proposalOhm)
{
    setWindowTitle(QStringLiteral("Gleichstromwiderstand ?"));
    setObjectName(QStringLiteral("dialog155"));
    installHelpKey(this, QStringLiteral("Dialog Gleichstromwiderstand"));

    auto* text = new QLabel(QStringLiteral("Bitte Gleichstromwiderstand, falls \n"
                                           "erforderlich, korrigieren !"),
                            this);
    // The proposal comes from the impedance model fitted to the free-air run; it is close,
    // but a lead or a contact adds to what the curve shows.
    auto* note = new QLabel(QStringLiteral("Der Vorschlag ist eine Schätzung aus der "
                                           "Impedanzkurve.\nBesser ist der mit einem Ohmmeter "
                                           "gemessene Wert."),
                            this);
    note->setObjectName(QStringLiteral("dcEstimateNote"));

    edit_ = new QLineEdit(this);
    edit_->setObjectName(controlName(1181));
    edit_->setMaxLength(255); // the conversion reads at most the 256-byte buffer
    edit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit_->setMaximumWidth(100);
    edit_->setText(formatNumber("%3.1f", proposalOhm));

    auto* group = new QGroupBox(QStringLiteral("Gleichstromwiderstand"), this);
    auto* row = new QHBoxLayout(group);
    row->addWidget(edit_);
    row->addWidget(new QLabel(QStringLiteral("Ohm"), group));
    row->addStretch(1);

    auto* ok = makeButton(1, QStringLiteral("&OK"), this);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 12);
    outer->setSpacing(10);
    outer->addWidget(text);
    outer->addWidget(note);
    outer->addWidget(group);
    outer->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] { confirm(); });
}

bool DcResistanceDialog::confirm()
{
    const double v = parseNumber(edit_->text());
    if (v < 0.5 || v >= 100.0) {
        core::message(112, 71, core::Icon::Information);
        return false;
    }
    value_ = static_cast<float>(v);
    done(QDialog::Accepted);
    return true;
}

} // namespace app::dialogs
