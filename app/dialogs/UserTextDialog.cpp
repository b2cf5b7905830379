#include "app/dialogs/UserTextDialog.h"

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "core/Display.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace app::dialogs {

UserTextDialog::UserTextDialog(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Text eingeben"));
    setObjectName(QStringLiteral("dialog170"));
    installHelpKey(this, QStringLiteral("Dialog Text eingeben"));

    constexpr const char* labels[8] = {"Zeitsignal",
                                       "Amplitudenfrequenzgang",
                                       "Amplitudenfrequnzgang (5)",
                                       "Amplitudenfrequenzgang Summe",
                                       "Impedanzfrequenzgang",
                                       "Amplituden- && Impedanzfre.",
                                       "Pegel",
                                       "Wasserfalldiagramm (CSD)"};

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    const auto& texts = core::displaySettings().userText;
    for (int i = 0; i < 8; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(controlName(1210 + i));
        // Room for a full line of 50 characters.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(kMaxChars, QLatin1Char('n'))));
        const auto& slot = texts[static_cast<std::size_t>(i)];
        const QString text = QString::fromStdString(core::cp1252ToUtf8(slot.data(), slot.size()));
        // The limit is for typing: a longer text from a configuration file is shown and kept
        // whole rather than cut at 50 characters by merely opening the dialog.
        edit->setMaxLength(std::max(kMaxChars, static_cast<int>(text.size())));
        edit->setText(text);
        edits_[static_cast<std::size_t>(i)] = edit;
        auto* label = new QLabel(QString::fromUtf8(labels[i]), this);
        label->setBuddy(edit); // with a buddy "&&" shows as one "&"
        grid->addWidget(label, i, 0);
        grid->addWidget(edit, i, 1);
    }

    const ApplyButtons buttons =
        makeApplyButtons(this, QStringLiteral("OK"), QStringLiteral("Übernehmen"),
                         QStringLiteral("Abbrechen"), [this] { apply(); });

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(12);
    outer->addLayout(grid);
    outer->addLayout(buttonRow(buttons));
}

void UserTextDialog::apply()
{
    auto& texts = core::displaySettings().userText;
    for (std::size_t i = 0; i < 8; ++i) {
        // The slot holds Windows-1252; 50 characters always fit its 100 bytes.
        const std::string bytes = core::utf8ToCp1252(edits_[i]->text().toStdString());
        auto& slot = texts[i];
        slot.fill('\0');
        std::copy_n(bytes.begin(), std::min(bytes.size(), slot.size() - 1), slot.begin());
    }
    renderView(100);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

} // namespace app::dialogs
