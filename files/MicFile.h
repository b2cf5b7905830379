// Microphone correction file (.mic): a text table of frequency, amplitude and phase
// correction, spread onto the three per-rate correction tables by a zero-order hold.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace files {

inline constexpr std::size_t kMicFileMaxBytes = 65536;
inline constexpr std::size_t kMicMaxRows = 4096;
inline constexpr int kMicBinLimit = 1800; // bins 1..1799 are written

struct MicRow {
    float frequencyHz = 0.0f;
    float amplitudeDb = 0.0f;
    float phaseDeg = 0.0f;
    int fieldsPresent = 0; // of the three fields, those that hold any text
    int numbersRead = 0;   // of the three fields, those that start with a number
};

// A correction beyond this is no microphone's; such values come from a file that isn't one.
inline constexpr float kMicMaxCorrectionDb = 200.0f;

// Parses the data read from a microphone file (at most 4096 rows). Never reads past `size`.
std::vector<MicRow> parseMicData(const char* data, std::size_t size);

// The text of the summary box: first and last row and the row count.
std::string micSummaryText(const std::vector<MicRow>& rows);

// The zero-order hold onto the 3.2, 6.4 and 51.2 kHz tables; nothing for fewer than two rows.
void applyMicRows(const std::vector<MicRow>& rows);

// Why the rows of a file can't be used. Rows are counted from 1, blank lines not counted.
enum class MicRowsProblem { None, NoRows, NotNumbers, ValueOutOfRange };
struct MicRowsCheck {
    MicRowsProblem problem = MicRowsProblem::None;
    int row = 0; // the first offending row
};
// Drops blank lines from `rows`, then checks every row: frequency and amplitude (and the phase
// when the row has a third field) are numbers, finite, the frequency not negative, the
// amplitude within +-200 dB.
MicRowsCheck checkMicRows(std::vector<MicRow>& rows);
// The message that says why a file was refused (empty for MicRowsProblem::None).
std::string micRefusalText(const MicRowsCheck& check);

enum class MicStatus { Read, CannotOpen, ReadError, Refused };

// Reads, parses and applies a microphone file without a dialog. Messages 31 and 28 on
// failure; a file whose rows can't be used is refused with the reason (error icon, tables
// unchanged); the summary box (caption " ", information icon) when `showSummary`; the summary
// text is also handed back in `summary` when given. Of a file longer than kMicFileMaxBytes
// the rows up to the last whole one before the limit are used, and the summary says so.
MicStatus readMicFile(const std::string& path, bool showSummary, std::string* summary = nullptr);

// The menu command: 1 after a file was read, 0 after a cancel or failure.
int importMicFile();

} // namespace files
