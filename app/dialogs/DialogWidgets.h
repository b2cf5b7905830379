// Building blocks shared by the dialogs: controls named after their ids, radio groups that
// map buttons to setting values, wrapping spin boxes, framed groups with the system's
// (sometimes two-line) headings, number texts in the "C" conventions.
#pragma once

#include <QDialog>
#include <QObject>
#include <QSpinBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QAbstractButton;
class QBoxLayout;
class QButtonGroup;
class QGroupBox;
class QHBoxLayout;
class QPushButton;
class QRadioButton;

namespace app::dialogs {

// Every control carries its id as object name ("c1062"), so the shell and the tests find it.
QString controlName(int id);
template <class T>
T* findControl(const QObject* dialog, int id)
{
    return dialog->findChild<T*>(controlName(id));
}

// A text of the string table / a UTF-8 literal of the system.
QString systemText(int stringId);

// printf formatting with a decimal point whatever the desktop's locale.
QString formatNumber(const char* format, double value);
QString formatInt(const char* format, int value);
// A typed number, decimal comma or point (core::parseTypedNumber); 0 when the text is not a
// number, so that every range check refuses it.
double parseNumber(const QString& text);

// Buttons of one choice: a click checks one and clears the others; the group maps each
// button to the setting value it stands for.
class RadioGroup : public QObject {
public:
    explicit RadioGroup(QObject* parent);
    QRadioButton* add(int id, const QString& label, int value, QWidget* parent = nullptr);
    // Clears every button, then checks the one for `value` (none when no button has it).
    void select(int value);
    std::optional<int> value() const;
    int valueOr(int unchanged) const { return value().value_or(unchanged); }
    QRadioButton* button(int value) const;

private:
    QButtonGroup* group_;
    std::vector<std::pair<QRadioButton*, int>> buttons_;
};

// A spin box that wraps at both ends, steps with the arrow keys and whose text can't be typed
// into. `inverted` makes the up arrow decrease the number (ranges given larger end first).
class WrappingSpinBox : public QSpinBox {
public:
    WrappingSpinBox(int minimum, int maximum, QWidget* parent = nullptr, bool inverted = false);
    void stepBy(int steps) override;
    // The 16-bit position a spin control reports for the current value.
    int position16() const { return value() & 0xFFFF; }

private:
    bool inverted_;
};

// A framed group; `heading` lines are shown in bold at its top (the system breaks some
// headings over two lines, such as "Anschluß-" / "port"), `note` lines in normal weight below
// them. The group gets a vertical layout.
QGroupBox* makeGroup(const QStringList& heading, const QStringList& note = {},
                     QWidget* parent = nullptr);
QBoxLayout* groupLayout(QGroupBox* group);

QPushButton* makeButton(int id, const QString& label, QWidget* parent = nullptr);

// OK (id 1), apply (id 1008) and cancel (id 2) of the display dialogs: OK applies and closes,
// apply applies and stays, cancel closes without further changes. Labels as each dialog's
// template has them.
struct ApplyButtons {
    QPushButton* ok;
    QPushButton* apply;
    QPushButton* cancel;
};
ApplyButtons makeApplyButtons(QDialog* dialog, const QString& okLabel, const QString& applyLabel,
                              const QString& cancelLabel, std::function<void()> onApply);
// The three buttons right-aligned in one row.
QHBoxLayout* buttonRow(const ApplyButtons& buttons);

// F1 opens the help with `keyword`.
void installHelpKey(QDialog* dialog, const QString& keyword);

} // namespace app::dialogs
