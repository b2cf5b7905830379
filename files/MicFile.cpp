#include "files/MicFile.h"

#include "files/FileDialogs.h"
#include "files/FileIo.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace files {

namespace {

// Tabs separate numbers as blanks do: calibration files from other sources often use them.
bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool endsField(char c) { return isBlank(c) || c == '\r' || c == '\n'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether a field starts with a number the conversion reads: a sign, then a digit or a point
// and a digit.
bool startsWithNumber(const std::string& field)
{
    std::size_t i = 0;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        ++i;
    if (i < field.size() && field[i] == '.')
        ++i;
    return i < field.size() && isDigit(field[i]);
}

// One number from `p` up to the end of its field, converted in the "C" conventions. The row
// counts the fields that hold anything and those that start with a number.
float takeField(const char* data, std::size_t size, std::size_t& p, MicRow& row)
{
    while (p < size && isBlank(data[p]))
        ++p;
    const std::size_t begin = p;
    while (p < size && !endsField(data[p]))
        ++p;
    const std::string field(data + begin, p - begin);
    if (!field.empty())
        ++row.fieldsPresent;
    if (startsWithNumber(field))
        ++row.numbersRead;
    return static_cast<float>(core::parseLeadingNumber(field.c_str()));
}

int binOf(float frequencyHz, double step)
{
    const double b = std::trunc(static_cast<double>(frequencyHz) / step);
    if (std::isnan(b) || b >= 1e9)
        return 1000000000;
    if (b <= -1.0)
        return -1;
    return static_cast<int>(b);
}

void fill(std::array<float, core::kMicTableSize>& amp, std::array<float, core::kMicTableSize>& pha,
          int from, int to, const MicRow& row)
{
    // Bin 0 is never written, nor anything from 1800 on.
    from = std::max(from, 1);
    to = std::min(to, kMicBinLimit - 1);
    for (int k = from; k <= to; ++k) {
        amp[static_cast<std::size_t>(k)] = row.amplitudeDb;
        pha[static_cast<std::size_t>(k)] = row.phaseDeg;
    }
}

// Only the first kMicFileMaxBytes bytes of a file are used. A row the limit cuts in two
// would be read with its missing fields as 0 and then held up to the end of the tables, so
// it is dropped. Returns whether the file was longer than the limit.
bool cutAtReadLimit(Bytes& data)
{
    if (data.size() <= kMicFileMaxBytes)
        return false;
    const bool rowEndsAtLimit = data[kMicFileMaxBytes] == '\n' || data[kMicFileMaxBytes] == '\r';
    data.resize(kMicFileMaxBytes);
    if (!rowEndsAtLimit) {
        std::size_t keep = data.size();
        while (keep > 0 && data[keep - 1] != '\n')
            --keep;
        data.resize(keep);
    }
    return true;
}

} // namespace

std::vector<MicRow> parseMicData(const char* data, std::size_t size)
{
    std::vector<MicRow> rows;
    if (data == nullptr || size == 0)
        return rows;
    // `pos` stands on the line end before the next row. Without a header it is byte 0, so
    // the first row starts at byte 1; with one, it is the line end of the line that holds
    // the last double quote.
    std::size_t pos = 0;
    for (std::size_t i = size; i-- > 0;) {
        if (data[i] == '"') {
            pos = i;
            while (pos < size && data[pos] != '\n')
                ++pos;
            break;
        }
    }
    while (pos + 1 < size && rows.size() < kMicMaxRows) {
        std::size_t p = pos + 1;
        MicRow row;
        row.frequencyHz = takeField(data, size, p, row);
        row.amplitudeDb = takeField(data, size, p, row);
        row.phaseDeg = takeField(data, size, p, row);
        while (p < size && data[p] != '\n')
            ++p;
        pos = p;
        rows.push_back(row);
    }
    return rows;
}

std::string micSummaryText(const std::vector<MicRow>& rows)
{
    const MicRow first = rows.empty() ? MicRow{} : rows.front();
    const MicRow last = rows.empty() ? MicRow{} : rows.back();
    return core::formatC("%s\nFreq=%7.1f  Amp=%4.2f  Phase=%4.2f \nFreq=%7.1f  Amp=%4.2f  "
                         "Phase=%4.2f \n%s=%d",
                         core::str(30), first.frequencyHz, first.amplitudeDb, first.phaseDeg,
                         last.frequencyHz, last.amplitudeDb, last.phaseDeg, core::str(45),
                         static_cast<int>(rows.size()));
}

void applyMicRows(const std::vector<MicRow>& rows)
{
    const std::size_t n = rows.size();
    if (n < 2)
        return;
    struct Grid {
        int rateCode;
        double step;
    };
    // The program fills the grids in this order: 3.2, 6.4, 51.2 kHz.
    constexpr Grid grids[3] = {{3, 0.78125}, {1, 1.5625}, {2, 12.5}};
    core::MeasurementStore& st = core::store();
    for (const Grid& g : grids) {
        const int t = core::rateTableIndex(g.rateCode);
        auto& amp = st.micCorrectionAmplitude[static_cast<std::size_t>(t)];
        auto& pha = st.micCorrectionPhase[static_cast<std::size_t>(t)];
        const int first = binOf(rows[0].frequencyHz, g.step);
        if (first < kMicBinLimit)
            fill(amp, pha, 1, first, rows[0]);
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const int upper = binOf(rows[i + 1].frequencyHz, g.step);
            if (upper < kMicBinLimit)
                fill(amp, pha, binOf(rows[i].frequencyHz, g.step), upper - 1, rows[i]);
        }
        const int last = binOf(rows[n - 1].frequencyHz, g.step);
        if (last < kMicBinLimit)
            fill(amp, pha, last, kMicBinLimit - 1, rows[n - 1]);
    }
}

