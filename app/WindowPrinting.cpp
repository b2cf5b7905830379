// Printing of the main window: the printer, its setup, the page in the window's proportions,
// and printing into a PDF file.
#include "app/MainWindow.h"

#include "app/Commands.h"
#include "app/Painting.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "files/FileDialogs.h"
#include "files/FileIo.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>

namespace app
{

namespace
{
// The settings-store value that keeps the printer between starts: a printer's name, or
// kPdfPrinter for printing into a PDF file.
const char* const kPrinterKey = "Drucker";
const char* const kPdfPrinter = "PDF-Datei";

// The largest rectangle of the drawing area's proportions on the page, centred: the printed
// picture looks as it does in the window instead of being stretched to the page.
QRect fittedRect(const QRect& page, const QSize& shape)
{
    if (shape.width() <= 0 || shape.height() <= 0)
        return page;
    QSize s = shape.scaled(page.size(), Qt::KeepAspectRatio);
    return QRect(page.left() + (page.width() - s.width()) / 2,
                 page.top() + (page.height() - s.height()) / 2, s.width(), s.height());
}

void paintFitted(QPainter& p, int kind, const QRect& page, const QSize& shape)
{
    const QRect target = fittedRect(page, shape);
    p.save();
    p.translate(target.topLeft());
    paintPage(p, kind, QRect(QPoint(0, 0), target.size()));
    p.restore();
}

// The printer of the last session when it still exists, else the default printer; null when
// there is neither.
std::unique_ptr<QPrinter> startPrinter()
{
    const std::string kept = core::settingsStore().value(kPrinterKey).value_or("");
    if (kept == kPdfPrinter) {
        auto pdf = std::make_unique<QPrinter>(QPrinter::HighResolution);
        pdf->setOutputFormat(QPrinter::PdfFormat);
        return pdf;
    }
    if (!kept.empty()) {
        const QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(kept));
        if (!info.isNull())
            return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    if (def.isNull())
        return nullptr;
    return std::make_unique<QPrinter>(def, QPrinter::HighResolution);
}

void keepPrinter(const QPrinter& printer)
{
    core::settingsStore().setValue(kPrinterKey, printer.outputFormat() == QPrinter::PdfFormat
                                                    ? std::string(kPdfPrinter)
                                                    : printer.printerName().toStdString());
}

void limitPrintDialog(QPrintDialog& dialog)
{
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
}
} // namespace

void MainWindow::printView(int kind)
{
    if (!shell().printerChosen) {
        // The first print goes to the kept or the default printer without a dialog.
        printer_ = startPrinter();
        shell().printerChosen = printer_ ? 1 : 0;
    }
    const QSize shape = area_->size();
    const auto orientation =
        shape.width() > shape.height() ? QPageLayout::Landscape : QPageLayout::Portrait;
    if (!shell().printerChosen || !printer_) {
        // No printer is known: printing asks where to, rather than doing nothing. The dialog
        // offers printing into a PDF file on every machine.
        auto candidate = std::make_unique<QPrinter>(QPrinter::HighResolution);
        candidate->setPageOrientation(orientation);
        QPrintDialog dialog(candidate.get(), this);
        dialog.setWindowTitle(QStringLiteral("Drucken"));
        limitPrintDialog(dialog);
        if (dialog.exec() != QDialog::Accepted)
            return;
        printer_ = std::move(candidate);
        shell().printerChosen = 1;
        keepPrinter(*printer_);
        if (printer_->outputFormat() == QPrinter::PdfFormat) {
            const std::string path = printer_->outputFileName().toStdString();
            if (path.empty())
                printToFile(kind, shape);
            else if (!files::fileExists(path) ||
                     core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) ==
                         core::Answer::Yes)
                writePdf(kind, shape, path);
            return;
        }
    }
    // Wide views go on a landscape page.
    printer_->setPageOrientation(orientation);
    if (printer_->outputFormat() == QPrinter::PdfFormat) {
        printToFile(kind, shape);
        return;
    }
    printer_->setDocName(QStringLiteral("Orvo Print:Printing"));
    QPainter p;
    if (!p.begin(printer_.get())) {
        core::messageText("Der Drucker „" + printer_->printerName().toStdString() +
                              "“ nimmt keinen Auftrag an. Bitte unter Datei → Drucker "
                              "einrichten einen anderen wählen.",
                          "Drucken", core::Icon::Error);
        return;
    }
    paintFitted(p, kind, QRect(0, 0, printer_->width(), printer_->height()), shape);
    p.end();
}

void MainWindow::printToFile(int kind, const QSize& shape)
{
    // Printing into a file asks for its name each time, instead of overwriting the last one,
    // and writes it as every other file is written: whole, or not at all.
    core::FileDialogRequest r;
    r.save = true;
    r.title = "Drucken in Datei";
    r.filter = "(*.pdf)";
    r.pattern = "*.pdf";
    r.initialFolder = printer_->outputFileName().isEmpty()
                          ? core::installFolder
                          : QFileInfo(printer_->outputFileName()).absolutePath().toStdString();
    r.createPrompt = true;
    std::string path;
    if (!core::ui().fileDialog(r, path) || path.empty())
        return;
    if (files::fileExists(path) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return;
    writePdf(kind, shape, path);
}

void MainWindow::writePdf(int kind, const QSize& shape, const std::string& path)
{
    printer_->setOutputFileName(QString::fromStdString(path));
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setPageLayout(printer_->pageLayout());
        pdf.setResolution(printer_->resolution());
        pdf.setTitle(QStringLiteral("Orvo Print:Printing"));
        QPainter p;
        if (!p.begin(&pdf))
            return;
        const QRect page = printer_->pageLayout().paintRectPixels(printer_->resolution());
        paintFitted(p, kind, QRect(QPoint(0, 0), page.size()), shape);
        p.end();
    }
    files::showSaveFailure(
        path, files::saveReplacing(path, reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size())));
}

void MainWindow::setPrinter(std::unique_ptr<QPrinter> printer)
{
    printer_ = std::move(printer);
    shell().printerChosen = printer_ ? 1 : 0;
}

void MainWindow::printerSetup()
{
    auto candidate =
        printer_ ? std::make_unique<QPrinter>(QPrinterInfo::printerInfo(printer_->printerName()),
                                              QPrinter::HighResolution)
                 : std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (printer_ && printer_->outputFormat() == QPrinter::PdfFormat) {
        candidate->setOutputFormat(QPrinter::PdfFormat);
        candidate->setOutputFileName(printer_->outputFileName());
    }
    QPrintDialog dialog(candidate.get(), this);
    dialog.setWindowTitle(QStringLiteral("Drucker einrichten"));
    limitPrintDialog(dialog);
    // The dialog only chooses the printer: its button says so, not "Drucken".
    for (QDialogButtonBox* box : dialog.findChildren<QDialogButtonBox*>())
        if (QPushButton* ok = box->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("Übernehmen"));
    if (dialog.exec() == QDialog::Accepted) {
        printer_ = std::move(candidate);
        shell().printerChosen = 1;
        keepPrinter(*printer_);
    }
}

} // namespace app
