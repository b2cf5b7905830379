// Exchange files into the program: a file read onto the grid, its refusals and notices
// shown, and the read curves put into the store.
#include "files/Exchange.h"
#include "files/ExchangeInternal.h"

#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"

#include <string>

namespace files
{

namespace
{

// A curve file of a design tool holds a few thousand rows at most; anything far larger is
// not a curve, and reading it whole would only make the program wait.
constexpr std::size_t kMaxExchangeFileBytes = 16u * 1024u * 1024u;

} // namespace

ExchangeImport readExchangeFile(const std::string& path, ExchangeFormat format, int n, int rateCode)
{
    ExchangeImport r;
    const char* kind = format == ExchangeFormat::Frd ? "FRD" : "ZMA";
    const std::string head =
        std::string("Die ") + kind + "-Datei \"" + path + "\" wird nicht übernommen:\n";
    long long length = 0;
    if (!fileLength(path, length)) {
        r.message = head + "Die Datei kann nicht geöffnet werden: " + openFailureReason(path) + ".";
        return r;
    }
    if (length > static_cast<long long>(kMaxExchangeFileBytes)) {
        r.message = head + "Die Datei ist zu groß für eine Kurve.";
        return r;
    }
    Bytes bytes;
    if (readFileStart(path, kMaxExchangeFileBytes, bytes) != ReadStatus::Ok) {
        r.message = head + "Die Datei kann nicht gelesen werden.";
        return r;
    }
    const TableReadResult t = parseFrequencyTable(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!t.ok) {
        r.message = head + (t.line > 0 ? "Zeile " + std::to_string(t.line) + ": " : "") + t.reason;
        return r;
    }
    if (format == ExchangeFormat::Zma) {
        for (std::size_t i = 0; i < t.table.value.size(); ++i)
            if (t.table.value[i] < 0.0) {
                // The row's line is not kept; the value is named instead.
                r.message = head + core::formatC("Negative Impedanz (%.4g Ohm) bei %.4g Hz.",
                                                 t.table.value[i], t.table.frequencyHz[i]);
                return r;
            }
    }
    r.curves = resampleToGrid(t.table, format, n, rateCode);
    r.table = t.table;
    r.cut = detail::cutOf(t.table, r.curves, n, rateCode);
    if (r.curves.valuedBins == 0) {
        r.message = head + core::formatC("Kein Wert der Datei (%.4g bis %.4g Hz) liegt im "
                                         "Frequenzbereich der Messung (%.4g bis %.4g Hz).",
                                         t.table.frequencyHz.front(), t.table.frequencyHz.back(),
                                         r.cut.gridFirstHz, r.cut.gridLastHz);
        return r;
    }
    if (t.groupDelayLeftOut)
        r.notice = "Die dritte Spalte der Datei \"" + path +
                   "\" ist laut Kopfzeile eine Gruppenlaufzeit, keine Phase. Sie wird nicht "
                   "übernommen; die Kurve hat keine Phase.";
    r.ok = true;
    return r;
}

ExchangeImport importExchangeFile(const std::string& path, ExchangeFormat format, int n,
                                  int rateCode)
{
    ExchangeImport r = readExchangeFile(path, format, n, rateCode);
    const char* caption = format == ExchangeFormat::Frd ? "FRD-Import" : "ZMA-Import";
    if (!r.ok)
        core::messageText(r.message, caption, core::Icon::Error);
    else if (!r.notice.empty())
        core::messageText(r.notice, caption, core::Icon::Information);
    return r;
}

void convertFromDbspl(core::CurveBuffer& amplitude)
{
    // The conversion adds a level that depends only on the settings (microphone sensitivity,
    // loudspeaker impedance, distance).
    const double offset = static_cast<double>(dsp::toDbspl(0.0f));
    for (int k = 0; k < core::kCurveBins; ++k)
        if (amplitude[k] != core::NO_VALUE)
            amplitude[k] = static_cast<float>(amplitude[k] - offset);
}

void applyImpedanceImport(const GridCurves& curves)
{
    core::MeasurementStore& st = core::store();
    st.impedanceMagnitude = curves.value;
    st.impedancePhase = curves.phase;
}

} // namespace files
