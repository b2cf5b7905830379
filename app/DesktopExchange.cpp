// The window's exchange commands: FRD, ZMA and CSV export, FRD and ZMA import onto the
// measurement's grid, and T/S parameters from two impedance files.
#include "app/Desktop.h"

#include "app/DesktopDialogs.h"
#include "app/MainWindow.h"
#include "app/Wiring.h"
#include "box/Runs.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/ts/TsFromCurves.h"
#include "files/Exchange.h"
#include "files/Export.h"
#include "files/FileDialogs.h"
#include "files/FileIo.h"
#include "plot/Render.h"

#include <QFileInfo>

#include <QInputDialog>
#include <QStringList>

#include <algorithm>
#include <string>
#include <vector>

namespace app
{

namespace
{

// An open or save dialog of one of the added commands, then the overwrite question of the
// program's own saves.
bool chooseFile(bool save, const char* title, const char* extension, std::string& path)
{
    std::string chosen;
    if (!files::fileDialog(save, title, extension, chosen))
        return false;
    if (save && files::fileExists(chosen) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return false;
    path = chosen;
    return true;
}

// An FRD or ZMA file onto the grid of the rate and N in force. Where the grid leaves part of
// the file out, the message names that part and offers the grid that holds the file (best);
// switching goes as an OK in the measurement-system dialog does (markers kept at their times).
// False when nothing is to be taken.
bool importOntoGrid(const std::string& path, files::ExchangeFormat format,
                    files::ExchangeImport& imp)
{
    const auto& s = core::settings();
    imp = files::importExchangeFile(path, format, s.fftLength, s.sampleRate);
    if (!imp.ok || !imp.cut.any())
        return imp.ok;
    const char* caption = format == files::ExchangeFormat::Frd ? "FRD-Import" : "ZMA-Import";
    const std::string note = files::gridCutNote(imp.cut);
    const files::GridOffer offer =
        files::gridHoldingFile(imp.cut, core::threeKilohertzAllowed != 0);
    if (!offer.ok) {
        core::messageText(note, caption, core::Icon::Information);
        return true;
    }
    std::string rate = core::formatC("%g", core::sampleRateHz(offer.rateCode) / 1000.0);
    std::replace(rate.begin(), rate.end(), '.', ',');
    std::string question = note + "\n\nAuf " + rate + " kHz Abtastrate";
    if (offer.n != s.fftLength)
        question += core::formatC(" und N %d", offer.n);
    question += offer.holdsAll ? " umschalten, damit die ganze Datei übernommen wird?"
                               : " umschalten, damit mehr von der Datei übernommen wird?";
    question += "\n(Nein: nur den genannten Teil übernehmen.)";
    const core::Answer a =
        core::messageText(question, caption, core::Icon::Question, core::Buttons::YesNoCancel);
    if (a == core::Answer::Cancel)
        return false;
    if (a != core::Answer::Yes)
        return true;
    files::ExchangeImport wider = files::readExchangeFile(path, format, offer.n, offer.rateCode);
    if (!wider.ok)
        return true; // the file was read a moment ago; keep what was read then
    core::remapMarkers(s.sampleRate, s.fftLength, offer.rateCode, offer.n);
    imp = std::move(wider);
    return true;
}

} // namespace

void Desktop::exportFrd()
{
    const auto& st = core::store();
    std::vector<int> occupied;
    for (int k = 0; k < 5; ++k)
        if (st.slotOccupied[k] == 1)
            occupied.push_back(k);
    int slot = 0;
    if (occupied.size() > 1) {
        QStringList items;
        for (int k : occupied)
            items << (k == 0 ? QStringLiteral("Kurvenplatz 0 (aktuelle Messung)")
                             : QStringLiteral("Kurvenplatz %1").arg(k));
        bool ok = false;
        const QString chosen =
            QInputDialog::getItem(&window_, QStringLiteral("FRD-Datei"),
                                  QStringLiteral("Welche Kurve?"), items, 0, false, &ok);
        if (!ok)
            return;
        slot = occupied[static_cast<std::size_t>(items.indexOf(chosen))];
    }
    const files::ExchangeText t = files::buildFrd(slot, files::amplitudeAxisIsDbspl());
    if (!t.ok) {
        core::messageText(t.message, "FRD-Export", core::Icon::Error);
        return;
    }
    std::string path;
    if (chooseFile(true, "FRD-Datei speichern unter…", "frd", path))
        files::writeExchangeText(t, path, "FRD-Export");
}

void Desktop::exportZma()
{
    const files::ExchangeText t = files::buildZma();
    if (!t.ok) {
        core::messageText(t.message, "ZMA-Export", core::Icon::Error);
        return;
    }
    std::string path;
    if (chooseFile(true, "ZMA-Datei speichern unter…", "zma", path))
        files::writeExchangeText(t, path, "ZMA-Export");
}

void Desktop::exportCsv()
{
    // The distortion view's curves are those `orvo-tool export thd` writes.
    const files::ExchangeText t =
        shell().currentView == 9
            ? files::buildThdCsv(core::store().distortion)
            : files::buildViewCsv(shell().currentView, files::amplitudeAxisIsDbspl());
    if (!t.ok) {
        core::messageText(t.message, "CSV-Export", core::Icon::Error);
        return;
    }
    std::string path;
    if (chooseFile(true, "Kurven der Ansicht als CSV speichern unter…", "csv", path))
        files::writeExchangeText(t, path, "CSV-Export");
}

void Desktop::importFrd()
{
    std::string path;
    if (!chooseFile(false, "FRD-Datei importieren", "frd", path))
        return;
    files::ExchangeImport imp;
    if (!importOntoGrid(path, files::ExchangeFormat::Frd, imp))
        return;
    if (files::amplitudeAxisIsDbspl())
        files::convertFromDbspl(imp.curves.value);
    box::takeResponseCurve(imp.curves.value, imp.curves.phase, plot::viewRenderer(),
                           QFileInfo(QString::fromStdString(path)).fileName().toStdString());
    showView(7);
    refresh();
}

void Desktop::importZma()
{
    std::string path;
    if (!chooseFile(false, "ZMA-Datei importieren", "zma", path))
        return;
    files::ExchangeImport imp;
    if (!importOntoGrid(path, files::ExchangeFormat::Zma, imp))
        return;
    files::applyImpedanceImport(imp.curves);
    renderView(3);
    renderView(4);
    showView(4);
    refresh();
}

void Desktop::tsFromFiles()
{
    const auto& s = core::settings();
    TsFilesChoice choice;
    choice.inputs.diaphragmDiameterMm = s.diaphragmDiameterMm;
    choice.inputs.addedMassG = s.addedMassG;
    choice.inputs.boxVolumeL = s.boxVolumeL;
    choice.freePath = tsFreePath_;
    choice.loadedPath = tsLoadedPath_;
    // After any refusal (a file, the values, or the evaluation) the dialog opens again with
    // what was typed; the two file names are also kept for the next time.
    for (;;) {
        if (!runTsFilesDialog(&window_, choice))
            return;
        tsFreePath_ = choice.freePath;
        tsLoadedPath_ = choice.loadedPath;
        const files::ExchangeImport freeAir = files::importExchangeFile(
            choice.freePath, files::ExchangeFormat::Zma, ts::kTsFftLength, ts::kTsFileRateCode);
        if (!freeAir.ok)
            continue;
        const files::ExchangeImport loaded = files::importExchangeFile(
            choice.loadedPath, files::ExchangeFormat::Zma, ts::kTsFftLength, ts::kTsFileRateCode);
        if (!loaded.ok)
            continue;
        // The evaluation shows its result or its message itself.
        if (ts::tsFromImpedanceCurves(
                ts::impedancePoints(freeAir.table.frequencyHz, freeAir.table.value,
                                    freeAir.table.phaseDeg),
                ts::impedancePoints(loaded.table.frequencyHz, loaded.table.value,
                                    loaded.table.phaseDeg),
                choice.inputs) == 1)
            return;
    }
}

} // namespace app
