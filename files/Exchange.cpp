#include "files/Exchange.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace files
{

namespace
{

// A curve file of a design tool holds a few thousand rows at most; anything far larger is
// not a curve, and reading it whole would only make the program wait.
constexpr std::size_t kMaxExchangeFileBytes = 16u * 1024u * 1024u;

// ---------------------------------------------------------------- parsing

enum class Separator { Blank, Semicolon, Comma };

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "20", "-5", "+.5", ",5" start a number; "Freq", "-----" and "\"Hz\"" do not.
bool startsLikeNumber(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i < s.size() && (s[i] == '.' || s[i] == ','))
        ++i;
    return i < s.size() && isDigit(s[i]);
}

std::vector<std::string_view> splitOn(std::string_view line, char sep)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t p = line.find(sep, start);
        out.push_back(
            trim(line.substr(start, p == std::string_view::npos ? line.npos : p - start)));
        if (p == std::string_view::npos)
            break;
        start = p + 1;
    }
    // A separator at the end of the row ("20;85.1;") adds no column.
    while (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

std::vector<std::string_view> splitBlanks(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

// The column separator, decided once from the first numeric row: a semicolon wins; a comma
// is the separator when the row has no blank-separated columns or a blank-separated field
// begins or ends with it ("20.0, 85.1"); otherwise a comma is a decimal comma.
Separator detectSeparator(std::string_view row)
{
    if (row.find(';') != std::string_view::npos)
        return Separator::Semicolon;
    if (row.find(',') == std::string_view::npos)
        return Separator::Blank;
    const auto fields = splitBlanks(row);
    if (fields.size() < 2)
        return Separator::Comma;
    for (std::string_view f : fields)
        if (f.front() == ',' || f.back() == ',')
            return Separator::Comma;
    return Separator::Blank;
}

enum class NumberStatus { Ok, NotANumber, NotFinite };

// Bounds far beyond any measured curve (dB, ohm, degrees, Hz).
constexpr double kMaxValue = 1e9;
constexpr double kMaxPhaseDeg = 1e6;
constexpr double kMaxFrequencyHz = 1e9;

// One field in the "C" conventions whatever the desktop's locale; `decimalComma` lets a comma
// stand for the point.
NumberStatus parseNumber(std::string_view field, bool decimalComma, double& value)
{
    std::string text(field);
    if (decimalComma)
        std::replace(text.begin(), text.end(), ',', '.');
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    const auto [p, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        return NumberStatus::NotFinite;
    if (ec != std::errc() || p != last)
        return NumberStatus::NotANumber;
    return std::isfinite(value) ? NumberStatus::Ok : NumberStatus::NotFinite;
}

TableReadResult refuse(int line, std::string reason)
{
    TableReadResult r;
    r.line = line;
    r.reason = std::move(reason);
    return r;
}

double logOf(double v)
{
    return std::log(v);
}

double wrapDegrees(double p)
{
    double w = std::fmod(p + 180.0, 360.0);
    if (w < 0.0)
        w += 360.0;
    return w - 180.0;
}

// ---------------------------------------------------------------- writing helpers

std::string csvNumber(double v, const char* format)
{
    return core::formatC(format, v);
}

bool hasValue(float v)
{
    return v != core::NO_VALUE && std::isfinite(v);
}

struct Grid {
    bool ok = false;
    int n = 0;
    int rate = 1;
    double df = 0.0;
    int bins = 0; // bins 0 .. bins-1 carry values (N/2, at most the stored 2048)
};

Grid gridOf(const core::CurveBuffer& c)
{
    Grid g;
    if (!core::isValidTrailer(c.trailerN(), c.trailerRate()))
        return g;
    g.n = core::safeTrailerN(c.trailerN());
    g.rate = core::safeTrailerRate(c.trailerRate());
    g.df = static_cast<double>(core::sampleRateHz(g.rate)) / g.n;
    g.bins = std::min(g.n / 2, core::kCurveBins);
    g.ok = true;
    return g;
}

// The header lines every FRD/ZMA file of the program starts with.
std::string exchangeHeader(const char* what, const Grid& g, const char* columns)
{
    std::string h;
    h += core::formatC("* OrvoPro 2.3: %s\r\n", what);
    h += core::formatC("* Abtastrate %d Hz, N = %d, Frequenzabstand %.5f Hz\r\n",
                       core::sampleRateHz(g.rate), g.n, g.df);
    h += core::formatC("* Spalten: %s\r\n", columns);
    h += "* Phase in Grad, Zeitfunktion e^(+j*2*pi*f*t): eine Laufzeit ergibt eine mit der\r\n"
         "* Frequenz fallende Phase, eine induktive Impedanz eine positive Phase\r\n";
    return h;
}

// Rows of a value curve and its phase: bins without a value in either are left out.
ExchangeText curveRows(const core::CurveBuffer& value, const core::CurveBuffer& phase,
                       const char* what, const char* columns, bool dbspl)
{
    ExchangeText t;
    const Grid g = gridOf(value);
    if (!g.ok) {
        t.message = "Die Kurve hat keine gültige FFT-Länge oder Abtastrate.";
        return t;
    }
    // A curve without any phase (one read from a two-column file) is written with two
    // columns; otherwise a bin needs both values.
    bool anyPhase = false;
    for (int k = 1; k < g.bins && !anyPhase; ++k)
        anyPhase = hasValue(value[k]) && hasValue(phase[k]);
    std::string rows;
    int count = 0;
    // Bin 0 (0 Hz) has no place on a logarithmic frequency axis and is never written.
    for (int k = 1; k < g.bins; ++k) {
        const float v = value[k];
        const float p = phase[k];
        if (!hasValue(v) || (anyPhase && !hasValue(p)))
            continue;
        const double shown = dbspl ? static_cast<double>(dsp::toDbspl(v)) : static_cast<double>(v);
        rows += anyPhase
                    ? core::formatC("%.4f %.4f %.3f\r\n", k * g.df, shown, static_cast<double>(p))
                    : core::formatC("%.4f %.4f\r\n", k * g.df, shown);
        ++count;
    }
    if (count == 0) {
        t.message = "Die Kurve enthält keine Werte.";
        return t;
    }
    std::string cols = columns;
    if (!anyPhase)
        cols = cols.substr(0, cols.rfind(',')) + " (keine Phase)";
    t.text = exchangeHeader(what, g, cols.c_str()) + rows;
    t.ok = true;
    return t;
}

} // namespace

// ---------------------------------------------------------------- reading

TableReadResult parseFrequencyTable(std::string_view bytes)
{
    TableReadResult r;
    FrequencyTable& t = r.table;
    std::optional<Separator> sep;
    bool phaseColumn = false;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Lines end in LF, CR LF or a lone CR.
        std::size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        std::string_view line = bytes.substr(pos, end - pos);
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
            bytes[end + 1] == '\n')
            ++end;
        pos = end + 1;
        ++lineNo;

        line = trim(line);
        // A UTF-8 byte-order mark in front of the first line.
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line = trim(line.substr(3));
        if (line.empty() || line.front() == '*' || line.front() == '#' || line.front() == ';')
            continue;
        if (!sep) {
            // Text before the first numeric row is a header ("Freq  SPL  Phase").
            if (!startsLikeNumber(line))
                continue;
            sep = detectSeparator(line);
        }
        std::vector<std::string_view> fields;
        switch (*sep) {
        case Separator::Blank:
            fields = splitBlanks(line);
            break;
        case Separator::Semicolon:
            fields = splitOn(line, ';');
            break;
        case Separator::Comma:
            fields = splitOn(line, ',');
            break;
        }
        const bool decimalComma = *sep != Separator::Comma;
        if (fields.size() < 2)
            return refuse(lineNo, "Die Zeile enthält keine zwei Zahlen (Frequenz und Wert).");
        const std::size_t used = std::min<std::size_t>(fields.size(), 3);
        double v[3] = {};
        for (std::size_t i = 0; i < used; ++i) {
            switch (parseNumber(fields[i], decimalComma, v[i])) {
            case NumberStatus::Ok:
                break;
            case NumberStatus::NotANumber:
                return refuse(lineNo,
                              "\"" + std::string(fields[i].substr(0, 40)) + "\" ist keine Zahl.");
            case NumberStatus::NotFinite:
                return refuse(lineNo, "Die Zeile enthält einen nicht endlichen Wert.");
            }
        }
        // What no curve holds: the values go into single-precision curves, and the phase is
        // unwrapped in steps of 360 degrees.
        if (std::fabs(v[0]) > kMaxFrequencyHz || std::fabs(v[1]) > kMaxValue ||
            (used >= 3 && std::fabs(v[2]) > kMaxPhaseDeg))
            return refuse(lineNo, "Die Zeile enthält einen Wert außerhalb jedes Messbereichs.");
        if (t.frequencyHz.empty())
            phaseColumn = used >= 3;
        else if (phaseColumn && used < 3)
            return refuse(lineNo, "Der Zeile fehlt die Phase.");
        if (v[0] < 0.0)
            return refuse(lineNo, "Die Frequenz ist negativ.");
        if (!t.frequencyHz.empty() && !(v[0] > t.frequencyHz.back()))
            return refuse(lineNo, "Die Frequenzen steigen nicht an.");
        t.frequencyHz.push_back(v[0]);
        t.value.push_back(v[1]);
        if (phaseColumn)
            t.phaseDeg.push_back(v[2]);
    }
    if (t.frequencyHz.empty())
        return refuse(0, "Die Datei enthält keine Zahlenzeilen.");
    r.ok = true;
    return r;
}