MicRowsCheck checkMicRows(std::vector<MicRow>& rows)
{
    // Lines with nothing on them (an empty line at the end, blanks where a file was cut) are
    // not rows: a row of zeros would overwrite the table from bin 1 on.
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const MicRow& r) { return r.fieldsPresent == 0; }),
               rows.end());
    MicRowsCheck c;
    if (rows.empty()) {
        c.problem = MicRowsProblem::NoRows;
        return c;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MicRow& r = rows[i];
        c.row = static_cast<int>(i) + 1;
        // Files with only frequency and amplitude are common; their phase is 0 as it always
        // was. Text where a number belongs is not.
        if (r.numbersRead < 2 || r.numbersRead != r.fieldsPresent) {
            c.problem = MicRowsProblem::NotNumbers;
            return c;
        }
        const bool finite = std::isfinite(r.frequencyHz) && std::isfinite(r.amplitudeDb) &&
                            std::isfinite(r.phaseDeg);
        if (!finite || r.frequencyHz < 0.0f || std::fabs(r.amplitudeDb) > kMicMaxCorrectionDb) {
            c.problem = MicRowsProblem::ValueOutOfRange;
            return c;
        }
    }
    c.row = 0;
    return c;
}

std::string micRefusalText(const MicRowsCheck& check)
{
    std::string why;
    switch (check.problem) {
    case MicRowsProblem::None:
        return {};
    case MicRowsProblem::NoRows:
        why = core::str(141);
        break;
    case MicRowsProblem::NotNumbers:
        why = core::formatC("%s %d: %s", core::str(142), check.row, core::str(143));
        break;
    case MicRowsProblem::ValueOutOfRange:
        why = core::formatC("%s %d: %s", core::str(142), check.row, core::str(144));
        break;
    }
    return why + "\n" + core::str(145);
}

MicStatus readMicFile(const std::string& path, bool showSummary, std::string* summary)
{
    Bytes data;
    // One byte more than is used tells whether the file goes on past the limit.
    const ReadStatus r = readFileStart(path, kMicFileMaxBytes + 1, data);
    if (r == ReadStatus::CannotOpen) {
        core::message(31, 0, core::Icon::Error);
        return MicStatus::CannotOpen;
    }
    if (r != ReadStatus::Ok) {
        core::message(28, 0, core::Icon::Error);
        return MicStatus::ReadError;
    }
    const bool cut = cutAtReadLimit(data);
    std::vector<MicRow> rows =
        parseMicData(reinterpret_cast<const char*>(data.data()), data.size());
    // A file without usable rows or with impossible values is refused whole; the tables keep
    // the correction they had.
    const MicRowsCheck check = checkMicRows(rows);
    if (check.problem != MicRowsProblem::None) {
        core::messageText(micRefusalText(check), core::str(146), core::Icon::Error);
        return MicStatus::Refused;
    }
    std::string text = micSummaryText(rows);
    if (cut)
        text += core::formatC("\nDatei nach %d Bytes abgeschnitten, die angeschnittene Zeile "
                              "wurde verworfen",
                              static_cast<int>(kMicFileMaxBytes));
    if (summary != nullptr)
        *summary = text;
    if (showSummary)
        core::messageText(text, " ", core::Icon::Information);
    applyMicRows(rows);
    return MicStatus::Read;
}

int importMicFile()
{
    std::string path;
    if (!openDialog(50, "mic", path))
        return 0;
    return readMicFile(path, true) == MicStatus::Read ? 1 : 0;
}

} // namespace files
