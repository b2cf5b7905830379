#include "app/dialogs/DialogWidgets.h"

#include "app/dialogs/DialogHost.h"
#include "core/Settings.h"
#include "core/Strings.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace app::dialogs {

QString controlName(int id) { return QStringLiteral("c%1").arg(id); }

QString systemText(int stringId) { return QString::fromUtf8(core::str(stringId)); }

QString formatNumber(const char* format, double value)
{
    return QString::fromStdString(core::formatC(format, value));
}

QString formatInt(const char* format, int value)
{
    return QString::fromStdString(core::formatC(format, value));
}

double parseNumber(const QString& text)
{
    return core::parseTypedNumber(text.toStdString()).value_or(0.0);
}

RadioGroup::RadioGroup(QObject* parent) : QObject(parent), group_(new QButtonGroup(this))
{
    group_->setExclusive(true);
}

QRadioButton* RadioGroup::add(int id, const QString& label, int value, QWidget* parent)
{
    auto* b = new QRadioButton(label, parent);
    b->setObjectName(controlName(id));
    group_->addButton(b);
    buttons_.emplace_back(b, value);
    return b;
}

void RadioGroup::select(int value)
{
    // An exclusive group refuses to uncheck its last button; lift that for the clear.
    group_->setExclusive(false);
    for (auto& [b, v] : buttons_)
        b->setChecked(false);
    for (auto& [b, v] : buttons_) {
        if (v == value) {
            b->setChecked(true);
            break;
        }
    }
    group_->setExclusive(true);
}

std::optional<int> RadioGroup::value() const
{
    for (const auto& [b, v] : buttons_) {
        if (b->isChecked())
            return v;
    }
    return std::nullopt;
}

QRadioButton* RadioGroup::button(int value) const
{
    for (const auto& [b, v] : buttons_) {
        if (v == value)
            return b;
    }
    return nullptr;
}

WrappingSpinBox::WrappingSpinBox(int minimum, int maximum, QWidget* parent, bool inverted)
    : QSpinBox(parent), inverted_(inverted)
{
    setRange(minimum, maximum);
    setWrapping(true);
    setAccelerated(false);
    setGroupSeparatorShown(false);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The number changes only through the arrows; typing is not offered.
    lineEdit()->setReadOnly(true);
}

void WrappingSpinBox::stepBy(int steps) { QSpinBox::stepBy(inverted_ ? -steps : steps); }

QGroupBox* makeGroup(const QStringList& heading, const QStringList& note, QWidget* parent)
{
    auto* g = new QGroupBox(parent);
    auto* layout = new QVBoxLayout(g);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(3);
    if (!heading.isEmpty()) {
        auto* label = new QLabel(heading.join(QLatin1Char('\n')), g);
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        layout->addWidget(label);
    }
    if (!note.isEmpty())
        layout->addWidget(new QLabel(note.join(QLatin1Char('\n')), g));
    return g;
}

QBoxLayout* groupLayout(QGroupBox* group) { return static_cast<QBoxLayout*>(group->layout()); }

QPushButton* makeButton(int id, const QString& label, QWidget* parent)
{
    auto* b = new QPushButton(label, parent);
    b->setObjectName(controlName(id));
    b->setAutoDefault(false);
    return b;
}

void installHelpKey(QDialog* dialog, const QString& keyword)
{
    auto* shortcut = new QShortcut(QKeySequence::HelpContents, dialog);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, dialog, [keyword] { showHelp(keyword); });
}

ApplyButtons makeApplyButtons(QDialog* dialog, const QString& okLabel, const QString& applyLabel,
                              const QString& cancelLabel, std::function<void()> onApply)
{
    ApplyButtons b{makeButton(1, okLabel, dialog), makeButton(1008, applyLabel, dialog),
                   makeButton(2, cancelLabel, dialog)};
    b.ok->setDefault(true);
    QObject::connect(b.ok, &QPushButton::clicked, dialog, [dialog, onApply] {
        onApply();
        dialog->done(QDialog::Accepted);
    });
    QObject::connect(b.apply, &QPushButton::clicked, dialog, [onApply] { onApply(); });
    QObject::connect(b.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return b;
}

QHBoxLayout* buttonRow(const ApplyButtons& buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(buttons.ok);
    row->addWidget(buttons.apply);
    row->addWidget(buttons.cancel);
    return row;
}

} // namespace app::dialogs
