// The reading of FRD/ZMA/CSV text into a frequency table: header, rows, merged repeats.
#include "files/Exchange.h"
#include "files/ExchangeInternal.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace files
{

using namespace detail;

namespace
{

// Bounds far beyond any measured curve (dB, ohm, degrees, Hz).
constexpr double kMaxValue = 1e9;
constexpr double kMaxPhaseDeg = 1e6;
constexpr double kMaxFrequencyHz = 1e9;

TableReadResult refuse(int line, std::string reason)
{
    TableReadResult r;
    r.line = line;
    r.reason = std::move(reason);
    return r;
}

} // namespace

TableReadResult parseFrequencyTable(std::string_view bytes)
{
    TableReadResult r;
    FrequencyTable& t = r.table;
    std::optional<Separator> sep;
    bool phaseColumn = false;
    ThirdColumn third = ThirdColumn::Unnamed;
    // Rows merged into the last one so far, and the phase of the first of them.
    int groupRows = 1;
    double mergedFirstPhase = 0.0;
    double mergedPhaseOffsets = 0.0;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::string_view line = trim(nextLine(bytes, pos));
        ++lineNo;
        // A UTF-8 byte-order mark in front of the first line.
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line = trim(line.substr(3));
        if (line.empty())
            continue;
        const bool comment = line.front() == '*' || line.front() == '#' || line.front() == ';';
        if (!sep && (comment || !startsLikeNumber(line))) {
            // Text before the first numeric row is a header ("Freq  SPL  Phase"); the first
            // line that names the third column decides what it holds.
            if (third == ThirdColumn::Unnamed)
                third = thirdColumnNamedIn(line);
            continue;
        }
        if (comment)
            continue;
        if (!sep)
            sep = detectSeparator(line);
        const std::vector<std::string_view> fields = splitRow(line, *sep);
        const bool decimalComma = *sep != Separator::Comma;
        if (fields.size() < 2)
            return refuse(lineNo, "Die Zeile enthält keine zwei Zahlen (Frequenz und Wert).");
        // A group delay is not taken: it is left out like any column after the third.
        const std::size_t used =
            std::min<std::size_t>(fields.size(), third == ThirdColumn::GroupDelay ? 2 : 3);
        if (third == ThirdColumn::GroupDelay && fields.size() >= 3)
            r.groupDelayLeftOut = true;
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
        if (!t.frequencyHz.empty() && v[0] == t.frequencyHz.back()) {
            // The same frequency on consecutive lines: tools that join two sweeps or
            // measurement ranges write the joint twice, and tools that print few digits
            // round two close frequencies to one. Both lines are measurements at that
            // frequency and neither is the better one, so the row takes their mean (the
            // phase the short way round); taking either would leave a step at the joint.
            ++groupRows;
            const double w = 1.0 / groupRows;
            t.value.back() += (v[1] - t.value.back()) * w;
            if (phaseColumn) {
                mergedPhaseOffsets += wrapDegrees(v[2] - mergedFirstPhase);
                t.phaseDeg.back() = mergedFirstPhase + mergedPhaseOffsets * w;
            }
            ++r.mergedRows;
            continue;
        }
        if (!t.frequencyHz.empty() && !(v[0] > t.frequencyHz.back()))
            return refuse(lineNo, "Die Frequenzen steigen nicht an.");
        groupRows = 1;
        mergedFirstPhase = phaseColumn ? v[2] : 0.0;
        mergedPhaseOffsets = 0.0;
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

} // namespace files
