#include "app/QtUi.h"

#include "core/SettingsStore.h"

#include "core/Settings.h"
#include "core/Strings.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace app
{

namespace
{
QMessageBox::Icon qtIcon(core::Icon icon)
{
    switch (icon) {
    case core::Icon::Information:
        return QMessageBox::Information;
    case core::Icon::Error:
    case core::Icon::Stop:
        return QMessageBox::Critical;
    case core::Icon::Question:
        return QMessageBox::Question;
    case core::Icon::Warning:
        return QMessageBox::Warning;
    case core::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The number prompt that stands in for the DC-resistance dialog: the same proposal, the
// same accepted range and messages.
bool simpleDcPrompt(QWidget* owner, float proposal, float& value)
{
    QString text = QString::fromStdString(core::formatC("%3.1f", static_cast<double>(proposal)));
    for (;;) {
        bool ok = false;
        text =
            QInputDialog::getText(owner, QString::fromUtf8("Gleichstromwiderstand ?"),
                                  QString::fromUtf8("Gleichstromwiderstand [Ohm]\n(der Vorschlag "
                                                    "ist eine Schätzung aus der Impedanzkurve;\n"
                                                    "besser ist der gemessene Wert):"),
                                  QLineEdit::Normal, text, &ok);
        if (!ok)
            return false;
        const double v = core::parseTypedNumber(text.toStdString()).value_or(0.0);
        if (v >= 0.5 && v < 100.0) {
            value = static_cast<float>(v);
            return true;
        }
        QMessageBox::information(owner, QString::fromUtf8(core::str(71)),
                                 QString::fromUtf8(core::str(112)));
    }
}
} // namespace

QString messageBody(const std::string& text, const std::string& caption)
{
    // Several file messages of the system carry their whole message in the caption and leave
    // the text empty. Window managers cut or hide captions, which left a bare icon; the body
    // always says what happened.
    const QString body = QString::fromStdString(text);
    if (!body.trimmed().isEmpty())
        return body;
    return QString::fromStdString(caption).trimmed();
}

QString messageTitle(const std::string& caption)
{
    // Many of the system's messages leave the caption empty or blank; a box without a title
    // does not say whose it is.
    const QString title = QString::fromStdString(caption).trimmed();
    return title.isEmpty() ? QStringLiteral("OrvoPro") : title;
}

namespace
{
// The kinds of file the dialogs offer: the filter's description, and the folder the dialogs of
// that kind share. Anything not listed is an export.
struct FileKind {
    const char* pattern;
    const char* description;
    const char* folder;
};
constexpr FileKind kFileKinds[] = {
    {"*.mes", "Messdateien", "Messdateien"},
    {"*.cfg", "Konfigurationsdateien", "Konfigurationen"},
    {"*.mic", "Mikrofondateien", "Mikrofondateien"},
    {"*.amp", "Amplitudendaten", "Exporte"},
    {"*.pha", "Phasendaten", "Exporte"},
    {"*.imp", "Impedanzdaten", "Exporte"},
    {"*.phe", "Impedanz-Phasendaten", "Exporte"},
    {"*.tsp", "T/S-Parameter", "Exporte"},
    {"*.frd", "FRD-Dateien (Frequenzgang)", "Exporte"},
    {"*.zma", "ZMA-Dateien (Impedanz)", "Impedanzdateien"},
    {"*.csv", "CSV-Dateien", "Exporte"},
    {"*.png", "PNG-Bilder", "Bilder"},
    {"*.svg", "SVG-Grafiken", "Bilder"},
    {"*.pdf", "PDF-Dokumente", "Bilder"},
};

const FileKind* fileKindOf(const std::string& pattern)
{
    for (const FileKind& k : kFileKinds)
        if (QString::fromStdString(pattern).compare(QLatin1String(k.pattern),
                                                    Qt::CaseInsensitive) == 0)
            return &k;
    return nullptr;
}
} // namespace

QString fileFilterText(const core::FileDialogRequest& request)
{
    const QString all = QStringLiteral("Alle Dateien (*)");
    const QString filter = QString::fromStdString(request.filter).trimmed();
    // A filter that already names its files keeps its words.
    if (!filter.isEmpty() && !filter.startsWith(QLatin1Char('(')))
        return filter.contains(all) ? filter : filter + QStringLiteral(";;") + all;
    if (request.pattern.empty() || request.pattern == "*" || request.pattern == "*.*")
        return all;
    const FileKind* kind = fileKindOf(request.pattern);
    const QString description =
        kind ? QString::fromUtf8(kind->description) : QStringLiteral("Dateien");
    return description + QStringLiteral(" (") + QString::fromStdString(request.pattern) +
           QStringLiteral(");;") + all;
}

QtUi::QtUi(QObject* parent) : QObject(parent) {}

void QtUi::onGui(const std::function<void()>& f, bool wait)
{
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, f, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

core::Answer QtUi::messageBox(const std::string& text, const std::string& caption, core::Icon icon,
                              core::Buttons buttons)
{
    core::Answer answer = core::Answer::Ok;
    onGui(
        [&] {
            QMessageBox box(qtIcon(icon), messageTitle(caption),
                            messageBody(text, caption), QMessageBox::NoButton, owner_);
            QPushButton* first = nullptr;
            QPushButton* second = nullptr;
            QPushButton* third = nullptr; // "Nein" of Ja/Nein/Abbrechen
            switch (buttons) {
            case core::Buttons::Ok:
                first = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
                break;
            case core::Buttons::OkCancel:
                first = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
                second = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
                break;
            case core::Buttons::YesNo:
                first = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
                second = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
                break;
            case core::Buttons::YesNoCancel:
                first = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
                third = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
                second = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
                break;
            }
            box.setDefaultButton(first);
            if (second)
                box.setEscapeButton(second);
            box.exec();
            // The keys go back to the window the box belongs to, unless a dialog is still
            // open over it (a box asked from within a dialog).
            if (owner_ && QApplication::activeModalWidget() == nullptr) {
                owner_->activateWindow();
                if (owner_->focusWidget() == nullptr)
                    owner_->setFocus(Qt::OtherFocusReason);
            }
            const bool yes = box.clickedButton() == first;
            if (buttons == core::Buttons::YesNoCancel)
                answer = yes                            ? core::Answer::Yes
                         : box.clickedButton() == third ? core::Answer::No
                                                        : core::Answer::Cancel;
            else if (buttons == core::Buttons::YesNo)
                answer = yes ? core::Answer::Yes : core::Answer::No;
            else if (buttons == core::Buttons::OkCancel)
                answer = yes ? core::Answer::Ok : core::Answer::Cancel;
        },
        true);
    return answer;
}

std::string folderKind(const std::string& pattern)
{
    const FileKind* kind = fileKindOf(pattern);
    return kind ? kind->folder : "Exporte";
}

bool QtUi::fileDialog(const core::FileDialogRequest& request, std::string& path)
{
    bool chosen = false;
    onGui(
        [&] {
            // The dialogs of one kind of file share the folder they were last left in; the
            // first time, and when that folder has gone, they start in installFolder.
            const std::string key = "LetzterOrdner/" + folderKind(request.pattern);
            QString folder = QString::fromStdString(request.initialFolder);
            if (const auto last = core::settingsStore().value(key);
                last && QDir(QString::fromStdString(*last)).exists())
                folder = QString::fromStdString(*last);
            QFileDialog dialog(owner_, QString::fromStdString(request.title), folder,
                               fileFilterText(request));
            dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
            // The save operations ask "Wollen Sie die bestehende Datei überschreiben?"
            // themselves; the dialog must not ask a second time.
            dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
            const std::string& pattern = request.pattern;
            if (request.save && pattern.size() > 2 && pattern.rfind("*.", 0) == 0)
                dialog.setDefaultSuffix(QString::fromStdString(pattern.substr(2)));
            if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
                path = dialog.selectedFiles().front().toStdString();
                chosen = true;
                core::settingsStore().setValue(
                    key, QFileInfo(dialog.selectedFiles().front()).absolutePath().toStdString());
            }
        },
        true);
    return chosen;
}

bool QtUi::askDcResistance(float proposalOhm, float& valueOhm)
{
    bool ok = false;
    onGui(
        [&] {
            ok = dcDialog_ ? dcDialog_(owner_, proposalOhm, valueOhm)
                           : simpleDcPrompt(owner_, proposalOhm, valueOhm);
        },
        true);
    return ok;
}

void QtUi::requestRepaint(core::RepaintTarget target)
{
    onGui(
        [this, target] {
            if (repaint)
                repaint(target);
        },
        false);
}

void QtUi::setStatusText(int part, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    onGui(
        [this, part, t] {
            if (statusText)
                statusText(part, t);
        },
        false);
}

void QtUi::showView(int kind)
{
    onGui(
        [this, kind] {
            if (viewShown)
                viewShown(kind);
        },
        false);
}

} // namespace app