GridCurves resampleToGrid(const FrequencyTable& table, ExchangeFormat format, int n, int rateCode)
{
    GridCurves g;
    g.hasPhase = table.hasPhase();
    n = core::safeTrailerN(static_cast<float>(n));
    rateCode = core::safeTrailerRate(static_cast<float>(rateCode));
    std::fill(g.value.v.begin(), g.value.v.begin() + core::kCurveBins, core::NO_VALUE);
    std::fill(g.phase.v.begin(), g.phase.v.begin() + core::kCurveBins, core::NO_VALUE);
    g.value.stamp(n, rateCode);
    g.phase.stamp(n, rateCode);

    // Only rows above 0 Hz take part: the interpolation runs over log frequency.
    std::vector<double> lf, val, ph;
    const std::size_t rows = table.frequencyHz.size();
    double unwrapped = 0.0;
    for (std::size_t i = 0; i < rows; ++i) {
        if (g.hasPhase) {
            // Unwrapped over all rows, so a wrap between two rows never interpolates across
            // 360 degrees.
            unwrapped = i == 0 ? table.phaseDeg[0]
                               : unwrapped + wrapDegrees(table.phaseDeg[i] - table.phaseDeg[i - 1]);
        }
        if (!(table.frequencyHz[i] > 0.0))
            continue;
        lf.push_back(logOf(table.frequencyHz[i]));
        val.push_back(table.value[i]);
        ph.push_back(unwrapped);
    }
    if (lf.empty())
        return g;

    const double df = static_cast<double>(core::sampleRateHz(rateCode)) / n;
    const int bins = std::min(n / 2, core::kCurveBins);
    // A bin that lies on the first or last row counts as inside, whatever the rounding of the
    // printed frequency.
    const double tolerance = 1e-7;
    for (int k = 1; k < bins; ++k) {
        const double x = logOf(k * df);
        if (x < lf.front() - tolerance || x > lf.back() + tolerance)
            continue;
        std::size_t j =
            static_cast<std::size_t>(std::upper_bound(lf.begin(), lf.end(), x) - lf.begin());
        // lf[j-1] <= x < lf[j]; clamp at both ends for the bins within the tolerance.
        if (j == 0)
            j = 1;
        if (j >= lf.size())
            j = lf.size() - 1;
        double value;
        double phase;
        if (lf.size() == 1) {
            value = val[0];
            phase = ph[0];
        } else {
            const std::size_t a = j - 1;
            const double span = lf[j] - lf[a];
            const double t = std::clamp((x - lf[a]) / span, 0.0, 1.0);
            phase = ph[a] + t * (ph[j] - ph[a]);
            if (format == ExchangeFormat::Zma && val[a] > 0.0 && val[j] > 0.0)
                value = std::exp(std::log(val[a]) + t * (std::log(val[j]) - std::log(val[a])));
            else
                value = val[a] + t * (val[j] - val[a]);
        }
        g.value[k] = static_cast<float>(value);
        if (g.hasPhase)
            g.phase[k] = static_cast<float>(wrapDegrees(phase));
        ++g.valuedBins;
    }
    return g;
}

