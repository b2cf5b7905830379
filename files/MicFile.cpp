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

// One number from `p` up to the end of its field, converted in the "C" conventions.
float takeField(const char* data, std::size_t size, std::size_t& p)
{
    while (p < size && isBlank(data[p]))
        ++p;
    const std::size_t begin = p;
    while (p < size && !endsField(data[p]))
        ++p;
    const std::string field(data + begin, p - begin);
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
        row.frequencyHz = takeField(data, size, p);
        row.amplitudeDb = takeField(data, size, p);
        row.phaseDeg = takeField(data, size, p);
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
    const std::vector<MicRow> rows =
        parseMicData(reinterpret_cast<const char*>(data.data()), data.size());
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
