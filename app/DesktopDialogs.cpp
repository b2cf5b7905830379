#include "app/DesktopDialogs.h"

#include "app/HelpBrowser.h"
#include "core/Settings.h"
#include "core/Ui.h"
#include "plot/Render.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

#include <charconv>
#include <cmath>

namespace app
{

namespace
{

QString number(double v)
{
    // Shown the German way, as the program's other dialogs show their values.
    return QString::number(v, 'g', 6).replace(QLatin1Char('.'), QLatin1Char(','));
}

// A line for a file name with a "Durchsuchen…" button; the chooser is the program's file
// dialog, so it remembers its folder like every other.
QWidget* fileRow(QWidget* parent, QLineEdit*& edit, const QString& title)
{
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    edit = new QLineEdit(row);
    edit->setMinimumWidth(280);
    auto* browse = new QPushButton(QStringLiteral("Durchsuchen…"), row);
    h->addWidget(edit, 1);
    h->addWidget(browse);
    QLineEdit* target = edit;
    QObject::connect(browse, &QPushButton::clicked, row, [target, title] {
        core::FileDialogRequest r;
        r.title = title.toStdString();
        r.filter = "(*.zma)";
        r.pattern = "*.zma";
        r.initialFolder = core::installFolder;
        std::string path;
        if (core::ui().fileDialog(r, path))
            target->setText(QString::fromStdString(path));
    });
    return row;
}

void refuse(QWidget* owner, const QString& text)
{
    (void)owner;
    core::messageText(text.toStdString(), "T/S aus Impedanzdateien", core::Icon::Information);
}

} // namespace

bool parseDecimalText(const QString& text, double& value)
{
    std::string s = text.trimmed().toStdString();
    for (char& c : s)
        if (c == ',')
            c = '.';
    if (s.empty())
        return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (*first == '+')
        ++first;
    const auto [p, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && p == last && std::isfinite(value);
}

bool runTsFilesDialog(QWidget* owner, TsFilesChoice& choice)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("T/S aus Impedanzdateien"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* filesBox = new QGroupBox(QStringLiteral("Impedanzdateien (ZMA)"), &dialog);
    auto* filesForm = new QFormLayout(filesBox);
    QLineEdit* freeEdit = nullptr;
    QLineEdit* loadedEdit = nullptr;
    filesForm->addRow(QStringLiteral("In freier Luft:"),
                      fileRow(filesBox, freeEdit, QStringLiteral("Impedanzdatei in freier Luft")));
    filesForm->addRow(QStringLiteral("Mit Zusatzmasse/im Gehäuse:"),
                      fileRow(filesBox, loadedEdit,
                              QStringLiteral("Impedanzdatei mit Zusatzmasse oder im Gehäuse")));
    freeEdit->setText(QString::fromStdString(choice.freePath));
    loadedEdit->setText(QString::fromStdString(choice.loadedPath));
    layout->addWidget(filesBox);

    auto* valuesBox = new QGroupBox(QStringLiteral("Werte"), &dialog);
    auto* form = new QFormLayout(valuesBox);
    auto* dc = new QLineEdit(valuesBox);
    dc->setPlaceholderText(QStringLiteral("leer: Vorschlag aus der Messung"));
    if (choice.inputs.dcResistanceOhm > 0.0f)
        dc->setText(number(choice.inputs.dcResistanceOhm));
    form->addRow(QStringLiteral("Gleichstromwiderstand [Ohm]:"), dc);
    auto* diameter = new QLineEdit(number(choice.inputs.diaphragmDiameterMm), valuesBox);
    form->addRow(QStringLiteral("Membrandurchmesser [mm]:"), diameter);
    auto* massButton = new QRadioButton(QStringLiteral("Zusatzmasse [g]:"), valuesBox);
    auto* boxButton = new QRadioButton(QStringLiteral("Gehäusevolumen [l]:"), valuesBox);
    auto* mass = new QLineEdit(number(choice.inputs.addedMassG), valuesBox);
    auto* volume = new QLineEdit(number(choice.inputs.boxVolumeL), valuesBox);
    form->addRow(massButton, mass);
    form->addRow(boxButton, volume);
    (choice.inputs.second == ts::SecondRun::AddedMass ? massButton : boxButton)->setChecked(true);
    auto* group = new QButtonGroup(&dialog);
    group->addButton(massButton);
    group->addButton(boxButton);
    layout->addWidget(valuesBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Berechnen"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    TsFilesChoice result = choice;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        result.freePath = freeEdit->text().trimmed().toStdString();
        result.loadedPath = loadedEdit->text().trimmed().toStdString();
        if (result.freePath.empty() || result.loadedPath.empty()) {
            refuse(&dialog, QStringLiteral("Bitte beide Impedanzdateien wählen."));
            return;
        }
        double v = 0.0;
        if (dc->text().trimmed().isEmpty()) {
            result.inputs.dcResistanceOhm = 0.0f;
        } else if (!parseDecimalText(dc->text(), v) || v <= 0.0) {
            refuse(&dialog, QStringLiteral("Der Gleichstromwiderstand ist keine Zahl."));
            return;
        } else {
            result.inputs.dcResistanceOhm = static_cast<float>(v);
        }
        if (!parseDecimalText(diameter->text(), v) || v <= 0.0) {
            refuse(&dialog, QStringLiteral("Der Membrandurchmesser muss eine positive Zahl sein."));
            return;
        }
        result.inputs.diaphragmDiameterMm = static_cast<float>(v);
        result.inputs.second =
            massButton->isChecked() ? ts::SecondRun::AddedMass : ts::SecondRun::ClosedBox;
        QLineEdit* second = massButton->isChecked() ? mass : volume;
        if (!parseDecimalText(second->text(), v) || v <= 0.0) {
            refuse(&dialog,
                   massButton->isChecked()
                       ? QStringLiteral("Die Zusatzmasse muss eine positive Zahl sein.")
                       : QStringLiteral("Das Gehäusevolumen muss eine positive Zahl sein."));
            return;
        }
        if (massButton->isChecked())
            result.inputs.addedMassG = static_cast<float>(v);
        else
            result.inputs.boxVolumeL = static_cast<float>(v);
        dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted)
        return false;
    choice = result;
    return true;
}

bool runSaveDiagramDialog(QWidget* owner, int windowWidth, int windowHeight, DiagramChoice& choice)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("Diagramm speichern als…"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* fileBox = new QGroupBox(QStringLiteral("Datei"), &dialog);
    auto* fileForm = new QFormLayout(fileBox);
    auto* format = new QComboBox(fileBox);
    format->addItem(QStringLiteral("PNG-Bild (*.png)"), QStringLiteral("png"));
    format->addItem(QStringLiteral("SVG-Grafik (*.svg)"), QStringLiteral("svg"));
    format->addItem(QStringLiteral("PDF-Dokument (*.pdf)"), QStringLiteral("pdf"));
    format->setCurrentIndex(static_cast<int>(choice.format));
    fileForm->addRow(QStringLiteral("Format:"), format);
    auto* row = new QWidget(fileBox);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto* pathEdit = new QLineEdit(QString::fromStdString(choice.path), row);
    pathEdit->setMinimumWidth(300);
    auto* browse = new QPushButton(QStringLiteral("Durchsuchen…"), row);
    h->addWidget(pathEdit, 1);
    h->addWidget(browse);
    fileForm->addRow(QStringLiteral("Dateiname:"), row);
    layout->addWidget(fileBox);

    // The extension follows the format, and a typed extension chooses the format.
    auto extension = [format] { return format->currentData().toString(); };
    QObject::connect(format, &QComboBox::currentIndexChanged, &dialog, [pathEdit, extension] {
        QString p = pathEdit->text();
        if (p.isEmpty())
            return;
        const QFileInfo info(p);
        const QString base =
            info.suffix().isEmpty() ? p : p.left(p.size() - info.suffix().size() - 1);
        pathEdit->setText(base + QLatin1Char('.') + extension());
    });
    QObject::connect(browse, &QPushButton::clicked, &dialog, [pathEdit, extension] {
        core::FileDialogRequest r;
        r.save = true;
        r.title = "Diagramm speichern als…";
        r.filter = "(*." + extension().toStdString() + ")";
        r.pattern = "*." + extension().toStdString();
        r.initialFolder = core::installFolder;
        r.createPrompt = true;
        std::string path;
        if (core::ui().fileDialog(r, path))
            pathEdit->setText(QString::fromStdString(path));
    });

    auto* sizeBox = new QGroupBox(QStringLiteral("Größe"), &dialog);
    auto* sizeLayout = new QVBoxLayout(sizeBox);
    auto* windowSize = new QRadioButton(
        QStringLiteral("wie im Fenster (%1 × %2 Pixel)").arg(windowWidth).arg(windowHeight),
        sizeBox);
    auto* ownSize = new QRadioButton(QStringLiteral("eigene Größe:"), sizeBox);
    auto* w = new QSpinBox(sizeBox);
    auto* hgt = new QSpinBox(sizeBox);
    for (QSpinBox* s : {w, hgt}) {
        s->setRange(plot::kMinPictureSide, plot::kMaxPictureSide);
        s->setSuffix(QStringLiteral(" Pixel"));
    }
    w->setValue(choice.width > 0 ? choice.width : 1200);
    hgt->setValue(choice.height > 0 ? choice.height : 1200);
    auto* own = new QWidget(sizeBox);
    auto* ownRow = new QHBoxLayout(own);
    ownRow->setContentsMargins(0, 0, 0, 0);
    ownRow->addWidget(ownSize);
    ownRow->addWidget(w);
    ownRow->addWidget(new QLabel(QStringLiteral("×"), own));
    ownRow->addWidget(hgt);
    ownRow->addStretch(1);
    sizeLayout->addWidget(windowSize);
    sizeLayout->addWidget(own);
    // The second button sits in a row of its own, so it no longer shares its parent with the
    // first: only a group keeps the two exclusive.
    auto* sizeGroup = new QButtonGroup(&dialog);
    sizeGroup->addButton(windowSize);
    sizeGroup->addButton(ownSize);
    windowSize->setChecked(true);
    // Typing a size means that size.
    for (QSpinBox* s : {w, hgt})
        QObject::connect(s, &QSpinBox::valueChanged, ownSize,
                         [ownSize] { ownSize->setChecked(true); });
    auto* help = new QShortcut(QKeySequence::HelpContents, &dialog);
    QObject::connect(help, &QShortcut::activated, &dialog, [&dialog] {
        showHelp(&dialog, "Dialog Diagramm speichern", HelpCaller::Dialog);
    });
    layout->addWidget(sizeBox);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("Speichern"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    DiagramChoice result = choice;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        std::string path = pathEdit->text().trimmed().toStdString();
        if (path.empty()) {
            core::messageText("Bitte einen Dateinamen angeben.", "Diagramm speichern als…",
                              core::Icon::Information);
            return;
        }
        const auto typed = diagramFormatFor(path);
        if (!typed)
            path += "." + extension().toStdString();
        result.path = path;
        result.format = diagramFormatFor(path).value_or(DiagramFormat::Png);
        result.width = windowSize->isChecked() ? windowWidth : w->value();
        result.height = windowSize->isChecked() ? windowHeight : hgt->value();
        dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted)
        return false;
    choice = result;
    return true;
}

} // namespace app