ExchangeImport readExchangeFile(const std::string& path, ExchangeFormat format, int n, int rateCode)
{
    ExchangeImport r;
    const char* kind = format == ExchangeFormat::Frd ? "FRD" : "ZMA";
    const std::string head =
        std::string("Die ") + kind + "-Datei \"" + path + "\" wird nicht übernommen:\n";
    long long length = 0;
    if (!fileLength(path, length)) {
        r.message = head + "Die Datei kann nicht geöffnet werden.";
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
    if (r.curves.valuedBins == 0) {
        const int safeN = core::safeTrailerN(static_cast<float>(n));
        const int safeRate = core::safeTrailerRate(static_cast<float>(rateCode));
        const double df = static_cast<double>(core::sampleRateHz(safeRate)) / safeN;
        r.message = head + core::formatC("Kein Wert der Datei (%.4g bis %.4g Hz) liegt im "
                                         "Frequenzbereich der Messung (%.4g bis %.4g Hz).",
                                         t.table.frequencyHz.front(), t.table.frequencyHz.back(),
                                         df, df * (std::min(safeN / 2, core::kCurveBins) - 1));
        return r;
    }
    r.ok = true;
    return r;
}

ExchangeImport importExchangeFile(const std::string& path, ExchangeFormat format, int n,
                                  int rateCode)
{
    ExchangeImport r = readExchangeFile(path, format, n, rateCode);
    if (!r.ok)
        core::messageText(r.message, format == ExchangeFormat::Frd ? "FRD-Import" : "ZMA-Import",
                          core::Icon::Error);
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

// ---------------------------------------------------------------- writing

ExchangeText buildFrd(int slot, bool dbspl)
{
    const core::MeasurementStore& st = core::store();
    if (slot < 0 || slot > 4) {
        ExchangeText t;
        t.message = "Es gibt nur die Kurvenplätze 0 bis 4.";
        return t;
    }
    if (st.slotOccupied[slot] != 1) {
        ExchangeText t;
        t.message = slot == 0 ? "Es ist keine Amplitudenmessung vorhanden."
                              : core::formatC("Der Kurvenplatz %d ist nicht belegt.", slot);
        return t;
    }
    const std::string what = core::formatC("Amplitudenfrequenzgang (FRD), Kurvenplatz %d%s", slot,
                                           slot == 0 ? " (aktuell)" : "");
    return curveRows(st.amplitudeSlots[slot], st.phaseSlots[slot], what.c_str(),
                     dbspl ? "Frequenz [Hz], Amplitude [dBSPL], Phase [Grad]"
                           : "Frequenz [Hz], Amplitude [dB], Phase [Grad]",
                     dbspl);
}

ExchangeText buildZma()
{
    const core::MeasurementStore& st = core::store();
    // After start-up the impedance curve is all zeros: that is no measurement.
    bool any = false;
    for (int k = 1; k < core::kCurveBins && !any; ++k)
        any = hasValue(st.impedanceMagnitude[k]) && st.impedanceMagnitude[k] != 0.0f;
    if (!any) {
        ExchangeText t;
        t.message = "Es ist keine Impedanzmessung vorhanden.";
        return t;
    }
    return curveRows(st.impedanceMagnitude, st.impedancePhase, "Impedanzfrequenzgang (ZMA)",
                     "Frequenz [Hz], Impedanz [Ohm], Phase [Grad]", false);
}

namespace
{

// Columns of frequency curves keyed by frequency, so curves of different grids share rows.
struct CsvTable {
    std::vector<std::string> names;
    std::map<double, std::vector<std::optional<double>>> rows;

    void addCurve(const std::string& name, const core::CurveBuffer& c, bool dbspl,
                  const core::CurveBuffer* gridFrom = nullptr)
    {
        const std::size_t col = names.size();
        names.push_back(name);
        for (auto& [x, cells] : rows)
            cells.resize(names.size());
        const Grid g = gridOf(gridFrom ? *gridFrom : c);
        if (!g.ok)
            return;
        for (int k = 1; k < g.bins; ++k) {
            if (!hasValue(c[k]))
                continue;
            auto& cells = rows[k * g.df];
            cells.resize(names.size());
            cells[col] =
                dbspl ? static_cast<double>(dsp::toDbspl(c[k])) : static_cast<double>(c[k]);
        }
    }
    void addPoint(double x, std::size_t col, double v)
    {
        auto& cells = rows[x];
        cells.resize(names.size());
        cells[col] = v;
    }
};

std::string quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

ExchangeText csvText(const std::string& xName, const CsvTable& t)
{
    ExchangeText out;
    if (t.rows.empty()) {
        out.message = "Die Ansicht enthält keine Werte.";
        return out;
    }
    std::string text = quoted(xName);
    for (const std::string& n : t.names)
        text += "," + quoted(n);
    text += "\r\n";
    for (const auto& [x, cells] : t.rows) {
        text += csvNumber(x, "%.6g");
        for (std::size_t i = 0; i < t.names.size(); ++i) {
            text += ",";
            if (i < cells.size() && cells[i])
                text += csvNumber(*cells[i], "%.6g");
        }
        text += "\r\n";
    }
    out.ok = true;
    out.text = std::move(text);
    return out;
}

} // namespace

ExchangeText buildViewCsv(int view, bool dbspl)
{
    const core::MeasurementStore& st = core::store();
    CsvTable t;
    const char* ampName = dbspl ? "Amplitude [dBSPL]" : "Amplitude [dB]";
    switch (view) {
    case 1: {
        // Time signal and step response over the record's own rate and length.
        const core::TimeRecord& rec = st.timeRecord;
        if (!core::isValidTrailer(rec.trailerN(), rec.trailerRate()))
            break;
        const int n = core::safeTrailerN(rec.trailerN());
        const double dtMs = 1000.0 / core::sampleRateHz(core::safeTrailerRate(rec.trailerRate()));
        t.names = {"Zeitsignal [V]", "Sprungantwort"};
        for (int i = 0; i < n; ++i) {
            t.addPoint(i * dtMs, 0, rec[i]);
            if (hasValue(st.stepResponseCurve[i]))
                t.addPoint(i * dtMs, 1, st.stepResponseCurve[i]);
        }
        return csvText("Zeit [ms]", t);
    }
    case 2:
        t.addCurve(ampName, st.amplitudeSlots[0], dbspl);
        t.addCurve("Phase [Grad]", st.phaseSlots[0], false);
        break;
    case 3:
    case 11:
        t.addCurve(ampName, st.amplitudeSlots[0], dbspl);
        t.addCurve("Phase [Grad]", st.phaseSlots[0], false);
        t.addCurve("Impedanz [Ohm]", st.impedanceMagnitude, false);
        t.addCurve("Impedanzphase [Grad]", st.impedancePhase, false);
        break;
    case 4:
        t.addCurve("Impedanz [Ohm]", st.impedanceMagnitude, false);
        t.addCurve("Impedanzphase [Grad]", st.impedancePhase, false);
        break;
    case 5: {
        t.names = {"Pegel aktuell [dB]", "Mittelwert/Spitze [dB]"};
        for (int b = 0; b < core::kLevelBands; ++b) {
            const double f = st.levelBandFrequencyView[b];
            if (!std::isfinite(f) || f <= 0.0)
                continue;
            if (hasValue(st.levelCurrent[b]))
                t.addPoint(f, 0, st.levelCurrent[b]);
            if (hasValue(st.levelMeanPeak[b]))
                t.addPoint(f, 1, st.levelMeanPeak[b]);
        }
        return csvText("Frequenz [Hz]", t);
    }
    case 6: {
        // The waterfall's point list as it is stored: one row per point.
        ExchangeText out;
        std::string text = "\"Zeit [ms]\",\"Frequenz [Hz]\",\"Pegel [dB]\"\r\n";
        int count = 0;
        for (int i = 0; i < core::kCsdPoints; ++i) {
            const float tm = st.csdTime[i];
            const float f = st.csdFrequency[i];
            const float l = st.csdLevel[i];
            if (!hasValue(tm) || !hasValue(f) || !hasValue(l))
                continue;
            text += csvNumber(tm * 1000.0, "%.6g") + "," + csvNumber(f, "%.6g") + "," +
                    csvNumber(l, "%.6g") + "\r\n";
            ++count;
        }
        if (count == 0) {
            out.message = "Die Ansicht enthält keine Werte.";
            return out;
        }
        out.ok = true;
        out.text = std::move(text);
        return out;
    }
    case 7:
        for (int k = 0; k < 5; ++k)
            if (st.slotOccupied[k] == 1)
                t.addCurve(core::formatC("Kurve %d %s", k, ampName), st.amplitudeSlots[k], dbspl);
        break;
    case 8: {
        // The sum as the view draws it, on the grid of slot 0.
        const Grid g = gridOf(st.amplitudeSlots[0]);
        if (!g.ok)
            break;
        core::CurveBuffer amp;
        core::CurveBuffer phase;
        amp.v.fill(core::NO_VALUE);
        phase.v.fill(core::NO_VALUE);
        amp.stamp(g.n, g.rate);
        phase.stamp(g.n, g.rate);
        bool any = false;
        for (int k = 0; k < 5; ++k)
            any = any || st.slotOccupied[k] == 1;
        if (any)
            for (int k = 1; k < g.bins; ++k) {
                const dsp::OverlaySum s = dsp::overlaySum(k);
                amp[k] = s.amplitudeDb;
                phase[k] = s.phaseDeg;
            }
        t.addCurve(std::string("Summe ") + ampName, amp, dbspl);
        t.addCurve("Summe Phase [Grad]", phase, false);
        break;
    }
    default: {
        ExchangeText out;
        out.message = "Diese Ansicht enthält keine Kurven.";
        return out;
    }
    }
    return csvText("Frequenz [Hz]", t);
}

WriteStatus writeExchangeText(const ExchangeText& t, const std::string& path, const char* caption)
{
    if (!t.ok) {
        core::messageText(t.message, caption, core::Icon::Error);
        return WriteStatus::WriteFailed;
    }
    const WriteStatus s = writeFileReplacing(
        path, reinterpret_cast<const unsigned char*>(t.text.data()), t.text.size());
    if (s == WriteStatus::WriteFailed)
        core::message(27, 0, core::Icon::Error);
    return s;
}

} // namespace files
