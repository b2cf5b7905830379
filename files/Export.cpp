#include "files/Export.h"

#include "files/FileDialogs.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"
#include "plot/Scales.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace files {

namespace {

constexpr std::size_t kLineWidth = 32;

void appendLine(std::string& out, const std::string& formatted)
{
    std::string line = formatted.substr(0, kLineWidth);
    line.resize(kLineWidth, ' ');
    out += line;
    out += "\r\n";
}

// The frequency axis of an exported curve comes from its own trailer. A trailer from a file
// may hold anything: the rows never go past the 2048 stored bins, and an N that is not a
// positive number gives no rows at all.
struct RowRange {
    double df = 0.0;
    int last = 0; // bins 1 .. last-1
};

RowRange rowRange(const core::CurveBuffer& c)
{
    RowRange r;
    const double n = c.trailerN();
    if (!(n >= 1.0) || !std::isfinite(n))
        return r;
    // An unknown rate code counts as 6.4 kHz.
    r.df = core::sampleRateHz(core::safeTrailerRate(c.trailerRate())) / n;
    const double last = std::trunc(n * 1603.0 / 4096.0);
    r.last = static_cast<int>(std::min(last, static_cast<double>(core::kCurveBins)));
    return r;
}

struct ExportLayout {
    const char* extension;
    int titleId;
    const char* rowFormat;
};

ExportLayout exportLayout(ExportKind kind)
{
    switch (kind) {
    case ExportKind::AmplitudePhase:
        return {"amp", 59, "%7.1f    %7.1f    %7.1f       "};
    case ExportKind::AmplitudeTernovax:
        return {"amp", 59, "%7.1f    %7.1f                 "};
    case ExportKind::PhaseTernovax:
        return {"pha", 59, "%7.1f    %7.1f                  "};
    case ExportKind::ImpedanceTernovax:
        return {"imp", 59, "%7.1f    %7.1f                         "};
    case ExportKind::ImpedancePhaseTernovax:
        return {"phe", 59, "%7.1f    %7.1f                             "};
    case ExportKind::Impedance:
        return {"imp", 58, "%7.1f    %7.1f    %7.1f               "};
    case ExportKind::TsParameters:
        return {"tsp", 58, ""};
    }
    return {"", 0, ""};
}

// Two-column rows of one curve; `convert` turns a stored amplitude into dB SPL.
void twoColumnRows(std::string& out, const char* format, const core::CurveBuffer& c, bool convert)
{
    const RowRange r = rowRange(c);
    for (int k = 1; k < r.last; ++k) {
        const float v = c[k];
        if (v == core::NO_VALUE)
            continue;
        const float shown = convert ? dsp::toDbspl(v) : v;
        appendLine(out, core::formatC(format, k * r.df, static_cast<double>(shown)));
    }
}

// Three-column rows: `tested` decides the rows and gives the trailer; `second` is read at the
// same bin.
void threeColumnRows(std::string& out, const char* format, const core::CurveBuffer& tested,
                     const core::CurveBuffer& second, bool convert)
{
    const RowRange r = rowRange(tested);
    for (int k = 1; k < r.last; ++k) {
        const float v = tested[k];
        if (v == core::NO_VALUE)
            continue;
        const float shown = convert ? dsp::toDbspl(v) : v;
        appendLine(out, core::formatC(format, k * r.df, static_cast<double>(shown),
                                      static_cast<double>(second[k])));
    }
}

} // namespace

bool amplitudeAxisIsDbspl()
{
    // The amplitude family's y scale in force, by its unit as the diagrams read it.
    return plot::scaleRecord(core::displaySettings().axisSets[1].y).unitText == "[dBSPL]";
}

const char* exportExtension(ExportKind kind) { return exportLayout(kind).extension; }

std::string buildExport(ExportKind kind)
{
    const core::MeasurementStore& st = core::store();
    const ExportLayout s = exportLayout(kind);
    std::string out;
    switch (kind) {
    case ExportKind::AmplitudePhase: {
        const bool dbspl = amplitudeAxisIsDbspl();
        appendLine(out, dbspl ? "\"Freq[Hz] Ampl[dBSPL] Phas[Deg]\""
                              : "\"Freq[Hz]  Ampl[dB]  Phas[Deg]\" ");
        threeColumnRows(out, s.rowFormat, st.amplitudeSlots[0], st.phaseSlots[0], dbspl);
        break;
    }
    case ExportKind::AmplitudeTernovax:
        twoColumnRows(out, s.rowFormat, st.amplitudeSlots[0], amplitudeAxisIsDbspl());
        break;
    case ExportKind::PhaseTernovax:
        twoColumnRows(out, s.rowFormat, st.phaseSlots[0], false);
        break;
    case ExportKind::ImpedanceTernovax:
        twoColumnRows(out, s.rowFormat, st.impedanceMagnitude, false);
        break;
    case ExportKind::ImpedancePhaseTernovax:
        twoColumnRows(out, s.rowFormat, st.impedancePhase, false);
        break;
    case ExportKind::Impedance:
        appendLine(out, "\"Freq[Hz]  Imp[Ohm]  Phas[Deg]\" ");
        threeColumnRows(out, s.rowFormat, st.impedanceMagnitude, st.impedancePhase, false);
        break;
    case ExportKind::TsParameters: {
        appendLine(out, "\"Thiele Small Parameter Set   \" ");
        // The text up to its terminating zero, then zeros: always 200 bytes.
        const std::size_t len = std::min<std::size_t>(
            strnlen(st.tsResultText.data(), st.tsResultText.size()), 200);
        std::string block(200, '\0');
        std::memcpy(block.data(), st.tsResultText.data(), len);
        out += block;
        break;
    }
    }
    return out;
}

WriteStatus writeExportFile(ExportKind kind, const std::string& path)
{
    const std::string content = buildExport(kind);
    const SaveResult s = saveReplacing(
        path, reinterpret_cast<const unsigned char*>(content.data()), content.size());
    // Nothing is passed over in silence: a file that could not be created is a failed save
    // as much as a short write.
    showSaveFailure(path, s);
    return s.status;
}

int exportFile(ExportKind kind)
{
    const ExportLayout s = exportLayout(kind);
    std::string path;
    if (!saveDialog(s.titleId, s.extension, path))
        return 1;
    if (fileExists(path) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return 1;
    return writeExportFile(kind, path) == WriteStatus::Written ? 1 : 0;
}

} // namespace files
